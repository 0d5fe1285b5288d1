#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// Writes one seed of a starting corpus; false when it is not written whole.
inline bool writeFile(const QDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
