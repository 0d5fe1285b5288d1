#include "app/Settings.h"

#include <QDir>

namespace qor::app::settings {

QString glModeOf(const QString& text)
{
    if (text == u"hardware" || text == u"software")
        return text;
    return defaultGl;
}

int navigationSchemeOf(const QString& text)
{
    return text == u"fusion" ? 1 : 0;
}

bool touchpadRotatesFor(const QString& text)
{
    return text != u"zoom";
}

QStringList withRecent(QStringList recentPaths, const QString& path)
{
    recentPaths.removeAll(path);
    recentPaths.prepend(path);
    return recentPaths.mid(0, maxRecent);
}

QString defaultLastDir()
{
    return QDir::homePath();
}

const std::vector<Choice>& dialogChoices()
{
    static const std::vector<Choice> choices = {
        {nav, QStringLiteral("solidedge"),
         QStringLiteral("Solid Edge – mittlere Taste dreht, Umschalt+Mitte verschiebt")},
        {nav, QStringLiteral("fusion"),
         QStringLiteral("Fusion – mittlere Taste verschiebt, Umschalt+Mitte dreht")},
        {touchpad, QStringLiteral("rotate"),
         QStringLiteral("Zwei Finger wischen dreht (Strg = Zoom, Umschalt = Verschieben)")},
        {touchpad, QStringLiteral("zoom"), QStringLiteral("Zwei Finger wischen zoomt (wie ein Mausrad)")},
        {meshQuality, 0.1, QStringLiteral("Grob (kleine Dateien)")},
        {meshQuality, 0.05, QStringLiteral("Mittel")},
        {meshQuality, 0.02, QStringLiteral("Fein")},
        {meshQuality, 0.005, QStringLiteral("Sehr fein")},
        {gl, QStringLiteral("auto"), QStringLiteral("Automatisch (Software in virtuellen Maschinen)")},
        {gl, QStringLiteral("hardware"), QStringLiteral("Grafikkarte (OpenGL-Hardware)")},
        {gl, QStringLiteral("software"), QStringLiteral("Software (Mesa llvmpipe – stabil, langsamer)")},
        // A check box: checked stores true, unchecked false.
        {checkUpdates, true, QStringLiteral("Beim Start nach Updates suchen")},
    };
    return choices;
}

} // namespace qor::app::settings
