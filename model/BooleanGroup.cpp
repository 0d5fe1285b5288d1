#include "model/BooleanGroup.h"

#include "model/ExecContext.h"
#include "model/FaceRays.h"
#include "model/RecomputeStop.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBndLib.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <memory>
#include <optional>

namespace qor::model {
namespace {

// Reference kinds that name sketches, work geometry or whole bodies; faces,
// edges and vertices are read from a body's shape.
bool bodyFreeKind(const QString& kind)
{
    static const QStringList kinds{QString(),
                                   QStringLiteral("origin"),
                                   QStringLiteral("sketch"),
                                   QStringLiteral("region"),
                                   QStringLiteral("feature"),
                                   QStringLiteral("sketchline"),
                                   QStringLiteral("body")};
    return kinds.contains(kind);
}

bool readsBodyGeometry(const QJsonValue& value)
{
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        return std::any_of(array.begin(), array.end(),
                           [](const QJsonValue& v) { return readsBodyGeometry(v); });
    }
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    if (!bodyFreeKind(object.value(QLatin1String("kind")).toString()))
        return true;
    return std::any_of(object.begin(), object.end(),
                       [](const QJsonValue& v) { return readsBodyGeometry(v); });
}

// Whether faces of the tool bound the cut's result where the body's own faces
// do not: there the cut took material away. A tool that only meets the body
// along its existing faces (a bore drilled again) removed nothing. The group's
// cuts do not touch each other's boxes, so no other cut can have taken that
// material first.
bool removesMaterial(BRepAlgoAPI_Cut& cut, const TopTools_MapOfShape& bodyFaces,
                     const TopoDS_Shape& tool)
{
    for (TopExp_Explorer face(tool, TopAbs_FACE); face.More(); face.Next()) {
        if (cut.IsDeleted(face.Current()))
            continue;
        const TopTools_ListOfShape& images = cut.Modified(face.Current());
        if (images.IsEmpty() && !bodyFaces.Contains(face.Current()))
            return true;
        for (const TopoDS_Shape& image : images) {
            if (!bodyFaces.Contains(image))
                return true;
        }
    }
    return false;
}

// The images of the body's faces in the cut's result.
TopTools_MapOfShape bodyImages(BRepAlgoAPI_Cut& cut, const TopoDS_Shape& body)
{
    TopTools_MapOfShape images;
    for (TopExp_Explorer face(body, TopAbs_FACE); face.More(); face.Next()) {
        if (cut.IsDeleted(face.Current()))
            continue;
        const TopTools_ListOfShape& modified = cut.Modified(face.Current());
        if (modified.IsEmpty())
            images.Add(face.Current());
        for (const TopoDS_Shape& image : modified)
            images.Add(image);
    }
    return images;
}

struct Fused {
    std::optional<TopoDS_Shape> shape;
    std::optional<std::size_t> untouched; // the first watched join the fuse left alone
};

// Whether the fuse split, merged or dropped a face of the tool: the tool met
// the body or another tool.
bool touched(BRepAlgoAPI_Fuse& fuse, const TopoDS_Shape& tool)
{
    for (TopExp_Explorer face(tool, TopAbs_FACE); face.More(); face.Next()) {
        if (fuse.IsDeleted(face.Current()) || !fuse.Modified(face.Current()).IsEmpty())
            return true;
    }
    return false;
}

// Whether a change of volume lies between nothing and the volume of the tools'
// boxes, within the rounding of measuring it: a join never lowers the volume,
// a cut never raises it, and neither moves it by more than its tools hold.
bool plausibleGain(double gain, double toolBoxes, const TopoDS_Shape& body)
{
    // The same rounding on both sides, as one boolean at a time allows it.
    const double slack = 1e-6 * std::max(1.0, toolBoxes) + changeMeasureSlack(shapeBox(body));
    return gain >= -slack && gain <= toolBoxes + slack;
}

// The volume of the boxes: measuring the tools themselves cost a tenth of a
// long history's recompute.
double boxVolume(const std::vector<const Bnd_Box*>& boxes)
{
    double volume = 0.0;
    for (const Bnd_Box* box : boxes)
        volume += volumeOfBox(*box);
    return volume;
}

// The result merged where merging could change it, as one boolean at a time
// merges; none when the merge fails or leaves faces apart (one by one, the
// next boolean would merge the body whole again).
std::optional<TopoDS_Shape> mergedAsAlone(const TopoDS_Shape& result, const TopoDS_Shape& before,
                                          bool beforeMerged)
{
    if (beforeMerged && !mayMergeAfter(result, before))
        return result;
    const std::optional<SameDomainMerge> merge = mergedSameDomain(result);
    if (!merge || !merge->whole)
        return std::nullopt;
    return merge->shape;
}

// `watched`: joins (index, tool) that found their body by the group's box
// after a cut; the cut may have shrunk the body's real box, so a join that
// touches nothing must decide on its own whether it makes a new body. No
// shape when the merge fails, the volume gained is implausible for the
// tools' boxes or the fuse is no whole body.
Fused fused(const TopoDS_Shape& body, const TopTools_ListOfShape& tools,
            const std::vector<const Bnd_Box*>& boxes, bool bodyMerged,
            const std::vector<std::pair<std::size_t, const TopoDS_Shape*>>& watched)
{
    TopTools_ListOfShape arguments;
    arguments.Append(body);
    BRepAlgoAPI_Fuse fuse;
    fuse.SetArguments(arguments);
    fuse.SetTools(tools);
    fuse.SetRunParallel(Standard_True);
    fuse.SetNonDestructive(Standard_True);
    storeCurvesOnPlanes(body);
    for (const TopoDS_Shape& tool : tools)
        storeCurvesOnPlanes(tool);
    fuse.SetToFillHistory(watched.empty() ? Standard_False : Standard_True);
    buildStoppable(fuse);
    if (!fuse.IsDone() || isEmptyShape(fuse.Shape()))
        return {};
    for (const auto& [index, tool] : watched) {
        if (!touched(fuse, *tool))
            return {std::nullopt, index};
    }
    const double gain = volumeChange(body, fuse.Shape());
    if (!plausibleGain(gain, boxVolume(boxes), body)
        || !wholeAndRight(BOPAlgo_FUSE, body, tools, fuse.Shape(), gain))
        return {};
    return {mergedAsAlone(fuse.Shape(), body, bodyMerged), std::nullopt};
}

struct Evaluated {
    std::optional<TopoDS_Shape> shape;
    // Without a shape: the cut that removed nothing or the join that touched
    // nothing; none when the kernel failed.
    std::optional<std::size_t> blamed;
};

// The body after the first `count` booleans of the group: one fuse, one merge,
// one cut, one merge. No shape when a cut removed no material, a join watched
// touched nothing, the kernel failed, a merge failed (one by one, faces merged
// before the failing tool came would stay merged), the volume moved the wrong
// way or by more than the tools hold, or a boolean's result is no whole body:
// one boolean at a time may give another body then.
Evaluated evaluate(const BooleanGroup& group, std::size_t count)
{
    TopTools_ListOfShape joins;
    TopTools_ListOfShape cutTools;
    std::vector<std::size_t> cuts;
    std::vector<std::pair<std::size_t, const TopoDS_Shape*>> watched;
    std::vector<const Bnd_Box*> joinBoxes;
    std::vector<const Bnd_Box*> cutBoxes;
    for (std::size_t k = 0; k < count; ++k) {
        const WaitingBoolean& op = group.ops[k];
        if (op.cut) {
            addCutTools(op.tool, cutTools);
            cuts.push_back(k);
            cutBoxes.push_back(&op.box);
        } else {
            joins.Append(op.tool);
            joinBoxes.push_back(&op.box);
            if (op.foundAfterCut)
                watched.emplace_back(k, &op.tool);
        }
    }
    try {
        OCC_CATCH_SIGNALS
        TopoDS_Shape shape = group.base;
        bool merged = group.baseMerged;
        if (!joins.IsEmpty()) {
            const Fused joined = fused(shape, joins, joinBoxes, merged, watched);
            if (!joined.shape)
                return {std::nullopt, joined.untouched};
            shape = *joined.shape;
            merged = true;
        }
        if (!cuts.empty()) {
            TopTools_ListOfShape arguments;
            arguments.Append(shape);
            BRepAlgoAPI_Cut cut;
            cut.SetArguments(arguments);
            cut.SetTools(cutTools);
            cut.SetRunParallel(Standard_True);
            cut.SetNonDestructive(Standard_True);
            storeCurvesOnPlanes(shape);
            for (const TopoDS_Shape& tool : cutTools)
                storeCurvesOnPlanes(tool);
            cut.SetToFillHistory(Standard_True);
            buildStoppable(cut);
            // A body the cuts consume disappears; that is left to the one-by-one path.
            if (!cut.IsDone() || isEmptyShape(cut.Shape()))
                return {};
            const TopTools_MapOfShape bodyFaces = bodyImages(cut, shape);
            for (const std::size_t k : cuts) {
                if (!removesMaterial(cut, bodyFaces, group.ops[k].tool))
                    return {std::nullopt, k};
            }
            const double gain = volumeChange(shape, cut.Shape());
            if (!plausibleGain(-gain, boxVolume(cutBoxes), shape)
                || !wholeAndRight(BOPAlgo_CUT, shape, cutTools, cut.Shape(), gain))
                return {};
            const std::optional<TopoDS_Shape> result = mergedAsAlone(cut.Shape(), shape, merged);
            if (!result)
                return {};
            shape = *result;
        }
        return {shape, std::nullopt};
    } catch (const Standard_Failure&) {
        return {};
    }
}

// What a feature's booleans said when run on their own.
struct AloneOutcome {
    QString error;
    QString warning;
};

// The waiting booleans of one feature, ops[first, end), run on their own by
// applyBoolean as the recompute runs a feature that may not wait; on failure
// the state is left as it was before them, as the recompute leaves it.
AloneOutcome runAlone(Document& document, ModelState& state, const BooleanGroup& group,
                      std::size_t first, std::size_t end)
{
    const Feature& feature = *document.features.at(std::size_t(group.ops[first].featureIndex));
    // The feature's own texts may come from its executor; only what the
    // booleans say is compared with them.
    Feature alone;
    alone.id = feature.id;
    alone.type = feature.type;
    ExecContext context{document, alone, state};
    const ModelState before = state;
    try {
        OCC_CATCH_SIGNALS
        for (std::size_t k = first; k < end; ++k) {
            const WaitingBoolean& op = group.ops[k];
            const auto record = std::as_const(state).tools.find(feature.id);
            std::vector<int> targets;
            if (!op.searched && record != std::as_const(state).tools.end())
                targets = record->second.targets;
            applyBoolean(context, op.tool, op.cut ? QStringLiteral("cut") : QStringLiteral("join"),
                         targets);
        }
        return {QString(), alone.warning};
    } catch (const FeatureError& e) {
        state = before;
        return {QString::fromUtf8(e.what()), QString()};
    } catch (const Standard_Failure& e) {
        state = before;
        return {geometryErrorText(e), QString()};
    }
}

// `merged`: whether the shape is known to be merged whole.
void setSettled(ModelState& state, const TopoDS_Shape& shape, bool merged = true)
{
    const int id = state.group->bodyId;
    state.group.reset();
    state.groupOps = 0;
    if (const auto it = state.bodies.find(id); it != state.bodies.end()) {
        it->second.shape = shape;
        it->second.unified = merged ? shape : TopoDS_Shape();
    }
}

} // namespace

