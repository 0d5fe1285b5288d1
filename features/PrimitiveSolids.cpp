#include "features/Primitives.h"

#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <gp_Ax2.hxx>

namespace qor::model {

// The sizes are checked before anything is resolved or built, so a bad size is
// reported even when the plane is gone too. The conditions are written so that
// they hold for valid sizes only.

void execCylinder(ExecContext& context)
{
    const double diameter = context.number(QStringLiteral("diameter"));
    const double height = context.number(QStringLiteral("height"));
    if (!(diameter > 0.0 && height > 0.0))
        throw FeatureError(QStringLiteral("Maße müssen größer als 0 sein"));

    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("targets"));
    const QString op = context.stringParam(QStringLiteral("op"));
    const gp_Ax3 frame = primitiveFrame(context);
    const TopoDS_Shape cylinder
        = BRepPrimAPI_MakeCylinder(frame.Ax2(), diameter / 2.0, height).Shape();
    applyBoolean(context, cylinder, op, targets);
}

void execSphere(ExecContext& context)
{
    const double diameter = context.number(QStringLiteral("diameter"));
    if (!(diameter > 0.0))
        throw FeatureError(QStringLiteral("Durchmesser muss größer als 0 sein"));

    const gp_Ax3 frame = primitiveFrame(context);
    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("targets"));
    const QString op = context.stringParam(QStringLiteral("op"));
    const TopoDS_Shape sphere = BRepPrimAPI_MakeSphere(frame.Ax2(), diameter / 2.0).Shape();
    applyBoolean(context, sphere, op, targets);
}

void execTorus(ExecContext& context)
{
    const double diameter = context.number(QStringLiteral("diameter"));
    const double tube = context.number(QStringLiteral("tube"));
    if (!(diameter > 0.0 && tube > 0.0 && tube < diameter))
        throw FeatureError(
            QStringLiteral("Rohrdurchmesser muss kleiner als der Ringdurchmesser sein"));

    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("targets"));
    const QString op = context.stringParam(QStringLiteral("op"));
    const gp_Ax3 frame = primitiveFrame(context);
    const TopoDS_Shape torus
        = BRepPrimAPI_MakeTorus(frame.Ax2(), diameter / 2.0, tube / 2.0).Shape();
    applyBoolean(context, torus, op, targets);
}

} // namespace qor::model
