#include "features/SplitCombine.h"

#include "features/BodyEditing.h"
#include "features/ShapeOps.h"
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

// The target combined with the tools by op, checked and run in other ways as
// every boolean on a body is; an unknown op joins. Each solid of the tools is
// a tool of its own, so that the kernel intersects overlapping tools with each
// other: it never does so for the solids of one compound, and a join of them
// kept them as solids sharing material. An intersection keeps the target's
// material inside any of the tools, so the tools are united first: with the
// tools apart the kernel's common part falls into solids touching each other.
// A boolean that fails gets the same German messages as the shared boolean
// operation.
TopoDS_Shape combined(const Body& target, const std::vector<TopoDS_Shape>& toolShapes,
                      const QString& op)
{
    TopTools_ListOfShape tools;
    for (const TopoDS_Shape& shape : toolShapes)
        addCutTools(shape, tools);
    if (op == QStringLiteral("intersect")) {
        TopTools_ListOfShape united;
        united.Append(soundFuseAll(std::vector<TopoDS_Shape>(tools.begin(), tools.end())));
        return soundBoolean(BOPAlgo_COMMON, target, united,
                            QStringLiteral("Schneiden fehlgeschlagen"))
            .shape;
    }
    if (op == QStringLiteral("cut"))
        return soundBoolean(BOPAlgo_CUT, target, tools,
                            QStringLiteral("Ausschneiden fehlgeschlagen"))
            .shape;
    return soundBoolean(BOPAlgo_FUSE, target, tools, QStringLiteral("Verbinden fehlgeschlagen"))
        .shape;
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
        refuseMeshBody(context.state, id, QStringLiteral("Teilen fehlgeschlagen"),
                       QStringLiteral("lässt sich nicht teilen"));
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

    const QString op = context.stringParam(QStringLiteral("op"));
    refuseMeshBody(context.state, target, booleanFailure(op), meshBooleanRefusal());
    std::vector<TopoDS_Shape> toolShapes;
    for (const int id : tools) {
        refuseMeshBody(context.state, id, booleanFailure(op), meshBooleanRefusal());
        toolShapes.push_back(context.state.bodies.at(id).shape);
    }

    const TopoDS_Shape result = combined(context.state.bodies.at(target), toolShapes, op);
    context.setBody(target, outwardOriented(unifySameDomain(result)));
    if (!context.boolParam(QStringLiteral("keepTools"))) {
        for (const int id : tools)
            context.state.bodies.erase(id);
    }
}

} // namespace qor::model
