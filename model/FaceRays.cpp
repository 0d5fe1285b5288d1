#include "model/FaceRays.h"

#include <BRepBndLib.hxx>
#include <NCollection_DataMap.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_OrientedShapeMapHasher.hxx>
#include <TopoDS.hxx>
#include <gp_Ax1.hxx>
#include <gp_Cone.hxx>
#include <gp_Cylinder.hxx>
#include <gp_Pln.hxx>
#include <gp_Sphere.hxx>
#include <gp_Torus.hxx>

#include <algorithm>
#include <cmath>

namespace qor::model {
namespace {

// Faces kept per thread, at most; past it the store starts over. That keeps
// the faces of the bodies of a few booleans around the one at hand, and the
// shapes they hold, of bodies long gone, bounded.
constexpr int keptFaces = 4000;

using FaceStore
    = NCollection_DataMap<TopoDS_Shape, std::shared_ptr<FaceRays>, TopTools_OrientedShapeMapHasher>;

// Per thread, so that recomputes in other threads neither wait nor share.
FaceStore& store()
{
    thread_local FaceStore faces;
    return faces;
}

} // namespace

FaceRays::FaceRays(const TopoDS_Face& face)
    : face_(face)
    , surface_(face, Standard_False)
{
    BRepBndLib::Add(face_, box_, Standard_False);
}

IntCurvesFace_Intersector& FaceRays::intersector(double tolerance)
{
    for (const auto& [known, intersector] : intersectors_) {
        if (known == tolerance)
            return *intersector;
    }
    intersectors_.emplace_back(tolerance,
                               std::make_unique<IntCurvesFace_Intersector>(face_, tolerance));
    return *intersectors_.back().second;
}

namespace {

// Nearer the axis or centre than this, the point is left to the kernel's extrema.
constexpr double degenerate = 1e-9;

double fromAxis(const gp_Ax1& axis, const gp_Pnt& point, double& along)
{
    const gp_Vec relative(axis.Location(), point);
    along = relative.Dot(gp_Vec(axis.Direction()));
    return (relative - along * gp_Vec(axis.Direction())).Magnitude();
}

} // namespace

std::optional<double> FaceRays::surfaceDistance(const gp_Pnt& point) const
{
    double along = 0.0;
    switch (surface_.GetType()) {
    case GeomAbs_Plane: return surface_.Plane().Distance(point);
    case GeomAbs_Cylinder: {
        const gp_Cylinder cylinder = surface_.Cylinder();
        const double radial = fromAxis(cylinder.Axis(), point, along);
        if (radial < degenerate)
            return std::nullopt;
        return std::abs(radial - cylinder.Radius());
    }
    case GeomAbs_Sphere: {
        const gp_Sphere sphere = surface_.Sphere();
        const double radial = point.Distance(sphere.Location());
        if (radial < degenerate)
            return std::nullopt;
        return std::abs(radial - sphere.Radius());
    }
    case GeomAbs_Cone: {
        // In the plane of the axis and the point the cone is two lines
        // through its apex, each at the semi-angle to the axis.
        const gp_Cone cone = surface_.Cone();
        const double radial = fromAxis(gp_Ax1(cone.Apex(), cone.Axis().Direction()), point, along);
        if (radial < degenerate)
            return std::nullopt;
        const double angle = std::abs(cone.SemiAngle());
        const double c = std::cos(angle);
        const double s = std::sin(angle);
        return std::min(std::abs(radial * c - along * s), std::abs(radial * c + along * s));
    }
    case GeomAbs_Torus: {
        const gp_Torus torus = surface_.Torus();
        const double radial = fromAxis(torus.Axis(), point, along);
        if (radial < degenerate)
            return std::nullopt;
        return std::abs(std::hypot(radial - torus.MajorRadius(), along) - torus.MinorRadius());
    }
    default: return std::nullopt;
    }
}

std::shared_ptr<FaceRays> faceRays(const TopoDS_Face& face)
{
    FaceStore& faces = store();
    if (const std::shared_ptr<FaceRays>* known = faces.Seek(face))
        return *known;
    if (faces.Extent() >= keptFaces)
        faces.Clear();
    auto made = std::make_shared<FaceRays>(face);
    faces.Bind(face, made);
    return made;
}

Bnd_Box shapeBox(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    // Edges outside faces and corners outside edges add to the kernel's box.
    if (TopExp_Explorer(shape, TopAbs_EDGE, TopAbs_FACE).More()
        || TopExp_Explorer(shape, TopAbs_VERTEX, TopAbs_EDGE).More()) {
        BRepBndLib::Add(shape, box, Standard_False);
        return box;
    }
    for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next())
        box.Add(faceRays(TopoDS::Face(face.Current()))->box());
    return box;
}

void forgetFaceRays()
{
    store().Clear();
}

} // namespace qor::model
