#include "tests/gl/ShowViewer.h"
#include "view/Viewer.h"

#include <AIS_Shape.hxx>
#include <BRepPrimAPI_MakeBox.hxx>

#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

using qor::app::Viewer;

namespace {

// What a gesture did to the camera.
enum class Effect { None, Orbit, Pan, ZoomIn, ZoomOut, Roll, Select, Menu };

const char* effectName(Effect e)
{
    static const char* names[]
        = {"none", "orbit", "pan", "zoom in", "zoom out", "roll", "select", "menu"};
    return names[int(e)];
}

struct CameraShot {
    gp_Dir direction;
    gp_Dir up;
    gp_Pnt centre;
    double scale;
};

CameraShot shoot(const Viewer& viewer)
{
    const Handle(Graphic3d_Camera)& c = viewer.view()->Camera();
    return {c->Direction(), c->Up(), c->Center(), c->Scale()};
}

// Turning the viewing direction is an orbit; otherwise a changed scale is a zoom, a turned up
// direction a roll and a moved centre a pan.
Effect cameraEffect(const CameraShot& before, const CameraShot& after)
{
    constexpr double angle = 1e-4;
    if (before.direction.Angle(after.direction) > angle)
        return Effect::Orbit;
    if (std::abs(after.scale / before.scale - 1.0) > 1e-4)
        return after.scale < before.scale ? Effect::ZoomIn : Effect::ZoomOut;
    if (before.up.Angle(after.up) > angle)
        return Effect::Roll;
    if (before.centre.Distance(after.centre) > 1e-3)
        return Effect::Pan;
    return Effect::None;
}

class NavigationGestureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qor::test::showViewer(viewer, 320, 240));
        box = new AIS_Shape(BRepPrimAPI_MakeBox(gp_Pnt(-20, -15, -10), 40, 30, 20).Shape());
        viewer.context()->Display(box, AIS_Shaded, 0, false);
    }

    // Each case starts from the same fitted isometric view with nothing selected.
    void resetView()
    {
        viewer.context()->ClearSelected(false);
        viewer.setViewOrientation(V3d_XposYnegZpos, false);
        viewer.fitAll(false);
        flush();
    }

    // The controller applies queued mouse gestures when the view paints a frame.
    void flush()
    {
        viewer.grabFramebuffer();
        QCoreApplication::processEvents();
    }

    void sendMouse(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPoint at,
                   Qt::KeyboardModifiers modifiers)
    {
        QMouseEvent event(type, QPointF(at), QPointF(viewer.mapToGlobal(at)), button, held,
                          modifiers);
        QCoreApplication::sendEvent(&viewer, &event);
    }

    // Press, move in steps by (dx, dy), release; the cursor seen during the drag is returned.
    Qt::CursorShape drag(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint from,
                         QPoint by)
    {
        sendMouse(QEvent::MouseButtonPress, button, button, from, modifiers);
        for (int step = 1; step <= 4; ++step)
            sendMouse(QEvent::MouseMove, Qt::NoButton, button, from + by * step / 4, modifiers);
        const Qt::CursorShape cursor = viewer.cursor().shape();
        flush();
        sendMouse(QEvent::MouseButtonRelease, button, Qt::NoButton, from + by, modifiers);
        flush();
        return cursor;
    }

    // Returns whether the view accepted the event.
    bool wheel(QPoint pixel, QPoint angle, Qt::KeyboardModifiers modifiers,
               const QPointingDevice* device = QPointingDevice::primaryPointingDevice())
    {
        QWheelEvent event(QPointF(160, 120), QPointF(viewer.mapToGlobal(QPoint(160, 120))), pixel,
                          angle, Qt::NoButton, modifiers, Qt::NoScrollPhase, false,
                          Qt::MouseEventNotSynthesized, device);
        return QCoreApplication::sendEvent(&viewer, &event) && event.isAccepted();
    }

    // Returns whether the view handled the gesture.
    bool nativeGesture(Qt::NativeGestureType type, double value, QPointF delta)
    {
        QNativeGestureEvent event(type, &touchpad, 2, QPointF(160, 120), QPointF(160, 120),
                                  QPointF(viewer.mapToGlobal(QPoint(160, 120))), value, delta);
        return QCoreApplication::sendEvent(&viewer, &event);
    }

    const QPointingDevice touchpad{QStringLiteral("pad"),
                                   8,
                                   QInputDevice::DeviceType::TouchPad,
                                   QPointingDevice::PointerType::Finger,
                                   QInputDevice::Capability::Scroll,
                                   2,
                                   0};

    Viewer viewer;
    Handle(AIS_Shape) box;
};

