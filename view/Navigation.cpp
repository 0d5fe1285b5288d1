#include "view/Navigation.h"

#include <QInputDevice>
#include <QWheelEvent>

#include <cmath>

namespace qor::app {

namespace {

// 100/3 px turn the camera by 15 degrees at the orbit rate of pi/400 per pixel.
constexpr double keyOrbitStep = 100.0 / 3.0;
constexpr double keyPanStep = 40.0;
// Moves up to this many pixels (|dx| + |dy|) keep a held-back press a click.
constexpr int clickSlop = 3;

int heldBack(Qt::MouseButton button, bool leftButtonOrbit)
{
    if (button == Qt::RightButton)
        return 2;
    if (button == Qt::LeftButton && leftButtonOrbit)
        return 1;
    return 0;
}

} // namespace

std::vector<GestureBinding> mouseGestureTable(int scheme)
{
    const bool middlePans = scheme == 1;
    const AIS_MouseGesture middle
        = middlePans ? AIS_MouseGesture_Pan : AIS_MouseGesture_RotateOrbit;
    const AIS_MouseGesture shiftMiddle
        = middlePans ? AIS_MouseGesture_RotateOrbit : AIS_MouseGesture_Pan;
    return {
        {Aspect_VKeyMouse_MiddleButton, Aspect_VKeyFlags_NONE, middle},
        {Aspect_VKeyMouse_MiddleButton, Aspect_VKeyFlags_SHIFT, shiftMiddle},
        {Aspect_VKeyMouse_MiddleButton, Aspect_VKeyFlags_CTRL, AIS_MouseGesture_Zoom},
        {Aspect_VKeyMouse_RightButton, Aspect_VKeyFlags_NONE, AIS_MouseGesture_RotateOrbit},
        {Aspect_VKeyMouse_RightButton, Aspect_VKeyFlags_SHIFT, AIS_MouseGesture_Pan},
        {Aspect_VKeyMouse_RightButton, Aspect_VKeyFlags_CTRL, AIS_MouseGesture_Zoom},
        {Aspect_VKeyMouse_LeftButton, Aspect_VKeyFlags_NONE, AIS_MouseGesture_SelectRectangle},
        {Aspect_VKeyMouse_LeftButton, Aspect_VKeyFlags_SHIFT, AIS_MouseGesture_SelectRectangle},
        {Aspect_VKeyMouse_LeftButton, Aspect_VKeyFlags_CTRL, AIS_MouseGesture_SelectRectangle},
    };
}

std::vector<SelectionSchemeBinding> selectionSchemeTable()
{
    const Aspect_VKeyMouse left = Aspect_VKeyMouse_LeftButton;
    return {
        {left, Aspect_VKeyFlags_NONE, AIS_SelectionScheme_Replace},
        {left, Aspect_VKeyFlags_ALT, AIS_SelectionScheme_Replace},
        {left, Aspect_VKeyFlags_SHIFT, AIS_SelectionScheme_XOR},
        {left, Aspect_VKeyFlags_CTRL, AIS_SelectionScheme_XOR},
        {left, Aspect_VKeyFlags_SHIFT | Aspect_VKeyFlags_CTRL, AIS_SelectionScheme_XOR},
        {left, Aspect_VKeyFlags_ALT | Aspect_VKeyFlags_SHIFT, AIS_SelectionScheme_XOR},
        {left, Aspect_VKeyFlags_ALT | Aspect_VKeyFlags_CTRL, AIS_SelectionScheme_XOR},
    };
}

Aspect_VKeyMouse toVKeyMouse(Qt::MouseButtons buttons)
{
    Aspect_VKeyMouse keys = Aspect_VKeyMouse_NONE;
    if (buttons & Qt::LeftButton)
        keys |= Aspect_VKeyMouse_LeftButton;
    if (buttons & Qt::MiddleButton)
        keys |= Aspect_VKeyMouse_MiddleButton;
    if (buttons & Qt::RightButton)
        keys |= Aspect_VKeyMouse_RightButton;
    return keys;
}

Aspect_VKeyFlags toVKeyFlags(Qt::KeyboardModifiers modifiers)
{
    Aspect_VKeyFlags flags = Aspect_VKeyFlags_NONE;
    if (modifiers & Qt::ShiftModifier)
        flags |= Aspect_VKeyFlags_SHIFT;
    if (modifiers & Qt::ControlModifier)
        flags |= Aspect_VKeyFlags_CTRL;
    if (modifiers & Qt::AltModifier)
        flags |= Aspect_VKeyFlags_ALT;
    return flags;
}

NavAction wheelAction(const QWheelEvent& event, bool touchpadNavigation)
{
    const QPoint angle = event.angleDelta();
    const QPoint pixel = event.pixelDelta();
    const bool touchpadDevice
        = event.device() && event.device()->type() == QInputDevice::DeviceType::TouchPad;
    // Mouse wheels send whole notches of 120 on the vertical axis and nothing else.
    const bool touchpad = touchpadDevice || !pixel.isNull() || event.phase() != Qt::NoScrollPhase
                          || angle.x() != 0 || angle.y() % 120 != 0;
    if (touchpad && touchpadNavigation && !(event.modifiers() & Qt::ControlModifier)) {
        QPointF d = pixel.isNull() ? QPointF(angle) / 4.0 : QPointF(pixel);
        if (event.inverted())
            d = -d;
        if (event.modifiers() & Qt::ShiftModifier)
            return {NavAction::Pan, d.x(), d.y()};
        return {NavAction::Orbit, -d.x(), -d.y()};
    }
    const int eighths = angle.y() != 0 ? angle.y() : angle.x();
    return {NavAction::WheelZoom, 0.0, 0.0, eighths / 8.0};
}

NavAction keyAction(int key, Qt::KeyboardModifiers modifiers)
{
    const bool shift = modifiers & Qt::ShiftModifier;
    const auto step = [shift](double x, double y) {
        return shift ? NavAction{NavAction::Pan, x * keyPanStep, y * keyPanStep}
                     : NavAction{NavAction::Orbit, x * keyOrbitStep, y * keyOrbitStep};
    };
    switch (key) {
    case Qt::Key_Left: return step(-1, 0);
    case Qt::Key_Right: return step(1, 0);
    case Qt::Key_Up: return step(0, -1);
    case Qt::Key_Down: return step(0, 1);
    case Qt::Key_PageUp: return {NavAction::Zoom, 0.0, 0.0, 1.25};
    case Qt::Key_PageDown: return {NavAction::Zoom, 0.0, 0.0, 0.8};
    default: return {};
    }
}

NavAction nativeGestureAction(Qt::NativeGestureType type, double value, const QPointF& delta)
{
    switch (type) {
    case Qt::PanNativeGesture: return {NavAction::Orbit, delta.x(), delta.y()};
    case Qt::ZoomNativeGesture: return {NavAction::Zoom, 0.0, 0.0, 1.0 + value};
    case Qt::SmartZoomNativeGesture: return {NavAction::FitAll};
    case Qt::RotateNativeGesture: return {NavAction::Roll, 0.0, 0.0, value};
    default: return {};
    }
}

bool PressTracker::press(Qt::MouseButton button, const QPointF& position, bool leftButtonOrbit)
{
    pressPosition_ = position.toPoint();
    dragged_ = false;
    selectionMoved_ = false;
    deferred_ = heldBack(button, leftButtonOrbit);
    return deferred_ != 0;
}

PressTracker::Move PressTracker::move(const QPointF& position, Qt::MouseButtons held)
{
    if (deferred_ == 0 || !(held & Qt::MouseButton(deferred_)))
        return Move::Pass;
    if (dragged_)
        return Move::Drag;
    const QPoint offset = position.toPoint() - pressPosition_;
    if (offset.manhattanLength() <= clickSlop)
        return Move::Ignore;
    dragged_ = true;
    return Move::Start;
}

bool PressTracker::holdSelectionMove(const QPointF& position, Qt::MouseButtons held)
{
    if (deferred_ != 0 || selectionMoved_ || !(held & Qt::LeftButton))
        return false;
    selectionMoved_ = (position.toPoint() - pressPosition_).manhattanLength() > clickSlop;
    return !selectionMoved_;
}

PressTracker::Release PressTracker::release(Qt::MouseButton button)
{
    if (deferred_ == 0 || button != Qt::MouseButton(deferred_))
        return Release::Pass;
    const int was = deferred_;
    deferred_ = 0;
    if (dragged_) {
        dragged_ = false;
        return Release::EndDrag;
    }
    return was == 2 ? Release::ContextMenu : Release::Click;
}

} // namespace qor::app
