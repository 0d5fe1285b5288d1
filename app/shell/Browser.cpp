#include "app/shell/Browser.h"

#include "expr/Format.h"
#include "io/NoteKind.h"
#include "model/Assembly.h"
#include "model/DocumentController.h"
#include "model/SketchVisibility.h"
#include "ui/theme/Theme.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace qor::app {

namespace {

namespace kind = browserKind;

// Bodies above this id belong to assembly components; the browser does not list them.
constexpr int lastPartBodyId = 99'999'999;
constexpr int idRole = Qt::UserRole + 1;

bool isHidden(const std::map<int, bool>& hidden, int key)
{
    const auto it = hidden.find(key);
    return it != hidden.end() && it->second;
}

// The collapse state is kept by the group text before its count.
QString groupName(const QString& text)
{
    return text.section(QLatin1Char(' '), 0, 0);
}

BrowserEntry entry(int kindOf, int id, const QString& text, const QString& icon,
                   bool hasEye = false, bool visible = true)
{
    BrowserEntry e;
    e.kind = kindOf;
    e.id = id;
    e.text = text;
    e.icon = icon;
    e.hasEye = hasEye;
    e.visible = visible;
    return e;
}

BrowserEntry originGroup(bool originVisible)
{
    BrowserEntry group = entry(kind::originGroup, 0, QStringLiteral("Ursprung"),
                               QStringLiteral("origin"), true, originVisible);
    for (int id : {-1, -2, -3})
        group.children.push_back(
            entry(kind::originPlane, id, model::Document::datumName(id), QStringLiteral("plane")));
    for (int id : {-11, -12, -13})
        group.children.push_back(
            entry(kind::originAxis, id, model::Document::datumName(id), QStringLiteral("axis")));
    return group;
}

BrowserEntry componentGroup(const model::Document& doc)
{
    BrowserEntry group
        = entry(kind::componentGroup, 0,
                QStringLiteral("Komponenten (%1)").arg(germanCount(doc.components.size())),
                QStringLiteral("assembly"));
    for (const model::Component& c : doc.components) {
        BrowserEntry item = entry(
            kind::component, c.id, c.name,
            c.grounded ? QStringLiteral("ground") : QStringLiteral("component"), true, !c.hidden);
        item.toolTip = c.path.isEmpty() ? c.name : c.path;
        if (c.grounded)
            item.toolTip += QStringLiteral("\nfixiert");
        if (!c.status.isEmpty())
            item.toolTip += QLatin1Char('\n') + c.status;
        // A reader's notes that only say how it approximated geometry leave nothing to fix;
        // the mark is kept for what the component lacks.
        if (io::tellsOfLoss(c.status)) {
            item.icon = QStringLiteral("warning");
            item.tint = BrowserEntry::Tint::Warning;
        }
        group.children.push_back(item);
    }
    return group;
}

BrowserEntry mateGroup(const model::Document& doc)
{
    BrowserEntry group = entry(
        kind::mateGroup, 0, QStringLiteral("Beziehungen (%1)").arg(germanCount(doc.mates.size())),
        QStringLiteral("mate"));
    for (const model::Mate& m : doc.mates) {
        const QString text = m.name.isEmpty() ? model::mateTypeLabel(m.type) : m.name;
        BrowserEntry item
            = entry(kind::mate, m.id, text, QStringLiteral("mate"), false, !m.suppressed);
        if (!m.status.isEmpty()) {
            item.icon = QStringLiteral("error");
            item.tint = BrowserEntry::Tint::Danger;
            item.toolTip = m.status;
        }
        group.children.push_back(item);
    }
    return group;
}

std::vector<BrowserEntry> partBodies(const model::Document& doc, const std::set<int>& leftOut)
{
    std::vector<BrowserEntry> bodies;
    for (const auto& [id, body] : doc.current.bodies) {
        if (id > lastPartBodyId)
            continue;
        const QString name = doc.bodyName(id);
        BrowserEntry item
            = entry(kind::body, id, name,
                    body.sheetMetal ? QStringLiteral("sheet_base") : QStringLiteral("body"), true,
                    !isHidden(doc.hidden, id));
        const QString material = doc.bodyAppearance(id).material;
        item.toolTip = material.isEmpty() ? name : name + QStringLiteral(" · ") + material;
        item.leftOut = item.visible && leftOut.count(id) > 0;
        bodies.push_back(item);
    }
    return bodies;
}

BrowserEntry featureItem(const model::Feature& f, int kindOf, const QString& icon, bool visible)
{
    return entry(kindOf, f.id, f.name, icon, true, visible);
}

BrowserEntry sketchGroup(const model::Document& doc, int count)
{
    BrowserEntry group = entry(
        kind::sketchGroup, 0, QStringLiteral("Skizzen (%1)").arg(germanCount(std::uint64_t(count))),
        QStringLiteral("folder"));
    const std::set<int> consumed = model::consumedSketches(doc);
    for (const auto& f : doc.features) {
        if (f->type != QLatin1String("sketch"))
            continue;
        BrowserEntry item = featureItem(*f, kind::sketch, QStringLiteral("sketch"),
                                        model::sketchShown(doc, f->id, consumed));
        if (!f->error.isEmpty() || !f->warning.isEmpty()) {
            item.icon = QStringLiteral("warning");
            item.tint = BrowserEntry::Tint::Warning;
            item.toolTip = f->error.isEmpty() ? f->warning : f->error;
        }
        group.children.push_back(item);
    }
    return group;
}

BrowserEntry constructionGroup(const model::Document& doc)
{
    BrowserEntry group = entry(kind::constructionGroup, 0, QStringLiteral("Konstruktion"),
                               QStringLiteral("folder"));
    for (const auto& f : doc.features) {
        // Hidden flags of features are keyed by the negative feature id, so that a feature
        // never shares a key with a body.
        const bool visible = !isHidden(doc.hidden, -f->id);
        if (f->type == QLatin1String("plane"))
            group.children.push_back(featureItem(*f, kind::workPlane, f->type, visible));
        else if (f->type == QLatin1String("axis"))
            group.children.push_back(featureItem(*f, kind::workAxis, f->type, visible));
    }
    return group;
}

// The style sheet gives every tree item the text colour, over any colour the item carries;
// this delegate draws the text of items with their own colour (hidden ones) in that colour.
class ItemColourDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        const QVariant colour = index.data(Qt::ForegroundRole);
        if (!colour.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QWidget* view = option.widget;
        QStyle* style = view ? view->style() : QApplication::style();
        const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, view);
        const QString text
            = item.fontMetrics.elidedText(item.text, item.textElideMode, textRect.width());
        item.text.clear();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, view);
        painter->save();
        painter->setFont(item.font);
        painter->setPen(colour.value<QBrush>().color());
        painter->drawText(textRect, int(item.displayAlignment), text);
        painter->restore();
    }
};

} // namespace

