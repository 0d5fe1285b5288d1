#include "model/FeatureDef.h"

#include <charconv>
#include <utility>

namespace qor::model {

ParamDef::ParamDef(QString key, QString label, ParamKind kind, QJsonValue defaultValue,
                   QString visibleIf)
    : key(std::move(key))
    , label(std::move(label))
    , kind(kind)
    , defaultValue(std::move(defaultValue))
    , visibleIf(std::move(visibleIf))
{
}

ParamDef ParamDef::choice(QString key, QString label, QStringList options, QString defaultValue,
                          QString visibleIf)
{
    ParamDef def(std::move(key), std::move(label), ParamKind::Choice,
                 QJsonValue(std::move(defaultValue)), std::move(visibleIf));
    def.options = std::move(options);
    return def;
}

namespace {

// The text a condition compares against: booleans as "1"/"0", numbers in their
// shortest form, anything that is not a scalar as the empty text.
QString conditionText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool: return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QJsonValue::String: return value.toString();
    case QJsonValue::Double: {
        char buffer[32];
        const auto res = std::to_chars(buffer, buffer + sizeof buffer, value.toDouble());
        return QString::fromLatin1(buffer, int(res.ptr - buffer));
    }
    default: return QString();
    }
}

bool clauseHolds(const QString& clause, const QJsonObject& params)
{
    const bool inequality = clause.contains(QLatin1String("!="));
    const QStringList parts
        = clause.split(inequality ? QStringLiteral("!=") : QStringLiteral("="), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return false;
    const bool equal = conditionText(params.value(parts[0])) == parts[1];
    return inequality ? !equal : equal;
}

} // namespace

bool ParamDef::isVisible(const QJsonObject& params) const
{
    if (visibleIf.isEmpty())
        return true;
    const QStringList clauses = visibleIf.split(QLatin1Char('|'), Qt::KeepEmptyParts);
    for (const QString& clause : clauses) {
        if (clauseHolds(clause, params))
            return true;
    }
    return false;
}

const ParamDef* FeatureDef::findParam(const QString& key) const
{
    for (const ParamDef& param : params) {
        if (param.key == key)
            return &param;
    }
    return nullptr;
}

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
