#include "io/CountTexts.h"

#include "expr/Format.h"

#include <QStringList>

#include <cstdint>

namespace qor::io {

namespace {

QString number(long long count)
{
    return count < 0 ? QString::number(count) : germanCount(std::uint64_t(count));
}

} // namespace

QString countText(long long count, const QString& one, const QString& many)
{
    return QStringLiteral("%1 %2").arg(number(count), count == 1 ? one : many);
}

QString facesLeftOutText(long long faces)
{
    return faces == 1
               ? QStringLiteral("1 Fläche ließ sich nicht vernetzen und fehlt in der Datei")
               : QStringLiteral("%1 Flächen ließen sich nicht vernetzen und fehlen in der Datei")
                     .arg(number(faces));
}

QString nonManifoldEdgesText(const QString& body, long long edges)
{
    const QString where = edges == 1 ? QStringLiteral("an der") : QStringLiteral("an denen");
    return QStringLiteral("%1 hat %2, %3 mehr als zwei Dreiecke liegen (nicht mannigfaltig); "
                          "manche Slicer lehnen das Objekt ab oder reparieren es")
        .arg(body, countText(edges, QStringLiteral("Kante"), QStringLiteral("Kanten")), where);
}

QString openEdgesText(const QString& body, long long edges)
{
    const QString where = edges == 1 ? QStringLiteral("an der") : QStringLiteral("an denen");
    return QStringLiteral("%1 hat %2, %3 nur ein Dreieck liegt (Loch im Netz); manche Slicer "
                          "lehnen das Objekt ab oder reparieren es")
        .arg(body,
             countText(edges, QStringLiteral("offene Kante"), QStringLiteral("offene Kanten")),
             where);
}

QString sameWayEdgesText(const QString& body, long long edges)
{
    const QString where = edges == 1 ? QStringLiteral("an der") : QStringLiteral("an denen");
    return QStringLiteral("%1 hat %2, %3 zwei Dreiecke gleich herum laufen (Fläche im Netz nach "
                          "innen gekehrt); manche Slicer lehnen das Objekt ab oder reparieren es")
        .arg(body, countText(edges, QStringLiteral("Kante"), QStringLiteral("Kanten")), where);
}

QString enclosedVolumeText(const QString& body, double meshVolume, double bodyVolume)
{
    return QStringLiteral("%1 umschließt im Netz %2 mm³ statt %3 mm³ (Flächen nach innen gekehrt "
                          "oder von der Oberfläche abgerückt)")
        .arg(body, germanNumber(meshVolume, 1), germanNumber(bodyVolume, 1));
}

QString insideOutText(const QString& body, double meshVolume)
{
    return QStringLiteral("%1 umschließt im Netz %2 mm³ (Netz nach innen gekehrt); manche Slicer "
                          "lehnen das Objekt ab oder reparieren es")
        .arg(body, germanNumber(meshVolume, 1));
}

QString insideOutPartsClause(const std::vector<double>& volumes, long long closedParts)
{
    QStringList measures;
    for (const double volume : volumes)
        measures << germanNumber(volume, 1) + QStringLiteral(" mm³");
    return QStringLiteral("%1 von %2 nach innen gekehrt (%3)")
        .arg(number((long long)(volumes.size())),
             countText(closedParts, QStringLiteral("geschlossenem Teil"),
                       QStringLiteral("geschlossenen Teilen")),
             measures.join(QStringLiteral(", ")));
}

QString insideOutPartsText(const QString& body, const std::vector<double>& volumes,
                           long long closedParts)
{
    return QStringLiteral("%1 hat %2; manche Slicer lehnen das Objekt ab oder reparieren es")
        .arg(body, insideOutPartsClause(volumes, closedParts));
}

QString skippedFacesText(long long skipped, long long total)
{
    return QStringLiteral("%1 von %2 ausgelassen")
        .arg(number(skipped))
        .arg(countText(total, QStringLiteral("Fläche"), QStringLiteral("Flächen")));
}

} // namespace qor::io
