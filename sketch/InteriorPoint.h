#pragma once

#include "sketch/Sketch.h"

#include <TopoDS_Face.hxx>
#include <gp_Ax3.hxx>

#include <vector>

namespace qor::sketch {

// A point inside the face (which lies on the sketch plane) in sketch
// coordinates, found without meshing: a few lines of constant v are laid
// through the face, each at a height where none of the face's edges ends or
// turns and none of the heights in `avoid` (ascending) lies, so that every
// edge crosses it cleanly; of the middles of each line's widest stretch inside
// the face, the one furthest from the face's edges wins. Edges inside the face
// that bound nothing (stray curves) are kept clear of but do not end a
// stretch. The face's centre of mass when no line finds a stretch (a face of
// no area). Work grows with the number of the face's edges, not with its size
// or detail. Kernel exceptions reach the caller.
Vec2 interiorPoint(const TopoDS_Face& face, const gp_Ax3& plane,
                   const std::vector<double>& avoid = {});

} // namespace qor::sketch
