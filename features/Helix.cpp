#include "features/Helix.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepLib.hxx>
#include <Geom2d_Line.hxx>
#include <GeomAbs_Shape.hxx>
#include <Geom_CylindricalSurface.hxx>

#include <cmath>
#include <numbers>

namespace qor::model {

TopoDS_Wire helixWire(const gp_Ax3& frame, bool leftHand, double radius, double pitch,
                      double height)
{
    // On the cylinder's parameter plane (angle, height) a helix is a straight line,
    // so the edge is exact there; only its 3D curve is an approximation.
    const double turn = 2.0 * std::numbers::pi;
    Handle(Geom_CylindricalSurface) surface = new Geom_CylindricalSurface(frame, radius);
    Handle(Geom2d_Line) line
        = new Geom2d_Line(gp_Pnt2d(0.0, 0.0), gp_Dir2d(leftHand ? -turn : turn, pitch));
    const double length = height / pitch * std::hypot(turn, pitch);

    TopoDS_Edge edge = BRepBuilderAPI_MakeEdge(line, surface, 0.0, length);
    BRepLib::BuildCurves3d(edge, 1e-6, GeomAbs_C1, 14, 400);
    return BRepBuilderAPI_MakeWire(edge);
}

} // namespace qor::model
