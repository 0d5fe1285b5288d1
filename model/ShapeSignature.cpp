#include "model/ShapeSignature.h"

#include <QJsonArray>

#include <cmath>

namespace qor::model {

double roundToDecimals(double x, int decimals)
{
    const double factor = std::pow(10.0, decimals);
    const double scaled = x * factor;
    // Beyond 2^53 a double has no fractional digits left to round away, and the
    // scaled value may even have overflowed.
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9007199254740992.0)
        return x;
    return std::round(scaled) / factor;
}

namespace {

QJsonArray roundedTriple(const std::array<double, 3>& v)
{
    return QJsonArray{roundToDecimals(v[0], 6), roundToDecimals(v[1], 6),
                      roundToDecimals(v[2], 6)};
}

std::array<double, 3> readTriple(const QJsonValue& value)
{
    const QJsonArray array = value.toArray();
    return {array.at(0).toDouble(0.0), array.at(1).toDouble(0.0), array.at(2).toDouble(0.0)};
}

} // namespace

QJsonObject ShapeSignature::toJson() const
{
    const char* letter = kind == Kind::Edge ? "e" : kind == Kind::Vertex ? "v" : "f";
    return QJsonObject{
        {QStringLiteral("k"), QString::fromLatin1(letter)},
        {QStringLiteral("g"), geometry},
        {QStringLiteral("p"), roundedTriple(point)},
        {QStringLiteral("d"), roundedTriple(direction)},
        {QStringLiteral("s"), roundToDecimals(size, 6)},
    };
}

ShapeSignature ShapeSignature::fromJson(const QJsonObject& json)
{
    ShapeSignature sig;
    const QString k = json.value(QStringLiteral("k")).toString();
    if (k == QLatin1String("e"))
        sig.kind = Kind::Edge;
    else if (k == QLatin1String("v"))
        sig.kind = Kind::Vertex;
    sig.geometry = json.value(QStringLiteral("g")).toInt(0);
    sig.point = readTriple(json.value(QStringLiteral("p")));
    sig.direction = readTriple(json.value(QStringLiteral("d")));
    sig.size = json.value(QStringLiteral("s")).toDouble(0.0);
    return sig;
}

} // namespace qor::model
