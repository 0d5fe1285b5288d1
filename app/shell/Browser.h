#pragma once

#include <QSet>
#include <QString>
#include <QTreeWidget>

#include <set>
#include <vector>

namespace qor::model {
class Document;
}

namespace qor::app {

class DocumentController;

// Item kinds, shared with the main window's handlers: the numbers travel in the signals.
namespace browserKind {
constexpr int root = 1;
constexpr int originGroup = 2;
constexpr int parameterGroup = 3;
constexpr int bodyGroup = 4;
constexpr int body = 5;
constexpr int sketchGroup = 6;
constexpr int sketch = 7;
constexpr int constructionGroup = 8;
constexpr int workPlane = 9;
constexpr int workAxis = 10;
constexpr int originPlane = 11;
constexpr int originAxis = 12;
constexpr int componentGroup = 13;
constexpr int component = 14;
constexpr int mateGroup = 15;
constexpr int mate = 16;
} // namespace browserKind

// One row of the model browser as read from the document, before any widget exists.
struct BrowserEntry {
    // Colour of the item icon: the visibility colour unless a state overrides it.
    enum class Tint { Visibility, Accent, Warning, Danger };

    int kind = 0;
    int id = 0;
    QString text;
    QString icon;
    Tint tint = Tint::Visibility;
    bool hasEye = false;
    bool visible = true;
    // Shown by the document, but a cancelled display left it out of the view.
    bool leftOut = false;
    QString toolTip;
    std::vector<BrowserEntry> children;
};

// The browser's tree of a document: the root (kind 1) with its groups and their items.
// leftOut: the bodies a cancelled display left out of the view.
BrowserEntry browserTree(const qor::model::Document& document, const QString& displayName,
                         bool originVisible, const std::set<int>& leftOut = {});

// The tree of the open document's origin, parameters, components, mates, bodies, sketches
// and construction elements. Clicks, eye toggles and context menus leave as signals; the
// browser never changes the document.
class Browser : public QTreeWidget {
    Q_OBJECT

public:
    explicit Browser(DocumentController* controller, QWidget* parent = nullptr);

    QTreeWidgetItem* addItem(QTreeWidgetItem* parent, const QString& text, const QString& iconName,
                             int kind, int id, bool hasEye, bool visible);
    // Refills the whole tree; item pointers are valid only until the next rebuild.
    void rebuild();
    void setOriginVisible(bool on);
    // The bodies a cancelled display left out: their eyes say so until they are shown.
    void setLeftOut(const std::set<int>& bodies);

signals:
    void toggleVisible(int kind, int id);
    void editRequested(int kind, int id);
    void contextRequested(int kind, int id, QPoint global);
    void bodySelected(int id);
    void originToggled(bool on);
    // A click on the name of an origin plane (kind 11) or a work plane (kind 9): the window
    // takes it as the plane of a new sketch while it waits for one.
    void planeClicked(int kind, int id);

private:
    void addEntry(QTreeWidgetItem* parent, const BrowserEntry& entry);
    void onItemClicked(QTreeWidgetItem* item, int column);
    void onItemDoubleClicked(QTreeWidgetItem* item, int column);
    void onContextMenu(const QPoint& position);

    DocumentController* controller_;
    bool originVisible_ = false;
    std::set<int> leftOut_;
    // Groups the user collapsed, by their text up to the first blank (count left out).
    QSet<QString> collapsed_;
};

} // namespace qor::app
