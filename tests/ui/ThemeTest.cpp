#include "ui/theme/Theme.h"
#include "ui/theme/Icons.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRawFont>
#include <QRegularExpression>
#include <QTextLayout>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <utility>

using qor::app::Theme;

namespace {

int opaquePixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

// Dark pixels of a word drawn black on white: thicker strokes, more pixels.
int inkOf(const QFont& font)
{
    QImage image(400, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Konstruktion 1234"));
    painter.end();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 128;
    return dark;
}

QImage iconImage(const QString& name, const QColor& colour = QColor())
{
    return Theme::instance().iconPixmap(name, 32, colour).toImage();
}

} // namespace

TEST(Theme, RgbaAndMix)
{
    EXPECT_EQ(Theme::rgba(QColor(0x00, 0xE5, 0xFF), 0.18), QStringLiteral("rgba(0,229,255,0.18)"));
    EXPECT_EQ(Theme::rgba(QColor(10, 20, 30, 128), 1.0), QStringLiteral("rgba(10,20,30,1)"));
    const QColor a(10, 20, 30, 40);
    const QColor b(200, 100, 0, 255);
    EXPECT_EQ(Theme::mix(a, b, 0).rgba(), a.rgba());
    EXPECT_EQ(Theme::mix(a, b, 1).rgba(), b.rgba());
    EXPECT_NEAR(Theme::mix(a, b, 0.5).alphaF(), (40 + 255) / 510.0, 1e-3);
}

TEST(Theme, StyleSheetFillsEveryPlaceholder)
{
    const Theme& theme = Theme::instance();
    const QString sheet = theme.styleSheet();
    EXPECT_GT(sheet.size(), 8000);
    const QRegularExpression placeholder(QStringLiteral("%[A-Z0-9]+%"));
    const QRegularExpressionMatch left = placeholder.match(sheet);
    EXPECT_FALSE(left.hasMatch()) << left.captured().toStdString();
    // The longer names must not be eaten by their prefixes.
    EXPECT_TRUE(sheet.contains(Theme::rgba(theme.accent3, 0.12)));
    EXPECT_TRUE(sheet.contains(theme.accent3.name()));
    EXPECT_TRUE(sheet.contains(Theme::rgba(theme.bg1, 0.92)));
    EXPECT_TRUE(sheet.contains(QStringLiteral("\"%1\"").arg(theme.monoFamily)));
}

TEST(Theme, NamedColorsChangeOnlyKnownValidNames)
{
    Theme& theme = Theme::instance();
    const QColor oldAccent = theme.accent;
    const QColor oldBg0 = theme.bg0;
    const QColor oldDanger = theme.danger;
    theme.applyNamedColors({{QStringLiteral("AccentColor"), QColor(1, 2, 3)},
                            {QStringLiteral("DangerColor"), QColor(4, 5, 6)},
                            {QStringLiteral("accentcolor"), QColor(7, 8, 9)},
                            {QStringLiteral("Bg0Color"), QColor()}});
    const QColor newAccent = theme.accent;
    theme.accent = oldAccent;
    EXPECT_EQ(newAccent, QColor(1, 2, 3));
    EXPECT_EQ(theme.bg0, oldBg0);
    EXPECT_EQ(theme.danger, oldDanger);
}

TEST(Theme, FontsLoadWithRealWeights)
{
    const Theme& theme = Theme::instance();
    for (const QFont& font : {theme.uiFont(20, 400), theme.monoFont(20)}) {
        SCOPED_TRACE(font.family().toStdString());
        EXPECT_TRUE(QFontDatabase::families().contains(font.family()));
        EXPECT_EQ(QFontInfo(font).family(), font.family());
    }

    QFont mono600 = theme.monoFont(20);
    mono600.setWeight(QFont::DemiBold);
    const int ui400 = inkOf(theme.uiFont(20, 400));
    const int ui600 = inkOf(theme.uiFont(20, 600));
    const int mono400 = inkOf(theme.monoFont(20));
    const int monoBold = inkOf(mono600);
    EXPECT_GT(ui600, ui400 * 1.1) << ui400 << " " << ui600;
    EXPECT_GT(monoBold, mono400 * 1.1) << mono400 << " " << monoBold;
}

// Every weight of both fonts draws German text, the diameter sign and the non-breaking hyphen
// from the bundled file of that weight: no glyph run comes from a system font.
TEST(Theme, EveryWeightDrawsGermanTextFromTheBundledFile)
{
    const Theme& theme = Theme::instance();
    const QString sample = QStringLiteral("Größe äöü ÄÖÜ ß Maß ⌀12,5 Ein‑Teil 0123456789 – °");
    const std::pair<int, QString> weights[] = {{400, QStringLiteral("Regular")},
                                               {500, QStringLiteral("Medium")},
                                               {600, QStringLiteral("SemiBold")},
                                               {700, QStringLiteral("Bold")}};
    for (const QString& family : {theme.uiFamily, theme.monoFamily}) {
        for (const auto& [weight, style] : weights) {
            SCOPED_TRACE((family + QLatin1Char(' ') + style).toStdString());
            QFont font = family == theme.uiFamily ? theme.uiFont(16, weight) : theme.monoFont(16);
            font.setWeight(static_cast<QFont::Weight>(weight));
            QTextLayout layout(sample, font);
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            const QList<QGlyphRun> runs = layout.glyphRuns();
            ASSERT_FALSE(runs.isEmpty());
            qsizetype glyphs = 0;
            for (const QGlyphRun& run : runs) {
                EXPECT_EQ(run.rawFont().familyName(), family);
                EXPECT_EQ(run.rawFont().styleName(), style);
                glyphs += run.glyphIndexes().size();
            }
            EXPECT_EQ(glyphs, sample.size());
        }
    }
}

TEST(Theme, GermanFixedNumbers)
{
    EXPECT_EQ(qor::app::formatFixed2(1234.5), QStringLiteral("1.234,50"));
    EXPECT_EQ(qor::app::formatFixed3(1234.5), QStringLiteral("1.234,500"));
    EXPECT_EQ(qor::app::formatFixed3(1000), QStringLiteral("1.000,000"));
    EXPECT_EQ(qor::app::formatFixed2(-1234.5), QStringLiteral("-1.234,50"));
    EXPECT_EQ(qor::app::formatFixed2(-0.004), QStringLiteral("0,00")); // no "-0,00"
    EXPECT_EQ(qor::app::formatFixed3(-0.0006), QStringLiteral("-0,001"));
}

// Every icon renders, none silently falls back to "info"; the contact sheet is for people.
TEST(Theme, EveryIconRendersAndUnknownNamesDrawInfo)
{
    const QHash<QString, QString>& icons = qor::app::builtinIconSvgs();
    const QImage info = iconImage(QStringLiteral("info"));
    EXPECT_GT(opaquePixels(info), 20);
    for (const QString& name : {QStringLiteral("Extrude"), QString()})
        EXPECT_EQ(iconImage(name), info);
    EXPECT_EQ(iconImage(QStringLiteral("nope"), QColor(QStringLiteral("not a colour"))), info);

    QStringList names = icons.keys();
    names.sort();
    const int columns = 11;
    const int cell = 96;
    const Theme& theme = Theme::instance();
    QImage sheet(columns * cell, (names.size() + columns - 1) / columns * cell,
                 QImage::Format_ARGB32);
    sheet.fill(theme.bg0);
    QPainter painter(&sheet);
    painter.setPen(theme.textDim);
    painter.setFont(theme.uiFont(11));
    for (int i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i].toStdString());
        const QImage image = iconImage(names[i]);
        EXPECT_GT(opaquePixels(image), 20);
        if (names[i] != QStringLiteral("info"))
            EXPECT_NE(image, info);
        const QPoint corner(i % columns * cell, i / columns * cell);
        painter.drawPixmap(corner + QPoint(24, 12), theme.iconPixmap(names[i], 48, QColor()));
        painter.drawText(QRect(corner + QPoint(0, 66), QSize(cell, 20)), Qt::AlignCenter, names[i]);
    }
    painter.end();
    EXPECT_TRUE(sheet.save(QStringLiteral(QOR_TEST_OUTPUT "/icons.png")));
}

