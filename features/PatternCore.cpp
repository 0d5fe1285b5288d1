#include "features/PatternCore.h"

#include "expr/Format.h"
#include "features/BodyEditing.h"
#include "features/ShapeOps.h"
#include "io/MeshFaces.h"
#include "model/ExecContext.h"
#include "model/References.h"
#include "sketch/Plane.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <Precision.hxx>
#include <gp_Ax2.hxx>
#include <gp_Ax3.hxx>

#include <QJsonObject>

#include <algorithm>

namespace qor::model {

namespace {

// Copies one recompute may make in all. Each pattern keeps within its own count
// of instances, but a pattern of a pattern multiplies the counts, and millions
// of bodies hold the window for minutes and take gigabytes.
constexpr std::size_t maxCopies = 10000;

// A shape without solids (a sheet) is still one copy.
std::size_t solidCount(const TopoDS_Shape& shape)
{
    return std::max<std::size_t>(1, solidsOf(shape).size());
}

// Counts the copies against the document's bound before any is made. Copies
// that cut or intersect make no body of their own and are told as copies.
void reserveCopies(ExecContext& context, std::size_t copies, bool makeBodies)
{
    const std::size_t total = context.state.copies + copies;
    if (total > maxCopies) {
        const QString what
            = makeBodies ? QStringLiteral("Zu viele Körper") : QStringLiteral("Zu viele Kopien");
        throw FeatureError(
            QStringLiteral("%1: mit diesem Muster entstünden %2 Kopien im Dokument (max. %3)")
                .arg(what, germanCount(total), germanCount(maxCopies)));
    }
    context.state.copies = total;
}

// Rigid motions keep a solid's orientation; only a reflection can leave a copy
// inside out.
TopoDS_Shape movedCopy(const TopoDS_Shape& shape, const gp_Trsf& trsf)
{
    const TopoDS_Shape copy = transformShape(shape, trsf);
    return trsf.IsNegative() ? outwardOriented(copy) : copy;
}

Bnd_Box boxOf(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box, Standard_False);
    return box;
}

// Whether any two boxes meet. Sorted by their lower x, each box is compared
// only with those that start before it ends.
bool anyBoxesMeet(std::vector<Bnd_Box> boxes)
{
    std::sort(boxes.begin(), boxes.end(), [](const Bnd_Box& a, const Bnd_Box& b) {
        return a.CornerMin().X() < b.CornerMin().X();
    });
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const double end = boxes[i].CornerMax().X();
        for (std::size_t j = i + 1; j < boxes.size() && boxes[j].CornerMin().X() <= end; ++j) {
            if (!boxes[i].IsOut(boxes[j]))
                return true;
        }
    }
    return false;
}

// The booleans never intersect the solids of one argument with each other: where
// two solids of a compound tool overlap or touch, a join would leave both. Such
// solids are fused first; disjoint ones stay a plain compound, which one boolean
// handles however many copies it holds.
TopoDS_Shape disjointTool(const TopoDS_Shape& whole, const std::vector<Bnd_Box>& boxes)
{
    return anyBoxesMeet(boxes) ? fuseAll(solidsOf(whole)) : whole;
}

TopoDS_Shape soundSourceTool(const TopoDS_Shape& tool)
{
    std::vector<Bnd_Box> boxes;
    for (const TopoDS_Shape& solid : solidsOf(tool))
        boxes.push_back(boxOf(solid));
    return disjointTool(tool, boxes);
}

// All copies of the recorded tool as one compound. A cut takes each member as a
// tool of its own and so removes overlapping copies' union as it is; for any other
// boolean the copies are made disjoint, their boxes being the source box moved so
// that no copy is measured again.
TopoDS_Shape copiedTool(const TopoDS_Shape& recorded, const std::vector<gp_Trsf>& transforms,
                        bool cut)
{
    const TopoDS_Shape tool = cut ? recorded : soundSourceTool(recorded);
    std::vector<TopoDS_Shape> copies;
    for (const gp_Trsf& trsf : transforms)
        copies.push_back(movedCopy(tool, trsf));
    if (cut)
        return compoundOf(copies);
    const Bnd_Box toolBox = boxOf(tool);
    std::vector<Bnd_Box> boxes;
    for (const gp_Trsf& trsf : transforms)
        boxes.push_back(toolBox.Transformed(trsf));
    return disjointTool(compoundOf(copies), boxes);
}

