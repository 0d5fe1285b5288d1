#include "model/SketchVisibility.h"

#include "model/Document.h"

#include <QJsonArray>
#include <QJsonObject>

namespace qor::model {

void collectSketchRefs(const QJsonValue& value, std::set<int>& ids)
{
    if (value.isArray()) {
        for (const QJsonValue& element : value.toArray())
            collectSketchRefs(element, ids);
        return;
    }
    if (!value.isObject())
        return;
    const QJsonObject object = value.toObject();
    const QString kind = object.value(QStringLiteral("kind")).toString();
    if (kind == QLatin1String("sketch"))
        ids.insert(object.value(QStringLiteral("id")).toInt());
    else if (kind == QLatin1String("region") || kind == QLatin1String("sketchline"))
        ids.insert(object.value(QStringLiteral("sketch")).toInt());
    for (const QJsonValue& member : object) {
        if (member.isObject() || member.isArray())
            collectSketchRefs(member, ids);
    }
}

std::set<int> consumedSketches(const Document& document)
{
    std::set<int> ids;
    for (const auto& feature : document.features) {
        if (feature->type != QLatin1String("sketch"))
            collectSketchRefs(feature->params, ids);
    }
    return ids;
}

bool sketchShown(const Document& document, int sketchId, const std::set<int>& consumed)
{
    const auto entry = document.hidden.find(-sketchId);
    if (entry != document.hidden.end())
        return !entry->second;
    return consumed.count(sketchId) == 0;
}

} // namespace qor::model
