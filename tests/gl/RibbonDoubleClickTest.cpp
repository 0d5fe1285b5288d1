#include "app/MainWindow.h"
#include "app/RibbonLayout.h"
#include "app/shell/Ribbon.h"
#include "drawing/window/DrawingWindow.h"
#include "model/DocumentController.h"
#include "model/ShapeSignature.h"
#include "panels/CommandPanel.h"
#include "tests/gl/RibbonButtons.h"
#include "tests/gl/ShowViewer.h"
#include "view/sketch/SketchEditor.h"

#include <QAction>
#include <QFileInfo>
#include <QMap>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>

using qor::app::MainWindow;
using qor::test::buttonOf;
using qor::test::OpenedWindows;

namespace {

// A window state in which a ribbon page is shown: part or sketch mode, and the page. A part
// holds the bracket example when asked.
struct Shown {
    bool sketchMode;
    int page;
    bool example = true;
};

struct WindowSize {
    int width;
    int height;
};

// The real window with the bracket example, in sketch mode on a new sketch holding a
// rectangle when asked, showing the page. It waits out the double-click interval, so that a
// click that follows counts as aimed at that page.
std::unique_ptr<MainWindow> windowShowing(const WindowSize& size, const Shown& shown)
{
    auto window = std::make_unique<MainWindow>();
    if (!qor::test::showWithViewer(*window, *window->viewer, size.width, size.height))
        return nullptr;
    if (shown.example)
        window->createExample(QStringLiteral("bracket"));
    if (shown.sketchMode) {
        window->newSketch(qor::model::datumReferenceJson(-1));
        qor::sketch::Sketch& sketch = window->sketchEditor->sketch();
        sketch.addLineAt(false, 0, 0, 40, 0);
        sketch.addLineAt(false, 40, 0, 40, 20);
        sketch.addLineAt(false, 40, 20, 0, 20);
        sketch.addLineAt(false, 0, 20, 0, 0);
    }
    window->ribbon->setCurrentPage(shown.page);
    if (window->ribbon->currentPage() != shown.page)
        return nullptr;
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    return window;
}

// The texts of the command buttons the page shows that do something when clicked alone.
QStringList commandsOn(MainWindow& window)
{
    QStringList texts;
    for (QToolButton* button :
         window.ribbon->findChildren<QToolButton*>(QStringLiteral("RibbonButton"))) {
        if (button->isVisibleTo(window.ribbon) && button->defaultAction()
            && button->defaultAction()->isEnabled())
            texts << button->defaultAction()->text();
    }
    return texts;
}

// The middle of the button in window coordinates, scrolled into view as the arrows would.
QPoint bringIntoView(MainWindow& window, QToolButton& button)
{
    for (QWidget* up = &button; up; up = up->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(up)) {
            area->ensureWidgetVisible(&button, 0, 0);
            break;
        }
    }
    QApplication::processEvents();
    return button.mapTo(&window, button.rect().center());
}

// How often each action of the window was triggered since this was made.
class TriggerCount {
public:
    explicit TriggerCount(MainWindow& window)
    {
        for (QAction* action : window.findChildren<QAction*>())
            QObject::connect(action, &QAction::triggered, &context_,
                             [this, action] { counts_[action->text()] += 1; });
    }
    QMap<QString, int> counts() const { return counts_; }

private:
    QObject context_;
    QMap<QString, int> counts_;
};

// A click or a double click as the user makes it: through the window, to what lies there.
void clickAt(MainWindow& window, QPoint at, bool twice)
{
    if (twice)
        QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
    QApplication::processEvents();
}

// The ribbon's number of the page with that title: pages are numbered in layout order.
int pageTitled(const QString& title)
{
    const auto& pages = qor::app::ribbonLayout();
    for (int page = 0; page < int(pages.size()); ++page) {
        if (pages[std::size_t(page)].title == title)
            return page;
    }
    return -1;
}

struct Case {
    WindowSize size;
    bool sketchMode;
    // The buttons whose click shows another page there, dialogs refused: in sketch mode
    // those that leave the sketch; in part mode none, as a new sketch waits for its plane.
    QStringList switching;
};

const QStringList leavingTheSketch{QStringLiteral("Skizze beenden"), QStringLiteral("Abbrechen"),
                                   QStringLiteral("Öffnen …"), QStringLiteral("Zeichnung")};

