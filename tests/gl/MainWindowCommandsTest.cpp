#include "app/CommandTable.h"
#include "app/MainWindow.h"
#include "app/shell/Browser.h"
#include "app/shell/Ribbon.h"
#include "drawing/window/DrawingWindow.h"
#include "model/DocumentController.h"
#include "model/References.h"
#include "panels/CommandPanel.h"
#include "panels/MatePanel.h"
#include "panels/dialogs/AppearanceDialog.h"
#include "tests/fixtures/StlFixtures.h"
#include "tests/gl/BoxPartFile.h"
#include "tests/gl/ShowViewer.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidgetItemIterator>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using qor::app::MainWindow;
using qor::sketch::Vec2;

namespace {

// Runs `trigger` while a timer waits for the modal window it opens and hands that window to
// `handle`, which must close it; returns whether a modal window came up.
bool whileModal(const std::function<void()>& trigger, const std::function<void(QWidget*)>& handle)
{
    bool seen = false;
    QTimer poll;
    poll.setInterval(30);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && !seen) {
            seen = true;
            handle(modal);
        }
    });
    poll.start();
    trigger();
    return seen;
}

// Answers the one-line text prompt with `text`, or cancels it when `text` is null.
std::function<void(QWidget*)> answerPrompt(const QString& text)
{
    return [text](QWidget* prompt) {
        EXPECT_EQ(prompt->windowTitle(), QStringLiteral("Skizzenverrundung"));
        if (text.isNull()) {
            static_cast<QDialog*>(prompt)->reject();
            return;
        }
        prompt->findChild<QLineEdit*>()->setText(text);
        static_cast<QDialog*>(prompt)->accept();
    };
}

// The dialog's combo that offers the item data.
QComboBox* comboOffering(QWidget* dialog, const QVariant& data)
{
    for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
        if (combo->findData(data) >= 0)
            return combo;
    }
    return nullptr;
}

// Share of the pixels in a square around the point that stand out from the background of
// their row (the view's background is a vertical gradient; the left edge shows it).
double coveredShare(const QImage& image, QPoint centre, int half)
{
    int covered = 0;
    int all = 0;
    for (int y = centre.y() - half; y <= centre.y() + half; ++y) {
        const QColor background = image.pixelColor(2, y);
        for (int x = centre.x() - half; x <= centre.x() + half; ++x) {
            const QColor c = image.pixelColor(x, y);
            const int difference = std::max({std::abs(c.red() - background.red()),
                                             std::abs(c.green() - background.green()),
                                             std::abs(c.blue() - background.blue())});
            covered += difference > 30 ? 1 : 0;
            ++all;
        }
    }
    return double(covered) / all;
}

// The middle of the shape's front side, the one towards −Y.
gp_Pnt frontCentre(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box, false);
    double x0, y0, z0, x1, y1, z1;
    box.Get(x0, y0, z0, x1, y1, z1);
    return gp_Pnt((x0 + x1) / 2, y0, (z0 + z1) / 2);
}

class MainWindowCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qor::test::showWithViewer(window, *window.viewer, 1280, 800));
    }

    qor::model::Document& document() { return *window.controller->document; }
    QAction* action(const char* id) { return window.actions.value(QString::fromLatin1(id)); }
    const Handle(Graphic3d_Camera)& camera() { return window.viewer->view()->Camera(); }

    QToolButton* overlayButton(const QString& toolTip)
    {
        for (QToolButton* button : window.floatingBar->findChildren<QToolButton*>()) {
            if (button->toolTip() == toolTip)
                return button;
        }
        return nullptr;
    }

    QTreeWidgetItem* browserItem(int kind, int id)
    {
        for (QTreeWidgetItemIterator it(window.browser); *it; ++it) {
            if ((*it)->data(0, Qt::UserRole) == kind && (*it)->data(0, Qt::UserRole + 1) == id)
                return *it;
        }
        return nullptr;
    }

    QPoint browserCell(int kind, int id, int column)
    {
        QTreeWidgetItem* item = browserItem(kind, id);
        EXPECT_NE(item, nullptr) << kind << " " << id;
        return window.browser->visualRect(window.browser->indexFromItem(item, column)).center();
    }

    int firstBodyId() { return document().current.bodies.get().begin()->first; }

    QString toastText() { return window.toast->findChild<QLabel*>()->text(); }

    MainWindow window;
};

