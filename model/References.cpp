#include "model/References.h"

#include "model/ShapeSignature.h"
#include "sketch/Plane.h"

#include <QJsonArray>

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRep_Builder.hxx>
#include <ShapeAnalysis_FreeBounds.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_HSequenceOfShape.hxx>
#include <TopoDS.hxx>

#include <cmath>
#include <map>

namespace qor::model {

namespace {

QString kindOf(const QJsonObject& reference)
{
    return reference.value(QLatin1String("kind")).toString();
}

int intMember(const QJsonObject& object, const char* key, int fallback = 0)
{
    return object.value(QLatin1String(key)).toInt(fallback);
}

QJsonObject objectParam(const ExecContext& context, const QString& key)
{
    return context.feature.params.value(key).toObject();
}

// A sketch feature's placed sketch; null when the state has none or it lost its sketch.
const SketchResult* findSketchResult(const ModelState& state, int featureId)
{
    const auto it = state.sketches.find(featureId);
    if (it == state.sketches.end() || !it->second.sketch)
        return nullptr;
    return &it->second;
}

void addEdges(const TopoDS_Shape& shape, TopTools_HSequenceOfShape& edges)
{
    for (TopExp_Explorer e(shape, TopAbs_EDGE); e.More(); e.Next())
        edges.Append(e.Current());
}

gp_Ax1 edgeAxis(const TopoDS_Edge& edge)
{
    const BRepAdaptor_Curve curve(edge);
    switch (curve.GetType()) {
    case GeomAbs_Line: {
        const gp_Pnt start = curve.Value(curve.FirstParameter());
        const gp_Pnt end = curve.Value(curve.LastParameter());
        return gp_Ax1(start, gp_Dir(gp_Vec(start, end)));
    }
    case GeomAbs_Circle: return curve.Circle().Axis();
    default: throw FeatureError(QStringLiteral("Die Kante ist weder gerade noch kreisförmig"));
    }
}

gp_Ax1 faceAxis(const TopoDS_Face& face)
{
    const BRepAdaptor_Surface surface(face);
    switch (surface.GetType()) {
    case GeomAbs_Cylinder: return surface.Cylinder().Axis();
    case GeomAbs_Cone: return surface.Cone().Axis();
    case GeomAbs_Plane: return surface.Plane().Axis();
    default:
        throw FeatureError(QStringLiteral("Aus dieser Fläche lässt sich keine Achse ableiten"));
    }
}

gp_Ax1 sketchLineAxis(const ModelState& state, const QJsonObject& reference)
{
    const SketchResult* result = findSketchResult(state, intMember(reference, "sketch"));
    if (!result)
        throw FeatureError(QStringLiteral("Skizze der Achse fehlt"));
    const qor::sketch::Sketch& sketch = *result->sketch;
    const qor::sketch::Entity* line = sketch.findEntity(intMember(reference, "entity"));
    if (!line || line->type != qor::sketch::EntityType::Line)
        throw FeatureError(QStringLiteral("Achsenlinie existiert nicht mehr"));
    const gp_Pnt p1 = qor::sketch::toWorld(result->plane, sketch.pointPosition(line->a));
    const gp_Pnt p2 = qor::sketch::toWorld(result->plane, sketch.pointPosition(line->b));
    if (p1.Distance(p2) < 1e-9)
        throw FeatureError(QStringLiteral("Achsenlinie hat die Länge null"));
    return gp_Ax1(p1, gp_Dir(gp_Vec(p1, p2)));
}

// The region faces of one profile, collected per sketch so that neighbouring
// regions of one sketch fuse into one face.
struct ProfileCollection {
    std::map<int, std::vector<TopoDS_Face>> regionsBySketch;
    std::vector<TopoDS_Face> pickedFaces;
    gp_Ax3* plane = nullptr;
    bool planeSet = false;

