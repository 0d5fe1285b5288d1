#include "view/Navigation.h"

#include <QPointingDevice>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace qor::app;

namespace {

struct WheelCase {
    const char* name;
    bool touchpadDevice;
    QPoint pixel;
    QPoint angle;
    Qt::ScrollPhase phase;
    bool inverted;
    Qt::KeyboardModifiers modifiers;
    bool touchpadNavigation;
    NavAction expected;
};

TEST(NavigationTest, WheelAndTouchpadRules)
{
    const QPointingDevice touchpad(QStringLiteral("pad"), 1, QInputDevice::DeviceType::TouchPad,
                                   QPointingDevice::PointerType::Finger,
                                   QInputDevice::Capability::Scroll, 2, 0);
    const auto zoom = [](double degrees) { return NavAction{NavAction::WheelZoom, 0, 0, degrees}; };
    const WheelCase cases[] = {
        {"notch", false, {}, {0, 120}, Qt::NoScrollPhase, false, {}, true, zoom(15)},
        {"notch+shift",
         false,
         {},
         {0, -240},
         Qt::NoScrollPhase,
         false,
         Qt::ShiftModifier,
         true,
         zoom(-30)},
        {"notch+ctrl",
         false,
         {},
         {0, 120},
         Qt::NoScrollPhase,
         false,
         Qt::ControlModifier,
         true,
         zoom(15)},
        {"pixels orbit",
         false,
         {6, -4},
         {0, 0},
         Qt::NoScrollPhase,
         false,
         {},
         true,
         {NavAction::Orbit, -6, 4}},
        {"pixels+shift pan",
         false,
         {6, -4},
         {0, 0},
         Qt::NoScrollPhase,
         false,
         Qt::ShiftModifier,
         true,
         {NavAction::Pan, 6, -4}},
        {"pixels+ctrl zoom",
         false,
         {6, -4},
         {0, 48},
         Qt::NoScrollPhase,
         false,
         Qt::ControlModifier,
         true,
         zoom(6)},
        {"touchpad setting zoom",
         false,
         {6, -4},
         {0, 48},
         Qt::NoScrollPhase,
         false,
         {},
         false,
         zoom(6)},
        {"fine angle",
         false,
         {},
         {0, 60},
         Qt::NoScrollPhase,
         false,
         {},
         true,
         {NavAction::Orbit, 0, -15}},
        {"horizontal angle",
         false,
         {},
         {120, 0},
         Qt::NoScrollPhase,
         false,
         {},
         true,
         {NavAction::Orbit, -30, 0}},
        {"horizontal zoom", false, {}, {120, 0}, Qt::NoScrollPhase, false, {}, false, zoom(15)},
        {"phase",
         false,
         {},
         {0, 120},
         Qt::ScrollUpdate,
         false,
         {},
         true,
         {NavAction::Orbit, 0, -30}},
        {"touchpad device",
         true,
         {},
         {0, 120},
         Qt::NoScrollPhase,
         false,
         {},
         true,
         {NavAction::Orbit, 0, -30}},
        {"inverted",
         false,
         {6, -4},
         {0, 0},
         Qt::NoScrollPhase,
         true,
         {},
         true,
         {NavAction::Orbit, 6, -4}},
    };
    for (const WheelCase& c : cases) {
        const QPointingDevice* device
            = c.touchpadDevice ? &touchpad : QPointingDevice::primaryPointingDevice();
        const QWheelEvent event(QPointF(10, 10), QPointF(10, 10), c.pixel, c.angle, Qt::NoButton,
                                c.modifiers, c.phase, c.inverted, Qt::MouseEventNotSynthesized,
                                device);
        const NavAction a = wheelAction(event, c.touchpadNavigation);
        EXPECT_EQ(a.kind, c.expected.kind) << c.name;
        EXPECT_DOUBLE_EQ(a.dx, c.expected.dx) << c.name;
        EXPECT_DOUBLE_EQ(a.dy, c.expected.dy) << c.name;
        EXPECT_DOUBLE_EQ(a.amount, c.expected.amount) << c.name;
    }
}

TEST(NavigationTest, KeysAndNativeGestures)
{
    constexpr double o = 100.0 / 3.0;
    struct Case {
        NavAction actual;
        NavAction expected;
    };
    const Case cases[] = {
        {keyAction(Qt::Key_Left, {}), {NavAction::Orbit, -o, 0}},
        {keyAction(Qt::Key_Right, {}), {NavAction::Orbit, o, 0}},
        {keyAction(Qt::Key_Up, {}), {NavAction::Orbit, 0, -o}},
        {keyAction(Qt::Key_Down, {}), {NavAction::Orbit, 0, o}},
        {keyAction(Qt::Key_Left, Qt::ShiftModifier), {NavAction::Pan, -40, 0}},
        {keyAction(Qt::Key_Right, Qt::ShiftModifier), {NavAction::Pan, 40, 0}},
        {keyAction(Qt::Key_Up, Qt::ShiftModifier), {NavAction::Pan, 0, -40}},
        {keyAction(Qt::Key_Down, Qt::ShiftModifier), {NavAction::Pan, 0, 40}},
        {keyAction(Qt::Key_PageUp, Qt::ShiftModifier), {NavAction::Zoom, 0, 0, 1.25}},
        {keyAction(Qt::Key_PageDown, {}), {NavAction::Zoom, 0, 0, 0.8}},
        {keyAction(Qt::Key_A, {}), {}},
        {nativeGestureAction(Qt::PanNativeGesture, 0, {3, -2}), {NavAction::Orbit, 3, -2}},
        {nativeGestureAction(Qt::ZoomNativeGesture, 0.2, {}), {NavAction::Zoom, 0, 0, 1.2}},
        {nativeGestureAction(Qt::SmartZoomNativeGesture, 1, {}), {NavAction::FitAll}},
        {nativeGestureAction(Qt::RotateNativeGesture, 12, {}), {NavAction::Roll, 0, 0, 12}},
        {nativeGestureAction(Qt::SwipeNativeGesture, 1, {}), {}},
    };
    int row = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(c.actual.kind, c.expected.kind) << row;
        EXPECT_DOUBLE_EQ(c.actual.dx, c.expected.dx) << row;
        EXPECT_DOUBLE_EQ(c.actual.dy, c.expected.dy) << row;
        EXPECT_DOUBLE_EQ(c.actual.amount, c.expected.amount) << row;
        ++row;
    }
}

