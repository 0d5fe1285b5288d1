#include "io/ReaderProcess.h"
#include "io/DescriptorIO.h"
#include "io/KernelAllocator.h"
#include "io/ProcessCpu.h"
#include "io/ReaderServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <Standard_OutOfMemory.hxx>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <istream>
#include <new>
#include <streambuf>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qor::io {

namespace {

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

// The answer's progress frames as they come in, up to the result frame, whose data the
// caller reads as a stream.
class AnswerReader {
public:
    // Takes new bytes before the result; the progress they carry goes to percent and label.
    void take(const char* data, std::size_t size)
    {
        pending_.append(data, qsizetype(size));
        qsizetype at = 0;
        while (at < pending_.size() && !inResult_) {
            if (pending_[at] == resultFrame) {
                inResult_ = true;
                resultStart_ = pending_.mid(at + 1);
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
    // The result's first bytes, which came with the frame's tag.
    const QByteArray& resultStart() const { return resultStart_; }

private:
    QByteArray pending_;
    QByteArray resultStart_;
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
    std::vector<QByteArray> arguments = readerArguments(path, limits);
    arguments.insert(arguments.begin(), QFile::encodeName(program));
    std::vector<char*> argv;
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    const pid_t pid = spawnWithDescriptor(argv.data(), ReaderEnvironment().entries(), fds[1],
                                          readerAnswerFd);
    if (pid < 0) {
        ::close(fds[0]);
        return false;
    }
    reader = {pid, fds[0], {}};
    return true;
}

// How many processes the system has ended for want of memory since it started; 0 when
// it does not say.
std::uint64_t systemOutOfMemoryKills()
{
    QFile vmstat(QStringLiteral("/proc/vmstat"));
    if (!vmstat.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : vmstat.readAll().split('\n')) {
        if (line.startsWith("oom_kill "))
            return line.mid(9).trimmed().toULongLong();
    }
    return 0;
}

// A reader that ended without a stop of its own or of ours: a fault, or a signal from
// someone else.
enum class ReaderFault { none, crash, outside };

bool isEndingSignal(int signal)
{
    return signal == SIGKILL || signal == SIGTERM || signal == SIGINT || signal == SIGHUP
           || signal == SIGQUIT;
}

// How the process ended, from its wait status and what the caller did to it.
// outOfMemoryKills counts the processes the system ended for want of memory meanwhile.
ReadStop stopOf(int status, const rusage& usage, bool killedByUs, ReadStop ourReason,
                std::uint64_t largestSpace, std::uint64_t outOfMemoryKills,
                const ReaderLimits& limits, ReaderFault& fault)
{
    fault = ReaderFault::none;
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
        // The kernel sends SIGXCPU at the processor limit and SIGKILL at its hard limit.
        if (signal == SIGXCPU || (signal == SIGKILL && cpuSeconds >= double(limits.cpuSeconds)))
            return ReadStop::time;
        // A process at its own memory limit gets no memory and fails wherever that happens;
        // the system ends a process by SIGKILL only when the whole machine runs out.
        if (signal == SIGKILL && outOfMemoryKills > 0)
            return ReadStop::memory;
        if (isEndingSignal(signal)) {
            fault = ReaderFault::outside;
            return ReadStop::none;
        }
        if (largestSpace >= limits.memoryBytes / 10 * 9)
            return ReadStop::memory;
    }
    fault = ReaderFault::crash;
    return ReadStop::none;
}

// What the wait for an answer ended with.
struct Waiting {
    bool killed = false;
    ReadStop reason = ReadStop::none;
    bool stalled = false; // ended for gaining no processor time
    std::uint64_t largestSpace = 0;
    bool neverStarted = false; // a served reader whose server ended before it forked
};

void killReader(const Reader& reader)
{
    if (reader.served.keeper >= 0)
        endServedWorker(reader.served);
    else
        ::kill(reader.pid, SIGKILL);
}

// The reader's answer as the caller reads it: each read waits in ticks, and at each tick
// the caller hears of the progress and may cancel; a cancel ends the reader, and so does a
// stall: a reader that gains no processor time for the limits' stallMs. Not the wall time
// as such: on a busy machine a reader waits for a core most of the time and still reads.
class AnswerPipe {
public:
    AnswerPipe(Reader& reader, const ReaderLimits& limits, const ProgressCallback& progress,
               const CancelCheck& cancelled, AnswerReader& answer)
        : reader_(reader)
        , limits_(limits)
        , progress_(progress)
        , cancelled_(cancelled)
        , answer_(answer)
        , progressWatch_(limits.stallMs)
    {
        clock_.start();
        tick_.start();
    }

    // Up to size bytes of the answer; 0 once it has ended or the reader was ended.
    std::size_t read(char* data, std::size_t size)
    {
        while (!ended_) {
            // A served reader's id comes from its keeper, as soon as it runs.
            const bool awaitingPid = reader_.pid < 0;
            pollfd pollers[2] = {{reader_.answer, POLLIN, 0}, {reader_.served.keeper, POLLIN, 0}};
            const int ready = ::poll(pollers, awaitingPid ? 2 : 1, waitTickMs);
            if (awaitingPid && pollers[1].revents != 0) {
                if (!receiveWorkerPid(reader_.served)) {
                    waiting_.neverStarted = true;
                    ended_ = true;
                    break;
                }
                reader_.pid = reader_.served.pid;
            }
            ssize_t got = 0;
            if (ready > 0 && pollers[0].revents != 0) {
                got = ::read(reader_.answer, data, size);
                ended_ = got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN);
            } else {
                ended_ = ready < 0 && errno != EINTR;
            }
            atTick();
            if (got > 0 && !ended_)
                return std::size_t(got);
        }
        return 0;
    }

    const Waiting& waiting() const { return waiting_; }

private:
    void atTick()
    {
        // By the clock, not by the frames: a reader that reports often must not keep the
        // caller from repainting.
        bool stalled = false;
        if (tick_.elapsed() >= waitTickMs) {
            tick_.restart();
            stalled = progressWatch_.stalled(reader_.pid, clock_.elapsed());
            if (!answer_.hasResult() && reader_.pid > 0)
                waiting_.largestSpace
                    = std::max(waiting_.largestSpace, addressSpaceOf(reader_.pid));
            answer_.deliver(progress_);
        }
        if (ended_)
            return;
        if (cancelRequested(cancelled_))
            waiting_.reason = ReadStop::cancelled;
        else if (stalled)
            waiting_.stalled = true;
        if (waiting_.reason != ReadStop::none || waiting_.stalled) {
            killReader(reader_);
            waiting_.killed = true;
            ended_ = true;
        }
    }

    Reader& reader_;
    const ReaderLimits& limits_;
    const ProgressCallback& progress_;
    const CancelCheck& cancelled_;
    AnswerReader& answer_;
    CpuProgressWatch progressWatch_;
    Waiting waiting_;
    QElapsedTimer clock_;
    QElapsedTimer tick_;
    bool ended_ = false;
};

// The result's data as a stream, from the bytes that came with its frame on: the record
// is read, and the shapes' data gathered, while the reader is still sending.
class ResultStream : public std::streambuf {
public:
    ResultStream(AnswerPipe& pipe, const QByteArray& start)
        : pipe_(pipe)
        , start_(start)
    {
        char* begin = start_.data();
        setg(begin, begin, begin + start_.size());
    }

protected:
    int_type underflow() override
    {
        const std::size_t got = pipe_.read(buffer_.data(), buffer_.size());
        setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
        return got == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
    }

private:
    AnswerPipe& pipe_;
    QByteArray start_;
    std::array<char, 1 << 16> buffer_;
};

// Reads the answer: the progress frames, then the result, then whatever follows up to the
// end, so that the reader ends by itself. False when there is no whole result.
bool takeAnswer(AnswerPipe& pipe, AnswerReader& answer, ImportResult& read, ReadStop& stop)
{
    std::vector<char> chunk(std::size_t(1) << 16);
    while (!answer.hasResult()) {
        const std::size_t got = pipe.read(chunk.data(), chunk.size());
        if (got == 0)
            return false;
        answer.take(chunk.data(), got);
    }
    ResultStream data(pipe, answer.resultStart());
    std::istream in(&data);
    // What the wait throws (this process out of memory) reaches the caller rather than
    // looking like the answer's end.
    in.exceptions(std::ios::badbit);
    const bool whole = readResult(in, read, stop);
    while (pipe.read(chunk.data(), chunk.size()) > 0) {
    }
    return whole;
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

// Reading a large STEP file is mostly the allocation of small objects, which the kernel's
// pooled allocator serves quicker than the system's: the three largest real STEP files at
// hand read 4 to 19 % quicker with it. A reader's memory is given back when it ends, so
// the pool's habit of keeping freed memory costs nothing there.
ReaderEnvironment::ReaderEnvironment()
{
    const QByteArray allocatorKey = QByteArray(kernelAllocatorKey) + '=';
    bool allocatorNamed = false;
    for (char** entry = environ; *entry; ++entry) {
        texts_.emplace_back(*entry);
        allocatorNamed = allocatorNamed || texts_.back().startsWith(allocatorKey);
    }
    if (!allocatorNamed)
        texts_.push_back(allocatorKey + pooledKernelAllocator);
    for (QByteArray& text : texts_)
        pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
}

ReaderLimits readerLimits(const QString& path)
{
    ReaderLimits limits;
    const qint64 budgetMs = importBudgetMs(path);
    // A little over the budget the reader keeps itself: that one ends with its own answer.
    limits.cpuSeconds = budgetMs / 1000 + 3;
    limits.stallMs = std::max<qint64>(60000, 4 * budgetMs);
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

bool nearAddressSpaceLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return false;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmPeak:")) {
            const std::uint64_t peak
                = line.mid(7).trimmed().split(' ').value(0).toULongLong() * 1024;
            return peak >= std::uint64_t(limit.rlim_cur) / 100 * 95;
        }
    }
    return false;
}

QString readerStallMessage(const QString& path, const ReaderLimits& limits)
{
    return physicalLine(path, QStringLiteral("kam %1 s lang nicht voran (keine Rechenzeit mehr) "
                                             "und wurde beendet")
                                  .arg((limits.stallMs + 999) / 1000));
}

QString readerProcessStopMessage(const QString& path, ReadStop stop)
{
    switch (stop) {
    case ReadStop::none: break;
    case ReadStop::memory:
        return physicalLine(path, QStringLiteral("brauchte zu viel Arbeitsspeicher"));
    case ReadStop::time:
        return physicalLine(path, QStringLiteral("überschritt die Grenze von %1 s Rechenzeit")
                                      .arg(importBudgetMs(path) / 1000));
    case ReadStop::cancelled: return physicalLine(path, QStringLiteral("wurde abgebrochen"));
    }
    return physicalLine(path, QStringLiteral("wurde beendet (Absturz)"));
}

void readInReaderProcess(const QString& program, const QString& path,
                         const ProgressCallback& progress, const CancelCheck& cancelled,
                         ImportResult& result, ReaderStart start)
{
    readInReaderProcess(program, path, readerLimits(path), progress, cancelled, result, start);
}

void readInReaderProcess(const QString& program, const QString& path, const ReaderLimits& limits,
                         const ProgressCallback& progress, const CancelCheck& cancelled,
                         ImportResult& result, ReaderStart start)
{
    const std::uint64_t outOfMemoryKillsBefore = systemOutOfMemoryKills();
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
    AnswerPipe pipe(reader, limits, progress, cancelled, answer);
    ImportResult read;
    ReadStop stop = ReadStop::none;
    bool whole = false;
    bool answerTooLarge = false;
    // The answer's shapes need this process's memory too; without it the reader is ended.
    try {
        whole = takeAnswer(pipe, answer, read, stop);
    } catch (const std::bad_alloc&) {
        answerTooLarge = true;
    } catch (const Standard_OutOfMemory&) {
        answerTooLarge = true;
    }
    if (answerTooLarge) {
        read = {};
        killReader(reader);
    }
    ::close(reader.answer);
    const Waiting& waiting = pipe.waiting();
    if (waiting.neverStarted) {
        // The server ended before it could start the worker: a reader of its own reads.
        ::close(reader.served.keeper);
        readInReaderProcess(program, path, limits, progress, cancelled, result, ReaderStart::fresh);
        return;
    }
    int status = 0;
    rusage usage{};
    waitForReader(reader, status, usage);
    answer.deliver(progress, true);
    if (answerTooLarge) {
        result.ok = false;
        result.bodies.clear();
        result.error = readStopMessage(path, ReadStop::memory);
        return;
    }
    if (waiting.stalled) {
        result.ok = false;
        result.bodies.clear();
        result.error = readerStallMessage(path, limits);
        return;
    }
    ReaderFault fault = ReaderFault::none;
    const ReadStop ended
        = stopOf(status, usage, waiting.killed, waiting.reason, waiting.largestSpace,
                 systemOutOfMemoryKills() - outOfMemoryKillsBefore, limits, fault);
    if (ended == ReadStop::none && fault == ReaderFault::none) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && !answer.hasResult()) {
            // The program was found but could not run here.
            result = readInThisProcess(path, progress, cancelled);
            return;
        }
        if (whole && stop == ReadStop::none) {
            result = std::move(read);
            return;
        }
        if (!whole) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                // The reader ended well, but its answer could not be read back.
                result.ok = false;
                result.bodies.clear();
                result.error
                    = physicalLine(path, QStringLiteral("lieferte eine unlesbare Antwort"));
                return;
            }
            fault = ReaderFault::crash;
        }
    } else {
        stop = ended;
    }
    result.ok = false;
    result.bodies.clear();
    if (fault == ReaderFault::outside)
        result.error = physicalLine(path, QStringLiteral("wurde von außen beendet"));
    else
        result.error
            = readerProcessStopMessage(path, fault == ReaderFault::crash ? ReadStop::none : stop);
}

double readerProcessorSeconds()
{
    return servedReadersProcessorSeconds();
}

} // namespace qor::io
