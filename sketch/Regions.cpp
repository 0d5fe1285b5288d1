#include "sketch/Regions.h"

#include "sketch/Plane.h"

#include <BOPAlgo_Builder.hxx>
#include <BOPAlgo_BuilderFace.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepGProp.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
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

// Crossings of the ray from p in +u with the line a-b. An end point exactly at the
// ray's height counts only for the line whose other end lies above it.
int lineCrossings(Vec2 a, Vec2 b, Vec2 p)
{
    if ((a.y > p.y) == (b.y > p.y))
        return 0;
    const double x = a.x + (b.x - a.x) * (p.y - a.y) / (b.y - a.y);
    return x > p.x ? 1 : 0;
}

// Crossings of the ray from p in +u with a circle, or with an arc taken
// counter-clockwise in (u, v) from its start to its end.
int circularCrossings(const Sketch& sketch, const Entity& e, Vec2 p)
{
    const Vec2 c = sketch.entityAnchor(int(e.id));
    const double r = sketch.radius(int(e.id));
    const double dv = p.y - c.y;
    if (!(std::fabs(dv) < r))
        return 0;
    const double s = std::sqrt(r * r - dv * dv);
    const bool isArc = e.type == EntityType::Arc;
    double a0 = 0.0;
    double span = 0.0;
    if (isArc) {
        const Vec2 start = sketch.pointPosition(e.b);
        const Vec2 end = sketch.pointPosition(e.c);
        a0 = std::atan2(start.y - c.y, start.x - c.x);
        span = wrapAngle(std::atan2(end.y - c.y, end.x - c.x) - a0);
    }
    int count = 0;
    for (const double x : {c.x - s, c.x + s}) {
        if (!(x > p.x))
            continue;
        if (isArc && !(wrapAngle(std::atan2(dv, x - c.x) - a0) <= span))
            continue;
        ++count;
    }
    return count;
}

// Even-odd rule over the sketch's own non-construction curves, including those that
// bound no region or gave no edge.
bool isOuter(const Sketch& sketch, Vec2 p)
{
    int count = 0;
    for (const Entity& e : sketch.entities) {
        if (e.construction)
            continue;
        switch (e.type) {
        case EntityType::Line:
            count += lineCrossings(sketch.pointPosition(e.a), sketch.pointPosition(e.b), p);
            break;
        case EntityType::Circle:
        case EntityType::Arc:
            count += circularCrossings(sketch, e, p);
            break;
        case EntityType::Point:
            break;
        }
    }
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
    BRepBuilderAPI_MakeFace maker(new Geom_Plane(plane), c.x - h, c.x + h, c.y - h, c.y + h,
                                  1e-7);
    return maker.Face();
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

std::vector<ProfileRegion> regionsOf(const std::vector<TopoDS_Edge>& edges, const Sketch& sketch,
                                     const gp_Ax3& plane)
{
    const TopoDS_Shape split = splitCurves(edges);
    if (split.IsNull())
        return {};
    const TopoDS_Face base = baseFace(split, plane);

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

    std::vector<ProfileRegion> regions;
    for (const TopoDS_Shape& area : builder.Areas()) {
        // The face reaching out to the square is the outside of the sketch.
        if (touchesAny(area, boundary))
            continue;
        ProfileRegion region;
        region.face = TopoDS::Face(area);
        region.area = faceArea(area);
        if (region.area < minArea)
            continue;
        region.interior = interiorPoint(region.face, plane);
        region.outer = isOuter(sketch, region.interior);
        regions.push_back(region);
    }
    return regions;
}

} // namespace

std::vector<ProfileRegion> buildRegions(const Sketch& sketch, const gp_Ax3& plane)
{
    const std::vector<TopoDS_Edge> edges = curveEdges(sketch, plane);
    if (edges.empty())
        return {};
    try {
        OCC_CATCH_SIGNALS
        return regionsOf(edges, sketch, plane);
    } catch (const Standard_Failure&) {
    } catch (const std::exception&) {
    }
    return {};
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