const Case cases[] = {{{1280, 800}, true, leavingTheSketch},
                      {{1280, 800}, false, {}},
                      {{1920, 1080}, true, leavingTheSketch},
                      {{1920, 1080}, false, {}}};

class RibbonDoubleClick : public ::testing::TestWithParam<Case> { };

} // namespace

// Every command button of every page, in part or sketch mode, is clicked once in a fresh
// window (without the example, which only makes it slow); those whose click shows another
// page are double-clicked in a fresh window with the example: the first click does its work,
// the second does nothing, whatever lies under the pointer then. In sketch mode "Skizze
// beenden" and "Abbrechen" are among them.
TEST_P(RibbonDoubleClick, TheSecondClickAfterAPageChangeDoesNothing)
{
    const auto& [size, sketchMode, expected] = GetParam();
    QStringList switching;
    OpenedWindows opened;
    for (int page = 0; page < int(qor::app::ribbonLayout().size()); ++page) {
        const Shown plain{sketchMode, page, false};
        std::unique_ptr<MainWindow> probe = windowShowing(size, plain);
        if (!probe)
            continue; // the page is hidden in this mode
        const QStringList commands = commandsOn(*probe);
        for (const QString& command : commands) {
            SCOPED_TRACE(testing::Message() << "page " << page << " " << command.toStdString());
            if (!probe)
                probe = windowShowing(size, plain);
            ASSERT_NE(probe, nullptr);
            QToolButton* button = buttonOf(*probe->ribbon, command);
            ASSERT_NE(button, nullptr);
            const std::size_t steps = probe->controller->history.size();
            const int namesBefore = int(opened.names().size());
            const qsizetype windows = QApplication::topLevelWidgets().size();
            QMap<QString, int> once;
            {
                const TriggerCount triggered(*probe);
                clickAt(*probe, bringIntoView(*probe, *button), false);
                once = triggered.counts();
            }
            const int opensOnce = int(opened.names().size()) - namesBefore;
            const std::size_t stepsOnce = probe->controller->history.size() - steps;
            const bool switched = probe->ribbon->currentPage() != page;
            // A window the click left as it was takes the next click.
            if (switched || probe->commandPanel->featureId() != 0
                || probe->controller->history.size() != steps
                || int(opened.names().size()) != namesBefore
                || QApplication::topLevelWidgets().size() != windows)
                probe.reset();
            if (!switched)
                continue;
            switching << command;

            std::unique_ptr<MainWindow> window = windowShowing(size, {sketchMode, page});
            ASSERT_NE(window, nullptr);
            const QPoint at = bringIntoView(*window, *buttonOf(*window->ribbon, command));
            const std::size_t before = window->controller->history.size();
            const int opens = int(opened.names().size());
            const TriggerCount triggered(*window);
            clickAt(*window, at, true);
            // The double click does what one click did, and no more.
            EXPECT_NE(window->ribbon->currentPage(), page);
            EXPECT_EQ(triggered.counts(), once);
            EXPECT_EQ(window->commandPanel->featureId(), 0) << "a command panel opened";
            EXPECT_EQ(window->controller->history.size() - before, stepsOnce);
            EXPECT_EQ(int(opened.names().size()) - opens, opensOnce)
                << opened.names().join(QLatin1Char(' ')).toStdString();
        }
    }
    EXPECT_EQ(switching.join(u',').toStdString(), expected.join(u',').toStdString());
}

