#include "features/LoftSweep.h"

#include "features/ShapeOps.h"
#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRepGProp.hxx>
#include <BRepLProp_CLProps.hxx>
#include <BRepOffsetAPI_MakePipeShell.hxx>
#include <BRepOffsetAPI_ThruSections.hxx>
#include <BRepTools.hxx>
#include <BRepTools_WireExplorer.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Ax2.hxx>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace qor::model {

namespace {

const char* const sweepFailed = "Austragung fehlgeschlagen – Pfad zu eng gekrümmt?";

// The solid right side out, or null when it encloses no volume. A swept or lofted
// shell closed the wrong way round has a negative signed volume, and a boolean
// with it would work on its complement.
TopoDS_Shape outwardSolid(const TopoDS_Shape& solid)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(solid, props);
    const double volume = props.Mass();
    if (std::abs(volume) <= 1e-9)
        return {};
    return volume < 0.0 ? solid.Reversed() : solid;
}

// The outer outline of one loft section, resolved on its own so that every
// entry gives exactly one wire in the order the user picked them.
TopoDS_Wire sectionWire(ExecContext& context, const QJsonValue& entry)
{
    Feature section;
    section.id = context.feature.id;
    section.type = context.feature.type;
    section.params = context.feature.params;
    section.params.insert(QStringLiteral("__sec"), QJsonArray{entry});
    ExecContext sectionContext{context.document, section, context.state};
    const TopoDS_Shape faces = resolveProfileFaces(sectionContext, QStringLiteral("__sec"));
    TopExp_Explorer first(faces, TopAbs_FACE);
    if (!first.More())
        throw FeatureError(QStringLiteral("Profil ohne Fläche"));
    return BRepTools::OuterWire(TopoDS::Face(first.Current()));
}

// How the profile is carried along the path.
struct Trihedron {
    QString orientation;
    gp_Ax3 plane;

    bool fixed() const { return orientation == QStringLiteral("fixed"); }

    void apply(BRepOffsetAPI_MakePipeShell& pipe) const
    {
        if (fixed())
            pipe.SetMode(gp_Ax2(plane.Location(), plane.Direction(), plane.XDirection()));
        else if (orientation == QStringLiteral("frenet"))
            pipe.SetMode(true);
        else
            pipe.SetMode(false);
    }
};

constexpr int samplesPerEdge = 32;

struct PathSample {
    gp_Dir tangent; // along the path's direction of travel
    double curvature = 0.0;
};

// Tangents and curvatures along the path in travel order. A kink between two
// edges, or a point without a tangent, is a curvature without bound.
std::vector<PathSample> samplePath(const TopoDS_Wire& path)
{
    constexpr double kinkAngle = 1.0 * 0.017453292519943295;
    constexpr double unbounded = std::numeric_limits<double>::infinity();
    std::vector<PathSample> samples;
    for (BRepTools_WireExplorer it(path); it.More(); it.Next()) {
        const BRepAdaptor_Curve curve(it.Current());
        const bool reversed = it.Current().Orientation() == TopAbs_REVERSED;
        const double first = curve.FirstParameter();
        const double last = curve.LastParameter();
        for (int i = 0; i <= samplesPerEdge; ++i) {
            const double t
                = first + (last - first) * (reversed ? samplesPerEdge - i : i) / samplesPerEdge;
            BRepLProp_CLProps props(curve, t, 2, 1e-9);
            PathSample sample{gp::DZ(), unbounded};
            if (props.IsTangentDefined()) {
                props.Tangent(sample.tangent);
                if (reversed)
                    sample.tangent.Reverse();
                sample.curvature = props.Curvature();
            }
            if (i == 0 && !samples.empty()
                && samples.back().tangent.Angle(sample.tangent) > kinkAngle)
                sample.curvature = unbounded;
            samples.push_back(sample);
        }
    }
    return samples;
}

// Farthest distance of the outline from the path point next to the face's centre:
// how far the profile reaches out from the path.
double profileReach(const TopoDS_Face& face, const TopoDS_Wire& outer, const TopoDS_Wire& path)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props);
    BRepExtrema_DistShapeShape nearest(BRepBuilderAPI_MakeVertex(props.CentreOfMass()), path);
    if (!nearest.IsDone() || nearest.NbSolution() == 0)
        return std::numeric_limits<double>::infinity();
    const gp_Pnt anchor = nearest.PointOnShape2(1);
    double reach = 0.0;
    for (TopExp_Explorer it(outer, TopAbs_EDGE); it.More(); it.Next()) {
        const BRepAdaptor_Curve curve(TopoDS::Edge(it.Current()));
        const double first = curve.FirstParameter();
        const double last = curve.LastParameter();
        for (int i = 0; i <= samplesPerEdge; ++i)
            reach = std::max(
                reach, anchor.Distance(curve.Value(first + (last - first) * i / samplesPerEdge)));
    }
    return reach;
}

