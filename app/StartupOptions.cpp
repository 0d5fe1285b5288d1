#include "app/StartupOptions.h"

#include "app/CommandLine.h"
#include "app/Examples.h"
#include "app/MainWindow.h"
#include "app/UnattendedDialogs.h"
#include "drawing/window/DrawingWindow.h"
#include "drawing/window/SheetCanvas.h"
#include "model/DocumentController.h"
#include "model/FeatureDef.h"
#include "ui/Settings.h"
#include "ui/theme/CompanyTheme.h"
#include "view/RenderCapture.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <functional>
#include <memory>

namespace qor::app {

namespace {

constexpr int themeCheckDelayMs = 4000;
// A camera animation takes a few dozen frames; a view that goes on asking for frames beyond
// this many is pictured as it is rather than never.
constexpr int maxMovingFrames = 600;
constexpr int renderSetupDelayMs = 1500;
constexpr int renderSaveDelayMs = 4000;
constexpr int pathTracedSaveDelayMs = 20000;

QElapsedTimer& startClock()
{
    static QElapsedTimer clock;
    return clock;
}

// status: 1 when what the run was to show could not be opened, else 0.
void scheduleRender(MainWindow& window, const RenderRequest& request, int status)
{
    QTimer::singleShot(renderSetupDelayMs, &window, [&window, mode = request.mode] {
        window.viewer->setRenderMode(
            mode, true, qEnvironmentVariableIntValue("QORCAD_RENDER_REFLECTIONS") != 0);
        window.scene->rebuild();
    });
    QTimer::singleShot(request.mode == 2 ? pathTracedSaveDelayMs : renderSaveDelayMs, &window,
                       [&window, request, status] {
                           saveRenderAndExit(&window, request.width, request.height, request.file,
                                             status);
                       });
}

// Calls then once the view has drawn a frame that shows what was opened: the view's first
// frame may come late under software OpenGL, a build of many bodies shows them in chunks and
// a fit after an import moves the camera for a while.
void whenViewSettled(MainWindow& window, const std::function<void()>& then)
{
    // Frames swapped before the first queued call runs have queued calls of their own, which
    // still come after the disconnection.
    struct Waiting {
        QMetaObject::Connection frames;
        int movingFrames = 0;
        bool done = false;
    };
    auto waiting = std::make_shared<Waiting>();
    waiting->frames = QObject::connect(
        window.viewer, &Viewer::frameSwapped, &window,
        [&window, waiting, then] {
            if (waiting->done)
                return;
            // Drawn, no scene build under way, and the camera at rest.
            const Viewer& viewer = *window.viewer;
            const bool shown = viewer.firstFrameDrawn() && !window.scene->building();
            if (shown && viewer.animating())
                ++waiting->movingFrames;
            if (!shown || (viewer.animating() && waiting->movingFrames <= maxMovingFrames)) {
                window.viewer->update();
                return;
            }
            waiting->done = true;
            QObject::disconnect(waiting->frames);
            then();
        },
        // After the frame's paint has returned: the grab paints again.
        Qt::QueuedConnection);
    window.viewer->update();
}

// The picture of the drawing window when one was opened, else of the main window, and the
// end of the process.
void takeScreenshot(MainWindow& window, DrawingWindow* drawing, const QString& path, int status)
{
    // A drawing window closed in the meantime leaves the main window to grab.
    QWidget* target = drawing != nullptr ? static_cast<QWidget*>(drawing) : &window;
    saveImageAndExit(window.grabWindowImage(target), path, status);
}

// "edit:N" opens the N-th feature that is not a sketch; anything else names a feature type.
// False when the command names no feature type, or no feature stands at that number.
bool runFeatureCommand(MainWindow& window, const QString& command)
{
    const QString editPrefix = QStringLiteral("edit:");
    if (!command.startsWith(editPrefix)) {
        // Only registry types: an unknown name on the command line must not add a feature.
        if (command == QStringLiteral("sketch") || qor::model::findFeatureDef(command) == nullptr)
            return false;
        window.createFeature(command, {});
        return true;
    }
    int remaining = command.mid(editPrefix.size()).toInt();
    for (const auto& feature : window.controller->document->features) {
        if (feature->type != QStringLiteral("sketch") && --remaining == 0) {
            window.editFeature(feature->id);
            return true;
        }
    }
    return false;
}

// The first sketch feature in history order is 1; false when there is no such sketch.
bool enterNthSketch(MainWindow& window, int number)
{
    int count = 0;
    for (const auto& feature : window.controller->document->features) {
        if (feature->type == QStringLiteral("sketch") && ++count == number) {
            window.enterSketch(feature->id);
            return true;
        }
    }
    return false;
}

// An option naming something that is not there is said in the window and on standard
// error, and the run ends with 1 as when its file cannot be opened: a script must not take
// a picture of something else for the one it asked for.
void refuseOption(MainWindow& window, const QString& text, int& status)
{
    std::fprintf(stderr, "QorCAD: %s\n", text.toLocal8Bit().constData());
    window.showToast(text, true);
    status = 1;
}

// Opens the drawing window at the main window's size. A sheet that already carries
// dimensions keeps them: automatic ones are added only to a sheet without any.
// The bytes given for an argument the parser decoded to text; the text's own encoding when
// no given argument decodes to it.
QByteArray givenBytes(const CommandLine& commandLine, const QString& decoded)
{
    for (const QByteArray& given : commandLine.givenArguments) {
        if (QFile::decodeName(given) == decoded)
            return given;
    }
    return QFile::encodeName(decoded);
}

// The file named on the command line, by the bytes given: a name that is not valid UTF-8
// is opened through a link that lasts as long as the window. False when it was not opened.
bool openStartupFile(MainWindow& window, const CommandLine& commandLine, const QString& file)
{
    return window.openFileBytes(givenBytes(commandLine, file), file);
}

DrawingWindow* openStartupDrawing(MainWindow& window)
{
    DrawingWindow* drawing = window.openDrawing();
    if (!drawing)
        return nullptr;
    drawing->resize(window.size());
    // The sheet fits itself on the window's first size only; this is a new size for a window
    // nobody has looked at yet.
    drawing->canvas->fitToWindow();
    if (drawing->sheet().dims.empty()) {
        drawing->autoDimension();
        drawing->commit(QStringLiteral("Automatisch bemaßen"));
    }
    return drawing;
}

} // namespace

RenderRequest parseRenderRequest(const QString& value)
{
    const QStringList parts = value.split(QLatin1Char(':'));
    RenderRequest request;
    request.mode = parts.value(0).toInt();
    const QStringList size = parts.value(1).split(QLatin1Char('x'));
    request.width = size.value(0).toInt();
    request.height = size.value(1).toInt();
    request.file = parts.mid(2).join(QLatin1Char(':'));
    return request;
}

void startStartupClock()
{
    startClock().start();
}

void logNextFrame(Viewer& viewer, const QString& what)
{
    if (qEnvironmentVariableIntValue("QORCAD_TIMING") == 0)
        return;
    auto* connection = new QMetaObject::Connection;
    *connection = QObject::connect(&viewer, &Viewer::frameSwapped, &viewer, [connection, what] {
        QObject::disconnect(*connection);
        delete connection;
        std::fprintf(stderr, "qorcad: %s nach %lld ms\n", what.toLocal8Bit().constData(),
                     static_cast<long long>(startClock().elapsed()));
    });
}

void handleStartupOptions(const CommandLine& commandLine, MainWindow& window)
{
    const QCommandLineParser& parser = commandLine.parser;
    const bool render = parser.isSet(commandLine.render);
    const bool screenshot = parser.isSet(commandLine.screenshot) && !render;
    // Nobody watches these runs: a message box while a file opens (missing parts of an
    // assembly, say) would wait for ever; its text goes to standard error instead.
    if (render || screenshot)
        refuseDialogs();
    int status = 0;
    if (parser.isSet(commandLine.demo)) {
        const QString kind = parser.value(commandLine.demo);
        window.createExample(kind);
        if (!isExampleKind(kind))
            refuseOption(window,
                         QStringLiteral("Kein Beispiel „%1“ (bracket, flange, housing)").arg(kind),
                         status);
    }
    const QStringList files = parser.positionalArguments();
    // A picture is still taken when the file could not be opened, but the run ends with 1: a
    // script must not read the failure as success.
    if (!files.isEmpty() && !openStartupFile(window, commandLine, files.first()))
        status = 1;
    if (parser.isSet(commandLine.editSketch)
        && !enterNthSketch(window, parser.value(commandLine.editSketch).toInt()))
        refuseOption(
            window,
            QStringLiteral("Keine Skizze Nummer „%1“").arg(parser.value(commandLine.editSketch)),
            status);
    if (parser.isSet(commandLine.sketchTool) && window.sketchEditor)
        window.sketchEditor->setTool(parser.value(commandLine.sketchTool).toInt());
    if (parser.isSet(commandLine.command)
        && !runFeatureCommand(window, parser.value(commandLine.command)))
        refuseOption(
            window,
            QStringLiteral("Unbekannter Befehl „%1“").arg(parser.value(commandLine.command)),
            status);
    QPointer<DrawingWindow> drawing;
    if (parser.isSet(commandLine.drawing))
        drawing = openStartupDrawing(window);
    // A display the user cancelled shows only part of the document.
    logNextFrame(*window.viewer, window.scene->buildCancelled()
                                     ? QStringLiteral("Anzeige abgebrochen")
                                     : QStringLiteral("Dokument gezeigt"));

    if (render) {
        scheduleRender(window, parseRenderRequest(parser.value(commandLine.render)), status);
        return;
    }
    // Everything above has run to its end (an import, its display, the drawing's views); the
    // picture waits only for the view to show it.
    if (screenshot) {
        whenViewSettled(window, [&window, drawing, path = parser.value(commandLine.screenshot),
                                 status] { takeScreenshot(window, drawing, path, status); });
        return;
    }
    if (QSettings().value(settings::checkUpdates, settings::defaultCheckUpdates).toBool())
        QTimer::singleShot(themeCheckDelayMs, &window, &checkCompanyThemeUpdate);
}

QTranslator* installToolkitTranslations(QCoreApplication& app)
{
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

namespace {

bool isNoLocale(const QByteArray& value)
{
    return value.isEmpty() || value == "C" || value == "POSIX" || value.startsWith("C.");
}

} // namespace

void preferGermanDatesWithoutSystemLocale()
{
    const QByteArray all = qgetenv("LC_ALL");
    const QByteArray time = !all.isEmpty()                         ? all
                            : qEnvironmentVariableIsSet("LC_TIME") ? qgetenv("LC_TIME")
                                                                   : qgetenv("LANG");
    if (!isNoLocale(time))
        return;
    // A locale forced for every category would hide the dates' own; the other categories
    // keep it through LANG.
    if (!all.isEmpty()) {
        qputenv("LANG", all);
        qunsetenv("LC_ALL");
    }
    qputenv("LC_TIME", "de_DE.UTF-8");
}

} // namespace qor::app
