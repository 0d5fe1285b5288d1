#include "app/MainWindow.h"
#include "io/Export.h"
#include "model/DocumentController.h"
#include "panels/CommandPanel.h"
#include "panels/MatePanel.h"
#include "panels/MeasurePanel.h"
#include "tests/common/RectangleChain.h"
#include "tests/fixtures/InstancedAssembly.h"
#include "tests/gl/ViewPixels.h"
#include "view/Camera.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <AIS_AnimationCamera.hxx>

#include <QFrame>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using qor::app::MainWindow;
using qor::test::changedPixels;
using qor::test::coveredPixels;

namespace {

class ViewFitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(100);
    }

    QImage viewImage()
    {
        return window.viewer->grabImage(window.viewer->width(), window.viewer->height());
    }

    // Lets the view's camera animation, which may start only with a panel's first preview,
    // run to its end, also on a busy machine.
    void settle()
    {
        QTest::qWait(900);
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return window.viewer->ViewAnimation()->IsStopped(); }, 5000));
    }

    MainWindow window;
};

// New document, a sketch on XY with an 80 x 50 rectangle, finish, extrusion: the first solid
// lies wholly in the part of the view that neither the feature panel nor the view bar covers.
TEST_F(ViewFitTest, FirstExtrusionOpensClearOfThePanelAndTheViewBar)
{
    const QImage empty = viewImage();
    window.newSketch(qor::model::datumReferenceJson(-1));
    ASSERT_NE(window.sketchEditor, nullptr);
    qor::sketch::fixtures::addRectangle(window.sketchEditor->sketch(), 0, 0, 80, 50);
    window.finishSketch(true);
    window.createFeature(QStringLiteral("extrude"), {});
    ASSERT_NE(window.commandPanel->featureId(), 0);
    ASSERT_TRUE(window.commandPanel->isVisible());
    settle();

    const QRect model = coveredPixels(empty, viewImage());
    ASSERT_GT(model.width() * model.height(), 5000) << "the solid is not shown";
    const QRect panel = window.commandPanel->geometry();
    const QRect view = window.viewer->rect();
    EXPECT_GT(model.left(), panel.right()) << "the solid lies under the feature panel";
    EXPECT_GT(model.top(), 0);
    EXPECT_LT(model.right(), view.right());
    EXPECT_LT(model.bottom(), view.bottom() - int(qor::app::fitBarReserve) / 2)
        << "the solid reaches under the view bar";
    // Fitted to the solid, not to the flat sketch before it: centred in the free part of the
    // view and filling it but for the margin.
    const QRectF free(panel.right() + 10, qor::app::fitBarReserve,
                      view.width() - panel.right() - 10,
                      view.height() - 2 * qor::app::fitBarReserve);
    EXPECT_GT(std::max(model.width() / free.width(), model.height() / free.height()), 0.7);
    EXPECT_NEAR(model.center().x(), free.center().x(), 0.05 * free.width());
    EXPECT_NEAR(model.center().y(), free.center().y(), 0.05 * free.height());

    // Accepted, the solid fills the whole view again without "F".
    window.commandPanel->accept();
    settle();
    const QRect refitted = coveredPixels(empty, viewImage());
    EXPECT_GT(refitted.left(), 0);
    EXPECT_LT(refitted.left(), panel.right());
    EXPECT_NEAR(refitted.center().x(), view.center().x(), 0.05 * view.width());
}

