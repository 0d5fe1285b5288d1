#pragma once

#include <QString>

class QCommandLineParser;
class QCoreApplication;
class QTranslator;

namespace qor::app {

struct CommandLine;
class MainWindow;
class Viewer;

// The value of "--render MODUS:BREITExHÖHE:DATEI"; the file may hold colons, numbers that do
// not read count as 0.
struct RenderRequest {
    int mode = 0;
    int width = 0;
    int height = 0;
    QString file;
};

RenderRequest parseRenderRequest(const QString& value);

// Start-up timing on standard error with QORCAD_TIMING=1: the clock starts at the top of main,
// and each logged label is written when the view shows its next frame.
void startStartupClock();
void logNextFrame(Viewer& viewer, const QString& what);

// Loads the toolkit's German texts (standard dialogs, button boxes, key names such as "Strg")
// from the system's translation folder. Returns the installed translator (owned by app), or
// null when the files are not installed and the toolkit stays English.
QTranslator* installToolkitTranslations(QCoreApplication& app);

// On a system without a locale (unset, C or POSIX) the toolkit writes dates in English, as in
// the file dialog's date column; a German program then takes German dates. A locale the user
// chose is kept, and numbers are left alone because the readers parse with the C locale.
// Call before the application object exists: the toolkit reads the locale once.
void preferGermanDatesWithoutSystemLocale();

// Carries out, once and 50 ms after the window is shown, the command-line options that act on
// the open window: the demo part, the positional file, a sketch or feature to open, the drawing
// window, and the unattended render or screenshot (of the drawing window when one was opened)
// after which the process ends; a normal start schedules the company theme check.
void handleStartupOptions(const CommandLine& commandLine, MainWindow& window);

} // namespace qor::app