struct MouseCase {
    Qt::MouseButton button;
    Qt::KeyboardModifiers modifiers;
    bool leftButtonOrbit;
    QPoint by;
    Effect scheme0;
    Effect scheme1;
    Qt::CursorShape cursor; // during the drag
    QPoint from{315, 235};
};

std::string gestureName(const MouseCase& c)
{
    std::string name;
    for (const auto& [modifier, text] :
         {std::pair{Qt::ShiftModifier, "Shift+"}, std::pair{Qt::ControlModifier, "Ctrl+"},
          std::pair{Qt::AltModifier, "Alt+"}}) {
        if (c.modifiers & modifier)
            name += text;
    }
    name += c.button == Qt::LeftButton ? "left" : c.button == Qt::MiddleButton ? "middle" : "right";
    return name + (c.leftButtonOrbit ? " in orbit mode" : "");
}

// Drags start on the background in the lower right corner unless a case says otherwise; the
// selecting ones span the whole view. Zoom drags zoom in to the right and out to the left.
TEST_F(NavigationGestureTest, MouseGesturesOfBothSchemesMoveTheCamera)
{
    const Qt::KeyboardModifiers none;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::MouseButton left = Qt::LeftButton;
    const Qt::MouseButton middle = Qt::MiddleButton;
    const Qt::MouseButton right = Qt::RightButton;
    const QPoint far(-40, -30);
    const MouseCase cases[] = {
        {middle, none, false, far, Effect::Orbit, Effect::Pan, Qt::ArrowCursor},
        {middle, shift, false, far, Effect::Pan, Effect::Orbit, Qt::ArrowCursor},
        {middle, ctrl, false, far, Effect::ZoomOut, Effect::ZoomOut, Qt::ArrowCursor},
        {middle, Qt::AltModifier, false, far, Effect::None, Effect::None, Qt::ArrowCursor},
        {right, none, false, far, Effect::Orbit, Effect::Orbit, Qt::ClosedHandCursor},
        {right, shift, false, far, Effect::Pan, Effect::Pan, Qt::SizeAllCursor},
        {right, ctrl, false, {40, -30}, Effect::ZoomIn, Effect::ZoomIn, Qt::ClosedHandCursor},
        {right, none, false, {2, -1}, Effect::Menu, Effect::Menu, Qt::ArrowCursor},
        {left, none, false, {-310, -230}, Effect::Select, Effect::Select, Qt::ArrowCursor},
        {left, shift, false, {-310, -230}, Effect::Select, Effect::Select, Qt::ArrowCursor},
        {left, ctrl, false, {-310, -230}, Effect::Select, Effect::Select, Qt::ArrowCursor},
        // The touchpad's orbit button makes the left button act as the right one.
        {left, none, true, far, Effect::Orbit, Effect::Orbit, Qt::ClosedHandCursor},
        {left, shift, true, far, Effect::Pan, Effect::Pan, Qt::SizeAllCursor},
        {left, ctrl, true, far, Effect::ZoomOut, Effect::ZoomOut, Qt::ClosedHandCursor},
        // A click on the box selects it, also with a little jitter, but not in orbit mode.
        {left, none, false, {1, 1}, Effect::Select, Effect::Select, Qt::ArrowCursor, {160, 120}},
        {left, none, true, {1, 2}, Effect::None, Effect::None, Qt::OpenHandCursor, {160, 120}},
    };
    for (int scheme : {0, 1}) {
        viewer.setNavigationMode(scheme);
        for (const MouseCase& c : cases) {
            const Effect expected = scheme == 0 ? c.scheme0 : c.scheme1;
            const std::string row = "scheme " + std::to_string(scheme) + ", " + gestureName(c);
            viewer.setLeftButtonOrbit(c.leftButtonOrbit);
            resetView();
            QSignalSpy menu(&viewer, &Viewer::contextMenuAt);
            const CameraShot before = shoot(viewer);
            const Qt::CursorShape cursor = drag(c.button, c.modifiers, c.from, c.by);
            Effect seen = cameraEffect(before, shoot(viewer));
            if (seen == Effect::None && !menu.isEmpty())
                seen = Effect::Menu;
            if (seen == Effect::None && viewer.context()->IsSelected(box))
                seen = Effect::Select;
            EXPECT_EQ(seen, expected) << row << ", saw " << effectName(seen);
            EXPECT_LE(menu.count(), 1) << row;
            EXPECT_EQ(cursor, c.cursor) << row;
            // An orbit turns about the middle of the view.
            if (expected == Effect::Orbit)
                EXPECT_LT(before.centre.Distance(shoot(viewer).centre), 1e-6) << row;
        }
    }
    viewer.setLeftButtonOrbit(false);
    EXPECT_EQ(viewer.cursor().shape(), Qt::ArrowCursor);
}

