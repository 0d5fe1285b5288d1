#include "io/ReaderProcess.h"
#include "io/ReaderServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qor::io {

namespace {

constexpr int answerFd = 3;
constexpr int waitTickMs = 40;
// A keeper reports within moments of its worker's end; this long only when it is stuck.
constexpr int keeperReportMs = 10000;
constexpr std::uint64_t mebibyte = std::uint64_t(1) << 20;

QString physicalLine(const QString& path, const QString& what)
{
    return QStringLiteral("„%1“ ließ sich nicht lesen: der Leseprozess %2")
        .arg(QFileInfo(path).fileName(), what);
}

std::uint64_t physicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize)
                                     : std::uint64_t(8) << 30;
}

// The address space the process has reserved, from its statm (in pages); 0 when gone.
std::uint64_t addressSpaceOf(pid_t pid)
{
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray first = statm.readLine(64).split(' ').value(0);
    return first.toULongLong() * std::uint64_t(sysconf(_SC_PAGESIZE));
}

// The answer as it comes in: progress frames, then the result's data up to the end.
class AnswerReader {
public:
    // Takes new bytes; the progress they carry goes to percent and label.
    void take(const char* data, std::size_t size)
    {
        if (inResult_) {
            result_.append(data, qsizetype(size));
            return;
        }
        pending_.append(data, qsizetype(size));
        qsizetype at = 0;
        while (at < pending_.size() && !inResult_) {
            if (pending_[at] == resultFrame) {
                inResult_ = true;
                result_ = pending_.mid(at + 1);
                at = pending_.size();
                break;
            }
            constexpr qsizetype head = 1 + 4 + 4;
            if (pending_[at] != progressFrame || pending_.size() - at < head)
                break;
            qint32 percent = 0;
            qint32 length = 0;
            std::memcpy(&percent, pending_.constData() + at + 1, 4);
            std::memcpy(&length, pending_.constData() + at + 5, 4);
            if (length < 0 || pending_.size() - at - head < length)
                break;
            percent_ = std::clamp(int(percent), 0, 100);
            if (length > 0) {
                label_ = QString::fromUtf8(pending_.constData() + at + head, length);
                labelChanged_ = true;
            }
            at += head + length;
        }
        pending_.remove(0, at);
    }

    // The latest progress for the caller; the label only when it is new. Until the read is
    // over it stays below 100: a reader reports its end before the bodies are collected and
    // sent, and a progress dialog closes at 100.
    void deliver(const ProgressCallback& progress, bool over = false)
    {
        if (!progress)
            return;
        progress(over ? 100 : std::min(percent_, 99), labelChanged_ ? label_ : QString());
        labelChanged_ = false;
    }

    bool hasResult() const { return inResult_; }
    const QByteArray& result() const { return result_; }

private:
    QByteArray pending_;
    QByteArray result_;
    bool inResult_ = false;
    int percent_ = 0;
    QString label_;
    bool labelChanged_ = false;
};

// A started reader process: its id (once known) and the read end of its answer; a worker of
// the reader server also has its keeper.
struct Reader {
    pid_t pid = -1;
    int answer = -1;
    ServedWorker served;
};

// The reader program's arguments after its name. The path is absolute: the server may have
// started in another folder.
std::vector<QByteArray> readerArguments(const QString& path, const ReaderLimits& limits)
{
    return {QByteArray("--cpu"), QByteArray::number(limits.cpuSeconds), QByteArray("--memory"),
            QByteArray::number(qulonglong(limits.memoryBytes)), QByteArray("--"),
            QFile::encodeName(QFileInfo(path).absoluteFilePath())};
}

bool startServedReader(const QString& program, const QString& path, const ReaderLimits& limits,
                       Reader& reader)
{
    ServedWorker worker;
    if (!requestServedWorker(program, readerArguments(path, limits), worker))
        return false;
    reader = {-1, worker.answer, worker};
    return true;
}

