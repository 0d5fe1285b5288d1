#pragma once

#include <AIS_MouseGesture.hxx>
#include <AIS_SelectionScheme.hxx>
#include <Aspect_VKeyFlags.hxx>

#include <QPoint>
#include <QPointF>
#include <Qt>
#include <vector>

class QWheelEvent;

namespace qor::app {

// One camera step asked for by a key, a wheel event or a native gesture.
struct NavAction {
    enum Kind { None, Orbit, Pan, Zoom, WheelZoom, FitAll, Roll };
    Kind kind = None;
    double dx = 0.0; // Orbit, Pan: logical pixels
    double dy = 0.0;
    double amount = 0.0; // Zoom: factor; WheelZoom: wheel degrees; Roll: degrees
};

struct GestureBinding {
    Aspect_VKeyMouse buttons;
    Aspect_VKeyFlags modifiers;
    AIS_MouseGesture gesture;
};

// The complete mouse-gesture map of a navigation scheme (0 or 1); the left button only selects.
std::vector<GestureBinding> mouseGestureTable(int scheme);

struct SelectionSchemeBinding {
    Aspect_VKeyMouse buttons;
    Aspect_VKeyFlags modifiers;
    AIS_SelectionScheme scheme;
};

// How a left click or rectangle changes the selection: alone it replaces it; with Shift or
// Ctrl (or both) it toggles what it hits, so that either key collects several elements.
std::vector<SelectionSchemeBinding> selectionSchemeTable();

Aspect_VKeyMouse toVKeyMouse(Qt::MouseButtons buttons);
Aspect_VKeyFlags toVKeyFlags(Qt::KeyboardModifiers modifiers);

// A plain wheel notch zooms; touchpad scrolling orbits (Shift pans) unless Ctrl is held or
// touchpad navigation is off.
NavAction wheelAction(const QWheelEvent& event, bool touchpadNavigation);
// Arrow keys orbit by 15 degrees (Shift pans by 40 px), PageUp and PageDown zoom.
NavAction keyAction(int key, Qt::KeyboardModifiers modifiers);
NavAction nativeGestureAction(Qt::NativeGestureType type, double value, const QPointF& delta);

// A right press (and a left press in left-button-orbit mode) is held back: released within
// 3 px it is a click, moved further it becomes the right-button gesture started at the press.
class PressTracker {
public:
    enum class Move { Pass, Ignore, Start, Drag };
    enum class Release { Pass, EndDrag, ContextMenu, Click };

    // Stores the press position; returns true when the press is held back.
    bool press(Qt::MouseButton button, const QPointF& position, bool leftButtonOrbit);
    Move move(const QPointF& position, Qt::MouseButtons held);
    Release release(Qt::MouseButton button);
    // True while a selecting left press has not yet moved beyond the click slop: such moves are
    // kept from the controller, so that a slightly shaky click still picks instead of drawing
    // an empty selection rectangle.
    bool holdSelectionMove(const QPointF& position, Qt::MouseButtons held);

    QPoint pressPosition() const { return pressPosition_; }
    bool dragged() const { return dragged_; }
    int deferredButton() const { return deferred_; }

private:
    QPoint pressPosition_;
    bool dragged_ = false;
    int deferred_ = 0; // 0 none, 1 left, 2 right: the Qt button bits
    bool selectionMoved_ = false;
};

} // namespace qor::app
