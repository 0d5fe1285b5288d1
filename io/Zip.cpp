#include "io/Zip.h"

#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace qor {

namespace {

constexpr std::uint32_t localSignature = 0x04034B50;
constexpr std::uint32_t centralSignature = 0x02014B50;
constexpr std::uint32_t endSignature = 0x06054B50;
constexpr qint64 localHeaderSize = 30;
constexpr qint64 centralHeaderSize = 46;
constexpr qint64 endRecordSize = 22;
constexpr qint64 longestComment = 65535;
constexpr qint64 maxArchiveSize = 0xFFFFFFFFLL;
constexpr std::size_t maxEntries = 0xFFFF;
constexpr std::uint16_t versionNeeded = 20;
constexpr std::uint16_t utf8Names = 0x0800;
constexpr std::uint16_t dosDate1980 = 0x0021;
// A deflate stream cannot expand by more than this factor.
constexpr qint64 maxDeflateRatio = 1032;
constexpr qint64 inflateStep = 65536;

std::uint16_t u16At(const QByteArray& bytes, qint64 at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData()) + at;
    return std::uint16_t(p[0] | (p[1] << 8));
}

std::uint32_t u32At(const QByteArray& bytes, qint64 at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData()) + at;
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16)
           | (std::uint32_t(p[3]) << 24);
}

void putU16(QByteArray& out, std::uint16_t v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void putU32(QByteArray& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((v >> shift) & 0xFF));
}

// zlib counts in 32-bit units; larger buffers go through in pieces.
std::uint32_t crcOf(const QByteArray& data)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    const auto* p = reinterpret_cast<const Bytef*>(data.constData());
    qint64 left = data.size();
    while (left > 0) {
        const auto piece = uInt(std::min<qint64>(left, std::numeric_limits<uInt>::max()));
        crc = crc32(crc, p, piece);
        p += piece;
        left -= piece;
    }
    return std::uint32_t(crc);
}

// The raw deflate stream of data, or empty when deflate failed or could not
// make the data smaller.
QByteArray deflateSmaller(const QByteArray& data)
{
    z_stream zs{};
    if (deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    const uLong bound = deflateBound(&zs, uLong(data.size()));
    QByteArray packed;
    // One deflate call needs input and output to fit zlib's 32-bit counters;
    // anything larger is stored.
    if (bound <= std::numeric_limits<uInt>::max()) {
        packed.resize(qsizetype(bound));
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
        zs.avail_in = uInt(data.size());
        zs.next_out = reinterpret_cast<Bytef*>(packed.data());
        zs.avail_out = uInt(bound);
        if (deflate(&zs, Z_FINISH) == Z_STREAM_END)
            packed.resize(qsizetype(zs.total_out));
        else
            packed.clear();
    }
    deflateEnd(&zs);
    if (packed.size() >= data.size())
        return {};
    return packed;
}

} // namespace

bool ZipReader::open(const QByteArray& bytes)
{
    data = bytes;
    entries.clear();
    const qint64 n = data.size();
    if (n < endRecordSize)
        return false;

    qint64 end = -1;
    const qint64 lowest = std::max<qint64>(n - endRecordSize - longestComment, 0);
    for (qint64 pos = n - endRecordSize; pos >= lowest; --pos) {
        if (u32At(data, pos) == endSignature) {
            end = pos;
            break;
        }
    }
    if (end < 0)
        return false;

    const std::uint16_t total = u16At(data, end + 10);
    const qint64 directory = u32At(data, end + 16);
    if (total == 0)
        return true;
    if (n < directory + centralHeaderSize)
        return false;

    qint64 p = directory;
    for (;;) {
        if (u32At(data, p) != centralSignature)
            return false;
        ZipEntry entry;
        entry.method = u16At(data, p + 10);
        entry.crc32 = u32At(data, p + 16);
        entry.compressedSize = u32At(data, p + 20);
        entry.size = u32At(data, p + 24);
        const qint64 nameLength = u16At(data, p + 28);
        const qint64 extraLength = u16At(data, p + 30);
        const qint64 commentLength = u16At(data, p + 32);
        entry.localHeaderOffset = u32At(data, p + 42);
        if (p + centralHeaderSize + nameLength > n)
            return false;
        entry.name = QString::fromUtf8(data.constData() + p + centralHeaderSize, nameLength);
        entries.push_back(std::move(entry));
        p += centralHeaderSize + nameLength + extraLength + commentLength;
        if (entries.size() == total)
            return true;
        if (p + centralHeaderSize > n)
            return false;
    }
}

