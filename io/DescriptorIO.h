#pragma once

#include <cerrno>
#include <cstddef>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qor::io {

// Runs `step` (a write, send or receive of at most the bytes left) until all
// of them went through: a call may take only part of them, or be interrupted
// by a signal before it took anything. False when the other end is gone or a
// call fails.
template <class Byte, class Step> bool allThrough(Byte* data, std::size_t size, Step step)
{
    while (size > 0) {
        const ssize_t done = step(data, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        size -= std::size_t(done);
    }
    return true;
}

// Writes all of data to a pipe or file descriptor.
inline bool writeAll(int fd, const char* data, std::size_t size)
{
    return allThrough(data, size, [fd](const char* at, std::size_t n) { return ::write(fd, at, n); });
}

// Sends all of data over a socket; a peer that is gone gives false, not SIGPIPE.
inline bool sendAll(int fd, const void* data, std::size_t size)
{
    return allThrough(static_cast<const char*>(data), size, [fd](const char* at, std::size_t n) {
        return ::send(fd, at, n, MSG_NOSIGNAL);
    });
}

// Receives exactly size bytes from a socket.
inline bool receiveAll(int fd, void* data, std::size_t size)
{
    return allThrough(static_cast<char*>(data), size,
                      [fd](char* at, std::size_t n) { return ::recv(fd, at, n, 0); });
}

// Starts argv[0] with the environment envp, standard input and output on
// /dev/null and `fd`, opened close-on-exec, as its descriptor `target`: the
// child talks to its parent only through that one. Closes fd here. The
// child's pid, or -1 when it could not start.
inline pid_t spawnWithDescriptor(char* const argv[], char* const envp[], int fd, int target)
{
    // dup2 onto itself would keep the close-on-exec flag.
    if (fd == target) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, target + 1);
        ::close(fd);
        fd = moved;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fd, target);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fd);
    return failed == 0 ? pid : -1;
}

} // namespace qor::io
