#pragma once

// A small memory file system for tests of what happens when the disk runs full. It is
// mounted in a child process with a mount namespace of its own, so nothing outside the
// child ever sees it and nothing is left mounted when the child ends.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qor::test {

// Runs work in a child process over a memory file system of sizeKib kibibytes mounted on
// folder and returns what work reported; none where the system allows neither a mount
// namespace nor the mount (the caller skips then).
inline std::optional<QByteArray> onSmallFileSystem(const QString& folder, int sizeKib,
                                                   const std::function<QByteArray()>& work)
{
    int channel[2];
    if (pipe(channel) != 0)
        return QByteArray("no pipe");
    const pid_t child = fork();
    if (child < 0)
        return QByteArray("no child");
    if (child == 0) {
        close(channel[0]);
        const auto report = [&](const QByteArray& text) {
            const ssize_t written = write(channel[1], text.constData(), std::size_t(text.size()));
            _exit(written == text.size() ? 0 : 1);
        };
        const QByteArray mountPoint = QFile::encodeName(folder);
        const QByteArray options = "size=" + QByteArray::number(sizeKib) + 'k';
        if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            report("\x01");
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || mount("tmpfs", mountPoint.constData(), "tmpfs", 0, options.constData()) != 0)
            report("\x01");
        report(work());
    }
    close(channel[1]);
    QByteArray text;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, int(n));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (text == "\x01")
        return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        text += "\n(child ended abnormally)";
    return text;
}

// Fills the file system holding folder with the file "fuellung" up to the last byte, then
// gives back room bytes (a multiple of the page size) of it. False when the disk never ran
// full.
inline bool fillFileSystem(const QString& folder, qint64 room)
{
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/fuellung"));
    const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const QByteArray chunk(4096, 'x');
    off_t size = 0;
    int reason = 0;
    for (;;) {
        const ssize_t n = write(fd, chunk.constData(), std::size_t(chunk.size()));
        if (n > 0) {
            size += n;
            continue;
        }
        reason = errno;
        break;
    }
    const bool full = reason == ENOSPC && size >= room && ftruncate(fd, size - room) == 0;
    close(fd);
    return full;
}

} // namespace qor::test
