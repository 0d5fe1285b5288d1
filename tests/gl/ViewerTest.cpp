#include "view/Viewer.h"
#include "tests/gl/ShowViewer.h"
#include "view/Camera.h"
#include "view/RenderCapture.h"

#include <AIS_Shape.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <V3d_DirectionalLight.hxx>

#include <QMouseEvent>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using qor::app::Viewer;

namespace {

constexpr double eps = 1e-6;

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(qor::test::showViewer(viewer, 320, 240)); }

    // A red box seen from the isometric direction, filling the view.
    void showBox()
    {
        Handle(AIS_Shape) box = new AIS_Shape(BRepPrimAPI_MakeBox(40, 30, 20).Shape());
        box->SetColor(Quantity_Color(0.85, 0.1, 0.1, Quantity_TOC_sRGB));
        viewer.context()->Display(box, AIS_Shaded, 0, false);
        viewer.setViewOrientation(V3d_XposYnegZpos, false);
    }

    void sendMouse(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPoint at)
    {
        QMouseEvent event(type, QPointF(at), QPointF(viewer.mapToGlobal(at)), button, held,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&viewer, &event);
    }

    Viewer viewer;
};

bool reddish(const QColor& c)
{
    return c.red() > 60 && c.red() > 2 * c.green() && c.red() > 2 * c.blue();
}

TEST(ViewerStart, FirstFrameClearsTheStartMarkerAndInitialisesOnce)
{
    QSettings().setValue(QStringLiteral("glStartPending"), true);
    Viewer viewer;
    QSignalSpy started(&viewer, &Viewer::initialized);
    viewer.show();
    QTRY_VERIFY(viewer.firstFrameDrawn());
    EXPECT_FALSE(QSettings().contains(QStringLiteral("glStartPending")));
    viewer.hide();
    viewer.show();
    QTest::qWait(50);
    EXPECT_EQ(started.count(), 1);
}

TEST_F(ViewerTest, RasterRenderShowsTheBodyColourAtTheCentre)
{
    showBox();
    const QImage image = viewer.grabImage(320, 240);
    ASSERT_EQ(image.size(), QSize(320, 240));
    EXPECT_TRUE(reddish(image.pixelColor(160, 120)));
    EXPECT_FALSE(reddish(image.pixelColor(2, 2)));
    // The cube is left out of the capture and shown again afterwards.
    EXPECT_TRUE(viewer.context()->IsDisplayed(viewer.viewCube()));
}

// The picture a person looks at: the body, the view cube in the upper right corner and the
// vertical background gradient.
TEST_F(ViewerTest, OnScreenFrameShowsBodyCubeAndGradient)
{
    viewer.resize(640, 480);
    showBox();
    viewer.fitAll(false);
    QTest::qWait(100);
    const QImage frame = viewer.grabFramebuffer();
    frame.save(QStringLiteral(QOR_TEST_OUTPUT "/viewer-box.png"));
    ASSERT_EQ(frame.size(), QSize(640, 480) * viewer.devicePixelRatio());
    EXPECT_TRUE(reddish(frame.pixelColor(320, 240)));
    EXPECT_NE(frame.pixelColor(3, 3), frame.pixelColor(3, 476));
    // The cube sits 90 px from the upper right corner; the same row further left is plain.
    EXPECT_NE(frame.pixelColor(550, 90), frame.pixelColor(100, 90));
}

