#include "panels/CommandPanel.h"

#include "model/DocumentController.h"
#include "model/ShapeSignature.h"
#include "panels/PanelRules.h"
#include "panels/Repolish.h"
#include "sketch/Plane.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <TopoDS_Shape.hxx>

namespace qor::app {

using qor::model::ParamDef;
using qor::model::ParamKind;

namespace {

constexpr int debounceMs = 120;
constexpr int defaultMask = mask::standard;

QString selectionIcon(ParamKind kind)
{
    switch (kind) {
    case ParamKind::Profile: return QStringLiteral("sketch");
    case ParamKind::Faces: return QStringLiteral("display_shaded");
    case ParamKind::Edges: return QStringLiteral("fillet");
    case ParamKind::Bodies: return QStringLiteral("body");
    case ParamKind::Plane: return QStringLiteral("plane");
    case ParamKind::Axis: return QStringLiteral("axis");
    case ParamKind::Path: return QStringLiteral("sweep");
    case ParamKind::Features: return QStringLiteral("timeline");
    default: return QStringLiteral("point");
    }
}

QString valuePlaceholder(ParamKind kind)
{
    if (kind == ParamKind::Angle)
        return QStringLiteral("Winkel");
    if (kind == ParamKind::Integer)
        return QStringLiteral("Anzahl");
    return QStringLiteral("Wert");
}

// The stored references of the active field as highlight shapes; missing targets add nothing.
std::vector<TopoDS_Shape> referencedShapes(qor::model::Document& doc, const QJsonValue& stored)
{
    const QJsonArray elements = stored.isArray() ? stored.toArray() : QJsonArray{stored};
    const qor::model::ModelState& state = doc.current;
    std::vector<TopoDS_Shape> shapes;
    for (const QJsonValue& element : elements) {
        const QJsonObject ref = element.toObject();
        const QString kind = ref.value(u"kind").toString();
        if (kind == u"face" || kind == u"edge") {
            const auto body = state.bodies.get().find(ref.value(u"body").toInt());
            if (body == state.bodies.get().end())
                continue;
            const TopoDS_Shape found = qor::model::findClosestSubShape(
                body->second.shape,
                qor::model::ShapeSignature::fromJson(ref.value(u"sig").toObject()));
            if (!found.IsNull())
                shapes.push_back(found);
        } else if (kind == u"region") {
            const int sketchId = ref.value(u"sketch").toInt();
            qor::model::Feature* sketch = doc.feature(sketchId);
            const auto solved = state.sketches.get().find(sketchId);
            if (!sketch || solved == state.sketches.get().end())
                continue;
            const QJsonArray pt = ref.value(u"pt").toArray();
            for (const qor::sketch::ProfileRegion& region :
                 doc.sketchRegions(*sketch, solved->second.plane)) {
                if (qor::sketch::faceContainsPoint(region.face, solved->second.plane,
                                                   pt.at(0).toDouble(), pt.at(1).toDouble()))
                    shapes.push_back(region.face);
            }
        }
    }
    return shapes;
}

} // namespace

CommandPanel::CommandPanel(DocumentController* controller, Scene* scene, QWidget* parent)
    : QFrame(parent)
    , controller_(controller)
    , scene_(scene)
{
    const Theme& theme = Theme::instance();
    setObjectName(QStringLiteral("CommandPanel"));
    setAttribute(Qt::WA_StyledBackground);
    setFixedWidth(340);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 10);
    layout->setSpacing(0);

    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("CommandHeader"));
    header->setAttribute(Qt::WA_StyledBackground);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(14, 10, 10, 10);
    icon_ = new QLabel(header);
    heading_ = new QLabel(header);
    heading_->setObjectName(QStringLiteral("PanelHeading"));
    auto* close = new QToolButton(header);
    close->setObjectName(QStringLiteral("TitleButton"));
    close->setIcon(theme.icon(QStringLiteral("cancel")));
    close->setToolTip(QStringLiteral("Abbrechen (Esc)"));
    connect(close, &QToolButton::clicked, this, &CommandPanel::cancel);
    headerLayout->addWidget(icon_, 0);
    headerLayout->addWidget(heading_, 1);
    headerLayout->addWidget(close);
    layout->addWidget(header);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The viewport would otherwise fill with the window colour instead of the panel's.
    scroll->setStyleSheet(
        QStringLiteral("QScrollArea, QScrollArea > QWidget#qt_scrollarea_viewport "
                       "{ background: transparent; }"));
    auto* content = new QWidget(scroll);
    content->setAttribute(Qt::WA_StyledBackground);
    content->setStyleSheet(QStringLiteral("background: transparent;"));
    formScrollLayout_ = new QVBoxLayout(content);
    formScrollLayout_->setContentsMargins(14, 12, 14, 6);
    formScrollLayout_->setSpacing(8);
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);

    hint_ = new QLabel(this);
    hint_->setWordWrap(true);
    hint_->setContentsMargins(14, 4, 14, 4);
    layout->addWidget(hint_);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(14, 6, 14, 0);
    buttons->setSpacing(8);
    buttons->addStretch();
    auto* cancelButton = new QPushButton(QStringLiteral("Abbrechen"), this);
    connect(cancelButton, &QPushButton::clicked, this, &CommandPanel::cancel);
    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setObjectName(QStringLiteral("Primary"));
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &CommandPanel::accept);
    buttons->addWidget(cancelButton);
    buttons->addWidget(okButton_);
    layout->addLayout(buttons);

    debounce_.setSingleShot(true);
    debounce_.setInterval(debounceMs);
    connect(&debounce_, &QTimer::timeout, this, &CommandPanel::updatePreview);
    hide();
}

