#include "app/MainWindow.h"
#include "app/RibbonLayout.h"
#include "app/shell/Ribbon.h"
#include "model/DocumentController.h"
#include "model/ShapeSignature.h"
#include "panels/CommandPanel.h"
#include "tests/gl/RibbonButtons.h"
#include "tests/gl/ShowViewer.h"
#include "ui/theme/Theme.h"
#include "view/sketch/SketchEditor.h"

#include <QAction>
#include <QLabel>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>

using qor::app::MainWindow;
using qor::app::Ribbon;
using qor::test::buttonOf;
using qor::test::OpenedWindows;

namespace {

QScrollArea* shownPage(Ribbon& ribbon)
{
    return qobject_cast<QScrollArea*>(ribbon.findChild<QStackedWidget*>()->currentWidget());
}

// The scroll arrow at the band's left (side -1) or right (side 1) edge, shown or not.
QToolButton* arrowAt(Ribbon& ribbon, int side)
{
    for (QToolButton* arrow : ribbon.findChildren<QToolButton*>(QStringLiteral("RibbonScroll"))) {
        const bool left = arrow->geometry().center().x() < arrow->parentWidget()->width() / 2;
        if (left == (side < 0))
            return arrow;
    }
    return nullptr;
}

// That arrow when it shows and can move the page, else null.
QToolButton* activeArrow(Ribbon& ribbon, int side)
{
    QToolButton* arrow = arrowAt(ribbon, side);
    return arrow && arrow->isVisible() && arrow->isEnabled() ? arrow : nullptr;
}

// A click at the widget's middle lands on it: it lies inside the window and the band and
// nothing covers it.
bool reachable(const MainWindow& window, const QWidget& widget)
{
    const QPoint centre = widget.mapTo(&window, widget.rect().center());
    const QWidget* hit = window.childAt(centre);
    const QScrollArea* area = nullptr;
    for (const QWidget* up = &widget; up && !area; up = up->parentWidget())
        area = qobject_cast<const QScrollArea*>(up);
    const QRect band(area->viewport()->mapTo(&window, QPoint()), area->viewport()->size());
    return band.contains(centre) && hit != nullptr && (hit == &widget || widget.isAncestorOf(hit));
}

bool allReachable(const MainWindow& window, const QWidget& group)
{
    const auto buttons = group.findChildren<QToolButton*>();
    return !buttons.isEmpty() && std::all_of(buttons.begin(), buttons.end(), [&](QToolButton* b) {
        return reachable(window, *b);
    });
}

// Clicks the arrow on the group's side until every button of the group can be clicked; the
// number of clicks it took, or -1 when no arrow showed the way there.
int clicksToReach(MainWindow& window, const QWidget& group)
{
    for (int clicks = 0; clicks < 12; ++clicks) {
        if (allReachable(window, group))
            return clicks;
        const QWidget* viewport = shownPage(*window.ribbon)->viewport();
        const int side = group.mapTo(viewport, QPoint()).x() < 0 ? -1 : 1;
        QToolButton* arrow = activeArrow(*window.ribbon, side);
        if (arrow == nullptr)
            return -1;
        QTest::mouseClick(arrow, Qt::LeftButton);
        QApplication::processEvents();
    }
    return -1;
}

// Pixels of the arrow's own colour (the accent's hue, bright, smoothed edges included) inside
// the rectangle of the window's picture.
int accentPixels(const QImage& picture, const QRect& rect)
{
    const int accentHue = qor::app::Theme::instance().accent.hue();
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            count += std::abs(c.hue() - accentHue) < 20 && c.value() > 80 && c.saturation() > 100
                         ? 1
                         : 0;
        }
    }
    return count;
}

// A click at a point of the window, delivered to what lies there as the user sees it.
void clickAt(MainWindow& window, QPoint at)
{
    QWidget* hit = window.childAt(at);
    ASSERT_NE(hit, nullptr);
    QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(&window, at));
    QApplication::processEvents();
}