// Starts the program with its answer on descriptor 3 and nothing on the standard streams
// (a kernel's report or a crash message would end up in the batch conversion's output).
bool startReader(const QString& program, const QString& path, const ReaderLimits& limits,
                 Reader& reader)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    // dup2 onto itself would keep the close-on-exec flag.
    if (fds[1] == answerFd) {
        const int moved = fcntl(fds[1], F_DUPFD_CLOEXEC, answerFd + 1);
        ::close(fds[1]);
        fds[1] = moved;
    }
    std::vector<QByteArray> arguments = readerArguments(path, limits);
    arguments.insert(arguments.begin(), QFile::encodeName(program));
    std::vector<char*> argv;
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], answerFd);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (failed != 0) {
        ::close(fds[0]);
        return false;
    }
    reader = {pid, fds[0], {}};
    return true;
}

// How the process ended, from its wait status and what the caller did to it.
ReadStop stopOf(int status, const rusage& usage, bool killedByUs, ReadStop ourReason,
                std::uint64_t largestSpace, const ReaderLimits& limits, bool& crashed)
{
    crashed = false;
    if (killedByUs)
        return ourReason;
    if (WIFEXITED(status) && WEXITSTATUS(status) == memoryExitStatus)
        return ReadStop::memory;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return ReadStop::none;
    const double cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                              + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (signal == SIGXCPU || (signal == SIGKILL && cpuSeconds >= double(limits.cpuSeconds)))
            return ReadStop::time;
        // The system ends a process that takes all memory by SIGKILL; a process at its own
        // limit gets no memory and fails wherever that happens.
        if (signal == SIGKILL || largestSpace >= limits.memoryBytes / 10 * 9)
            return ReadStop::memory;
    }
    crashed = true;
    return ReadStop::none;
}


// What the wait for an answer ended with.
struct Waiting {
    bool killed = false;
    ReadStop reason = ReadStop::none;
    std::uint64_t largestSpace = 0;
};

void killReader(const Reader& reader)
{
    if (reader.served.keeper >= 0)
        endServedWorker(reader.served);
    else
        ::kill(reader.pid, SIGKILL);
}

// Takes the answer until the reader closes it, hands its progress on and ends the reader
// when the caller cancels or the wall time is up. False when a served reader never started.
bool awaitAnswer(Reader& reader, const ReaderLimits& limits, const ProgressCallback& progress,
                 const CancelCheck& cancelled, AnswerReader& answer, Waiting& waiting)
{
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer tick;
    tick.start();
    std::vector<char> chunk(std::size_t(1) << 20);
    for (;;) {
        // A served reader's id comes from its keeper, as soon as it runs.
        const bool awaitingPid = reader.pid < 0;
        pollfd pollers[2] = {{reader.answer, POLLIN, 0}, {reader.served.keeper, POLLIN, 0}};
        const int ready = ::poll(pollers, awaitingPid ? 2 : 1, waitTickMs);
        if (awaitingPid && pollers[1].revents != 0) {
            if (!receiveWorkerPid(reader.served))
                return false;
            reader.pid = reader.served.pid;
        }
        if (ready > 0 && pollers[0].revents != 0) {
            const ssize_t got = ::read(reader.answer, chunk.data(), chunk.size());
            if (got == 0)
                return true;
            if (got > 0)
                answer.take(chunk.data(), std::size_t(got));
            else if (errno != EINTR && errno != EAGAIN)
                return true;
        } else if (ready < 0 && errno != EINTR) {
            return true;
        }
        // By the clock, not by the frames: a reader that reports often must not keep the
        // caller from repainting.
        if (tick.elapsed() >= waitTickMs) {
            tick.restart();
            if (!answer.hasResult() && reader.pid > 0)
                waiting.largestSpace = std::max(waiting.largestSpace, addressSpaceOf(reader.pid));
            answer.deliver(progress);
        }
        if (cancelRequested(cancelled))
            waiting.reason = ReadStop::cancelled;
        else if (clock.elapsed() > limits.wallMs)
            waiting.reason = ReadStop::time;
        if (waiting.reason != ReadStop::none) {
            killReader(reader);
            waiting.killed = true;
            return true;
        }
    }
}

