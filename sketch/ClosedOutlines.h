#pragma once

#include "sketch/PlaneCurves.h"
#include "sketch/Sketch.h"

#include <array>
#include <cstddef>
#include <vector>

namespace qor::sketch {

// The sketch's non-construction curves grouped into closed outlines, which
// tell material from holes.
//
// Curves are joined where their drawn ends meet. An outline is a group of
// curves around which a loop can be walked, as far as any two of them lie on
// one common loop (a block of the graph of curves and their end points): a
// circle on its own; a rectangle of four lines; two rectangles sharing a side
// or a rectangle with a line from corner to corner, each as one outline. A
// curve on no loop at all (a stray line or arc, an open chain, a line whose
// ends only touch other curves part way along) belongs to no outline.
//
// A point lies inside an outline when it lies inside some loop of its curves
// by the even-odd rule; for an outline that is a single loop, as almost all
// are, that is the even-odd rule over its curves. A point is material when it
// lies inside an odd number of outlines. So closed curves keep the even-odd
// rule (a circle in a rectangle is a hole, the lens of two overlapping circles
// is a hole), while curves that close no loop never turn material into a hole
// and a line splitting an outline leaves both sides material.
struct ClosedOutlines {
    struct Outline {
        std::vector<std::size_t> curves; // indices into `curves`
        // For each of those curves its two ends as indices of the outline's own
        // vertices; empty when the outline is a single loop.
        std::vector<std::array<std::size_t, 2>> joints;
        std::size_t vertexCount = 0;
        // Around the curves: a ray along u from a point outside this box's
        // height or right of it meets none of them.
        Vec2 lo;
        Vec2 hi;
    };

    std::vector<PlaneCurve> curves; // sketchCurves of the sketch
    std::vector<Outline> outlines;
};

ClosedOutlines closedOutlines(const Sketch& sketch);

// Whether p is material. p should lie on no curve and at no height where a
// curve ends or turns (see addTurningHeights), as interior points do.
bool material(const ClosedOutlines& outlines, Vec2 p);

} // namespace qor::sketch
