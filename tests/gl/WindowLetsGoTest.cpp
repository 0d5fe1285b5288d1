// The window says what a component left out, takes the plane chosen in the browser while it
// waits for one, and lets its floating panels go on Escape and when another document opens.

#include "app/MainWindow.h"
#include "app/shell/Browser.h"
#include "model/DocumentController.h"
#include "model/ExecContext.h"
#include "model/ShapeSignature.h"
#include "panels/MatePanel.h"
#include "panels/MeasurePanel.h"
#include "tests/common/CpuTime.h"
#include "tests/fixtures/HostileAssemblies.h"
#include "tests/gl/BoxPartFile.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHelpEvent>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QTreeWidgetItemIterator>
#include <gtest/gtest.h>

#include <functional>

using qor::app::MainWindow;
namespace browserKind = qor::app::browserKind;

namespace {

QString toastText(const MainWindow& window)
{
    return window.toast->findChild<QLabel*>(QStringLiteral("ToastText"))->text();
}

void saveWindow(MainWindow& window, const QString& name)
{
    window.grabWindowImage(&window).save(QStringLiteral(QOR_TEST_OUTPUT "/") + name);
}

// The whole screen, so that a tool tip standing over the window is in the picture.
void saveScreen(const QString& name)
{
    QApplication::processEvents();
    QGuiApplication::primaryScreen()->grabWindow(0).save(QStringLiteral(QOR_TEST_OUTPUT "/")
                                                         + name);
}

QTreeWidgetItem* browserItem(const qor::app::Browser& browser, int kind, int id)
{
    for (QTreeWidgetItemIterator it(const_cast<qor::app::Browser*>(&browser)); *it; ++it) {
        if ((*it)->data(0, Qt::UserRole).toInt() == kind
            && (*it)->data(0, Qt::UserRole + 1).toInt() == id)
            return *it;
    }
    return nullptr;
}

// The item shown and scrolled into view, with the point at the middle of its text.
QPoint itemPoint(qor::app::Browser& browser, QTreeWidgetItem* item)
{
    for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent())
        parent->setExpanded(true);
    browser.scrollToItem(item);
    QApplication::processEvents();
    return browser.visualItemRect(item).center();
}

// What the browser shows when the pointer rests on the item.
QString hoverText(qor::app::Browser& browser, QTreeWidgetItem* item)
{
    QToolTip::showText(QPoint(), QString()); // no earlier tip is left to read
    const QPoint at = itemPoint(browser, item);
    QHelpEvent help(QEvent::ToolTip, at, browser.viewport()->mapToGlobal(at));
    QApplication::sendEvent(browser.viewport(), &help);
    return QToolTip::text();
}

void clickItem(qor::app::Browser& browser, QTreeWidgetItem* item)
{
    QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, itemPoint(browser, item));
}

// The entries of the item's context menu as the browser's right click opens it.
QStringList contextEntries(MainWindow& window, int kind, int id)
{
    std::unique_ptr<QMenu> menu(window.browserMenu(kind, id));
    QStringList entries;
    if (menu) {
        for (const QAction* action : menu->actions()) {
            if (!action->isSeparator())
                entries.append(action->text());
        }
    }
    return entries;
}

void triggerEntry(MainWindow& window, int kind, int id, const QString& text)
{
    std::unique_ptr<QMenu> menu(window.browserMenu(kind, id));
    ASSERT_TRUE(menu);
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            action->trigger();
            return;
        }
    }
    ADD_FAILURE() << "no entry " << text.toStdString();
}

// Escape typed into the 3D view while it has the focus.
void escapeInView(MainWindow& window)
{
    window.viewer->setFocus();
    QTest::keyClick(window.viewer, Qt::Key_Escape);
    // What closed is gone, as the event loop leaves it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

class WindowLetsGoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    // Opens a box part and adds a work plane through it at half its height, whose feature
    // id workPlane receives.
    void openBoxWithWorkPlane(int& workPlane)
    {
        const QString part = dir.filePath(QStringLiteral("quader.qcpart"));
        ASSERT_TRUE(qor::test::saveBoxPart(part));
        ASSERT_TRUE(window.openFile(part));
        workPlane = window.controller->document
                        ->addFeature(QStringLiteral("plane"),
                                     {{QStringLiteral("offset"), QStringLiteral("10 mm")}})
                        ->id;
        window.controller->commit(QStringLiteral("Ebene"));
    }

    QTemporaryDir dir;
    MainWindow window;
};