bool ZipReader::openFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        data.clear();
        entries.clear();
        return false;
    }
    return open(file.readAll());
}

bool ZipReader::contains(const QString& name) const
{
    return std::any_of(entries.begin(), entries.end(),
                       [&](const ZipEntry& e) { return e.name == name; });
}

QByteArray ZipReader::read(const QString& name, qsizetype maxSize) const
{
    for (const ZipEntry& e : entries) {
        if (e.name == name)
            return readEntry(e, maxSize);
    }
    return {};
}

QByteArray ZipReader::readEntry(const ZipEntry& entry, qsizetype maxSize) const
{
    if (qint64(entry.size) > maxSize)
        return {};
    const qint64 n = data.size();
    const qint64 off = entry.localHeaderOffset;
    if (off + localHeaderSize > n || u32At(data, off) != localSignature)
        return {};
    const qint64 start = off + localHeaderSize + u16At(data, off + 26) + u16At(data, off + 28);
    if (start + qint64(entry.compressedSize) > n)
        return {};

    QByteArray result;
    if (entry.method == 0) {
        if (entry.compressedSize != entry.size)
            return {};
        result = data.mid(start, entry.compressedSize);
    } else if (entry.method == 8) {
        // The recorded size is the limit: a stream that yields more or less is
        // as damaged as one that fails.
        result = inflateStream(data.constData() + start, entry.compressedSize, -15, entry.size,
                               entry.size);
        if (result.size() != qint64(entry.size))
            return {};
    } else {
        return {};
    }
    if (crcOf(result) != entry.crc32)
        return {};
    return result;
}

QStringList ZipReader::names() const
{
    QStringList list;
    list.reserve(qsizetype(entries.size()));
    for (const ZipEntry& e : entries)
        list.append(e.name);
    return list;
}

bool ZipWriter::add(const QString& name, const QByteArray& data, bool compress)
{
    if (failed)
        return false;
    const QByteArray nameUtf8 = name.toUtf8();
    if (entries.size() >= maxEntries || nameUtf8.size() > 0xFFFF || data.size() > maxArchiveSize) {
        failed = true;
        return false;
    }

    QByteArray payload;
    std::uint16_t method = 0;
    if (compress && !data.isEmpty()) {
        payload = deflateSmaller(data);
        if (!payload.isEmpty())
            method = 8;
    }
    const QByteArray& stored = method == 8 ? payload : data;

    // Room for this entry and its directory header, so that finish cannot fail
    // on an archive whose entries were all accepted.
    const qint64 offset = out.size();
    const qint64 directoryAfter = directorySize + centralHeaderSize + nameUtf8.size();
    const qint64 after = offset + localHeaderSize + nameUtf8.size() + stored.size() + directoryAfter
                         + endRecordSize;
    if (after > maxArchiveSize) {
        failed = true;
        return false;
    }

    Record record{nameUtf8,
                  crcOf(data),
                  std::uint32_t(data.size()),
                  std::uint32_t(stored.size()),
                  std::uint32_t(offset),
                  method};
    putU32(out, localSignature);
    putU16(out, versionNeeded);
    putU16(out, utf8Names);
    putU16(out, record.method);
    putU16(out, 0);
    putU16(out, dosDate1980);
    putU32(out, record.crc32);
    putU32(out, record.compressedSize);
    putU32(out, record.size);
    putU16(out, std::uint16_t(nameUtf8.size()));
    putU16(out, 0);
    out.append(nameUtf8);
    out.append(stored);
    entries.push_back(std::move(record));
    directorySize = directoryAfter;
    return true;
}