TEST_F(MainWindowCommandsTest, EveryCommandHasItsHandlerAndOnlyTheHistoryAndTheRestAreGreyAtStart)
{
    ASSERT_EQ(window.actions.size(), 101);
    for (const qor::app::CommandSpec& spec : qor::app::commandTable()) {
        const std::string id = spec.id.toStdString();
        EXPECT_TRUE(window.commandHandler(spec)) << id;
        QAction* command = window.actions.value(spec.id);
        ASSERT_NE(command, nullptr) << id;
        EXPECT_TRUE(window.QWidget::actions().contains(command)) << id;
        EXPECT_FALSE(command->icon().isNull()) << id;
        EXPECT_EQ(command->isVisible(), spec.id != QStringLiteral("f_import")) << id;
        if (!spec.shortcut.isEmpty())
            EXPECT_EQ(command->shortcutContext(), Qt::WindowShortcut) << id;
        // Nothing was left out of a display yet.
        const bool grey = spec.id == QStringLiteral("undo") || spec.id == QStringLiteral("redo")
                          || spec.id == QStringLiteral("showrest");
        if (spec.id != QStringLiteral("f_import"))
            EXPECT_EQ(command->isEnabled(), !grey) << id;
    }
    // Nothing on the ribbon is grey either, but the way back after a cancelled display.
    for (QToolButton* button : window.ribbon->findChildren<QToolButton*>()) {
        if (button->defaultAction() != nullptr)
            EXPECT_EQ(button->isEnabled(),
                      button->defaultAction() != window.actions.value(QStringLiteral("showrest")))
                << button->text().toStdString();
    }
}

TEST_F(MainWindowCommandsTest, EnablementFollowsSketchModeBusyPanelsAndHistory)
{
    const auto enabled = [this](std::initializer_list<const char*> ids) {
        QStringList states;
        for (const char* id : ids)
            states << (action(id)->isEnabled() ? QStringLiteral("on") : QStringLiteral("off"));
        return states.join(QLatin1Char(' '));
    };
    const auto modelling = {"sketch", "f_extrude", "f_axis"};
    const auto always = {"sk_line", "c_fix", "measure", "fit", "delete", "view_top", "sk_fillet"};
    EXPECT_EQ(enabled({"undo", "redo"}), QStringLiteral("off off"));
    EXPECT_EQ(action("undo")->toolTip(), QStringLiteral("Rückgängig"));

    document().addFeature(QStringLiteral("box"));
    window.controller->commit(QStringLiteral("Quader erstellen"));
    EXPECT_EQ(enabled({"undo", "redo"}), QStringLiteral("on off"));
    EXPECT_EQ(action("undo")->toolTip(), QStringLiteral("Rückgängig: Quader erstellen"));
    EXPECT_EQ(enabled(modelling), QStringLiteral("on on on"));

    // Busy: the feature panel edits a feature.
    window.createFeature(QStringLiteral("extrude"), {});
    EXPECT_EQ(enabled(modelling), QStringLiteral("off off off"));
    EXPECT_EQ(enabled({"undo", "redo"}), QStringLiteral("off off"));
    EXPECT_EQ(enabled(always), QStringLiteral("on on on on on on on"));
    window.commandPanel->cancel();

    // Sketch mode: the editor's own history counts.
    window.newSketch(qor::model::datumReferenceJson(-1));
    EXPECT_EQ(enabled(modelling), QStringLiteral("off off off"));
    EXPECT_EQ(enabled(always), QStringLiteral("on on on on on on on"));
    EXPECT_EQ(enabled({"undo", "redo"}), QStringLiteral("off off"));
    const int line = int(window.sketchEditor->sketch().addLineAt(false, 0, 0, 10, 0));
    window.sketchEditor->state.selectedEntities = {line};
    window.sketchEditor->toggleConstruction();
    EXPECT_EQ(enabled({"undo", "redo"}), QStringLiteral("on off"));
    window.finishSketch(false);
    EXPECT_EQ(enabled(modelling), QStringLiteral("on on on"));
}