BrowserEntry browserTree(const model::Document& doc, const QString& displayName, bool originVisible,
                         const std::set<int>& leftOut)
{
    BrowserEntry root = entry(kind::root, 0, displayName, QStringLiteral("component"));
    root.tint = BrowserEntry::Tint::Accent;
    root.children.push_back(originGroup(originVisible));

    const auto named = std::count_if(doc.parameters.begin(), doc.parameters.end(),
                                     [](const model::Parameter& p) { return !p.name.isEmpty(); });
    root.children.push_back(
        entry(kind::parameterGroup, 0,
              QStringLiteral("Parameter (%1)").arg(germanCount(std::uint64_t(named))),
              QStringLiteral("parameters")));
    if (!doc.components.empty())
        root.children.push_back(componentGroup(doc));
    if (!doc.mates.empty())
        root.children.push_back(mateGroup(doc));

    std::vector<BrowserEntry> bodies = partBodies(doc, leftOut);
    // An assembly without bodies of its own has no body group; a part always has one.
    if (!bodies.empty() || doc.components.empty()) {
        BrowserEntry group = entry(kind::bodyGroup, 0,
                                   QStringLiteral("Körper (%1)").arg(germanCount(bodies.size())),
                                   QStringLiteral("bodies"));
        group.children = std::move(bodies);
        root.children.push_back(std::move(group));
    }

    const auto sketches = std::count_if(doc.features.begin(), doc.features.end(),
                                        [](auto& f) { return f->type == QLatin1String("sketch"); });
    if (sketches > 0)
        root.children.push_back(sketchGroup(doc, int(sketches)));
    const bool construction = std::any_of(doc.features.begin(), doc.features.end(), [](auto& f) {
        return f->type == QLatin1String("plane") || f->type == QLatin1String("axis");
    });
    if (construction)
        root.children.push_back(constructionGroup(doc));
    return root;
}

Browser::Browser(DocumentController* controller, QWidget* parent)
    : QTreeWidget(parent)
    , controller_(controller)
{
    setColumnCount(2);
    header()->hide();
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::Stretch);
    header()->setSectionResizeMode(1, QHeaderView::Fixed);
    setColumnWidth(1, 28);
    setIndentation(14);
    setIconSize(QSize(16, 16));
    setRootIsDecorated(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setFocusPolicy(Qt::NoFocus);
    setItemDelegate(new ItemColourDelegate(this));

    connect(this, &QTreeWidget::itemClicked, this, &Browser::onItemClicked);
    connect(this, &QTreeWidget::itemDoubleClicked, this, &Browser::onItemDoubleClicked);
    connect(this, &QWidget::customContextMenuRequested, this, &Browser::onContextMenu);
    connect(this, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { collapsed_.insert(groupName(item->text(0))); });
    connect(this, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { collapsed_.remove(groupName(item->text(0))); });
}