// A panel that takes picks, opened over a model fitted into the whole view, moves the model
// clear of it, and its closing gives the model the whole view back: the mate panel over an
// assembly, the measure panel on the right, the fillet panel over the wide housing.
TEST_F(ViewFitTest, LaterPanelsMoveTheModelClearOfThemAndBack)
{
    QTemporaryDir folder;
    const QString assembly = qor::test::writeInstancedAssembly(folder.path(), 6);
    ASSERT_FALSE(assembly.isEmpty());
    struct Case {
        const char* name;
        std::function<void()> load;
        std::function<QWidget*()> open; // the open panel
        std::function<void()> close;
    };
    const Case cases[] = {
        // First, while the window's document is still unchanged and opens without a question.
        {"mate on an assembly", [&] { ASSERT_TRUE(window.openFile(assembly)); },
         [&]() -> QWidget* {
             window.showMatePanel(QStringLiteral("planar"));
             return window.matePanel.data();
         },
         [&] { window.matePanel->cancel(); }},
        {"measure on the assembly", [] {},
         [&]() -> QWidget* {
             window.toggleMeasure();
             return window.measurePanel.data();
         },
         [&] { window.toggleMeasure(); }},
        {"fillet on the housing", [&] { window.createExample(QStringLiteral("housing")); },
         [&]() -> QWidget* {
             window.createFeature(QStringLiteral("fillet"), {});
             return window.commandPanel->featureId() != 0 ? window.commandPanel : nullptr;
         },
         [&] { window.commandPanel->cancel(); }},
    };
    const QImage empty = viewImage();
    const QRect view = window.viewer->rect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.load();
        settle();
        window.viewer->setViewOrientation(V3d_XposYnegZpos, false);
        window.viewer->fitAll(false); // "F"
        const QRect whole = coveredPixels(empty, viewImage());
        ASSERT_GT(whole.width() * whole.height(), 5000) << "the model is not shown";

        QWidget* panel = c.open();
        ASSERT_NE(panel, nullptr);
        ASSERT_TRUE(panel->isVisible());
        ASSERT_TRUE(whole.intersects(panel->geometry())) << "the panel covers nothing";
        settle();
        const QRect model = coveredPixels(empty, viewImage());
        EXPECT_FALSE(model.intersects(panel->geometry())) << "the model lies under the panel";
        EXPECT_GT(model.left(), 0);
        EXPECT_LT(model.right(), view.right());
        EXPECT_GT(model.top(), 0);
        EXPECT_LT(model.bottom(), view.bottom());

        c.close();
        settle();
        const QRect back = coveredPixels(empty, viewImage());
        EXPECT_NEAR(back.left(), whole.left(), 3);
        EXPECT_NEAR(back.right(), whole.right(), 3);
    }
}

// A model the user has zoomed into stays as it is when a panel opens over it.
TEST_F(ViewFitTest, APanelLeavesAZoomedInModelAlone)
{
    window.createExample(QStringLiteral("housing"));
    settle();
    window.viewer->setViewOrientation(V3d_XposYnegZpos, false);
    window.viewer->fitAll(false);
    window.viewer->zoom(3.0);
    const QJsonObject camera = window.viewer->cameraState();
    window.createFeature(QStringLiteral("fillet"), {});
    ASSERT_NE(window.commandPanel->featureId(), 0);
    settle();
    EXPECT_EQ(window.viewer->cameraState(), camera);
    window.commandPanel->cancel();
    settle();
    EXPECT_EQ(window.viewer->cameraState(), camera);
}

// A revolution without its axis shows nothing at first; the view is fitted once the picked
// axis gives the first preview, which then lies clear of the panel.
TEST_F(ViewFitTest, FirstSolidWaitingForAPickIsFittedAtItsFirstPreview)
{
    const QImage empty = viewImage();
    window.newSketch(qor::model::datumReferenceJson(-1));
    ASSERT_NE(window.sketchEditor, nullptr);
    qor::sketch::fixtures::addRectangle(window.sketchEditor->sketch(), 40, 0, 30, 60);
    window.finishSketch(true);
    window.createFeature(QStringLiteral("revolve"), {});
    ASSERT_EQ(window.commandPanel->activeKey(), QStringLiteral("axis"));
    settle();
    EXPECT_TRUE(window.scene->previewObject().IsNull());

    window.commandPanel->setParam(QStringLiteral("axis"), qor::model::datumReferenceJson(-12));
    settle();
    ASSERT_FALSE(window.scene->previewObject().IsNull()) << "no preview of the revolution";
    const QRect model = coveredPixels(empty, viewImage());
    const QRect panel = window.commandPanel->geometry();
    EXPECT_GT(model.left(), panel.right());
    EXPECT_GT(model.top(), 0);
    EXPECT_LT(model.right(), window.viewer->rect().right());
    EXPECT_LT(model.bottom(), window.viewer->rect().bottom());
    // A ring of 140 mm across fills the free part of the view, not the sketch's 30 mm.
    const double freeWidth = window.viewer->width() - panel.right() - 10;
    const double freeHeight = window.viewer->height() - 2 * qor::app::fitBarReserve;
    EXPECT_GT(std::max(model.width() / freeWidth, model.height() / freeHeight), 0.7);
}

