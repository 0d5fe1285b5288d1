#include "sketch/Regions.h"

#include "expr/Format.h"
#include "sketch/ClosedOutlines.h"
#include "sketch/InteriorPoint.h"
#include "sketch/LooseEdges.h"
#include "sketch/Plane.h"
#include "sketch/PlaneCurves.h"
#include "sketch/SimpleLoops.h"

#include <BOPAlgo_Builder.hxx>
#include <BOPAlgo_BuilderFace.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <Geom2d_Curve.hxx>
#include <Geom_Plane.hxx>
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

constexpr double minArea = 1e-9;

// The heights where a curve ends or turns: an interior point off them has a
// parity ray that crosses every curve cleanly, never through a joint.
std::vector<double> turningHeights(const std::vector<PlaneCurve>& curves)
{
    std::vector<double> heights;
    for (const PlaneCurve& curve : curves)
        addTurningHeights(curve, heights);
    std::sort(heights.begin(), heights.end());
    heights.erase(std::unique(heights.begin(), heights.end()), heights.end());
    return heights;
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
// 3D curve onto the plane anew at every query of the face builder; the stored curve
// is the very same projection.
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
    if (!faces) {
        if (curveCount(sketch) > maxSplitCurves)
            return {};
        faces = splitCurveFaces(sketch, plane);
    }

    const ClosedOutlines outlines = closedOutlines(sketch);
    const std::vector<double> avoid = turningHeights(outlines.curves);
    std::vector<ProfileRegion> regions;
    for (const TopoDS_Face& area : *faces) {
        ProfileRegion region;
        region.face = area;
        region.area = faceArea(area);
        if (region.area < minArea)
            continue;
        // The point keeps clear of stray curves, which the face then drops.
        region.interior = interiorPoint(region.face, plane, avoid);
        region.outer = material(outlines, region.interior);
        region.face = withoutLooseEdges(area);
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
    return QStringLiteral("Skizze zu groß für Profilbereiche: %1 Kurven (Linien, Bögen und Kreise "
                          "zählen; höchstens %2, außer in getrennten geschlossenen Konturen aus "
                          "Linien und ganzen Kreisen mit je höchstens %3 Linien)")
        .arg(germanCount(count), germanCount(maxSplitCurves), germanCount(maxLoopCurves));
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
