#include "features/SketchFeature.h"

#include "model/ExecContext.h"
#include "model/References.h"
#include "sketch/Solver.h"

namespace qor::model {
namespace {

constexpr double degreesToRadians = 0.017453292519943295;

// Sets every driving dimension with an expression to its value; a dimension
// that does not evaluate keeps its value and leaves a warning.
void driveDimensions(ExecContext& context, qor::sketch::Sketch& sketch)
{
    for (qor::sketch::Constraint& c : sketch.constraints) {
        if (!qor::sketch::isDimensional(c.type) || c.expression.empty() || c.driven)
            continue;
        QString message;
        const EvalResult result
            = context.document.tryEval(QString::fromStdString(c.expression), &message);
        if (!result.ok) {
            context.feature.warning
                = QStringLiteral("Bemaßung %1: %2").arg(QString::fromStdString(c.name), message);
            continue;
        }
        double value = result.value;
        if (c.type == qor::sketch::ConstraintType::Angle) {
            // The sign of a stored angle says which way it opens; the
            // expression gives only the size.
            if (c.value < 0)
                value = -value;
            value *= degreesToRadians;
        }
        c.value = value;
    }
}

} // namespace

void execSketch(ExecContext& context)
{
    gp_Ax3 plane = resolvePlaneRef(context, QStringLiteral("plane"));
    if (context.feature.params.contains(QLatin1String("offset"))) {
        const double offset = context.number(QStringLiteral("offset"));
        if (offset != 0.0)
            plane.Translate(gp_Vec(plane.Direction()) * offset);
    }
    qor::sketch::Sketch* sketch = context.feature.sketch.get();
    if (!sketch)
        throw FeatureError(QStringLiteral("Skizzendaten fehlen"));

    driveDimensions(context, *sketch);
    qor::sketch::SolveResult solved;
    qor::sketch::solve(solved, *sketch, {});
    if (!solved.ok)
        context.feature.warning = QStringLiteral("Skizze ist überbestimmt oder widersprüchlich");

    const int id = context.feature.id;
    context.state.planes[id] = plane;
    context.state.sketches[id] = SketchResult{plane, sketch, id};
}

} // namespace qor::model