CommandPanel::~CommandPanel() = default;

qor::model::Feature* CommandPanel::currentFeature() const
{
    return featureId_ != 0 ? controller_->document->feature(featureId_) : nullptr;
}

const qor::model::FeatureDef* CommandPanel::currentDef() const
{
    const qor::model::Feature* f = currentFeature();
    return f ? qor::model::findFeatureDef(f->type) : nullptr;
}

void CommandPanel::open(int featureId, bool isNew)
{
    featureId_ = featureId;
    isNew_ = isNew;
    savedRollback_ = controller_->document->rollback;
    const qor::model::Feature* f = currentFeature();
    if (!f)
        return;
    const qor::model::FeatureDef* def = currentDef();
    const Theme& theme = Theme::instance();
    heading_->setText(f->name);
    icon_->setPixmap(theme.iconPixmap(def ? def->icon : QStringLiteral("info"), 22, theme.accent));
    activeKey_.clear();
    buildForm();
    const ParamDef* first = def ? nextEmptySelection(*def, f->params) : nullptr;
    startSelection(first ? first->key : QString());
    show();
    raise();
    updatePreview();
}

void CommandPanel::setParam(const QString& key, const QJsonValue& value)
{
    qor::model::Feature* f = currentFeature();
    if (!f || f->params.value(key) == value)
        return;
    f->params.insert(key, value);
    scheduleUpdate();
}

void CommandPanel::scheduleUpdate()
{
    debounce_.start();
}

void CommandPanel::buildForm()
{
    const qor::model::Feature* f = currentFeature();
    if (!f)
        return;
    if (formWidget_) {
        // Deferred: the old form may hold the widget whose signal is running.
        formWidget_->hide();
        formScrollLayout_->removeWidget(formWidget_);
        formWidget_->deleteLater();
    }
    formWidget_ = nullptr;
    fieldButtons_.clear();
    const qor::model::FeatureDef* def = currentDef();
    if (!def)
        return;

    formWidget_ = new QWidget;
    auto* form = new QFormLayout(formWidget_);
    form->setContentsMargins(0, 0, 0, 0);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(9);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    const QString labelStyle = QStringLiteral("color: %1;").arg(Theme::instance().textDim.name());
    for (const ParamDef& p : def->params) {
        if (!p.isVisible(f->params) || (f->type == u"import" && p.key == u"file"))
            continue;
        QWidget* field = makeField(p, f->params.value(p.key));
        if (!field)
            continue;
        auto* label = new QLabel(p.label);
        label->setStyleSheet(labelStyle);
        label->setBuddy(field);
        form->addRow(label, field);
    }
    formScrollLayout_->insertWidget(0, formWidget_);
    if (formScrollLayout_->count() == 1)
        formScrollLayout_->addStretch(1);
    updateHint();
}

