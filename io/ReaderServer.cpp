#include "io/ReaderServer.h"

#include "io/DescriptorIO.h"
#include "io/ProcessCpu.h"
#include "io/ReaderProcess.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qor::io {

namespace {

constexpr int requestFd = 3;
// Far more than a path and the limits take; a longer request is not one of ours.
constexpr std::size_t requestBytes = 64 * 1024;

std::int64_t microsOf(const rusage& usage)
{
    return std::int64_t(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000
           + usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

// True once fd has something to read (or is closed) within timeoutMs.
bool readable(int fd, int timeoutMs)
{
    pollfd poller{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&poller, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0;
    }
}

// Whether the worker has ended, without reaping it: only the keeper's wait may do that.
bool workerEnded(pid_t worker)
{
    siginfo_t info{};
    return ::waitid(P_PID, id_t(worker), &info, WEXITED | WNOHANG | WNOWAIT) == 0
           && info.si_pid == worker;
}

// The worker's side of a keeper's fork: the answer becomes descriptor 3, the request the
// reader's arguments.
[[noreturn]] void becomeWorker(int answer, int keeper, const std::vector<QByteArray>& arguments,
                               int (*readOne)(int, char**))
{
    ::close(keeper);
    if (::dup2(answer, readerAnswerFd) < 0)
        ::_exit(127);
    ::close(answer);
    std::vector<char*> argv{const_cast<char*>(readerProgramName)};
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    ::_exit(readOne(int(argv.size() - 1), argv.data()));
}

// The keeper: starts the worker, tells the program its id, kills it when asked to and
// reports its end.
int keep(int answer, int keeper, const std::vector<QByteArray>& arguments,
         int (*readOne)(int, char**))
{
    // The server lets the system reap its keepers; a keeper waits for its worker itself.
    std::signal(SIGCHLD, SIG_DFL);
    const pid_t worker = ::fork();
    if (worker < 0)
        return 1;
    if (worker == 0)
        becomeWorker(answer, keeper, arguments, readOne);
    ::close(answer);
    const std::int64_t id = worker;
    sendAll(keeper, &id, sizeof id);
    // Without process descriptors the keeper looks every few milliseconds.
    const int ended = int(::syscall(SYS_pidfd_open, worker, 0));
    pollfd pollers[2] = {{keeper, POLLIN, 0}, {ended, POLLIN, 0}};
    bool listening = true;
    while (!workerEnded(worker)) {
        const int waitMs = ended >= 0 ? -1 : 10;
        if (::poll(listening ? pollers : pollers + 1, listening ? 2 : 1, waitMs) < 0
            && errno != EINTR)
            break;
        if (listening && pollers[0].revents != 0) {
            char byte = 0;
            const ssize_t got = ::recv(keeper, &byte, 1, 0);
            if (got < 0 && errno == EINTR)
                continue;
            // A request to end, or the program is gone: either way the worker ends.
            ::kill(worker, SIGKILL);
            listening = got > 0;
        }
    }
    int status = 0;
    rusage usage{};
    while (::wait4(worker, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    rusage own{};
    ::getrusage(RUSAGE_SELF, &own);
    const WorkerEnd end{status, microsOf(usage) + microsOf(own)};
    sendAll(keeper, &end, sizeof end);
    return 0;
}

// The request's arguments, each ended by a zero byte.
std::vector<QByteArray> requestArguments(const char* data, std::size_t size)
{
    std::vector<QByteArray> arguments;
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            arguments.emplace_back(data + start, qsizetype(i - start));
            start = i + 1;
        }
    }
    return arguments;
}

// The program's side: the running server.
struct Server {
    QString program;
    pid_t pid = -1;
    int control = -1;
};

std::mutex serverMutex;
Server server;
std::atomic<std::int64_t> reportedMicros{0};

void stopServer()
{
    if (server.control >= 0)
        ::close(server.control);
    if (server.pid > 0) {
        ::kill(server.pid, SIGKILL);
        while (::waitpid(server.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    server = {};
}

// A server that has ended is reaped and forgotten.
void forgetEndedServer()
{
    if (server.pid > 0 && ::waitpid(server.pid, nullptr, WNOHANG) == server.pid) {
        server.pid = -1;
        stopServer();
    }
}

bool spawnServer(const QString& program)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    const QByteArray path = QFile::encodeName(program);
    char* argv[] = {const_cast<char*>(path.constData()), const_cast<char*>(readerServeArgument),
                    nullptr};
    const pid_t pid = spawnWithDescriptor(argv, ReaderEnvironment().entries(), fds[1], requestFd);
    if (pid < 0) {
        ::close(fds[0]);
        return false;
    }
    server = {program, pid, fds[0]};
    return true;
}

bool ensureServer(const QString& program)
{
    forgetEndedServer();
    if (server.pid > 0 && server.program != program)
        stopServer();
    return server.pid > 0 || spawnServer(program);
}

// A request's bytes with room for the two descriptors that travel beside them:
// the worker's answer end and the keeper's socket end.
struct RequestMessage {
    iovec data;
    alignas(cmsghdr) char space[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr message{};

    RequestMessage(void* bytes, std::size_t size) : data{bytes, size}
    {
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = space;
        message.msg_controllen = sizeof space;
    }
    RequestMessage(const RequestMessage&) = delete;
    RequestMessage& operator=(const RequestMessage&) = delete;
};

// Sends the request with the worker's answer end and the keeper's socket end.
bool sendRequest(const QByteArray& request, int answer, int keeper)
{
    RequestMessage sending(const_cast<char*>(request.constData()), std::size_t(request.size()));
    msghdr& message = sending.message;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(2 * sizeof(int));
    const int fds[2] = {answer, keeper};
    std::memcpy(CMSG_DATA(header), fds, sizeof fds);
    for (;;) {
        const ssize_t sent = ::sendmsg(server.control, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        return sent == ssize_t(request.size());
    }
}

} // namespace

int runReaderServer(int (*readOne)(int, char**))
{
    std::signal(SIGCHLD, SIG_IGN);
    std::vector<char> buffer(requestBytes);
    for (;;) {
        RequestMessage receiving(buffer.data(), buffer.size());
        msghdr& message = receiving.message;
        const ssize_t got = ::recvmsg(requestFd, &message, MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return 0;
        std::vector<int> fds;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
                continue;
            const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
                fds.push_back(fd);
            }
        }
        const bool whole = (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
        if (whole && fds.size() == 2) {
            const std::vector<QByteArray> arguments
                = requestArguments(buffer.data(), std::size_t(got));
            if (::fork() == 0) {
                ::close(requestFd);
                ::_exit(keep(fds[0], fds[1], arguments, readOne));
            }
        }
        // A request the server cannot serve closes its keeper's socket unanswered.
        for (const int fd : fds)
            ::close(fd);
    }
}

void startReaderServer(const QString& program)
{
    if (program.isEmpty())
        return;
    const std::lock_guard lock(serverMutex);
    ensureServer(program);
}

bool requestServedWorker(const QString& program, const std::vector<QByteArray>& arguments,
                         ServedWorker& worker)
{
    QByteArray request;
    for (const QByteArray& argument : arguments)
        request.append(argument).append('\0');
    const std::lock_guard lock(serverMutex);
    // A server that ended since the last read is replaced once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!ensureServer(program))
            return false;
        int answer[2];
        int keeper[2];
        if (::pipe2(answer, O_CLOEXEC) != 0)
            return false;
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, keeper) != 0) {
            ::close(answer[0]);
            ::close(answer[1]);
            return false;
        }
        const bool sent = sendRequest(request, answer[1], keeper[1]);
        ::close(answer[1]);
        ::close(keeper[1]);
        if (sent) {
            worker = {-1, answer[0], keeper[0]};
            return true;
        }
        ::close(answer[0]);
        ::close(keeper[0]);
        stopServer();
    }
    return false;
}

bool receiveWorkerPid(ServedWorker& worker)
{
    std::int64_t id = -1;
    if (!receiveAll(worker.keeper, &id, sizeof id) || id <= 0)
        return false;
    worker.pid = pid_t(id);
    return true;
}

void endServedWorker(const ServedWorker& worker)
{
    const char end = 'k';
    ::send(worker.keeper, &end, 1, MSG_NOSIGNAL);
}

bool waitServedWorker(ServedWorker& worker, int timeoutMs, WorkerEnd& end)
{
    const bool reported
        = (worker.pid > 0 || (readable(worker.keeper, timeoutMs) && receiveWorkerPid(worker)))
          && readable(worker.keeper, timeoutMs) && receiveAll(worker.keeper, &end, sizeof end);
    ::close(worker.keeper);
    worker.keeper = -1;
    if (reported)
        reportedMicros += end.cpuMicros;
    return reported;
}

pid_t readerServerPid()
{
    const std::lock_guard lock(serverMutex);
    forgetEndedServer();
    return server.pid;
}

double servedReadersProcessorSeconds()
{
    std::int64_t micros = reportedMicros;
    const std::lock_guard lock(serverMutex);
    if (server.pid > 0)
        micros += std::max<std::int64_t>(0, processCpuMicros(server.pid));
    return double(micros) / 1e6;
}

} // namespace qor::io
