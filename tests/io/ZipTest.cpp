#include "io/Zip.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/Bytes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <zlib.h>

#include <sys/mman.h>

using qor::ZipEntry;
using qor::ZipReader;
using qor::ZipWriter;
using namespace qor::test;

namespace {

QByteArray textBytes(qsizetype n)
{
    QByteArray bytes;
    while (bytes.size() < n)
        bytes.append("Zeile mit Text, die sich gut komprimieren lässt. ");
    bytes.truncate(n);
    return bytes;
}

// Offset of the first central-directory header, read from the end record.
qsizetype directoryOf(const QByteArray& archive)
{
    return qsizetype(u32(archive, archive.size() - 22 + 16));
}

QByteArray rawDeflate(const QByteArray& data)
{
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(qsizetype(deflateBound(&zs, uLong(data.size()))), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return out;
}

} // namespace

TEST(ZipRoundTrip, WrittenArchiveReadsBackInOrder)
{
    const QByteArray text = textBytes(200000);
    const QByteArray noise = randomBytes(5000, 7);
    ZipWriter writer;
    ASSERT_TRUE(writer.add(QStringLiteral("3D/3dmodel.model"), text, true));
    ASSERT_TRUE(writer.add(QStringLiteral("Über/größe.bin"), noise, true));
    ASSERT_TRUE(writer.add(QStringLiteral("leer"), QByteArray(), true));
    ASSERT_TRUE(writer.add(QStringLiteral("roh.txt"), QByteArray("abc"), false));
    const QByteArray archive = writer.finish();

    ZipReader reader;
    ASSERT_TRUE(reader.open(archive));
    EXPECT_EQ(reader.names(), (QStringList{"3D/3dmodel.model", "Über/größe.bin", "leer", "roh.txt"}));
    EXPECT_EQ(reader.read(QStringLiteral("3D/3dmodel.model"), 1 << 20), text);
    EXPECT_EQ(reader.read(QStringLiteral("Über/größe.bin"), 1 << 20), noise);
    EXPECT_EQ(reader.read(QStringLiteral("roh.txt"), 10), QByteArray("abc"));

    const std::vector<ZipEntry>& e = reader.entries;
    ASSERT_EQ(e.size(), 4u);
    // Text shrinks and is deflated; random bytes cannot shrink and are stored.
    EXPECT_EQ(e[0].method, 8);
    EXPECT_LT(e[0].compressedSize, e[0].size / 10);
    EXPECT_EQ(e[1].method, 0);
    EXPECT_EQ(e[1].compressedSize, 5000u);
    // Empty data with compression requested: stored, CRC 0, both sizes 0.
    EXPECT_EQ(e[2].method, 0);
    EXPECT_EQ(e[2].size, 0u);
    EXPECT_EQ(e[2].compressedSize, 0u);
    EXPECT_EQ(e[2].crc32, 0u);
    EXPECT_EQ(e[1].crc32, std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(noise.constData()),
                                                uInt(noise.size()))));
    EXPECT_EQ(e[0].localHeaderOffset, 0u);

    // Every record is where the format puts it: local header fields, UTF-8 flag,
    // date 1 January 1980, and the end record's counts and directory size.
    EXPECT_EQ(u32(archive, 0), 0x04034B50u);
    EXPECT_EQ(u16(archive, 4), 20);
    EXPECT_EQ(u16(archive, 6), 0x0800);
    EXPECT_EQ(u16(archive, 12), 0x0021);
    const qsizetype dir = directoryOf(archive);
    EXPECT_EQ(u32(archive, dir), 0x02014B50u);
    EXPECT_EQ(u16(archive, archive.size() - 22 + 8), 4);
    EXPECT_EQ(u16(archive, archive.size() - 22 + 10), 4);
    EXPECT_EQ(qsizetype(u32(archive, archive.size() - 22 + 12)), archive.size() - 22 - dir);
}

