#pragma once

// XT geometry nodes to OpenCASCADE curves and surfaces, in the file's units (metres).
// Failures throw XtError with a German text; the kernel's own construction errors pass
// through as Standard_Failure. Either one fails the face being built.

#include "io/xt/XtModel.h"

#include <Geom_Curve.hxx>
#include <Geom_Surface.hxx>

namespace qor::io {

// Deepest nesting of curve and surface construction: trimmed curves, offset, swept and
// spun surfaces refer to further geometry, and a damaged file may refer to itself.
constexpr int xtMaxGeometryDepth = 32;

Handle(Geom_Surface) makeXtSurface(XtReadContext& context, const XtNode& node);
// The surface of the node, converted once per read.
Handle(Geom_Surface) cachedXtSurface(XtReadContext& context, const XtNode& node);
// sameSense: the edge runs along the curve's parameter; approximated: the curve is only
// close to the true one, so its direction is decided by the edge's end points.
Handle(Geom_Curve) makeXtCurve(XtReadContext& context, const XtNode& node, bool& sameSense,
                               bool& approximated);

} // namespace qor::io
