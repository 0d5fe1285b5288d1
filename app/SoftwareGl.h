#pragma once

#include <QString>

#include <optional>

namespace qor::app {

// On a Wayland desktop with an X display and no platform chosen, use xcb.
void preferXcbOnWayland();

// Why software rendering is used, empty for hardware OpenGL. The mode comes from the
// environment value of QORCAD_GL when it is set (even to an empty text), else from the "gl"
// setting; in "auto" a pending crash marker and then the firmware identification files in
// dmiFolder ("sys_vendor", "product_name", "board_vendor") decide.
QString softwareGlReason(const std::optional<QString>& environmentMode, const QString& settingMode,
                         bool startPending, const QString& dmiFolder);

// What the OpenGL decision of an interactive start did, so that a start which ends without
// drawing can put the crash marker back.
struct GlStart {
    QString reason;
    bool markerWritten = false;
    bool wasPending = false;
};

// The decision of an interactive start, before the application object exists: reads the mode
// and the crash marker, sets the software-rendering environment, writes and flushes the crash
// marker and prints the notice.
GlStart decideSoftwareGl();

// What the process settles before the application object exists: German dates first (the
// toolkit fixes the system locale at its first use, which reading the settings already is),
// then, for a run with a window, the OpenGL decision.
GlStart prepareStart(bool batch);

// Puts the crash marker back as it was before decideSoftwareGl, for a start that ends without
// trying to draw: such an exit is no crash, and a crash recorded before stays recorded.
void restoreGlStartMarker(const GlStart& start);

} // namespace qor::app
