#pragma once

#include <TopoDS_Face.hxx>

#include <vector>

namespace qor::sketch {

// For every edge of the face in the order an explorer meets them, whether it
// bounds the face: the face lies on one side of it only. A curve inside the
// face that bounds nothing (a stray line or arc, the arms of an X) is an edge
// marked internal or walked both ways.
std::vector<char> boundingEdges(const TopoDS_Face& face);

// The face bounded by its bounding edges only, so that a solid made from it
// has no walls inside where stray curves ran; where such a curve ended on the
// boundary, the pieces of a boundary curve it split are joined again. The face
// itself when every edge bounds it. Kernel exceptions reach the caller.
TopoDS_Face withoutLooseEdges(const TopoDS_Face& face);

} // namespace qor::sketch
