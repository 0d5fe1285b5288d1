#include "sketch/Regions.h"

#include "sketch/EntityIndex.h"
#include "sketch/Plane.h"
#include "sketch/SimpleLoops.h"

#include <BOPAlgo_Builder.hxx>
#include <BOPAlgo_BuilderFace.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepGProp.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <Geom2d_Curve.hxx>
#include <Geom_Plane.hxx>
#include <Poly_Triangulation.hxx>
#include <ShapeUpgrade_UnifySameDomain.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Builder.hxx>
#include <TopoDS_Compound.hxx>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>

namespace qor::sketch {

namespace {

constexpr double twoPi = 6.283185307179586;
constexpr double minArea = 1e-9;

// Brings an angle into [0, 2π) without a loop, so NaN and infinities cannot hang it;
// they come out as NaN and then compare false everywhere.
double wrapAngle(double a)
{
    double r = std::fmod(a, twoPi);
    if (r < 0.0)
        r += twoPi;
    // A tiny negative angle plus 2π rounds up to 2π itself.
    if (r >= twoPi)
        r -= twoPi;
    return r;
}

// A non-construction curve as the parity test needs it. Resolved once per sketch:
// looking entities up by id for every region would cost regions x curves x entities.
struct ParityCurve {
    EntityType type = EntityType::Line;
    Vec2 a; // line: start; circle and arc: centre
    Vec2 b; // line: end
    double r = 0.0; // circle and arc
    double a0 = 0.0; // arc: start angle
    double span = 0.0; // arc: counter-clockwise sweep in [0, 2π)
};

// Every non-construction curve takes part, including those that bound no region or
// gave no edge. A curve with an infinite or undefined coordinate encloses nothing:
// its crossings would be artefacts of the arithmetic, so it is left out.
std::vector<ParityCurve> parityCurves(const Sketch& sketch)
{
    const EntityIndex index(sketch);
    std::vector<ParityCurve> curves;
    for (const Entity& e : sketch.entities) {
        const bool isCurve = e.type == EntityType::Line || e.type == EntityType::Circle
                             || e.type == EntityType::Arc;
        if (e.construction || !isCurve)
            continue;
        ParityCurve curve;
        curve.type = e.type;
        if (e.type == EntityType::Line) {
            curve.a = index.pointPosition(e.a);
            curve.b = index.pointPosition(e.b);
        } else {
            curve.a = index.entityAnchor(int(e.id));
            curve.r = index.radius(int(e.id));
        }
        if (e.type == EntityType::Arc) {
            const Vec2 start = index.pointPosition(e.b);
            const Vec2 end = index.pointPosition(e.c);
            if (!start.isFinite() || !end.isFinite())
                continue;
            curve.a0 = std::atan2(start.y - curve.a.y, start.x - curve.a.x);
            curve.span = wrapAngle(std::atan2(end.y - curve.a.y, end.x - curve.a.x) - curve.a0);
        }
        if (curve.a.isFinite() && curve.b.isFinite() && std::isfinite(curve.r))
            curves.push_back(curve);
    }
    return curves;
}

// Crossings of the ray from p in +u with a line. An end point exactly at the ray's
// height counts only for the line whose other end lies above it.
int lineCrossings(const ParityCurve& line, Vec2 p)
{
    const Vec2 a = line.a;
    const Vec2 b = line.b;
    if ((a.y > p.y) == (b.y > p.y))
        return 0;
    const double x = a.x + (b.x - a.x) * (p.y - a.y) / (b.y - a.y);
    return x > p.x ? 1 : 0;
}

// Crossings of the ray from p in +u with a circle, or with an arc taken
// counter-clockwise in (u, v) from its start to its end.
int circularCrossings(const ParityCurve& curve, Vec2 p)
{
    const Vec2 c = curve.a;
    const double dv = p.y - c.y;
    if (!(std::fabs(dv) < curve.r))
        return 0;
    const double s = std::sqrt(curve.r * curve.r - dv * dv);
    int count = 0;
    for (const double x : {c.x - s, c.x + s}) {
        if (!(x > p.x))
            continue;
        if (curve.type == EntityType::Arc
            && !(wrapAngle(std::atan2(dv, x - c.x) - curve.a0) <= curve.span))
            continue;
        ++count;
    }
    return count;
}

// Even-odd rule: an odd number of crossings to the right means material.
bool isOuter(const std::vector<ParityCurve>& curves, Vec2 p)
{
    int count = 0;
    for (const ParityCurve& curve : curves)
        count += curve.type == EntityType::Line ? lineCrossings(curve, p)
                                                : circularCrossings(curve, p);
    return count % 2 == 1;
}

std::vector<TopoDS_Edge> curveEdges(const Sketch& sketch, const gp_Ax3& plane)
{
    std::vector<TopoDS_Edge> edges;
    for (const Entity& e : sketch.entities) {
        if (e.type == EntityType::Point || e.construction)
            continue;
        TopoDS_Edge edge = entityToEdge(sketch, e.id, plane);
        if (!edge.IsNull())
            edges.push_back(edge);
    }
    return edges;
}

// The curves split at each other; the null shape when the splitter fails.
TopoDS_Shape splitCurves(const std::vector<TopoDS_Edge>& edges)
{
    if (edges.size() == 1)
        return edges.front();
    BOPAlgo_Builder builder;
    for (const TopoDS_Edge& edge : edges)
        builder.AddArgument(edge);
    builder.SetFuzzyValue(1e-6);
    builder.SetRunParallel(true);
    builder.Perform();
    if (builder.HasErrors())
        return {};
    return builder.Shape();
}

// A square on the sketch plane, centred on the curves and well beyond all of them.
TopoDS_Face baseFace(const TopoDS_Shape& curves, const gp_Ax3& plane)
{
    Bnd_Box box;
    BRepBndLib::Add(curves, box, true);
    double xmin, ymin, zmin, xmax, ymax, zmax;
    box.Get(xmin, ymin, zmin, xmax, ymax, zmax);
    const double extent = std::max({xmax - xmin, ymax - ymin, zmax - zmin});
    const Vec2 c = toPlane(plane, gp_Pnt((xmin + xmax) / 2, (ymin + ymax) / 2, (zmin + zmax) / 2));
    const double h = 4.0 * std::max(1.0, extent);
    BRepBuilderAPI_MakeFace maker(new Geom_Plane(plane), c.x - h, c.x + h, c.y - h, c.y + h, 1e-7);
    return maker.Face();
}

// Stores each piece's curve on the base plane once. Without it the kernel projects the
// 3D curve onto the plane anew at every query, in the face builder and again in the
// mesher of every region; the stored curve is the very same projection.
void storePlaneCurves(const TopoDS_Shape& pieces, const TopoDS_Face& base)
{
    BRep_Builder builder;
    for (TopExp_Explorer x(pieces, TopAbs_EDGE); x.More(); x.Next()) {
        const TopoDS_Edge& edge = TopoDS::Edge(x.Current());
        double first = 0.0, last = 0.0, rangeFirst = 0.0, rangeLast = 0.0;
        const Handle(Geom2d_Curve) curve = BRep_Tool::CurveOnSurface(edge, base, first, last);
        BRep_Tool::Range(edge, rangeFirst, rangeLast);
        if (!curve.IsNull() && first == rangeFirst && last == rangeLast)
            builder.UpdateEdge(edge, curve, base, BRep_Tool::Tolerance(edge));
    }
}

bool touchesAny(const TopoDS_Shape& face, const TopTools_MapOfShape& edges)
{
    for (TopExp_Explorer x(face, TopAbs_EDGE); x.More(); x.Next()) {
        if (edges.Contains(x.Current()))
            return true;
    }
    return false;
}

double faceArea(const TopoDS_Shape& face)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props, false, false);
    return std::fabs(props.Mass());
}

