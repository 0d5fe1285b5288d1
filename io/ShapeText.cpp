#include "io/ShapeText.h"

#include "io/BinaryShapeCheck.h"

#include <BinTools.hxx>
#include <Message_ProgressRange.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>

#include <zlib.h>

#include <climits>
#include <exception>
#include <new>
#include <sstream>
#include <string>
#include <string_view>

namespace qor::io {

namespace {

// The decoder trusts neither the size that the data declares nor the stream behind
// it: a few bytes must not make it reserve or inflate gigabytes.
constexpr quint64 maxShapeBytes = quint64(1) << 30;
// Deflate cannot shrink data by more than about 1032:1.
constexpr quint64 maxDeflateRatio = 1032;

// qUncompress's format: a big-endian 32-bit size, then a zlib stream. Inflates into
// exactly the declared size and fails rather than grow past it.
QByteArray inflateBounded(const QByteArray& packed)
{
    if (packed.size() <= 4)
        return {};
    const auto* head = reinterpret_cast<const unsigned char*>(packed.constData());
    const quint64 declared = (quint64(head[0]) << 24) | (quint64(head[1]) << 16)
                             | (quint64(head[2]) << 8) | quint64(head[3]);
    const quint64 streamBytes = quint64(packed.size()) - 4;
    if (declared == 0 || declared > maxShapeBytes || streamBytes > UINT_MAX
        || declared > streamBytes * maxDeflateRatio + 64)
        return {};

    QByteArray out;
    try {
        out.resize(qsizetype(declared));
    } catch (const std::bad_alloc&) {
        return {};
    }
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return {};
    zs.next_in = const_cast<Bytef*>(head + 4);
    zs.avail_in = uInt(streamBytes);
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(declared);
    const int rc = inflate(&zs, Z_FINISH);
    const uLong produced = zs.total_out;
    inflateEnd(&zs);
    if (rc != Z_STREAM_END)
        return {};
    out.truncate(qsizetype(produced));
    return out;
}

} // namespace

QString shapeToBase64(const TopoDS_Shape& shape)
{
    std::ostringstream out;
    BinTools::Write(shape, out, true, false, BinTools_FormatVersion_VERSION_4,
                    Message_ProgressRange());
    const std::string bytes = out.str();
    const QByteArray packed = qCompress(QByteArray(bytes.data(), qsizetype(bytes.size())), 6);
    return QString::fromLatin1(packed.toBase64());
}

QByteArray shapeTextBytes(const QString& text)
{
    return inflateBounded(QByteArray::fromBase64(text.toLatin1()));
}

TopoDS_Shape readShapeBytes(const QByteArray& data)
{
    if (!isSoundBinaryShape(std::string_view(data.constData(), std::size_t(data.size()))))
        return {};
    try {
        OCC_CATCH_SIGNALS
        std::istringstream in(std::string(data.constData(), std::size_t(data.size())));
        TopoDS_Shape shape;
        BinTools::Read(shape, in, Message_ProgressRange());
        return shape;
    } catch (const Standard_Failure&) {
    } catch (const std::exception&) {
    }
    return {};
}

TopoDS_Shape shapeFromBase64(const QString& text)
{
    return readShapeBytes(shapeTextBytes(text));
}

} // namespace qor::io
