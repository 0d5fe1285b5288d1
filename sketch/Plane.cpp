#include "sketch/Plane.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepClass_FaceClassifier.hxx>
#include <GC_MakeArcOfCircle.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Builder.hxx>
#include <gp_Ax2.hxx>
#include <gp_Circ.hxx>

#include <cmath>
#include <exception>

namespace qor::sketch {

namespace {

// Shorter lines, smaller radii and closer arc ends are degenerate.
constexpr double minLength = 1e-7;

TopoDS_Edge lineEdge(const Sketch& sketch, const Entity& e, const gp_Ax3& plane)
{
    const Vec2 a = sketch.pointPosition(e.a);
    const Vec2 b = sketch.pointPosition(e.b);
    if (!a.isFinite() || !b.isFinite())
        return {};
    const gp_Pnt p1 = toWorld(plane, a);
    const gp_Pnt p2 = toWorld(plane, b);
    if (p1.Distance(p2) < minLength)
        return {};
    BRepBuilderAPI_MakeEdge maker(p1, p2);
    return maker.IsDone() ? maker.Edge() : TopoDS_Edge();
}

TopoDS_Edge circleEdge(const Sketch& sketch, const Entity& e, const gp_Ax3& plane)
{
    const double r = sketch.radius(int(e.id));
    const Vec2 centre = sketch.entityAnchor(int(e.id));
    if (!std::isfinite(r) || !centre.isFinite() || r < minLength)
        return {};
    BRepBuilderAPI_MakeEdge maker(sketchCircle(plane, toWorld(plane, centre), r));
    return maker.IsDone() ? maker.Edge() : TopoDS_Edge();
}

TopoDS_Edge arcEdge(const Sketch& sketch, const Entity& e, const gp_Ax3& plane)
{
    // The radius is the centre-start distance: the end point only marks where the
    // arc stops, even when it lies off that circle.
    const double r = sketch.radius(int(e.id));
    const Vec2 centre = sketch.pointPosition(e.a);
    const Vec2 start = sketch.pointPosition(e.b);
    const Vec2 end = sketch.pointPosition(e.c);
    if (!std::isfinite(r) || !centre.isFinite() || !start.isFinite() || !end.isFinite()
        || r < minLength)
        return {};
    const gp_Pnt s = toWorld(plane, start);
    const gp_Pnt t = toWorld(plane, end);
    // Coinciding ends would make a full circle, which an arc never means.
    if (s.Distance(t) < minLength)
        return {};
    GC_MakeArcOfCircle arc(sketchCircle(plane, toWorld(plane, centre), r), s, t, true);
    if (!arc.IsDone())
        return {};
    BRepBuilderAPI_MakeEdge maker(arc.Value());
    return maker.IsDone() ? maker.Edge() : TopoDS_Edge();
}

} // namespace

// The frame's axis is X x Y rather than the plane's main direction: the editor draws
// arcs counter-clockwise in (u, v), and on a left-handed plane the main direction
// points the other way. On a right-handed plane both are the same.
gp_Circ sketchCircle(const gp_Ax3& plane, const gp_Pnt& centre, double r)
{
    const gp_Dir normal = plane.XDirection().Crossed(plane.YDirection());
    return gp_Circ(gp_Ax2(centre, normal, plane.XDirection()), r);
}

gp_Pnt toWorld(const gp_Ax3& plane, double u, double v)
{
    return plane.Location().Translated(gp_Vec(plane.XDirection()) * u
                                       + gp_Vec(plane.YDirection()) * v);
}

gp_Pnt toWorld(const gp_Ax3& plane, Vec2 p)
{
    return toWorld(plane, p.x, p.y);
}

Vec2 toPlane(const gp_Ax3& plane, const gp_Pnt& p)
{
    const gp_Vec d(plane.Location(), p);
    return {d.Dot(gp_Vec(plane.XDirection())), d.Dot(gp_Vec(plane.YDirection()))};
}

bool faceContainsPoint(const TopoDS_Face& face, const gp_Ax3& plane, double u, double v)
{
    BRepClass_FaceClassifier classifier(face, toWorld(plane, u, v), 1e-6, false, 0.1);
    return classifier.State() == TopAbs_IN;
}

TopoDS_Edge entityToEdge(const Sketch& sketch, std::uint32_t id, const gp_Ax3& plane)
{
    const Entity* e = sketch.findEntity(int(id));
    if (!e)
        return {};
    try {
        OCC_CATCH_SIGNALS
        switch (e->type) {
        case EntityType::Line: return lineEdge(sketch, *e, plane);
        case EntityType::Circle: return circleEdge(sketch, *e, plane);
        case EntityType::Arc: return arcEdge(sketch, *e, plane);
        case EntityType::Point: break;
        }
    } catch (const Standard_Failure&) {
    } catch (const std::exception&) {
    }
    return {};
}

} // namespace qor::sketch

namespace qor {

gp_Dir planarFaceNormal(const TopoDS_Face& face)
{
    const gp_Ax3 position = BRepAdaptor_Surface(face, false).Plane().Position();
    gp_Dir normal = position.Direction();
    if (!position.Direct())
        normal.Reverse();
    if (face.Orientation() == TopAbs_REVERSED)
        normal.Reverse();
    return normal;
}

TopoDS_Compound compoundOf(const std::vector<TopoDS_Shape>& shapes)
{
    TopoDS_Compound compound;
    TopoDS_Builder builder;
    builder.MakeCompound(compound);
    for (const TopoDS_Shape& shape : shapes) {
        if (!shape.IsNull())
            builder.Add(compound, shape);
    }
    return compound;
}

int countOf(const TopoDS_Shape& shape, TopAbs_ShapeEnum type)
{
    int count = 0;
    for (TopExp_Explorer it(shape, type); it.More(); it.Next())
        ++count;
    return count;
}

TopoDS_Compound makeCompound(const sketch::Sketch& sketch, const gp_Ax3& plane,
                             bool includeConstruction)
{
    std::vector<TopoDS_Shape> edges;
    for (const sketch::Entity& e : sketch.entities) {
        if (e.type == sketch::EntityType::Point || (e.construction && !includeConstruction))
            continue;
        edges.push_back(sketch::entityToEdge(sketch, e.id, plane));
    }
    return compoundOf(edges);
}

} // namespace qor