// A component file with more bodies than a component takes: the insert toast and the
// component row's tool tip say how many of them it took; a complete one says nothing of it.
TEST_F(WindowLetsGoTest, ComponentRowAndInsertToastSayWhatWasLeftOut)
{
    const double cpuStart = qor::test::workCpuSeconds();
    const QString many
        = writeFile(QStringLiteral("viele.step"), qor::fixtures::stepDoublingAssembly(10));
    const QString one = writeFile(QStringLiteral("quader.step"), qor::fixtures::stepOneBox());
    const QString kept = QStringLiteral("999 von 1.024 Körpern übernommen");

    struct Case {
        QString file;
        QString toast;
        QString toolTip;
        bool warning; // the toast has the colour of a problem
    };
    const Case cases[] = {
        {many, QStringLiteral("„viele:1“ eingefügt und fixiert\n") + kept,
         many + QStringLiteral("\nfixiert\n") + kept, true},
        {one, QStringLiteral("„quader:1“ eingefügt – mit Beziehungen ausrichten"), one, false},
        {many, QStringLiteral("„viele:2“ eingefügt – mit Beziehungen ausrichten\n") + kept,
         many + QStringLiteral("\n") + kept, true},
    };
    const QString danger = qor::app::Theme::instance().danger.name();
    for (const Case& c : cases) {
        const qsizetype before = window.controller->document->components.size();
        window.insertComponent(c.file);

        const auto& components = window.controller->document->components;
        ASSERT_EQ(components.size(), std::size_t(before + 1));
        EXPECT_EQ(toastText(window).toStdString(), c.toast.toStdString());
        EXPECT_EQ(window.toast->styleSheet().contains(danger), c.warning);
        if (c.file == many && before == 0)
            saveWindow(window, QStringLiteral("window-component-toast.png"));
        QTreeWidgetItem* row
            = browserItem(*window.browser, browserKind::component, components.back().id);
        ASSERT_TRUE(row);
        EXPECT_EQ(hoverText(*window.browser, row).toStdString(), c.toolTip.toStdString());
        if (c.file == many && before > 0)
            saveScreen(QStringLiteral("window-component-tooltip.png"));
    }
    EXPECT_LT(qor::test::workCpuSeconds() - cpuStart, 60.0);
}

// The plane of the sketch being edited, as its feature names it.
QJsonObject sketchPlane(const MainWindow& window)
{
    if (!window.sketchEditor)
        return {};
    const qor::model::Feature* sketch
        = window.controller->document->feature(window.sketchEditor->featureId());
    return sketch ? sketch->params.value(QStringLiteral("plane")).toObject() : QJsonObject();
}