// The kernel sweeps a profile through a bend tighter than the profile is wide,
// or a fixed profile along a path that turns into its plane, without complaint,
// but the solid it returns folds through itself. Such a sweep is refused.
bool foldsOnPath(const TopoDS_Face& face, const TopoDS_Wire& outer, const TopoDS_Wire& path,
                 const Trihedron& trihedron)
{
    const std::vector<PathSample> samples = samplePath(path);
    if (trihedron.fixed()) {
        // The profile only moves parallel to itself: it folds back over the volume
        // already swept where the path turns back through the profile's plane.
        const gp_Dir normal = trihedron.plane.Direction();
        double side = 0.0;
        for (const PathSample& sample : samples) {
            const double along = sample.tangent.Dot(normal);
            if (side == 0.0 && std::abs(along) > 1e-9)
                side = along > 0.0 ? 1.0 : -1.0;
            if (side * along < -1e-9)
                return true;
        }
        return false;
    }
    const double reach = profileReach(face, outer, path);
    return std::any_of(samples.begin(), samples.end(),
                       [&](const PathSample& sample) { return !(sample.curvature * reach < 1.0); });
}

// The closed wire swept along the path as a solid; null when the kernel cannot
// build it.
TopoDS_Shape sweepWire(const TopoDS_Wire& path, const TopoDS_Wire& wire, const Trihedron& trihedron)
{
    BRepOffsetAPI_MakePipeShell pipe(path);
    trihedron.apply(pipe);
    pipe.Add(wire, false, true);
    pipe.Build();
    if (!pipe.IsDone() || !pipe.MakeSolid())
        return {};
    return outwardSolid(pipe.Shape());
}

// One profile face swept with its holes. A hole that cannot be swept or cut
// fails the whole sweep: leaving it out would quietly fill a tube into a rod.
TopoDS_Shape sweepFace(const TopoDS_Face& face, const TopoDS_Wire& path, const Trihedron& trihedron)
{
    const TopoDS_Wire outer = BRepTools::OuterWire(face);
    if (foldsOnPath(face, outer, path, trihedron))
        throw FeatureError(QString::fromUtf8(sweepFailed));
    TopoDS_Shape solid = sweepWire(path, outer, trihedron);
    if (solid.IsNull())
        throw FeatureError(QString::fromUtf8(sweepFailed));
    for (TopExp_Explorer it(face, TopAbs_WIRE); it.More(); it.Next()) {
        if (it.Current().IsSame(outer))
            continue;
        const TopoDS_Shape hole = sweepWire(path, TopoDS::Wire(it.Current()), trihedron);
        if (hole.IsNull())
            throw FeatureError(QString::fromUtf8(sweepFailed));
        BRepAlgoAPI_Cut cut(solid, hole);
        if (!cut.IsDone())
            throw FeatureError(QString::fromUtf8(sweepFailed));
        solid = outwardSolid(cut.Shape());
        if (solid.IsNull())
            throw FeatureError(QString::fromUtf8(sweepFailed));
    }
    return solid;
}

} // namespace

void execLoft(ExecContext& context)
{
    const QJsonArray sections = context.arrayParam(QStringLiteral("sections"));
    if (sections.size() < 2)
        throw FeatureError(QStringLiteral("Mindestens zwei Profile auswählen"));

    BRepOffsetAPI_ThruSections loft(true, context.boolParam(QStringLiteral("ruled")), 1e-6);
    loft.CheckCompatibility(true);
    for (const QJsonValue& entry : sections)
        loft.AddWire(sectionWire(context, entry));
    loft.Build();
    const TopoDS_Shape solid = loft.IsDone() ? outwardSolid(loft.Shape()) : TopoDS_Shape();
    if (solid.IsNull())
        throw FeatureError(
            QStringLiteral("Erhebung fehlgeschlagen – Profile passen nicht zueinander"));
    applyBoolean(context, solid, context.stringParam(QStringLiteral("op")),
                 resolveTargetBodies(context, QStringLiteral("targets")));
}

void execSweep(ExecContext& context)
{
    Trihedron trihedron;
    const TopoDS_Shape profile
        = resolveProfileFaces(context, QStringLiteral("profile"), &trihedron.plane);
    const TopoDS_Wire path = resolvePathWire(context, QStringLiteral("path"));
    trihedron.orientation = context.stringParam(QStringLiteral("orientation"));

    std::vector<TopoDS_Shape> pieces;
    for (TopExp_Explorer it(profile, TopAbs_FACE); it.More(); it.Next())
        pieces.push_back(sweepFace(TopoDS::Face(it.Current()), path, trihedron));
    applyBoolean(context, fuseAll(pieces), context.stringParam(QStringLiteral("op")),
                 resolveTargetBodies(context, QStringLiteral("targets")));
}

} // namespace qor::model
