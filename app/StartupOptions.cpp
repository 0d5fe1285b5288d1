#include "app/StartupOptions.h"

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/Settings.h"
#include "app/theme/CompanyTheme.h"
#include "model/DocumentController.h"
#include "view/RenderCapture.h"

#include <QFileInfo>
#include <QSettings>
#include <QTimer>

namespace qor::app {

namespace {

// Long enough for the first frame of the view under software OpenGL.
constexpr int screenshotDelayMs = 2200;
constexpr int themeCheckDelayMs = 4000;

// The first sketch feature in history order is 1; numbers without a sketch enter nothing.
void enterNthSketch(MainWindow& window, int number)
{
    int count = 0;
    for (const auto& feature : window.controller->document->features) {
        if (feature->type == QStringLiteral("sketch") && ++count == number) {
            window.enterSketch(feature->id);
            return;
        }
    }
}

} // namespace

void handleStartupOptions(const CommandLine& commandLine, MainWindow& window)
{
    const QCommandLineParser& parser = commandLine.parser;
    if (parser.isSet(commandLine.demo))
        window.createExample(parser.value(commandLine.demo));
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty())
        window.openFile(QFileInfo(files.first()).absoluteFilePath());
    if (parser.isSet(commandLine.editSketch))
        enterNthSketch(window, parser.value(commandLine.editSketch).toInt());

    if (parser.isSet(commandLine.screenshot)) {
        const QString path = parser.value(commandLine.screenshot);
        QTimer::singleShot(screenshotDelayMs, &window, [&window, path] {
            saveImageAndExit(window.grabWindowImage(&window), path);
        });
        return;
    }
    if (QSettings().value(settings::checkUpdates, settings::defaultCheckUpdates).toBool())
        QTimer::singleShot(themeCheckDelayMs, &window, &checkCompanyThemeUpdate);
}

} // namespace qor::app
