#include "features/FilletChamfer.h"

#include "features/EdgeSelection.h"
#include "features/KernelGuards.h"
#include "model/ExecContext.h"

#include <BRepFilletAPI_MakeChamfer.hxx>
#include <BRepFilletAPI_MakeFillet.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS.hxx>

#include <numbers>

namespace qor::model {

namespace {

// The selection names an edge again when its face was picked too, or when a
// seam is met twice on its face; each edge is built once.
std::vector<TopoDS_Edge> distinctEdges(const std::vector<TopoDS_Edge>& edges)
{
    TopTools_MapOfShape seen;
    std::vector<TopoDS_Edge> result;
    for (const TopoDS_Edge& edge : edges) {
        if (seen.Add(edge))
            result.push_back(edge);
    }
    return result;
}

} // namespace

void execFillet(ExecContext& context)
{
    const double r1 = context.number(QStringLiteral("radius"));
    if (r1 <= 0.0)
        throw FeatureError(QStringLiteral("Radius muss größer als 0 sein"));
    const bool variable = context.stringParam(QStringLiteral("mode")) == QLatin1String("var");
    const double r2 = variable ? context.number(QStringLiteral("radius2")) : r1;
    if (r2 <= 0.0)
        throw FeatureError(QStringLiteral("Endradius muss größer als 0 sein"));

    for (const auto& [bodyId, edges] : resolveFilletEdges(context, QStringLiteral("edges"))) {
        refuseMeshBody(context.state, bodyId, QStringLiteral("Verrundung nicht möglich"),
                       QStringLiteral("hat keine Kanten, die sich verrunden lassen"));
        BRepFilletAPI_MakeFillet fillet(context.state.bodies.at(bodyId).shape, ChFi3d_Rational);
        for (const TopoDS_Edge& edge : distinctEdges(edges)) {
            if (variable)
                fillet.Add(r1, r2, edge); // r1 at the edge's start, r2 at its end
            else
                fillet.Add(r1, edge);
        }
        buildBody(context, bodyId, fillet,
                  QStringLiteral("Verrundung nicht möglich – Radius zu groß?"));
    }
}

void execChamfer(ExecContext& context)
{
    const double d1 = context.number(QStringLiteral("distance"));
    if (d1 <= 0.0)
        throw FeatureError(QStringLiteral("Abstand muss größer als 0 sein"));
    const QString mode = context.stringParam(QStringLiteral("mode"));
    const bool two = mode == QLatin1String("two");
    const bool byAngle = mode == QLatin1String("angle");

    const auto edgesByBody = resolveFilletEdges(context, QStringLiteral("edges"));
    // Neither is checked for sign or range: a value the builder cannot use ends
    // in the build failure.
    const double d2 = two ? context.number(QStringLiteral("distance2")) : 0.0;
    const double angle
        = byAngle ? context.angle(QStringLiteral("angle")) * std::numbers::pi / 180.0 : 0.0;

    for (const auto& [bodyId, edges] : edgesByBody) {
        refuseMeshBody(context.state, bodyId, QStringLiteral("Fase nicht möglich"),
                       QStringLiteral("hat keine Kanten, die sich anfasen lassen"));
        const TopoDS_Shape& body = context.state.bodies.at(bodyId).shape;
        TopTools_IndexedDataMapOfShapeListOfShape facesOfEdge;
        TopExp::MapShapesAndAncestors(body, TopAbs_EDGE, TopAbs_FACE, facesOfEdge);
        BRepFilletAPI_MakeChamfer chamfer(body);
        for (const TopoDS_Edge& edge : distinctEdges(edges)) {
            if (!two && !byAngle) {
                chamfer.Add(d1, edge);
                continue;
            }
            // d1 is measured on the edge's first face.
            const TopoDS_Face face = TopoDS::Face(facesOfEdge.FindFromKey(edge).First());
            if (two)
                chamfer.Add(d1, d2, edge, face);
            else
                chamfer.AddDA(d1, angle, edge, face);
        }
        buildBody(context, bodyId, chamfer,
                  QStringLiteral("Fase nicht möglich – Abstand zu groß?"));
    }
}

} // namespace qor::model
