#include "features/FeatureDef.h"

namespace qor::model {

const std::vector<FeatureDef>& featureDefs()
{
    static const std::vector<FeatureDef> registry = buildFeatureDefs();
    return registry;
}

const FeatureDef* findFeatureDef(const QString& type)
{
    for (const FeatureDef& def : featureDefs()) {
        if (def.id == type)
            return &def;
    }
    return nullptr;
}

} // namespace qor::model
