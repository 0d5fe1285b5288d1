#include "io/DescriptorIO.h"
#include "io/KernelMessage.h"
#include "io/ReaderProcess.h"
#include "io/ReaderThread.h"

#include <QFile>

#include <Standard_OutOfMemory.hxx>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>
#include <streambuf>

#include <sys/resource.h>
#include <unistd.h>

namespace qor::io {

namespace {

bool sendToCaller(const QByteArray& bytes)
{
    return writeAll(readerAnswerFd, bytes.constData(), std::size_t(bytes.size()));
}

// The answer written through a buffer of its own: the result never lies in memory a second
// time, encoded, before it is sent.
class AnswerBuffer : public std::streambuf {
public:
    AnswerBuffer() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }

protected:
    int_type overflow(int_type c) override
    {
        if (sync() != 0)
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override
    {
        const std::size_t size = std::size_t(pptr() - pbase());
        if (size > 0 && !writeAll(readerAnswerFd, pbase(), size))
            return -1;
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return 0;
    }

private:
    std::array<char, 1 << 16> buffer_;
};

void limit(int resource, rlim_t soft, rlim_t hard)
{
    const rlimit value{soft, hard};
    setrlimit(resource, &value);
}

} // namespace

int runReaderProcess(int argc, char** argv)
{
    qint64 cpuSeconds = 0;
    qulonglong memoryBytes = 0;
    QString path;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--cpu" && i + 1 < argc)
            cpuSeconds = QByteArray(argv[++i]).toLongLong();
        else if (argument == "--memory" && i + 1 < argc)
            memoryBytes = QByteArray(argv[++i]).toULongLong();
        else if (argument == "--" && i + 1 < argc)
            path = QFile::decodeName(argv[++i]);
    }
    if (path.isEmpty())
        return 2;
    // The kernel sends SIGXCPU at the soft limit and SIGKILL at the hard one; the reader's
    // own budget ends the read a little before either.
    if (cpuSeconds > 0)
        limit(RLIMIT_CPU, rlim_t(cpuSeconds), rlim_t(cpuSeconds + 2));
    if (memoryBytes > 0)
        limit(RLIMIT_AS, rlim_t(memoryBytes), rlim_t(memoryBytes));
    silenceKernelMessages();
    leaveReadDataToProcessEnd();

    int lastPercent = -1;
    const ProgressCallback progress = [&lastPercent](int percent, const QString& label) {
        if (percent == lastPercent && label.isEmpty())
            return;
        lastPercent = percent;
        sendToCaller(encodeProgress(percent, label));
    };
    ReadStop stop = ReadStop::none;
    const ImportResult result = readInThisProcess(path, progress, {}, &stop);
    // Some kernel readers take a failed allocation for a damaged file; a read that failed
    // at the edge of the memory limit failed for want of memory.
    if (!result.ok && stop == ReadStop::none && nearAddressSpaceLimit())
        stop = ReadStop::memory;
    if (!sendToCaller(QByteArray(1, resultFrame)))
        return 1;
    AnswerBuffer buffer;
    std::ostream answer(&buffer);
    try {
        writeResult(answer, result, stop);
    } catch (const std::bad_alloc&) {
        ::_exit(memoryExitStatus);
    } catch (const Standard_OutOfMemory&) {
        ::_exit(memoryExitStatus);
    }
    if (!answer.good())
        return 1;
    // What the read built dies with the process; freeing it piece by piece costs time.
    std::fflush(nullptr);
    ::_exit(0);
}

} // namespace qor::io
