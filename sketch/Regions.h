#pragma once

#include "sketch/Sketch.h"

#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Ax3.hxx>

#include <vector>

namespace qor::sketch {

// One closed area that the sketch's curves enclose on the sketch plane.
struct ProfileRegion {
    // On a plane whose surface parameters are the sketch coordinates; carries the
    // triangulation made for the interior point.
    TopoDS_Face face;
    Vec2 interior; // certainly inside the face, sketch coordinates
    double area = 0.0; // mm², never below 1e-9
    // Even-odd rule over all non-construction curves: material when set, hole when clear.
    bool outer = false;
};

// The regions of the sketch's non-construction curves in the face builder's order;
// empty when nothing is enclosed or the kernel fails. Never throws.
std::vector<ProfileRegion> buildRegions(const Sketch& sketch, const gp_Ax3& plane);

// The centroid of the face's largest mesh triangle in sketch coordinates. Meshes the
// face as a side effect; kernel exceptions reach the caller.
Vec2 interiorPoint(const TopoDS_Face& face, const gp_Ax3& plane);

// The null shape, the single face, or the faces fused with coplanar neighbours merged;
// a compound of the faces when the fuse fails. Kernel exceptions reach the caller.
TopoDS_Shape fuseRegions(const std::vector<TopoDS_Face>& faces);

} // namespace qor::sketch
