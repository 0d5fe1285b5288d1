#include "app/SoftwareGl.h"

#include "app/StartupOptions.h"
#include "ui/Settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <cstdio>

namespace qor::app {

namespace {

// Program start runs before the application object has its names, so it names the store.
QSettings startSettings()
{
    return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("QorCAD"));
}

// The identification files that can be read, each trimmed and followed by one space.
QString firmwareText(const QString& dmiFolder)
{
    QString text;
    for (const char* name : {"sys_vendor", "product_name", "board_vendor"}) {
        QFile file(QDir(dmiFolder).filePath(QLatin1String(name)));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromLatin1(file.readAll()).trimmed() + u' ';
    }
    return text;
}

// Searched in this order, so "innotek GmbH VirtualBox" names VirtualBox.
QString virtualMachineIn(const QString& text)
{
    for (const char* machine : {"VirtualBox", "innotek", "VMware", "QEMU", "KVM", "Bochs",
                                "Parallels", "Xen", "Virtual Machine"}) {
        if (text.contains(QLatin1String(machine), Qt::CaseInsensitive))
            return QLatin1String(machine);
    }
    return {};
}

} // namespace

void preferXcbOnWayland()
{
    if (qEnvironmentVariable("XDG_SESSION_TYPE") == u"wayland"
        && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

QString softwareGlReason(const std::optional<QString>& environmentMode, const QString& settingMode,
                         bool startPending, const QString& dmiFolder)
{
    const QString mode = settings::glModeOf(environmentMode.value_or(settingMode));
    if (mode == u"software")
        return QStringLiteral("Einstellung");
    if (mode == u"hardware")
        return {};
    if (startPending)
        return QStringLiteral("Absturz beim letzten Start");
    const QString machine = virtualMachineIn(firmwareText(dmiFolder));
    return machine.isEmpty() ? QString() : QStringLiteral("virtuelle Maschine (%1)").arg(machine);
}

GlStart decideSoftwareGl()
{
    QSettings store = startSettings();
    GlStart start;
    start.wasPending = store.value(settings::glStartPending, false).toBool();
    const std::optional<QString> environmentMode
        = qEnvironmentVariableIsSet("QORCAD_GL") ? std::optional(qEnvironmentVariable("QORCAD_GL"))
                                                 : std::nullopt;
    start.reason = softwareGlReason(environmentMode,
                                    store.value(settings::gl, settings::defaultGl).toString(),
                                    start.wasPending, QStringLiteral("/sys/class/dmi/id"));

    if (!start.reason.isEmpty() && !qEnvironmentVariableIsSet("LIBGL_ALWAYS_SOFTWARE")) {
        qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
        if (!qEnvironmentVariableIsSet("GALLIUM_DRIVER"))
            qputenv("GALLIUM_DRIVER", "llvmpipe");
    }

    // Flushed now, so that a crash inside the graphics driver cannot lose it; the 3D view
    // removes the marker after its first frame.
    store.setValue(settings::glStartPending, true);
    store.sync();
    start.markerWritten = true;

    if (!start.reason.isEmpty()) {
        const QByteArray notice
            = QStringLiteral("QorCAD: Software-Rendering (Mesa llvmpipe) – %1\n")
                  .arg(start.reason)
                  .toUtf8();
        std::fwrite(notice.constData(), 1, std::size_t(notice.size()), stderr);
    }
    return start;
}

void restoreGlStartMarker(const GlStart& start)
{
    if (!start.markerWritten || start.wasPending)
        return;
    QSettings store = startSettings();
    store.remove(settings::glStartPending);
    store.sync();
}

GlStart prepareStart(bool batch)
{
    preferGermanDatesWithoutSystemLocale();
    return batch ? GlStart{} : decideSoftwareGl();
}

} // namespace qor::app