// Whether two placements put a copy in the same place: the same translation within
// the modelling tolerance and the same linear part within the angular one.
bool samePlacement(const gp_Trsf& a, const gp_Trsf& b)
{
    if (!a.TranslationPart().IsEqual(b.TranslationPart(), Precision::Confusion()))
        return false;
    const gp_Mat ma = a.VectorialPart();
    const gp_Mat mb = b.VectorialPart();
    for (int row = 1; row <= 3; ++row)
        for (int column = 1; column <= 3; ++column)
            if (std::abs(ma(row, column) - mb(row, column)) > Precision::Angular())
                return false;
    return true;
}

// Each placement once, in the order of first appearance, leaving out `skip` if
// given. A copy that lands where an earlier one is adds nothing to a boolean's
// result, while the kernel's booleans on coincident tools cost much: a zero
// spacing stacks every copy of a pattern on one place.
std::vector<gp_Trsf> distinctPlacements(const std::vector<gp_Trsf>& transforms,
                                        const gp_Trsf* skip = nullptr)
{
    std::vector<gp_Trsf> distinct;
    for (const gp_Trsf& trsf : transforms) {
        const auto same = [&trsf](const gp_Trsf& other) { return samePlacement(trsf, other); };
        if ((skip && same(*skip)) || std::any_of(distinct.begin(), distinct.end(), same))
            continue;
        distinct.push_back(trsf);
    }
    return distinct;
}

int sourceFeatureId(const QJsonValue& element)
{
    if (element.isObject())
        return element.toObject().value(QStringLiteral("id")).toInt();
    return element.toInt();
}

void copyThreadMarks(ExecContext& context, int sourceId, const std::vector<gp_Trsf>& transforms)
{
    std::vector<ThreadMark> copies;
    for (const ThreadMark& mark : context.state.threads) {
        if (mark.featureId != sourceId)
            continue;
        for (const gp_Trsf& trsf : transforms) {
            ThreadMark copy = mark;
            copy.position.Transform(trsf);
            copy.direction.Transform(trsf);
            copy.featureId = context.feature.id;
            copies.push_back(copy);
        }
    }
    context.state.threads.insert(context.state.threads.end(), copies.begin(), copies.end());
}

// The placements whose copy of the tool may reach one of the bodies: the given
// targets, or any body when there are none to search among. A cut or an
// intersection with a copy beyond every body's box changes no body. Left out
// here, such a copy costs a box test, not the shape check and repair that
// every tool goes through before its boolean: for copies far off those take
// long, and at coordinates of 1e30 they widen the copy's tolerances until it
// seems to reach the bodies after all.
std::vector<gp_Trsf> placementsInReach(const ModelState& state, const TopoDS_Shape& tool,
                                       const std::vector<gp_Trsf>& transforms,
                                       const std::vector<int>& targets)
{
    std::vector<int> bodies = targets;
    if (bodies.empty()) {
        for (const auto& [id, body] : state.bodies) {
            if (!body.shape.IsNull())
                bodies.push_back(id);
        }
    }
    const Bnd_Box toolBox = boxOf(tool);
    std::vector<gp_Trsf> reaching;
    for (const gp_Trsf& trsf : transforms) {
        const Bnd_Box box = toolBox.Transformed(trsf);
        if (std::any_of(bodies.begin(), bodies.end(),
                        [&](int id) { return !outOfReach(state, id, state.bodies.at(id), box); }))
            reaching.push_back(trsf);
    }
    return reaching;
}

