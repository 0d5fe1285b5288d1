#include "io/FileReadWatch.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qor::io {

namespace {

int percentIn(double share, int from, int to)
{
    const double clamped = std::isfinite(share) ? std::clamp(share, 0.0, 1.0) : 0.0;
    return from + int(std::floor(clamped * (to - from)));
}

} // namespace

FileReadWatch::FileReadWatch(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode)) {
        device_ = status.st_dev;
        inode_ = status.st_ino;
        size_ = status.st_size;
    }
}

bool FileReadWatch::isWatchedFile(int fd) const
{
    struct stat status {};
    return ::fstat(fd, &status) == 0 && status.st_dev == device_ && status.st_ino == inode_;
}

int FileReadWatch::findDescriptor() const
{
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr)
        return -1;
    const int own = ::dirfd(folder);
    int found = -1;
    while (const dirent* entry = ::readdir(folder)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own)
            continue;
        if (isWatchedFile(int(fd))) {
            found = int(fd);
            break;
        }
    }
    ::closedir(folder);
    return found;
}

double FileReadWatch::share()
{
    if (size_ <= 0)
        return share_;
    // A descriptor number is used again once closed: it counts only while it still names
    // the file.
    if (fd_ < 0 || !isWatchedFile(fd_))
        fd_ = findDescriptor();
    if (fd_ < 0)
        return share_;
    const off_t offset = ::lseek(fd_, 0, SEEK_CUR);
    if (offset > 0)
        share_ = std::max(share_, std::min(1.0, double(offset) / double(size_)));
    return share_;
}

int parsePercent(double share)
{
    return percentIn(share, 0, 50);
}

int transferPercent(double share)
{
    return percentIn(share, 50, 100);
}

} // namespace qor::io
