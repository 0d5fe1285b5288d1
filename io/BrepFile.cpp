#include "io/BrepFile.h"

#include <BRepTools.hxx>
#include <Message_ProgressRange.hxx>

#include <QFile>

#include <array>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <ostream>
#include <streambuf>
#include <unistd.h>

namespace qor::io {

namespace {

// An output buffer on a file descriptor that keeps the system's reason of the
// first failed write. The standard file buffer converts through the stream's
// locale and throws std::bad_cast from close() once a write has failed.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd)
        : fd_(fd)
    {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }

    DescriptorBuffer(const DescriptorBuffer&) = delete;
    DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

    // 0 while every write succeeded, else the errno of the first that failed.
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain()
    {
        const char* at = pbase();
        while (error_ == 0 && at < pptr()) {
            const ssize_t n = ::write(fd_, at, std::size_t(pptr() - at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                error_ = n < 0 ? errno : EIO;
            else
                at += n;
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return error_ == 0;
    }

    int fd_;
    int error_ = 0;
    std::array<char, 1 << 16> buffer_{};
};

} // namespace

QString writeFailureText(const QString& failure, int systemError)
{
    if (systemError == ENOSPC || systemError == EDQUOT)
        return failure + QStringLiteral(" (Datenträger voll)");
    return failure;
}

bool writeBrepFile(const TopoDS_Shape& shape, const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    DescriptorBuffer buffer(fd);
    int fault = 0;
    {
        std::ostream out(&buffer);
        try {
            BRepTools::Write(shape, out, true, false, TopTools_FormatVersion_VERSION_3,
                             Message_ProgressRange());
            out.flush();
        } catch (const std::exception&) {
            fault = EIO;
        }
        if (buffer.error() != 0)
            fault = buffer.error();
        else if (!out && fault == 0)
            fault = EIO;
    }
    if (::close(fd) != 0 && fault == 0)
        fault = errno;
    errno = fault;
    return fault == 0;
}

} // namespace qor::io
