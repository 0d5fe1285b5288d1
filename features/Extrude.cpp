#include "features/Extrude.h"

#include "features/BodyEditing.h"
#include "model/ExecContext.h"
#include "model/References.h"

#include <algorithm>
#include <cmath>

namespace qor::model {

using namespace Qt::Literals::StringLiterals;

void profileFeature(ExecContext& context, const ToolCallback& tool, const QString& op)
{
    const std::vector<int> targets = resolveTargetBodies(context, u"targets"_s);
    const bool flip = context.boolParam(u"flip"_s);
    if (op != u"cut"_s || flip) {
        applyBoolean(context, tool(flip), op, targets);
        return;
    }

    const double before = totalVolume(context.state);
    const ModelState saved = context.state;
    // A first attempt that reached no body leaves a warning on the feature; the
    // retry must not inherit it.
    const QString savedWarning = context.feature.warning;
    applyBoolean(context, tool(false), op, targets);
    const double after = totalVolume(context.state);
    if (std::abs(after - before) <= 1e-9 * std::max(1.0, before)) {
        context.state = saved;
        context.feature.warning = savedWarning;
        applyBoolean(context, tool(true), op, targets);
    }
}

void execExtrude(ExecContext& context)
{
    gp_Ax3 plane;
    const TopoDS_Shape profile = resolveProfileFaces(context, u"profile"_s, &plane);
    const QString extent = context.stringParam(u"extent"_s);
    const double taper = context.number(u"taper"_s);
    const QString op = context.stringParam(u"op"_s);
    profileFeature(context, extrudeTool(context, profile, plane, extent, taper), op);
}

void execRevolve(ExecContext& context)
{
    const TopoDS_Shape profile = resolveProfileFaces(context, u"profile"_s);
    const gp_Ax1 axis = resolveAxisRef(context, u"axis"_s);
    const double angle = context.number(u"angle"_s);
    if (std::abs(angle) < 1e-9)
        throw FeatureError(QStringLiteral("Winkel muss ungleich 0 sein"));
    const QString op = context.stringParam(u"op"_s);
    profileFeature(context, revolveTool(context, profile, axis, angle), op);
}

} // namespace qor::model