TEST_F(MainWindowCommandsTest, StandardViewKeysAndButtonsTurnTheCamera)
{
    window.createExample(QStringLiteral("bracket"));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const double s = 1.0 / std::sqrt(3.0);
    struct Case {
        Qt::Key key;
        const char* button;
        gp_Dir direction; // from the eye towards the model
    };
    const Case cases[] = {
        {Qt::Key_1, "Vorne (1)", gp_Dir(0, 1, 0)},
        {Qt::Key_7, "Oben (7)", gp_Dir(0, 0, -1)},
        {Qt::Key_3, "Rechts (3)", gp_Dir(-1, 0, 0)},
        {Qt::Key_0, "Isometrisch (0)", gp_Dir(-s, s, -s)},
    };
    for (const Case& c : cases) {
        window.viewer->setViewOrientation(V3d_Zneg, false);
        QTest::keyClick(window.viewer, c.key);
        QTRY_VERIFY_WITH_TIMEOUT(camera()->Direction().IsEqual(c.direction, 1e-6), 5000);
        window.viewer->setViewOrientation(V3d_Zneg, false);
        overlayButton(QString::fromUtf8(c.button))->click();
        QTRY_VERIFY_WITH_TIMEOUT(camera()->Direction().IsEqual(c.direction, 1e-6), 5000);
    }

    // A new example is seen in depth, whatever view was set before.
    window.viewer->setViewOrientation(V3d_Zpos, false);
    window.createExample(QStringLiteral("flange"));
    EXPECT_TRUE(camera()->Direction().IsEqual(gp_Dir(-s, s, -s), 1e-6));
}

TEST_F(MainWindowCommandsTest, LookAtTurnsOntoAPlanarFaceOrTheOpenSketch)
{
    document().addFeature(QStringLiteral("box"), {{"length", 40}, {"width", 30}, {"height", 20}});
    document().addFeature(QStringLiteral("cylinder"), {{"x", 100}, {"op", "new"}});
    window.controller->commit(QStringLiteral("Körper"));
    QToolButton* lookAt = overlayButton(QStringLiteral("Senkrecht auf Auswahl / Skizze"));
    ASSERT_NE(lookAt, nullptr);
    ASSERT_TRUE(lookAt->isEnabled());

    const auto select = [this](const gp_Pnt& point) {
        window.viewer->setViewOrientation(V3d_XposYnegZpos, false);
        Standard_Integer x = 0, y = 0;
        window.viewer->view()->Convert(point.X(), point.Y(), point.Z(), x, y);
        window.viewer->context()->MoveTo(x, y, window.viewer->view(), false);
        window.viewer->context()->SelectDetected(AIS_SelectionScheme_Replace);
        ASSERT_EQ(window.scene->selectedPicks().size(), 1u);
    };
    // The middle of the front side (towards −Y) of each body, box first.
    std::vector<gp_Pnt> fronts;
    for (const auto& [id, body] : document().current.bodies.get())
        fronts.push_back(frontCentre(body.shape));
    ASSERT_EQ(fronts.size(), 2u);
    const double s = 1.0 / std::sqrt(3.0);
    const gp_Dir iso(-s, s, -s);
    // The box's front face: the camera looks along +Y onto it.
    select(fronts[0]);
    lookAt->click();
    QTRY_VERIFY_WITH_TIMEOUT(camera()->Direction().IsEqual(gp_Dir(0, 1, 0), 1e-6), 5000);

    // The cylinder's mantle has no plane: the view stays.
    select(fronts[1]);
    EXPECT_EQ(window.scene->selectedPicks().front().kind, 1);
    lookAt->click();
    QTest::qWait(600);
    EXPECT_TRUE(camera()->Direction().IsEqual(iso, 1e-6));

    // In sketch mode onto the sketch plane, whatever is selected.
    window.scene->clearSelection();
    window.newSketch(qor::model::datumReferenceJson(-3));
    ASSERT_NE(window.sketchEditor, nullptr);
    window.viewer->setViewOrientation(V3d_XposYnegZpos, false);
    lookAt->click();
    QTRY_VERIFY_WITH_TIMEOUT(camera()->Direction().IsEqual(gp_Dir(-1, 0, 0), 1e-6), 5000);
}

