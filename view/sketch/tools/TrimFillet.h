#pragma once

#include "sketch/Sketch.h"
#include "view/sketch/HitTest.h"
#include "view/sketch/SketchBookkeeping.h"
#include "view/sketch/tools/ToolResult.h"

namespace qor::app {

// Cuts away the piece of `curve` between its nearest intersections with the other curves on
// either side of `click`; a curve crossing nothing (a circle crossed less than twice) goes
// wholly. Intersections within 1e-6 of an end do not cut.
ToolResult trimCurve(sketch::Sketch& sketch, SketchHistory& history, int curve, sketch::Vec2 click);

// Rounds the corner point that `hit` names with an arc of `radius`, tangent to both lines.
// Only a point used by exactly two lines and no other curve is a corner; every refusal leaves
// the sketch and the undo stack alone.
ToolResult filletCorner(sketch::Sketch& sketch, SketchHistory& history, const SketchHit& hit,
                        double radius);

} // namespace qor::app
