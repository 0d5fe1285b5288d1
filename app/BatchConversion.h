#pragma once

#include <QByteArray>

#include <cstdio>

namespace qor::app {

// The "convert" batch mode: imports the input of "EINGABE:AUSGABE" (file names
// as the bytes given), exports the bodies to the output, prints the summary to `out` and any
// "Fehler: …" line to `err`. Returns the exit status: 0 on success, 1 on any failure.
int runConversion(const QByteArray& argument, std::FILE* out, std::FILE* err);

} // namespace qor::app
