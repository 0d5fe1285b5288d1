#include "app/StartupOptions.h"

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/Settings.h"
#include "app/theme/CompanyTheme.h"
#include "view/RenderCapture.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

#include <cstdio>

namespace qor::app {

namespace {

// Long enough for the first frame of the view under software OpenGL.
constexpr int screenshotDelayMs = 2200;
constexpr int themeCheckDelayMs = 4000;
constexpr int renderSetupDelayMs = 1500;
constexpr int renderSaveDelayMs = 4000;
constexpr int pathTracedSaveDelayMs = 20000;

QElapsedTimer& startClock()
{
    static QElapsedTimer clock;
    return clock;
}

void scheduleRender(MainWindow& window, const RenderRequest& request)
{
    QTimer::singleShot(renderSetupDelayMs, &window, [&window, mode = request.mode] {
        window.viewer->setRenderMode(mode, true,
                                     qEnvironmentVariableIntValue("QORCAD_RENDER_REFLECTIONS") != 0);
        window.scene->rebuild();
    });
    QTimer::singleShot(request.mode == 2 ? pathTracedSaveDelayMs : renderSaveDelayMs, &window,
                       [&window, request] {
                           saveRenderAndExit(&window, request.width, request.height, request.file);
                       });
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
    if (parser.isSet(commandLine.demo))
        window.createExample(parser.value(commandLine.demo));
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty())
        window.openFile(QFileInfo(files.first()).absoluteFilePath());
    logNextFrame(*window.viewer, QStringLiteral("Dokument gezeigt"));

    if (parser.isSet(commandLine.render)) {
        scheduleRender(window, parseRenderRequest(parser.value(commandLine.render)));
        return;
    }
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
