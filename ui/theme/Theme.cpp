#include "ui/theme/Theme.h"

#include "expr/Format.h"
#include "ui/theme/Icons.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

#include <algorithm>
#include <utility>
#include <vector>

// Resources of a static library are registered only when something asks for them.
static void initThemeResources()
{
    Q_INIT_RESOURCE(qorcad);
}

namespace qor::app {

namespace {

// The interface and monospace fonts, one complete static file per weight. Qt 6.4 cannot move
// the weight axis of a variable font, and subset files (Latin, Latin-extended) registered under
// one family and style let it pick a subset without the basic Latin letters. The files map
// U+2300 and U+2011 to existing glyphs (scripts/font-aliases.py), so the diameter sign and the
// non-breaking hyphen do not fall back to a system font.
const char* const fontResources[] = {
    ":/fonts/space-grotesk-400.ttf",  ":/fonts/space-grotesk-500.ttf",
    ":/fonts/space-grotesk-600.ttf",  ":/fonts/space-grotesk-700.ttf",
    ":/fonts/jetbrains-mono-400.ttf", ":/fonts/jetbrains-mono-500.ttf",
    ":/fonts/jetbrains-mono-600.ttf", ":/fonts/jetbrains-mono-700.ttf",
};

const int iconSizes[] = {16, 20, 24, 32, 40};
const int appIconSizes[] = {16, 24, 32, 48, 64, 96, 128, 256};

QString hex(const QColor& c)
{
    return c.name(QColor::HexRgb);
}

QColor Theme::*namedColor(const QString& name)
{
    static const std::pair<const char*, QColor Theme::*> table[] = {
        {"Bg0Color", &Theme::bg0},           {"Bg1Color", &Theme::bg1},
        {"Bg2Color", &Theme::bg2},           {"Bg3Color", &Theme::bg3},
        {"LineColor", &Theme::line},         {"LineBrightColor", &Theme::lineBright},
        {"TextColor", &Theme::text},         {"TextDimColor", &Theme::textDim},
        {"TextMuteColor", &Theme::textMute}, {"AccentColor", &Theme::accent},
        {"Accent2Color", &Theme::accent2},   {"Accent3Color", &Theme::accent3},
    };
    for (const auto& [key, member] : table) {
        if (name == QLatin1String(key))
            return member;
    }
    return nullptr;
}

// The screen's pixels per point; 1 without a graphical application (icon export).
qreal deviceRatio()
{
    const auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return gui ? gui->devicePixelRatio() : 1.0;
}

QPixmap renderSvg(const QByteArray& svg, int side, qreal ratio)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(svg);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, side, side));
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

} // namespace

Theme& Theme::instance()
{
    static Theme theme = [] {
        initThemeResources();
        return Theme();
    }();
    return theme;
}

QColor Theme::mix(const QColor& a, const QColor& b, double t)
{
    auto channel = [t](float x, float y) { return x + (y - x) * t; };
    return QColor::fromRgbF(channel(a.redF(), b.redF()), channel(a.greenF(), b.greenF()),
                            channel(a.blueF(), b.blueF()), channel(a.alphaF(), b.alphaF()));
}

QString Theme::rgba(const QColor& c, double alpha)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(QString::number(alpha, 'g'));
}

QFont Theme::uiFont(int px, int weight) const
{
    QFont font(uiFamily);
    font.setPixelSize(px);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QFont Theme::monoFont(int px) const
{
    QFont font(monoFamily);
    font.setPixelSize(px);
    return font;
}

QFont Theme::captionFont(int px) const
{
    QFont font = uiFont(px, 600);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    return font;
}

void Theme::applyNamedColors(const QMap<QString, QColor>& colors)
{
    for (auto it = colors.begin(); it != colors.end(); ++it) {
        QColor Theme::*member = namedColor(it.key());
        if (member && it.value().isValid())
            this->*member = it.value();
    }
}

void Theme::loadFonts()
{
    for (const char* resource : fontResources) {
        const QString path = QString::fromLatin1(resource);
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0)
            continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (families.isEmpty())
            continue;
        (path.contains(QLatin1String("space")) ? uiFamily : monoFamily) = families.first();
    }
}

