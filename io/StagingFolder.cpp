#include "io/StagingFolder.h"

#include "io/BrepFile.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace qor::io {

namespace {

// The system's name for what a descriptor holds open: paths through it stay in that folder
// even when its own name has been given to something else. By this process's number, not
// "self", so that the reader process checking a written file reaches the same folder.
QByteArray descriptorPath(int fd)
{
    return "/proc/" + QByteArray::number(::getpid()) + "/fd/" + QByteArray::number(fd);
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The errno of the calls in between is kept for the caller's message.
class KeptErrno {
public:
    ~KeptErrno() { errno = saved_; }

private:
    int saved_ = errno;
};

// Every name in the folder held by fd.
std::vector<QByteArray> namesIn(int fd)
{
    std::vector<QByteArray> names;
    // A descriptor of its own: reading the folder moves the reading position.
    const int reading = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = reading < 0 ? nullptr : ::fdopendir(reading);
    if (folder == nullptr) {
        if (reading >= 0)
            ::close(reading);
        return names;
    }
    while (const dirent* entry = ::readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(folder);
    return names;
}

// Empties the folder held by fd, and the folders in it down to depth more levels, by
// descriptors only: a link in it is removed, never followed.
void clearFolder(int fd, int depth)
{
    for (const QByteArray& name : namesIn(fd)) {
        if (::unlinkat(fd, name.constData(), 0) == 0 || (errno != EISDIR && errno != EPERM)
            || depth == 0)
            continue;
        const int inner
            = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (inner < 0)
            continue;
        clearFolder(inner, depth - 1);
        ::close(inner);
        ::unlinkat(fd, name.constData(), AT_REMOVEDIR);
    }
}

} // namespace

StagingFolder::StagingFolder(const QString& folder)
{
    // The target's folder may be reached through a link of the program's own: followed.
    parentFd_ = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd_ < 0)
        return;
    QByteArray pattern = descriptorPath(parentFd_) + "/.qorcad-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return;
    name_ = pattern.mid(pattern.lastIndexOf('/') + 1);
    const int fd
        = ::openat(parentFd_, name_.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // Made private (0700) and by this process: anything else under the name now, a link
    // included, was put there by someone else and is left alone.
    if (fd >= 0 && ::fstat(fd, &own_) == 0 && own_.st_uid == ::geteuid()
        && (own_.st_mode & 07777) == 0700) {
        fd_ = fd;
        return;
    }
    const int reason = errno;
    if (fd >= 0)
        ::close(fd);
    displaced_ = reason != EMFILE && reason != ENFILE && reason != ENOMEM;
    if (!displaced_)
        ::unlinkat(parentFd_, name_.constData(), AT_REMOVEDIR);
    errno = displaced_ ? EEXIST : reason;
}

StagingFolder::~StagingFolder()
{
    const KeptErrno kept;
    if (fd_ >= 0) {
        // Through the descriptor only this folder's own entries are reached, never a folder
        // put under its name; writers make subfolders one level deep at most.
        clearFolder(fd_, 1);
        if (stillNamed())
            ::unlinkat(parentFd_, name_.constData(), AT_REMOVEDIR);
        ::close(fd_);
    }
    if (parentFd_ >= 0)
        ::close(parentFd_);
}

QString StagingFolder::filePath(const QString& name) const
{
    return QFile::decodeName(descriptorPath(fd_)) + u'/' + name;
}

std::vector<QByteArray> StagingFolder::files() const
{
    std::vector<QByteArray> regular;
    for (const QByteArray& name : namesIn(fd_)) {
        struct stat status { };
        if (::fstatat(fd_, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(status.st_mode))
            regular.push_back(name);
    }
    return regular;
}

bool StagingFolder::moveOut(const QByteArray& name, const QByteArray& target)
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (!stillNamed()) {
        displaced_ = true;
        errno = EEXIST;
        return false;
    }
    // The rename replaces whatever stands under the target's name, a link itself rather than
    // what it leads to: only a regular file there hands on its rights, and only its read, write
    // and execute bits; set-uid, set-gid and sticky bits belong to that file alone. Under a
    // link the file stays as the writer made it, like a new one.
    struct stat replaced { };
    if (::fstatat(parentFd_, target.constData(), &replaced, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(replaced.st_mode))
        ::fchmodat(fd_, name.constData(), replaced.st_mode & 0777, 0);
    return ::renameat(fd_, name.constData(), parentFd_, target.constData()) == 0;
}

QString StagingFolder::failureText(const QString& failure, int systemError) const
{
    if (displaced_)
        return failure
               + QStringLiteral(": Der Zwischenordner „%1“ wurde während des Schreibens "
                                "verschoben oder ersetzt; die bisherige Datei bleibt unverändert")
                     .arg(QString::fromLatin1(name_));
    return writeFailureText(failure, systemError);
}

bool StagingFolder::stillNamed() const
{
    struct stat named { };
    return ::fstatat(parentFd_, name_.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
           && sameFile(named, own_);
}

} // namespace qor::io
