#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QMap>
#include <QPixmap>
#include <QString>

class QApplication;

namespace qor::app {

// The one look of the application: palette, fonts, line icons, application icon and the
// generated style sheet. Widgets that paint themselves read the colour members directly.
class Theme {
public:
    static Theme& instance();

    // Per channel (alpha included) a + (b - a) * t on the floating-point channels; t unclamped.
    static QColor mix(const QColor& a, const QColor& b, double t);
    // Style-sheet text "rgba(r,g,b,alpha)"; the colour's own alpha is ignored.
    static QString rgba(const QColor& c, double alpha);

    // weight on the 1..1000 scale: 400 regular, 500 medium, 600 semi-bold, 700 bold.
    QFont uiFont(int px, int weight = 400) const;
    QFont monoFont(int px) const;
    // Semi-bold with 1.2 px letter spacing, for upper-case captions.
    QFont captionFont(int px) const;

    // Replaces the twelve overridable colours ("Bg0Color" ... "Accent3Color") present in
    // colors with a valid colour; other keys are ignored.
    void applyNamedColors(const QMap<QString, QColor>& colors);
    // Registers the bundled fonts and stores the families the font database reports.
    void loadFonts();
    QString styleSheet() const;

    // One line icon as a square pixmap of px logical pixels; an unknown name draws "info",
    // an invalid colour draws in text.
    QPixmap iconPixmap(const QString& name, int px, const QColor& color = QColor()) const;
    // Sizes 16, 20, 24, 32 and 40 in the colour, accent when hovered or checked, textMute
    // when disabled.
    QIcon icon(const QString& name, const QColor& color = QColor()) const;
    QIcon appIcon() const;

    // Fonts, palette, style sheet and window icon of the application.
    void apply(QApplication& app);

    QColor bg0{0x05, 0x09, 0x12};
    QColor bg1{0x0A, 0x11, 0x1F};
    QColor bg2{0x0F, 0x1A, 0x2D};
    QColor bg3{0x16, 0x25, 0x3F};
    QColor line{0x1C, 0x2B, 0x45};
    QColor lineBright{0x2E, 0x45, 0x68};
    QColor text{0xE6, 0xED, 0xF7};
    QColor textDim{0x9A, 0xAB, 0xC7};
    QColor textMute{0x5E, 0x70, 0x92};
    QColor accent{0x00, 0xE5, 0xFF};
    QColor accent2{0x7C, 0x4D, 0xFF};
    QColor accent3{0xFF, 0x2B, 0xD6};
    QColor success{0x2B, 0xFF, 0xA3};
    QColor warning{0xFF, 0xC2, 0x4D};
    QColor danger{0xFF, 0x4D, 0x6D};
    QString uiFamily = QStringLiteral("Space Grotesk");
    QString monoFamily = QStringLiteral("JetBrains Mono");
    // Set by the company theme pack before apply; the theme does not read companyName.
    QString companyName;
    QIcon customAppIcon;

private:
    // Rendered icons by name, size, colours and pixel ratio: a tree of thousands of items
    // shares one copy of each instead of rendering its own.
    mutable QHash<QString, QPixmap> pixmapCache_;
    mutable QHash<QString, QIcon> iconCache_;

    Theme() = default;
    Theme(const Theme&) = delete;
    Theme& operator=(const Theme&) = delete;
};

// German number formats with a fixed number of decimals: 1234.5 -> "1.234,50" / "1.234,500".
QString formatFixed2(double value);
QString formatFixed3(double value);

} // namespace qor::app
