#pragma once

// The pointer in the 3D view, as a user moves it: events go straight to the view, which
// handles them when it paints.

#include "view/Viewer.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QRect>

namespace qor::test {

// One painted frame, so that the view handles what it was sent.
inline void flushView(app::Viewer& viewer)
{
    viewer.grabFramebuffer();
    QCoreApplication::processEvents();
}

inline void sendMouse(app::Viewer& viewer, QEvent::Type type, QPoint at, Qt::MouseButton button,
                      Qt::MouseButtons held, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, QPointF(at), QPointF(viewer.mapToGlobal(at)), button, held, modifiers);
    QCoreApplication::sendEvent(&viewer, &event);
    flushView(viewer);
}

// A rectangle dragged from its top left corner along its top edge and down its right edge:
// the pointer never comes over what lies inside. Dragged from the bottom left corner
// upwards instead (upwards = true), it selects what the rectangle touches. startDrag stops
// short of the release, which endDrag sends.
inline void startDrag(app::Viewer& viewer, const QRect& area, bool upwards = false,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPoint start = upwards ? area.bottomLeft() : area.topLeft();
    const int rowY = upwards ? area.bottom() : area.top();
    sendMouse(viewer, QEvent::MouseMove, start, Qt::NoButton, Qt::NoButton, modifiers);
    sendMouse(viewer, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton, modifiers);
    for (int step = 1; step <= 4; ++step)
        sendMouse(viewer, QEvent::MouseMove, QPoint(area.left() + area.width() * step / 4, rowY),
                  Qt::NoButton, Qt::LeftButton, modifiers);
    for (int step = 1; step <= 4; ++step) {
        const int dy = area.height() * step / 4;
        sendMouse(viewer, QEvent::MouseMove,
                  QPoint(area.right(), upwards ? area.bottom() - dy : area.top() + dy),
                  Qt::NoButton, Qt::LeftButton, modifiers);
    }
}

inline void endDrag(app::Viewer& viewer, const QRect& area, bool upwards = false,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    sendMouse(viewer, QEvent::MouseButtonRelease, upwards ? area.topRight() : area.bottomRight(),
              Qt::LeftButton, Qt::NoButton, modifiers);
}

inline void dragAround(app::Viewer& viewer, const QRect& area, bool upwards = false,
                       Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    startDrag(viewer, area, upwards, modifiers);
    endDrag(viewer, area, upwards, modifiers);
}

} // namespace qor::test
