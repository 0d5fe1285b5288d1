#include "model/Assembly.h"
#include "model/Document.h"

#include <QDir>
#include <QJsonArray>

#include <Standard_Failure.hxx>
#include <gp_Vec.hxx>

#include <cmath>
#include <numbers>

namespace qor::model {

namespace {

gp_Trsf translation(const gp_Vec& t)
{
    gp_Trsf trsf;
    trsf.SetTranslation(t);
    return trsf;
}

double length(const gp_Vec& v)
{
    // hypot keeps the length finite for components near the largest double.
    return std::hypot(v.X(), v.Y(), v.Z());
}

bool isFinite(const gp_Vec& v)
{
    return std::isfinite(v.X()) && std::isfinite(v.Y()) && std::isfinite(v.Z());
}

} // namespace

gp_Trsf Component::transform() const
{
    const gp_Vec c0(m[0], m[4], m[8]);
    const gp_Vec c1(m[1], m[5], m[9]);
    const gp_Vec c2(m[2], m[6], m[10]);
    const gp_Vec t(m[3], m[7], m[11]);
    const double l0 = length(c0);
    const double l1 = length(c1);
    if (l0 < 1e-12 || l1 < 1e-12 || !std::isfinite(l0) || !std::isfinite(l1))
        return translation(t);

    const gp_Vec x = c0 / l0;
    gp_Vec y = c1 - x * c1.Dot(x);
    if (length(y) < 1e-12) {
        // The second column is parallel to the first: any axis not along x will do.
        const double angle = x.Angle(gp_Vec(0, 0, 1));
        const bool alongZ = angle <= 1e-6 || angle >= std::numbers::pi - 1e-6;
        const gp_Vec aux = alongZ ? gp_Vec(1, 0, 0) : gp_Vec(0, 0, 1);
        y = aux.Crossed(x);
    }
    y /= length(y);
    gp_Vec z = x.Crossed(y);
    if (c2.Dot(z) < 0.0)
        z.Reverse();
    if (!isFinite(x) || !isFinite(y) || !isFinite(z))
        return translation(t);

    try {
        // A reversed z gives a negative determinant, which the kernel keeps as scale -1.
        gp_Trsf trsf;
        trsf.SetValues(x.X(), y.X(), z.X(), t.X(), x.Y(), y.Y(), z.Y(), t.Y(), x.Z(), y.Z(), z.Z(),
                       t.Z());
        return trsf;
    } catch (const Standard_Failure&) {
        return translation(t);
    }
}

void Component::setPlacement(const gp_Trsf& trsf)
{
    // Value() includes the scale factor, so m holds what is applied to points.
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 4; ++col)
            m[std::size_t(row * 4 + col)] = trsf.Value(row + 1, col + 1);
    }
}

QJsonObject Component::toJson() const
{
    QJsonArray placement;
    for (double v : m)
        placement.append(roundToDecimals(v, 9));
    QJsonObject json{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), name},
        {QStringLiteral("m"), placement},
    };
    if (!path.isEmpty())
        json.insert(QStringLiteral("path"), path);
    if (!embedded.isEmpty())
        json.insert(QStringLiteral("embedded"), embedded);
    if (grounded)
        json.insert(QStringLiteral("grounded"), true);
    if (hidden)
        json.insert(QStringLiteral("hidden"), true);
    return json;
}

Component Component::fromJson(const QJsonObject& json)
{
    Component c;
    c.id = json.value(QStringLiteral("id")).toInt(0);
    c.name = json.value(QStringLiteral("name")).toString();
    const QJsonArray placement = json.value(QStringLiteral("m")).toArray();
    if (placement.size() == 12) {
        for (std::size_t i = 0; i < c.m.size(); ++i)
            c.m[i] = placement.at(qsizetype(i)).toDouble(0.0);
    }
    c.path = json.value(QStringLiteral("path")).toString();
    c.embedded = json.value(QStringLiteral("embedded")).toString();
    c.grounded = json.value(QStringLiteral("grounded")).toBool(false);
    c.hidden = json.value(QStringLiteral("hidden")).toBool(false);
    return c;
}

namespace {

QJsonObject mateRefToJson(const MateRef& ref)
{
    return QJsonObject{{QStringLiteral("comp"), ref.comp},
                       {QStringLiteral("sig"), ref.sig.toJson()}};
}

MateRef mateRefFromJson(const QJsonValue& value)
{
    const QJsonObject json = value.toObject();
    MateRef ref;
    ref.comp = json.value(QStringLiteral("comp")).toInt(0);
    ref.sig = ShapeSignature::fromJson(json.value(QStringLiteral("sig")).toObject());
    return ref;
}

} // namespace

QJsonObject Mate::toJson() const
{
    QJsonObject json{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), name},
        {QStringLiteral("type"), type},
        {QStringLiteral("a"), mateRefToJson(a)},
        {QStringLiteral("b"), mateRefToJson(b)},
        {QStringLiteral("value"), value},
    };
    if (flip)
        json.insert(QStringLiteral("flip"), true);
    if (suppressed)
        json.insert(QStringLiteral("suppressed"), true);
    return json;
}

Mate Mate::fromJson(const QJsonObject& json)
{
    Mate mate;
    mate.id = json.value(QStringLiteral("id")).toInt(0);
    mate.name = json.value(QStringLiteral("name")).toString();
    const QJsonValue type = json.value(QStringLiteral("type"));
    if (type.isString())
        mate.type = type.toString();
    mate.a = mateRefFromJson(json.value(QStringLiteral("a")));
    mate.b = mateRefFromJson(json.value(QStringLiteral("b")));
    mate.value = expressionText(json.value(QStringLiteral("value")), QStringLiteral("0"));
    mate.flip = json.value(QStringLiteral("flip")).toBool(false);
    mate.suppressed = json.value(QStringLiteral("suppressed")).toBool(false);
    return mate;
}

QString mateTypeLabel(const QString& type)
{
    if (type == QLatin1String("planar"))
        return QStringLiteral("Planar (gegenüber)");
    if (type == QLatin1String("flush"))
        return QStringLiteral("Bündig (ausgerichtet)");
    if (type == QLatin1String("concentric"))
        return QStringLiteral("Konzentrisch");
    if (type == QLatin1String("angle"))
        return QStringLiteral("Winkel");
    if (type == QLatin1String("point"))
        return QStringLiteral("Punkt deckungsgleich");
    return type;
}

Component* Document::component(int id)
{
    for (Component& c : components) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

const Component* Document::component(int id) const
{
    return const_cast<Document*>(this)->component(id);
}

QString Document::resolvePath(const QString& storedPath) const
{
    if (storedPath.isEmpty() || folder.isEmpty() || QDir::isAbsolutePath(storedPath))
        return storedPath;
    return QDir(folder).filePath(storedPath);
}

} // namespace qor::model