TEST(Theme, FilledAreasTakeTheIconColour)
{
    // The top face of "view_top" is filled at 35 % in the icon colour.
    const QImage image = Theme::instance()
                             .iconPixmap(QStringLiteral("view_top"), 48, Qt::red)
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    const QColor inside = image.pixelColor(24, 15);
    EXPECT_NEAR(inside.alphaF(), 0.35, 0.03);
    EXPECT_EQ(inside.red(), 255);
    EXPECT_EQ(inside.green(), 0);
}

TEST(Theme, DisabledIconsDifferAndTheAppIconCanBeReplaced)
{
    Theme& theme = Theme::instance();
    const QIcon icon = theme.icon(QStringLiteral("extrude"));
    EXPECT_NE(icon.pixmap(24, QIcon::Normal, QIcon::Off).toImage(),
              icon.pixmap(24, QIcon::Disabled, QIcon::Off).toImage());

    const QIcon app = theme.appIcon();
    EXPECT_EQ(theme.appIcon().cacheKey(), app.cacheKey());
    EXPECT_GT(opaquePixels(app.pixmap(256).toImage()), 40000);
    theme.customAppIcon = theme.icon(QStringLiteral("body"));
    EXPECT_EQ(theme.appIcon().cacheKey(), theme.customAppIcon.cacheKey());
    theme.customAppIcon = QIcon();
}

