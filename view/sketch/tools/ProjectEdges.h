#pragma once

#include "sketch/Sketch.h"
#include "view/sketch/SketchBookkeeping.h"
#include "view/sketch/tools/ToolResult.h"

#include <TopoDS_Shape.hxx>
#include <gp_Ax3.hxx>

#include <vector>

namespace qor::app {

// Copies the straight and circular edges of the picked model faces and edges into the sketch
// as fixed geometry, projected onto the plane. Circles and arcs count only when their axis is
// parallel to the plane's normal, lines only when they keep a length on the plane.
ToolResult projectEdges(sketch::Sketch& sketch, SketchHistory& history, const gp_Ax3& plane,
                        const std::vector<TopoDS_Shape>& picked);

} // namespace qor::app