    void takePlane(const gp_Ax3& candidate)
    {
        if (plane && !planeSet)
            *plane = candidate;
        planeSet = true;
    }
};

void collectSketchRegions(const ExecContext& context, const QJsonObject& reference, bool whole,
                          ProfileCollection& profile)
{
    const int sketchId = intMember(reference, whole ? "id" : "sketch");
    const SketchResult* result = findSketchResult(context.state, sketchId);
    Feature* sketchFeature = context.document.feature(sketchId);
    if (!result || !sketchFeature || !sketchFeature->sketch)
        throw FeatureError(QStringLiteral("Skizze des Profils fehlt"));
    const auto& regions = context.document.sketchRegions(*sketchFeature, result->plane);
    if (regions.empty()) {
        const QString refusal = qor::sketch::regionsRefusal(*sketchFeature->sketch, result->plane);
        if (!refusal.isEmpty())
            throw FeatureError(refusal);
    }
    profile.takePlane(result->plane);
    std::vector<TopoDS_Face>& list = profile.regionsBySketch[sketchId];
    if (whole) {
        for (const auto& region : regions) {
            if (region.outer)
                list.push_back(region.face);
        }
        return;
    }
    const QJsonArray pt = reference.value(QLatin1String("pt")).toArray();
    const double u = pt.at(0).toDouble(0.0);
    const double v = pt.at(1).toDouble(0.0);
    for (const auto& region : regions) {
        if (qor::sketch::faceContainsPoint(region.face, result->plane, u, v)) {
            list.push_back(region.face);
            return;
        }
    }
    throw FeatureError(QStringLiteral("Profilbereich existiert nicht mehr – bitte neu auswählen"));
}

// A body read from a mesh file has triangles but no planes, lines or circles to
// take a frame from: its faces and edges are refused by name before they are
// looked up, instead of failing as curved or as lost.
void refuseMeshAxis(const ModelState& state, const QJsonObject& reference)
{
    refuseMeshBody(state, intMember(reference, "body"), QStringLiteral("Achse nicht möglich"),
                   QStringLiteral("hat keine Kanten oder Flächen, aus denen sich eine Achse "
                                  "ableiten lässt"));
}

} // namespace

TopoDS_Shape resolveReference(const ModelState& state, const QJsonObject& reference, int* bodyId)
{
    const int id = intMember(reference, "body");
    const auto body = state.bodies.find(id);
    if (body == state.bodies.end())
        throw FeatureError(QStringLiteral("Bezugskörper existiert nicht mehr"));
    if (bodyId)
        *bodyId = id;
    const ShapeSignature signature
        = ShapeSignature::fromJson(reference.value(QLatin1String("sig")).toObject());
    TopoDS_Shape found = findClosestSubShape(body->second.shape, signature);
    if (found.IsNull())
        throw FeatureError(
            QStringLiteral("Referenz (Fläche/Kante) nicht mehr gefunden – bitte neu auswählen"));
    return found;
}

std::vector<TopoDS_Shape> resolveShapeList(const ExecContext& context, const QString& key,
                                           int* bodyId)
{
    std::vector<TopoDS_Shape> shapes;
    for (const QJsonValue& element : context.arrayParam(key))
        shapes.push_back(resolveReference(context.state, element.toObject(), bodyId));
    return shapes;
}

std::vector<TopoDS_Shape> resolveEdgeList(const ExecContext& context, const QString& key,
                                          int* bodyId)
{
    return resolveShapeList(context, key, bodyId);
}

std::vector<int> resolveTargetBodies(const ExecContext& context, const QString& key)
{
    std::vector<int> ids;
    for (const QJsonValue& element : context.arrayParam(key)) {
        const int id = element.isObject() ? intMember(element.toObject(), "id") : element.toInt(0);
        if (context.state.bodies.count(id))
            ids.push_back(id);
    }
    return ids;
}

TopoDS_Wire resolvePathWire(const ExecContext& context, const QString& key)
{
    const QJsonValue value = context.feature.params.value(key);
    const QJsonArray elements = value.isArray() ? value.toArray() : QJsonArray{value};
    Handle(TopTools_HSequenceOfShape) edges = new TopTools_HSequenceOfShape;
    for (const QJsonValue& element : elements) {
        const QJsonObject reference = element.toObject();
        const QString kind = kindOf(reference);
        if (kind == QLatin1String("sketch")) {
            const int sketchId = intMember(reference, "id");
            const SketchResult* result = findSketchResult(context.state, sketchId);
            if (!result)
                throw FeatureError(QStringLiteral("Pfadskizze fehlt"));
            addEdges(qor::makeCompound(*result->sketch, result->plane, false), *edges);
        } else if (kind == QLatin1String("edge")) {
            addEdges(resolveReference(context.state, reference), *edges);
        }
    }
    if (edges->IsEmpty())
        throw FeatureError(QStringLiteral("Kein Pfad ausgewählt"));
    Handle(TopTools_HSequenceOfShape) wires = new TopTools_HSequenceOfShape;
    ShapeAnalysis_FreeBounds::ConnectEdgesToWires(edges, 1e-5, false, wires);
    if (wires->IsEmpty())
        throw FeatureError(QStringLiteral("Der Pfad ist nicht zusammenhängend"));
    if (wires->Length() > 1)
        throw FeatureError(QStringLiteral("Der Pfad besteht aus mehreren getrennten Kurvenzügen"));
    return TopoDS::Wire(wires->Value(1));
}

void refuseMeshPlane(const ModelState& state, int bodyId, const QString& failure)
{
    refuseMeshBody(state, bodyId, failure,
                   QStringLiteral("hat keine Flächen, die sich als Ebene nehmen lassen"));
}

gp_Ax3 facePlane(const TopoDS_Shape& face)
{
    if (face.IsNull() || face.ShapeType() != TopAbs_FACE)
        throw FeatureError(QStringLiteral("Keine ebene Fläche"));
    const BRepAdaptor_Surface surface(TopoDS::Face(face));
    if (surface.GetType() != GeomAbs_Plane)
        throw FeatureError(QStringLiteral("Die Fläche ist nicht eben"));
    const gp_Pln plane = surface.Plane();
    const gp_Dir normal = qor::planarFaceNormal(TopoDS::Face(face));
    const gp_XYZ n = normal.XYZ();
    const gp_Pnt origin(n * plane.Location().XYZ().Dot(n));
    const gp_XYZ r = std::fabs(n.X()) > 0.9 ? gp_XYZ(0, 1, 0) : gp_XYZ(1, 0, 0);
    const gp_Dir x(r - n * r.Dot(n));
    return gp_Ax3(origin, normal, x);
}

TopoDS_Compound resolveProfileFaces(const ExecContext& context, const QString& key, gp_Ax3* plane)
{
    const QJsonArray elements = context.arrayParam(key);
    if (elements.isEmpty())
        throw FeatureError(QStringLiteral("Kein Profil ausgewählt"));
    ProfileCollection profile;
    profile.plane = plane;
    for (const QJsonValue& element : elements) {
        const QJsonObject reference = element.toObject();
        const QString kind = kindOf(reference);
        if (kind == QLatin1String("face")) {
            refuseMeshPlane(context.state, intMember(reference, "body"),
                            QStringLiteral("Profil nicht möglich"));
            const TopoDS_Shape face = resolveReference(context.state, reference);
            if (!profile.planeSet)
                profile.takePlane(facePlane(face));
            profile.pickedFaces.push_back(TopoDS::Face(face));
        } else if (kind == QLatin1String("region") || kind == QLatin1String("sketch")) {
            collectSketchRegions(context, reference, kind == QLatin1String("sketch"), profile);
        }
    }
    TopoDS_Compound result;
    BRep_Builder builder;
    builder.MakeCompound(result);
    bool anyFace = false;
    const auto addFaces = [&](const TopoDS_Shape& shape) {
        for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) {
            builder.Add(result, e.Current());
            anyFace = true;
        }
    };
    for (const auto& [sketchId, faces] : profile.regionsBySketch) {
        if (!faces.empty())
            addFaces(qor::sketch::fuseRegions(faces));
    }
    for (const TopoDS_Face& face : profile.pickedFaces)
        addFaces(face);
    if (!anyFace)
        throw FeatureError(QStringLiteral("Das Profil enthält keinen geschlossenen Bereich"));
    return result;
}

