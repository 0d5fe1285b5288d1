#pragma once

#include "sketch/Sketch.h"

#include <TopAbs_ShapeEnum.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Ax3.hxx>
#include <gp_Circ.hxx>
#include <gp_Pnt.hxx>

#include <cstdint>
#include <vector>

namespace qor::sketch {

// Sketch coordinates (u, v) run along the plane's X and Y directions from its location.
gp_Pnt toWorld(const gp_Ax3& plane, double u, double v);
gp_Pnt toWorld(const gp_Ax3& plane, Vec2 p);
// Inverse of toWorld for points on the plane, orthogonal projection for points off it.
Vec2 toPlane(const gp_Ax3& plane, const gp_Pnt& p);

// True only when (u, v) lies strictly inside the face; the boundary counts as outside.
// Exceptions of the classifier reach the caller.
bool faceContainsPoint(const TopoDS_Face& face, const gp_Ax3& plane, double u, double v);

// The circle of a sketch circle or arc in space: counter-clockwise in (u, v),
// also on a left-handed plane.
gp_Circ sketchCircle(const gp_Ax3& plane, const gp_Pnt& centre, double r);

// The edge of a line, circle or arc on the plane; the null edge for points, unknown
// ids, degenerate or non-finite curves and kernel failures. Never throws.
// Circles and arcs run counter-clockwise in (u, v), also on a left-handed plane.
TopoDS_Edge entityToEdge(const Sketch& sketch, std::uint32_t id, const gp_Ax3& plane);

} // namespace qor::sketch

namespace qor {

// The normal of a planar face as the face is oriented: the surface's X × Y (which
// points against the plane's axis on a left-handed position), reversed for a reversed
// face. The caller makes sure the face is planar.
gp_Dir planarFaceNormal(const TopoDS_Face& face);

// One compound holding the shapes in order; null shapes are left out.
TopoDS_Compound compoundOf(const std::vector<TopoDS_Shape>& shapes);

// How many subshapes of the type the shape holds, a shared one as often as it is
// reached.
int countOf(const TopoDS_Shape& shape, TopAbs_ShapeEnum type);

// The edges of the sketch's curves in entity order; curves without an edge are left out.
TopoDS_Compound makeCompound(const sketch::Sketch& sketch, const gp_Ax3& plane,
                             bool includeConstruction);

} // namespace qor
