#include "io/FileReplace.h"

#include "io/BrepFile.h"

#include <QSaveFile>

#include <cerrno>

namespace qor::io {

QString replaceFile(const QString& path, const QByteArray& bytes, const QString& failure)
{
    // Unbuffered: a buffered short write (disk full, size limit) is not reported by this
    // Qt's save file, which would then commit a truncated file. The system's reason is
    // read right after the call that failed.
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return writeFailureText(failure, errno);
    errno = 0;
    if (file.write(bytes) != bytes.size() || file.error() != QFileDevice::NoError) {
        const int reason = errno;
        file.cancelWriting();
        return writeFailureText(failure, reason);
    }
    errno = 0;
    if (!file.commit())
        return writeFailureText(failure, errno);
    return {};
}

} // namespace qor::io
