#include "features/ConstructionGeometry.h"

#include "model/References.h"

namespace qor::model {

namespace {

constexpr double radiansPerDegree = 0.017453292519943295;

// The point halfway between the base origin and its foot on the second plane;
// s and the second normal change sign together, so that normal's sense is irrelevant.
gp_Pnt midLocation(const gp_Ax3& base, const gp_Ax3& second)
{
    const gp_Vec n2(second.Direction());
    const double s = gp_Vec(second.Location(), base.Location()).Dot(n2);
    return base.Location().Translated(n2 * (-s / 2.0));
}

} // namespace

void execPlane(ExecContext& context)
{
    gp_Ax3 plane = resolvePlaneRef(context, QStringLiteral("base"));
    const QString mode = context.stringParam(QStringLiteral("mode"));
    if (mode == QLatin1String("angle")) {
        const gp_Ax1 axis = resolveAxisRef(context, QStringLiteral("axis"));
        plane.Rotate(axis, context.angle(QStringLiteral("angle")) * radiansPerDegree);
    } else if (mode == QLatin1String("mid")) {
        plane.SetLocation(midLocation(plane, resolvePlaneRef(context, QStringLiteral("base2"))));
    } else {
        const double offset = context.number(QStringLiteral("offset"));
        plane.SetLocation(plane.Location().Translated(gp_Vec(plane.Direction()) * offset));
    }
    // Only the normal turns round; X and Y stay, so points keep their sketch
    // coordinates and the frame becomes left-handed. Curves drawn on it take their
    // sense from X × Y (sketch plane mapping), not from the normal.
    if (context.boolParam(QStringLiteral("flip")))
        plane.ZReverse();
    context.state.planes[context.feature.id] = plane;
}

void execAxis(ExecContext& context)
{
    context.state.axes[context.feature.id] = resolveAxisRef(context, QStringLiteral("ref"));
}

} // namespace qor::model
