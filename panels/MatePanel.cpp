#include "panels/MatePanel.h"

#include "model/DocumentController.h"
#include "model/ShapeSignature.h"
#include "panels/Repolish.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"

#include <Standard_Failure.hxx>
#include <TopLoc_Location.hxx>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qor::app {

using qor::model::Component;
using qor::model::Mate;

namespace {

constexpr int pickMask = mask::faces | mask::edges | mask::vertices;
const QString firstHint
    = QStringLiteral("Fläche, Kante oder Punkt der ersten Komponente anklicken.");

QString elementWord(int kind)
{
    switch (kind) {
    case 1: return QStringLiteral("Fläche");
    case 2: return QStringLiteral("Kante");
    default: return QStringLiteral("Punkt");
    }
}

QPushButton* makePickButton(const QString& text, bool checked)
{
    auto* button = new QPushButton(text);
    button->setObjectName(QStringLiteral("SelectButton"));
    button->setCheckable(true);
    button->setChecked(checked);
    return button;
}

void showElement(QPushButton* button, const QString& text)
{
    button->setText(text);
    button->setProperty("filled", true);
}

} // namespace

MatePanel::MatePanel(DocumentController* controller, Scene* scene, const QString& type,
                     QWidget* parent)
    : QFrame(parent)
    , controller_(controller)
    , scene_(scene)
{
    setObjectName(QStringLiteral("CommandPanel"));
    setAttribute(Qt::WA_StyledBackground);
    setFixedWidth(340);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);

    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("CommandHeader"));
    header->setAttribute(Qt::WA_StyledBackground);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(14, 10, 10, 10);
    auto* icon = new QLabel;
    const Theme& theme = Theme::instance();
    icon->setPixmap(theme.iconPixmap(QStringLiteral("mate"), 22, theme.accent));
    headerLayout->addWidget(icon);
    auto* heading = new QLabel(QStringLiteral("Beziehung"));
    heading->setObjectName(QStringLiteral("PanelHeading"));
    headerLayout->addWidget(heading, 1);
    layout->addWidget(header);

    auto* formWidget = new QWidget;
    auto* form = new QFormLayout(formWidget);
    form->setContentsMargins(14, 12, 14, 6);
    form->setVerticalSpacing(9);
    // The pick buttons' texts are wider than the field column beside "Abstand / Winkel";
    // such rows put their label above the field instead of clipping the text.
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    typeCombo_ = new QComboBox;
    for (const char* t : {"planar", "flush", "concentric", "angle", "point"}) {
        const QString id = QString::fromLatin1(t);
        typeCombo_->addItem(qor::model::mateTypeLabel(id), id);
    }
    typeCombo_->setCurrentIndex(std::max(0, typeCombo_->findData(type)));
    form->addRow(QStringLiteral("Art"), typeCombo_);
    firstButton_ = makePickButton(QStringLiteral("Element an Komponente 1 wählen …"), true);
    form->addRow(QStringLiteral("Erstes"), firstButton_);
    secondButton_ = makePickButton(QStringLiteral("Element an Komponente 2 wählen …"), false);
    form->addRow(QStringLiteral("Zweites"), secondButton_);
    valueEdit_ = new QLineEdit(QStringLiteral("0"));
    valueEdit_->setObjectName(QStringLiteral("ValueEdit"));
    form->addRow(QStringLiteral("Abstand / Winkel"), valueEdit_);
    flipCheck_ = new QCheckBox(QStringLiteral("Ausrichtung umkehren"));
    form->addRow(QString(), flipCheck_);
    layout->addWidget(formWidget);

    hintLabel_ = new QLabel(firstHint);
    hintLabel_->setWordWrap(true);
    hintLabel_->setContentsMargins(14, 2, 14, 2);
    hintLabel_->setObjectName(QStringLiteral("Hint"));
    layout->addWidget(hintLabel_);
    layout->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(14, 4, 14, 0);
    buttons->addStretch();
    auto* cancelButton = new QPushButton(QStringLiteral("Abbrechen"));
    buttons->addWidget(cancelButton);
    okButton_ = new QPushButton(QStringLiteral("OK"));
    okButton_->setObjectName(QStringLiteral("Primary"));
    okButton_->setEnabled(false);
    buttons->addWidget(okButton_);
    layout->addLayout(buttons);
    // 360 px unless the wrapped rows need more, which would squeeze the fields; the sizes
    // and the frame count only once the style sheet applies.
    ensurePolished();
    const int frame = frameWidth();
    setFixedHeight(std::max(360, layout->heightForWidth(width() - 2 * frame) + 2 * frame));

    connect(cancelButton, &QPushButton::clicked, this, &MatePanel::cancel);
    connect(okButton_, &QPushButton::clicked, this, &MatePanel::accept);
    connect(firstButton_, &QPushButton::clicked, this, [this] { setActiveSlot(0); });
    connect(secondButton_, &QPushButton::clicked, this, [this] { setActiveSlot(1); });
    connect(typeCombo_, &QComboBox::currentIndexChanged, this, &MatePanel::updateMate);
    connect(flipCheck_, &QCheckBox::toggled, this, &MatePanel::updateMate);
    connect(valueEdit_, &QLineEdit::editingFinished, this, &MatePanel::updateMate);
    if (scene_)
        scene_->setSelectionMask(pickMask);
}

