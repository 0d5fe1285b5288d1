#pragma once

#include <TopoDS_Shape.hxx>

namespace qor::model {

// The volume the oriented faces of the shape enclose, each face counted as it
// is turned: for a closed set of faces (a solid's boundary, or the faces two
// solids do not share, those of the one reversed) the volume between them. The
// kernel integrates a face over its area; a plane face bounded by lines and
// circles, and a cylinder face bounded by lines of its parameter plane (its
// circles, seam and straight sides), are measured from their boundary alone,
// in closed form, which on a plate with a hundred holes takes a small part of
// the kernel's time.
double enclosedVolume(const TopoDS_Shape& faces);

} // namespace qor::model
