#pragma once

#include <cerrno>
#include <cstddef>

#include <unistd.h>

namespace qor::io {

// Writes all of data to a pipe or file descriptor: a write may take only part
// of it, or be interrupted by a signal before it took anything. False when the
// other end is gone or the write fails.
inline bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

} // namespace qor::io
