#include "io/Zip.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/Bytes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <zlib.h>

#include <functional>

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
    EXPECT_EQ(reader.names(),
              (QStringList{"3D/3dmodel.model", "Über/größe.bin", "leer", "roh.txt"}));
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
    ASSERT_TRUE(writeFile(dir.filePath("pack.zip"), writer.finish()));
    ZipReader reader;
    EXPECT_TRUE(reader.openFile(dir.filePath("pack.zip")));
    EXPECT_EQ(reader.read(QStringLiteral("theme.json"), 0x100000), QByteArray("{\"a\": 1}"));
    EXPECT_FALSE(reader.openFile(dir.filePath("fehlt.zip")));
    EXPECT_TRUE(reader.entries.empty());
}

TEST(ZipReaderLimits, EndRecordCommentAndCaseSensitiveNames)
{
    const QByteArray end = ZipWriter().finish();
    ASSERT_EQ(end.size(), 22);
    EXPECT_EQ(u32(end, 0), 0x06054B50u);
    ZipReader reader;
    EXPECT_TRUE(reader.open(end));
    EXPECT_TRUE(reader.names().isEmpty());
    for (const QByteArray& bytes : {end.left(21), QByteArray(), QByteArray(100, 'x')})
        EXPECT_FALSE(reader.open(bytes));

    ZipWriter writer;
    writer.add(QStringLiteral("Theme.json"), QByteArray("x"), false);
    QByteArray archive = writer.finish();
    setU16(archive, archive.size() - 2, 65535);
    archive.append(QByteArray(65535, 'c'));
    ASSERT_TRUE(reader.open(archive));
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
    ZipReader reader;
    ASSERT_TRUE(reader.open(writer.finish()));
    for (const QString name : {QStringLiteral("a"), QStringLiteral("b")}) {
        EXPECT_EQ(reader.read(name, 10000), text) << name.toStdString();
        EXPECT_TRUE(reader.read(name, 9999).isEmpty()) << name.toStdString();
    }
}

TEST(ZipReaderHostile, DamagedArchivesFailCleanly)
{
    const QByteArray text = textBytes(3000);
    ZipWriter writer;
    writer.add(QStringLiteral("eins"), text, true);
    writer.add(QStringLiteral("zwei"), text, false);
    const QByteArray good = writer.finish();
    const qsizetype dir = directoryOf(good);
    const qsizetype end = good.size() - 22;
    const qsizetype second = dir + 46 + 4; // central header of "zwei"
    const qsizetype storedData = qsizetype(u32(good, second + 42)) + 30 + 4;
    const std::uint32_t crc = u32(good, dir + 16);
    const auto field = [](qsizetype at, std::uint32_t value, int bytes = 4) {
        return [=](QByteArray& b) {
            bytes == 2 ? setU16(b, at, std::uint16_t(value)) : setU32(b, at, value);
        };
    };
    const struct {
        const char* what;
        std::function<void(QByteArray&)> damage;
        const char* unreadable; // nullptr: the archive does not open at all
    } cases[] = {
        {"directory cut short", [&](QByteArray& b) { b = b.left(dir + 50) + b.right(22); },
         nullptr},
        {"directory past the end", field(end + 16, 0xFFFFFF00u), nullptr},
        {"more entries announced", field(end + 10, 3, 2), nullptr},
        {"name past the end", field(dir + 28, 60000, 2), nullptr},
        {"wrong central signature", [&](QByteArray& b) { b[dir] = 'X'; }, nullptr},
        {"local header outside", field(dir + 42, 0xFFFFFFF0u), "eins"},
        {"wrong local signature", field(dir + 42, 1), "eins"},
        {"compressed size past the end", field(dir + 20, 0x7FFFFFFFu), "eins"},
        {"wrong CRC, deflated", field(dir + 16, crc ^ 1u), "eins"},
        {"flipped stored byte", [&](QByteArray& b) { b[storedData + 100] ^= 0x20; }, "zwei"},
        {"garbage deflate stream", [](QByteArray& b) { b.replace(34, 40, QByteArray(40, '\xFF')); },
         "eins"},
        {"unknown method", field(dir + 10, 12, 2), "eins"},
        {"unknown method, second", field(second + 10, 14, 2), "zwei"},
        // A deflated entry must not slip past the caller's limit by claiming
        // size 0, nor yield more or less than the size it records.
        {"size zero", field(dir + 24, 0), "eins"},
        {"size one short", field(dir + 24, std::uint32_t(text.size() - 1)), "eins"},
        {"size one long", field(dir + 24, std::uint32_t(text.size() + 1)), "eins"},
    };
    ZipReader reader;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray bad = good;
        c.damage(bad);
        if (!c.unreadable) {
            EXPECT_FALSE(reader.open(bad));
            continue;
        }
        ASSERT_TRUE(reader.open(bad));
        EXPECT_TRUE(reader.read(QString::fromLatin1(c.unreadable), 1 << 30).isEmpty());
        // The other entry is unharmed.
        const QString other = QString::fromLatin1(c.unreadable) == "eins" ? "zwei" : "eins";
        EXPECT_EQ(reader.read(other, 1 << 20), text);
    }
}

TEST(ZipInflate, TruncatedStreamsLimitsAndWrappers)
{
    const QByteArray text = textBytes(300000);
    // zlib-wrapped data as Qt's compression writes it after its size prefix;
    // without the two-byte header and the four-byte checksum, a raw stream.
    const QByteArray wrapped = qCompress(text, 6).mid(4);
    const QByteArray packed = wrapped.mid(2, wrapped.size() - 6);

    EXPECT_EQ(qor::inflateRaw(packed.constData(), packed.size(), text.size()), text);
    EXPECT_EQ(qor::inflateRaw(packed.constData(), packed.size(), -1), text);
    // More than the expected size plus one byte is refused.
    EXPECT_TRUE(qor::inflateRaw(packed.constData(), packed.size(), text.size() - 2).isEmpty());

    // A truncated stream yields a true prefix of what was decoded.
    const QByteArray part = qor::inflateRaw(packed.constData(), packed.size() / 2, text.size());
    EXPECT_GT(part.size(), 0);
    EXPECT_LT(part.size(), text.size());
    EXPECT_TRUE(text.startsWith(part));

    EXPECT_EQ(qor::inflateZlib(wrapped.constData(), wrapped.size(), 0x10000000), text);
    EXPECT_TRUE(qor::inflateZlib(wrapped.constData(), wrapped.size(), text.size() - 1).isEmpty());
    EXPECT_TRUE(qor::inflateZlib(packed.constData(), packed.size(), 0x10000000).isEmpty());

    // A hostile expected size must not turn into a huge reservation: ten bytes
    // of input can never inflate to a terabyte.
    EXPECT_TRUE(qor::inflateRaw(packed.constData(), 10, qsizetype(1) << 40).size() < 10 * 1032);
    EXPECT_TRUE(
        qor::inflateStream(nullptr, 0, -15, qsizetype(1) << 40, qsizetype(1) << 40).isEmpty());
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
    void* zeros
        = mmap(nullptr, huge, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    ZipWriter big;
    EXPECT_TRUE(big.add(QStringLiteral("klein"), QByteArray("x"), false));
    EXPECT_FALSE(big.add(QStringLiteral("groß"),
                         QByteArray::fromRawData(static_cast<const char*>(zeros), qsizetype(huge)),
                         false));
    EXPECT_TRUE(big.finish().isEmpty());
    munmap(zeros, huge);
}
