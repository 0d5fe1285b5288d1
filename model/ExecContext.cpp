#include "model/ExecContext.h"

#include "model/ChangedFaces.h"
#include "model/MergedFaceCheck.h"
#include "model/PartSnapshot.h"
#include "model/RecomputeStop.h"
#include "model/TurnedMerge.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_BooleanOperation.hxx>
#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRepLib.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <Geom_Plane.hxx>
#include <Precision.hxx>
#include <ShapeUpgrade_UnifySameDomain.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS.hxx>
#include <gp_Lin.hxx>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qor::model {

bool ExecContext::boolParam(const QString& key) const
{
    const QJsonValue value = feature.params.value(key);
    return value.isBool() && value.toBool();
}

QString ExecContext::stringParam(const QString& key) const
{
    return feature.params.value(key).toString();
}

QJsonArray ExecContext::arrayParam(const QString& key) const
{
    return feature.params.value(key).toArray();
}

double ExecContext::number(const QString& key) const
{
    const QJsonValue value = feature.params.value(key);
    double result = 0.0;
    if (value.isDouble()) {
        result = value.toDouble();
    } else {
        const QString text = value.toString().trimmed();
        if (text.isEmpty())
            return 0.0;
        QString message;
        const EvalResult evaluated = document.tryEval(text, &message);
        if (!evaluated.ok)
            throw FeatureError(QStringLiteral("%1: %2").arg(key, message));
        result = evaluated.value;
    }
    // A division by zero or an overflow must not reach the kernel as a size.
    if (!std::isfinite(result))
        throw FeatureError(QStringLiteral("%1: Ergebnis ist keine endliche Zahl").arg(key));
    if (result != 0.0
        && (std::fabs(result) >= Precision::Infinite()
            || std::fabs(result) < Precision::Confusion()))
        beyondKernelRange = true;
    return result;
}

double ExecContext::angle(const QString& key) const
{
    return number(key);
}

int ExecContext::integer(const QString& key) const
{
    const double rounded = std::round(number(key)); // halves away from zero
    if (rounded < static_cast<double>(std::numeric_limits<int>::min())
        || rounded > static_cast<double>(std::numeric_limits<int>::max()))
        throw FeatureError(QStringLiteral("%1: Zahl außerhalb des zulässigen Bereichs").arg(key));
    return static_cast<int>(rounded);
}

void ExecContext::setBody(int bodyId, const TopoDS_Shape& shape)
{
    const auto it = state.bodies.find(bodyId);
    if (it == state.bodies.end())
        throw FeatureError(QStringLiteral("Körper existiert nicht mehr"));
    if (isEmptyShape(shape))
        throw FeatureError(QStringLiteral("Das Ergebnis wäre leer"));
    it->second.shape = shape;
}

QString numberedBodyName(int number)
{
    return QStringLiteral("Körper %1").arg(number);
}

int addNewBody(ExecContext& context, const TopoDS_Shape& shape, const QString& name)
{
    ModelState& state = context.state;
    const int featureId = context.feature.id;
    // Feature ids come from the file, so the id is counted wide enough not to wrap.
    const auto fits = [](long long v) {
        return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
    };
    long long wide = static_cast<long long>(featureId) * 100;
    // No add yet leaves no body count behind: an add always leaves one body at least.
    if (context.bodiesAfterAdd > 0 && context.bodiesAfterAdd == state.bodies.size())
        wide = std::max(wide, context.nextBodyId);
    while (fits(wide) && state.bodies.count(int(wide)))
        ++wide;
    if (!fits(wide))
        throw FeatureError(QStringLiteral("Körpernummer außerhalb des zulässigen Bereichs"));
    const int id = int(wide);

    Body body;
    body.id = id;
    if (name.isEmpty())
        body.name = numberedBodyName(++state.bodyCounter);
    else
        body.name = name;
    body.shape = shape;
    body.featureId = featureId;
    state.bodies.emplace(id, std::move(body));
    context.nextBodyId = wide + 1;
    context.bodiesAfterAdd = state.bodies.size();
    return id;
}

double shapeVolume(const TopoDS_Shape& shape)
{
    if (shape.IsNull())
        return 0.0;
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props, Standard_False, Standard_False, Standard_False);
    return std::abs(props.Mass());
}

