#include "app/shell/Ribbon.h"

#include "ui/theme/Theme.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace qor::app {

namespace {

constexpr int bandHeight = 84;
constexpr int largeIcon = 26;
constexpr int smallIcon = 20;
constexpr int minimumLargeWidth = 52;
// One wheel notch (120 eighths of a degree) moves a page that does not fit by this much.
constexpr int wheelNotchPx = 60;
constexpr int scrollBarHeight = 8;
constexpr int scrollArrowWidth = 22;
constexpr int scrollArrowIcon = 20;

// A large button is never narrower than 52 px, nor than its text plus the padding.
void setLargeStyle(QToolButton* button, const QString& text, int padding)
{
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIconSize(QSize(largeIcon, largeIcon));
    const int textWidth = button->fontMetrics().horizontalAdvance(text);
    button->setMinimumWidth(std::max(textWidth + padding, minimumLargeWidth));
}

} // namespace

RibbonGroup::RibbonGroup(const QString& title, QObject* clickFilter, QWidget* parent)
    : QWidget(parent)
    , clickFilter_(clickFilter)
    , row_(new QHBoxLayout)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 2);
    layout->setSpacing(1);
    row_->setSpacing(1);
    layout->addLayout(row_, 1);
    auto* caption = new QLabel(title.toUpper(), this);
    caption->setObjectName(QStringLiteral("GroupLabel"));
    caption->setAlignment(Qt::AlignHCenter);
    layout->addWidget(caption);
}

QToolButton* RibbonGroup::newButton()
{
    auto* button = new QToolButton(this);
    button->setObjectName(QStringLiteral("RibbonButton"));
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    if (clickFilter_)
        button->installEventFilter(clickFilter_);
    return button;
}

QToolButton* RibbonGroup::addAction(QAction* action, bool large)
{
    QToolButton* button = newButton();
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    if (large) {
        setLargeStyle(button, action->text(), 14);
    } else {
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setIconSize(QSize(smallIcon, smallIcon));
    }
    row_->addWidget(button);
    return button;
}

QToolButton* RibbonGroup::addMenuButton(const QString& text, const QIcon& icon, QMenu* menu)
{
    QToolButton* button = newButton();
    button->setText(text);
    button->setIcon(icon);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    setLargeStyle(button, text, 22);
    row_->addWidget(button);
    return button;
}

Ribbon::Ribbon(QWidget* parent)
    : QWidget(parent)
    , tabs_(new QTabBar(this))
    , band_(new QWidget(this))
    , stack_(new QStackedWidget(band_))
    , scrollBack_(newScrollArrow(QStringLiteral("chevron_left"), -1))
    , scrollOn_(newScrollArrow(QStringLiteral("chevron_right"), 1))
{
    setObjectName(QStringLiteral("Ribbon"));
    setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->setSpacing(0);

    auto* tabRow = new QHBoxLayout;
    tabRow->setSpacing(0);
    tabs_->setObjectName(QStringLiteral("RibbonTabs"));
    tabs_->setDrawBase(false);
    tabs_->setExpanding(false);
    tabRow->addWidget(tabs_);
    tabRow->addStretch();
    layout->addLayout(tabRow);

    // The arrows take their own room at the band's ends: no button of the page ever lies
    // under one, so a click on an arrow that turns inactive lands on nothing.
    auto* bandRow = new QHBoxLayout(band_);
    bandRow->setContentsMargins(0, 0, 0, 0);
    bandRow->setSpacing(0);
    bandRow->addWidget(scrollBack_);
    bandRow->addWidget(stack_, 1);
    bandRow->addWidget(scrollOn_);
    stack_->setFixedHeight(bandHeight);
    layout->addWidget(band_);
    band_->installEventFilter(this);
    connect(tabs_, &QTabBar::currentChanged, this, &Ribbon::onTabChanged);
    connect(stack_, &QStackedWidget::currentChanged, this, &Ribbon::placeScrollArrows);
    // Pages chosen before the ribbon shows lie under no pointer.
    connect(stack_, &QStackedWidget::currentChanged, this, [this] {
        changedSincePress_ = true;
        if (isVisible())
            pageChanged_.start();
    });
}

