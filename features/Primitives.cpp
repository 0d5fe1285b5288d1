#include "features/Primitives.h"

#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <gp_Ax2.hxx>

namespace qor::model {

gp_Ax3 primitiveFrame(ExecContext& context)
{
    const gp_Ax3 plane = resolvePlaneRef(context, QStringLiteral("plane"));
    const double y = context.number(QStringLiteral("y"));
    const double x = context.number(QStringLiteral("x"));
    const gp_Pnt centre = plane.Location().Translated(gp_Vec(plane.XDirection()) * x
                                                      + gp_Vec(plane.YDirection()) * y);
    return gp_Ax3(centre, plane.Direction(), plane.XDirection());
}

void execBox(ExecContext& context)
{
    const double length = context.number(QStringLiteral("length"));
    const double width = context.number(QStringLiteral("width"));
    const double height = context.number(QStringLiteral("height"));
    if (length <= 0.0 || width <= 0.0 || height <= 0.0)
        throw FeatureError(QStringLiteral("Maße müssen größer als 0 sein"));

    const gp_Ax3 frame = primitiveFrame(context);
    const gp_Pnt corner = frame.Location().Translated(
        gp_Vec(frame.XDirection()) * (-length / 2.0) + gp_Vec(frame.YDirection()) * (-width / 2.0));
    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("targets"));
    const QString op = context.stringParam(QStringLiteral("op"));
    const TopoDS_Shape box
        = BRepPrimAPI_MakeBox(gp_Ax2(corner, frame.Direction(), frame.XDirection()), length, width,
                              height)
              .Shape();
    applyBoolean(context, box, op, targets);
}

} // namespace qor::model
