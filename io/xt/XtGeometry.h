#pragma once

#include "io/xt/XtModel.h"

#include <Geom_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_Curve.hxx>
#include <gp_Ax3.hxx>
#include <gp_Dir.hxx>
#include <gp_Pnt.hxx>
#include <gp_XYZ.hxx>

#include <vector>

namespace qor::io {

// Reals that become geometry pass through these: a number that is not finite or lies
// beyond maxModelMillimetres (in the file's metres) throws XtError with the reader's
// message before the kernel sees it. The face being converted is left out and counted;
// the other faces and bodies of the transmission are kept.
double checkedXtNumber(double value);
gp_XYZ checkedXtVector(const XtNode& node, const std::string& name);
double checkedXtReal(const XtNode& node, const std::string& name, int i = 0);
// A direction is stored as a unit vector (or zero where the format leaves it unset); any
// other length means damaged data that would tilt the surface off its edges, so it throws
// XtError like a number out of range.
gp_XYZ checkedXtDirection(const XtNode& node, const std::string& name);

// The NURBS data of a B_CURVE node as a non-periodic B-spline. dim receives the dimension
// of the control points: 2 for a curve in a surface's parameter plane, 3 in space. Damaged
// data throw XtError; the kernel's own construction errors pass through.
Handle(Geom_BSplineCurve) readXtNurbs(const XtModel& model, const XtNode& curve, int& dim);

// The NURBS data of a B_SURFACE node as a non-periodic B-spline surface, checked like
// readXtNurbs.
Handle(Geom_BSplineSurface) readXtNurbsSurface(const XtModel& model, const XtNode& surface);

// The direction of v, or of fallback when v is (nearly) zero.
gp_Dir safeXtDir(const gp_XYZ& v, const gp_XYZ& fallback);

// Axis system at origin with main direction axis and x direction xDir made perpendicular
// to it; the kernel picks X when xDir is parallel to the axis.
gp_Ax3 makeXtAxes(const gp_XYZ& origin, const gp_XYZ& axis, const gp_XYZ& xDir);

// A trimmed line through two points, else an interpolating (or approximating) B-spline.
// Fewer than two points throw "Schnittkurve nicht interpolierbar".
Handle(Geom_Curve) curveThroughXtPoints(const std::vector<gp_Pnt>& points);

// Adds the point of a LIMIT node of type 'L' or 'T' at the front or the back of points,
// unless it repeats the neighbouring point within 1e-9.
void addXtLimitPoint(std::vector<gp_Pnt>& points, const XtNode* limit, bool atFront);

} // namespace qor::io
