#include "model/RayClassifier.h"

#include "model/FaceRays.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepGProp_Face.hxx>
#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <Extrema_ExtPS.hxx>
#include <GeomAdaptor_Surface.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Lin.hxx>

#include <algorithm>
#include <cmath>

namespace qor::model {

namespace {

// A direction along no axis, plane diagonal or space diagonal, so that rays
// seldom run along the faces and edges of modelled parts.
const gp_Dir rayDirection(0.3123, 0.5437, 0.7801);

// How near, in tolerances, a face's surface may come to a point told by a ray.
constexpr double nearFactor = 1.5;

// Rays meeting a face at a smaller cosine are too close to running along it.
constexpr double grazing = 1e-3;

} // namespace

RayClassifier::RayClassifier(const TopoDS_Shape& solid)
{
    std::vector<Bnd_Box> boxes;
    for (TopExp_Explorer explorer(solid, TopAbs_FACE); explorer.More(); explorer.Next()) {
        faces_.push_back(faceRays(TopoDS::Face(explorer.Current())));
        boxes.push_back(faces_.back()->box());
        box_.Add(boxes.back());
    }
    faceBoxes_ = BoxIndex(std::move(boxes));
    roundOutward_ = roundOutward();
}

std::optional<bool> RayClassifier::roundOutward() const
{
    if (faces_.size() != 1)
        return std::nullopt;
    FaceRays& round = *faces_.front();
    const TopoDS_Face& face = round.face();
    const GeomAbs_SurfaceType type = round.surface().GetType();
    if (face.NbChildren() != 1 || (type != GeomAbs_Sphere && type != GeomAbs_Torus))
        return std::nullopt;
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
    BRepTools::UVBounds(face, u0, u1, v0, v1);
    const double turn = 2.0 * M_PI - 1e-9;
    const bool whole = type == GeomAbs_Sphere
                           ? u1 - u0 >= turn && v0 <= -M_PI_2 + 1e-9 && v1 >= M_PI_2 - 1e-9
                           : u1 - u0 >= turn && v1 - v0 >= turn
                                 && round.surface().Torus().MinorRadius()
                                        < round.surface().Torus().MajorRadius();
    if (!whole)
        return std::nullopt;
    // Which way the face points, as the solid holds it, at a point away from
    // the poles and seams: a step along its normal leaves the surface.
    const BRepGProp_Face normals(face);
    gp_Pnt on;
    gp_Vec normal;
    normals.Normal(u0 + 0.37 * (u1 - u0), v0 + 0.41 * (v1 - v0), on, normal);
    if (normal.Magnitude() < 1e-12)
        return std::nullopt;
    const double step = 1e-3
                        * (type == GeomAbs_Sphere ? round.surface().Sphere().Radius()
                                                  : round.surface().Torus().MinorRadius());
    return *round.beyondRound(on.Translated(step * normal.Normalized())) > 0.0;
}

std::optional<TopAbs_State> RayClassifier::roundState(const gp_Pnt& point, double tolerance) const
{
    const double beyond = *faces_.front()->beyondRound(point);
    // Within the tolerance the kernel calls the point on the boundary.
    if (std::abs(beyond) <= nearFactor * tolerance)
        return std::nullopt;
    return (beyond < 0.0) == *roundOutward_ ? TopAbs_IN : TopAbs_OUT;
}

RayClassifier::~RayClassifier() = default;

const std::vector<int>& RayClassifier::facesCrossed(const gp_Lin& ray) const
{
    faceBoxes_.kept([&ray](const Bnd_Box& box) { return box.IsOut(ray); }, scratch_);
    return scratch_;
}

const std::vector<int>& RayClassifier::facesNear(const gp_Pnt& point, double reach) const
{
    faceBoxes_.near(point, reach, scratch_);
    return scratch_;
}

// Whether the surface of a face whose box comes near lies within one and a
// half times the tolerance of the point: the kernel calls a point within the
// tolerance of a face on the boundary. The whole surface is measured where
// that has a closed form: the kernel's extrema look only within the face's
// parameters and find nothing for a point beside the face, which sent such
// points to the kernel's classifier for nothing. A point near a plane but
// beside its face (behind one face, within reach of the plane of the face
// round the corner) is no nearer the face than the face's domain tells.
bool RayClassifier::nearSurface(const gp_Pnt& point, double tolerance) const
{
    for (const int index : facesNear(point, nearFactor * tolerance)) {
        const auto& face = faces_[std::size_t(index)];
        if (const std::optional<double> distance = face->surfaceDistance(point)) {
            if (*distance <= nearFactor * tolerance
                && !face->besidePlaneFace(point, nearFactor * tolerance))
                return true;
            continue;
        }
        const Extrema_ExtPS extrema(point, face->surface(), 1e-9, 1e-9);
        if (!extrema.IsDone() || extrema.NbExt() == 0)
            return true;
        for (int i = 1; i <= extrema.NbExt(); ++i) {
            if (extrema.SquareDistance(i) <= nearFactor * nearFactor * tolerance * tolerance)
                return true;
        }
    }
    return false;
}

std::optional<TopAbs_State> RayClassifier::state(const gp_Pnt& point, double tolerance) const
{
    if (roundOutward_)
        return roundState(point, tolerance);
    if (box_.IsVoid() || nearSurface(point, tolerance))
        return std::nullopt;
    return cast(point, tolerance, false);
}

std::optional<TopAbs_State> RayClassifier::stateFromAfar(double tolerance) const
{
    if (box_.IsVoid())
        return std::nullopt;
    double xmin = 0, ymin = 0, zmin = 0, xmax = 0, ymax = 0, zmax = 0;
    box_.Get(xmin, ymin, zmin, xmax, ymax, zmax);
    const gp_Pnt centre((xmin + xmax) / 2, (ymin + ymax) / 2, (zmin + zmax) / 2);
    const double away = std::sqrt(box_.SquareExtent()) + 1.0;
    return cast(centre.Translated(-away * gp_Vec(rayDirection)), tolerance, true);
}

std::optional<TopAbs_State> RayClassifier::cast(const gp_Pnt& point, double tolerance,
                                                bool mustMeet) const
{
    double xmin = 0, ymin = 0, zmin = 0, xmax = 0, ymax = 0, zmax = 0;
    box_.Get(xmin, ymin, zmin, xmax, ymax, zmax);
    const double length
        = point.Distance(gp_Pnt((xmin + xmax) / 2, (ymin + ymax) / 2, (zmin + zmax) / 2))
          + std::sqrt(box_.SquareExtent()) + 1.0;
    const gp_Lin ray(point, rayDirection);
    double nearest = length;
    double second = length;
    bool leaves = false;
    int crossings = 0;
    std::vector<RayMeeting> meetings;
    for (const int index : facesCrossed(ray)) {
        const auto& face = faces_[std::size_t(index)];
        if (!face->meet(ray, tolerance, length, meetings))
            return std::nullopt;
        for (const RayMeeting& meeting : meetings) {
            const double w = meeting.w;
            if (w <= 2 * tolerance || meeting.onBoundary || meeting.tangent)
                return std::nullopt;
            gp_Pnt on;
            gp_Vec du, dv;
            face->surface().D1(meeting.uv.X(), meeting.uv.Y(), on, du, dv);
            gp_Vec normal = du.Crossed(dv);
            if (normal.Magnitude() < 1e-12)
                return std::nullopt;
            if (face->face().Orientation() == TopAbs_REVERSED)
                normal.Reverse();
            const double cosine = normal.Normalized().Dot(gp_Vec(rayDirection));
            if (std::abs(cosine) < grazing)
                return std::nullopt;
            ++crossings;
            if (w < nearest) {
                second = nearest;
                nearest = w;
                leaves = cosine > 0;
            } else {
                second = std::min(second, w);
            }
        }
    }
    if (crossings == 0)
        return mustMeet ? std::nullopt : std::optional<TopAbs_State>(TopAbs_OUT);
    // Two faces met at one place: the ray passes an edge or a corner.
    if (second - nearest <= 2 * tolerance)
        return std::nullopt;
    // The first face and the count of crossings must tell alike.
    if (leaves != (crossings % 2 == 1))
        return std::nullopt;
    return leaves ? TopAbs_IN : TopAbs_OUT;
}

} // namespace qor::model
