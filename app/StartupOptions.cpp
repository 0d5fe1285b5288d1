#include "app/StartupOptions.h"

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/Settings.h"
#include "app/theme/CompanyTheme.h"
#include "model/DocumentController.h"
#include "model/FeatureDef.h"
#include "drawing/window/DrawingWindow.h"
#include "view/RenderCapture.h"

#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QTimer>

namespace qor::app {

namespace {

// Long enough for the first frame of the view under software OpenGL.
constexpr int screenshotDelayMs = 2200;
constexpr int drawingScreenshotDelayMs = 2500;
constexpr int themeCheckDelayMs = 4000;

// "edit:N" opens the N-th feature that is not a sketch; anything else names a feature type.
void runFeatureCommand(MainWindow& window, const QString& command)
{
    const QString editPrefix = QStringLiteral("edit:");
    if (!command.startsWith(editPrefix)) {
        // Only registry types: an unknown name on the command line must not add a feature.
        if (command != QStringLiteral("sketch") && qor::model::findFeatureDef(command) != nullptr)
            window.createFeature(command, {});
        return;
    }
    int remaining = command.mid(editPrefix.size()).toInt();
    for (const auto& feature : window.controller->document->features) {
        if (feature->type != QStringLiteral("sketch") && --remaining == 0) {
            window.editFeature(feature->id);
            return;
        }
    }
}


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

// Opens the drawing window at the main window's size. A sheet that already carries
// dimensions keeps them: automatic ones are added only to a sheet without any.
DrawingWindow* openStartupDrawing(MainWindow& window)
{
    DrawingWindow* drawing = window.openDrawing();
    if (!drawing)
        return nullptr;
    drawing->resize(window.size());
    if (drawing->sheet().dims.empty()) {
        drawing->autoDimension();
        drawing->commit(QStringLiteral("Automatisch bemaßen"));
    }
    return drawing;
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
    if (parser.isSet(commandLine.command))
        runFeatureCommand(window, parser.value(commandLine.command));
    const QPointer<DrawingWindow> drawing(
        parser.isSet(commandLine.drawing) ? openStartupDrawing(window) : nullptr);

    if (parser.isSet(commandLine.screenshot)) {
        const QString path = parser.value(commandLine.screenshot);
        // A drawing window closed in the meantime leaves the main window to grab.
        QTimer::singleShot(drawing ? drawingScreenshotDelayMs : screenshotDelayMs, &window,
                           [&window, drawing, path] {
                               QWidget* target = drawing ? static_cast<QWidget*>(drawing) : &window;
                               saveImageAndExit(window.grabWindowImage(target), path);
                           });
        return;
    }
    if (QSettings().value(settings::checkUpdates, settings::defaultCheckUpdates).toBool())
        QTimer::singleShot(themeCheckDelayMs, &window, &checkCompanyThemeUpdate);
}

} // namespace qor::app