// While a new sketch waits for its plane, a click on an origin plane or a work plane in the
// browser starts the sketch on it, though the plane lies inside the part's outline; without
// the wait a click there starts nothing. A work plane's menu starts a sketch as an origin
// plane's does.
TEST_F(WindowLetsGoTest, PlaneChosenInTheBrowserCarriesTheSketch)
{
    int workPlane = 0;
    ASSERT_NO_FATAL_FAILURE(openBoxWithWorkPlane(workPlane));
    const QJsonObject onWorkPlane{{QStringLiteral("kind"), QStringLiteral("feature")},
                                  {QStringLiteral("id"), workPlane}};

    QTreeWidgetItem* xz = browserItem(*window.browser, browserKind::originPlane, -2);
    ASSERT_TRUE(xz);
    EXPECT_EQ(xz->text(0), QStringLiteral("XZ-Ebene"));
    struct Case {
        const char* name;
        int kind;
        int id;
        QJsonObject plane;
        double originZ; // of the sketch plane
    };
    const Case cases[] = {
        {"XZ-Ebene", browserKind::originPlane, -2, qor::model::datumReferenceJson(-2), 0.0},
        {"work plane", browserKind::workPlane, workPlane, onWorkPlane, 10.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t features = window.controller->document->features.size();
        clickItem(*window.browser, browserItem(*window.browser, c.kind, c.id));
        EXPECT_FALSE(window.sketchEditor) << "a click without a wait for a plane sketched";

        window.browser->rebuild();
        window.actions.value(QStringLiteral("sketch"))->trigger();
        ASSERT_TRUE(window.property("pickPlane").toBool());
        // The origin group lists its planes from the start: they stand in view to be clicked.
        EXPECT_TRUE(browserItem(*window.browser, c.kind, c.id)->parent()->isExpanded());
        clickItem(*window.browser, browserItem(*window.browser, c.kind, c.id));
        ASSERT_TRUE(window.sketchEditor);
        EXPECT_FALSE(window.property("pickPlane").toBool());
        EXPECT_EQ(sketchPlane(window), c.plane);
        EXPECT_NEAR(window.sketchEditor->plane().Location().Z(), c.originZ, 1e-9);
        if (c.kind == browserKind::originPlane)
            saveWindow(window, QStringLiteral("window-sketch-on-xz.png"));
        window.finishSketch(false);
        EXPECT_EQ(window.controller->document->features.size(), features);
        EXPECT_EQ(window.scene->selectionMask(), qor::app::mask::standard);
    }

    EXPECT_TRUE(contextEntries(window, browserKind::workPlane, workPlane)
                    .contains(QStringLiteral("Skizze auf dieser Ebene")));
    // Chosen from the menu while the window waits for a plane: the wait ends with it.
    window.actions.value(QStringLiteral("sketch"))->trigger();
    triggerEntry(window, browserKind::workPlane, workPlane,
                 QStringLiteral("Skizze auf dieser Ebene"));
    ASSERT_TRUE(window.sketchEditor);
    EXPECT_EQ(sketchPlane(window), onWorkPlane);
    EXPECT_FALSE(window.property("pickPlane").toBool());
    window.finishSketch(true);
    ASSERT_FALSE(window.sketchEditor);
    // Nothing waits for a plane any more: a click on XZ starts no second sketch.
    clickItem(*window.browser, browserItem(*window.browser, browserKind::originPlane, -2));
    EXPECT_FALSE(window.sketchEditor);
}

// Each row the browser shows, by its text, with its place in the window.
QStringList rowPlaces(const MainWindow& window)
{
    const qor::app::Browser& browser = *window.browser;
    QStringList places;
    for (QTreeWidgetItemIterator it(const_cast<qor::app::Browser*>(&browser)); *it; ++it) {
        const QRect row = browser.visualItemRect(*it);
        if (!row.isEmpty() && browser.viewport()->rect().intersects(row)) {
            const QPoint at = browser.viewport()->mapTo(&window, row.topLeft());
            places << QStringLiteral("%1 @ %2,%3").arg((*it)->text(0)).arg(at.x()).arg(at.y());
        }
    }
    return places;
}

// The wait for a sketch plane moves no row of the browser, whether the origin group is open
// as the tree starts or the user folded it: a click aimed at the work plane before the wait
// takes the work plane during it.
TEST_F(WindowLetsGoTest, PlaneWaitMovesNoBrowserRow)
{
    int workPlane = 0;
    ASSERT_NO_FATAL_FAILURE(openBoxWithWorkPlane(workPlane));
    const QJsonObject onWorkPlane{{QStringLiteral("kind"), QStringLiteral("feature")},
                                  {QStringLiteral("id"), workPlane}};
    for (const bool folded : {false, true}) {
        SCOPED_TRACE(folded ? "origin folded by the user" : "origin as the tree starts");
        if (folded)
            browserItem(*window.browser, browserKind::originGroup, 0)->setExpanded(false);
        window.browser->rebuild();
        QApplication::processEvents();
        const QStringList before = rowPlaces(window);
        QTreeWidgetItem* aimed = browserItem(*window.browser, browserKind::workPlane, workPlane);
        ASSERT_TRUE(aimed);
        const QRect row = window.browser->visualItemRect(aimed);
        ASSERT_FALSE(row.isEmpty());
        const QPoint pointer = window.browser->viewport()->mapTo(&window, row.center());

        window.actions.value(QStringLiteral("sketch"))->trigger();
        QApplication::processEvents();
        ASSERT_TRUE(window.property("pickPlane").toBool());
        EXPECT_EQ(rowPlaces(window).join(QLatin1Char('\n')).toStdString(),
                  before.join(QLatin1Char('\n')).toStdString());
        if (!folded)
            saveWindow(window, QStringLiteral("window-plane-wait.png"));
        QTest::mouseClick(window.browser->viewport(), Qt::LeftButton, {},
                          window.browser->viewport()->mapFrom(&window, pointer));
        ASSERT_TRUE(window.sketchEditor);
        EXPECT_EQ(sketchPlane(window), onWorkPlane);
        window.finishSketch(false);
    }
}

// Escape in the 3D view closes the mate panel (reverting what it did) and the measure box.
TEST_F(WindowLetsGoTest, EscapeInTheViewClosesTheMatePanelAndTheMeasureBox)
{
    const QString box = writeFile(QStringLiteral("quader.step"), qor::fixtures::stepOneBox());
    window.insertComponent(box);
    window.insertComponent(box);
    ASSERT_EQ(window.controller->document->components.size(), 2u);
    const int steps = int(window.controller->history.size());

    window.actions.value(QStringLiteral("mate_planar"))->trigger();
    ASSERT_TRUE(window.matePanel);
    EXPECT_GT(window.viewer->coveredLeft(), 0);
    saveWindow(window, QStringLiteral("window-mate-panel.png"));
    escapeInView(window);
    EXPECT_FALSE(window.matePanel) << "Escape left the mate panel open";
    EXPECT_EQ(window.viewer->coveredLeft(), 0);
    EXPECT_TRUE(window.controller->document->mates.empty());
    EXPECT_EQ(int(window.controller->history.size()), steps);
    EXPECT_EQ(window.scene->selectionMask(), qor::app::mask::standard);

    window.actions.value(QStringLiteral("measure"))->trigger();
    ASSERT_TRUE(window.measurePanel);
    EXPECT_GT(window.viewer->coveredRight(), 0);
    saveWindow(window, QStringLiteral("window-measure-open.png"));
    escapeInView(window);
    EXPECT_FALSE(window.measurePanel) << "Escape left the measure box open";
    EXPECT_EQ(window.viewer->coveredRight(), 0);
    EXPECT_EQ(window.scene->selectionMask(), qor::app::mask::standard);
    saveWindow(window, QStringLiteral("window-after-escape.png"));
}

// Another document, opened, new or an example, closes the measure box, and the view frames it
// without room kept for the box that is gone.
TEST_F(WindowLetsGoTest, AnotherDocumentClosesTheMeasureBox)
{
    const QString box = writeFile(QStringLiteral("quader.step"), qor::fixtures::stepOneBox());
    window.insertComponent(box);
    window.insertComponent(box);
    const QString part = dir.filePath(QStringLiteral("quader.qcpart"));
    ASSERT_TRUE(qor::test::saveBoxPart(part));
    const std::pair<const char*, std::function<void()>> replacements[] = {
        {"open", [&] { ASSERT_TRUE(window.openFile(part)); }},
        {"new", [&] { window.actions.value(QStringLiteral("new"))->trigger(); }},
        {"example", [&] { window.createExample(QStringLiteral("flange")); }},
    };
    for (const auto& [name, replace] : replacements) {
        SCOPED_TRACE(name);
        if (!window.measurePanel) // the command toggles
            window.actions.value(QStringLiteral("measure"))->trigger();
        ASSERT_TRUE(window.measurePanel);
        replace();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(window.measurePanel) << "the measure box went on into the next document";
        EXPECT_FALSE(window.findChild<qor::app::MeasurePanel*>());
        EXPECT_EQ(window.viewer->coveredRight(), 0);
        EXPECT_EQ(window.scene->selectionMask(), qor::app::mask::standard);
        // The next document is framed in the middle of the whole view, with no room kept
        // on the right for a box that is gone.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.viewer->animating(); }, 10000));
        const Bnd_Box model = qor::model::modelBox(window.controller->document->current);
        if (model.IsVoid())
            continue;
        EXPECT_TRUE(window.viewer->showsWhole(model));
        const QRect shown = window.viewer->screenBox(model);
        EXPECT_NEAR(shown.center().x(), window.viewer->width() / 2, window.viewer->width() / 20)
            << shown.left() << ".." << shown.right() << " of " << window.viewer->width();
    }
    saveWindow(window, QStringLiteral("window-next-document.png"));
}

} // namespace
