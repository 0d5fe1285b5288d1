#pragma once

#include <QString>

// The keys of the per-user settings store (the native settings of "Tarnwick"/"QorCAD", all at
// the top level) and their defaults; "lastDir" defaults to the user's home directory. Texts are
// compared exactly: a "nav" other than "fusion" means "solidedge", a "touchpad" other than
// "zoom" means "rotate". Callers open a short-lived QSettings, read or write what they need and
// let it go.
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

// The folder a file dialog starts in: "lastDir", the user's home folder while it is unset.
QString lastDirOrHome();
// After a confirmed choice in a file dialog: "lastDir" becomes the chosen file's folder.
void rememberFolderOf(const QString& file);

} // namespace qor::app::settings
