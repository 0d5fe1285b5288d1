#pragma once

#include <QIcon>
#include <QStringList>

namespace qor::app {

// The "render-icon" batch mode: writes the icon once per "GRÖSSE:DATEI" value, in order, as a
// square image of that many pixels in the format the file's suffix names. Returns the exit
// status: 1 without writing anything when a value has a size outside 1..4096 or no path,
// 1 when a save fails (files written before remain), else 0.
int renderIcons(const QIcon& icon, const QStringList& values);

} // namespace qor::app
