#include "app/BatchConversion.h"
#include "app/CommandLine.h"
#include "app/SoftwareGl.h"

#include <OSD.hxx>

#include <QCoreApplication>
#include <QVariant>

#include <cstdio>

int main(int argc, char** argv)
{
    qor::app::preferXcbOnWayland();
    // Kernel faults become exceptions; floating-point traps stay off.
    OSD::SetSignal(OSD_SignalMode_Set, false);

    QString softwareGl;
    if (!qor::app::isBatchRun(argc, argv))
        softwareGl = qor::app::decideSoftwareGl();

    // The batch modes need no display, so they run on a core application object:
    // a conversion works on a machine without any windowing system.
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnwick"));
    QCoreApplication::setApplicationName(QStringLiteral("QorCAD"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.0"));
    app.setProperty("buildId", QString());
    app.setProperty("softwareGl", softwareGl);

    qor::app::CommandLine commandLine;
    commandLine.parser.process(app);

    if (commandLine.parser.isSet(commandLine.convert))
        return qor::app::runConversion(commandLine.parser.value(commandLine.convert), stdout, stderr);

    if (commandLine.parser.isSet(commandLine.renderIcon)) {
        std::fputs("QorCAD: Das Schreiben des Programmsymbols (--render-icon) gibt es in dieser "
                   "Version noch nicht.\n",
                   stderr);
        return 1;
    }

    // No window was tried, so there is no crash for the next start to remember.
    qor::app::clearGlStartPending();
    std::fputs("QorCAD 1.2.0: Das Programmfenster ist in dieser Version noch nicht gebaut; "
               "nutzbar ist die Umwandlung mit --convert EINGABE:AUSGABE.\n",
               stderr);
    return 1;
}