QWidget* CommandPanel::makeField(const ParamDef& def, const QJsonValue& value)
{
    const QString key = def.key;
    switch (def.kind) {
    case ParamKind::Length:
    case ParamKind::Angle:
    case ParamKind::Number:
    case ParamKind::Integer: return makeValueEdit(def, value);
    case ParamKind::Bool: {
        auto* box = new QCheckBox;
        box->setChecked(value.toBool());
        connect(box, &QCheckBox::toggled, this, [this, key](bool on) {
            setParam(key, on);
            buildForm();
        });
        return box;
    }
    case ParamKind::Choice: {
        auto* combo = new QComboBox;
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(6);
        const QString stored = value.toVariant().toString();
        int current = 0;
        for (const QString& option : def.options) {
            const qsizetype eq = option.indexOf(QLatin1Char('='));
            const QString data = option.left(eq);
            if (data == stored)
                current = combo->count();
            combo->addItem(option.mid(eq + 1), data);
        }
        combo->setCurrentIndex(current);
        connect(combo, &QComboBox::currentIndexChanged, this, [this, key, combo] {
            setParam(key, combo->currentData().toString());
            QTimer::singleShot(0, this, &CommandPanel::buildForm);
        });
        return combo;
    }
    case ParamKind::Text: {
        auto* edit = new QLineEdit(value.toString());
        connect(edit, &QLineEdit::textEdited, this,
                [this, key](const QString& text) { setParam(key, text); });
        return edit;
    }
    default: return isSelectionKind(def.kind) ? makeSelectionRow(def, value) : nullptr;
    }
}

QWidget* CommandPanel::makeValueEdit(const ParamDef& def, const QJsonValue& value)
{
    auto* edit = new QLineEdit(valueFieldText(value));
    edit->setObjectName(QStringLiteral("ValueEdit"));
    edit->setPlaceholderText(valuePlaceholder(def.kind));
    edit->setToolTip(
        QStringLiteral("Zahl, Einheit oder Ausdruck – z. B. „25“, „1 in“, „Breite/2“"));
    const QString key = def.key;
    connect(edit, &QLineEdit::textEdited, this, [this, key, edit](const QString& text) {
        const ValueCheck check = checkValueText(*controller_->document, text);
        edit->setProperty("invalid", !check.ok);
        repolish(edit);
        edit->setToolTip(check.toolTip);
        if (check.ok)
            setParam(key, text);
    });
    return edit;
}

QWidget* CommandPanel::makeSelectionRow(const ParamDef& def, const QJsonValue& value)
{
    const Theme& theme = Theme::instance();
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    const bool filled = isFilled(value);
    auto* button = new QPushButton(
        selectionSummary(*controller_->document, def, value, def.key == activeKey_));
    button->setMinimumWidth(60);
    button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    button->setObjectName(QStringLiteral("SelectButton"));
    button->setCheckable(true);
    button->setChecked(def.key == activeKey_);
    button->setProperty("filled", filled);
    button->setIcon(theme.icon(selectionIcon(def.kind)));
    button->setToolTip(def.kind == ParamKind::Features
                           ? QStringLiteral("Features in der Zeitachse anklicken")
                           : QStringLiteral("Im Modell auswählen"));
    const QString key = def.key;
    connect(button, &QPushButton::clicked, this, [this, key] { onSelectButton(key); });
    layout->addWidget(button, 1);
    fieldButtons_[key] = button;
    if (filled) {
        auto* clear = new QToolButton;
        clear->setObjectName(QStringLiteral("TitleButton"));
        clear->setIcon(theme.icon(QStringLiteral("cancel"), theme.textDim));
        clear->setToolTip(QStringLiteral("Auswahl leeren"));
        connect(clear, &QToolButton::clicked, this, [this, key] {
            if (const qor::model::FeatureDef* d = currentDef())
                if (const ParamDef* p = d->findParam(key))
                    clearField(*p);
        });
        layout->addWidget(clear);
    }
    return row;
}