// The faces the kernel builds from all curves split at each other; the face
// reaching out to the square around them is the outside of the sketch.
std::vector<TopoDS_Face> splitFaces(const std::vector<TopoDS_Edge>& edges, const gp_Ax3& plane)
{
    const TopoDS_Shape split = splitCurves(edges);
    if (split.IsNull())
        return {};
    const TopoDS_Face base = baseFace(split, plane);
    storePlaneCurves(split, base);

    // Both orientations of every piece let the face builder close loops on either side.
    TopTools_ListOfShape shapes;
    TopTools_MapOfShape boundary;
    for (TopExp_Explorer x(base, TopAbs_EDGE); x.More(); x.Next()) {
        shapes.Append(x.Current());
        boundary.Add(x.Current());
    }
    for (TopExp_Explorer x(split, TopAbs_EDGE); x.More(); x.Next()) {
        shapes.Append(x.Current().Oriented(TopAbs_FORWARD));
        shapes.Append(x.Current().Oriented(TopAbs_REVERSED));
    }

    BOPAlgo_BuilderFace builder;
    builder.SetFace(TopoDS::Face(base.Oriented(TopAbs_FORWARD)));
    builder.SetShapes(shapes);
    builder.Perform();
    if (builder.HasErrors())
        return {};
    std::vector<TopoDS_Face> faces;
    for (const TopoDS_Shape& area : builder.Areas()) {
        if (!touchesAny(area, boundary))
            faces.push_back(TopoDS::Face(area));
    }
    return faces;
}

std::size_t curveCount(const Sketch& sketch)
{
    return std::size_t(
        std::count_if(sketch.entities.begin(), sketch.entities.end(), [](const Entity& e) {
            return e.type != EntityType::Point && !e.construction;
        }));
}