TEST_F(MainWindowCommandsTest, DeleteRemovesTheSketchSelectionAndNothingOutside)
{
    window.createExample(QStringLiteral("bracket"));
    const std::size_t features = document().features.size();
    const int index = window.controller->index;
    window.scene->clearSelection();
    action("delete")->trigger();
    EXPECT_EQ(document().features.size(), features);
    EXPECT_EQ(window.controller->index, index);

    window.newSketch(qor::model::datumReferenceJson(-1));
    qor::app::SketchEditor& editor = *window.sketchEditor;
    const int kept = int(editor.sketch().addLineAt(false, 0, 0, 40, 0));
    const int doomed = int(editor.sketch().addLineAt(false, 0, 10, 40, 10));
    editor.commitChange();
    editor.state.selectedEntities = {doomed};
    action("delete")->trigger();
    EXPECT_EQ(editor.sketch().findEntity(doomed), nullptr);
    EXPECT_NE(editor.sketch().findEntity(kept), nullptr);
    EXPECT_FALSE(editor.history.undoStack.empty());
}

TEST_F(MainWindowCommandsTest, FilletPromptSetsTheRadiusAndStartsTheFilletTool)
{
    // Without a sketch the command asks nothing.
    EXPECT_FALSE(whileModal([&] { action("sk_fillet")->trigger(); }, answerPrompt(QString())));

    qor::model::Parameter thickness;
    thickness.name = QStringLiteral("Dicke");
    thickness.expr = QStringLiteral("12 mm");
    document().parameters.push_back(thickness);
    window.controller->commit(QStringLiteral("Parameter"));
    window.newSketch(qor::model::datumReferenceJson(-1));
    window.viewer->lookAt(window.sketchEditor->plane(), false);
    qor::app::SketchEditor& editor = *window.sketchEditor;
    struct Case {
        QString answer; // null: cancelled
        double radius; // afterwards
        int tool; // afterwards
    };
    const Case cases[] = {
        {QString(), 5.0, 0},
        {QStringLiteral("-2"), 5.0, 12},
        {QStringLiteral("Wert"), 5.0, 12},
        {QStringLiteral("Dicke / 4 + 1"), 4.0, 12},
        {QStringLiteral("3"), 3.0, 12},
    };
    editor.filletRadius = 5.0;
    for (const Case& c : cases) {
        editor.setTool(0);
        EXPECT_TRUE(whileModal([&] { action("sk_fillet")->trigger(); }, answerPrompt(c.answer)));
        EXPECT_DOUBLE_EQ(editor.filletRadius, c.radius) << c.answer.toStdString();
        EXPECT_EQ(editor.state.tool, c.tool) << c.answer.toStdString();
    }

    // The started tool rounds a corner with the radius given.
    qor::sketch::Sketch& sketch = editor.sketch();
    const int corner = int(sketch.addPoint(true, 0, 0));
    const int first = int(sketch.addLine(corner, int(sketch.addPoint(true, 30, 0)), false));
    sketch.addLine(corner, int(sketch.addPoint(true, 0, 30)), false);
    editor.commitChange();
    QTest::mouseClick(window.viewer, Qt::LeftButton, {},
                      editor.mapper().toPixel(Vec2{0, 0}).toPoint());
    EXPECT_EQ(sketch.findEntity(corner), nullptr);
    EXPECT_NEAR((sketch.pointPosition(sketch.startPoint(first)) - Vec2{3, 0}).length(), 0.0, 1e-6);
}

