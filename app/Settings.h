#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

// The keys of the per-user settings store (the native settings of "Tarnwick"/"QorCAD", all at
// the top level), their defaults and how texts outside the offered choices are read. Callers
// open a short-lived QSettings, read or write what they need and let it go.
namespace qor::app::settings {

inline const QString gl = QStringLiteral("gl");
inline const QString glStartPending = QStringLiteral("glStartPending");
inline const QString recent = QStringLiteral("recent");
inline const QString nav = QStringLiteral("nav");
inline const QString touchpad = QStringLiteral("touchpad");
inline const QString geometry = QStringLiteral("geometry");
inline const QString lastDir = QStringLiteral("lastDir");
inline const QString exportFilter = QStringLiteral("exportFilter");
inline const QString meshQuality = QStringLiteral("meshQuality");
inline const QString checkUpdates = QStringLiteral("checkUpdates");

inline const QString defaultGl = QStringLiteral("auto");
inline const QString defaultNav = QStringLiteral("solidedge");
inline const QString defaultTouchpad = QStringLiteral("rotate");
inline const QString defaultExportFilter = QStringLiteral("STEP AP242 (*.step *.stp)");
inline constexpr double defaultMeshQuality = 0.02;
inline constexpr bool defaultCheckUpdates = true;
inline constexpr int maxRecent = 12;

// "hardware" and "software" exactly; any other text is "auto".
QString glModeOf(const QString& text);
// 1 (middle button pans) for exactly "fusion", else 0 (middle button rotates).
int navigationSchemeOf(const QString& text);
// A two-finger swipe rotates unless the text is exactly "zoom".
bool touchpadRotatesFor(const QString& text);
// The recent list after using path: path first, no second entry of it, at most 12 entries.
QStringList withRecent(QStringList recentPaths, const QString& path);
// The user's home directory until a file dialog stored another.
QString defaultLastDir();

// One choice of the settings dialog: the key, the value stored and the label shown.
struct Choice {
    QString key;
    QVariant value;
    QString label;
};
// In the order the dialog offers them, grouped by key.
const std::vector<Choice>& dialogChoices();

} // namespace qor::app::settings
