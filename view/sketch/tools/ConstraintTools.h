#pragma once

#include "sketch/Sketch.h"
#include "view/sketch/HitTest.h"
#include "view/sketch/SketchBookkeeping.h"
#include "view/sketch/tools/ToolResult.h"

#include <optional>

namespace qor::app {

// The constraint tool: appends a hit point or curve to `step.picks` and adds a constraint of
// `type` once the picks suit it. Waiting or refused picks leave the sketch and the undo stack
// exactly as before; refused picks are dropped.
ToolResult applyConstraintPicks(sketch::Sketch& sketch, SketchHistory& history, ToolStep& step,
                                sketch::ConstraintType type, const SketchHit& hit);

// The dimension tool: a point or curve joins the picks (at most the last two), any other
// click places the dimension at `labelPosition`, a label click with no picks opens its value.
ToolResult dimensionClick(sketch::Sketch& sketch, SketchHistory& history, ToolStep& step,
                          const SketchHit& hit, std::optional<sketch::Vec2> labelPosition);

// The dimension that the picks and the label position call for; see dimensionClick.
ToolResult placeDimension(sketch::Sketch& sketch, SketchHistory& history, ToolStep& step,
                          std::optional<sketch::Vec2> labelPosition);

// Adds a dimension with the current measure; one that would over-determine the sketch becomes
// a driven reference dimension.
ToolResult addDimension(sketch::Sketch& sketch, SketchHistory& history, sketch::ConstraintType type,
                        int a, int b, sketch::Vec2 labelPosition);

} // namespace qor::app
