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

// A volume with the bound of the error made in measuring it.
struct BoundedVolume {
    double volume = 0.0;
    double error = 0.0;
};

// The same volume, with the faces that have no closed form integrated by the
// kernel adaptively, each to about 1e-9 of its share, and the bound the
// kernel gives for each face's error summed: many times slower on tori,
// cones and free forms, whose quick integration misjudges a face by up to
// about 1e-4 of its share, as its fixed points fit the face's edges.
BoundedVolume preciselyEnclosedVolume(const TopoDS_Shape& faces);

} // namespace qor::model
