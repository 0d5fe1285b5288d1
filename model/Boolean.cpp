#include "model/ExecContext.h"

#include <BRepAlgoAPI_Common.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBndLib.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <Bnd_Box.hxx>
#include <ShapeFix_Shape.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Iterator.hxx>

#include <algorithm>

namespace qor::model {
namespace {

TopoDS_Shape repaired(const TopoDS_Shape& tool)
{
    BRepCheck_Analyzer analyzer(tool, Standard_True);
    if (analyzer.IsValid())
        return tool;
    ShapeFix_Shape fix(tool);
    fix.Perform();
    return fix.Shape();
}

// Bodies whose box meets the tool's, in id order; the boxes only pre-select,
// so a body the tool misses comes through the boolean unchanged.
std::vector<int> bodiesNear(const ModelState& state, const TopoDS_Shape& tool)
{
    Bnd_Box toolBox;
    BRepBndLib::Add(tool, toolBox, Standard_True);
    std::vector<int> found;
    for (const auto& [id, body] : state.bodies) {
        if (body.shape.IsNull())
            continue;
        Bnd_Box box;
        BRepBndLib::Add(body.shape, box, Standard_True);
        box.Enlarge(1e-6);
        if (!box.IsOut(toolBox))
            found.push_back(id);
    }
    return found;
}

// Ids that name an existing body, each once, in list order: a stale or
// repeated id must not reach the fuse as a missing or doubled argument.
std::vector<int> existingOnce(const ModelState& state, const std::vector<int>& ids)
{
    std::vector<int> result;
    for (const int id : ids) {
        if (state.bodies.count(id) && std::find(result.begin(), result.end(), id) == result.end())
            result.push_back(id);
    }
    return result;
}

std::vector<int> join(ExecContext& context, const TopoDS_Shape& tool,
                      const std::vector<int>& targets)
{
    ModelState& state = context.state;
    const int first = targets.front();
    TopTools_ListOfShape arguments;
    arguments.Append(state.bodies.at(first).shape);
    TopTools_ListOfShape tools;
    tools.Append(tool);
    for (std::size_t i = 1; i < targets.size(); ++i)
        tools.Append(state.bodies.at(targets[i]).shape);

    BRepAlgoAPI_Fuse fuse;
    fuse.SetArguments(arguments);
    fuse.SetTools(tools);
    fuse.SetRunParallel(Standard_True);
    fuse.Build();
    // A union never loses material: an empty result means the kernel failed, and
    // storing it would wipe out the bodies it was meant to grow.
    if (!fuse.IsDone() || isEmptyShape(fuse.Shape()))
        throw FeatureError(QStringLiteral("Verbinden fehlgeschlagen"));

    state.bodies.at(first).shape = unifySameDomain(fuse.Shape());
    for (std::size_t i = 1; i < targets.size(); ++i)
        state.bodies.erase(targets[i]);
    return {first};
}

// The members of a compound tool, each a tool of its own: the kernel intersects
// separate tools with each other but never the solids inside one compound, so
// overlapping members of one compound would cut nothing where they overlap.
void addSeparately(const TopoDS_Shape& tool, TopTools_ListOfShape& tools)
{
    if (tool.ShapeType() != TopAbs_COMPOUND) {
        tools.Append(tool);
        return;
    }
    for (TopoDS_Iterator it(tool); it.More(); it.Next())
        addSeparately(it.Value(), tools);
}

std::vector<int> cutOrIntersect(ExecContext& context, const TopoDS_Shape& tool, bool cut,
                                const std::vector<int>& targets)
{
    ModelState& state = context.state;
    std::vector<int> changed;
    for (const int id : targets) {
        const auto it = state.bodies.find(id);
        TopoDS_Shape result;
        if (cut) {
            TopTools_ListOfShape arguments;
            arguments.Append(it->second.shape);
            TopTools_ListOfShape tools;
            addSeparately(tool, tools);
            BRepAlgoAPI_Cut op;
            op.SetArguments(arguments);
            op.SetTools(tools);
            op.SetRunParallel(Standard_True);
            op.Build();
            if (!op.IsDone())
                throw FeatureError(QStringLiteral("Ausschneiden fehlgeschlagen"));
            result = op.Shape();
        } else {
            BRepAlgoAPI_Common op(it->second.shape, tool);
            if (!op.IsDone())
                throw FeatureError(QStringLiteral("Schneiden fehlgeschlagen"));
            result = op.Shape();
        }
        if (isEmptyShape(result)) {
            if (!cut)
                throw FeatureError(
                    QStringLiteral("Kein gemeinsamer Bereich – das Ergebnis wäre leer"));
            state.bodies.erase(it);
            continue;
        }
        it->second.shape = unifySameDomain(result);
        changed.push_back(id);
    }
    return changed;
}

} // namespace

std::vector<int> applyBoolean(ExecContext& context, const TopoDS_Shape& tool, const QString& op,
                              std::vector<int> targets)
{
    if (isEmptyShape(tool))
        throw FeatureError(QStringLiteral("Das Feature erzeugt keine Geometrie"));
    const TopoDS_Shape shape = repaired(tool);
    ToolRecord& record = context.state.tools[context.feature.id];
    record = ToolRecord{shape, op, targets};

    if (op.isEmpty() || op == QLatin1String("new"))
        return {addNewBody(context, shape)};

    if (targets.empty()) {
        targets = bodiesNear(context.state, shape);
        record.targets = targets;
    }
    targets = existingOnce(context.state, targets);
    if (op == QLatin1String("join")) {
        if (targets.empty())
            return {addNewBody(context, shape)};
        return join(context, shape, targets);
    }
    if (targets.empty()) {
        context.feature.warning = QStringLiteral("Kein Körper im Wirkbereich");
        return {};
    }
    return cutOrIntersect(context, shape, op == QLatin1String("cut"), targets);
}

} // namespace qor::model