void MatePanel::setActiveSlot(int slot)
{
    activeSlot_ = slot;
    firstButton_->setChecked(slot == 0);
    secondButton_->setChecked(slot == 1);
}

bool MatePanel::describeElement(const PickInfo& pick, qor::model::MateRef& ref, QString& text) const
{
    if (pick.kind < 1 || pick.kind > 3 || !qor::model::isComponentBodyId(pick.id))
        return false;
    const int componentId = qor::model::componentOfBody(pick.id);
    const Component* component = controller_->document->component(componentId);
    if (!component)
        return false;
    try {
        // A mirroring placement cannot move a shape: the kernel refuses it.
        const TopLoc_Location back(component->transform().Inverted());
        ref.sig = qor::model::describeShape(pick.shape.Moved(back));
    } catch (const Standard_Failure&) {
        return false;
    }
    ref.comp = componentId;
    text = QStringLiteral("%1 · %2").arg(elementWord(pick.kind), component->name);
    return true;
}

void MatePanel::refuse(const QString& text)
{
    emit toast(text, true);
    if (scene_)
        scene_->clearSelection();
}

void MatePanel::onPick()
{
    if (scene_)
        takePicks(scene_->selectedPicks());
}

void MatePanel::takePicks(const std::vector<PickInfo>& picks)
{
    if (picks.empty())
        return;
    qor::model::MateRef ref;
    QString text;
    if (!describeElement(picks.back(), ref, text)) {
        refuse(QStringLiteral("Bitte ein Element einer Komponente wählen"));
        return;
    }
    if (activeSlot_ == 1) {
        if (hasFirst_ && ref.comp == first_.comp) {
            refuse(QStringLiteral("Das zweite Element muss zu einer anderen Komponente gehören"));
            return;
        }
        second_ = ref;
        hasSecond_ = true;
        showElement(secondButton_, text);
    } else {
        // The same rule as for the second element: a mate joins two components.
        if (hasSecond_ && ref.comp == second_.comp) {
            refuse(QStringLiteral("Das erste Element muss zu einer anderen Komponente gehören"));
            return;
        }
        first_ = ref;
        hasFirst_ = true;
        showElement(firstButton_, text);
        setActiveSlot(1);
    }
    repolish(firstButton_);
    repolish(secondButton_);
    if (scene_)
        scene_->clearSelection();
    updateMate();
}

void MatePanel::setHint(const QString& text, const char* objectName)
{
    hintLabel_->setText(text);
    hintLabel_->setObjectName(QString::fromLatin1(objectName));
    repolish(hintLabel_);
}

void MatePanel::updateMate()
{
    if (!hasFirst_) {
        setHint(firstHint, "Hint");
        return;
    }
    if (!hasSecond_) {
        setHint(QStringLiteral("Jetzt das Gegenstück an einer anderen Komponente anklicken."),
                "Hint");
        return;
    }
    qor::model::Document& doc = *controller_->document;
    const Component* a = doc.component(first_.comp);
    const Component* b = doc.component(second_.comp);
    if (a && b && a->grounded && b->grounded) {
        setHint(QStringLiteral("Beide Komponenten sind fixiert – eine davon lösen "
                               "(Kontextmenü im Browser)."),
                "WarnText");
        // The document holds no mate matching what the panel shows: nothing to accept.
        okButton_->setEnabled(false);
        return;
    }
    const auto findPending = [&doc, this]() -> Mate* {
        for (Mate& mate : doc.mates) {
            if (mate.id == pendingMateId_)
                return &mate;
        }
        return nullptr;
    };
    Mate* mate = findPending();
    if (!mate) {
        Mate added;
        added.id = ++doc.nextId;
        doc.mates.push_back(added);
        pendingMateId_ = added.id;
        mate = &doc.mates.back();
    }
    const QString type = typeCombo_->currentData().toString();
    const QString value = valueEdit_->text().trimmed();
    mate->type = type;
    mate->a = first_;
    mate->b = second_;
    mate->value = value.isEmpty() ? QStringLiteral("0") : value;
    mate->flip = flipCheck_->isChecked();
    mate->name = QStringLiteral("%1: %2 ↔ %3")
                     .arg(qor::model::mateTypeLabel(type), a ? a->name : QStringLiteral("?"),
                          b ? b->name : QStringLiteral("?"));
    controller_->recompute();

    mate = findPending();
    if (mate && !mate->status.isEmpty())
        setHint(mate->status, "ErrorText");
    else
        setHint(QStringLiteral("Beziehung erfüllt."), "Hint");
    okButton_->setEnabled(true);
}

void MatePanel::finish(bool commit)
{
    if (scene_)
        scene_->setSelectionMask(mask::standard);
    if (commit)
        controller_->commit(QStringLiteral("Beziehung hinzufügen"));
    else
        controller_->revert();
    emit finished();
    deleteLater();
}

void MatePanel::accept()
{
    finish(hasFirst_ && hasSecond_ && pendingMateId_ != 0 && okButton_->isEnabled());
}

void MatePanel::cancel()
{
    finish(false);
}

void MatePanel::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape: cancel(); break;
    case Qt::Key_Return:
    case Qt::Key_Enter: accept(); break;
    default: QFrame::keyPressEvent(event);
    }
}

} // namespace qor::app
