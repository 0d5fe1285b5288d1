#pragma once

#include "sketch/Sketch.h"
#include "view/sketch/SketchBookkeeping.h"
#include "view/sketch/tools/ToolResult.h"

namespace qor::app {

// One snapped click of the drawing tools 1 (line chain) to 10 (slot): collects the clicks of
// the shape in `step` and creates the shape with the constraints that hold it once the last
// click arrives, after one snapshot. Degenerate input is ignored; other tools do nothing.
ToolResult geometryClick(sketch::Sketch& sketch, SketchHistory& history, ToolStep& step, int tool,
                         const SnapRecord& snap, int polygonSides);

} // namespace qor::app