QString Theme::styleSheet() const
{
    QFile file(QStringLiteral(":/ui/theme.qss"));
    file.open(QIODevice::ReadOnly);
    QString sheet = QString::fromUtf8(file.readAll());

    std::vector<std::pair<QString, QString>> values = {
        {QStringLiteral("%UI%"), uiFamily},
        {QStringLiteral("%MONO%"), monoFamily},
        {QStringLiteral("%BG0%"), hex(bg0)},
        {QStringLiteral("%BG1%"), hex(bg1)},
        {QStringLiteral("%BG2%"), hex(bg2)},
        {QStringLiteral("%BG3%"), hex(bg3)},
        {QStringLiteral("%BG0B%"), hex(mix(bg0, bg1, 0.4))},
        {QStringLiteral("%BG1A%"), rgba(bg1, 0.92)},
        {QStringLiteral("%LINE%"), hex(line)},
        {QStringLiteral("%LINEB%"), hex(lineBright)},
        {QStringLiteral("%TEXT%"), hex(text)},
        {QStringLiteral("%TEXTDIM%"), hex(textDim)},
        {QStringLiteral("%TEXTMUTE%"), hex(textMute)},
        {QStringLiteral("%ACCENT%"), hex(accent)},
        {QStringLiteral("%ACCENT2%"), hex(accent2)},
        {QStringLiteral("%ACCENT3%"), hex(accent3)},
        {QStringLiteral("%ACCENTA%"), rgba(accent, 0.45)},
        {QStringLiteral("%ACCENTS%"), rgba(accent, 0.18)},
        {QStringLiteral("%ACCENTF%"), rgba(accent, 0.08)},
        {QStringLiteral("%ACCENT3F%"), rgba(accent3, 0.12)},
        {QStringLiteral("%SUCCESS%"), hex(success)},
        {QStringLiteral("%SUCCESSF%"), rgba(success, 0.12)},
        {QStringLiteral("%SUCCESSA%"), rgba(success, 0.45)},
        {QStringLiteral("%WARNING%"), hex(warning)},
        {QStringLiteral("%WARNINGF%"), rgba(warning, 0.12)},
        {QStringLiteral("%WARNINGA%"), rgba(warning, 0.45)},
        {QStringLiteral("%DANGER%"), hex(danger)},
        {QStringLiteral("%DANGERF%"), rgba(danger, 0.12)},
        {QStringLiteral("%DANGERA%"), rgba(danger, 0.45)},
    };
    // Longest first, so that %ACCENT% never eats the start of %ACCENT3F%.
    std::stable_sort(values.begin(), values.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    for (const auto& [placeholder, value] : values)
        sheet.replace(placeholder, value);
    return sheet;
}

QPixmap Theme::iconPixmap(const QString& name, int px, const QColor& color) const
{
    const qreal ratio = deviceRatio();
    const QString colour = hex(color.isValid() ? color : text);
    const QString key = QStringLiteral("%1|%2|%3|%4").arg(name).arg(px).arg(colour).arg(ratio);
    if (const auto hit = pixmapCache_.constFind(key); hit != pixmapCache_.constEnd())
        return *hit;
    const QHash<QString, QString>& icons = builtinIconSvgs();
    QString markup = icons.value(name);
    if (markup.isEmpty())
        markup = icons.value(QStringLiteral("info"));
    markup.replace(QStringLiteral("fill=\"C\""), QStringLiteral("fill=\"%1\"").arg(colour));
    const QString svg
        = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\" "
                         "fill=\"none\" stroke=\"%1\" stroke-width=\"1.6\" "
                         "stroke-linecap=\"round\" stroke-linejoin=\"round\">%2</svg>")
              .arg(colour, markup);
    const QPixmap pixmap = renderSvg(svg.toUtf8(), static_cast<int>(px * ratio), ratio);
    pixmapCache_.insert(key, pixmap);
    return pixmap;
}

QIcon Theme::icon(const QString& name, const QColor& color) const
{
    const QColor normal = color.isValid() ? color : text;
    const QString key = QStringLiteral("%1|%2|%3|%4|%5")
                            .arg(name, hex(normal), hex(accent), hex(textMute))
                            .arg(deviceRatio());
    if (const auto hit = iconCache_.constFind(key); hit != iconCache_.constEnd())
        return *hit;
    QIcon result;
    for (int px : iconSizes) {
        result.addPixmap(iconPixmap(name, px, normal), QIcon::Normal, QIcon::Off);
        result.addPixmap(iconPixmap(name, px, accent), QIcon::Active, QIcon::Off);
        result.addPixmap(iconPixmap(name, px, accent), QIcon::Normal, QIcon::On);
        result.addPixmap(iconPixmap(name, px, textMute), QIcon::Disabled, QIcon::Off);
    }
    iconCache_.insert(key, result);
    return result;
}

QIcon Theme::appIcon() const
{
    if (!customAppIcon.isNull())
        return customAppIcon;
    static const QIcon rendered = [] {
        QFile file(QStringLiteral(":/icons/qorcad.svg"));
        file.open(QIODevice::ReadOnly);
        const QByteArray svg = file.readAll();
        QIcon result;
        for (int px : appIconSizes)
            result.addPixmap(renderSvg(svg, px, 1.0), QIcon::Normal, QIcon::Off);
        return result;
    }();
    return rendered;
}

void Theme::apply(QApplication& app)
{
    loadFonts();
    app.setFont(uiFont(13, 400));

    QPalette palette;
    auto set = [&palette](QPalette::ColorRole role, const QColor& colour) {
        palette.setBrush(QPalette::All, role, QBrush(colour));
    };
    set(QPalette::Window, bg0);
    set(QPalette::WindowText, text);
    set(QPalette::Base, bg2);
    set(QPalette::AlternateBase, bg1);
    set(QPalette::Text, text);
    set(QPalette::Button, bg3);
    set(QPalette::ButtonText, text);
    set(QPalette::Highlight, mix(bg2, accent, 0.35));
    set(QPalette::HighlightedText, text);
    set(QPalette::ToolTipBase, bg2);
    set(QPalette::ToolTipText, text);
    set(QPalette::PlaceholderText, textMute);
    set(QPalette::Link, accent);
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        palette.setBrush(QPalette::Disabled, role, QBrush(textMute));
    app.setPalette(palette);

    app.setStyleSheet(styleSheet());
    app.setWindowIcon(appIcon());
}

QString formatFixed2(double value)
{
    return germanNumber(value, 2);
}

QString formatFixed3(double value)
{
    return germanNumber(value, 3);
}

} // namespace qor::app
