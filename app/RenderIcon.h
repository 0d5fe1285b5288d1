#pragma once

#include <QIcon>
#include <QStringList>

namespace qor::app {

// The "render-icon" batch mode: writes the icon once per "GRÖSSE:DATEI" value, in order, as a
// square image of that many pixels in the format the file's suffix names. Returns the exit
// status: 1 at the first value with a size outside 1..4096 or no path, or whose save fails
// (the files of the values before it remain, none after it is written), else 0.
int renderIcons(const QIcon& icon, const QStringList& values);

} // namespace qor::app
