#pragma once

#include <QString>

namespace qor::io {

// A count with its noun in the number it needs and thousands set off by dots:
// "1 Fläche", "0 Flächen", "1.100 Flächen".
// The batch conversion's lines keep plain digits for the scripts that read them.
enum class Thousands { Dots, Plain };
QString countText(long long count, const QString& one, const QString& many,
                  Thousands thousands = Thousands::Dots);

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
// A reader's note on faces it could not take: "2 von 5 Flächen ausgelassen".
QString skippedFacesText(long long skipped, long long total);

} // namespace qor::io
