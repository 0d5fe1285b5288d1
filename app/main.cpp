#include "app/BatchConversion.h"
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/RenderIcon.h"
#include "app/SoftwareGl.h"
#include "app/StartupOptions.h"
#include "io/KernelAllocator.h"
#include "io/ReaderProcess.h"
#include "io/ReaderServer.h"
#include "ui/theme/CompanyTheme.h"
#include "ui/theme/Theme.h"
#include "view/Viewer.h"

#include <OSD.hxx>

#include <QApplication>
#include <QTimer>
#include <QVariant>

#include <cstdio>

// Last: Xlib defines macros (None, Bool, Status) that would break the headers above.
#include <X11/Xlib.h>

namespace {

// Batch output is the summary and "Fehler: …" lines; the toolkit's own notices (such as a
// missing runtime folder when run as root) would only clutter it. Critical and fatal
// messages still reach standard error.
void quietToolkitNotices(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// The 3D view draws through an X display whatever platform the toolkit uses.
bool xDisplayReachable()
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XCloseDisplay(display);
    return true;
}

// "BREITExHÖHE" (default "1600x980"); a value that does not split into exactly two parts
// leaves the size alone, an unreadable number counts as 0 and gives the minimum size.
void applyWindowSize(QWidget& window, const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    if (parts.size() == 2)
        window.resize(parts[0].toInt(), parts[1].toInt());
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything else: the program may start again with the kernel allocator chosen.
    qor::io::usePooledKernelAllocator(argv);
    qor::app::startStartupClock();
    qor::app::preferXcbOnWayland();
    // Kernel faults become exceptions; floating-point traps stay off.
    OSD::SetSignal(OSD_SignalMode_Set, false);

    const bool batch = qor::app::isBatchRun(argc, argv);
    // Taken before the application object, which decodes (and may rewrite) the arguments.
    const QByteArray convertBytes = qor::app::convertArgument(argc, argv);
    QByteArrayList givenArguments;
    for (int i = 0; i < argc; ++i)
        givenArguments.append(QByteArray(argv[i]));
    if (!batch && !xDisplayReachable()) {
        std::fputs("QorCAD: Keine X-Anzeige erreichbar (DISPLAY), das Programmfenster kann nicht "
                   "geöffnet werden.\n",
                   stderr);
        return 1;
    }
    // The batch modes open no window and draw offscreen: a conversion or an icon never
    // depends on a display server that is busy or gone.
    if (batch) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(quietToolkitNotices);
    }

    const qor::app::GlStart glStart = qor::app::prepareStart(batch);

    // Only the window's OpenGL widgets share contexts; the shared context would make a batch
    // run start OpenGL, which it never uses.
    if (!batch)
        QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tarnwick"));
    QApplication::setApplicationName(QStringLiteral("QorCAD"));
    QApplication::setApplicationVersion(QStringLiteral("1.2.0"));
    QApplication::setDesktopFileName(QStringLiteral("qorcad"));
    app.setProperty("updateUrl", qor::app::updateUrl());
    app.setProperty("buildId", qor::app::companyId);
    app.setProperty("softwareGl", glStart.reason);

    // Before the parser, which answers --help with the toolkit's own lines ("Usage:").
    qor::app::installToolkitTranslations(app);
    qor::app::CommandLine commandLine;
    commandLine.givenArguments = givenArguments;
    // Help, version and a refused command line end the process here; none of those runs tried
    // to draw, so the crash marker goes back first.
    const bool parsed = commandLine.parse(QApplication::arguments());
    if (commandLine.endsInParser(parsed))
        qor::app::restoreGlStartMarker(glStart);
    if (!parsed) {
        std::fprintf(stderr, "Fehler: %s\n", commandLine.errorText().toLocal8Bit().constData());
        return 1;
    }
    // Answers help and version and ends the process.
    commandLine.parser.process(app);

    const bool convert = commandLine.parser.isSet(commandLine.convert);
    const bool renderIcon = commandLine.parser.isSet(commandLine.renderIcon);
    if (convert || renderIcon)
        qor::app::restoreGlStartMarker(glStart);
    // The reader server links while the program goes on starting: the first import does not
    // wait for it.
    if (!renderIcon)
        qor::io::startReaderServer(qor::io::readerProgram());
    if (convert) {
        return qor::app::runConversion(convertBytes, stdout, stderr);
    }

    // Before the icon export and the style sheet, so that both show the pack's look.
    qor::app::applyCompanyTheme();
    if (renderIcon)
        return qor::app::renderIcons(qor::app::Theme::instance().appIcon(),
                                     commandLine.parser.values(commandLine.renderIcon));

    qor::app::Theme::instance().apply(app);
    qor::app::MainWindow window;
    if (commandLine.parser.isSet(commandLine.screenshot))
        applyWindowSize(window, commandLine.parser.value(commandLine.size));
    qor::app::logNextFrame(*window.viewer, QStringLiteral("Erstes Bild"));
    window.show();
    QTimer::singleShot(50, &window, [&commandLine, &window] {
        qor::app::handleStartupOptions(commandLine, window);
    });
    return app.exec();
}
