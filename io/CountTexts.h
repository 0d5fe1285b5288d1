#pragma once

#include <QString>

namespace qor::io {

// A count with its noun in the number it needs: "1 Fläche", "0 Flächen",
// "3 Flächen".
QString countText(long long count, const QString& one, const QString& many);

// The mesh writers' notes, each agreeing in number with its count.
QString facesLeftOutText(long long faces);
QString nonManifoldEdgesText(const QString& body, long long edges);
QString openEdgesText(const QString& body, long long edges);
// A reader's note on faces it could not take: "2 von 5 Flächen ausgelassen".
QString skippedFacesText(long long skipped, long long total);

} // namespace qor::io
