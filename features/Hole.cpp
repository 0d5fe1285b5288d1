#include "features/Hole.h"

#include "features/BodyEditing.h"
#include "features/ShapeOps.h"
#include "features/ThreadGeometry.h"
#include "features/ThreadTable.h"
#include "model/ExecContext.h"
#include "model/References.h"
#include "sketch/Plane.h"

#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <IntCurvesFace_ShapeIntersector.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_ListOfShape.hxx>
#include <gp_Lin.hxx>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <utility>
#include <vector>

namespace qor::model {

namespace {

constexpr double aboveFace = 0.05; // tools start this far above the entry face
constexpr double tan59 = 1.6642794823505183; // half of the 118° drill point

struct HoleShape {
    QString kind;
    double radius = 0.0;
    double depth = 0.0;
    bool tip = false;
    double cboreRadius = 0.0;
    double cboreDepth = 0.0;
    double csinkRadius = 0.0;
    double csinkTan = 0.0; // tan of half the countersink angle
};

// (radial, axial) pairs; axial runs along the drilling direction from the sketch plane.
using Profile = std::vector<std::pair<double, double>>;

const SketchResult& pointSketch(const ExecContext& context)
{
    QJsonValue selection = context.feature.params.value(QStringLiteral("points"));
    if (selection.isArray())
        selection = selection.toArray().at(0);
    const QJsonValue id = selection.toObject().value(QStringLiteral("id"));
    const auto it
        = id.isDouble() ? context.state.sketches.find(id.toInt()) : context.state.sketches.end();
    if (it == context.state.sketches.end() || !it->second.sketch)
        throw FeatureError(QStringLiteral("Skizze mit den Bohrungspunkten auswählen"));
    return it->second;
}

// Free points (no curve uses them) in entity order; without any, the centres of
// the circles that are not construction geometry.
std::vector<gp_Pnt> holePoints(const SketchResult& result)
{
    using qor::sketch::EntityType;
    const qor::sketch::Sketch& sketch = *result.sketch;
    std::set<int> onCurves;
    for (const qor::sketch::Entity& e : sketch.entities) {
        if (e.type != EntityType::Point)
            onCurves.insert({e.a, e.b, e.c});
    }
    std::vector<gp_Pnt> points;
    for (const qor::sketch::Entity& e : sketch.entities) {
        if (e.type == EntityType::Point && !e.owned && !onCurves.count(int(e.id)))
            points.push_back(qor::sketch::toWorld(result.plane, sketch.pointPosition(int(e.id))));
    }
    if (points.empty()) {
        for (const qor::sketch::Entity& e : sketch.entities) {
            if (e.type == EntityType::Circle && !e.construction)
                points.push_back(
                    qor::sketch::toWorld(result.plane, sketch.entityAnchor(int(e.id))));
        }
    }
    if (points.empty())
        throw FeatureError(QStringLiteral("Die Skizze enthält keine Punkte für Bohrungen"));
    return points;
}

double holeDiameter(const ExecContext& context, const ThreadSpec* row)
{
    if (!row)
        return context.number(QStringLiteral("diameter"));
    const QString fit = context.stringParam(QStringLiteral("fit"));
    return fit == QStringLiteral("tap") || fit == QStringLiteral("threaded") ? row->tapDrill
                                                                             : row->clearance;
}

// Reads the sinking and checks it against the hole: a sinking no wider than the
// hole, an angle outside (0°, 180°) or a sinking reaching the bottom would fold
// the profile over itself or make it infinite.
void readSinking(const ExecContext& context, HoleShape& hole)
{
    const auto tooNarrow = [] {
        return FeatureError(
            QStringLiteral("Senkdurchmesser muss größer als der Bohrungsdurchmesser sein"));
    };
    const auto tooDeep
        = [] { return FeatureError(QStringLiteral("Die Senkung ist tiefer als die Bohrung")); };
    if (hole.kind == QStringLiteral("cbore")) {
        hole.cboreRadius = context.number(QStringLiteral("cboreDiameter")) / 2.0;
        hole.cboreDepth = context.number(QStringLiteral("cboreDepth"));
        if (!(hole.cboreRadius > hole.radius))
            throw tooNarrow();
        if (!(hole.cboreDepth > 0.0))
            throw FeatureError(QStringLiteral("Senktiefe muss größer als 0 sein"));
        if (!(hole.cboreDepth < hole.depth))
            throw tooDeep();
    } else if (hole.kind == QStringLiteral("csink")) {
        hole.csinkRadius = context.number(QStringLiteral("csinkDiameter")) / 2.0;
        const double angle = context.angle(QStringLiteral("csinkAngle"));
        if (!(angle > 0.0 && angle < 180.0))
            throw FeatureError(QStringLiteral("Senkwinkel muss zwischen 0° und 180° liegen"));
        hole.csinkTan = std::tan(angle / 2.0 * std::numbers::pi / 180.0);
        if (!(hole.csinkRadius > hole.radius))
            throw tooNarrow();
        if (!((hole.csinkRadius - hole.radius) / hole.csinkTan < hole.depth))
            throw tooDeep();
    }
}

Profile holeProfile(const HoleShape& hole)
{
    const double r = hole.radius;
    Profile profile{{0.0, -aboveFace}};
    if (hole.kind == QStringLiteral("cbore")) {
        profile.insert(profile.end(), {{hole.cboreRadius, -aboveFace},
                                       {hole.cboreRadius, hole.cboreDepth},
                                       {r, hole.cboreDepth}});
    } else if (hole.kind == QStringLiteral("csink")) {
        // The cone continued up to the tool's start above the face.
        const double t = hole.csinkTan;
        profile.insert(profile.end(), {{hole.csinkRadius + aboveFace * t, -aboveFace},
                                       {r, (hole.csinkRadius - r) / t}});
    } else {
        profile.emplace_back(r, -aboveFace);
    }
    profile.emplace_back(r, hole.depth);
    profile.emplace_back(0.0, hole.tip ? hole.depth + r / tan59 : hole.depth);
    return profile;
}

double outerRadius(const Profile& profile)
{
    double radius = 0.0;
    for (const auto& [a, b] : profile)
        radius = std::max(radius, a);
    return radius;
}

gp_Dir radialDirection(const gp_Dir& n)
{
    const gp_Vec x = std::abs(n.X()) >= 0.9 ? gp_Vec(0.0, 1.0, 0.0) : gp_Vec(1.0, 0.0, 0.0);
    return gp_Dir(x - gp_Vec(n) * x.Dot(gp_Vec(n)));
}

TopoDS_Shape drillTool(const gp_Pnt& p, const gp_Dir& n, const gp_Dir& d, const Profile& profile)
{
    BRepBuilderAPI_MakePolygon polygon;
    for (const auto& [a, b] : profile)
        polygon.Add(p.Translated(gp_Vec(d) * a + gp_Vec(n) * b));
    polygon.Close();
    const TopoDS_Face face = BRepBuilderAPI_MakeFace(polygon.Wire(), Standard_True);
    return outwardOriented(
        BRepPrimAPI_MakeRevol(face, gp_Ax1(p, n), 2.0 * std::numbers::pi, Standard_True).Shape());
}

// Farthest point, as a parameter of the line from aboveFace above p along n,
// where that line leaves the material of the bodies; 0 when it meets none.
double axisExit(const ModelState& state, const std::vector<int>& bodies, const gp_Pnt& p,
                const gp_Dir& n, double reach)
{
    const gp_Lin line(p.Translated(gp_Vec(n) * -aboveFace), n);
    double last = 0.0;
    for (const int id : bodies) {
        IntCurvesFace_ShapeIntersector hits;
        hits.Load(state.bodies.at(id).shape, 1e-6);
        hits.Perform(line, -0.001, reach);
        if (!hits.IsDone())
            continue;
        for (int i = 1; i <= hits.NbPnt(); ++i)
            last = std::max(last, hits.WParameter(i));
    }
    return last;
}

// The bodies the hole is cut into: the chosen ones, else every body with a shape.
std::vector<int> bodiesInReach(const ModelState& state, const std::vector<int>& targets)
{
    if (!targets.empty())
        return targets;
    std::vector<int> all;
    for (const auto& [id, body] : state.bodies) {
        if (!body.shape.IsNull())
            all.push_back(id);
    }
    return all;
}

// Drill and groove fused into the one solid that a threaded hole removes. The
// fused volume is checked against what the groove adds at least (its part
// outside the widest radius of the drill) and at most (all of it).
TopoDS_Shape threadedBore(const TopoDS_Shape& drill, double widest, const gp_Ax3& frame,
                          const ThreadSpec& row, bool leftHand, double height)
{
    const double base = row.tapDrill / 2.0 - 0.05;
    const double apex = row.diameter / 2.0;
    const TopoDS_Shape groove = sweepThreadSection(frame, leftHand, base, apex, row.pitch, height);
    try {
        OCC_CATCH_SIGNALS
        TopTools_ListOfShape arguments;
        arguments.Append(drill);
        TopTools_ListOfShape tools;
        tools.Append(groove);
        BRepAlgoAPI_Fuse fuse;
        fuse.SetArguments(arguments);
        fuse.SetTools(tools);
        if (!buildWithin(fuse, threadBudgetSeconds))
            throw grooveFailed();
        const TopoDS_Shape bore = outwardOriented(fuse.Shape());
        int solids = 0;
        for (TopExp_Explorer it(bore, TopAbs_SOLID); it.More(); it.Next())
            ++solids;
        const double added = signedVolume(bore) - signedVolume(drill);
        const double most = grooveVolume(base, apex, row.pitch, height, base, apex);
        const double least = grooveVolume(base, apex, row.pitch, height, widest, apex);
        if (solids != 1 || !BRepCheck_Analyzer(bore).IsValid() || !(added > 0.0)
            || added > most * (1.0 + 1e-3) || added < least * (1.0 - 1e-3))
            throw grooveFailed();
        return bore;
    } catch (const Standard_Failure&) {
        throw grooveFailed();
    }
}

} // namespace

void execHole(ExecContext& context)
{
    const SketchResult& sketch = pointSketch(context);
    const gp_Ax3 plane = sketch.plane;
    const std::vector<gp_Pnt> points = holePoints(sketch);

    const ThreadSpec* row = findThread(context.stringParam(QStringLiteral("thread")));
    HoleShape hole;
    const double diameter = holeDiameter(context, row);
    if (!(diameter > 0.0))
        throw FeatureError(QStringLiteral("Durchmesser muss größer als 0 sein"));
    hole.radius = diameter / 2.0;
    const bool throughAll = context.stringParam(QStringLiteral("extent")) == QStringLiteral("all");
    if (throughAll) {
        hole.depth = throughAllDistance(context.state, plane.Location());
    } else {
        hole.depth = context.number(QStringLiteral("depth"));
        if (!(hole.depth > 0.0))
            throw FeatureError(QStringLiteral("Tiefe muss größer als 0 sein"));
        hole.tip = context.boolParam(QStringLiteral("tip"));
    }
    hole.kind = context.stringParam(QStringLiteral("kind"));
    readSinking(context, hole);

    const gp_Dir n = context.boolParam(QStringLiteral("flip")) ? plane.Direction()
                                                               : plane.Direction().Reversed();
    const gp_Dir d = radialDirection(n);
    const Profile profile = holeProfile(hole);
    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("targets"));