void addCutTools(const TopoDS_Shape& tool, TopTools_ListOfShape& tools)
{
    if (tool.ShapeType() != TopAbs_COMPOUND) {
        tools.Append(tool);
        return;
    }
    for (TopoDS_Iterator it(tool); it.More(); it.Next())
        addCutTools(it.Value(), tools);
}

bool settlesAlike(const TopoDS_Shape& tool)
{
    for (TopExp_Explorer face(tool, TopAbs_FACE); face.More(); face.Next()) {
        if (!isPlaneCylinderOrCone(face.Current()))
            return false;
    }
    return true;
}

std::vector<Bnd_Box> unlikeFaceBoxes(const TopoDS_Shape& body)
{
    std::vector<Bnd_Box> boxes;
    for (TopExp_Explorer face(body, TopAbs_FACE); face.More(); face.Next()) {
        if (isPlaneCylinderOrCone(face.Current()))
            continue;
        // The face's kept record: a body's faces go on to the rule's probes.
        Bnd_Box box = faceRays(TopoDS::Face(face.Current()))->box();
        box.Enlarge(1e-6);
        boxes.push_back(box);
    }
    return boxes;
}

bool mayRunGrouped(const Feature& feature)
{
    static const QStringList types{QStringLiteral("sketch"),       QStringLiteral("plane"),
                                   QStringLiteral("axis"),         QStringLiteral("extrude"),
                                   QStringLiteral("revolve"),      QStringLiteral("box"),
                                   QStringLiteral("cylinder"),     QStringLiteral("sphere"),
                                   QStringLiteral("torus"),        QStringLiteral("hole"),
                                   QStringLiteral("pattern_rect"), QStringLiteral("pattern_circ"),
                                   QStringLiteral("pattern_path"), QStringLiteral("mirror")};
    if (!types.contains(feature.type))
        return false;
    const QJsonObject& p = feature.params;
    if (std::any_of(p.begin(), p.end(), [](const QJsonValue& v) { return readsBodyGeometry(v); }))
        return false;
    // Through-all extents are sized from the bodies' boxes.
    const QString extent = p.value(QLatin1String("extent")).toString();
    if (extent == QLatin1String("all") || extent == QLatin1String("allboth"))
        return false;
    // Thread lengths and the groove check measure the body.
    if (feature.type == QLatin1String("hole")
        && p.value(QLatin1String("fit")).toString() == QLatin1String("threaded"))
        return false;
    // Copies of bodies read the bodies.
    return p.value(QLatin1String("source")).toString() != QLatin1String("bodies");
}

