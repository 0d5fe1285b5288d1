#pragma once

#include "sketch/Sketch.h"

#include <QLineF>
#include <QPoint>
#include <QPointF>

#include <cmath>
#include <optional>

namespace qor::app {

// The two mappings between sketch coordinates (u, v in mm on the sketch plane) and logical
// widget pixels of the view. The editor's mapper wraps the viewer's camera; hit testing,
// snapping and the dimension layout only see this interface, so they run without OpenGL.
class SketchMapper {
public:
    virtual ~SketchMapper() = default;
    // No value when the view ray through the pixel misses the plane.
    virtual std::optional<sketch::Vec2> toSketch(QPoint pixel) const = 0;
    virtual QPointF toPixel(double u, double v) const = 0;

    QPointF toPixel(sketch::Vec2 p) const { return toPixel(p.x, p.y); }
    // The segment between two sketch positions in pixels, as painted and as laid out.
    QLineF pixelSegment(sketch::Vec2 a, sketch::Vec2 b) const { return {toPixel(a), toPixel(b)}; }
};

// A mouse event position in whole pixels, halves rounded away from zero.
inline QPoint eventPixel(QPointF position)
{
    return {int(std::round(position.x())), int(std::round(position.y()))};
}

} // namespace qor::app