double volumeOfBox(const Bnd_Box& box)
{
    if (box.IsVoid())
        return 0.0;
    double xmin = 0, ymin = 0, zmin = 0, xmax = 0, ymax = 0, zmax = 0;
    box.Get(xmin, ymin, zmin, xmax, ymax, zmax);
    return (xmax - xmin) * (ymax - ymin) * (zmax - zmin);
}

const Bnd_Box& bodyBox(const Body& body)
{
    if (!body.boxShape.IsSame(body.shape) || body.boxShape.IsNull()) {
        body.box.SetVoid();
        if (!body.shape.IsNull())
            BRepBndLib::Add(body.shape, body.box, Standard_True);
        body.boxShape = body.shape;
    }
    return body.box;
}

Bnd_Box modelBox(const ModelState& state)
{
    Bnd_Box box;
    for (const auto& [id, body] : state.bodies.get())
        box.Add(bodyBox(body));
    return box;
}

double throughAllDistance(const ModelState& state, const gp_Pnt& point)
{
    Bnd_Box box;
    for (const auto& [id, body] : state.bodies)
        box.Add(bodyBox(body));
    if (box.IsVoid())
        return 1000.0;
    double xmin = 0, ymin = 0, zmin = 0, xmax = 0, ymax = 0, zmax = 0;
    box.Get(xmin, ymin, zmin, xmax, ymax, zmax);
    double reach = 0.0;
    for (const double x : {xmin, xmax}) {
        for (const double y : {ymin, ymax}) {
            for (const double z : {zmin, zmax})
                reach = std::max(reach, point.Distance(gp_Pnt(x, y, z)));
        }
    }
    return 2.0 * reach + 10.0;
}

bool isPlaneCylinderOrCone(const TopoDS_Shape& face)
{
    const GeomAbs_SurfaceType type = BRepAdaptor_Surface(TopoDS::Face(face), false).GetType();
    return type == GeomAbs_Plane || type == GeomAbs_Cylinder || type == GeomAbs_Cone;
}

bool isElementarySurface(GeomAbs_SurfaceType type)
{
    return type == GeomAbs_Plane || type == GeomAbs_Cylinder || type == GeomAbs_Cone
           || type == GeomAbs_Sphere || type == GeomAbs_Torus;
}

namespace {

// The kernel's merge of faces that touch faces curved both ways can run
// without end (seen with the strips of a bore between the turns of a modelled
// thread, and on a plate with two spheres and three rings cut into it), so
// every edge of such a face is kept as it is.
void keepAroundCurvedBothWays(const TopoDS_Shape& shape, ShapeUpgrade_UnifySameDomain& unify)
{
    std::vector<TopoDS_Shape> curved;
    for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) {
        if (!isPlaneCylinderOrCone(face.Current()))
            curved.push_back(face.Current());
    }
    // Most bodies have none; the map of the whole body would cost more than the search.
    if (curved.empty())
        return;
    TopTools_IndexedDataMapOfShapeListOfShape facesAtVertex;
    TopExp::MapShapesAndAncestors(shape, TopAbs_VERTEX, TopAbs_FACE, facesAtVertex);
    for (const TopoDS_Shape& face : curved) {
        for (TopExp_Explorer vertex(face, TopAbs_VERTEX); vertex.More(); vertex.Next()) {
            for (const TopoDS_Shape& neighbour : facesAtVertex.FindFromKey(vertex.Current())) {
                for (TopExp_Explorer edge(neighbour, TopAbs_EDGE); edge.More(); edge.Next())
                    unify.KeepShape(edge.Current());
            }
        }
    }
}

} // namespace

void storeCurvesOnPlanes(const TopoDS_Shape& shape)
{
    for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) {
        const TopoDS_Face& planar = TopoDS::Face(face.Current());
        // A face of a body read from a mesh file has triangles and no surface.
        const Handle(Geom_Surface) surface = BRep_Tool::Surface(planar);
        if (surface.IsNull() || !surface->IsKind(STANDARD_TYPE(Geom_Plane)))
            continue;
        for (TopExp_Explorer edge(planar, TopAbs_EDGE); edge.More(); edge.Next())
            BRepLib::BuildPCurveForEdgeOnPlane(TopoDS::Edge(edge.Current()), planar);
    }
}

