#include "features/SplitCombine.h"

#include "features/BodyEditing.h"
#include "model/BooleanGroup.h"
#include "model/ExecContext.h"
#include "model/References.h"
#include "sketch/Plane.h"

#include <BRepAlgoAPI_Splitter.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Pln.hxx>

#include <algorithm>
#include <vector>

namespace qor::model {

namespace {

std::vector<TopoDS_Shape> splitPieces(const TopoDS_Shape& body, const TopoDS_Face& cutter)
{
    TopTools_ListOfShape arguments;
    arguments.Append(body);
    TopTools_ListOfShape tools;
    tools.Append(cutter);
    BRepAlgoAPI_Splitter splitter;
    splitter.SetArguments(arguments);
    splitter.SetTools(tools);
    splitter.SetNonDestructive(Standard_True);
    splitter.Build();
    if (!splitter.IsDone())
        throw FeatureError(QStringLiteral("Teilen fehlgeschlagen"));
    return solidsOf(splitter.Shape());
}

// The result for op, checked and run in other ways as every boolean on a body
// is; an unknown op joins. A boolean that fails gets the same German messages
// as the shared boolean operation.
TopoDS_Shape combined(const TopoDS_Shape& target, const TopoDS_Shape& tools, const QString& op)
{
    if (op == QStringLiteral("cut"))
        return soundBoolean(BOPAlgo_CUT, target, tools,
                            QStringLiteral("Ausschneiden fehlgeschlagen"));
    if (op == QStringLiteral("intersect"))
        return soundBoolean(BOPAlgo_COMMON, target, tools,
                            QStringLiteral("Schneiden fehlgeschlagen"));
    return soundBoolean(BOPAlgo_FUSE, target, tools, QStringLiteral("Verbinden fehlgeschlagen"));
}

} // namespace

void execSplit(ExecContext& context)
{
    const std::vector<int> bodies = selectedBodiesOnce(context, QStringLiteral("bodies"));
    if (bodies.empty())
        throw FeatureError(QStringLiteral("Körper auswählen"));

    const gp_Ax3 plane = resolvePlaneRef(context, QStringLiteral("plane"));
    const TopoDS_Face cutter
        = BRepBuilderAPI_MakeFace(gp_Pln(plane), -100000.0, 100000.0, -100000.0, 100000.0).Face();

    for (const int id : bodies) {
        const TopoDS_Shape body = context.state.bodies.at(id).shape;
        const std::vector<TopoDS_Shape> pieces = splitPieces(body, cutter);
        // Compared with the solids the body had: a body of two separate solids
        // that the plane misses must not fall apart into two bodies.
        if (pieces.size() <= std::max<std::size_t>(1, solidsOf(body).size())) {
            context.feature.warning = QStringLiteral("Die Ebene schneidet den Körper nicht");
            continue;
        }
        context.setBody(id, outwardOriented(pieces.front()));
        for (std::size_t i = 1; i < pieces.size(); ++i)
            addNewBody(context, outwardOriented(pieces[i]));
    }
}

void execCombine(ExecContext& context)
{
    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("target"));
    std::vector<int> tools = selectedBodiesOnce(context, QStringLiteral("tools"));
    if (targets.empty())
        throw FeatureError(QStringLiteral("Zielkörper auswählen"));
    const int target = targets.front();
    std::erase(tools, target);
    if (tools.empty())
        throw FeatureError(QStringLiteral("Werkzeugkörper auswählen"));

    std::vector<TopoDS_Shape> toolShapes;
    for (const int id : tools)
        toolShapes.push_back(context.state.bodies.at(id).shape);

    const TopoDS_Shape result
        = combined(context.state.bodies.at(target).shape, compoundOf(toolShapes),
                   context.stringParam(QStringLiteral("op")));
    context.setBody(target, outwardOriented(unifySameDomain(result)));
    if (!context.boolParam(QStringLiteral("keepTools"))) {
        for (const int id : tools)
            context.state.bodies.erase(id);
    }
}

} // namespace qor::model