// The reader's wait status and processor time once it has ended. A keeper that does not
// report counts as a crash.
void waitForReader(Reader& reader, int& status, rusage& usage)
{
    if (reader.served.keeper < 0) {
        while (::wait4(reader.pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        return;
    }
    WorkerEnd end;
    if (!waitServedWorker(reader.served, keeperReportMs, end)) {
        status = SIGABRT;
        return;
    }
    status = end.status;
    usage.ru_utime.tv_sec = time_t(end.cpuMicros / 1000000);
    usage.ru_utime.tv_usec = suseconds_t(end.cpuMicros % 1000000);
}
} // namespace

ReaderLimits readerLimits(const QString& path)
{
    ReaderLimits limits;
    const qint64 budgetMs = importBudgetMs(path);
    // A little over the budget the reader keeps itself: that one ends with its own answer.
    limits.cpuSeconds = budgetMs / 1000 + 3;
    limits.wallMs = std::max<qint64>(60000, 4 * budgetMs);
    // Sound files need ten to twenty times their size; the reader thread's stack and the
    // libraries are reserved on top. Never more than three quarters of the machine.
    const std::uint64_t size = std::uint64_t(std::max<qint64>(0, QFileInfo(path).size()));
    const std::uint64_t wanted = 1024 * mebibyte + 40 * size;
    const std::uint64_t reserved = 1024 * mebibyte;
    limits.memoryBytes = reserved + std::min(wanted, physicalMemory() / 4 * 3);
    return limits;
}

QString readerProgram()
{
    // The running program's folder, also without an application object.
    const QString own = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QStringList candidates = {
        own.isEmpty() ? QString()
                      : QFileInfo(own).dir().filePath(QString::fromLatin1(readerProgramName)),
#ifdef QOR_READER_BUILD_PATH
        QStringLiteral(QOR_READER_BUILD_PATH),
#endif
    };
    for (const QString& candidate : candidates) {
        if (!candidate.isEmpty() && QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return {};
}

QString readerProcessStopMessage(const QString& path, ReadStop stop)
{
    switch (stop) {
    case ReadStop::none: break;
    case ReadStop::memory:
        return physicalLine(path, QStringLiteral("brauchte zu viel Arbeitsspeicher"));
    case ReadStop::time:
        return physicalLine(path, QStringLiteral("überschritt die Zeitgrenze (%1 s Rechenzeit)")
                                      .arg(importBudgetMs(path) / 1000));
    case ReadStop::cancelled: return physicalLine(path, QStringLiteral("wurde abgebrochen"));
    }
    return physicalLine(path, QStringLiteral("wurde beendet (Absturz)"));
}

void readInReaderProcess(const QString& program, const QString& path,
                         const ProgressCallback& progress, const CancelCheck& cancelled,
                         ImportResult& result, ReaderStart start)
{
    const ReaderLimits limits = readerLimits(path);
    Reader reader;
    const bool served
        = start == ReaderStart::served && startServedReader(program, path, limits, reader);
    if (!served && !startReader(program, path, limits, reader)) {
        result = readInThisProcess(path, progress, cancelled);
        return;
    }
    AnswerReader answer;
    // The caller hears of the start also when the read is quicker than the first tick.
    answer.deliver(progress);
    Waiting waiting;
    if (!awaitAnswer(reader, limits, progress, cancelled, answer, waiting)) {
        // The server ended before it could start the worker: a reader of its own reads.
        ::close(reader.answer);
        ::close(reader.served.keeper);
        readInReaderProcess(program, path, progress, cancelled, result, ReaderStart::fresh);
        return;
    }
    ::close(reader.answer);
    int status = 0;
    rusage usage{};
    waitForReader(reader, status, usage);
    answer.deliver(progress, true);
    bool crashed = false;
    ReadStop stop = stopOf(status, usage, waiting.killed, waiting.reason, waiting.largestSpace,
                           limits, crashed);
    if (stop == ReadStop::none && !crashed) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && !answer.hasResult()) {
            // The program was found but could not run here.
            result = readInThisProcess(path, progress, cancelled);
            return;
        }
        ImportResult read;
        if (answer.hasResult() && decodeResult(answer.result(), read, stop)) {
            if (stop == ReadStop::none) {
                result = std::move(read);
                return;
            }
        } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            // The reader ended well, but its answer could not be read back.
            result.ok = false;
            result.bodies.clear();
            result.error = physicalLine(path, QStringLiteral("lieferte eine unlesbare Antwort"));
            return;
        } else {
            crashed = true;
        }
    }
    result.ok = false;
    result.bodies.clear();
    result.error = readerProcessStopMessage(path, crashed ? ReadStop::none : stop);
}

double readerProcessorSeconds()
{
    return servedReadersProcessorSeconds();
}

} // namespace qor::io
