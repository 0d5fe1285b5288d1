#pragma once

#include "sketch/Sketch.h"

#include <QPoint>

#include <cstdint>
#include <optional>

namespace qor::app {

class SketchMapper;

// Snap radii in widget pixels.
namespace snapTolerance {
constexpr double point = 10.0;
constexpr double origin = 10.0;
constexpr double midpoint = 8.0;
constexpr double alignment = 7.0;
} // namespace snapTolerance

enum class SnapKind : std::uint32_t {
    Free = 0, // the position under the mouse
    Point = 1, // an existing point
    Midpoint = 2, // the midpoint of a line
    Centre = 3, // an existing point that is the centre of a circle or arc
    OnCurve = 4, // projected onto a curve
    Horizontal = 6, // level with the reference point
    Vertical = 7, // plumb with the reference point
    Origin = 8, // the sketch origin
};

// Where a click of a drawing tool lands, in sketch coordinates.
struct SnapRecord {
    SnapKind kind = SnapKind::Free;
    double x = 0.0;
    double y = 0.0;
    std::int32_t pointId = -1; // the existing point for Point and Centre
    std::int32_t entityId = -1; // the line for Midpoint, the curve for OnCurve
};

// First match wins: an existing point within 10 px, the origin within 10 px, a line midpoint
// within 8 px, horizontal then vertical alignment with the reference within 7 px, with
// onCurves the curve under the mouse (an arc counts as its full circle), else the free
// position. A pixel off the plane gives a fresh record at (0, 0).
SnapRecord snapAt(const sketch::Sketch& sketch, const SketchMapper& mapper, QPoint pixel,
                  bool onCurves, std::optional<sketch::Vec2> reference);

} // namespace qor::app
