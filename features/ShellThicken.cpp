#include "features/ShellThicken.h"

#include "features/FaceSelection.h"
#include "features/KernelGuards.h"
#include "features/ShapeOps.h"
#include "model/BooleanGroup.h"
#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_MakeSolid.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepOffsetAPI_MakeOffsetShape.hxx>
#include <BRepOffsetAPI_MakeThickSolid.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>

#include <algorithm>

namespace qor::model {

namespace {

constexpr double offsetTolerance = 1e-4;

TopoDS_Shape openShell(const TopoDS_Shape& body, const std::vector<TopoDS_Shape>& faces,
                       double offset)
{
    TopTools_ListOfShape openings;
    for (const TopoDS_Shape& face : faces)
        openings.Append(face);
    const QString failure
        = QStringLiteral("Schale nicht möglich – Wandstärke zu groß oder Geometrie zu komplex");
    BRepOffsetAPI_MakeThickSolid shell;
    runKernel(failure, [&] {
        shell.MakeThickSolidByJoin(body, openings, offset, offsetTolerance, BRepOffset_Skin, true,
                                   false, GeomAbs_Arc, false);
        shell.Build();
    });
    // Walls that just meet inside come back as done, but as a broken solid.
    if (!shell.IsDone() || isEmptyShape(shell.Shape())
        || !BRepCheck_Analyzer(shell.Shape()).IsValid())
        throw FeatureError(failure);
    return cleanedResult(shell.Shape());
}

TopoDS_Shape closedShell(const TopoDS_Shape& body, double offset)
{
    const QString failure = QStringLiteral("Schale nicht möglich – Wandstärke zu groß?");
    BRepOffsetAPI_MakeOffsetShape skin;
    runKernel(failure, [&] {
        skin.PerformByJoin(body, offset, offsetTolerance, BRepOffset_Skin, false, false,
                           GeomAbs_Arc, false);
    });
    if (!skin.IsDone())
        throw FeatureError(failure);
    TopExp_Explorer shells(skin.Shape(), TopAbs_SHELL);
    if (!shells.More())
        throw FeatureError(QStringLiteral("Schale nicht möglich"));
    // Closed from an offset shell, the solid may come out inside out; cut with
    // that, the body would lose its material instead of gaining a void.
    const TopoDS_Shape wall
        = outwardOriented(BRepBuilderAPI_MakeSolid(TopoDS::Shell(shells.Current())).Solid());
    const bool outward = offset > 0.0;
    return outwardOriented(
        soundBoolean(BOPAlgo_CUT, outward ? wall : body, outward ? body : wall, failure));
}

const QString thickenFailure
    = QStringLiteral("Aufdicken nicht möglich – Fläche zu stark gekrümmt für diese Dicke?");

// The solid grown from the face by t along its outer side, or from -t/2 to t/2
// when symmetric.
TopoDS_Shape thickenFace(const TopoDS_Shape& face, double t, bool symmetric)
{
    const double start = symmetric ? -t / 2.0 : 0.0;
    if (!offsetsStayProper(face, start, start + t))
        throw FeatureError(thickenFailure);
    // A solid that shares the face with its body spoils a later boolean with that
    // body: joined to a cylinder, a thickened side face left nothing.
    TopoDS_Shape base = BRepBuilderAPI_Copy(face).Shape();
    if (symmetric) {
        // Thickening the unshifted face instead would quietly put the whole
        // thickness on one side.
        BRepOffsetAPI_MakeOffsetShape shift;
        runKernel(thickenFailure, [&] { shift.PerformBySimple(base, start); });
        if (!shift.IsDone() || isEmptyShape(shift.Shape()))
            throw FeatureError(thickenFailure);
        base = shift.Shape();
    }
    BRepOffsetAPI_MakeThickSolid thick;
    runKernel(thickenFailure, [&] {
        thick.MakeThickSolidBySimple(base, t);
        thick.Build();
    });
    if (!thick.IsDone() || isEmptyShape(thick.Shape())
        || !BRepCheck_Analyzer(thick.Shape()).IsValid())
        throw FeatureError(thickenFailure);
    // Grown to the outer side of a face, the kernel closes the solid inside out.
    return outwardOriented(thick.Shape());
}

} // namespace

void execShell(ExecContext& context)
{
    const double t = context.number(QStringLiteral("thickness"));
    if (t <= 0.0)
        throw FeatureError(QStringLiteral("Wandstärke muss größer als 0 sein"));
    const bool outward = context.stringParam(QStringLiteral("direction")) == QLatin1String("out");
    const auto openings = resolveFacesByBody(context, QStringLiteral("faces"));

    // Each body once: a body listed twice would be hollowed twice.
    std::vector<int> bodies;
    const auto take = [&bodies](int id) {
        if (std::find(bodies.begin(), bodies.end(), id) == bodies.end())
            bodies.push_back(id);
    };
    for (const int id : resolveTargetBodies(context, QStringLiteral("bodies")))
        take(id);
    for (const auto& [id, faces] : openings)
        take(id);
    if (bodies.empty())
        throw FeatureError(QStringLiteral("Fläche zum Entfernen oder Körper auswählen"));

    const double offset = outward ? t : -t;
    for (const int id : bodies) {
        const TopoDS_Shape& body = context.state.bodies.at(id).shape;
        const auto faces = openings.find(id);
        context.setBody(id, faces == openings.end() ? closedShell(body, offset)
                                                    : openShell(body, faces->second, offset));
    }
}

void execThicken(ExecContext& context)
{
    const auto facesByBody = resolveFacesByBody(context, QStringLiteral("faces"));
    if (facesByBody.empty())
        throw FeatureError(QStringLiteral("Flächen zum Aufdicken auswählen"));
    double t = context.number(QStringLiteral("thickness"));
    if (t <= 0.0)
        throw FeatureError(QStringLiteral("Dicke muss größer als 0 sein"));
    if (context.boolParam(QStringLiteral("flip")))
        t = -t;
    const bool symmetric = context.boolParam(QStringLiteral("symmetric"));

    std::map<int, std::vector<TopoDS_Shape>> solidsByBody;
    std::vector<TopoDS_Shape> allSolids;
    for (const auto& [bodyId, faces] : facesByBody) {
        for (const TopoDS_Shape& face : faces) {
            solidsByBody[bodyId].push_back(thickenFace(face, t, symmetric));
            allSolids.push_back(solidsByBody[bodyId].back());
        }
    }

    const QString op = context.stringParam(QStringLiteral("op"));
    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("targets"));
    if (!targets.empty() || op.isEmpty() || op == QLatin1String("new")) {
        applyBoolean(context, fuseAll(allSolids), op, targets);
        return;
    }
    // Without targets each body takes the solids grown from its own faces; one
    // tool for all would carry pieces of one body into another.
    for (const auto& [bodyId, solids] : solidsByBody)
        applyBoolean(context, fuseAll(solids), op, {bodyId});
}

} // namespace qor::model