struct PadCase {
    const char* name;
    std::function<bool()> gesture; // true when the view took the event
    Effect effect;
};

// Wheel notches, two-finger scrolling and the native touchpad gestures on the real view.
TEST_F(NavigationGestureTest, TouchpadAndWheelGesturesMoveTheCamera)
{
    const QPoint notch(0, 120);
    const QPoint scroll(12, -8); // pixels
    const QPoint scrollAngle(0, 36);
    const PadCase cases[] = {
        {"wheel notch", [&] { return wheel({}, notch, {}); }, Effect::ZoomIn},
        {"wheel notch back", [&] { return wheel({}, -notch, {}); }, Effect::ZoomOut},
        {"shift+notch", [&] { return wheel({}, notch, Qt::ShiftModifier); }, Effect::ZoomIn},
        {"ctrl+notch", [&] { return wheel({}, notch, Qt::ControlModifier); }, Effect::ZoomIn},
        {"two-finger scroll", [&] { return wheel(scroll, scrollAngle, {}); }, Effect::Orbit},
        {"scroll from a touchpad device", [&] { return wheel({}, notch, {}, &touchpad); },
         Effect::Orbit},
        {"shift+scroll", [&] { return wheel(scroll, scrollAngle, Qt::ShiftModifier); },
         Effect::Pan},
        {"ctrl+scroll", [&] { return wheel(scroll, scrollAngle, Qt::ControlModifier); },
         Effect::ZoomIn},
        {"scroll, touchpad set to zoom",
         [&] {
             viewer.setTouchpadNavigation(false);
             const bool accepted = wheel(scroll, scrollAngle, {});
             viewer.setTouchpadNavigation(true);
             return accepted;
         },
         Effect::ZoomIn},
        {"pan gesture",
         [&] {
             return nativeGesture(Qt::PanNativeGesture, 0, {9, 4});
         },
         Effect::Orbit},
        {"pinch out", [&] { return nativeGesture(Qt::ZoomNativeGesture, 0.25, {}); },
         Effect::ZoomIn},
        {"pinch in", [&] { return nativeGesture(Qt::ZoomNativeGesture, -0.2, {}); },
         Effect::ZoomOut},
        {"rotate", [&] { return nativeGesture(Qt::RotateNativeGesture, 30, {}); }, Effect::Roll},
        {"swipe",
         [&] {
             return !nativeGesture(Qt::SwipeNativeGesture, 1, {5, 5});
         },
         Effect::None},
    };
    for (const PadCase& c : cases) {
        resetView();
        const CameraShot before = shoot(viewer);
        EXPECT_TRUE(c.gesture()) << c.name;
        flush();
        const CameraShot after = shoot(viewer);
        const Effect seen = cameraEffect(before, after);
        EXPECT_EQ(seen, c.effect) << c.name << ", saw " << effectName(seen);
        // Touchpad orbits turn about the middle of what is shown.
        if (c.effect == Effect::Orbit)
            EXPECT_LT(before.centre.Distance(after.centre), 1.0) << c.name;
    }

    // A smart-zoom double tap brings everything back into view, animated.
    resetView();
    const CameraShot fitted = shoot(viewer);
    viewer.pan(120, 0);
    ASSERT_EQ(cameraEffect(fitted, shoot(viewer)), Effect::Pan);
    EXPECT_TRUE(nativeGesture(Qt::SmartZoomNativeGesture, 1, {}));
    QTRY_VERIFY_WITH_TIMEOUT(shoot(viewer).centre.Distance(fitted.centre) < 1.0, 5000);
}

} // namespace
