#pragma once

#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>

#include <vector>

namespace qor::model {

// Plane faces with at least this many wires are checked in parts.
constexpr int partWiresFrom = 32;

// The kernel's verdict on the shape: whether it passes BRepCheck_Analyzer with
// the geometric checks on. The kernel tests every wire of a face against every
// other, which takes half a minute on a plate with 4,000 holes. So a plane face
// of `splitFrom` or more wires, one of which encloses the boxes of all others
// with room, is checked as several faces on the same surface: that wire with
// groups of the others, where wires whose boxes meet share a group. Wires
// whose boxes lie apart neither cross nor hold each other, and the kernel
// skips such pairs too. The shells are checked by the kernel on stand-ins in
// which such a face is split as well, each of its edges in one part, the
// parts joined by edges of their own. Kernel exceptions reach the caller, as
// from the analyzer.
bool validShape(const TopoDS_Shape& shape, int splitFrom = partWiresFrom);

// The faces validShape checks in place of the face: the face alone, or its
// parts when it is split.
std::vector<TopoDS_Face> checkedParts(const TopoDS_Face& face, int splitFrom = partWiresFrom);

} // namespace qor::model
