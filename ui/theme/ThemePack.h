#pragma once

#include <QByteArray>
#include <QColor>
#include <QMap>
#include <QString>

#include <optional>

namespace qor::app {

// A company theme pack: a zip archive whose "theme.json" names the company, recolours the
// palette and points at the program icon.
struct ThemePack {
    int version = 0;
    QString companyName;
    QMap<QString, QColor> colors; // by palette key; keys the theme does not know stay unused
    QByteArray icon; // PNG bytes, empty when the pack has none
};

// Nothing for a damaged archive, a missing, oversized or unparsable "theme.json" or a schema
// other than 1. Colour texts that do not parse are skipped; a missing icon leaves it empty.
std::optional<ThemePack> parseThemePack(const QByteArray& zip);

// The compiled-in pack, unless the cached one is valid and strictly newer.
std::optional<ThemePack> chooseThemePack(const std::optional<ThemePack>& builtIn,
                                         const std::optional<ThemePack>& cached);

// What the company's theme manifest offers.
struct ThemeOffer {
    int version = 0;
    QString pack; // address of the archive
    QString sha256; // lower-cased
    qint64 size = 0;
};

ThemeOffer parseThemeOffer(const QByteArray& json);
// Worth downloading: newer than currentVersion, an https address, a 64-character hash and a
// size from 1 byte to 40 MiB.
bool isAcceptableOffer(const ThemeOffer& offer, int currentVersion);
// Stores a downloaded archive in the cache file, by an atomic replace, when it has exactly the
// offered size and SHA-256, parses as a pack and carries the offered version. True when stored.
bool cacheThemePack(const QByteArray& archive, const ThemeOffer& offer, const QString& cachePath);

} // namespace qor::app
