#pragma once

#include <QByteArray>
#include <QTemporaryDir>

namespace qor::test {

// Gives this test process settings and cache folders of its own. CTest runs every test as a
// process of its own and many at once: with one shared settings file, one test's "lastDir" or
// recent list would leak into another's file dialogs. Call before the application object.
inline void usePrivateSettingsFolders()
{
    static const QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", QByteArray(folder.filePath(QStringLiteral("config")).toLocal8Bit()));
    qputenv("XDG_CACHE_HOME", QByteArray(folder.filePath(QStringLiteral("cache")).toLocal8Bit()));
}

} // namespace qor::test
