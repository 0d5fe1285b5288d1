#include "view/sketch/tools/ProjectEdges.h"

#include "sketch/Plane.h"

#include <BRepAdaptor_Curve.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <gp_Circ.hxx>
#include <gp_Vec.hxx>

#include <cmath>
#include <numbers>

namespace qor::app {

using sketch::ConstraintType;
using sketch::Sketch;
using sketch::Vec2;

namespace {

constexpr double axisTolerance = 1e-6;
constexpr double minProjectedLength = 1e-7;

void fix(Sketch& s, int point)
{
    s.addConstraint(ConstraintType::Fixed, point, -1, -1, 0.0);
}

bool projectLine(Sketch& s, const gp_Ax3& plane, const BRepAdaptor_Curve& curve)
{
    const Vec2 a = sketch::toPlane(plane, curve.Value(curve.FirstParameter()));
    const Vec2 b = sketch::toPlane(plane, curve.Value(curve.LastParameter()));
    // An edge along the normal shrinks to a point.
    if ((b - a).length() < minProjectedLength)
        return false;
    const int line = int(s.addLineAt(false, a.x, a.y, b.x, b.y));
    fix(s, s.startPoint(line));
    fix(s, s.endPoint(line));
    return true;
}

bool projectCircle(Sketch& s, const gp_Ax3& plane, const BRepAdaptor_Curve& curve)
{
    const gp_Circ circle = curve.Circle();
    const gp_Dir axis = circle.Axis().Direction();
    // A circle tilted against the plane would be an ellipse there.
    if (gp_Vec(axis).Crossed(gp_Vec(plane.Direction())).Magnitude() > axisTolerance)
        return false;
    const Vec2 centre = sketch::toPlane(plane, circle.Location());
    const double span = curve.LastParameter() - curve.FirstParameter();
    if (std::fabs(span - 2.0 * std::numbers::pi) <= 1e-6) {
        const int id = int(s.addCircleAt(false, centre.x, centre.y, circle.Radius()));
        fix(s, s.findEntity(id)->a);
        s.addConstraint(ConstraintType::Radius, id, -1, -1, circle.Radius());
        return true;
    }
    Vec2 first = sketch::toPlane(plane, curve.Value(curve.FirstParameter()));
    Vec2 last = sketch::toPlane(plane, curve.Value(curve.LastParameter()));
    if (axis.Dot(plane.Direction()) <= 0.0)
        std::swap(first, last);
    const int arc = int(s.addArcAt(false, centre.x, centre.y, first.x, first.y, last.x, last.y));
    for (int point : s.pointsOf(arc))
        fix(s, point);
    return true;
}

} // namespace

ToolResult projectEdges(Sketch& s, SketchHistory& history, const gp_Ax3& plane,
                        const std::vector<TopoDS_Shape>& picked)
{
    if (picked.empty())
        return {};
    history.push(s);
    int taken = 0;
    for (const TopoDS_Shape& shape : picked) {
        if (shape.IsNull())
            continue;
        for (TopExp_Explorer edges(shape, TopAbs_EDGE); edges.More(); edges.Next()) {
            const BRepAdaptor_Curve curve(TopoDS::Edge(edges.Current()));
            if (curve.GetType() == GeomAbs_Line)
                taken += projectLine(s, plane, curve) ? 1 : 0;
            else if (curve.GetType() == GeomAbs_Circle)
                taken += projectCircle(s, plane, curve) ? 1 : 0;
        }
    }
    if (taken == 0)
        return toolMessage(
            QStringLiteral("Nur gerade und kreisförmige Kanten lassen sich übernehmen"), true);
    return {true, {}, false, -1};
}

} // namespace qor::app
