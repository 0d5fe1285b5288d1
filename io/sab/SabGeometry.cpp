#include "io/sab/SabGeometry.h"

namespace qor::io {

void addWarningOnce(QStringList& list, const QString& text)
{
    if (!list.contains(text))
        list.append(text);
}

SabBuilder::SabBuilder(SabReader& source)
    : reader(&source), unitScale(source.unitScale), byIndex(buildSabIndex(source.records))
{
}

const SabRecord* SabBuilder::resolve(const SabValue& field) const
{
    if (field.integer < 0)
        return nullptr;
    const auto found = byIndex.find(field.integer);
    return found == byIndex.end() ? nullptr : found->second;
}

} // namespace qor::io