Bnd_Box groupReach(const ModelState& state)
{
    Bnd_Box reach = bodyBox(state.bodies.at(state.group->bodyId));
    for (std::size_t k = 0; k < state.groupOps; ++k) {
        if (!state.group->ops[k].cut)
            reach.Add(state.group->ops[k].box);
    }
    return reach;
}

int waitInGroup(ExecContext& context, const TopoDS_Shape& tool, bool cut,
                const std::vector<int>& targets, bool searched)
{
    // A tool the kernel may settle into another body each time runs on its
    // own, where its result is checked and run again.
    if (targets.size() != 1 || !settlesAlike(tool))
        throw GroupBreak{};
    ModelState& state = context.state;
    const int target = targets.front();
    Bnd_Box box;
    BRepBndLib::Add(tool, box, Standard_True);
    if (state.group) {
        if (state.group->bodyId != target)
            throw GroupBreak{};
        // Tools that meet or touch each other (a feature mirrored twice lands
        // on the copy before) are fused one after the other.
        for (std::size_t k = 0; k < state.groupOps; ++k) {
            if (!state.group->ops[k].box.IsOut(box))
                throw GroupBreak{};
        }
        // A state from an earlier run continues with booleans of its own;
        // the states that share the group keep theirs.
        if (state.group->ops.size() != state.groupOps) {
            auto copy = std::make_shared<BooleanGroup>();
            copy->bodyId = state.group->bodyId;
            copy->base = state.group->base;
            copy->baseMerged = state.group->baseMerged;
            copy->unlikeFaces = state.group->unlikeFaces;
            copy->sound = state.group->sound;
            copy->ops.assign(state.group->ops.begin(),
                             state.group->ops.begin() + std::ptrdiff_t(state.groupOps));
            for (const auto& [count, shape] : state.group->results) {
                if (count <= state.groupOps)
                    copy->results.emplace(count, shape);
            }
            state.group = std::move(copy);
        }
    } else {
        const Body& body = std::as_const(state).bodies.at(target);
        auto group = std::make_shared<BooleanGroup>();
        group->bodyId = target;
        group->base = body.shape;
        group->baseMerged = !body.unified.IsNull() && body.unified.IsSame(body.shape);
        group->unlikeFaces = unlikeFaceBoxes(body.shape);
        state.group = std::move(group);
        state.groupOps = 0;
    }
    const auto& unlike = state.group->unlikeFaces;
    if (std::any_of(unlike.begin(), unlike.end(),
                    [&](const Bnd_Box& face) { return !face.IsOut(box); }))
        throw GroupBreak{};
    // Past a check the group failed its booleans run on their own.
    if (state.groupOps >= state.group->sound)
        throw GroupBreak{};
    const auto& ops = state.group->ops;
    const bool afterCut = std::any_of(ops.begin(), ops.begin() + std::ptrdiff_t(state.groupOps),
                                      [](const WaitingBoolean& op) { return op.cut; });
    state.group->ops.push_back(
        WaitingBoolean{tool, box, cut, context.groupIndex, searched, searched && !cut && afterCut});
    ++state.groupOps;
    return target;
}

