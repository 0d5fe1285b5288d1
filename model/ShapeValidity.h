#pragma once

#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>

#include <optional>
#include <vector>

namespace qor::model {

// A box in a face's parameters.
struct ParamBox {
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
};

bool overlap(const ParamBox& a, const ParamBox& b);
ParamBox widened(const ParamBox& box, double margin);
bool strictlyInside(const ParamBox& inner, const ParamBox& outer);

// The index of the box of largest area: of a face's wires, the one that
// encloses the others if any does.
std::size_t largestBox(const std::vector<ParamBox>& boxes);

// The wire's box in the face's parameters over the curve ranges the kernel's
// face check bounds; none where a curve is missing or unbounded.
std::optional<ParamBox> wireBox(const TopoDS_Shape& wire, const TopoDS_Face& face);

// How far apart the boxes of two wires of a plane face, the enclosing one's
// box `outer`, must lie: far beyond any distance at which the kernel's
// classification of a point against a wire could differ from that of a point
// at infinity.
double boxMargin(const TopoDS_Face& face, const ParamBox& outer);

// An empty face on the face's surface, not yet placed or turned: the builder
// would take the face's stored wires as placed and turned with the face.
TopoDS_Face emptyOnSurface(const TopoDS_Face& face);

// The part placed and turned as the face is.
TopoDS_Face placedAs(TopoDS_Face part, const TopoDS_Face& face);

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

// The part of validShape above the faces: the analyzer's checks of the shape's
// shells (closed, consistently oriented, in their solid's context) and solids
// (their shells nested and turned as a solid's must be), without the checks
// of faces, wires, edges and vertices. Topology only, so it costs little beside
// the face checks; validShape(shape) holds exactly when this holds and every
// face, and every wire, edge or vertex outside the faces, passes on its own.
bool shellsAndSolidsValid(const TopoDS_Shape& shape, int splitFrom = partWiresFrom);

// The faces validShape checks in place of the face: the face alone, or its
// parts when it is split.
std::vector<TopoDS_Face> checkedParts(const TopoDS_Face& face, int splitFrom = partWiresFrom);

} // namespace qor::model