TEST_F(MainWindowCommandsTest, BrowserSignalsReachTheWindow)
{
    window.createExample(QStringLiteral("bracket"));
    const int body = firstBodyId();
    const auto originRecords = [this] {
        int count = 0;
        for (const auto& [object, record] : window.scene->pickMap())
            count += record.kind == 5 ? 1 : 0;
        return count;
    };
    // The origin's eye shows the origin planes and follows their state.
    for (const bool shown : {true, false}) {
        QTest::mouseClick(window.browser->viewport(), Qt::LeftButton, {},
                          browserCell(qor::app::browserKind::originGroup, 0, 1));
        EXPECT_EQ(window.scene->originVisible(), shown);
        EXPECT_EQ(originRecords(), shown ? 3 : 0);
        EXPECT_EQ(browserItem(qor::app::browserKind::originGroup, 0)->toolTip(1),
                  shown ? QStringLiteral("Ausblenden") : QStringLiteral("Einblenden"));
    }

    // A click on a body flashes it for a moment.
    const Handle(AIS_InteractiveObject) object = window.scene->bodyObject(body);
    ASSERT_FALSE(object.IsNull());
    QTest::mouseClick(window.browser->viewport(), Qt::LeftButton, {},
                      browserCell(qor::app::browserKind::body, body, 0));
    EXPECT_TRUE(window.viewer->context()->IsHilighted(object));
    QTest::qWait(400);
    EXPECT_TRUE(window.viewer->context()->IsHilighted(object));
    QTRY_VERIFY_WITH_TIMEOUT(!window.viewer->context()->IsHilighted(object), 2000);
}

// The bracket is aluminium; every way to the appearance dialog shows that, and "Übernehmen"
// without a choice keeps it.
TEST_F(MainWindowCommandsTest, AppearanceOpensForTheBodyItCameFromAndKeepsItsMaterial)
{
    window.createExample(QStringLiteral("bracket"));
    const int body = firstBodyId();
    struct Case {
        const char* way;
        std::function<void()> open;
        int target; // data of "Anwenden auf"
    };
    const std::vector<Case> cases = {
        {"double-click in the browser",
         [&] {
             // A double click follows the press and release of a first click.
             const QPoint cell = browserCell(qor::app::browserKind::body, body, 0);
             QTest::mouseClick(window.browser->viewport(), Qt::LeftButton, {}, cell);
             QTest::mouseDClick(window.browser->viewport(), Qt::LeftButton, {}, cell);
         },
         body},
        {"browser menu",
         [&] {
             std::unique_ptr<QMenu> menu(window.browserMenu(qor::app::browserKind::body, body));
             menu->actions().front()->trigger();
         },
         body},
        {"command with nothing selected", [&] { action("appearance")->trigger(); }, 0},
    };
    for (const Case& c : cases) {
        window.scene->clearSelection();
        const bool opened = whileModal(c.open, [&](QWidget* modal) {
            if (qobject_cast<qor::app::AppearanceDialog*>(modal) == nullptr) {
                ADD_FAILURE() << c.way << ": " << modal->windowTitle().toStdString();
                modal->close();
                return;
            }
            EXPECT_EQ(comboOffering(modal, body)->currentData(), c.target) << c.way;
            EXPECT_EQ(comboOffering(modal, QStringLiteral("Aluminium"))->currentData(),
                      QStringLiteral("Aluminium"))
                << c.way;
            for (QPushButton* button : modal->findChildren<QPushButton*>()) {
                if (button->text() == QStringLiteral("Übernehmen"))
                    button->click();
            }
        });
        EXPECT_TRUE(opened) << c.way;
        EXPECT_EQ(document().bodyAppearance(body).material, QStringLiteral("Aluminium")) << c.way;
    }
}

