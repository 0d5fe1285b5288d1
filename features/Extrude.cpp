#include "features/Extrude.h"

#include "features/BodyEditing.h"
#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <NCollection_DataMap.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_OrientedShapeMapHasher.hxx>
#include <TopoDS_Compound.hxx>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace qor::model {

namespace {

// Occurrences of oriented faces: +1 for each in the state after, -1 before.
using FaceBalance = NCollection_DataMap<TopoDS_Shape, int, TopTools_OrientedShapeMapHasher>;

// Faces of the bodies that the other state does not hold unchanged.
void countFaces(FaceBalance& balance, const ModelState& state, const ModelState& other, int sign)
{
    for (const auto& [id, body] : state.bodies) {
        const auto same = other.bodies.find(id);
        if (same != other.bodies.end() && same->second.shape.IsEqual(body.shape))
            continue;
        for (TopExp_Explorer face(body.shape, TopAbs_FACE); face.More(); face.Next()) {
            if (int* count = balance.ChangeSeek(face.Current()))
                *count += sign;
            else
                balance.Bind(face.Current(), sign);
        }
    }
}

// Signed volume integral over the faces about one common origin: faces both
// states share cancel exactly, so only the faces a boolean changed are measured.
double faceVolume(const TopoDS_Compound& faces)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(faces, props, Standard_False, Standard_False, Standard_False);
    return props.Mass();
}

double volumeChange(const ModelState& before, const ModelState& after)
{
    FaceBalance balance;
    countFaces(balance, after, before, 1);
    countFaces(balance, before, after, -1);
    BRep_Builder builder;
    TopoDS_Compound gained;
    TopoDS_Compound lost;
    builder.MakeCompound(gained);
    builder.MakeCompound(lost);
    for (FaceBalance::Iterator it(balance); it.More(); it.Next()) {
        for (int k = 0; k < std::abs(it.Value()); ++k)
            builder.Add(it.Value() > 0 ? gained : lost, it.Key());
    }
    return faceVolume(gained) - faceVolume(lost);
}

// No more than the bodies' volume: the sum of their bounding boxes.
double volumeBound(const ModelState& state)
{
    double bound = 0.0;
    for (const auto& [id, body] : state.bodies) {
        const Bnd_Box& box = bodyBox(body);
        if (!box.IsVoid()) {
            double xmin = 0, ymin = 0, zmin = 0, xmax = 0, ymax = 0, zmax = 0;
            box.Get(xmin, ymin, zmin, xmax, ymax, zmax);
            bound += (xmax - xmin) * (ymax - ymin) * (zmax - zmin);
        }
    }
    return bound;
}

// True when the total volume stayed the same within 1e-9 of itself (at least
// 1e-9 mm³). The whole volume is measured only when the change is too small
// to tell from its bound.
bool removedNothing(const ModelState& before, const ModelState& after)
{
    constexpr double relative = 1e-9;
    const double change = std::abs(volumeChange(before, after));
    if (change <= relative)
        return true;
    if (change > relative * std::max(1.0, volumeBound(before)))
        return false;
    return change <= relative * std::max(1.0, totalVolume(before));
}

} // namespace

void profileFeature(ExecContext& context, const ToolCallback& tool, const QString& op)
{
    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("targets"));
    const bool flip = context.boolParam(QStringLiteral("flip"));
    if (op != QStringLiteral("cut") || flip) {
        applyBoolean(context, tool(flip), op, targets);
        return;
    }

    const ModelState saved = context.state;
    // A first attempt that reached no body leaves a warning on the feature; the
    // retry must not inherit it.
    const QString savedWarning = context.feature.warning;
    applyBoolean(context, tool(false), op, targets);
    if (removedNothing(saved, context.state)) {
        context.state = saved;
        context.feature.warning = savedWarning;
        applyBoolean(context, tool(true), op, targets);
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
