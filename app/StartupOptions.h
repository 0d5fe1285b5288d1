#pragma once

class QCommandLineParser;

namespace qor::app {

struct CommandLine;
class MainWindow;

// Carries out, once and 50 ms after the window is shown, the command-line options that act on
// the open window: the demo part, the positional file, the drawing window, and the unattended
// screenshot (of the drawing window when one was opened) after which the process ends; a normal
// start schedules the company theme check.
void handleStartupOptions(const CommandLine& commandLine, MainWindow& window);

} // namespace qor::app