QTreeWidgetItem* Browser::addItem(QTreeWidgetItem* parent, const QString& text,
                                  const QString& iconName, int kindOf, int id, bool hasEye,
                                  bool visible)
{
    const Theme& theme = Theme::instance();
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, text);
    item->setIcon(0, theme.icon(iconName, visible ? theme.textDim : theme.textMute));
    item->setData(0, Qt::UserRole, kindOf);
    item->setData(0, idRole, id);
    if (!visible)
        item->setForeground(0, theme.textMute);
    if (hasEye) {
        item->setIcon(1, theme.icon(visible ? QStringLiteral("eye") : QStringLiteral("eye_off"),
                                    visible ? theme.textDim : theme.textMute));
        item->setData(1, Qt::UserRole, true);
        item->setToolTip(1, visible ? QStringLiteral("Ausblenden") : QStringLiteral("Einblenden"));
    }
    return item;
}

void Browser::addEntry(QTreeWidgetItem* parent, const BrowserEntry& e)
{
    const Theme& theme = Theme::instance();
    QTreeWidgetItem* item = addItem(parent, e.text, e.icon, e.kind, e.id, e.hasEye, e.visible);
    if (e.tint != BrowserEntry::Tint::Visibility) {
        const QColor colour = e.tint == BrowserEntry::Tint::Accent    ? theme.accent
                              : e.tint == BrowserEntry::Tint::Warning ? theme.warning
                                                                      : theme.danger;
        item->setIcon(0, theme.icon(e.icon, colour));
    }
    if (!e.toolTip.isEmpty())
        item->setToolTip(0, e.toolTip);
    // A plain open eye over an empty view would claim what is not there: the eye takes the
    // warning colour, and a click on it shows the rest instead of hiding the body.
    if (e.leftOut) {
        item->setIcon(1, theme.icon(QStringLiteral("eye"), theme.warning));
        item->setToolTip(
            1, QStringLiteral("Anzeige abgebrochen: nicht angezeigt – Klick zeigt die restlichen "
                              "Körper"));
    }
    for (const BrowserEntry& child : e.children)
        addEntry(item, child);
}

void Browser::rebuild()
{
    clear();
    const BrowserEntry tree
        = browserTree(*controller_->document, controller_->displayName(), originVisible_, leftOut_);
    addEntry(nullptr, tree);
    QTreeWidgetItem* root = topLevelItem(0);
    root->setFont(0, Theme::instance().uiFont(13, 600));
    root->setExpanded(true);
    // The origin planes are listed from the start, so that a plane can be taken by name at
    // any time without a row moving; a group stays folded once the user folds it.
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem* group = root->child(i);
        group->setExpanded(!collapsed_.contains(groupName(group->text(0))));
    }
}

void Browser::setLeftOut(const std::set<int>& bodies)
{
    if (bodies == leftOut_)
        return;
    leftOut_ = bodies;
    rebuild();
}

void Browser::setOriginVisible(bool on)
{
    originVisible_ = on;
    rebuild();
}

void Browser::onItemClicked(QTreeWidgetItem* item, int column)
{
    const int kindOf = item->data(0, Qt::UserRole).toInt();
    const int id = item->data(0, idRole).toInt();
    if (column == 1 && item->data(1, Qt::UserRole).toBool()) {
        if (kindOf == kind::originGroup) {
            originVisible_ = !originVisible_;
            emit originToggled(originVisible_);
        } else {
            emit toggleVisible(kindOf, id);
        }
        return;
    }
    if (kindOf == kind::body)
        emit bodySelected(id);
    else if (kindOf == kind::originPlane || kindOf == kind::workPlane)
        emit planeClicked(kindOf, id);
}

void Browser::onItemDoubleClicked(QTreeWidgetItem* item, int column)
{
    if (column != 1)
        emit editRequested(item->data(0, Qt::UserRole).toInt(), item->data(0, idRole).toInt());
}

void Browser::onContextMenu(const QPoint& position)
{
    const QTreeWidgetItem* item = itemAt(position);
    if (item)
        emit contextRequested(item->data(0, Qt::UserRole).toInt(), item->data(0, idRole).toInt(),
                              viewport()->mapToGlobal(position));
}

} // namespace qor::app
