#include "features/EdgeSelection.h"

#include "model/References.h"

#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

namespace qor::model {

std::map<int, std::vector<TopoDS_Edge>> resolveFilletEdges(const ExecContext& context,
                                                           const QString& key)
{
    std::map<int, std::vector<TopoDS_Edge>> edgesByBody;
    for (const QJsonValue& element : context.arrayParam(key)) {
        // Whole bodies and datum picks carry no signature: they name no edge, and
        // resolving them as sub-shapes would blame a body that still exists.
        const QJsonObject reference = element.toObject();
        if (!reference.contains(QLatin1String("sig")))
            continue;
        int bodyId = 0;
        const TopoDS_Shape shape = resolveReference(context.state, reference, &bodyId);
        const TopAbs_ShapeEnum type = shape.ShapeType();
        if (type != TopAbs_EDGE && type != TopAbs_FACE)
            continue;
        // A seam edge is met twice on its face and stays twice. A face without
        // edges (one of a body read from a mesh file) still names its body, for
        // the feature to say why it cannot work on it.
        std::vector<TopoDS_Edge>& edges = edgesByBody[bodyId];
        for (TopExp_Explorer e(shape, TopAbs_EDGE); e.More(); e.Next())
            edges.push_back(TopoDS::Edge(e.Current()));
    }
    if (edgesByBody.empty())
        throw FeatureError(QStringLiteral("Keine Kanten ausgewählt"));
    return edgesByBody;
}

} // namespace qor::model