QByteArray ZipWriter::finish()
{
    if (failed)
        return {};
    const qint64 directory = out.size();
    for (const Record& r : entries) {
        putU32(out, centralSignature);
        putU16(out, versionNeeded);
        putU16(out, versionNeeded);
        putU16(out, utf8Names);
        putU16(out, r.method);
        putU16(out, 0);
        putU16(out, dosDate1980);
        putU32(out, r.crc32);
        putU32(out, r.compressedSize);
        putU32(out, r.size);
        putU16(out, std::uint16_t(r.nameUtf8.size()));
        putU16(out, 0);
        putU16(out, 0);
        putU16(out, 0);
        putU16(out, 0);
        putU32(out, 0);
        putU32(out, r.localHeaderOffset);
        out.append(r.nameUtf8);
    }
    putU32(out, endSignature);
    putU16(out, 0);
    putU16(out, 0);
    putU16(out, std::uint16_t(entries.size()));
    putU16(out, std::uint16_t(entries.size()));
    putU32(out, std::uint32_t(directorySize));
    putU32(out, std::uint32_t(directory));
    putU16(out, 0);
    return out;
}

QByteArray inflateRaw(const char* data, qsizetype size, qsizetype expectedSize)
{
    const qsizetype maxSize = expectedSize >= 1 ? expectedSize + 1 : qsizetype(2147483648LL);
    return inflateStream(data, size, -15, expectedSize, maxSize);
}

QByteArray inflateZlib(const char* data, qsizetype size, qsizetype maxSize)
{
    return inflateStream(data, size, 15, -1, maxSize);
}

QByteArray inflateStream(const char* data, qsizetype size, int windowBits, qsizetype expectedSize,
                         qsizetype maxSize)
{
    if (size < 0 || maxSize < 0)
        return {};
    z_stream zs{};
    if (inflateInit2(&zs, windowBits) != Z_OK)
        return {};

    // Trust neither the expected size nor the input length blindly: a hostile
    // header must not make us reserve memory the data can never fill.
    const qint64 possible = size > std::numeric_limits<qint64>::max() / maxDeflateRatio
                                ? std::numeric_limits<qint64>::max()
                                : qint64(size) * maxDeflateRatio;
    const qint64 wanted = expectedSize >= 1 ? expectedSize : 3 * qint64(size);
    QByteArray result;
    result.reserve(qsizetype(std::min({wanted, possible, qint64(maxSize)})));

    const auto* next = reinterpret_cast<const Bytef*>(data);
    qint64 left = size;
    bool ok = false;
    for (;;) {
        if (zs.avail_in == 0 && left > 0) {
            const auto piece = uInt(std::min<qint64>(left, std::numeric_limits<uInt>::max()));
            zs.next_in = const_cast<Bytef*>(next);
            zs.avail_in = piece;
            next += piece;
            left -= piece;
        }
        const qsizetype before = result.size();
        result.resize(before + inflateStep);
        zs.next_out = reinterpret_cast<Bytef*>(result.data() + before);
        zs.avail_out = uInt(inflateStep);
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const qsizetype produced = inflateStep - qsizetype(zs.avail_out);
        result.resize(before + produced);
        const bool inputLeft = zs.avail_in > 0 || left > 0;
        if (rc == Z_BUF_ERROR && !inputLeft) {
            ok = true; // truncated exactly at a buffer boundary
            break;
        }
        if (rc != Z_OK && rc != Z_STREAM_END)
            break;
        if (result.size() > maxSize)
            break;
        if (rc == Z_STREAM_END || (!inputLeft && produced < inflateStep)) {
            ok = true;
            break;
        }
    }
    inflateEnd(&zs);
    return ok ? result : QByteArray();
}

} // namespace qor
