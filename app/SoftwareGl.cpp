#include "app/SoftwareGl.h"

#include <QFile>
#include <QSettings>

#include <cstdio>

namespace qor::app {

namespace {

QSettings userSettings()
{
    return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("QorCAD"));
}

} // namespace

void preferXcbOnWayland()
{
    if (qEnvironmentVariable("XDG_SESSION_TYPE") == u"wayland"
        && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

QString softwareGlReason(const QString& mode, bool startPending, const QString& firmwareText)
{
    if (mode == u"software")
        return QStringLiteral("Einstellung");
    if (mode == u"hardware")
        return {};
    if (startPending)
        return QStringLiteral("Absturz beim letzten Start");
    static const char* const machines[] = {"VirtualBox", "innotek", "VMware",
                                           "QEMU",       "KVM",     "Bochs",
                                           "Parallels",  "Xen",     "Virtual Machine"};
    for (const char* machine : machines) {
        if (firmwareText.contains(QLatin1String(machine), Qt::CaseInsensitive))
            return QStringLiteral("virtuelle Maschine (%1)").arg(QLatin1String(machine));
    }
    return {};
}

QString readFirmwareText(const QStringList& files)
{
    QString text;
    for (const QString& path : files) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromLatin1(file.readAll()).trimmed() + u' ';
    }
    return text;
}

QString decideSoftwareGl()
{
    QSettings settings = userSettings();
    const QString mode = qEnvironmentVariableIsSet("QORCAD_GL")
                             ? qEnvironmentVariable("QORCAD_GL")
                             : settings.value(QStringLiteral("gl"), QStringLiteral("auto")).toString();
    const bool pending = settings.value(QStringLiteral("glStartPending"), false).toBool();
    const bool automatic = mode != u"software" && mode != u"hardware";
    const QString reason =
        softwareGlReason(mode, pending, automatic && !pending ? readFirmwareText() : QString());

    if (!reason.isEmpty() && !qEnvironmentVariableIsSet("LIBGL_ALWAYS_SOFTWARE")) {
        qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
        if (!qEnvironmentVariableIsSet("GALLIUM_DRIVER"))
            qputenv("GALLIUM_DRIVER", "llvmpipe");
    }

    // The 3D view removes the marker after its first frame; a start that dies
    // before it leaves the marker for the next start to see.
    settings.setValue(QStringLiteral("glStartPending"), true);
    settings.sync();

    if (!reason.isEmpty()) {
        const QByteArray notice =
            QStringLiteral("QorCAD: Software-Rendering (Mesa llvmpipe) – %1\n").arg(reason).toUtf8();
        std::fwrite(notice.constData(), 1, std::size_t(notice.size()), stderr);
    }
    return reason;
}

void clearGlStartPending()
{
    QSettings settings = userSettings();
    settings.remove(QStringLiteral("glStartPending"));
    settings.sync();
}

} // namespace qor::app