TEST_F(MainWindowCommandsTest, DisplayStyleChangesBodiesOnScreenAndNewOnes)
{
    document().addFeature(QStringLiteral("box"), {{"length", 40}, {"width", 40}, {"height", 40}});
    window.controller->commit(QStringLiteral("Quader"));
    window.viewer->setViewOrientation(V3d_Yneg, false);
    QToolButton* display = overlayButton(QStringLiteral("Darstellung"));
    ASSERT_NE(display, nullptr);
    const auto choose = [display](const QString& style) {
        for (QAction* entry : display->menu()->actions()) {
            if (entry->text() == style)
                entry->trigger();
        }
    };
    // The middle of each box's front face, seen from the front: shaded it is filled, as a
    // wireframe it lies between the outline edges.
    const auto shares = [this] {
        window.viewer->fitAll(false);
        const QImage image = window.viewer->grabFramebuffer();
        std::vector<double> found;
        for (const auto& [id, body] : document().current.bodies.get())
            found.push_back(
                coveredShare(image, window.viewer->toScreen(frontCentre(body.shape)), 8));
        return found;
    };

    EXPECT_GT(shares().at(0), 0.9);
    choose(QStringLiteral("Drahtmodell"));
    EXPECT_LT(shares().at(0), 0.1);
    // A body made now follows the style, and both change with it.
    document().addFeature(
        QStringLiteral("box"),
        {{"x", 80}, {"length", 40}, {"width", 40}, {"height", 40}, {"op", "new"}});
    window.controller->commit(QStringLiteral("Quader"));
    ASSERT_EQ(shares().size(), 2u);
    for (double share : shares())
        EXPECT_LT(share, 0.1);
    window.viewer->grabFramebuffer().save(QStringLiteral(QOR_TEST_OUTPUT "/display-wire.png"));
    for (const char* style : {"Schattiert mit Kanten", "Schattiert"}) {
        choose(QString::fromUtf8(style));
        for (double share : shares())
            EXPECT_GT(share, 0.9) << style;
    }
    window.viewer->grabFramebuffer().save(QStringLiteral(QOR_TEST_OUTPUT "/display-shaded.png"));
}

TEST_F(MainWindowCommandsTest, SketchModeRefusesComponentsAndMatesWithoutAnUndoStep)
{
    QTemporaryDir dir;
    const QString part = dir.filePath(QStringLiteral("Welle.qcpart"));
    ASSERT_TRUE(qor::test::saveBoxPart(part));
    const auto inSketch = [this](const std::function<void()>& attempt) {
        window.newSketch(qor::model::datumReferenceJson(-1));
        EXPECT_NE(window.sketchEditor, nullptr);
        const std::size_t entries = window.controller->history.size();
        const std::size_t components = document().components.size();
        attempt();
        EXPECT_EQ(window.controller->history.size(), entries);
        EXPECT_EQ(document().components.size(), components);
        EXPECT_TRUE(window.matePanel.isNull());
        window.finishSketch(false);
    };
    inSketch([&] { window.insertComponent(part); });
    // Refused before the file dialog would ask.
    inSketch([&] {
        EXPECT_FALSE(whileModal([&] { action("asm_insert")->trigger(); },
                                [](QWidget* modal) { modal->close(); }));
    });
    window.insertComponent(part);
    window.insertComponent(part);
    ASSERT_EQ(document().components.size(), 2u);
    inSketch([&] { action("mate_planar")->trigger(); });
    inSketch([&] { window.showMatePanel(QStringLiteral("flush")); });
    // Out of sketch mode the panel opens.
    window.showMatePanel(QStringLiteral("planar"));
    EXPECT_FALSE(window.matePanel.isNull());
}

