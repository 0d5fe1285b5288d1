#pragma once

#include "sketch/PlaneCurves.h"
#include "sketch/Sketch.h"

#include <array>
#include <cstddef>
#include <vector>

namespace qor::sketch {

// The sketch's non-construction curves grouped into outlines, which tell
// material from holes.
//
// Curves are joined where their drawn ends meet (1e-6 apart, as the kernel's
// splitter joins them), and curves lying over each other count once however
// they are split (see mergeCoinciding): a circle drawn again as two arcs, a
// line drawn again as two pieces that overlap. A drawn
// outline is a group of curves around which a loop can be walked, as far as
// any two of them lie on one common loop (a block of the graph of curves and
// their end points): a circle or an arc closing on itself; a rectangle of four
// lines; two rectangles sharing a side or a rectangle with a line from corner
// to corner, each as one outline. The curves on no drawn outline are free:
// stray lines and arcs, open chains, lines whose ends only touch other curves.
// Cut where they cross each other or where an end of one lies on another, free
// curves form free outlines, the blocks of the graph of those pieces: the
// middle of a "#" of four lines, a rectangle whose sides overshoot its corners,
// a U standing on a longer line. The free pieces left over are cut where they
// cross or touch an outline's curve (drawn or free) with an end, and those
// curves are cut there too (outlines never at each other); each block of that
// graph holding a left-over piece joins the outlines whose curves it holds,
// its members: a U standing on a rectangle's side, a line across a plate.
// Crossings and ends closer than 1e-6 are one place throughout, so a left-over
// piece ending where a free outline's corner lies on an outline's curve meets
// that curve there, however the free curves were split.
//
// A point lies inside an outline when it lies inside some loop of it by the
// even-odd rule (for a single loop, as almost all are, the even-odd rule over
// its curves). The point's count takes every outline that is no member of a
// joined one once when it holds the point, and every joined outline as the
// number of its members that hold the point, or, where none does, once when
// the joined outline holds it. A point is material when its count is odd. So
// closed curves keep the even-odd rule (a circle in a rectangle is a hole, the
// lens of two overlapping circles is a hole, a rectangle with overshooting
// corners inside another is a hole); curves that close a loop only with an
// outline add to it where they leave it (a tab) and split it where they lie
// inside it, never turning material into a hole; and curves that close no
// loop at all take no part.
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
    // Outlines joined by left-over free pieces, and the loops those pieces close.
    struct Joined {
        Outline boundary;
        std::vector<std::size_t> members; // indices into `outlines`
    };

    // sketchCurves of the sketch with coinciding ones merged, then the pieces
    // of cut curves.
    std::vector<PlaneCurve> curves;
    std::size_t drawnCount = 0; // the curves before the pieces
    std::vector<Outline> outlines; // drawn, then free
    std::vector<Joined> joined;
    std::vector<char> member; // per outline: a member of a joined outline
};

ClosedOutlines closedOutlines(const Sketch& sketch);

// Whether p is material. p should lie on no curve and at no height where one
// of `curves` ends or turns (see addTurningHeights), as interior points do.
bool material(const ClosedOutlines& outlines, Vec2 p);

} // namespace qor::sketch
