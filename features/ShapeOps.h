#pragma once

#include <TopoDS_Shape.hxx>
#include <gp_Dir.hxx>
#include <gp_Trsf.hxx>
#include <gp_Vec.hxx>

#include <vector>

namespace qor::model {

// Shape operations shared by the body-making executors. Kernel exceptions reach
// the caller; the recompute reports them as geometry errors.

// The profile swept along the vector (copied, canonized).
TopoDS_Shape makePrism(const TopoDS_Shape& profile, const gp_Vec& vector);

// A moved copy of the shape; a body of triangles only (read from a mesh file)
// has its triangles moved.
TopoDS_Shape transformShape(const TopoDS_Shape& shape, const gp_Trsf& trsf);

// One shape uniting all: null for none, the shape itself for one, otherwise one
// fuse of the first with all others, cleaned up. Throws FeatureError
// "Vereinigen der Teilkörper fehlgeschlagen".
TopoDS_Shape fuseAll(const std::vector<TopoDS_Shape>& shapes);

// The same for bodies, as every join of bodies is made: each solid of the
// others a tool of its own, the fuse checked and run in other ways (see
// soundBoolean). Throws FeatureError "Vereinigen der Teilkörper
// fehlgeschlagen", with the reason when no way gives a result to accept.
TopoDS_Shape soundFuseAll(const std::vector<TopoDS_Shape>& shapes);

// The planar faces of the profile extruded by distance along dir. A taper in
// degrees inclines the side walls, each face starting from its own outline;
// positive tapers widen the solid towards its end. Throws FeatureError for a
// distance that is not positive or a taper the kernel cannot build.
TopoDS_Shape taperedPrism(double taperDeg, const TopoDS_Shape& profile, gp_Dir dir,
                          double distance);

} // namespace qor::model