void CommandPanel::onSelectButton(const QString& key)
{
    startSelection(key == activeKey_ ? QString() : key);
}

void CommandPanel::clearField(const ParamDef& def)
{
    setParam(def.key, isArrayKind(def.kind) ? QJsonValue(QJsonArray()) : QJsonObject());
    startSelection(def.key);
}

void CommandPanel::updateHint()
{
    const qor::model::Feature* f = currentFeature();
    if (!f)
        return;
    const Theme& theme = Theme::instance();
    const QString colour = QStringLiteral("color: %1;");
    const qor::model::FeatureDef* def = currentDef();
    const ParamDef* active = def && !activeKey_.isEmpty() ? def->findParam(activeKey_) : nullptr;
    okButton_->setEnabled(true);
    if (!f->error.isEmpty()) {
        hint_->setText(f->error);
        hint_->setStyleSheet(colour.arg(theme.danger.name()));
        okButton_->setEnabled(!isNew_);
    } else if (!f->warning.isEmpty()) {
        hint_->setText(f->warning);
        hint_->setStyleSheet(colour.arg(theme.warning.name()));
    } else if (!active) {
        hint_->clear();
    } else {
        hint_->setText(
            QStringLiteral("Auswahl: %1 – im Modell anklicken (Strg/Umschalt für mehrere)")
                .arg(active->label));
        hint_->setStyleSheet(colour.arg(theme.accent3.name()));
    }
}

int CommandPanel::restoredRollback() const
{
    const qor::model::Document& doc = *controller_->document;
    return rollbackIncluding(savedRollback_, doc.featureIndex(featureId_),
                             int(doc.features.size()));
}

void CommandPanel::moveRollback(int rollback)
{
    if (controller_->document->rollback == rollback)
        return;
    controller_->document->rollback = rollback;
    controller_->recompute();
}

void CommandPanel::startSelection(const QString& key)
{
    activeKey_ = key;
    const int index = controller_->document->featureIndex(featureId_);
    const qor::model::FeatureDef* def = currentDef();
    const ParamDef* param = def && !key.isEmpty() ? def->findParam(key) : nullptr;
    const int fieldMask = param ? selectionMaskForKind(param->kind) : 0;
    if (fieldMask != 0)
        moveRollback(index);
    else
        moveRollback(restoredRollback());
    if (scene_) {
        busy_ = true;
        scene_->setSelectionMask(fieldMask != 0 ? fieldMask : defaultMask);
        scene_->rebuild();
        highlightReferences();
        busy_ = false;
    }
    const qor::model::Feature* f = currentFeature();
    for (const auto& [fieldKey, button] : fieldButtons_) {
        button->setChecked(fieldKey == activeKey_);
        if (const ParamDef* p = def && f ? def->findParam(fieldKey) : nullptr)
            button->setText(selectionSummary(*controller_->document, *p, f->params.value(fieldKey),
                                             fieldKey == activeKey_));
    }
    updateHint();
}

void CommandPanel::refreshSelectButton(const ParamDef& def)
{
    const qor::model::Feature* f = currentFeature();
    const auto button = fieldButtons_.find(def.key);
    if (!f || button == fieldButtons_.end())
        return;
    const QJsonValue value = f->params.value(def.key);
    button->second->setText(
        selectionSummary(*controller_->document, def, value, def.key == activeKey_));
    button->second->setProperty("filled", isFilled(value));
    repolish(button->second);
}

