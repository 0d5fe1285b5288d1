#include "ui/theme/CompanyTheme.h"

#include "ui/theme/Theme.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QStandardPaths>

namespace qor::app {

// A company edition sets both.
const QString companyId;
const QString companyBaseUrl;

int currentThemeVersion = 0;

namespace {

constexpr int manifestTimeoutMs = 10000;
constexpr int packTimeoutMs = 60000;

// Empty when the file or resource does not exist.
QByteArray readWhole(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QNetworkReply* get(QNetworkAccessManager* manager, const QString& address, int timeoutMs)
{
    QNetworkRequest request{QUrl(address)};
    request.setTransferTimeout(timeoutMs);
    return manager->get(request);
}

} // namespace

bool isCompanyBuild()
{
    return !companyId.isEmpty() && companyBaseUrl.startsWith(u"https://");
}

QString themeCachePath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("QorCAD/theme.zip"));
}

QString updateUrl()
{
    if (isCompanyBuild())
        return companyBaseUrl + QStringLiteral("download/latest.json");
    return QStringLiteral("https://updates.tarnwick.de/qorcad/download/latest.json");
}

void applyCompanyTheme()
{
    if (!isCompanyBuild())
        return;
    const std::optional<ThemePack> chosen
        = chooseThemePack(parseThemePack(readWhole(QStringLiteral(":/company/theme.zip"))),
                          parseThemePack(readWhole(themeCachePath())));
    if (!chosen)
        return;
    currentThemeVersion = chosen->version;
    applyThemePack(Theme::instance(), *chosen, readWhole(QStringLiteral(":/company/icon.png")));
}

void applyThemePack(Theme& theme, const ThemePack& pack, const QByteArray& fallbackIcon)
{
    theme.applyNamedColors(pack.colors);
    theme.companyName = pack.companyName;
    const QImage image = QImage::fromData(pack.icon.isEmpty() ? fallbackIcon : pack.icon);
    if (!image.isNull())
        theme.customAppIcon = QIcon(QPixmap::fromImage(image));
}

void checkCompanyThemeUpdate()
{
    if (!isCompanyBuild())
        return;
    auto* manager = new QNetworkAccessManager(QCoreApplication::instance());
    QNetworkReply* reply
        = get(manager, companyBaseUrl + QStringLiteral("theme/theme.json"), manifestTimeoutMs);
    QObject::connect(reply, &QNetworkReply::finished, manager,
                     [reply, manager] { onThemeManifestReply(reply, manager); });
}

// A failed or timed-out request yields a body that fails the checks.
void onThemeManifestReply(QNetworkReply* reply, QNetworkAccessManager* manager)
{
    reply->deleteLater();
    const ThemeOffer offer = parseThemeOffer(reply->readAll());
    if (!isAcceptableOffer(offer, currentThemeVersion)) {
        manager->deleteLater();
        return;
    }
    QNetworkReply* packReply = get(manager, offer.pack, packTimeoutMs);
    QObject::connect(packReply, &QNetworkReply::finished, manager,
                     [packReply, manager, offer] { onThemePackReply(packReply, manager, offer); });
}

// The running program keeps its look; the next start applies the stored pack.
void onThemePackReply(QNetworkReply* reply, QNetworkAccessManager* manager, const ThemeOffer& offer)
{
    reply->deleteLater();
    manager->deleteLater();
    cacheThemePack(reply->readAll(), offer, themeCachePath());
}

} // namespace qor::app