gp_Ax3 resolvePlaneRef(const ExecContext& context, const QString& key)
{
    const QJsonObject reference = objectParam(context, key);
    const QString kind = kindOf(reference);
    if (kind.isEmpty() || kind == QLatin1String("origin"))
        return Document::datumPlane(intMember(reference, "id", -1));
    if (kind == QLatin1String("feature")) {
        const auto it = context.state.planes.find(intMember(reference, "id"));
        if (it == context.state.planes.end())
            throw FeatureError(QStringLiteral("Bezugsebene existiert nicht mehr"));
        return it->second;
    }
    if (kind == QLatin1String("face")) {
        refuseMeshPlane(context.state, intMember(reference, "body"),
                        QStringLiteral("Ebene nicht möglich"));
        return facePlane(resolveReference(context.state, reference));
    }
    throw FeatureError(QStringLiteral("Keine Ebene ausgewählt"));
}

gp_Ax1 resolveAxisRef(const ExecContext& context, const QString& key)
{
    const QJsonObject reference = objectParam(context, key);
    const QString kind = kindOf(reference);
    if (kind == QLatin1String("origin"))
        return Document::datumAxis(intMember(reference, "id", -13));
    if (kind == QLatin1String("feature")) {
        const auto it = context.state.axes.find(intMember(reference, "id"));
        if (it == context.state.axes.end())
            throw FeatureError(QStringLiteral("Bezugsachse existiert nicht mehr"));
        return it->second;
    }
    if (kind == QLatin1String("sketchline"))
        return sketchLineAxis(context.state, reference);
    if (kind == QLatin1String("edge") || kind == QLatin1String("face")) {
        // The resolved shape decides, not the stored kind. Anything but an edge is
        // taken as a face; a vertex fails there with the kernel's type error.
        refuseMeshAxis(context.state, reference);
        const TopoDS_Shape shape = resolveReference(context.state, reference);
        if (shape.ShapeType() == TopAbs_EDGE)
            return edgeAxis(TopoDS::Edge(shape));
        return faceAxis(TopoDS::Face(shape));
    }
    throw FeatureError(QStringLiteral("Keine Achse ausgewählt"));
}

} // namespace qor::model