TEST_F(ViewerTest, FailedRenderSaveReportsAnErrorAndExitCodeOne)
{
    showBox();
    QTemporaryDir dir;
    ::testing::internal::CaptureStderr();
    const int code = qor::app::saveRender(&viewer, 160, 120, dir.filePath("bild.unbekannt"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Render: 160x120 FEHLER\n");
    EXPECT_EQ(code, 1);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(qor::app::saveRender(&viewer, 160, 120, dir.filePath("bild.png")), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Render: 160x120 gespeichert\n");
    EXPECT_EQ(QImage(dir.filePath("bild.png")).size(), QSize(160, 120));
}

TEST_F(ViewerTest, RightClickWithinThreePixelsOpensTheMenuOnce)
{
    struct Case {
        QPoint move;
        int menus;
    };
    for (const Case& c : {Case{{2, 1}, 1}, Case{{3, 1}, 0}}) {
        QSignalSpy menu(&viewer, &Viewer::contextMenuAt);
        const QPoint press(100, 100);
        sendMouse(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, press);
        sendMouse(QEvent::MouseMove, Qt::NoButton, Qt::RightButton, press + c.move);
        sendMouse(QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, press + c.move);
        EXPECT_EQ(menu.count(), c.menus) << c.move.x() << "," << c.move.y();
        if (c.menus == 1)
            EXPECT_EQ(menu.at(0).at(0).toPoint(), viewer.mapToGlobal(press + c.move));
    }
}

// Sees every event and consumes all of them.
struct GreedyHandler : qor::app::InputHandler {
    bool mousePress(QMouseEvent*) override { return ++presses, true; }
    bool mouseMove(QMouseEvent*) override { return ++moves, true; }
    bool mouseRelease(QMouseEvent*) override { return ++releases, true; }
    int presses = 0;
    int moves = 0;
    int releases = 0;
};

TEST_F(ViewerTest, HandlerCannotStopMiddleOrbitAndNeverSeesOrbitClicks)
{
    showBox();
    GreedyHandler handler;
    viewer.setInputHandler(&handler);
    const QJsonObject before = viewer.cameraState();
    sendMouse(QEvent::MouseButtonPress, Qt::MiddleButton, Qt::MiddleButton, {100, 100});
    for (int x = 110; x <= 160; x += 10)
        sendMouse(QEvent::MouseMove, Qt::NoButton, Qt::MiddleButton, {x, 100});
    sendMouse(QEvent::MouseButtonRelease, Qt::MiddleButton, Qt::NoButton, {160, 100});
    QTRY_VERIFY(viewer.cameraState() != before);
    EXPECT_EQ(handler.moves, 6);

    viewer.setLeftButtonOrbit(true);
    sendMouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {100, 100});
    sendMouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {101, 101});
    sendMouse(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, {101, 101});
    EXPECT_EQ(handler.presses + handler.releases, 0);
    EXPECT_EQ(handler.moves, 6);
    EXPECT_EQ(viewer.cursor().shape(), Qt::OpenHandCursor);
    viewer.setInputHandler(nullptr);
}

TEST_F(ViewerTest, ZoomByNonPositiveFactorChangesNothing)
{
    showBox();
    const QJsonObject before = viewer.cameraState();
    viewer.zoom(0.0);
    viewer.zoom(-1.0);
    EXPECT_EQ(viewer.cameraState(), before);
    viewer.zoom(1.25);
    EXPECT_NE(viewer.cameraState(), before);
}

TEST_F(ViewerTest, FitAllOnAnEmptyViewCentresTheOrigin)
{
    for (bool animate : {false, true}) {
        viewer.view()->Camera()->SetEyeAndCenter(gp_Pnt(500, 400, 300), gp_Pnt(100, 50, 20));
        viewer.fitAll(animate);
        EXPECT_LT(viewer.view()->Camera()->Center().Distance(gp::Origin()), eps);
        double width = 0.0;
        double height = 0.0;
        viewer.view()->Size(width, height);
        EXPECT_NEAR(std::max(width, height), 260.0, 1e-3);
    }
}

TEST_F(ViewerTest, StandardViewsLookAlongTheirAxis)
{
    showBox();
    struct Case {
        V3d_TypeOfOrientation orientation;
        gp_Dir direction; // from the eye towards the model
        gp_Dir up;
    };
    const double s = 1.0 / std::sqrt(3.0);
    for (const Case& c : {Case{V3d_Yneg, gp_Dir(0, 1, 0), gp_Dir(0, 0, 1)},
                          Case{V3d_Zpos, gp_Dir(0, 0, -1), gp_Dir(0, 1, 0)},
                          Case{V3d_Xpos, gp_Dir(-1, 0, 0), gp_Dir(0, 0, 1)},
                          Case{V3d_XposYnegZpos, gp_Dir(-s, s, -s), gp_Dir(-1, 1, 2)}}) {
        // The animated move ends where the direct one goes; repaints drive it.
        viewer.setViewOrientation(c.orientation, true);
        const Handle(Graphic3d_Camera)& camera = viewer.view()->Camera();
        QTRY_VERIFY_WITH_TIMEOUT(camera->Direction().IsEqual(c.direction, 1e-6), 5000);
        viewer.setViewOrientation(c.orientation, false);
        EXPECT_TRUE(camera->Up().IsEqual(c.up, 1e-6)) << int(c.orientation);
        // Fitted: the box's centre is on screen near the middle, and no corner reaches into the
        // strips kept free for the floating view bar.
        const QPoint centre = viewer.toScreen(gp_Pnt(20, 15, 10));
        EXPECT_NEAR(centre.x(), 160, 30);
        EXPECT_NEAR(centre.y(), 120, 30);
        for (const double x : {0.0, 40.0})
            for (const double y : {0.0, 30.0})
                for (const double z : {0.0, 20.0}) {
                    const int row = viewer.toScreen(gp_Pnt(x, y, z)).y();
                    EXPECT_GE(row, qor::app::fitBarReserve - 1) << int(c.orientation);
                    EXPECT_LE(row, 240 - qor::app::fitBarReserve + 1) << int(c.orientation);
                }
    }
}

TEST_F(ViewerTest, RayToPlaneHitsWhatToScreenShows)
{
    showBox();
    const gp_Pln top(gp_Pnt(0, 0, 20), gp::DZ());
    const gp_Pnt corner(40, 30, 20);
    gp_Pnt hit;
    ASSERT_TRUE(viewer.rayToPlane(viewer.toScreen(corner), top, hit));
    // One logical pixel of rounding, measured in model units.
    EXPECT_LT(hit.Distance(corner), 3.0 * viewer.pixelSize());
    // Edge-on the ray runs inside the plane or parallel to it: no point, no exception.
    viewer.setViewOrientation(V3d_Yneg, false);
    EXPECT_FALSE(viewer.rayToPlane(QPoint(160, 120), gp_Pln(gp::Origin(), gp::DZ()), hit));
}

TEST_F(ViewerTest, SectionPlaneReplacesAndClears)
{
    const gp_Pln first(gp::Origin(), gp::DX());
    const gp_Pln second(gp::Origin(), gp::DY());
    viewer.setSectionPlane(nullptr);
    EXPECT_FALSE(viewer.sectionOn());
    viewer.setSectionPlane(&first);
    viewer.setSectionPlane(&second);
    ASSERT_EQ(viewer.view()->ClipPlanes()->Size(), 1);
    const Handle(Graphic3d_ClipPlane) plane = viewer.view()->ClipPlanes()->First();
    EXPECT_TRUE(plane->IsCapping());
    EXPECT_NEAR(plane->GetEquation().y(), 1.0, eps);
    viewer.setSectionPlane(nullptr);
    EXPECT_FALSE(viewer.sectionOn());
    EXPECT_TRUE(viewer.view()->ClipPlanes().IsNull() || viewer.view()->ClipPlanes()->IsEmpty());
}

TEST_F(ViewerTest, RayTracedModeSwapsLightsAndGroundAndRasterRestoresThem)
{
    showBox();
    const auto headlightOn = [this] {
        for (V3d_ListOfLightIterator it(viewer.viewer()->ActiveLightIterator()); it.More();
             it.Next())
            if (it.Value()->IsHeadlight())
                return true;
        return false;
    };
    const auto shownObjects = [this] {
        AIS_ListOfInteractive shown;
        viewer.context()->DisplayedObjects(shown);
        return shown.Size();
    };
    const int before = shownObjects();
    viewer.setRenderMode(1, false, false);
    EXPECT_FALSE(headlightOn());
    EXPECT_EQ(shownObjects(), before + 1);
    const Graphic3d_RenderingParams& params = viewer.view()->RenderingParams();
    EXPECT_EQ(params.Method, Graphic3d_RM_RAYTRACING);
    // The light-grey ground lies around the box.
    QTest::qWait(100);
    const QImage frame = viewer.grabFramebuffer();
    frame.save(QStringLiteral(QOR_TEST_OUTPUT "/viewer-raytraced.png"));
    const QColor ground = frame.pixelColor(20, 200);
    EXPECT_GT(ground.lightness(), 120) << qPrintable(ground.name());
    EXPECT_LT(std::abs(ground.red() - ground.blue()), 40) << qPrintable(ground.name());
    viewer.setRenderMode(0, false, false);
    EXPECT_TRUE(headlightOn());
    EXPECT_EQ(shownObjects(), before);
    EXPECT_EQ(viewer.view()->RenderingParams().Method, Graphic3d_RM_RASTERIZATION);
}

TEST_F(ViewerTest, PathTracingAccumulatesNinetySixFramesAfterEachChange)
{
    showBox();
    viewer.setRenderMode(2, true, false);
    QTRY_COMPARE_WITH_TIMEOUT(viewer.progressiveFrames(), qor::app::progressiveFrameLimit, 60000);
    QTest::qWait(200);
    EXPECT_EQ(viewer.progressiveFrames(), qor::app::progressiveFrameLimit);
    const QImage traced = viewer.grabFramebuffer();
    traced.save(QStringLiteral(QOR_TEST_OUTPUT "/viewer-pathtraced.png"));
    EXPECT_NE(traced.pixelColor(160, 120), traced.pixelColor(2, 2));
    viewer.orbit(5, 0);
    EXPECT_EQ(viewer.progressiveFrames(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(viewer.progressiveFrames(), qor::app::progressiveFrameLimit, 60000);
}

} // namespace