namespace {

QStringList styleWarnings;

void collectStyleWarnings(QtMsgType, const QMessageLogContext&, const QString& message)
{
    styleWarnings << message;
}

} // namespace

// The application carries the theme (the test main applies it): the sheet parses and the
// widgets take its colours. The image is for people to look at.
TEST(Theme, StyleSheetStylesWidgets)
{
    const Theme& theme = Theme::instance();
    styleWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectStyleWarnings);
    qApp->setStyleSheet(theme.styleSheet());

    QWidget central;
    central.setObjectName(QStringLiteral("Central"));
    auto* layout = new QVBoxLayout(&central);
    auto* primary = new QPushButton(QStringLiteral("Übernehmen"));
    primary->setObjectName(QStringLiteral("Primary"));
    auto* invalid = new QLineEdit(QStringLiteral("12 mm +"));
    invalid->setProperty("invalid", true);
    auto* value = new QLineEdit(QStringLiteral("25,4 mm"));
    value->setObjectName(QStringLiteral("ValueEdit"));
    auto* check = new QCheckBox(QStringLiteral("Beide Seiten"));
    check->setChecked(true);
    auto* combo = new QComboBox;
    combo->addItems({QStringLiteral("Neuer Körper"), QStringLiteral("Vereinigen")});
    auto* badge = new QLabel(QStringLiteral("mm"));
    badge->setObjectName(QStringLiteral("Badge"));
    auto* danger = new QLabel(QStringLiteral("2 Fehler"));
    danger->setObjectName(QStringLiteral("BadgeDanger"));
    auto* tree = new QTreeWidget;
    tree->setHeaderHidden(true);
    auto* bodies = new QTreeWidgetItem(tree, {QStringLiteral("Körper")});
    new QTreeWidgetItem(bodies, {QStringLiteral("Körper 1")});
    bodies->setIcon(0, theme.icon(QStringLiteral("bodies")));
    tree->expandAll();
    for (QWidget* widget :
         std::initializer_list<QWidget*>{primary, new QPushButton(QStringLiteral("Abbrechen")),
                                         invalid, value, check, combo, badge, danger, tree})
        layout->addWidget(widget);
    central.resize(320, 420);
    const QImage image = central.grab().toImage();
    qInstallMessageHandler(previous);
    image.save(QStringLiteral(QOR_TEST_OUTPUT "/theme-widgets.png"));

    EXPECT_TRUE(styleWarnings.filter(QStringLiteral("parse")).isEmpty())
        << styleWarnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(image.pixelColor(1, 1), theme.bg0);
    // The primary button's gradient starts at the accent colour.
    const QRect button = primary->geometry();
    const QColor left = image.pixelColor(button.left() + 3, button.center().y());
    EXPECT_LT(std::abs(left.red() - theme.accent.red()), 20) << left.name().toStdString();
    EXPECT_LT(std::abs(left.blue() - theme.accent.blue()), 20) << left.name().toStdString();
}
