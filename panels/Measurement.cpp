#include "panels/Measurement.h"

#include "ui/theme/Theme.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRepGProp.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopoDS.hxx>

#include <numbers>

namespace qor::app {

namespace {

QStringList faceLines(const TopoDS_Face& face)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props);
    QStringList lines{QStringLiteral("Fläche: <b>%1 mm²</b>").arg(formatFixed2(props.Mass()))};
    const BRepAdaptor_Surface surface(face, true);
    if (surface.GetType() == GeomAbs_Cylinder)
        lines << QStringLiteral("Zylinder ⌀ <b>%1 mm</b>")
                     .arg(formatFixed3(2.0 * surface.Cylinder().Radius()));
    else if (surface.GetType() == GeomAbs_Sphere)
        lines << QStringLiteral("Kugel ⌀ <b>%1 mm</b>")
                     .arg(formatFixed3(2.0 * surface.Sphere().Radius()));
    return lines;
}

QStringList edgeLines(const TopoDS_Edge& edge)
{
    GProp_GProps props;
    BRepGProp::LinearProperties(edge, props);
    QStringList lines{QStringLiteral("Länge: <b>%1 mm</b>").arg(formatFixed3(props.Mass()))};
    const BRepAdaptor_Curve curve(edge);
    if (curve.GetType() == GeomAbs_Circle) {
        const double radius = curve.Circle().Radius();
        lines << QStringLiteral("Kreis ⌀ <b>%1 mm</b> (R %2)")
                     .arg(formatFixed3(2.0 * radius), formatFixed3(radius));
    }
    return lines;
}

QStringList singleLines(const TopoDS_Shape& shape)
{
    switch (shape.ShapeType()) {
    case TopAbs_FACE: return faceLines(TopoDS::Face(shape));
    case TopAbs_EDGE: return edgeLines(TopoDS::Edge(shape));
    case TopAbs_VERTEX: {
        const gp_Pnt p = BRep_Tool::Pnt(TopoDS::Vertex(shape));
        return {QStringLiteral("Punkt: X %1  Y %2  Z %3")
                    .arg(formatFixed2(p.X()), formatFixed2(p.Y()), formatFixed2(p.Z()))};
    }
    default: return {};
    }
}

QStringList pairLines(const TopoDS_Shape& first, const TopoDS_Shape& second)
{
    QStringList lines;
    // A degenerate pick must not take the panel down with it; it simply measures nothing.
    try {
        OCC_CATCH_SIGNALS
        BRepExtrema_DistShapeShape distance(first, second);
        if (distance.IsDone() && distance.NbSolution() >= 1) {
            const gp_Vec delta(distance.PointOnShape1(1), distance.PointOnShape2(1));
            lines << QStringLiteral("Abstand: <b>%1 mm</b>").arg(formatFixed3(distance.Value()))
                  << QStringLiteral("ΔX %1  ΔY %2  ΔZ %3")
                         .arg(formatFixed2(delta.X()), formatFixed2(delta.Y()),
                              formatFixed2(delta.Z()));
        }
    } catch (const Standard_Failure&) {
        lines.clear();
    }
    gp_Dir a(1, 0, 0);
    gp_Dir b(1, 0, 0);
    if (measureDirection(first, a) && measureDirection(second, b))
        lines << QStringLiteral("Winkel: <b>%1°</b>")
                     .arg(formatFixed2(a.Angle(b) * 180.0 / std::numbers::pi));
    return lines;
}

} // namespace

bool measureDirection(const TopoDS_Shape& shape, gp_Dir& direction)
{
    if (shape.IsNull())
        return false;
    if (shape.ShapeType() == TopAbs_FACE) {
        const BRepAdaptor_Surface surface(TopoDS::Face(shape), true);
        if (surface.GetType() != GeomAbs_Plane)
            return false;
        direction = surface.Plane().Axis().Direction();
        if (shape.Orientation() == TopAbs_REVERSED)
            direction.Reverse();
        return true;
    }
    if (shape.ShapeType() == TopAbs_EDGE) {
        const BRepAdaptor_Curve curve(TopoDS::Edge(shape));
        if (curve.GetType() != GeomAbs_Line)
            return false;
        direction = curve.Line().Direction();
        return true;
    }
    return false;
}

QStringList measurementLines(const std::vector<PickInfo>& picks)
{
    if (picks.size() == 1 && !picks[0].shape.IsNull())
        return singleLines(picks[0].shape);
    if (picks.size() >= 2 && !picks[0].shape.IsNull() && !picks[1].shape.IsNull())
        return pairLines(picks[0].shape, picks[1].shape);
    return {};
}

} // namespace qor::app