// Opening a part shows the part page: a click that follows at once where "Masse" stood on
// the page shown before takes nothing that now lies there; once the double-click interval
// has passed, a click there takes that command.
TEST(RibbonClick, AClickRightAfterOpeningAPartTakesNothing)
{
    for (const WindowSize size : {WindowSize{1280, 800}, WindowSize{1920, 1080}}) {
        SCOPED_TRACE(size.width);
        const int checkPage = pageTitled(QStringLiteral("Prüfen"));
        std::unique_ptr<MainWindow> window = windowShowing(size, {false, checkPage});
        ASSERT_NE(window, nullptr);
        QTemporaryDir dir;
        const QString part = dir.filePath(QStringLiteral("winkel.qcpart"));
        ASSERT_TRUE(window->controller->document->save(part));
        QToolButton* mass = buttonOf(*window->ribbon, QStringLiteral("Masse"));
        ASSERT_NE(mass, nullptr);
        const QPoint at = bringIntoView(*window, *mass);

        ASSERT_TRUE(window->openFile(part));
        ASSERT_NE(window->ribbon->currentPage(), checkPage);
        QWidget* now = window->childAt(at);
        const auto* under = qobject_cast<QToolButton*>(now);
        ASSERT_NE(under, nullptr) << "no command lies where the click lands";
        const QString taken = under->defaultAction()->text();
        {
            const TriggerCount triggered(*window);
            clickAt(*window, at, false);
            EXPECT_TRUE(triggered.counts().isEmpty()) << taken.toStdString();
            EXPECT_EQ(window->commandPanel->featureId(), 0);
        }
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        const TriggerCount triggered(*window);
        clickAt(*window, at, false);
        EXPECT_EQ(triggered.counts(), (QMap<QString, int>{{taken, 1}}));
    }
}

namespace {

// Holds the window up when a drawing window first shows, as a drawing of a large part does:
// longer than the double-click interval, so that the second click of a double click waits
// in the queue until the page has long changed.
class SlowDrawing : public QObject {
public:
    SlowDrawing() { qApp->installEventFilter(this); }
    bool held = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!held && event->type() == QEvent::Show
            && qobject_cast<qor::app::DrawingWindow*>(watched) != nullptr) {
            held = true;
            QThread::msleep(unsigned(QApplication::doubleClickInterval()) + 300);
        }
        return false;
    }
};

} // namespace

// In a sketch of the holed plate, "Zeichnung" on "Ausgabe" leaves the sketch (the part page
// comes) and opens the drawing, which keeps the window busy past the double-click interval:
// a double click there opens the one drawing and nothing of the part page, whatever lay under
// the pointer, for the second click's event time lies within the interval of the first.
TEST(RibbonClick, ADoubleClickThatKeepsTheWindowBusyDoesOneThing)
{
    const QString plate = QStringLiteral(QOR_WAVE9_FILES "/lochblech-100.qcpart");
    if (!QFileInfo::exists(plate))
        GTEST_SKIP() << "lochblech-100.qcpart is not there";
    for (const WindowSize size : {WindowSize{1280, 800}, WindowSize{1920, 1200}}) {
        SCOPED_TRACE(size.width);
        std::unique_ptr<MainWindow> window
            = windowShowing(size, {false, pageTitled(QStringLiteral("Volumenkörper")), false});
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(window->openFile(plate));
        ASSERT_EQ(window->controller->document->features.size(), 4u);
        window->enterSketch(window->controller->document->features.front()->id);
        ASSERT_NE(window->sketchEditor, nullptr);
        window->ribbon->setCurrentPage(window->outputPage);
        ASSERT_EQ(window->ribbon->currentPage(), window->outputPage);
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QToolButton* drawing = buttonOf(*window->ribbon, QStringLiteral("Zeichnung"));
        ASSERT_NE(drawing, nullptr);
        const QPoint at = bringIntoView(*window, *drawing);

        const SlowDrawing slow;
        const TriggerCount triggered(*window);
        clickAt(*window, at, true);
        EXPECT_TRUE(slow.held) << "no drawing window came up";
        EXPECT_EQ(window->sketchEditor, nullptr);
        EXPECT_NE(window->ribbon->currentPage(), window->outputPage);
        EXPECT_EQ(triggered.counts(), (QMap<QString, int>{{QStringLiteral("Zeichnung"), 1}}));
        EXPECT_EQ(window->controller->document->features.size(), 4u);
        EXPECT_EQ(window->commandPanel->featureId(), 0) << "a command panel opened";
        EXPECT_FALSE(window->commandPanel->isVisible());
        window->drawingWindows.removeAll(nullptr);
        EXPECT_EQ(window->drawingWindows.size(), 1);
        for (const QPointer<qor::app::DrawingWindow>& opened : window->drawingWindows)
            delete opened.data();
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, RibbonDoubleClick, ::testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::to_string(info.param.size.width) + "x"
                                    + std::to_string(info.param.size.height)
                                    + (info.param.sketchMode ? "Skizze" : "Teil");
                         });
