#pragma once

#include <TopoDS_Shape.hxx>

namespace qor::io {

// What stitching changed in a body's face triangulations.
struct Stitches {
    int split = 0; // triangles split at a neighbour's boundary node
    int filled = 0; // small holes closed
};

// Closes the seams the mesher leaves between faces of a body. The kernel
// meshes the border of each face from the edges' curves; a face it meshed
// apart from its neighbours (another pass, another way) can have other nodes on
// a shared edge than they do, and a reader of the file then finds edges of one
// triangle only: a slit, or a small hole where faces of an imprecise model do
// not quite meet. Corners of such edges closer than a twentieth of `tolerance`
// are moved onto one point, and triangles this collapses taken out. An edge of one triangle only
// that passes within `tolerance` of such an edge's node of the other side is split there, so that
// both sides use the same nodes; a hole left whose border closes on itself and lies within twice
// `tolerance` of its middle is filled with a fan around the middle. Works on the body's nodes
// merged as the writers merge them; triangles keep their winding, and nodes are only added, so that
// the edges' polygons stay valid.
Stitches stitchFaceSeams(const TopoDS_Shape& shape, double tolerance);

} // namespace qor::io
