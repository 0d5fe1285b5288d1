#include "ui/theme/CompanyTheme.h"
#include "ui/theme/Theme.h"

#include <QBuffer>
#include <QImage>
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

} // namespace

TEST(CompanyTheme, PackRecoloursNamesAndReplacesTheIcon)
{
    Theme& theme = Theme::instance();
    const QColor accent = theme.accent;
    const QColor builtInCentre = centreOf(theme.appIcon());
    applyCompanyTheme(); // this build has no company: nothing changes
    EXPECT_EQ(currentThemeVersion, 0);
    EXPECT_EQ(centreOf(theme.appIcon()), builtInCentre);

    ThemePack pack;
    pack.companyName = QStringLiteral("Firma");
    pack.colors = {{"AccentColor", QColor(255, 0, 0)}, {"Unbekannt", QColor(0, 255, 0)}};
    pack.icon = pngOf(Qt::blue);
    applyThemePack(theme, pack, pngOf(Qt::green));
    EXPECT_EQ(theme.accent, QColor(255, 0, 0));
    EXPECT_EQ(theme.companyName, "Firma");
    EXPECT_EQ(centreOf(theme.appIcon()), QColor(Qt::blue));
    // Without an icon of its own the pack takes the fallback; bytes that are no image keep
    // the built-in icon.
    pack.icon.clear();
    applyThemePack(theme, pack, pngOf(Qt::green));
    EXPECT_EQ(centreOf(theme.appIcon()), QColor(Qt::green));
    theme.customAppIcon = QIcon();
    pack.icon = QByteArray("\x89PNG kaputt");
    applyThemePack(theme, pack, {});
    EXPECT_EQ(centreOf(theme.appIcon()), builtInCentre);

    theme.accent = accent;
    theme.companyName.clear();
}
