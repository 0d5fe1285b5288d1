#pragma once

#include "sketch/Sketch.h"

#include <QPointF>
#include <QRectF>

#include <cstdint>
#include <vector>

namespace qor::app {

class SketchMapper;

// Pick tolerances in widget pixels, so they stay the same on screen at every zoom.
namespace pickTolerance {
constexpr double point = 8.0;
constexpr double curve = 7.0;
constexpr double labelMargin = 3.0;
} // namespace pickTolerance

enum class HitKind : std::int32_t { Nothing = 0, Point = 1, Curve = 2, Label = 3, Glyph = 4 };

// What lies under the mouse: an entity (point, curve) or a constraint (label, glyph).
struct SketchHit {
    HitKind kind = HitKind::Nothing;
    std::int32_t id = -1;
    double dist = 1e9; // pixels for points and curves, 0 for labels and glyphs
};

// The box of one constraint glyph in widget pixels.
struct GlyphRect {
    QRectF rect;
    std::uint32_t constraintId = 0;
};

// An entity's outline in pixels: a line's two ends, 97 points around a circle, at least 9 along
// an arc (counter-clockwise from start to end; zero sweep is a full circle). Empty for points
// and missing entities.
std::vector<QPointF> entityPolyline(const sketch::Sketch& sketch, const SketchMapper& mapper,
                                    int entityId);

// Glyphs of the non-dimensional constraints other than coincidence, in constraint order,
// 8 px right of and 6 px below their anchor; anchors within one 4 x 4 pixel cell line their
// glyphs up 19 px apart.
std::vector<GlyphRect> glyphRects(const sketch::Sketch& sketch, const SketchMapper& mapper);

// First match wins: a dimension label (grown by 3 px), a glyph, the nearest point within
// 8 px (only withPoints), the nearest curve within 7 px. Earlier entities win ties.
SketchHit hitTest(const sketch::Sketch& sketch, const SketchMapper& mapper, QPointF pixel,
                  bool withPoints);

} // namespace qor::app
