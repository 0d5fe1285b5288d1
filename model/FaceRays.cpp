#include "model/FaceRays.h"

#include "model/FaceDomain.h"

#include <BRepBndLib.hxx>
#include <BRep_Tool.hxx>
#include <ElSLib.hxx>
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
    , boundaryTolerance_(BRep_Tool::Tolerance(face))
{
    BRepBndLib::Add(face_, box_, Standard_False);
    for (TopExp_Explorer edge(face_, TopAbs_EDGE); edge.More(); edge.Next())
        boundaryTolerance_
            = std::max(boundaryTolerance_, BRep_Tool::Tolerance(TopoDS::Edge(edge.Current())));
}

FaceRays::~FaceRays() = default;

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

const FaceDomain& FaceRays::domain()
{
    if (!domain_)
        domain_ = std::make_unique<FaceDomain>(face_);
    return *domain_;
}

bool FaceRays::besidePlaneFace(const gp_Pnt& point, double reach)
{
    if (surface_.GetType() != GeomAbs_Plane)
        return false;
    double u = 0, v = 0;
    ElSLib::Parameters(surface_.Plane(), point, u, v);
    // Outside at that tolerance, the foot lies farther than it from every
    // edge in the plane, and the point no nearer to the face.
    return domain().state(gp_Pnt2d(u, v), reach) == TopAbs_OUT;
}

bool FaceRays::meet(const gp_Lin& ray, double tolerance, double length,
                    std::vector<RayMeeting>& meetings)
{
    meetings.clear();
    switch (surface_.GetType()) {
    case GeomAbs_Plane: return meetPlane(ray, tolerance, length, meetings);
    case GeomAbs_Cylinder:
    case GeomAbs_Sphere: return meetRound(ray, tolerance, length, meetings);
    case GeomAbs_Cone: return meetCone(ray, tolerance, length, meetings);
    default: break;
    }
    IntCurvesFace_Intersector& meet = intersector(tolerance);
    meet.Perform(ray, -tolerance, length);
    if (!meet.IsDone())
        return false;
    for (int i = 1; i <= meet.NbPnt(); ++i) {
        meetings.push_back({meet.WParameter(i), gp_Pnt2d(meet.UParameter(i), meet.VParameter(i)),
                            meet.State(i) != TopAbs_IN,
                            meet.Transition(i) == IntCurveSurface_Tangent});
    }
    return true;
}

// A place outside the face's box, which holds its tolerance, is off the face.
bool FaceRays::offBox(const gp_Pnt& place, double tolerance) const
{
    Bnd_Box near = box_;
    near.Enlarge(tolerance);
    return near.IsOut(place);
}

// The place at `w` along the ray, unless the face's domain puts it outside;
// a place on the boundary is kept as unsure.
void FaceRays::keepOnFace(double w, const gp_Pnt2d& uv, double tolerance,
                          std::vector<RayMeeting>& meetings)
{
    const TopAbs_State state = domain().state(uv, std::max(tolerance, boundaryTolerance_));
    if (state != TopAbs_OUT)
        meetings.push_back({w, uv, state != TopAbs_IN, false});
}

// The kernel's intersector classifies a place on a plane at the larger of
// its tolerance and the face's boundary tolerance, or at the smaller one
// first and the larger where that says outside: a place inside or outside at
// the larger tolerance is so at the smaller, and one on the boundary at the
// larger is reported as on the boundary, which the rays take as unsure.
bool FaceRays::meetPlane(const gp_Lin& ray, double tolerance, double length,
                         std::vector<RayMeeting>& meetings)
{
    const gp_Pln plane = surface_.Plane();
    const gp_Dir& normal = plane.Axis().Direction();
    const double along = ray.Direction().Dot(normal);
    // Parallel: the kernel's intersection reports no place.
    if (std::abs(along) < 1e-12)
        return true;
    const double w = gp_Vec(ray.Location(), plane.Location()).Dot(gp_Vec(normal)) / along;
    if (w < -tolerance || w > length)
        return true;
    const gp_Pnt met = ray.Location().Translated(w * gp_Vec(ray.Direction()));
    if (offBox(met, tolerance))
        return true;
    double u = 0, v = 0;
    ElSLib::Parameters(plane, met, u, v);
    keepOnFace(w, gp_Pnt2d(u, v), tolerance, meetings);
    return true;
}

// A cylinder or a sphere is met where the ray's distance from its axis or
// centre is the radius, a quadratic in the distance along the ray, and each
// place is told by the face's domain as on a plane. A ray passing within
// twice the tolerance of touching the surface may be met once, twice or not
// at all by the kernel's intersector: false (unsure), as for a ray along the
// axis.
bool FaceRays::meetRound(const gp_Lin& ray, double tolerance, double length,
                         std::vector<RayMeeting>& meetings)
{
    const bool sphere = surface_.GetType() == GeomAbs_Sphere;
    const gp_Ax3 frame = sphere ? surface_.Sphere().Position() : surface_.Cylinder().Position();
    const double radius = sphere ? surface_.Sphere().Radius() : surface_.Cylinder().Radius();
    gp_Vec along(ray.Direction());
    gp_Vec from(frame.Location(), ray.Location());
    if (!sphere) {
        // Across the axis only.
        const gp_Vec axis(frame.Direction());
        along -= along.Dot(axis) * axis;
        from -= from.Dot(axis) * axis;
    }
    const double a = along.SquareMagnitude();
    if (a < 1e-12)
        return false;
    // The ray's nearest approach to the axis or centre, and where it lies.
    const double nearestAt = -from.Dot(along) / a;
    const double nearest = (from + nearestAt * along).Magnitude();
    if (std::abs(nearest - radius) <= 2.0 * tolerance + 1e-9 * radius)
        return false;
    if (nearest > radius)
        return true;
    const double half = std::sqrt((radius * radius - nearest * nearest) / a);
    for (const double w : {nearestAt - half, nearestAt + half}) {
        if (w < -tolerance || w > length)
            continue;
        const gp_Pnt met = ray.Location().Translated(w * gp_Vec(ray.Direction()));
        if (offBox(met, tolerance))
            continue;
        double u = 0, v = 0;
        if (sphere)
            ElSLib::Parameters(surface_.Sphere(), met, u, v);
        else
            ElSLib::Parameters(surface_.Cylinder(), met, u, v);
        keepOnFace(w, gp_Pnt2d(u, v), tolerance, meetings);
    }
    return true;
}