    std::vector<TopoDS_Shape> tools;
    for (const gp_Pnt& p : points)
        tools.push_back(drillTool(p, n, d, profile));

    const bool threaded
        = row && context.stringParam(QStringLiteral("fit")) == QStringLiteral("threaded");
    if (!threaded) {
        applyBoolean(context, compoundOf(tools), QStringLiteral("cut"), targets);
        return;
    }

    // Thread lengths come from the bodies as they are before the cut: afterwards
    // the axis of a through hole meets no material and the thread would run on
    // to the end of the through-all tool.
    const bool modelled
        = context.stringParam(QStringLiteral("threadModel")) == QStringLiteral("modeled");
    const bool leftHand = context.boolParam(QStringLiteral("leftHand"));
    const bool toDistance
        = context.stringParam(QStringLiteral("threadExtent")) == QStringLiteral("dist");
    const std::vector<int> reach = bodiesInReach(context.state, targets);
    std::vector<ThreadMark> marks;
    bool axisMeetsMaterial = false;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const gp_Pnt& p = points[i];
        double holeDepth = hole.depth;
        if (throughAll || modelled) {
            const double exit = axisExit(context.state, reach, p, n, hole.depth);
            axisMeetsMaterial = axisMeetsMaterial || exit > 1e-6;
            if (throughAll && exit > 1e-6)
                holeDepth = exit;
        }
        const double length
            = toDistance ? std::min(context.number(QStringLiteral("threadDepth")), holeDepth)
                         : holeDepth - aboveFace;
        if (!(length > 0.0))
            throw FeatureError(QStringLiteral("Gewindetiefe muss größer als 0 sein"));
        const QString designation
            = threadDesignation(*row, throughAll && !toDistance, leftHand, length);
        marks.push_back(ThreadMark{p, n, row->diameter, row->tapDrill, row->pitch, length, true,
                                   modelled, leftHand, designation, context.feature.id});
        if (modelled) {
            // The groove starts one pitch above the entry face.
            const gp_Ax3 frame(p.Translated(gp_Vec(n) * -row->pitch), n, d);
            tools[i] = threadedBore(tools[i], outerRadius(profile), frame, *row, leftHand,
                                    length + row->pitch);
        }
    }

    const double before = totalVolume(context.state);
    applyBoolean(context, compoundOf(tools), QStringLiteral("cut"), targets);
    if (modelled) {
        double most = 0.0;
        for (const TopoDS_Shape& tool : tools)
            most += shapeVolume(tool);
        const double removed = before - totalVolume(context.state);
        if ((axisMeetsMaterial && !(removed > 0.0)) || removed > most * (1.0 + 1e-3))
            throw grooveFailed();
    }
    context.state.threads.insert(context.state.threads.end(), marks.begin(), marks.end());
}

} // namespace qor::model