TEST(NavigationTest, HeldBackPressesBecomeClicksOrDrags)
{
    using Move = PressTracker::Move;
    using Release = PressTracker::Release;
    struct Case {
        const char* name;
        Qt::MouseButton button;
        bool leftOrbit;
        QPointF to;
        Move move;
        Release release;
    };
    const QPointF at(100.4, 50.6);
    const Case cases[] = {
        {"right, 3 px", Qt::RightButton, false, at + QPointF(2, 1), Move::Ignore,
         Release::ContextMenu},
        {"right, 4 px", Qt::RightButton, false, at + QPointF(2, -2), Move::Start, Release::EndDrag},
        {"left orbit, 3 px", Qt::LeftButton, true, at + QPointF(0, 3), Move::Ignore,
         Release::Click},
        {"left orbit, 5 px", Qt::LeftButton, true, at + QPointF(-5, 0), Move::Start,
         Release::EndDrag},
        {"left selects", Qt::LeftButton, false, at + QPointF(9, 9), Move::Pass, Release::Pass},
        {"middle", Qt::MiddleButton, true, at + QPointF(9, 9), Move::Pass, Release::Pass},
    };
    for (const Case& c : cases) {
        PressTracker tracker;
        tracker.press(c.button, at, c.leftOrbit);
        EXPECT_EQ(tracker.pressPosition(), QPoint(100, 51)) << c.name;
        EXPECT_EQ(tracker.move(c.to, c.button), c.move) << c.name;
        if (c.move == Move::Start)
            EXPECT_EQ(tracker.move(at, c.button), Move::Drag) << c.name;
        EXPECT_EQ(tracker.release(c.button), c.release) << c.name;
        EXPECT_EQ(tracker.deferredButton(), 0) << c.name;
        EXPECT_FALSE(tracker.dragged()) << c.name;
    }
}

} // namespace