// A cone is met where the ray's distance from the axis is the cone's radius
// at that height, r = R + z tan(angle): a quadratic again. Unsure where the
// kernel's intersector may see the ray otherwise: along a line of the cone,
// within twice the tolerance of touching it (measured across the surface at
// the ray's nearest approach), or near the apex, beyond which the other half
// of the double cone begins.
bool FaceRays::meetCone(const gp_Lin& ray, double tolerance, double length,
                        std::vector<RayMeeting>& meetings)
{
    const gp_Cone cone = surface_.Cone();
    const gp_Ax3& frame = cone.Position();
    const gp_Vec axis(frame.Direction());
    const double slope = std::tan(cone.SemiAngle());
    const double across = std::cos(cone.SemiAngle());
    const gp_Vec from(frame.Location(), ray.Location());
    const gp_Vec along(ray.Direction());
    const double fz = from.Dot(axis);
    const double dz = along.Dot(axis);
    const gp_Vec fr = from - fz * axis;
    const gp_Vec dr = along - dz * axis;
    // The radius along the ray, r0 + t dr, and the quadratic's terms.
    const double r0 = cone.RefRadius() + slope * fz;
    const double rt = slope * dz;
    const double a = dr.SquareMagnitude() - rt * rt;
    const double b = 2.0 * (fr.Dot(dr) - r0 * rt);
    const double c = fr.SquareMagnitude() - r0 * r0;
    const double scale = std::max({1.0, std::abs(r0), fr.Magnitude()});
    if (std::abs(a) < 1e-9)
        return false;
    // The gap between the ray and the surface where the quadratic turns.
    const double turnAt = -b / (2.0 * a);
    const double gapAtTurn = ((fr + turnAt * dr).Magnitude() - (r0 + turnAt * rt)) * across;
    if (std::abs(gapAtTurn) <= 2.0 * tolerance + 1e-9 * scale)
        return false;
    const double discriminant = b * b - 4.0 * a * c;
    if (discriminant < 0.0)
        return true;
    const double root = std::sqrt(discriminant);
    for (const double w : {(-b - root) / (2.0 * a), (-b + root) / (2.0 * a)}) {
        if (w < -tolerance || w > length)
            continue;
        const gp_Pnt met = ray.Location().Translated(w * along);
        if (offBox(met, tolerance))
            continue;
        if (r0 + w * rt <= 2.0 * tolerance + 1e-9 * scale)
            return false;
        double u = 0, v = 0;
        ElSLib::Parameters(cone, met, u, v);
        keepOnFace(w, gp_Pnt2d(u, v), tolerance, meetings);
    }
    return true;
}

namespace {

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
        return std::abs(fromAxis(cylinder.Axis(), point, along) - cylinder.Radius());
    }
    case GeomAbs_Sphere:
    case GeomAbs_Torus: return std::abs(*beyondRound(point));
    case GeomAbs_Cone: {
        // In the plane of the axis and the point the cone is two lines
        // through its apex, each at the semi-angle to the axis.
        const gp_Cone cone = surface_.Cone();
        const double radial = fromAxis(gp_Ax1(cone.Apex(), cone.Axis().Direction()), point, along);
        const double angle = std::abs(cone.SemiAngle());
        const double c = std::cos(angle);
        const double s = std::sin(angle);
        return std::min(std::abs(radial * c - along * s), std::abs(radial * c + along * s));
    }
    default: return std::nullopt;
    }
}

std::optional<double> FaceRays::beyondRound(const gp_Pnt& point) const
{
    if (surface_.GetType() == GeomAbs_Sphere) {
        const gp_Sphere sphere = surface_.Sphere();
        return point.Distance(sphere.Location()) - sphere.Radius();
    }
    if (surface_.GetType() == GeomAbs_Torus) {
        const gp_Torus torus = surface_.Torus();
        double along = 0.0;
        const double radial = fromAxis(torus.Axis(), point, along);
        return std::hypot(radial - torus.MajorRadius(), along) - torus.MinorRadius();
    }
    return std::nullopt;
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

std::array<double, 3> boxSides(const Bnd_Box& box)
{
    if (box.IsVoid())
        return {0.0, 0.0, 0.0};
    double xmin = 0, ymin = 0, zmin = 0, xmax = 0, ymax = 0, zmax = 0;
    box.Get(xmin, ymin, zmin, xmax, ymax, zmax);
    return {xmax - xmin, ymax - ymin, zmax - zmin};
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
