#pragma once

#include <TopoDS_Face.hxx>

#include <vector>

namespace qor::io {

// Loose faces of solids that share a face come with that face twice, once for each solid
// (two boxes side by side, a tetrahedron inside another on a common base). Sewing joins an
// edge to one partner only and picks it blindly where more than two faces meet, so that such
// solids merge or leave a wrong shell. This splits the faces into the shells they belong to
// before they are sewn.
//
// Faces meet along edges at the same place (end points and middle within the tolerance).
// Where two faces meet, they belong to one shell. Where more meet, each face is paired with
// one that runs along the edge the other way, as the faces of one consistently turned shell
// do, and never with its own copy; among pairings that fit, the one that joins faces already
// together wins. Where more than eight meet (sectors around an axis), each face is paired with
// the next around the edge on the side of the solid it bounds. A face's seam, where it meets
// only itself, joins it to no other face. Where an edge of another face runs along a seam,
// wholly or in part (a pin in a hole of its size), or edges of two faces run along one another
// only in part (a small box against a large one), the faces are split into shells too, since
// the sewing would cut the edges there and join the solids.
//
// The positions of the faces by shell; empty when no edge joins more than two faces and no
// edges run along one another in part, where the sewing finds the shells by itself.
std::vector<std::vector<int>> shellsOfSharedFaces(const std::vector<TopoDS_Face>& faces,
                                                  double tolerance);

} // namespace qor::io
