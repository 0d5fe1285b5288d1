#pragma once

#include "sketch/Sketch.h"

#include <QString>

#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Ax3.hxx>

#include <vector>

namespace qor::sketch {

// One closed area that the sketch's curves enclose on the sketch plane.
struct ProfileRegion {
    // On a plane whose surface parameters are the sketch coordinates.
    TopoDS_Face face;
    Vec2 interior; // certainly inside the face, sketch coordinates
    double area = 0.0; // mm², never below 1e-9
    // Material when set, hole when clear, by the sketch's outlines (see
    // ClosedOutlines): loops closed where curves meet count as drawn loops do,
    // and curves that close no loop take no part.
    bool outer = false;
};

// Curves beyond which a sketch whose curves are not already simple closed loops
// is not split into regions: the kernel's splitter and face builder take minutes
// and gigabytes on all edges at once.
constexpr std::size_t maxSplitCurves = 4000;

// The regions of the sketch's non-construction curves: one face per simple loop
// when the curves are such loops (see simpleLoopFaces), else in the face
// builder's order. Empty when nothing is enclosed, the kernel fails, or the
// sketch is too large to split. Never throws.
std::vector<ProfileRegion> buildRegions(const Sketch& sketch, const gp_Ax3& plane);

// The faces of all the sketch's curves split at each other by the kernel, the
// outside left out; empty when nothing is enclosed or the kernel reports a
// failure. Kernel exceptions reach the caller.
std::vector<TopoDS_Face> splitCurveFaces(const Sketch& sketch, const gp_Ax3& plane);

// Why buildRegions gives the sketch no regions when it was refused for its size
// (German); empty otherwise.
QString regionsRefusal(const Sketch& sketch, const gp_Ax3& plane);

// The null shape, the single face, or the faces fused with coplanar neighbours merged;
// a compound of the faces when the fuse fails. Kernel exceptions reach the caller.
TopoDS_Shape fuseRegions(const std::vector<TopoDS_Face>& faces);

} // namespace qor::sketch
