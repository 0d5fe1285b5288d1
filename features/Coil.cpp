#include "features/Coil.h"

#include "features/BodyEditing.h"

#include "features/Helix.h"
#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepGProp.hxx>
#include <BRepOffsetAPI_MakePipeShell.hxx>
#include <GProp_GProps.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Ax2.hxx>
#include <gp_Circ.hxx>

#include <cmath>

namespace qor::model {

namespace {

struct CoilSize {
    double diameter = 0.0;
    double pitch = 0.0;
    double section = 0.0;
    double height = 0.0;
    bool square = false;
};

// The checks run in a fixed order so that the user always sees the first thing
// to correct, not whichever the kernel would trip over.
CoilSize readSize(ExecContext& context)
{
    CoilSize size;
    size.diameter = context.number(QStringLiteral("diameter"));
    size.pitch = context.number(QStringLiteral("pitch"));
    size.section = context.number(QStringLiteral("section"));
    if (size.diameter <= 0.0 || size.pitch <= 0.0 || size.section <= 0.0)
        throw FeatureError(QStringLiteral("Maße müssen größer als 0 sein"));
    if (size.section >= size.diameter)
        throw FeatureError(
            QStringLiteral("Drahtstärke muss kleiner als der Federdurchmesser sein"));

    size.height = context.stringParam(QStringLiteral("extent")) == QStringLiteral("height")
                      ? context.number(QStringLiteral("height"))
                      : context.number(QStringLiteral("turns")) * size.pitch;
    if (!(size.height > 0.0))
        throw FeatureError(QStringLiteral("Höhe bzw. Windungen müssen größer als 0 sein"));

    size.square = context.stringParam(QStringLiteral("profile")) == QStringLiteral("square");
    if (size.section + 1e-6 >= size.pitch)
        throw FeatureError(QStringLiteral(
            "Steigung muss größer als die Drahtstärke sein (sonst berühren sich die Windungen)"));
    return size;
}

// Main direction along the axis; X from the world X axis unless the axis runs
// nearly along it, so that the helix starts at a predictable place.
gp_Ax3 coilFrame(const gp_Ax1& axis, bool flip)
{
    const gp_Dir z = flip ? axis.Direction().Reversed() : axis.Direction();
    const gp_Vec seed = std::abs(z.X()) >= 0.9 ? gp_Vec(0, 1, 0) : gp_Vec(1, 0, 0);
    const gp_Vec x = seed - gp_Vec(z) * seed.Dot(gp_Vec(z));
    return gp_Ax3(axis.Location(), z, gp_Dir(x));
}

// The wire's cross-section at the helix start, in the plane through the axis.
TopoDS_Wire sectionWire(const gp_Ax3& frame, const CoilSize& size)
{
    const gp_Vec x(frame.XDirection());
    const gp_Vec z(frame.Direction());
    const gp_Pnt start = frame.Location().Translated(x * (size.diameter / 2.0));
    if (!size.square) {
        const gp_Dir normal = gp_Dir(z.Crossed(x));
        const gp_Circ circle(gp_Ax2(start, normal), size.section / 2.0);
        return BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(circle).Edge()).Wire();
    }
    const double h = size.section / 2.0;
    BRepBuilderAPI_MakePolygon polygon(start.Translated((-x - z) * h),
                                       start.Translated((x - z) * h), start.Translated((x + z) * h),
                                       start.Translated((-x + z) * h), Standard_True);
    return polygon.Wire();
}

// The sweep's solid, turned outside out when the kernel built it inside out.
TopoDS_Shape sweepSpring(const TopoDS_Wire& helix, const TopoDS_Wire& section, const gp_Dir& axis)
{
    BRepOffsetAPI_MakePipeShell pipe(helix);
    pipe.SetMode(axis);
    pipe.Add(section, Standard_False, Standard_False);
    pipe.Build();
    if (!pipe.IsDone() || !pipe.MakeSolid())
        throw FeatureError(QStringLiteral("Feder konnte nicht erzeugt werden"));

    return outwardOriented(pipe.Shape());
}

} // namespace

void execCoil(ExecContext& context)
{
    const gp_Ax1 axis = resolveAxisRef(context, QStringLiteral("axis"));
    const CoilSize size = readSize(context);
    const bool leftHand = context.boolParam(QStringLiteral("leftHand"));
    const gp_Ax3 frame = coilFrame(axis, context.boolParam(QStringLiteral("flip")));

    const TopoDS_Wire helix
        = helixWire(frame, leftHand, size.diameter / 2.0, size.pitch, size.height);
    const TopoDS_Shape spring = sweepSpring(helix, sectionWire(frame, size), frame.Direction());

    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("targets"));
    applyBoolean(context, spring, context.stringParam(QStringLiteral("op")), targets);
}

} // namespace qor::model