int Ribbon::addPage(const QString& title)
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("RibbonPage"));
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(0, 2, 0, 2);
    row->setSpacing(0);

    auto* area = new QScrollArea;
    area->setWidget(page);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Without its own margin the global scroll-bar margin of 2 px leaves a 1 px handle.
    area->setStyleSheet(
        QStringLiteral("QScrollArea { background: transparent; } "
                       "QScrollArea > QWidget > QWidget { background: transparent; } "
                       "QScrollBar:horizontal { height: %1px; margin: 0px; }")
            .arg(scrollBarHeight));
    area->viewport()->installEventFilter(this);
    stack_->addWidget(area);
    const QScrollBar* bar = area->horizontalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, &Ribbon::placeScrollArrows);
    connect(bar, &QScrollBar::valueChanged, this, &Ribbon::placeScrollArrows);

    pages_.push_back(page);
    titles_.push_back(title);
    tabIndex_.push_back(unassignedTab);
    rebuildTabs();
    return int(pages_.size()) - 1;
}

RibbonGroup* Ribbon::addGroup(int page, const QString& title)
{
    if (!isPage(page))
        return nullptr;
    QLayout* row = pages_[std::size_t(page)]->layout();
    // A stretch counts as an item, so groups after it still get their separator.
    if (row->count() > 0) {
        auto* separator = new QFrame;
        separator->setObjectName(QStringLiteral("GroupSep"));
        // The style sheet paints the separator as a 1 px background in the line colour; a
        // drawn frame line would cover it in the bright text colour of the global rule.
        separator->setFrameShape(QFrame::NoFrame);
        row->addWidget(separator);
    }
    auto* group = new RibbonGroup(title, this);
    row->addWidget(group);
    return group;
}

void Ribbon::addStretch(int page)
{
    if (isPage(page))
        static_cast<QHBoxLayout*>(pages_[std::size_t(page)]->layout())->addStretch(1);
}

void Ribbon::setCurrentPage(int page)
{
    if (!isPage(page) || tabIndex_[std::size_t(page)] == hiddenTab)
        return;
    tabs_->setCurrentIndex(tabIndex_[std::size_t(page)]);
    stack_->setCurrentIndex(page);
}

void Ribbon::setPageVisible(int page, bool visible)
{
    if (!isPage(page))
        return;
    tabIndex_[std::size_t(page)] = visible ? unassignedTab : hiddenTab;
    rebuildTabs();
}

int Ribbon::currentPage() const
{
    return stack_->currentIndex();
}

bool Ribbon::isPage(int page) const
{
    return page >= 0 && std::size_t(page) < pages_.size();
}

// Tabs follow page order; the shown page stays when it still has a tab, otherwise the
// first page with a tab is shown. No pageChanged comes out of here.
void Ribbon::rebuildTabs()
{
    const QSignalBlocker blocker(tabs_);
    const int shown = stack_->currentIndex();
    while (tabs_->count() > 0)
        tabs_->removeTab(0);
    for (std::size_t page = 0; page < pages_.size(); ++page) {
        if (tabIndex_[page] != hiddenTab)
            tabIndex_[page] = tabs_->addTab(titles_[page].toUpper());
    }
    if (isPage(shown) && tabIndex_[std::size_t(shown)] >= 0) {
        tabs_->setCurrentIndex(tabIndex_[std::size_t(shown)]);
        return;
    }
    const auto first
        = std::find_if(tabIndex_.begin(), tabIndex_.end(), [](int tab) { return tab >= 0; });
    if (first == tabIndex_.end())
        return;
    tabs_->setCurrentIndex(*first);
    stack_->setCurrentIndex(int(first - tabIndex_.begin()));
}

void Ribbon::onTabChanged(int tab)
{
    // -1 (no tab left) would otherwise match the hidden pages.
    if (tab < 0)
        return;
    for (std::size_t page = 0; page < pages_.size(); ++page) {
        if (tabIndex_[page] == tab) {
            stack_->setCurrentIndex(int(page));
            emit pageChanged(int(page));
        }
    }
}