std::vector<ProfileRegion> regionsOf(const Sketch& sketch, const gp_Ax3& plane)
{
    std::optional<std::vector<TopoDS_Face>> faces = simpleLoopFaces(sketch, plane);
    if (faces) {
        // Curves on the plane once, for the mesher of every region.
        TopoDS_Compound all;
        BRep_Builder compound;
        compound.MakeCompound(all);
        for (const TopoDS_Face& face : *faces)
            compound.Add(all, face);
        if (!faces->empty())
            storePlaneCurves(all, faces->front());
    } else {
        if (curveCount(sketch) > maxSplitCurves)
            return {};
        faces = splitCurveFaces(sketch, plane);
    }

    const std::vector<ParityCurve> curves = parityCurves(sketch);
    std::vector<ProfileRegion> regions;
    for (const TopoDS_Face& area : *faces) {
        ProfileRegion region;
        region.face = area;
        region.area = faceArea(area);
        if (region.area < minArea)
            continue;
        region.interior = interiorPoint(region.face, plane);
        region.outer = isOuter(curves, region.interior);
        regions.push_back(region);
    }
    return regions;
}

} // namespace

std::vector<TopoDS_Face> splitCurveFaces(const Sketch& sketch, const gp_Ax3& plane)
{
    const std::vector<TopoDS_Edge> edges = curveEdges(sketch, plane);
    if (edges.empty())
        return {};
    return splitFaces(edges, plane);
}

std::vector<ProfileRegion> buildRegions(const Sketch& sketch, const gp_Ax3& plane)
{
    try {
        OCC_CATCH_SIGNALS
        return regionsOf(sketch, plane);
    } catch (const Standard_Failure&) {
    } catch (const std::exception&) {
    }
    return {};
}

// A loop too long for the direct path makes the sketch too large to split.
static_assert(maxLoopCurves >= maxSplitCurves);

QString regionsRefusal(const Sketch& sketch, const gp_Ax3& plane)
{
    const std::size_t count = curveCount(sketch);
    if (count <= maxSplitCurves)
        return {};
    try {
        OCC_CATCH_SIGNALS
        if (simpleLoopFaces(sketch, plane))
            return {};
    } catch (const Standard_Failure&) {
    } catch (const std::exception&) {
    }
    return QStringLiteral("Skizze zu groß für Profilbereiche: %1 Kurven (höchstens %2, außer in "
                          "getrennten geschlossenen Konturen aus je höchstens %3 Linien)")
        .arg(count)
        .arg(maxSplitCurves)
        .arg(maxLoopCurves);
}

Vec2 interiorPoint(const TopoDS_Face& face, const gp_Ax3& plane)
{
    BRepMesh_IncrementalMesh mesh(face, 0.05, false, 0.3, false);
    TopLoc_Location location;
    const Handle(Poly_Triangulation) triangulation = BRep_Tool::Triangulation(face, location);
    if (triangulation.IsNull() || triangulation->NbTriangles() == 0) {
        GProp_GProps props;
        BRepGProp::SurfaceProperties(face, props, false, false);
        return toPlane(plane, props.CentreOfMass());
    }

    // The largest triangle's centroid keeps furthest from the boundary's chords.
    const gp_Trsf trsf = location.Transformation();
    double best = -1.0;
    gp_Pnt centroid;
    for (int i = 1; i <= triangulation->NbTriangles(); ++i) {
        int n1, n2, n3;
        triangulation->Triangle(i).Get(n1, n2, n3);
        const gp_Pnt p1 = triangulation->Node(n1).Transformed(trsf);
        const gp_Pnt p2 = triangulation->Node(n2).Transformed(trsf);
        const gp_Pnt p3 = triangulation->Node(n3).Transformed(trsf);
        const double m = gp_Vec(p1, p2).Crossed(gp_Vec(p1, p3)).Magnitude();
        if (m > best) {
            best = m;
            centroid = gp_Pnt((p1.XYZ() + p2.XYZ() + p3.XYZ()) / 3.0);
        }
    }
    return toPlane(plane, centroid);
}

TopoDS_Shape fuseRegions(const std::vector<TopoDS_Face>& faces)
{
    if (faces.empty())
        return {};
    if (faces.size() == 1)
        return faces.front();

    TopTools_ListOfShape arguments;
    TopTools_ListOfShape tools;
    arguments.Append(faces.front());
    for (std::size_t i = 1; i < faces.size(); ++i)
        tools.Append(faces[i]);
    BRepAlgoAPI_Fuse fuse;
    fuse.SetArguments(arguments);
    fuse.SetTools(tools);
    fuse.Build();
    if (!fuse.IsDone()) {
        TopoDS_Compound compound;
        TopoDS_Builder builder;
        builder.MakeCompound(compound);
        for (const TopoDS_Face& face : faces)
            builder.Add(compound, face);
        return compound;
    }

    ShapeUpgrade_UnifySameDomain unify(fuse.Shape(), true, true, false);
    unify.Build();
    return unify.Shape();
}

} // namespace qor::sketch