void CommandPanel::applyPicks()
{
    const qor::model::Feature* f = currentFeature();
    const qor::model::FeatureDef* def = currentDef();
    const ParamDef* active = def && !activeKey_.isEmpty() ? def->findParam(activeKey_) : nullptr;
    // A features field takes timeline clicks only: the viewer's picks stay for their other uses.
    if (busy_ || !scene_ || !f || !active || active->kind == ParamKind::Features)
        return;
    const std::vector<PickInfo> picks = scene_->selectedPicks();
    if (picks.empty())
        return;
    std::vector<QJsonValue> references;
    for (const PickInfo& pick : picks) {
        const QJsonValue reference = pickToReference(active->kind, pick);
        if (!reference.isNull() && !reference.isUndefined())
            references.push_back(reference);
    }
    scene_->clearSelection();
    if (references.empty())
        return;
    if (isArrayKind(active->kind)) {
        setParam(active->key, toggleReferences(f->params.value(active->key), references));
        refreshSelectButton(*active);
        return;
    }
    setParam(active->key, references.back());
    const ParamDef* next = nextEmptySelection(*def, f->params, active);
    const QString nextKey = next ? next->key : QString();
    QTimer::singleShot(0, this, [this, nextKey] {
        if (featureId_ == 0)
            return;
        if (scene_)
            scene_->clearSelection();
        startSelection(nextKey);
        buildForm();
    });
    refreshSelectButton(*active);
}

void CommandPanel::highlightReferences()
{
    const qor::model::Feature* f = currentFeature();
    if (!scene_ || !f || !currentDef() || activeKey_.isEmpty())
        return;
    scene_->showShapes(referencedShapes(*controller_->document, f->params.value(activeKey_)));
}

void CommandPanel::updatePreview()
{
    if (featureId_ == 0)
        return;
    qor::model::Document& doc = *controller_->document;
    const int index = doc.featureIndex(featureId_);
    if (activeKey_.isEmpty() && doc.rollback >= 0 && doc.rollback <= index)
        doc.rollback = restoredRollback();
    controller_->recompute();
    busy_ = true;
    if (scene_) {
        scene_->rebuild();
        highlightReferences();
    }
    if (!activeKey_.isEmpty() && scene_) {
        // Run the feature once more for its tool body, then put the model back where the
        // user picks.
        const int pickRollback = doc.rollback;
        doc.rollback = index + 1;
        doc.recompute();
        const qor::model::ModelState withFeature = doc.current;
        const qor::model::Feature* f = currentFeature();
        const bool failed = !f || !f->error.isEmpty();
        doc.rollback = pickRollback;
        doc.recompute();
        const auto tool = withFeature.tools.get().find(featureId_);
        if (!failed && tool != withFeature.tools.get().end())
            scene_->showPreview(tool->second.shape, tool->second.op);
        scene_->showShapes(std::vector<TopoDS_Shape>{});
    }
    busy_ = false;
    updateHint();
    emit previewUpdated();
}

void CommandPanel::onTimelineFeature(int featureId)
{
    const qor::model::Feature* f = currentFeature();
    const qor::model::FeatureDef* def = currentDef();
    const ParamDef* active = def && !activeKey_.isEmpty() ? def->findParam(activeKey_) : nullptr;
    if (!f || !active || active->kind != ParamKind::Features || featureId == featureId_)
        return;
    QJsonArray list = f->params.value(active->key).toArray();
    qsizetype found = 0;
    while (found < list.size() && list.at(found).toInt() != featureId)
        ++found;
    if (found < list.size())
        list.removeAt(found);
    else
        list.append(featureId);
    setParam(active->key, list);
    refreshSelectButton(*active);
}

void CommandPanel::accept()
{
    if (featureId_ == 0)
        return;
    qor::model::Document& doc = *controller_->document;
    doc.rollback = restoredRollback();
    const qor::model::Feature* f = currentFeature();
    const QString name = f ? f->name : QString();
    finish();
    controller_->commit(name
                        + (isNew_ ? QStringLiteral(" erstellen") : QStringLiteral(" bearbeiten")));
    hide();
    emit finished();
}

void CommandPanel::cancel()
{
    if (featureId_ == 0)
        return;
    finish();
    controller_->revert();
    hide();
    emit finished();
}

void CommandPanel::finish()
{
    featureId_ = 0;
    debounce_.stop();
    if (scene_) {
        scene_->clearPreview();
        scene_->setSelectionMask(defaultMask);
    }
}

void CommandPanel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        cancel();
    else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        accept();
    else
        QWidget::keyPressEvent(event);
}

} // namespace qor::app