TEST(ZipRoundTrip, ArchiveReadsBackFromFile)
{
    QTemporaryDir dir;
    ZipWriter writer;
    ASSERT_TRUE(writer.add(QStringLiteral("theme.json"), QByteArray("{\"a\": 1}"), true));
    QFile file(dir.filePath("pack.zip"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(writer.finish());
    file.close();

    ZipReader reader;
    EXPECT_TRUE(reader.openFile(file.fileName()));
    EXPECT_EQ(reader.read(QStringLiteral("theme.json"), 0x100000), QByteArray("{\"a\": 1}"));
    EXPECT_FALSE(reader.openFile(dir.filePath("fehlt.zip")));
    EXPECT_TRUE(reader.entries.empty());
}

TEST(ZipReaderLimits, EndRecordAndEmptyArchives)
{
    ZipWriter empty;
    const QByteArray end = empty.finish();
    ASSERT_EQ(end.size(), 22);
    EXPECT_EQ(u32(end, 0), 0x06054B50u);
    EXPECT_EQ(u32(end, 12), 0u);
    EXPECT_EQ(u32(end, 16), 0u);

    ZipReader reader;
    EXPECT_TRUE(reader.open(end));
    EXPECT_TRUE(reader.names().isEmpty());
    EXPECT_FALSE(reader.open(end.left(21)));
    EXPECT_FALSE(reader.open(QByteArray()));
    EXPECT_FALSE(reader.open(QByteArray(100, 'x')));
}

TEST(ZipReaderLimits, LongestCommentAndCaseSensitiveNames)
{
    ZipWriter writer;
    writer.add(QStringLiteral("Theme.json"), QByteArray("x"), false);
    QByteArray archive = writer.finish();
    setU16(archive, archive.size() - 2, 65535);
    archive.append(QByteArray(65535, 'c'));

    ZipReader reader;
    ASSERT_TRUE(reader.open(archive));
    EXPECT_TRUE(reader.contains(QStringLiteral("Theme.json")));
    EXPECT_FALSE(reader.contains(QStringLiteral("theme.json")));
    EXPECT_TRUE(reader.read(QStringLiteral("theme.json"), 100).isEmpty());
    EXPECT_EQ(reader.read(QStringLiteral("Theme.json"), 100), QByteArray("x"));

    // One byte more behind the end record and it is out of the search window.
    archive.append('c');
    EXPECT_FALSE(reader.open(archive));
}

TEST(ZipReaderLimits, CallerSizeLimitHolds)
{
    const QByteArray text = textBytes(10000);
    ZipWriter writer;
    writer.add(QStringLiteral("a"), text, true);
    writer.add(QStringLiteral("b"), text, false);
    QByteArray archive = writer.finish();
    ZipReader reader;
    ASSERT_TRUE(reader.open(archive));
    for (const QString name : {QStringLiteral("a"), QStringLiteral("b")}) {
        EXPECT_EQ(reader.read(name, 10000), text) << name.toStdString();
        EXPECT_TRUE(reader.read(name, 9999).isEmpty()) << name.toStdString();
    }

    // A deflated entry that claims size 0 must not slip past the limit by
    // inflating into whatever the stream holds.
    const qsizetype dir = directoryOf(archive);
    setU32(archive, dir + 24, 0);
    ASSERT_TRUE(reader.open(archive));
    EXPECT_EQ(reader.entries[0].size, 0u);
    EXPECT_TRUE(reader.read(QStringLiteral("a"), 100).isEmpty());
    EXPECT_TRUE(reader.read(QStringLiteral("a"), 1 << 30).isEmpty());
}

TEST(ZipReaderHostile, DamagedArchivesFailCleanly)
{
    const QByteArray text = textBytes(3000);
    ZipWriter writer;
    writer.add(QStringLiteral("eins"), text, true);
    writer.add(QStringLiteral("zwei"), text, false);
    const QByteArray good = writer.finish();
    const qsizetype dir = directoryOf(good);
    ZipReader reader;
    ASSERT_TRUE(reader.open(good));

    // Central directory cut short, or its offset past the end.
    EXPECT_FALSE(reader.open(good.left(dir + 50) + good.right(22)));
    QByteArray bad = good;
    setU32(bad, bad.size() - 22 + 16, 0xFFFFFF00u);
    EXPECT_FALSE(reader.open(bad));
    // More entries announced than the directory holds.
    bad = good;
    setU16(bad, bad.size() - 22 + 10, 3);
    EXPECT_FALSE(reader.open(bad));
    // A name running past the end of the data.
    bad = good;
    setU16(bad, dir + 28, 60000);
    EXPECT_FALSE(reader.open(bad));
    // A wrong central signature.
    bad = good;
    bad[dir] = 'X';
    EXPECT_FALSE(reader.open(bad));

    // Local header offsets outside the data or at a wrong signature.
    bad = good;
    setU32(bad, dir + 42, 0xFFFFFFF0u);
    ASSERT_TRUE(reader.open(bad));
    EXPECT_TRUE(reader.read(QStringLiteral("eins"), 1 << 20).isEmpty());
    bad = good;
    setU32(bad, dir + 42, 1);
    ASSERT_TRUE(reader.open(bad));
    EXPECT_TRUE(reader.read(QStringLiteral("eins"), 1 << 20).isEmpty());
    // Compressed data announced longer than the archive.
    bad = good;
    setU32(bad, dir + 20, 0x7FFFFFFFu);
    ASSERT_TRUE(reader.open(bad));
    EXPECT_TRUE(reader.read(QStringLiteral("eins"), 1 << 20).isEmpty());

    // A wrong CRC in the directory, for a deflated and for a stored entry.
    bad = good;
    setU32(bad, dir + 16, reader.entries[0].crc32 ^ 1u);
    ASSERT_TRUE(reader.open(bad));
    EXPECT_TRUE(reader.read(QStringLiteral("eins"), 1 << 20).isEmpty());
    EXPECT_EQ(reader.read(QStringLiteral("zwei"), 1 << 20), text);
    // A flipped byte inside the stored data.
    bad = good;
    const qsizetype second = qsizetype(reader.entries[1].localHeaderOffset) + 30 + 4;
    bad[second + 100] = char(bad[second + 100] ^ 0x20);
    ASSERT_TRUE(reader.open(bad));
    EXPECT_TRUE(reader.read(QStringLiteral("zwei"), 1 << 20).isEmpty());

    // Garbage where the deflate stream should be.
    bad = good;
    const qsizetype first = 30 + 4;
    for (int i = 0; i < 40; ++i)
        bad[first + i] = char(0xFF);
    ASSERT_TRUE(reader.open(bad));
    EXPECT_TRUE(reader.read(QStringLiteral("eins"), 1 << 20).isEmpty());
}

TEST(ZipReaderHostile, UnknownMethodsAndSizeMismatch)
{
    const QByteArray text = textBytes(4000);
    ZipWriter writer;
    writer.add(QStringLiteral("a"), text, true);
    writer.add(QStringLiteral("b"), text, true);
    QByteArray archive = writer.finish();
    const qsizetype dir = directoryOf(archive);
    setU16(archive, dir + 10, 12);
    setU16(archive, dir + 46 + 1 + 10, 14);

    ZipReader reader;
    ASSERT_TRUE(reader.open(archive));
    EXPECT_EQ(reader.names(), (QStringList{"a", "b"}));
    EXPECT_EQ(reader.entries[0].method, 12);
    EXPECT_EQ(reader.entries[1].method, 14);
    EXPECT_TRUE(reader.read(QStringLiteral("a"), 1 << 20).isEmpty());
    EXPECT_TRUE(reader.read(QStringLiteral("b"), 1 << 20).isEmpty());

    // A stream that yields more, or less, than the recorded size.
    ZipWriter second;
    second.add(QStringLiteral("a"), text, true);
    QByteArray bigger = second.finish();
    setU32(bigger, directoryOf(bigger) + 24, std::uint32_t(text.size() - 1));
    ASSERT_TRUE(reader.open(bigger));
    EXPECT_TRUE(reader.read(QStringLiteral("a"), 1 << 20).isEmpty());
    setU32(bigger, directoryOf(bigger) + 24, std::uint32_t(text.size() + 1));
    ASSERT_TRUE(reader.open(bigger));
    EXPECT_TRUE(reader.read(QStringLiteral("a"), 1 << 20).isEmpty());
}

TEST(ZipInflate, TruncatedStreamsLimitsAndWrappers)
{
    const QByteArray text = textBytes(300000);
    const QByteArray packed = rawDeflate(text);

    EXPECT_EQ(qor::inflateRaw(packed.constData(), packed.size(), text.size()), text);
    EXPECT_EQ(qor::inflateRaw(packed.constData(), packed.size(), -1), text);
    // More than the expected size plus one byte is refused.
    EXPECT_TRUE(qor::inflateRaw(packed.constData(), packed.size(), text.size() - 2).isEmpty());

    // A truncated stream yields a true prefix of what was decoded.
    const QByteArray part = qor::inflateRaw(packed.constData(), packed.size() / 2, text.size());
    EXPECT_GT(part.size(), 0);
    EXPECT_LT(part.size(), text.size());
    EXPECT_TRUE(text.startsWith(part));

    // zlib-wrapped data as Qt's compression writes it after its size prefix.
    const QByteArray wrapped = qCompress(text, 6).mid(4);
    EXPECT_EQ(qor::inflateZlib(wrapped.constData(), wrapped.size(), 0x10000000), text);
    EXPECT_TRUE(qor::inflateZlib(wrapped.constData(), wrapped.size(), text.size() - 1).isEmpty());
    EXPECT_TRUE(qor::inflateZlib(packed.constData(), packed.size(), 0x10000000).isEmpty());

    // A hostile expected size must not turn into a huge reservation: ten bytes
    // of input can never inflate to a terabyte.
    EXPECT_TRUE(qor::inflateRaw(packed.constData(), 10, qsizetype(1) << 40).size() < 10 * 1032);
    EXPECT_TRUE(qor::inflateStream(nullptr, 0, -15, qsizetype(1) << 40, qsizetype(1) << 40).isEmpty());
}

TEST(ZipWriterLimits, EntryCountNameLengthAndSize)
{
    ZipWriter writer;
    for (int i = 0; i < 65535; ++i)
        ASSERT_TRUE(writer.add(QString::number(i), QByteArray(), false));
    EXPECT_FALSE(writer.add(QStringLiteral("zu viel"), QByteArray("x"), false));
    EXPECT_TRUE(writer.finish().isEmpty());

    ZipWriter names;
    EXPECT_TRUE(names.add(QString(65535, QChar('n')), QByteArray("x"), false));
    EXPECT_FALSE(names.add(QString(65536, QChar('n')), QByteArray("x"), false));
    EXPECT_TRUE(names.finish().isEmpty());

    // An entry of 4 GiB cannot be described with 32-bit sizes. The zero pages
    // are mapped, not touched, so the check costs no memory.
    const std::size_t huge = std::size_t(1) << 32;
    void* zeros = mmap(nullptr, huge, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    ZipWriter big;
    EXPECT_TRUE(big.add(QStringLiteral("klein"), QByteArray("x"), false));
    EXPECT_FALSE(big.add(QStringLiteral("groß"), QByteArray::fromRawData(static_cast<const char*>(zeros),
                                                                          qsizetype(huge)),
                         false));
    EXPECT_TRUE(big.finish().isEmpty());
    munmap(zeros, huge);
}
