#pragma once

#include <QString>
#include <QStringList>

namespace qor::app {

// On a Wayland desktop with an X display and no platform chosen, use xcb.
void preferXcbOnWayland();

// Why software rendering is used, empty for hardware OpenGL. The mode is "auto",
// "hardware" or "software" (anything else counts as "auto"); a pending crash
// marker and then the firmware text decide in "auto".
QString softwareGlReason(const QString& mode, bool startPending, const QString& firmwareText);

// The firmware identification files that can be read, each trimmed and followed
// by one space.
QString readFirmwareText(const QStringList& files = {
                             QStringLiteral("/sys/class/dmi/id/sys_vendor"),
                             QStringLiteral("/sys/class/dmi/id/product_name"),
                             QStringLiteral("/sys/class/dmi/id/board_vendor")});

// The decision of an interactive start, before the application object exists:
// reads the mode and the crash marker, sets the software-rendering environment,
// writes the crash marker and prints the notice. Returns the reason.
QString decideSoftwareGl();

// Removes the crash marker again, for a start that never tried to draw.
void clearGlStartPending();

} // namespace qor::app
