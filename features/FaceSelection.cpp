#include "features/FaceSelection.h"

#include "model/References.h"

namespace qor::model {

std::map<int, std::vector<TopoDS_Shape>> resolveFacesByBody(const ExecContext& context,
                                                            const QString& key)
{
    std::map<int, std::vector<TopoDS_Shape>> facesByBody;
    for (const QJsonValue& element : context.arrayParam(key)) {
        int bodyId = 0;
        const TopoDS_Shape face = resolveReference(context.state, element.toObject(), &bodyId);
        facesByBody[bodyId].push_back(face);
    }
    return facesByBody;
}

} // namespace qor::model