SettleOutcome settleChecked(ModelState& state)
{
    if (!state.group)
        return {};
    BooleanGroup& group = *state.group;
    const std::size_t count = state.groupOps;
    if (const auto known = group.results.find(count); known != group.results.end()) {
        setSettled(state, known->second);
        return {};
    }
    const Evaluated evaluated = evaluate(group, count);
    if (!evaluated.shape) {
        group.sound = std::min(group.sound, evaluated.blamed.value_or(0));
        return {false, evaluated.blamed};
    }
    group.results.emplace(count, *evaluated.shape);
    setSettled(state, *evaluated.shape);
    return {};
}

void settleState(Document& document, ModelState& state)
{
    if (!state.group)
        return;
    BooleanGroup& group = *state.group;
    const std::size_t count = state.groupOps;
    if (const auto known = group.results.find(count); known != group.results.end()) {
        setSettled(state, known->second);
        return;
    }
    std::optional<TopoDS_Shape> shape = evaluate(group, count).shape;
    if (shape) {
        group.results.emplace(count, *shape);
        setSettled(state, *shape);
        return;
    }
    // The group is held here: the state lets go of it to run its booleans.
    const std::shared_ptr<BooleanGroup> held = state.group;
    setSettled(state, group.base, group.baseMerged);
    for (std::size_t first = 0; first < count;) {
        std::size_t end = first + 1;
        while (end < count && group.ops[end].featureIndex == group.ops[first].featureIndex)
            ++end;
        const AloneOutcome said = runAlone(document, state, group, first, end);
        Feature& feature = *document.features.at(std::size_t(group.ops[first].featureIndex));
        const bool newError = !said.error.isEmpty() && feature.error != said.error;
        const bool newWarning = !said.warning.isEmpty() && feature.warning != said.warning;
        if (newError || newWarning) {
            // The group's result made the recompute pass over what the
            // feature says on its own.
            if (newError)
                feature.error = said.error;
            else
                feature.warning = said.warning;
            group.sound = std::min(group.sound, first);
        }
        first = end;
    }
}

} // namespace qor::model
