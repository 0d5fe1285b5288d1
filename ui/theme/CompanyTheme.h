#pragma once

#include "ui/theme/ThemePack.h"

#include <QByteArray>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

namespace qor::app {

class Theme;

// Build constants of a company edition; both are empty in this build, so every company
// operation returns at once. A company base address ends in "/".
extern const QString companyId;
extern const QString companyBaseUrl;

// The version of the pack applied at start; 0 when none was applied.
extern int currentThemeVersion;

// A company id and a base address starting with "https://".
bool isCompanyBuild();
// "QorCAD/theme.zip" in the user's generic cache directory.
QString themeCachePath();
// The update manifest address: the company's in a company build, else the maker's.
QString updateUrl();

// At start, before the theme is applied: the newer of the compiled-in and the cached pack
// recolours the theme and names the company and the program icon.
void applyCompanyTheme();
// The colours, company name and icon of a chosen pack; fallbackIcon when the pack has none.
// Icon bytes that do not decode keep the built-in program icon.
void applyThemePack(Theme& theme, const ThemePack& pack, const QByteArray& fallbackIcon);

// Asks the company's server for a newer pack and caches a verified download for the next
// start. Every failure is silent.
void checkCompanyThemeUpdate();
void onThemeManifestReply(QNetworkReply* reply, QNetworkAccessManager* manager);
void onThemePackReply(QNetworkReply* reply, QNetworkAccessManager* manager,
                      const ThemeOffer& offer);

} // namespace qor::app
