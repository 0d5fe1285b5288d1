#include "features/Primitives.h"

#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <gp_Ax2.hxx>

namespace qor::model {

using namespace Qt::Literals::StringLiterals;

gp_Ax3 primitiveFrame(ExecContext& context)
{
    const gp_Ax3 plane = resolvePlaneRef(context, u"plane"_s);
    const double y = context.number(u"y"_s);
    const double x = context.number(u"x"_s);
    const gp_Pnt centre = plane.Location().Translated(gp_Vec(plane.XDirection()) * x
                                                      + gp_Vec(plane.YDirection()) * y);
    return gp_Ax3(centre, plane.Direction(), plane.XDirection());
}

void execBox(ExecContext& context)
{
    const double length = context.number(u"length"_s);
    const double width = context.number(u"width"_s);
    const double height = context.number(u"height"_s);
    if (length <= 0.0 || width <= 0.0 || height <= 0.0)
        throw FeatureError(QStringLiteral("Maße müssen größer als 0 sein"));

    const gp_Ax3 frame = primitiveFrame(context);
    const gp_Pnt corner = frame.Location().Translated(
        gp_Vec(frame.XDirection()) * (-length / 2.0) + gp_Vec(frame.YDirection()) * (-width / 2.0));
    const std::vector<int> targets = resolveTargetBodies(context, u"targets"_s);
    const QString op = context.stringParam(u"op"_s);
    const TopoDS_Shape box =
        BRepPrimAPI_MakeBox(gp_Ax2(corner, frame.Direction(), frame.XDirection()), length, width,
                            height)
            .Shape();
    applyBoolean(context, box, op, targets);
}

} // namespace qor::model
