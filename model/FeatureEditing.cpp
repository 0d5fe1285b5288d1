#include "model/Document.h"

#include "model/FeatureDef.h"

#include <algorithm>

namespace qor::model {

Feature* Document::addFeature(const QString& type, const QJsonObject& params, int position)
{
    auto feature = std::make_unique<Feature>();
    feature->id = ++nextId;
    feature->type = type;

    const FeatureDef* def = findFeatureDef(type);
    feature->name = uniqueFeatureName(def ? def->title : type);

    // Null defaults stay absent until the user fills them; given values, a
    // given null included, replace defaults.
    if (def) {
        for (const ParamDef& p : def->params) {
            if (!p.defaultValue.isNull() && !p.defaultValue.isUndefined())
                feature->params.insert(p.key, p.defaultValue);
        }
    }
    for (auto it = params.begin(); it != params.end(); ++it)
        feature->params.insert(it.key(), it.value());

    if (type == QLatin1String("sketch")) {
        feature->sketch = std::make_unique<qor::sketch::Sketch>();
        installDimensionNamer(*feature->sketch);
    }

    const int count = int(features.size());
    // The automatic position is the rollback marker, so the new feature is the
    // last one that runs.
    if (position < 0)
        position = (rollback < 0 || rollback > count) ? count : rollback;
    const int index = std::min(position, count);
    Feature* added = feature.get();
    features.insert(features.begin() + index, std::move(feature));

    if (rollback >= index)
        ++rollback;
    if (rollback >= int(features.size()))
        rollback = -1;
    return added;
}

Feature* Document::addSketch(const QJsonObject& planeReference, int position)
{
    return addFeature(QStringLiteral("sketch"),
                      QJsonObject{{QStringLiteral("plane"), planeReference}}, position);
}

void Document::removeFeature(int id)
{
    const int index = featureIndex(id);
    if (index < 0)
        return;
    // Other features' references to it stay and fail to resolve at the next
    // recompute, which tells the user what to fix.
    features.erase(features.begin() + index);
    refreshSketchPointers();
    if (rollback > index)
        --rollback;
    if (rollback >= int(features.size()))
        rollback = -1;
}

QString Document::uniqueFeatureName(const QString& prefix) const
{
    for (int n = 1;; ++n) {
        const QString candidate = prefix + QString::number(n);
        const bool taken = std::any_of(features.begin(), features.end(),
                                       [&](const auto& f) { return f->name == candidate; });
        if (!taken)
            return candidate;
    }
}

} // namespace qor::model