void repeatFeatures(ExecContext& context, const std::vector<gp_Trsf>& transforms)
{
    const QJsonArray features = context.arrayParam(QStringLiteral("features"));
    if (features.isEmpty())
        throw FeatureError(QStringLiteral("Features zum Vervielfältigen auswählen"));
    for (const QJsonValue& element : features) {
        const int sourceId = sourceFeatureId(element);
        const auto found = context.state.tools.find(sourceId);
        if (found == context.state.tools.end())
            throw FeatureError(QStringLiteral(
                "Feature liefert keinen Werkzeugkörper (nur Extrusion, Rotation, Bohrung …)"));
        const ToolRecord source = found->second;
        // Copies of a new body belong to it.
        const bool made = source.op.isEmpty() || source.op == QStringLiteral("new");
        const QString op = made ? QStringLiteral("join") : source.op;
        reserveCopies(context, solidCount(source.shape) * transforms.size(),
                      op == QStringLiteral("join"));
        const bool cut = op == QStringLiteral("cut");
        std::vector<int> targets;
        for (const int id : source.targets) {
            if (context.state.bodies.count(id))
                targets.push_back(id);
        }
        copyThreadMarks(context, sourceId, transforms);
        // A joined copy adds material wherever it lies.
        const std::vector<gp_Trsf> reaching
            = op == QStringLiteral("join")
                  ? transforms
                  : placementsInReach(context.state, source.shape, transforms, targets);
        if (reaching.size() == transforms.size()) {
            applyBoolean(context, copiedTool(source.shape, transforms, cut), op, targets);
            continue;
        }
        // The feature's record keeps every copy, for a pattern of it to move.
        const TopoDS_Shape all = copiedTool(source.shape, transforms, cut);
        if (reaching.empty() && cut) {
            context.state.tools[context.feature.id] = ToolRecord{all, op, targets};
            context.feature.warning = noBodyWarning();
            continue;
        }
        // An intersection that reaches nothing fails or warns as one copy of it does.
        const std::vector<gp_Trsf> applied
            = reaching.empty() ? std::vector<gp_Trsf>{transforms.front()} : reaching;
        applyBoolean(context, copiedTool(source.shape, applied, cut), op, targets);
        context.state.tools[context.feature.id].shape = all;
    }
}

void repeatBodies(ExecContext& context, const std::vector<gp_Trsf>& transforms)
{
    const bool join = context.boolParam(QStringLiteral("join"));
    // Joined, a copy on the original or on another copy changes nothing; added as
    // bodies of their own, stacked copies stay separate bodies.
    const gp_Trsf identity;
    const std::vector<gp_Trsf> placements
        = join ? distinctPlacements(transforms, &identity) : transforms;
    // A body picked twice is still copied once, not its copies again.
    const std::vector<int> picked = selectedBodiesOnce(context, QStringLiteral("bodies"));
    std::size_t copies = 0;
    for (const int id : picked)
        copies += solidCount(context.state.bodies.at(id).shape) * placements.size();
    reserveCopies(context, copies, true);
    for (const int id : picked) {
        const TopoDS_Shape original = context.state.bodies.at(id).shape;
        std::vector<TopoDS_Shape> copies;
        for (const gp_Trsf& trsf : placements)
            copies.push_back(movedCopy(original, trsf));
        if (join) {
            copies.insert(copies.begin(), original);
            // Triangles cannot be united: a body read from a mesh file takes
            // its copies in as they lie.
            context.setBody(id,
                            io::isMeshOnly(original) ? compoundOf(copies) : soundFuseAll(copies));
        } else {
            for (const TopoDS_Shape& copy : copies)
                addNewBody(context, copy);
        }
    }
}

} // namespace

void patternFeature(ExecContext& context, const std::vector<gp_Trsf>& transforms)
{
    if (context.stringParam(QStringLiteral("source")) == QStringLiteral("bodies"))
        repeatBodies(context, transforms);
    else
        // A copy on the original's own place is kept once: features after the source
        // may have changed the body there, and that copy applies the source again.
        repeatFeatures(context, distinctPlacements(transforms));
}

void execMirror(ExecContext& context)
{
    const gp_Ax3 plane = resolvePlaneRef(context, QStringLiteral("plane"));
    gp_Trsf mirror;
    mirror.SetMirror(gp_Ax2(plane.Location(), plane.Direction()));
    patternFeature(context, {mirror});
}

} // namespace qor::model