// A part far larger than the empty view's 260 mm field, inserted as the first component of
// an empty assembly, is framed, and so is the assembly when the second one is placed beside.
TEST_F(ViewFitTest, FirstComponentOfAnEmptyAssemblyIsFittedIntoView)
{
    QTemporaryDir dir;
    const QString part = dir.filePath(QStringLiteral("Platte.qcpart"));
    {
        qor::app::DocumentController source;
        source.newDocument();
        source.document->addFeature(QStringLiteral("box"),
                                    {{QStringLiteral("length"), QStringLiteral("900 mm")},
                                     {QStringLiteral("width"), QStringLiteral("500 mm")}});
        source.recompute();
        ASSERT_TRUE(source.saveAs(part));
    }
    const QImage empty = viewImage();
    window.insertComponent(part);
    ASSERT_EQ(window.controller->document->components.size(), 1u);
    settle();
    const QRect model = coveredPixels(empty, viewImage());
    const QRect view = window.viewer->rect();
    ASSERT_FALSE(model.isEmpty());
    EXPECT_GT(model.left(), 0);
    EXPECT_GT(model.top(), 0);
    EXPECT_LT(model.right(), view.right());
    EXPECT_LT(model.bottom(), view.bottom());

    // The second one lands beside the first, beyond the right edge of the fitted view: the
    // view frames both.
    window.insertComponent(part);
    ASSERT_EQ(window.controller->document->components.size(), 2u);
    settle();
    const QRect both = coveredPixels(empty, viewImage());
    EXPECT_GT(both.left(), 0);
    EXPECT_LT(both.right(), view.right());
    EXPECT_GT(both.width(), model.width());
}

// Documents opened after an assembly are fitted to themselves, by the open and by "F": the
// assembly's placements, gone with it, no longer count. The part opened again and the same
// part imported from STEP into a new document cover as many pixels as the part did at first.
TEST_F(ViewFitTest, DocumentsAfterAnAssemblyAreFittedToThemselves)
{
    QTemporaryDir folder;
    const QString assembly = qor::test::writeInstancedAssembly(folder.path(), 6);
    ASSERT_FALSE(assembly.isEmpty());
    const QString part = folder.filePath(QStringLiteral("teil.qcpart"));
    const QString step = folder.filePath(QStringLiteral("teil.step"));
    const QImage empty = viewImage();
    const auto covered = [&] {
        settle();
        return changedPixels(empty, viewImage());
    };
    ASSERT_TRUE(window.openFile(part));
    const int first = covered();
    ASSERT_GT(first, 20000) << "the part is not shown";
    {
        const qor::model::ModelState& state = window.controller->document->current;
        std::vector<qor::io::ExportBody> bodies;
        for (const auto& [id, body] : state.bodies)
            bodies.push_back({QStringLiteral("Teil"), body.shape});
        QString error;
        ASSERT_TRUE(qor::io::exportFile(step, bodies, {}, &error)) << error.toStdString();
    }

    const std::pair<const char*, QString> later[] = {{"the part", part}, {"a STEP file", step}};
    for (const auto& [what, path] : later) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(window.openFile(assembly));
        ASSERT_GT(covered(), 0);
        ASSERT_TRUE(window.openFile(path));
        ASSERT_EQ(window.controller->document->current.bodies.get().size(), 1u);
        EXPECT_NEAR(covered(), first, 0.1 * first);
        window.viewer->fitAll(false); // "F"
        EXPECT_NEAR(covered(), first, 0.1 * first);
    }
}

} // namespace
