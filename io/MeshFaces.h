#pragma once

#include <TopoDS_Shape.hxx>
#include <gp_Pnt.hxx>

#include <array>
#include <vector>

namespace qor::io {

// The triangulation of one face in world coordinates. Triangles index nodes
// from 0 and are wound so that they face out of the body: a reversed face has
// its second and third corners swapped. Triangles with a repeated node or a
// node the triangulation does not have are left out; nodes are kept as the
// triangulation lists them.
struct FaceTriangles {
    std::vector<gp_Pnt> nodes;
    std::vector<std::array<int, 3>> triangles;
};

// Every face of the shape that carries a triangulation, in explorer order.
std::vector<FaceTriangles> triangulatedFaces(const TopoDS_Shape& shape);

// A colour component from 0 to 1 as a byte: lround(255 × component), with the
// component clamped to 0 … 1 first (a value that is not a number gives 0).
int colourByte(double component);

} // namespace qor::io
