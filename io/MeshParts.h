#pragma once

#include "io/MeshFaces.h"

#include <vector>

namespace qor::io {

// A mesh body's closed parts, each judged on its own: a part turned inside out
// encloses a negative volume that the body's sum would hide behind another
// part's (a cube of 1,000 mm³ and one of 125 mm³ turned round sum to 875 mm³;
// a cube and an inside-out copy of it to nothing).
//
// Triangles belong to one part where they share an edge. Where more than two
// share one, each triangle is paired with the one that closes the wedge of
// space behind it, going round the edge: solids that touch along an edge stay
// apart, and a copy turned round is never paired with its original. A part found
// inside out is split again as if turned round, so that inside-out solids that
// touch along an edge are named one by one.
struct MeshParts {
    int count = 0; // edge-connected parts
    int open = 0; // parts whose edges are not each run through as often one way as the other
    std::vector<double> closedVolumes; // of the closed parts, in the order of their first triangle

    std::vector<double> insideOut() const;
    // The volume the mesh encloses where every part is closed.
    bool measurable() const { return count > 0 && open == 0; }
    double volume() const;
};

MeshParts meshParts(const IndexedMesh& mesh);

} // namespace qor::io
