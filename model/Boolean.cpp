#include "model/ExecContext.h"

#include "model/BooleanGroup.h"
#include "model/BooleanWays.h"

#include "io/MeshFaces.h"
#include "model/ChangedFaces.h"
#include "model/EnclosedVolume.h"
#include "model/EnclosingShells.h"
#include "model/FaceRays.h"
#include "model/MergedFaceCheck.h"
#include "model/RecomputeStop.h"
#include "model/RightResult.h"
#include "model/ShapeValidity.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_BooleanOperation.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <NCollection_DataMap.hxx>
#include <ShapeFix_Shape.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopTools_OrientedShapeMapHasher.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <gp_Trsf.hxx>

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <utility>

namespace qor::model {
namespace {

Bnd_Box toolBoxOf(const TopoDS_Shape& tool)
{
    Bnd_Box box;
    BRepBndLib::Add(tool, box, Standard_True);
    return box;
}

TopoDS_Shape repaired(const TopoDS_Shape& tool)
{
    if (validShape(tool))
        return tool;
    ShapeFix_Shape fix(tool);
    fix.Perform();
    return fix.Shape();
}

// Loose on purpose: a pair that might merge sends the body through the full merge.
constexpr double mergeTolerance = 1e-4;

// Whether the two adjacent faces might lie on one surface. Only coplanar planes
// are told apart for sure; free-form faces may be planes in disguise.
bool facesMayMerge(const TopoDS_Face& a, const TopoDS_Face& b)
{
    const BRepAdaptor_Surface sa(a, false);
    const BRepAdaptor_Surface sb(b, false);
    if (!isElementarySurface(sa.GetType()) || !isElementarySurface(sb.GetType()))
        return true;
    if (sa.GetType() != sb.GetType())
        return false;
    if (sa.GetType() != GeomAbs_Plane)
        return true;
    const gp_Pln pa = sa.Plane();
    const gp_Pln pb = sb.Plane();
    return pa.Axis().Direction().IsParallel(pb.Axis().Direction(), mergeTolerance)
           && pa.Distance(pb.Location()) < mergeTolerance;
}

// Whether the two edges meeting at a vertex of their own might lie on one curve.
bool edgesMayMerge(const TopoDS_Edge& a, const TopoDS_Edge& b)
{
    if (BRep_Tool::Degenerated(a) || BRep_Tool::Degenerated(b))
        return true;
    const BRepAdaptor_Curve ca(a);
    const BRepAdaptor_Curve cb(b);
    const auto known = [](GeomAbs_CurveType t) { return t == GeomAbs_Line || t == GeomAbs_Circle; };
    if (!known(ca.GetType()) || !known(cb.GetType()))
        return true;
    if (ca.GetType() != cb.GetType())
        return false;
    if (ca.GetType() != GeomAbs_Line)
        return true;
    return ca.Line().Direction().IsParallel(cb.Line().Direction(), mergeTolerance);
}

// Whether merging same-domain faces and edges could change the boolean's
// result. The targets must be merged already; then only a face the boolean
// made can have a partner across an edge, and only a vertex joining exactly
// two edges can be dropped. Merging the whole body after each boolean costs
// as much as the boolean itself on a long history.
bool newFacesMayMerge(const TopoDS_Shape& result, const TopTools_IndexedMapOfShape& oldFaces)
{
    try {
        OCC_CATCH_SIGNALS
        TopTools_IndexedDataMapOfShapeListOfShape facesOfEdge;
        TopExp::MapShapesAndUniqueAncestors(result, TopAbs_EDGE, TopAbs_FACE, facesOfEdge);
        for (TopExp_Explorer face(result, TopAbs_FACE); face.More(); face.Next()) {
            if (oldFaces.Contains(face.Current()))
                continue;
            for (TopExp_Explorer edge(face.Current(), TopAbs_EDGE); edge.More(); edge.Next()) {
                for (const TopoDS_Shape& other : facesOfEdge.FindFromKey(edge.Current())) {
                    if (!other.IsSame(face.Current())
                        && facesMayMerge(TopoDS::Face(face.Current()), TopoDS::Face(other)))
                        return true;
                }
            }
        }
        TopTools_IndexedDataMapOfShapeListOfShape edgesOfVertex;
        TopExp::MapShapesAndUniqueAncestors(result, TopAbs_VERTEX, TopAbs_EDGE, edgesOfVertex);
        for (int i = 1; i <= edgesOfVertex.Extent(); ++i) {
            const TopTools_ListOfShape& edges = edgesOfVertex(i);
            if (edges.Extent() == 2
                && edgesMayMerge(TopoDS::Edge(edges.First()), TopoDS::Edge(edges.Last())))
                return true;
        }
        return false;
    } catch (const Standard_Failure&) {
        return true;
    }
}

bool mayMerge(const TopoDS_Shape& result, const std::vector<const Body*>& targets)
{
    TopTools_IndexedMapOfShape oldFaces;
    for (const Body* body : targets) {
        if (body->unified.IsNull() || !body->unified.IsSame(body->shape))
            return true;
        TopExp::MapShapes(body->shape, TopAbs_FACE, oldFaces);
    }
    return newFacesMayMerge(result, oldFaces);
}

// The boolean's result merged where it has to be, marked as merged when the
// merge was taken whole. A body whose merge failed or left faces apart is
// merged whole again by the next boolean: marked, its faces would stay apart
// for good, as only the faces a boolean makes are looked at then.
void storeMerged(Body& body, const TopoDS_Shape& result, const std::vector<const Body*>& targets)
{
    if (!mayMerge(result, targets)) {
        body.shape = result;
        body.unified = result;
        return;
    }
    const std::optional<SameDomainMerge> merge = mergedSameDomain(result);
    body.shape = merge ? merge->shape : result;
    body.unified = merge && merge->whole ? body.shape : TopoDS_Shape();
}

} // namespace

bool outOfReach(const ModelState& state, int id, const Body& body, const Bnd_Box& toolBox)
{
    Bnd_Box box = state.group && state.group->bodyId == id ? groupReach(state) : bodyBox(body);
    box.Enlarge(1e-6);
    return box.IsOut(toolBox);
}

namespace {

// Bodies whose box meets the tool's, in id order; the boxes only pre-select,
// so a body the tool misses comes through the boolean unchanged.
std::vector<int> bodiesNear(const ModelState& state, const Bnd_Box& toolBox)
{
    std::vector<int> found;
    for (const auto& [id, body] : state.bodies) {
        if (!body.shape.IsNull() && !outOfReach(state, id, body, toolBox))
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

// The product of the body box's sides: a bound on any volume inside it, which
// sizes the rounding allowed in measuring a change of it.
double boxVolume(const Body& body)
{
    return volumeOfBox(bodyBox(body));
}

// The ways a boolean is run, in the order they are tried: as usual, leaving
// its inputs alone; on copies of the inputs, which the kernel may then write
// into as it settles tolerances; with a fuzzy tolerance far below any
// modelling size, which lets it settle faces that nearly coincide; on copies
// of the geometry as well; with finer and coarser fuzzy tolerances; with the
// tools' surfaces as B-splines, which the kernel intersects by other means;
// and with tools a tenth of a micrometre larger, which moves faces that
// coincide apart. Of the unsound results in random histories, the copies mended most
// and the fuzzy tolerance the rest; a smaller tolerance and the arguments
// swapped mended none. Of the whole but wrong results, a cut the kernel
// emptied was right on copies of the geometry, and a cut it left unchanged
// was right with a fuzzy tolerance of 1e-6 or 1e-4 or a larger tool; a torus
// with a small hole that no other way joined to a plate was joined as a
// B-spline.
enum class Way {
    Usual,
    OnCopies,
    Fuzzy,
    OnGeometryCopies,
    FineFuzzy,
    CoarseFuzzy,
    SplineTools,
    LargerTools
};
constexpr Way ways[] = {Way::Usual,     Way::OnCopies,    Way::Fuzzy,       Way::OnGeometryCopies,
                        Way::FineFuzzy, Way::CoarseFuzzy, Way::SplineTools, Way::LargerTools};

constexpr double laterWaysSeconds = 10.0;

TopoDS_Shape topologyCopy(const TopoDS_Shape& shape)
{
    return BRepBuilderAPI_Copy(shape, Standard_False, Standard_False).Shape();
}

TopoDS_Shape geometryCopy(const TopoDS_Shape& shape)
{
    return BRepBuilderAPI_Copy(shape, Standard_True, Standard_False).Shape();
}

// The tool scaled about its box's centre so that its faces move out by about
// a tenth of a micrometre.
TopoDS_Shape larger(const TopoDS_Shape& tool)
{
    const Bnd_Box box = toolBoxOf(tool);
    if (box.IsVoid())
        return tool;
    const double halfDiagonal = 0.5 * std::sqrt(box.SquareExtent());
    if (!(halfDiagonal > 0.0))
        return tool;
    double xmin = 0, ymin = 0, zmin = 0, xmax = 0, ymax = 0, zmax = 0;
    box.Get(xmin, ymin, zmin, xmax, ymax, zmax);
    gp_Trsf scale;
    scale.SetScale(gp_Pnt((xmin + xmax) / 2, (ymin + ymax) / 2, (zmin + zmax) / 2),
                   1.0 + 1e-4 / halfDiagonal);
    return BRepBuilderAPI_Transform(tool, scale, Standard_True).Shape();
}

double fuzzyValueOf(Way way)
{
    switch (way) {
    case Way::Fuzzy: return 1e-5;
    case Way::FineFuzzy: return 1e-6;
    case Way::CoarseFuzzy: return 1e-4;
    default: return 0.0;
    }
}

// One run of the kernel's boolean; none when the kernel failed.
std::optional<TopoDS_Shape> runKernelBoolean(BOPAlgo_Operation operation, const TopoDS_Shape& body,
                                             const TopTools_ListOfShape& tools, Way way)
{
    BRepAlgoAPI_BooleanOperation op;
    op.SetOperation(operation);
    op.SetRunParallel(way == Way::Usual ? Standard_True : Standard_False);
    if (way == Way::OnCopies || way == Way::OnGeometryCopies) {
        const auto copy = way == Way::OnCopies ? topologyCopy : geometryCopy;
        TopTools_ListOfShape arguments;
        arguments.Append(copy(body));
        TopTools_ListOfShape copies;
        for (const TopoDS_Shape& tool : tools)
            copies.Append(copy(tool));
        op.SetArguments(arguments);
        op.SetTools(copies);
        buildStoppable(op);
    } else if (way == Way::LargerTools || way == Way::SplineTools) {
        TopTools_ListOfShape changed;
        for (const TopoDS_Shape& tool : tools)
            changed.Append(way == Way::LargerTools
                               ? larger(tool)
                               : BRepBuilderAPI_NurbsConvert(tool, Standard_True).Shape());
        buildKeepingInputs(op, body, changed);
    } else {
        if (fuzzyValueOf(way) > 0.0)
            op.SetFuzzyValue(fuzzyValueOf(way));
        buildKeepingInputs(op, body, tools);
    }
    if (!op.IsDone())
        return std::nullopt;
    return op.Shape();
}

// The same; none when the kernel failed or threw, so that the next way is tried.
std::optional<TopoDS_Shape> runBoolean(BOPAlgo_Operation operation, const TopoDS_Shape& body,
                                       const TopTools_ListOfShape& tools, Way way)
{
    // A stopped recompute is thrown away: the ways left need not run.
    if (recomputeStopped())
        return std::nullopt;
    try {
        OCC_CATCH_SIGNALS
        return runKernelBoolean(operation, body, tools, way);
    } catch (const Standard_Failure&) {
        return std::nullopt;
    }
}

// The volume of the tools' boxes: a bound on what a union can add, measured
// without the tools' exact volumes.
double toolBoxesVolume(const TopTools_ListOfShape& tools)
{
    double volume = 0.0;
    for (const TopoDS_Shape& tool : tools)
        volume += volumeOfBox(toolBoxOf(tool));
    return volume;
}

// How the volume moved against what the boolean allows: a union never loses
// material nor gains more than its tools hold, a cut or a common part never
// gains any. Each within the rounding of measuring the change.
enum class VolumeMove { Allowed, Lost, GainedBeyondTools, Gained };

// `error`: the bound of the error of the measured change, beyond that rounding.
VolumeMove volumeMove(BOPAlgo_Operation operation, const Body& body,
                      const TopTools_ListOfShape& tools, double change, double error)
{
    // Seen: a cylinder joined wholly inside a body of 0.55 dm³ measured 0.015 mm³
    // less in every way, the body unchanged as it should be.
    const double slack = changeMeasureSlack(bodyBox(body)) + error;
    if (operation != BOPAlgo_FUSE)
        return change <= slack ? VolumeMove::Allowed : VolumeMove::Gained;
    if (change < -slack)
        return VolumeMove::Lost;
    const double toolsHold = toolBoxesVolume(tools);
    const double measured = 1e-6 * std::max(1.0, toolsHold) + slack;
    return change <= toolsHold + measured ? VolumeMove::Allowed : VolumeMove::GainedBeyondTools;
}

// The move as the quick measure of the change tells it, and where that fails
// the bound, as the change measured precisely tells it: the quick measure
// misjudges faces of tori and cones.
VolumeMove measuredMove(BOPAlgo_Operation operation, const Body& body,
                        const TopTools_ListOfShape& tools, const TopoDS_Shape& result,
                        double change)
{
    const VolumeMove quick = volumeMove(operation, body, tools, change, 0.0);
    if (quick == VolumeMove::Allowed)
        return quick;
    const BoundedVolume precise = preciseVolumeChange(body.shape, result);
    return volumeMove(operation, body, tools, precise.volume, precise.error);
}

// Why a result is refused: it is no whole body, a whole one whose volume
// moved as the boolean cannot move it, or one the evidence shows wrong.
struct Refusal {
    bool broken = true;
    VolumeMove move = VolumeMove::Allowed;
    std::optional<WrongResult> wrong;
};

// See wholeResult.
bool wholeWhereChanged(const ChangedFaces& changed, const TopoDS_Shape& result)
{
    return mergedFacesSound(changed) && shellsAndSolidsValid(result);
}

} // namespace

bool wholeResult(const TopoDS_Shape& result, const TopTools_ListOfShape& inputs)
{
    return wholeWhereChanged(changedFaces(result, inputs), result);
}

bool wholeAndRight(BOPAlgo_Operation operation, const TopoDS_Shape& body,
                   const TopTools_ListOfShape& tools, const TopoDS_Shape& result, double change)
{
    TopTools_ListOfShape inputs = tools;
    inputs.Prepend(body);
    const ChangedFaces changed = changedFaces(result, inputs);
    return wholeWhereChanged(changed, result)
           && !wrongResult(operation, body, tools, result, changed, change);
}

namespace {

// Whether the body was broken already where the boolean changed it, or above
// its faces, or held a shell that encloses nothing: then the boolean cannot
// be blamed for a broken result.
bool brokenBefore(const Body& body, const ChangedFaces& changed)
{
    return !facesSound(changed.replaced) || !shellsAndSolidsValid(body.shape)
           || shellFaultOfSolids(body.shape);
}

// None when the result is accepted: it is whole, its volume moved as the
// boolean allows, and the evidence of sample points, solids and volumes agrees
// with it (see wrongResult), for every kind of tool (a 4 mm pocket, a
// cylinder, once left a shell open as well as a sphere did). An empty result
// is whole, and right only when the tools enclose the body. A body broken
// before is not held to it.
std::optional<Refusal> refusalOf(BOPAlgo_Operation operation, const Body& body,
                                 const TopTools_ListOfShape& tools, const TopoDS_Shape& result,
                                 double change)
{
    TopTools_ListOfShape inputs = tools;
    inputs.Prepend(body.shape);
    const ChangedFaces changed = changedFaces(result, inputs);
    const bool empty = isEmptyShape(result);
    const bool whole = empty || wholeWhereChanged(changed, result);
    // A broken result is refused as such, whatever its volume.
    const VolumeMove move = whole && !empty ? measuredMove(operation, body, tools, result, change)
                                            : VolumeMove::Allowed;
    std::optional<WrongResult> wrong;
    if (whole && move == VolumeMove::Allowed) {
        wrong = wrongResult(operation, body.shape, tools, result, changed, change);
        if (!wrong)
            return std::nullopt;
    }
    if (brokenBefore(body, changed))
        return std::nullopt;
    return Refusal{!whole, move, wrong};
}

// The box two boxes share; void where they share none.
Bnd_Box commonBox(const Bnd_Box& a, const Bnd_Box& b)
{
    Bnd_Box common;
    if (a.IsVoid() || b.IsVoid() || a.IsOut(b))
        return common;
    double ax0 = 0, ay0 = 0, az0 = 0, ax1 = 0, ay1 = 0, az1 = 0;
    double bx0 = 0, by0 = 0, bz0 = 0, bx1 = 0, by1 = 0, bz1 = 0;
    a.Get(ax0, ay0, az0, ax1, ay1, az1);
    b.Get(bx0, by0, bz0, bx1, by1, bz1);
    common.Update(std::max(ax0, bx0), std::max(ay0, by0), std::max(az0, bz0), std::min(ax1, bx1),
                  std::min(ay1, by1), std::min(az1, bz1));
    return common;
}

// The most material the body's solids can hold twice (a body read from a
// file as overlapping solids), which a join that merges them rightly loses:
// two solids share no more than their boxes do, nor than the smaller holds.
double heldTwiceAtMost(const TopoDS_Shape& body)
{
    std::vector<Bnd_Box> boxes;
    std::vector<double> volumes;
    for (TopExp_Explorer solid(body, TopAbs_SOLID); solid.More(); solid.Next()) {
        boxes.push_back(shapeBox(solid.Current()));
        volumes.push_back(shapeVolume(solid.Current()));
    }
    double twice = 0.0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        for (std::size_t j = i + 1; j < boxes.size(); ++j)
            twice += std::min({volumeOfBox(commonBox(boxes[i], boxes[j])), volumes[i], volumes[j]});
    }
    return twice;
}

// The reason given to the user: a whole body whose volume moved the wrong way
// is no broken body, and a join that would leave a tenth of the part is best
// told as such. A join that loses more than the body's solids can hold twice
// removed nothing: the kernel built no body a join can give, in any way
// (seen: a ring joined to a body of three solids dropped one of 0.2 dm³ in
// every way but one, which left its solids overlapping).
QString refusalText(const Refusal& refusal, const Body& body, double change)
{
    if (refusal.broken)
        return QStringLiteral("das Ergebnis wäre kein gültiger Körper");
    if (refusal.wrong)
        return wrongResultText(*refusal.wrong);
    switch (refusal.move) {
    case VolumeMove::Lost:
        if (-change > heldTwiceAtMost(body.shape) + changeMeasureSlack(bodyBox(body)))
            return QStringLiteral("der Körper ließ sich auf keinem Rechenweg gültig bilden");
        return -change > 0.5 * shapeVolume(body.shape)
                   ? QStringLiteral("das Ergebnis verlöre den größten Teil des Körpervolumens")
                   : QStringLiteral("das Ergebnis wäre kleiner als der Körper");
    case VolumeMove::GainedBeyondTools:
        return QStringLiteral("das Ergebnis wäre größer als Körper und Werkzeug zusammen");
    default: return QStringLiteral("das Ergebnis wäre größer als der Körper");
    }
}

// Whether a shell of the solid is closed and has a face that bounds material. A
// solid may carry beside it faces turned INTERNAL or an open shell (a sheet
// inside it): they bound nothing, but neither do they take its material away.
bool holdsMaterial(const TopoDS_Shape& solid)
{
    for (TopExp_Explorer shell(solid, TopAbs_SHELL); shell.More(); shell.Next()) {
        if (!BRep_Tool::IsClosed(shell.Current()))
            continue;
        for (TopExp_Explorer face(shell.Current(), TopAbs_FACE); face.More(); face.Next()) {
            const TopAbs_Orientation side = face.Current().Orientation();
            if (side == TopAbs_FORWARD || side == TopAbs_REVERSED)
                return true;
        }
    }
    return false;
}

// Faces that enclose nothing (an IGES body whose faces do not close) leave the kernel
// nothing to join or cut: the reason of a boolean that fails with such a body or tool.
QString openBodyReason(const Body& body, const TopTools_ListOfShape& tools)
{
    const auto open = [](const TopoDS_Shape& shape) {
        if (shape.IsNull() || !TopExp_Explorer(shape, TopAbs_FACE).More() || io::isMeshOnly(shape))
            return false;
        for (TopExp_Explorer solid(shape, TopAbs_SOLID); solid.More(); solid.Next()) {
            if (holdsMaterial(solid.Current()))
                return false;
        }
        return true;
    };
    const QString faces = QStringLiteral("hat kein geschlossenes Volumen, nur Flächen");
    if (open(body.shape))
        return body.name.isEmpty() ? QStringLiteral("der Körper ") + faces
                                   : QStringLiteral("„%1“ %2").arg(body.name, faces);
    for (const TopoDS_Shape& tool : tools) {
        if (open(tool))
            return QStringLiteral("das Werkzeug ") + faces;
    }
    return {};
}

// The failure with the reason when there is one.
QString failureText(const QString& failure, const QString& reason)
{
    return reason.isEmpty() ? failure : failure + QStringLiteral(": ") + reason;
}

} // namespace

BooleanResult soundBoolean(BOPAlgo_Operation operation, const Body& body,
                           const TopTools_ListOfShape& tools, const QString& failure)
{
    // The reason of the first way refused, unless a later way gave a whole
    // body refused for its volume or as wrong by the evidence: that tells more.
    QString reason;
    bool volumeReason = false;
    // A way the kernel fails on goes to the next way as well (seen: boxes
    // standing on their side and a torus joined to a plate that the usual way
    // could not fuse). The ways after the fuzzy one start only while the
    // boolean has used less than laterWaysSeconds of CPU: a big cut that took
    // the kernel most of a minute and gave a wrong body is refused rather
    // than run five more times.
    const std::clock_t start = std::clock();
    for (const Way way : ways) {
        const double spent = double(std::clock() - start) / CLOCKS_PER_SEC;
        if (way > Way::Fuzzy && spent > laterWaysSeconds)
            break;
        const std::optional<TopoDS_Shape> result = runBoolean(operation, body.shape, tools, way);
        if (!result)
            continue;
        const double change
            = isEmptyShape(*result) ? -shapeVolume(body.shape) : volumeChange(body.shape, *result);
        const std::optional<Refusal> refusal = refusalOf(operation, body, tools, *result, change);
        if (!refusal)
            return {*result, change};
        if (reason.isEmpty() || (!volumeReason && !refusal->broken)) {
            reason = refusalText(*refusal, body, change);
            volumeReason = !refusal->broken;
        }
    }
    // Faces that enclose nothing tell more than what the kernel made of them.
    const QString open = openBodyReason(body, tools);
    throw FeatureError(failureText(failure, open.isEmpty() ? reason : open));
}

std::vector<std::optional<TopoDS_Shape>> resultsOfEveryWay(BOPAlgo_Operation operation,
                                                           const TopoDS_Shape& body,
                                                           const TopTools_ListOfShape& tools)
{
    std::vector<std::optional<TopoDS_Shape>> results;
    for (const Way way : ways)
        results.push_back(runBoolean(operation, body, tools, way));
    return results;
}

TopoDS_Shape soundBoolean(BOPAlgo_Operation operation, const TopoDS_Shape& argument,
                          const TopoDS_Shape& tool, const QString& failure)
{
    Body body;
    body.shape = argument;
    TopTools_ListOfShape tools;
    if (operation == BOPAlgo_CUT)
        addCutTools(tool, tools);
    else
        tools.Append(tool);
    return soundBoolean(operation, body, tools, failure).shape;
}

namespace {

std::vector<int> join(ExecContext& context, const TopoDS_Shape& tool,
                      const std::vector<int>& targets)
{
    ModelState& state = context.state;
    const int first = targets.front();
    // A chosen body of faces that enclose nothing is named as itself: the
    // kernel's failure would otherwise be told of the tool.
    for (const int id : targets) {
        const QString open = openBodyReason(state.bodies.at(id), TopTools_ListOfShape());
        if (!open.isEmpty())
            throw FeatureError(failureText(QStringLiteral("Verbinden fehlgeschlagen"), open));
    }
    TopTools_ListOfShape tools;
    tools.Append(tool);
    for (std::size_t i = 1; i < targets.size(); ++i)
        tools.Append(state.bodies.at(targets[i]).shape);

    const TopoDS_Shape result = soundBoolean(BOPAlgo_FUSE, state.bodies.at(first), tools,
                                             QStringLiteral("Verbinden fehlgeschlagen"))
                                    .shape;
    // A union never loses material: an empty result means the kernel failed, and
    // storing it would wipe out the bodies it was meant to grow.
    if (isEmptyShape(result))
        throw FeatureError(failureText(QStringLiteral("Verbinden fehlgeschlagen"),
                                       openBodyReason(state.bodies.at(first), tools)));

    std::vector<const Body*> merged;
    for (const int id : targets)
        merged.push_back(&std::as_const(state).bodies.at(id));
    storeMerged(state.bodies.at(first), result, merged);
    for (std::size_t i = 1; i < targets.size(); ++i)
        state.bodies.erase(targets[i]);
    return {first};
}

QString noCommonPart()
{
    return QStringLiteral("Kein gemeinsamer Bereich – das Ergebnis wäre leer");
}

// Occurrences of oriented faces: +1 for each in the shape after, -1 before.
using FaceBalance = NCollection_DataMap<TopoDS_Shape, int, TopTools_OrientedShapeMapHasher>;

void countFaces(FaceBalance& balance, const TopoDS_Shape& shape, int sign)
{
    for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) {
        if (int* count = balance.ChangeSeek(face.Current()))
            *count += sign;
        else
            balance.Bind(face.Current(), sign);
    }
}

} // namespace

bool mayMergeAfter(const TopoDS_Shape& result, const TopoDS_Shape& merged)
{
    TopTools_IndexedMapOfShape oldFaces;
    TopExp::MapShapes(merged, TopAbs_FACE, oldFaces);
    return newFacesMayMerge(result, oldFaces);
}

// Faces both shapes share cancel exactly, so only the faces the boolean
// changed are measured, however large the body. The lost faces go in reversed
// beside the gained ones: together they bound the change, so measured about one
// point they give its volume (each set alone would depend on the point).
TopoDS_Compound changeBoundary(const TopoDS_Shape& before, const TopoDS_Shape& after)
{
    FaceBalance balance;
    countFaces(balance, after, 1);
    countFaces(balance, before, -1);
    BRep_Builder builder;
    TopoDS_Compound changed;
    builder.MakeCompound(changed);
    for (FaceBalance::Iterator it(balance); it.More(); it.Next()) {
        const TopoDS_Shape face = it.Value() > 0 ? it.Key() : it.Key().Reversed();
        for (int k = 0; k < std::abs(it.Value()); ++k)
            builder.Add(changed, face);
    }
    return changed;
}

double volumeChange(const TopoDS_Shape& before, const TopoDS_Shape& after)
{
    return enclosedVolume(changeBoundary(before, after));
}

BoundedVolume preciseVolumeChange(const TopoDS_Shape& before, const TopoDS_Shape& after)
{
    return preciselyEnclosedVolume(changeBoundary(before, after));
}

double changeMeasureSlack(const Bnd_Box& bodyBox)
{
    return 1e-7 * volumeOfBox(bodyBox);
}

namespace {

// True when the cut left the volume the same within 1e-9 of itself (at least
// 1e-9 mm³). The whole volume is measured only when the change is too small to
// tell from the body's box. `gain`: the volume `after` holds more than `before`.
bool removedNothing(const Body& before, const TopoDS_Shape& after, double gain)
{
    constexpr double relative = 1e-9;
    if (before.shape.IsSame(after))
        return true;
    const double change = std::abs(gain);
    if (change <= relative)
        return true;
    if (change > relative * std::max(1.0, boxVolume(before)))
        return false;
    return change <= relative * std::max(1.0, shapeVolume(before.shape));
}

// The warning followed by the note on bodies set aside, when there is one.
QString withNote(const QString& warning, const QString& note)
{
    return note.isEmpty() ? warning : warning + QStringLiteral("; ") + note;
}

// `unchanged`: the note on bodies the target search set aside (see setAside).
std::vector<int> cutOrIntersect(ExecContext& context, const TopoDS_Shape& tool, bool cut,
                                const std::vector<int>& targets, const QString& unchanged)
{
    ModelState& state = context.state;
    const Bnd_Box toolBox = toolBoxOf(tool);
    std::vector<int> changed;
    bool removed = false;
    for (const int id : targets) {
        const auto it = state.bodies.find(id);
        // Boxes apart decide without the kernel, whose booleans on far-off
        // tools take long and then change nothing.
        if (outOfReach(state, id, it->second, toolBox)) {
            if (!cut)
                throw FeatureError(noCommonPart());
            changed.push_back(id);
            continue;
        }
        TopTools_ListOfShape tools;
        if (cut)
            addCutTools(tool, tools);
        else
            tools.Append(tool);
        const QString failure = cut ? QStringLiteral("Ausschneiden fehlgeschlagen")
                                    : QStringLiteral("Schneiden fehlgeschlagen");
        // Faces that enclose nothing hold no material to take away or keep: the kernel would
        // trim the faces themselves, and the join names the reason as well.
        if (const QString open = openBodyReason(it->second, tools); !open.isEmpty())
            throw FeatureError(failureText(failure, open));
        const auto [result, change]
            = soundBoolean(cut ? BOPAlgo_CUT : BOPAlgo_COMMON, it->second, tools, failure);
        if (isEmptyShape(result)) {
            if (!cut)
                throw FeatureError(noCommonPart());
            state.bodies.erase(it);
            removed = true;
            continue;
        }
        // A body the cut leaves as it was keeps its shape: the boolean's copy
        // of it would only renumber its faces.
        if (cut && removedNothing(it->second, result, change)) {
            changed.push_back(id);
            continue;
        }
        storeMerged(it->second, result, {&it->second});
        changed.push_back(id);
        removed = true;
    }
    // A cut that takes nothing away (a hole drilled into an existing bore) is
    // as much a mistake as one that reaches no body.
    if (cut && !removed)
        context.feature.warning = withNote(noBodyWarning(), unchanged);
    else if (!unchanged.isEmpty())
        context.feature.warning = unchanged;
    return changed;
}

// Why the tool has nothing to take away from the body or keep of it: it is only
// triangles, or faces that enclose no volume; empty when it holds material.
QString nothingToCut(const Body& body)
{
    if (io::isMeshOnly(body.shape))
        return QStringLiteral("Netzkörper");
    if (!openBodyReason(body, TopTools_ListOfShape()).isEmpty())
        return QStringLiteral("nur Flächen");
    return {};
}

// Takes the bodies the tool cannot join, cut or intersect out of targets that
// the box search found, and returns the warning that names them („offen“ blieb
// unverändert: nur Flächen"). The search only looks at boxes, so the user never
// asked for them; one of them failing the whole boolean would leave the bodies
// that can be changed unchanged. When none is left, targets is empty: the tool
// reached no body it can change.
QString setAside(const ModelState& state, std::vector<int>& targets)
{
    std::vector<int> kept;
    QStringList notes;
    for (const int id : targets) {
        const Body& body = state.bodies.at(id);
        const QString reason = nothingToCut(body);
        if (reason.isEmpty()) {
            kept.push_back(id);
            continue;
        }
        const QString name = body.name.isEmpty() ? QStringLiteral("Ein Körper")
                                                 : QStringLiteral("„%1“").arg(body.name);
        notes << QStringLiteral("%1 blieb unverändert: %2").arg(name, reason);
    }
    targets = std::move(kept);
    return notes.join(QStringLiteral("; "));
}

void refuseMeshBodies(const ModelState& state, const std::vector<int>& targets,
                      const TopoDS_Shape& tool, const QString& op)
{
    for (const int id : targets)
        refuseMeshBody(state, id, booleanFailure(op), meshBooleanRefusal());
    if (io::isMeshOnly(tool))
        throw FeatureError(QStringLiteral("%1: das Werkzeug ist ein Netzkörper aus einem Import "
                                          "(nur Dreiecke) und %2")
                               .arg(booleanFailure(op), meshBooleanRefusal()));
}

} // namespace

std::vector<int> applyBoolean(ExecContext& context, const TopoDS_Shape& tool, const QString& op,
                              std::vector<int> targets)
{
    if (isEmptyShape(tool))
        throw FeatureError(QStringLiteral("Das Feature erzeugt keine Geometrie"));
    const bool grouped = context.groupIndex >= 0;
    const bool joining = op == QLatin1String("join");
    const bool cutting = op == QLatin1String("cut");
    // A cut out of reach of all its given targets leaves them as they are,
    // grouped or not. The boxes tell so before the tool is checked and
    // repaired, which for copies far off takes long, and before any boolean.
    if (cutting && !targets.empty()) {
        const std::vector<int> given = existingOnce(context.state, targets);
        const Bnd_Box toolBox = toolBoxOf(tool);
        const auto missed = [&](int id) {
            return outOfReach(context.state, id, context.state.bodies.at(id), toolBox);
        };
        if (!given.empty() && std::all_of(given.begin(), given.end(), missed)) {
            context.state.tools[context.feature.id] = ToolRecord{tool, op, targets};
            context.feature.warning = noBodyWarning();
            return given;
        }
    }
    const TopoDS_Shape shape = repaired(tool);
    context.state.tools[context.feature.id] = ToolRecord{shape, op, targets};

    if (op.isEmpty() || op == QLatin1String("new"))
        return {addNewBody(context, shape)};
    if (grouped && !joining && !cutting)
        throw GroupBreak{};

    const bool searched = targets.empty();
    QString unchanged;
    if (searched) {
        targets = bodiesNear(context.state, toolBoxOf(shape));
        unchanged = setAside(context.state, targets);
        // Patterns of the feature re-apply its tool to these as chosen targets:
        // a body set aside must not become one.
        context.state.tools[context.feature.id].targets = targets;
    }
    targets = existingOnce(context.state, targets);
    refuseMeshBodies(context.state, targets, shape, op);
    if (joining && targets.empty()) {
        if (!unchanged.isEmpty())
            context.feature.warning = unchanged;
        return {addNewBody(context, shape)};
    }
    if (targets.empty()) {
        context.feature.warning = withNote(noBodyWarning(), unchanged);
        return {};
    }
    if (grouped) {
        // The note stays when the group settles; run alone, the cut says the same.
        if (!unchanged.isEmpty())
            context.feature.warning = unchanged;
        return {waitInGroup(context, shape, cutting, targets, searched)};
    }
    if (joining) {
        if (!unchanged.isEmpty())
            context.feature.warning = unchanged;
        return join(context, shape, targets);
    }
    return cutOrIntersect(context, shape, cutting, targets, unchanged);
}

void refuseMeshBody(const ModelState& state, int bodyId, const QString& failure,
                    const QString& cannot)
{
    const auto it = state.bodies.find(bodyId);
    if (it == state.bodies.end() || !io::isMeshOnly(it->second.shape))
        return;
    throw FeatureError(
        QStringLiteral("%1: „%2“ ist ein Netzkörper aus einem Import (nur Dreiecke) und %3")
            .arg(failure, it->second.name, cannot));
}

QString booleanFailure(const QString& op)
{
    if (op == QLatin1String("join"))
        return QStringLiteral("Verbinden fehlgeschlagen");
    if (op == QLatin1String("cut"))
        return QStringLiteral("Ausschneiden fehlgeschlagen");
    return QStringLiteral("Schneiden fehlgeschlagen");
}

QString meshBooleanRefusal()
{
    return QStringLiteral("lässt sich weder verbinden noch ausschneiden noch verschneiden");
}

QString noBodyWarning()
{
    return QStringLiteral("Kein Körper im Wirkbereich");
}

} // namespace qor::model