// The middle of the band at its left (side -1) or right (side 1) end, where the arrow stands.
QPoint arrowPoint(const MainWindow& window, int side)
{
    const Ribbon& ribbon = *window.ribbon;
    const QWidget* band = ribbon.findChild<QStackedWidget*>();
    const int y = band->mapTo(&window, band->rect().center()).y();
    const QPoint end
        = ribbon.mapTo(&window, QPoint(side < 0 ? 8 + 11 : ribbon.width() - 8 - 11, 0));
    return {end.x(), y};
}

QString widgetName(const QWidget* widget)
{
    if (const auto* button = qobject_cast<const QToolButton*>(widget))
        return button->objectName() + QLatin1Char(' ') + button->text();
    return widget ? QString::fromUtf8(widget->metaObject()->className()) : QStringLiteral("nichts");
}

} // namespace

// A click repeated where a scroll arrow stood lands on that arrow again, never on a command
// that slid into its place: at 1280 × 800, on every page that does not fit, in and out of
// sketch mode, two clicks on each arrow leave the open sketch with its rectangle, open no dialog or
// menu and add no undo step.
TEST(RibbonReach, TwoClicksOnAnArrowTakeNoCommand)
{
    MainWindow window;
    ASSERT_TRUE(qor::test::showWithViewer(window, *window.viewer, 1280, 800));
    window.createExample(QStringLiteral("bracket"));
    OpenedWindows opened;
    int withArrows = 0;
    for (const bool sketchMode : {true, false}) {
        if (sketchMode) {
            window.newSketch(qor::model::datumReferenceJson(-1));
            ASSERT_NE(window.sketchEditor, nullptr);
            qor::sketch::Sketch& sketch = window.sketchEditor->sketch();
            sketch.addLineAt(false, 0, 0, 40, 0);
            sketch.addLineAt(false, 40, 0, 40, 20);
            sketch.addLineAt(false, 40, 20, 0, 20);
            sketch.addLineAt(false, 0, 20, 0, 0);
        }
        const std::size_t entities = sketchMode ? window.sketchEditor->sketch().entities.size() : 0;
        const std::size_t steps = window.controller->history.size();
        for (int page = 0; page < int(qor::app::ribbonLayout().size()); ++page) {
            window.ribbon->setCurrentPage(page);
            if (window.ribbon->currentPage() != page)
                continue; // hidden in this mode
            QApplication::processEvents();
            if (!arrowAt(*window.ribbon, 1)->isVisible())
                continue; // the page fits: no arrow to click
            ++withArrows;
            for (const int side : {1, -1}) {
                const QPoint at = arrowPoint(window, side);
                for (int click = 1; click <= 2; ++click) {
                    SCOPED_TRACE(testing::Message()
                                 << "sketch mode " << sketchMode << " page " << page << " side "
                                 << side << " click " << click);
                    const QWidget* before = window.childAt(at);
                    clickAt(window, at);
                    EXPECT_EQ(widgetName(window.childAt(at)).toStdString(),
                              widgetName(before).toStdString())
                        << "another control slid under the pointer";
                    EXPECT_EQ(window.sketchEditor != nullptr, sketchMode);
                    if (sketchMode && window.sketchEditor)
                        EXPECT_EQ(window.sketchEditor->sketch().entities.size(), entities);
                    EXPECT_EQ(window.controller->history.size(), steps);
                    EXPECT_EQ(window.commandPanel->featureId(), 0);
                    EXPECT_TRUE(opened.names().isEmpty())
                        << opened.names().join(QLatin1Char(' ')).toStdString();
                }
            }
        }
        if (sketchMode && window.sketchEditor)
            window.finishSketch(false);
    }
    EXPECT_GE(withArrows, 2); // the sketch page and the part page at least
}