void buildKeepingInputs(BRepAlgoAPI_BooleanOperation& op, const TopoDS_Shape& argument,
                        const TopTools_ListOfShape& tools)
{
    storeCurvesOnPlanes(argument);
    for (const TopoDS_Shape& tool : tools)
        storeCurvesOnPlanes(tool);
    TopTools_ListOfShape arguments;
    arguments.Append(argument);
    op.SetArguments(arguments);
    op.SetTools(tools);
    op.SetNonDestructive(Standard_True);
    buildStoppable(op);
}

void buildKeepingInputs(BRepAlgoAPI_BooleanOperation& op, const TopoDS_Shape& argument,
                        const TopoDS_Shape& tool)
{
    TopTools_ListOfShape tools;
    tools.Append(tool);
    buildKeepingInputs(op, argument, tools);
}

namespace {

// The kernel's merge of the shape, with the edges in `kept` left as they are.
void runMerge(ShapeUpgrade_UnifySameDomain& unify, const TopoDS_Shape& shape,
              const TopTools_MapOfShape& kept)
{
    unify.Initialize(shape, Standard_True, Standard_True, Standard_False);
    unify.AllowInternalEdges(Standard_False);
    keepAroundCurvedBothWays(shape, unify);
    for (TopTools_MapOfShape::Iterator edge(kept); edge.More(); edge.Next())
        unify.KeepShape(edge.Value());
    unify.Build();
}

// Adds to `kept` the edges of the faces that the merge joins into a face the
// kernel's checks reject, so that a merge run again leaves just those faces
// apart and joins the others. False when it finds none to add. The faces are
// checked before the parts the merge wrote into are put back, as they stand
// then: with the same geometry the copies carry afterwards.
bool keepUnsoundMerges(const TopoDS_Shape& shape, TopTools_MapOfShape& kept)
{
    PartSnapshot taken(shape);
    try {
        OCC_CATCH_SIGNALS
        ShapeUpgrade_UnifySameDomain unify;
        runMerge(unify, shape, kept);
        TopTools_ListOfShape given;
        given.Append(shape);
        TopTools_MapOfShape unsound;
        for (const TopoDS_Shape& face : unsoundMergedFaces(changedFaces(unify.Shape(), given)))
            unsound.Add(face);
        bool added = false;
        for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) {
            const TopTools_ListOfShape& images = unify.History()->Modified(face.Current());
            if (!std::any_of(images.begin(), images.end(),
                             [&](const TopoDS_Shape& image) { return unsound.Contains(image); }))
                continue;
            for (TopExp_Explorer edge(face.Current(), TopAbs_EDGE); edge.More(); edge.Next())
                added = kept.Add(edge.Current()) || added;
        }
        taken.putBack();
        return added;
    } catch (...) {
        taken.putBack();
        return false;
    }
}

// Whether the two faces lie on one cylinder or one cone.
bool onOneTurnedSurface(const TopoDS_Face& a, const TopoDS_Face& b)
{
    constexpr double tolerance = 1e-6;
    const BRepAdaptor_Surface sa(a, false);
    const BRepAdaptor_Surface sb(b, false);
    if (sa.GetType() != sb.GetType())
        return false;
    const auto sameAxis = [](const gp_Ax1& p, const gp_Ax1& q) {
        return p.Direction().IsParallel(q.Direction(), tolerance)
               && gp_Lin(p).Distance(q.Location()) < tolerance;
    };
    if (sa.GetType() == GeomAbs_Cylinder)
        return std::abs(sa.Cylinder().Radius() - sb.Cylinder().Radius()) < tolerance
               && sameAxis(sa.Cylinder().Axis(), sb.Cylinder().Axis());
    if (sa.GetType() == GeomAbs_Cone)
        return std::abs(sa.Cone().SemiAngle() - sb.Cone().SemiAngle()) < tolerance
               && sa.Cone().Apex().Distance(sb.Cone().Apex()) < tolerance
               && sameAxis(sa.Cone().Axis(), sb.Cone().Axis());
    return false;
}

