#include "features/MoveScale.h"

#include "features/BodyEditing.h"
#include "features/ShapeOps.h"
#include "io/MeshFaces.h"
#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepBuilderAPI_GTransform.hxx>
#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <Standard_Failure.hxx>
#include <gp_GTrsf.hxx>
#include <gp_Mat.hxx>

#include <cmath>
#include <numbers>

namespace qor::model {

namespace {

// Writes one transformed body: a new body for a copy, else the body itself.
void storeResult(ExecContext& context, int bodyId, const TopoDS_Shape& shape)
{
    const TopoDS_Shape outward = outwardOriented(shape);
    if (context.boolParam(QStringLiteral("copy")))
        addNewBody(context, outward);
    else
        context.setBody(bodyId, outward);
}

// The centre of mass; for a body without volume (a sheet) that of its faces,
// where the volume's centre would be undefined.
gp_Pnt centreOfMass(const TopoDS_Shape& shape)
{
    GProp_GProps volume;
    BRepGProp::VolumeProperties(shape, volume, Standard_False, Standard_False, Standard_False);
    if (std::abs(volume.Mass()) > 1e-12)
        return volume.CentreOfMass();
    GProp_GProps surface;
    BRepGProp::SurfaceProperties(shape, surface, Standard_False, Standard_False);
    if (surface.Mass() > 1e-12)
        return surface.CentreOfMass();
    return gp::Origin();
}

TopoDS_Shape scaledPerAxis(const TopoDS_Shape& shape, double fx, double fy, double fz,
                           const gp_Pnt& centre)
{
    gp_GTrsf gtrsf;
    gtrsf.SetVectorialPart(gp_Mat(fx, 0.0, 0.0, 0.0, fy, 0.0, 0.0, 0.0, fz));
    gtrsf.SetTranslationPart(
        gp_XYZ((1.0 - fx) * centre.X(), (1.0 - fy) * centre.Y(), (1.0 - fz) * centre.Z()));
    gtrsf.SetForm();
    if (io::isMeshOnly(shape))
        return io::transformedMesh(shape, gtrsf);
    BRepBuilderAPI_GTransform transform(shape, gtrsf, Standard_True);
    if (!transform.IsDone())
        throw FeatureError(QStringLiteral("Ungleichmäßiges Skalieren nicht möglich"));
    return transform.Shape();
}

} // namespace

void execMove(ExecContext& context)
{
    const std::vector<int> bodies = selectedBodiesOnce(context, QStringLiteral("bodies"));
    if (bodies.empty())
        throw FeatureError(QStringLiteral("Körper auswählen"));

    const double dz = context.number(QStringLiteral("dz"));
    const double dy = context.number(QStringLiteral("dy"));
    const double dx = context.number(QStringLiteral("dx"));
    gp_Trsf trsf;
    trsf.SetTranslation(gp_Vec(dx, dy, dz));

    const double angle = context.angle(QStringLiteral("angle"));
    if (std::abs(angle) > 1e-12) {
        gp_Trsf rotation;
        rotation.SetRotation(resolveAxisRef(context, QStringLiteral("axis")),
                             angle * std::numbers::pi / 180.0);
        trsf.Multiply(rotation); // translation ∘ rotation: the turn comes first
    }

    for (const int id : bodies)
        storeResult(context, id, transformShape(context.state.bodies.at(id).shape, trsf));
}

void execScale(ExecContext& context)
{
    const std::vector<int> bodies = selectedBodiesOnce(context, QStringLiteral("bodies"));
    if (bodies.empty())
        throw FeatureError(QStringLiteral("Körper zum Skalieren auswählen"));

    const bool perAxis = context.stringParam(QStringLiteral("mode")) == QStringLiteral("axes");
    // All four are evaluated whatever the mode, so a broken hidden field shows.
    const double factor = context.number(QStringLiteral("factor"));
    const double fx = context.number(QStringLiteral("fx"));
    const double fy = context.number(QStringLiteral("fy"));
    const double fz = context.number(QStringLiteral("fz"));
    const bool positive = perAxis ? (fx > 0.0 && fy > 0.0 && fz > 0.0) : factor > 0.0;
    if (!positive)
        throw FeatureError(QStringLiteral("Faktoren müssen größer als 0 sein"));

    for (const int id : bodies) {
        const TopoDS_Shape& shape = context.state.bodies.at(id).shape;
        const gp_Pnt centre
            = context.stringParam(QStringLiteral("center")) == QStringLiteral("centroid")
                  ? centreOfMass(shape)
                  : gp::Origin();
        TopoDS_Shape scaled;
        if (perAxis) {
            scaled = scaledPerAxis(shape, fx, fy, fz, centre);
        } else {
            gp_Trsf trsf;
            trsf.SetScale(centre, factor);
            scaled = transformShape(shape, trsf);
        }
        storeResult(context, id, scaled);
    }
}

} // namespace qor::model
