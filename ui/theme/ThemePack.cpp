#include "ui/theme/ThemePack.h"

#include "io/Zip.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace qor::app {

namespace {

constexpr qsizetype maxThemeJson = 1024 * 1024;
constexpr qsizetype maxIcon = 8 * 1024 * 1024;
constexpr qint64 maxPackSize = 40 * 1024 * 1024;

QJsonObject jsonObject(const QByteArray& bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

} // namespace

std::optional<ThemePack> parseThemePack(const QByteArray& zip)
{
    ZipReader archive;
    if (!archive.open(zip))
        return std::nullopt;
    const QJsonObject theme = jsonObject(archive.read(QStringLiteral("theme.json"), maxThemeJson));
    if (theme.value(QStringLiteral("schema")).toInt(0) != 1)
        return std::nullopt;

    ThemePack pack;
    pack.version = theme.value(QStringLiteral("version")).toInt(0);
    pack.companyName = theme.value(QStringLiteral("company"))
                           .toObject()
                           .value(QStringLiteral("name"))
                           .toString();
    const QJsonObject colors = theme.value(QStringLiteral("colors")).toObject();
    for (auto it = colors.begin(); it != colors.end(); ++it) {
        const QColor color = QColor::fromString(it.value().toString());
        if (color.isValid())
            pack.colors.insert(it.key(), color);
    }
    const QString iconEntry = theme.value(QStringLiteral("programs"))
                                  .toObject()
                                  .value(QStringLiteral("QorCAD"))
                                  .toObject()
                                  .value(QStringLiteral("png"))
                                  .toString();
    if (!iconEntry.isEmpty())
        pack.icon = archive.read(iconEntry, maxIcon);
    return pack;
}

std::optional<ThemePack> chooseThemePack(const std::optional<ThemePack>& builtIn,
                                         const std::optional<ThemePack>& cached)
{
    if (builtIn && !(cached && cached->version > builtIn->version))
        return builtIn;
    return cached;
}

ThemeOffer parseThemeOffer(const QByteArray& json)
{
    const QJsonObject manifest = jsonObject(json);
    return {manifest.value(QStringLiteral("version")).toInt(0),
            manifest.value(QStringLiteral("pack")).toString(),
            manifest.value(QStringLiteral("sha256")).toString().toLower(),
            manifest.value(QStringLiteral("size")).toInteger(0)};
}

bool isAcceptableOffer(const ThemeOffer& offer, int currentVersion)
{
    return offer.version > currentVersion && offer.pack.startsWith(u"https://")
           && offer.sha256.size() == 64 && offer.size >= 1 && offer.size <= maxPackSize;
}

bool cacheThemePack(const QByteArray& archive, const ThemeOffer& offer, const QString& cachePath)
{
    if (archive.size() != offer.size)
        return false;
    const QByteArray hash = QCryptographicHash::hash(archive, QCryptographicHash::Sha256).toHex();
    if (QString::fromLatin1(hash) != offer.sha256)
        return false;
    const std::optional<ThemePack> pack = parseThemePack(archive);
    if (!pack || pack->version != offer.version)
        return false;
    // Written whole through a temporary file, so a failed write keeps the previous pack.
    QDir().mkpath(QFileInfo(cachePath).absolutePath());
    QSaveFile file(cachePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(archive);
    return file.commit();
}

} // namespace qor::app
