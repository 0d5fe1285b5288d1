#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class QAction;
class QHBoxLayout;
class QIcon;
class QMenu;
class QStackedWidget;
class QTabBar;
class QToolButton;

namespace qor::app {

// One titled row of command buttons on a ribbon page.
class RibbonGroup : public QWidget {
    Q_OBJECT

public:
    // clickFilter, when given, watches the mouse on every button of the group.
    explicit RibbonGroup(const QString& title, QObject* clickFilter = nullptr,
                         QWidget* parent = nullptr);

    // The button follows the action's text, icon, tool tip and enabled and checked state.
    // Large buttons show the text under a 26 px icon, small ones a 20 px icon only.
    QToolButton* addAction(QAction* action, bool large = true);
    // A large button whose menu pops up as soon as it is pressed.
    QToolButton* addMenuButton(const QString& text, const QIcon& icon, QMenu* menu);

private:
    QToolButton* newButton();

    QObject* clickFilter_;
    QHBoxLayout* row_;
};

// The command strip: page tabs over a band that shows one page of groups at a time.
// Page numbers are stable; hidden pages keep their number but lose their tab.
class Ribbon : public QWidget {
    Q_OBJECT

public:
    explicit Ribbon(QWidget* parent = nullptr);

    int addPage(const QString& title);
    // Null, and nothing added, for a page number that addPage did not return.
    RibbonGroup* addGroup(int page, const QString& title);
    // Keeps the groups added so far left-aligned; ignored for an unknown page.
    void addStretch(int page);
    // Ignored for an unknown or hidden page.
    void setCurrentPage(int page);
    // Ignored for an unknown page.
    void setPageVisible(int page, bool visible);
    int currentPage() const;

signals:
    void pageChanged(int page);

protected:
    // The wheel over a page that does not fit scrolls it sideways; the band's new size decides
    // whether the scroll arrows show; a button ignores the clicks guardClick refuses.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static constexpr int hiddenTab = -1;
    static constexpr int unassignedTab = -2;

    bool isPage(int page) const;
    void rebuildTabs();
    void onTabChanged(int tab);
    QToolButton* newScrollArrow(const QString& icon, int direction);
    // While the shown page is wider than the band, an arrow stands at each end of the band,
    // beside the page and never over it, and is inactive once the page has reached that end.
    void placeScrollArrows();
    // Brings the groups cut off at one end wholly into view; -1 towards the start, 1 towards
    // the end.
    void scrollShownPage(int direction);
    // When the page changes, other buttons come to lie under the pointer: a press does
    // nothing when it comes within the double-click interval of a change (a click aimed at
    // the old page), or when the page changed since the last press and the two presses lie
    // within that interval by their own event times (the second click of a double click on a
    // button that changed the page, however long the change kept the window busy); neither
    // does a release on a button the press did not begin on or that is no longer shown. True
    // when the event is refused.
    bool guardClick(QObject* button, const QEvent& event);
    // Whether a press at this event time belongs to a double click whose first press changed
    // the page.
    bool secondPressAfterChange(quint64 time) const;

    QTabBar* tabs_;
    // The row of the scroll arrows and the pages between them.
    QWidget* band_;
    QStackedWidget* stack_;
    // The visible sign that a page does not fit, and the way to the groups it hides.
    QToolButton* scrollBack_;
    QToolButton* scrollOn_;
    std::vector<QWidget*> pages_;
    std::vector<QString> titles_;
    // Per page: its tab, hiddenTab, or unassignedTab for a visible page not yet in the bar.
    std::vector<int> tabIndex_;
    // Since the shown page last changed.
    QElapsedTimer pageChanged_;
    // The event time of the last press a button took, and whether the shown page changed
    // after it. Event times, unlike the wall clock, do not run on while the window is busy
    // with what the press began.
    std::optional<quint64> lastPressTime_;
    bool changedSincePress_ = false;
    // The button the pointer pressed, while the button is held.
    QPointer<QObject> pressed_;
};

} // namespace qor::app
