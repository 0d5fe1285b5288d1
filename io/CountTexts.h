#pragma once

#include <QString>

#include <vector>

namespace qor::io {

// A count with its noun in the number it needs and thousands set off by dots:
// "1 Fläche", "0 Flächen", "1.100 Flächen".
QString countText(long long count, const QString& one, const QString& many);

// The mesh writers' notes, each agreeing in number with its count.
QString facesLeftOutText(long long faces);
QString nonManifoldEdgesText(const QString& body, long long edges);
QString openEdgesText(const QString& body, long long edges);
QString sameWayEdgesText(const QString& body, long long edges);
// A closed mesh that encloses another volume than its body: "„Teil“ umschließt im
// Netz 6.167,4 mm³ statt 5.497,3 mm³ (…)".
QString enclosedVolumeText(const QString& body, double meshVolume, double bodyVolume);
// A closed mesh body whose triangles all face in: "„Teil“ umschließt im Netz
// -1.000,0 mm³ (Netz nach innen gekehrt); …".
QString insideOutText(const QString& body, double meshVolume);
// The closed parts of a mesh body that are inside out, among closedParts:
// "1 von 2 geschlossenen Teilen nach innen gekehrt (-125,0 mm³)".
QString insideOutPartsClause(const std::vector<double>& volumes, long long closedParts);
// A mesh body with closed parts inside out beside others: "„Netz“ hat 1 von 2 …; manche Slicer …".
QString insideOutPartsText(const QString& body, const std::vector<double>& volumes,
                           long long closedParts);
// A reader's note on faces it could not take: "2 von 5 Flächen ausgelassen".
QString skippedFacesText(long long skipped, long long total);

} // namespace qor::io
