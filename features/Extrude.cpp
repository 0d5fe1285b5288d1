#include "features/Extrude.h"

#include "model/ExecContext.h"
#include "model/References.h"

#include <cmath>

namespace qor::model {

void profileFeature(ExecContext& context, const ToolCallback& tool, const QString& op)
{
    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("targets"));
    const bool flip = context.boolParam(QStringLiteral("flip"));
    if (op != QStringLiteral("cut") || flip) {
        applyBoolean(context, tool(flip), op, targets);
        return;
    }

    // A cut that takes nothing away warns; then the profile was meant to cut
    // the other way. (A cut waiting in a group has not warned: the group is
    // evaluated only when each of its cuts removes material.)
    const ModelState saved = context.state;
    const QString savedWarning = context.feature.warning;
    context.feature.warning.clear();
    applyBoolean(context, tool(false), op, targets);
    // The warning may go on to name bodies the cut left alone.
    if (context.feature.warning.startsWith(noBodyWarning())) {
        context.state = saved;
        // The retry must not inherit the first attempt's warning.
        context.feature.warning = savedWarning;
        applyBoolean(context, tool(true), op, targets);
    } else if (context.feature.warning.isEmpty()) {
        context.feature.warning = savedWarning;
    }
}

void execExtrude(ExecContext& context)
{
    gp_Ax3 plane;
    const TopoDS_Shape profile = resolveProfileFaces(context, QStringLiteral("profile"), &plane);
    const QString extent = context.stringParam(QStringLiteral("extent"));
    const double taper = context.number(QStringLiteral("taper"));
    const QString op = context.stringParam(QStringLiteral("op"));
    profileFeature(context, extrudeTool(context, profile, plane, extent, taper), op);
}

void execRevolve(ExecContext& context)
{
    const TopoDS_Shape profile = resolveProfileFaces(context, QStringLiteral("profile"));
    const gp_Ax1 axis = resolveAxisRef(context, QStringLiteral("axis"));
    const double angle = context.number(QStringLiteral("angle"));
    if (std::abs(angle) < 1e-9)
        throw FeatureError(QStringLiteral("Winkel muss ungleich 0 sein"));
    const QString op = context.stringParam(QStringLiteral("op"));
    profileFeature(context, revolveTool(context, profile, axis, angle), op);
}

} // namespace qor::model