TEST_F(MainWindowCommandsTest, DrawingFromSketchModeShowsThePartUnderAWaitCursor)
{
    window.createExample(QStringLiteral("flange"));
    window.enterSketch(document().features.front()->id);
    ASSERT_NE(window.sketchEditor, nullptr);
    action("drawing")->trigger();
    EXPECT_EQ(window.sketchEditor, nullptr);
    ASSERT_FALSE(window.drawingWindows.isEmpty());
    qor::app::DrawingWindow* drawing = window.drawingWindows.back();
    ASSERT_NE(drawing, nullptr);
    EXPECT_NE(toastText(), QStringLiteral("Es gibt noch keine Körper für eine Zeichnung"));
    ASSERT_FALSE(drawing->sheet().views.empty());

    // A fresh projection runs under the wait cursor, which is gone afterwards.
    drawing->projections.clear();
    const auto show = drawing->projections.onProjecting;
    int waiting = 0;
    drawing->projections.onProjecting = [&](bool working) {
        show(working);
        const QCursor* cursor = QGuiApplication::overrideCursor();
        waiting += working && cursor != nullptr && cursor->shape() == Qt::WaitCursor ? 1 : 0;
    };
    const auto& view = drawing->projections.projectedView(drawing->document(), drawing->sheet(),
                                                          drawing->sheet().views.front());
    EXPECT_FALSE(view.primitives.empty());
    EXPECT_EQ(waiting, 1);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    drawing->close();
}

TEST_F(MainWindowCommandsTest, ImportShowsItsProgressWithoutAWaitCursor)
{
    QTemporaryDir dir;
    const QString mesh = dir.filePath(QStringLiteral("tetra.stl"));
    QFile file(mesh);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(qor::fixtures::binaryStl(qor::fixtures::tetrahedron(-10), 4));
    file.close();
    bool looked = false;
    bool waiting = true;
    // Runs in the event processing the import's progress does.
    QTimer::singleShot(0, [&] {
        looked = true;
        waiting = QGuiApplication::overrideCursor() != nullptr;
    });
    window.importFile(mesh);
    ASSERT_TRUE(looked);
    EXPECT_FALSE(waiting);
    EXPECT_EQ(document().features.size(), 1u);
}

TEST_F(MainWindowCommandsTest, FileMenuListsItsCommandsAndRecentFilesByName)
{
    QMenu* menu = nullptr;
    for (QToolButton* button : window.findChildren<QToolButton*>(QStringLiteral("TitleButton"))) {
        if (button->property("fileMenu").toBool())
            menu = button->menu();
    }
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction* entry : menu->actions()) {
        entries << (entry->isSeparator() ? QStringLiteral("|") : entry->text());
        if (entry->menu() != nullptr)
            EXPECT_FALSE(entry->icon().isNull()) << entry->text().toStdString();
    }
    EXPECT_EQ(entries.join(QLatin1Char(',')),
              QStringLiteral("Neu,Öffnen …,Speichern,Speichern unter …,|,Zuletzt geöffnet,|,"
                             "Import,Export,|,Beispiele,|,Nach Updates suchen,Über QorCAD,|,"
                             "Beenden"));

    const auto recentEntries = [this] {
        emit window.recentMenu->aboutToShow();
        QStringList shown;
        for (QAction* entry : window.recentMenu->actions())
            shown << QStringLiteral("%1 [%2]%3")
                         .arg(entry->text(), entry->toolTip(), entry->isEnabled() ? "" : " off");
        return shown;
    };
    window.recent.clear();
    EXPECT_EQ(recentEntries(), QStringList{"(keine) [(keine)] off"});
    window.recent
        = {QStringLiteral("/daten/teile/Welle.qcpart"), QStringLiteral("/daten/alt/Flansch.qcasm")};
    EXPECT_EQ(recentEntries(), (QStringList{"Welle.qcpart [/daten/teile/Welle.qcpart]",
                                            "Flansch.qcasm [/daten/alt/Flansch.qcasm]"}));
    EXPECT_TRUE(window.recentMenu->toolTipsVisible());
}

} // namespace
