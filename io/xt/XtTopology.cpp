#include "io/xt/XtTopology.h"

#include "io/NoteKind.h"
#include "io/xt/XtCurvesSurfaces.h"
#include "io/xt/XtGeometry.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <GeomAPI_ProjectPointOnCurve.hxx>
#include <Precision.hxx>
#include <ShapeFix_Edge.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Wire.hxx>

#include <unordered_set>

namespace qor::io {

namespace {

constexpr std::size_t maxRingLength = 1'000'000;

// The halfedges of a loop along "forward", ending at a null pointer or the first repeat.
std::vector<const XtNode*> loopRing(const XtModel& model, const XtNode& loop)
{
    std::vector<const XtNode*> ring;
    std::unordered_set<quint32> seen;
    for (const XtNode* he = xtPointer(model, &loop, "halfedge"); he && ring.size() < maxRingLength;
         he = xtPointer(model, he, "forward")) {
        if (!seen.insert(he->index).second)
            break;
        ring.push_back(he);
    }
    return ring;
}

// An edge whose vertices do not lie on its curve: the curve is refitted through the
// vertices and points sampled in between.
TopoDS_Edge refittedEdge(XtReadContext& context, const Handle(Geom_Curve)& curve,
                         const TopoDS_Vertex& v1, const TopoDS_Vertex& v2)
{
    const double f = curve->FirstParameter();
    const double l = curve->LastParameter();
    std::vector<gp_Pnt> points{BRep_Tool::Pnt(v1)};
    if (std::abs(f) < 1e100 && std::abs(l) < 1e100) {
        for (int k = 1; k <= 15; ++k)
            points.push_back(curve->Value(f + k * (l - f) / 16));
    }
    points.push_back(BRep_Tool::Pnt(v2));
    BRepBuilderAPI_MakeEdge make(curveThroughXtPoints(points), v1, v2);
    if (!make.IsDone())
        throw XtError(QStringLiteral("Kante: Ecken nicht auf der Kurve"));
    addXtWarning(context, approximationNote(Approximation::refittedEdges));
    return make.Edge();
}

// An edge whose vertices lie a little off its curve: the curve is kept between the
// vertices' projections and the vertex tolerances grow to cover the gap.
TopoDS_Edge widenedEdge(XtReadContext& context, const Handle(Geom_Curve)& curve, TopoDS_Vertex v1,
                        TopoDS_Vertex v2, const GeomAPI_ProjectPointOnCurve& p1,
                        const GeomAPI_ProjectPointOnCurve& p2)
{
    double u1 = p1.LowerDistanceParameter();
    double u2 = p2.LowerDistanceParameter();
    if (curve->IsPeriodic()) {
        if (u2 <= u1)
            u2 += curve->Period();
    } else if (u2 < u1) {
        std::swap(u1, u2);
    }
    BRep_Builder builder;
    TopoDS_Edge edge;
    builder.MakeEdge(edge);
    builder.UpdateEdge(edge, curve, TopLoc_Location(), 1e-7);
    builder.Add(edge, v1.Oriented(TopAbs_FORWARD));
    builder.Add(edge, v2.Oriented(TopAbs_REVERSED));
    builder.Range(edge, u1, u2);
    builder.UpdateVertex(v1, std::max(1.5 * p1.LowerDistance(), 1e-7));
    builder.UpdateVertex(v2, std::max(1.5 * p2.LowerDistance(), 1e-7));
    addXtWarning(context, approximationNote(Approximation::widenedEdges));
    return edge;
}

// Whether an approximated curve runs from p1 to p2 rather than the other way.
bool runsAlong(const Handle(Geom_Curve)& curve, const gp_Pnt& p1, const gp_Pnt& p2)
{
    const gp_Pnt first = curve->Value(curve->FirstParameter());
    const gp_Pnt last = curve->Value(curve->LastParameter());
    return first.Distance(p1) + last.Distance(p2) <= last.Distance(p1) + first.Distance(p2);
}

TopoDS_Edge buildEdge(XtReadContext& context, const XtNode& edgeNode)
{
    const XtModel& model = *context.model;
    const XtNode* he = xtPointer(model, &edgeNode, "halfedge");
    const XtNode* other = xtPointer(model, he, "other");
    const XtNode* startNode = xtPointer(model, other, "vertex");
    const XtNode* endNode = xtPointer(model, he, "vertex");

    const XtNode* curveNode = xtPointer(model, &edgeNode, "curve");
    bool tolerant = false;
    if (!curveNode) {
        curveNode = xtPointer(model, he, "curve");
        if (!curveNode)
            curveNode = xtPointer(model, other, "curve");
        if (!curveNode)
            throw XtError(QStringLiteral("Kante ohne Kurve"));
        tolerant = true;
        addXtWarning(context, approximationNote(Approximation::tolerantEdges));
    }
    bool sameSense = true;
    bool approximated = false;
    Handle(Geom_Curve) curve = makeXtCurve(context, *curveNode, sameSense, approximated);

    if (!startNode || !endNode) {
        // Only a closed curve makes an edge by itself: one over a whole unbounded line has
        // no end, and the kernel's parameter-curve repair dereferences a null curve on it.
        if (Precision::IsInfinite(curve->FirstParameter())
            || Precision::IsInfinite(curve->LastParameter()))
            throw XtError(QStringLiteral("Kante ohne Ecken auf unbegrenzter Kurve"));
        const Handle(Geom_Curve) along = sameSense ? curve : curve->Reversed();
        return BRepBuilderAPI_MakeEdge(along).Edge();
    }
    const TopoDS_Vertex v1 = makeXtVertex(context, *startNode);
    const TopoDS_Vertex v2 = makeXtVertex(context, *endNode);
    const gp_Pnt p1 = BRep_Tool::Pnt(v1);
    const gp_Pnt p2 = BRep_Tool::Pnt(v2);
    if (approximated || tolerant)
        sameSense = runsAlong(curve, p1, p2);
    if (!sameSense)
        curve = curve->Reversed();

    // A single vertex on a closed curve that is not periodic (a B-spline, an approximation)
    // projects to one end only; the edge is the whole curve.
    const bool ring = v1.IsSame(v2) && !curve->IsPeriodic() && curve->IsClosed();
    BRepBuilderAPI_MakeEdge make
        = ring ? BRepBuilderAPI_MakeEdge(curve, v1, v2, curve->FirstParameter(),
                                         curve->LastParameter())
               : BRepBuilderAPI_MakeEdge(curve, v1, v2);
    if (make.IsDone())
        return make.Edge();
    GeomAPI_ProjectPointOnCurve onCurve1(p1, curve);
    GeomAPI_ProjectPointOnCurve onCurve2(p2, curve);
    if (onCurve1.NbPoints() == 0 || onCurve2.NbPoints() == 0)
        return refittedEdge(context, curve, v1, v2);
    return widenedEdge(context, curve, v1, v2, onCurve1, onCurve2);
}

} // namespace

TopoDS_Vertex makeXtVertex(XtReadContext& context, const XtNode& vertexNode)
{
    const auto it = context.vertexCache.find(vertexNode.index);
    if (it != context.vertexCache.end())
        return TopoDS::Vertex(it->second);
    const XtNode* point = xtPointer(*context.model, &vertexNode, "point");
    if (!point)
        throw XtError(QStringLiteral("Ecke ohne Punkt"));
    const TopoDS_Vertex vertex = BRepBuilderAPI_MakeVertex(gp_Pnt(checkedXtVector(*point, "pvec")));
    context.vertexCache.emplace(vertexNode.index, vertex);
    return vertex;
}

TopoDS_Edge makeXtEdge(XtReadContext& context, const XtNode& edgeNode)
{
    const auto it = context.edgeCache.find(edgeNode.index);
    if (it != context.edgeCache.end())
        return TopoDS::Edge(it->second);
    const TopoDS_Edge edge = buildEdge(context, edgeNode);
    context.edgeCache.emplace(edgeNode.index, edge);
    return edge;
}

TopoDS_Face makeXtFace(XtReadContext& context, const XtNode& faceNode, bool frontSide)
{
    const XtModel& model = *context.model;
    const XtNode* surfaceNode = xtPointer(model, &faceNode, "surface");
    if (!surfaceNode)
        throw XtError(QStringLiteral("Fläche ohne Geometrie"));
    Handle(Geom_Surface) surface = cachedXtSurface(context, *surfaceNode);
    const bool senseAgrees = xtSense(faceNode) == xtSense(*surfaceNode);
    const bool forward = frontSide ? !senseAgrees : senseAgrees;

    BRep_Builder builder;
    TopoDS_Face face;
    builder.MakeFace(face, surface, 1e-7);
    for (const XtNode* loop : xtNextChain(model, xtPointer(model, &faceNode, "loop"))) {
        const std::vector<const XtNode*> ring = loopRing(model, *loop);
        if (ring.empty() || !xtPointer(model, ring.front(), "edge"))
            continue;
        TopoDS_Wire wire;
        builder.MakeWire(wire);
        for (const XtNode* he : ring) {
            const XtNode* edgeNode = xtPointer(model, he, "edge");
            if (!edgeNode)
                continue;
            const TopoDS_Edge edge = makeXtEdge(context, *edgeNode);
            builder.Add(wire, xtSense(*he) == '+' ? edge : TopoDS::Edge(edge.Reversed()));
        }
        builder.Add(face, wire);
    }
    if (!forward)
        face.Reverse();
    // An edge met twice in one face is the seam of a periodic surface: it needs both of its
    // parameter curves. The map compares edges without their orientation.
    TopTools_MapOfShape met;
    TopTools_MapOfShape seams;
    for (TopExp_Explorer it(face, TopAbs_EDGE); it.More(); it.Next()) {
        if (!met.Add(it.Current()))
            seams.Add(it.Current());
    }
    for (TopExp_Explorer it(face, TopAbs_EDGE); it.More(); it.Next()) {
        const TopoDS_Edge& edge = TopoDS::Edge(it.Current());
        double first = 0;
        double last = 0;
        if (BRep_Tool::CurveOnSurface(edge, face, first, last).IsNull())
            ShapeFix_Edge().FixAddPCurve(edge, face, seams.Contains(edge), 1e-7);
    }
    return face;
}

} // namespace qor::io
