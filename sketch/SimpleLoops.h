#pragma once

#include "sketch/Sketch.h"

#include <TopoDS_Face.hxx>
#include <gp_Ax3.hxx>

#include <cstddef>
#include <optional>
#include <vector>

namespace qor::sketch {

// Lines beyond which one loop is not made a face: the kernel's mesher and shape
// checks take time growing faster than the number of edges of a face.
constexpr std::size_t maxLoopCurves = 4000;

// The regions of a sketch whose curves are already simple closed loops, built
// without the kernel's splitter and face builder: one face per loop, with the
// loops directly inside it as holes, all on one plane surface whose parameters
// are the sketch coordinates. Such loops are lines meeting end to end, exactly
// two at each vertex, and whole circles, none crossing or coming close to
// another. Nothing when the curves are not such loops (an arc, an open end, a
// crossing, a repeated id, ends that nearly meet, a loop of more than
// maxLoopCurves lines) or when telling would take
// more work than a bound proportional to the number of curves. Kernel
// exceptions reach the caller.
std::optional<std::vector<TopoDS_Face>> simpleLoopFaces(const Sketch& sketch, const gp_Ax3& plane);

} // namespace qor::sketch