// The edges between two faces on one cylinder or one cone that the merge may
// join.
TopTools_MapOfShape edgesWithinTurnedSurfaces(const TopoDS_Shape& shape,
                                              const TopTools_MapOfShape& kept)
{
    TopTools_MapOfShape found;
    TopTools_IndexedDataMapOfShapeListOfShape facesOfEdge;
    TopExp::MapShapesAndUniqueAncestors(shape, TopAbs_EDGE, TopAbs_FACE, facesOfEdge);
    for (int i = 1; i <= facesOfEdge.Extent(); ++i) {
        const TopTools_ListOfShape& faces = facesOfEdge(i);
        if (faces.Extent() == 2 && !kept.Contains(facesOfEdge.FindKey(i))
            && onOneTurnedSurface(TopoDS::Face(faces.First()), TopoDS::Face(faces.Last())))
            found.Add(facesOfEdge.FindKey(i));
    }
    return found;
}

// The kernel's merge of pieces of one cylinder's side (a turned cylinder
// joined to a plate cut by a torus and a box) ran for minutes without end and
// has no way to be stopped: the pieces lay side by side across the line where
// the surface's angle starts again and reached more than a full turn round
// the axis together. Such pieces are kept apart. Whether they are is read
// from the faces, never from how long the merge runs, so that the same
// document gives the same body on every machine at any load.
void keepWhereMergeMayNotEnd(const TopoDS_Shape& shape, TopTools_MapOfShape& kept)
{
    const TopTools_MapOfShape beyond
        = joinsBeyondOneTurn(shape, edgesWithinTurnedSurfaces(shape, kept));
    for (TopTools_MapOfShape::Iterator edge(beyond); edge.More(); edge.Next())
        kept.Add(edge.Value());
}

// Whether the faces the merge changed pass the kernel's checks, or were
// broken before it. Only the faces the merge changed are checked, and of a
// made face only the wires the merge changed and those near them; the
// replaced faces only when the made ones fail.
bool soundMerge(const ChangedFaces& changed)
{
    return mergedFacesSound(changed) || !facesSound(changed.replaced);
}

} // namespace

// A merge must never turn a valid body invalid (seen: a cut through a plate
// merged into a face whose wire crossed itself, and every later join and cut
// of the history failed on it). Where it would, it is run again with the
// faces it joined wrongly left apart, so that the body still has the others
// joined; if the faces cannot be told, the shape stays as it was.
std::optional<SameDomainMerge> mergedSameDomain(const TopoDS_Shape& shape)
{
    if (shape.IsNull())
        return SameDomainMerge{shape, true};
    TopTools_ListOfShape given;
    given.Append(shape);
    TopTools_MapOfShape kept;
    try {
        OCC_CATCH_SIGNALS
        keepWhereMergeMayNotEnd(shape, kept);
    } catch (const Standard_Failure&) {
        return std::nullopt;
    }
    // Faces kept apart so that the merge ends stay apart until a boolean changes them,
    // so the merge is taken as whole without them.
    const int keptForBound = kept.Extent();
    // Each run after the first leaves more faces apart, so a few runs at most.
    for (int run = 0; run < 3; ++run) {
        // The merge writes new curves into edges it keeps, whatever its safe
        // input mode says: in the shape's parts it would change the bodies of
        // earlier states and of the undo history that share them (seen: a valid
        // body of an earlier step turned invalid and lost 364 mm³). What it
        // writes goes onto copies of the parts, and the parts are put back as
        // they were.
        PartSnapshot taken(shape);
        try {
            OCC_CATCH_SIGNALS
            ShapeUpgrade_UnifySameDomain unify;
            runMerge(unify, shape, kept);
            const TopoDS_Shape merged = taken.putBack(unify.Shape());
            const ChangedFaces changed = changedFaces(merged, given);
            if (changed.made.IsEmpty() && changed.replaced.IsEmpty())
                return SameDomainMerge{shape, kept.Extent() == keptForBound};
            if (soundMerge(changed))
                return SameDomainMerge{merged, kept.Extent() == keptForBound};
        } catch (...) {
            taken.putBack();
            return std::nullopt;
        }
        if (!keepUnsoundMerges(shape, kept))
            break;
    }
    return SameDomainMerge{shape, false};
}

TopoDS_Shape unifySameDomain(const TopoDS_Shape& shape)
{
    const std::optional<SameDomainMerge> merge = mergedSameDomain(shape);
    return merge ? merge->shape : shape;
}

} // namespace qor::model
