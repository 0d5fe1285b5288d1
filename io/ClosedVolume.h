#pragma once

#include <TopoDS_Shape.hxx>

namespace qor::io {

// Volume of the shape's closed solids, 0 when it has none: an open shell encloses nothing,
// and its signed sum would depend on where the origin lies. A body that is only a
// triangulation has the volume its triangles enclose when they close.
double closedVolume(const TopoDS_Shape& shape);

// How many of the shape's solids are bounded by closed shells only: a solid
// whose shell a writer or reader left open holds no volume.
int closedSolidCount(const TopoDS_Shape& shape);

} // namespace qor::io
