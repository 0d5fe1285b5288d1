#include "io/FileReplace.h"

#include "io/BrepFile.h"

#include <QSaveFile>

#include <cerrno>

namespace qor::io {

QString replaceFile(const QString& path, const QByteArray& bytes, const WriteProblem& problem)
{
    // Unbuffered: a buffered short write (disk full, size limit) is not reported by this
    // Qt's save file, which would then commit a truncated file. The system's reason is
    // read right after the call that failed, and the problem before the file is dropped.
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return writeFailureText(problem(file), errno);
    errno = 0;
    if (file.write(bytes) != bytes.size() || file.error() != QFileDevice::NoError) {
        const int reason = errno;
        const QString text = problem(file);
        file.cancelWriting();
        return writeFailureText(text, reason);
    }
    errno = 0;
    if (!file.commit())
        return writeFailureText(problem(file), errno);
    return {};
}

QString replaceFile(const QString& path, const QByteArray& bytes, const QString& failure)
{
    return replaceFile(path, bytes, [&failure](const QFileDevice&) { return failure; });
}

} // namespace qor::io