// At 1280 × 800 the sketch page is wider than the window: an arrow at its right edge shows
// that more follows, and clicking it brings "Abbrechen" into reach, which cancels the sketch.
TEST(RibbonReach, ArrowLeadsToCancelOfTheSketchPage)
{
    MainWindow window;
    ASSERT_TRUE(qor::test::showWithViewer(window, *window.viewer, 1280, 800));
    window.createExample(QStringLiteral("bracket"));
    const auto& features = window.controller->document->features;
    const int sketchId = features.front()->id;
    const QJsonObject before = features.front()->sketch->toJson();
    window.enterSketch(sketchId);
    ASSERT_NE(window.sketchEditor, nullptr);
    window.sketchEditor->sketch().addLineAt(false, 0, 0, 5, 5);
    QApplication::processEvents();

    QToolButton* cancel = buttonOf(*window.ribbon, QStringLiteral("Abbrechen"));
    ASSERT_NE(cancel, nullptr);
    ASSERT_FALSE(reachable(window, *cancel)) << "the sketch page fits at 1280 px";
    QToolButton* arrow = activeArrow(*window.ribbon, 1);
    ASSERT_NE(arrow, nullptr);
    EXPECT_EQ(activeArrow(*window.ribbon, -1), nullptr);
    EXPECT_TRUE(arrowAt(*window.ribbon, -1)->isVisible()) << "the left arrow keeps its place";

    // The arrow is drawn: its chevron in the accent colour stands out at the band's edge, and
    // turns grey once the page has reached its end.
    const QRect arrowRect(arrow->mapTo(&window, QPoint()), arrow->size());
    const QImage shown = window.grab().toImage();
    shown.save(QStringLiteral(QOR_TEST_OUTPUT "/ribbon-arrow-1280.png"));
    EXPECT_GT(accentPixels(shown, arrowRect), 10);

    const int clicks = clicksToReach(window, *cancel->parentWidget());
    EXPECT_GE(clicks, 1);
    ASSERT_TRUE(reachable(window, *cancel));
    EXPECT_EQ(activeArrow(*window.ribbon, 1), nullptr);
    EXPECT_TRUE(arrow->isVisible());
    EXPECT_EQ(QRect(arrow->mapTo(&window, QPoint()), arrow->size()), arrowRect);
    EXPECT_NE(activeArrow(*window.ribbon, -1), nullptr);
    const QImage atEnd = window.grab().toImage();
    atEnd.save(QStringLiteral(QOR_TEST_OUTPUT "/ribbon-arrow-end-1280.png"));
    EXPECT_EQ(accentPixels(atEnd, arrowRect), 0);

    // A click this soon after the page changed would count as aimed at the page before.
    QTest::qWait(QApplication::doubleClickInterval());
    QTest::mouseClick(cancel, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(window.sketchEditor, nullptr);
    EXPECT_EQ(window.controller->document->feature(sketchId)->sketch->toJson(), before);
}

// Every group of every page, in sketch mode and out of it, comes into reach by the arrows
// alone, at the smallest supported window size and at a large one.
TEST(RibbonReach, EveryGroupOfEveryPageByArrowsAlone)
{
    for (const QSize size : {QSize(1280, 800), QSize(1920, 1200)}) {
        SCOPED_TRACE(size.width());
        MainWindow window;
        ASSERT_TRUE(qor::test::showWithViewer(window, *window.viewer, size.width(), size.height()));
        window.createExample(QStringLiteral("bracket"));
        int overflowing = 0;
        for (const bool sketchMode : {false, true}) {
            if (sketchMode)
                window.enterSketch(window.controller->document->features.front()->id);
            for (int page = 0; page < int(qor::app::ribbonLayout().size()); ++page) {
                window.ribbon->setCurrentPage(page);
                if (window.ribbon->currentPage() != page)
                    continue; // hidden in this mode
                QApplication::processEvents();
                QScrollArea* area = shownPage(*window.ribbon);
                const auto groups = area->widget()->findChildren<qor::app::RibbonGroup*>();
                ASSERT_FALSE(groups.isEmpty());
                overflowing += activeArrow(*window.ribbon, 1) != nullptr ? 1 : 0;
                // From the last group back to the first: both arrows are used.
                for (auto group = groups.rbegin(); group != groups.rend(); ++group) {
                    EXPECT_GE(clicksToReach(window, **group), 0)
                        << "page " << page << " group "
                        << (*group)->findChild<QLabel*>()->text().toStdString();
                }
                EXPECT_EQ(activeArrow(*window.ribbon, -1), nullptr) << "page " << page;
            }
        }
        if (size.width() == 1280)
            EXPECT_GE(overflowing, 2);
    }
}
