#include "app/theme/CompanyTheme.h"
#include "app/theme/Theme.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QNetworkAccessManager>
#include <gtest/gtest.h>

using namespace qor::app;

namespace {

QByteArray pngOf(const QColor& colour)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QColor centreOf(const QIcon& icon)
{
    return icon.pixmap(QSize(32, 32), 1.0).toImage().pixelColor(16, 16);
}

// Puts back what a pack changes, so that later tests see the built-in theme.
struct ThemeRestorer {
    Theme& theme = Theme::instance();
    const QColor accent = theme.accent;
    const QString company = theme.companyName;
    const QIcon icon = theme.customAppIcon;
    ~ThemeRestorer()
    {
        theme.accent = accent;
        theme.companyName = company;
        theme.customAppIcon = icon;
    }
};

} // namespace

TEST(CompanyTheme, ThisBuildHasNoCompany)
{
    ThemeRestorer saved;
    const QColor builtInCentre = centreOf(saved.theme.appIcon());
    EXPECT_FALSE(isCompanyBuild());
    applyCompanyTheme();
    checkCompanyThemeUpdate();
    EXPECT_EQ(currentThemeVersion, 0);
    EXPECT_EQ(saved.theme.accent, saved.accent);
    EXPECT_TRUE(saved.theme.companyName.isEmpty());
    EXPECT_EQ(centreOf(saved.theme.appIcon()), builtInCentre);
    EXPECT_TRUE(qApp->findChildren<QNetworkAccessManager*>().isEmpty());
    EXPECT_TRUE(updateUrl().startsWith("https://"));
    EXPECT_TRUE(updateUrl().endsWith("download/latest.json"));
}

TEST(CompanyTheme, PackRecoloursNamesAndReplacesTheIcon)
{
    ThemeRestorer saved;
    const QColor builtInCentre = centreOf(saved.theme.appIcon());
    ThemePack pack;
    pack.companyName = QStringLiteral("Firma");
    pack.colors = {{"AccentColor", QColor(255, 0, 0)}, {"Unbekannt", QColor(0, 255, 0)}};
    pack.icon = pngOf(Qt::blue);
    applyThemePack(saved.theme, pack, pngOf(Qt::green));
    EXPECT_EQ(saved.theme.accent, QColor(255, 0, 0));
    EXPECT_EQ(saved.theme.companyName, "Firma");
    EXPECT_EQ(centreOf(saved.theme.appIcon()), QColor(Qt::blue));

    // Without an icon of its own the pack takes the fallback; bytes that are no image keep
    // the icon that was there.
    pack.icon.clear();
    applyThemePack(saved.theme, pack, pngOf(Qt::green));
    EXPECT_EQ(centreOf(saved.theme.appIcon()), QColor(Qt::green));
    saved.theme.customAppIcon = QIcon();
    pack.icon = QByteArray("\x89PNG kaputt");
    applyThemePack(saved.theme, pack, pngOf(Qt::green));
    EXPECT_EQ(centreOf(saved.theme.appIcon()), builtInCentre);
}
