#include "model/Document.h"

namespace qor::model {

namespace {

struct DatumPlane {
    int id;
    const char16_t* name;
    gp_Dir normal;
    gp_Dir xDirection;
};

struct DatumAxis {
    int id;
    const char16_t* name;
    gp_Dir direction;
};

// The XZ plane's normal is -Y so that its x- and y-directions are +X and +Z.
const DatumPlane datumPlanes[] = {
    {-1, u"XY-Ebene", gp_Dir(0, 0, 1), gp_Dir(1, 0, 0)},
    {-2, u"XZ-Ebene", gp_Dir(0, -1, 0), gp_Dir(1, 0, 0)},
    {-3, u"YZ-Ebene", gp_Dir(1, 0, 0), gp_Dir(0, 1, 0)},
};

const DatumAxis datumAxes[] = {
    {-11, u"X-Achse", gp_Dir(1, 0, 0)},
    {-12, u"Y-Achse", gp_Dir(0, 1, 0)},
    {-13, u"Z-Achse", gp_Dir(0, 0, 1)},
};

const DatumPlane& findDatumPlane(int id)
{
    for (const DatumPlane& plane : datumPlanes) {
        if (plane.id == id)
            return plane;
    }
    return datumPlanes[0];
}

const DatumAxis& findDatumAxis(int id)
{
    for (const DatumAxis& axis : datumAxes) {
        if (axis.id == id)
            return axis;
    }
    return datumAxes[0];
}

int intMember(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toInt(0);
}

} // namespace

gp_Ax3 Document::datumPlane(int id)
{
    const DatumPlane& plane = findDatumPlane(id);
    return gp_Ax3(gp_Pnt(0, 0, 0), plane.normal, plane.xDirection);
}

gp_Ax1 Document::datumAxis(int id)
{
    return gp_Ax1(gp_Pnt(0, 0, 0), findDatumAxis(id).direction);
}

QString Document::datumName(int id)
{
    for (const DatumPlane& plane : datumPlanes) {
        if (plane.id == id)
            return QString::fromUtf16(plane.name);
    }
    for (const DatumAxis& axis : datumAxes) {
        if (axis.id == id)
            return QString::fromUtf16(axis.name);
    }
    return QStringLiteral("Ursprung");
}

QString Document::describeReference(const QJsonObject& reference) const
{
    const QString kind = reference.value(QLatin1String("kind")).toString();
    if (kind == QLatin1String("origin"))
        return datumName(intMember(reference, "id"));
    if (kind == QLatin1String("feature") || kind == QLatin1String("sketch")) {
        const Feature* f = feature(intMember(reference, "id"));
        return f ? f->name : QStringLiteral("(gelöscht)");
    }
    if (kind == QLatin1String("face"))
        return QStringLiteral("Fläche von ") + bodyName(intMember(reference, "body"));
    if (kind == QLatin1String("edge"))
        return QStringLiteral("Kante von ") + bodyName(intMember(reference, "body"));
    if (kind == QLatin1String("vertex"))
        return QStringLiteral("Punkt von ") + bodyName(intMember(reference, "body"));
    if (kind == QLatin1String("body"))
        return bodyName(intMember(reference, "id"));
    if (kind == QLatin1String("region") || kind == QLatin1String("sketchline")) {
        if (const Feature* f = feature(intMember(reference, "sketch"))) {
            const QString prefix = kind == QLatin1String("region") ? QStringLiteral("Profil in ")
                                                                   : QStringLiteral("Linie in ");
            return prefix + f->name;
        }
    }
    return kind;
}

} // namespace qor::model
