#include "ui/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace qor::app::settings {

QString glModeOf(const QString& text)
{
    if (text == u"hardware" || text == u"software")
        return text;
    return defaultGl;
}

QString lastDirOrHome()
{
    return QSettings().value(lastDir, QDir::homePath()).toString();
}

void rememberFolderOf(const QString& file)
{
    QSettings().setValue(lastDir, QFileInfo(file).absolutePath());
}

} // namespace qor::app::settings
