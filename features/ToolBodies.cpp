#include "features/ToolBodies.h"

#include "features/ShapeOps.h"
#include "model/ExecContext.h"

#include <BRepPrimAPI_MakeRevol.hxx>
#include <gp_Trsf.hxx>

#include <cmath>
#include <numbers>

namespace qor::model {

namespace {

constexpr double degree = 0.017453292519943295;

TopoDS_Shape shifted(const TopoDS_Shape& shape, const gp_Dir& dir, double distance)
{
    gp_Trsf move;
    move.SetTranslation(gp_Vec(dir) * distance);
    return transformShape(shape, move);
}

// A prism started below the profile is the prism of the profile moved there
// first, also with a taper; building it first lets taperedPrism refuse a bad
// distance before anything is moved.
TopoDS_Shape extrusion(ExecContext& context, const TopoDS_Shape& profile, const gp_Ax3& plane,
                       const QString& extent, double taperDeg, const gp_Dir& dir)
{
    if (extent == QStringLiteral("sym")) {
        const double d = context.number(QStringLiteral("distance"));
        return shifted(taperedPrism(taperDeg, profile, dir, d), dir, -d / 2.0);
    }
    if (extent == QStringLiteral("two")) {
        const TopoDS_Shape first
            = taperedPrism(taperDeg, profile, dir, context.number(QStringLiteral("distance")));
        const TopoDS_Shape second = taperedPrism(taperDeg, profile, dir.Reversed(),
                                                 context.number(QStringLiteral("distance2")));
        return fuseAll({first, second});
    }
    if (extent == QStringLiteral("all") || extent == QStringLiteral("allboth")) {
        const double through = throughAllDistance(context.state, plane.Location());
        if (extent == QStringLiteral("all"))
            return taperedPrism(taperDeg, profile, dir, through);
        return shifted(taperedPrism(taperDeg, profile, dir, 2.0 * through), dir, -through);
    }
    return taperedPrism(taperDeg, profile, dir, context.number(QStringLiteral("distance")));
}

} // namespace

ToolCallback extrudeTool(ExecContext& context, const TopoDS_Shape& profile, const gp_Ax3& plane,
                         const QString& extent, double taperDeg)
{
    return [&context, profile, plane, extent, taperDeg](bool reversed) {
        const gp_Dir normal = plane.Direction();
        return extrusion(context, profile, plane, extent, taperDeg,
                         reversed ? normal.Reversed() : normal);
    };
}

ToolCallback revolveTool(ExecContext& context, const TopoDS_Shape& profile, const gp_Ax1& axis,
                         double angleDeg)
{
    return [&context, profile, axis, angleDeg](bool reversed) {
        const gp_Ax1 turn = reversed ? axis.Reversed() : axis;
        TopoDS_Shape start = profile;
        if (context.boolParam(QStringLiteral("symmetric"))) {
            gp_Trsf back;
            back.SetRotation(turn, -angleDeg * degree * 0.5);
            start = transformShape(profile, back);
        }
        // An angle that only rounding keeps from 360 degrees is a closed turn, not one
        // with a hairline gap.
        const double sweep
            = std::abs(angleDeg) >= 359.999999999 ? 2.0 * std::numbers::pi : angleDeg * degree;
        return BRepPrimAPI_MakeRevol(start, turn, sweep, true).Shape();
    };
}

} // namespace qor::model