QToolButton* Ribbon::newScrollArrow(const QString& icon, int direction)
{
    auto* arrow = new QToolButton(band_);
    arrow->setObjectName(QStringLiteral("RibbonScroll"));
    // Inactive at the page's end, the chevron is drawn in the muted colour.
    arrow->setIcon(Theme::instance().icon(icon, Theme::instance().accent));
    arrow->setIconSize(QSize(scrollArrowIcon, scrollArrowIcon));
    arrow->setFixedSize(scrollArrowWidth, bandHeight);
    arrow->setAutoRaise(true);
    arrow->setToolTip(direction < 0 ? QStringLiteral("Weitere Befehle links")
                                    : QStringLiteral("Weitere Befehle rechts"));
    arrow->setFocusPolicy(Qt::NoFocus);
    // Held down, the page keeps moving.
    arrow->setAutoRepeat(true);
    arrow->hide();
    connect(arrow, &QToolButton::clicked, this, [this, direction] { scrollShownPage(direction); });
    return arrow;
}

void Ribbon::placeScrollArrows()
{
    const auto* area = qobject_cast<QScrollArea*>(stack_->currentWidget());
    // Measured against the whole band, so that the arrows' own room cannot make a page that
    // fits without them overflow.
    const bool overflows
        = area && area->widget()->minimumSizeHint().width() > band_->contentsRect().width();
    const QScrollBar* bar = area ? area->horizontalScrollBar() : nullptr;
    scrollBack_->setVisible(overflows);
    scrollOn_->setVisible(overflows);
    scrollBack_->setEnabled(overflows && bar->value() > bar->minimum());
    scrollOn_->setEnabled(overflows && bar->value() < bar->maximum());
}

void Ribbon::scrollShownPage(int direction)
{
    auto* area = qobject_cast<QScrollArea*>(stack_->currentWidget());
    if (area == nullptr)
        return;
    QScrollBar* bar = area->horizontalScrollBar();
    const int shownFrom = bar->value();
    const int shownTo = shownFrom + area->viewport()->width();
    // Forwards the first group cut off at the right edge starts the view; backwards the last
    // group cut off at the left edge ends it.
    int target = shownFrom;
    for (const RibbonGroup* group : area->widget()->findChildren<RibbonGroup*>()) {
        const QRect at = group->geometry();
        if (direction > 0 && at.right() >= shownTo) {
            target = at.left();
            break;
        }
        if (direction < 0 && at.left() < shownFrom)
            target = at.right() + 1 - area->viewport()->width();
    }
    // A group wider than the band moves by the band's width, so every click moves the page.
    if ((target - shownFrom) * direction <= 0)
        target = shownFrom + direction * std::max(bar->pageStep(), wheelNotchPx);
    bar->setValue(target);
}

bool Ribbon::secondPressAfterChange(quint64 time) const
{
    return changedSincePress_ && lastPressTime_ && time >= *lastPressTime_
           && time - *lastPressTime_ < quint64(QApplication::doubleClickInterval());
}

bool Ribbon::guardClick(QObject* button, const QEvent& event)
{
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const quint64 time = static_cast<const QInputEvent&>(event).timestamp();
        if (secondPressAfterChange(time)
            || (pageChanged_.isValid()
                && pageChanged_.elapsed() < QApplication::doubleClickInterval())) {
            pressed_ = nullptr;
            return true;
        }
        pressed_ = button;
        lastPressTime_ = time;
        changedSincePress_ = false;
        return false;
    }
    case QEvent::MouseButtonRelease: {
        // A button the page took away while it was held still gets the release.
        const bool aimed = pressed_ == button && static_cast<QWidget*>(button)->isVisible();
        pressed_ = nullptr;
        return !aimed;
    }
    default: return false;
    }
}

bool Ribbon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched->objectName() == u"RibbonButton")
        return guardClick(watched, *event);
    if (watched == band_) {
        if (event->type() == QEvent::Resize)
            placeScrollArrows();
        return false;
    }
    if (event->type() != QEvent::Wheel)
        return QWidget::eventFilter(watched, event);
    auto* area = qobject_cast<QScrollArea*>(watched->parent());
    QScrollBar* bar = area ? area->horizontalScrollBar() : nullptr;
    if (bar == nullptr || bar->maximum() <= 0)
        return false;
    const QPoint delta = static_cast<QWheelEvent*>(event)->angleDelta();
    const int steps = std::abs(delta.x()) > std::abs(delta.y()) ? delta.x() : delta.y();
    bar->setValue(bar->value() - steps * wheelNotchPx / 120);
    return true;
}

} // namespace qor::app
