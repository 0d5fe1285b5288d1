#include "io/cfb/CompoundFile.h"

#include "CompoundFileWriter.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sys/resource.h>

using qor::io::CompoundFile;
using namespace qor::test;

namespace {

// Index of the entry named so (first match), or -1.
int indexOf(const CompoundFile& file, const QString& name)
{
    for (std::size_t i = 0; i < file.entries.size(); ++i) {
        if (file.entries[i].name == name)
            return int(i);
    }
    return -1;
}

long peakResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs work and reports how long it took and how far it raised the peak
// resident memory of the process.
struct Cost {
    qint64 ms = 0;
    long peakGrowthKb = 0;
};

Cost measure(const std::function<void()>& work)
{
    const long before = peakResidentKb();
    QElapsedTimer timer;
    timer.start();
    work();
    return {timer.elapsed(), peakResidentKb() - before};
}

// Streams of every size class: mini, just below and at the cutoff, several
// sectors, and nested storages.
struct Sample {
    QByteArray file;
    std::vector<std::pair<QString, QByteArray>> streams; // path and contents
};

Sample sampleFile(int sectorShift)
{
    CompoundFileWriter writer(sectorShift);
    Sample sample;
    const auto add = [&](const QString& path, const QString& name, qsizetype size, int parent) {
        const QByteArray data = randomBytes(size, unsigned(size));
        writer.addStream(name, data, parent);
        sample.streams.emplace_back(path, data);
    };
    add("Klein", "Klein", 100, 0);
    add("Grenze", "Grenze", 4095, 0);
    add("Gross", "Gross", 4096, 0);
    add("Mehr", "Mehr", 10000, 0);
    const int a = writer.addStorage("A");
    add("A/Innen", "Innen", 300, a);
    const int b = writer.addStorage("B", a);
    add("A/B/Tief", "Tief", 5000, b);
    add("A/B/Leer", "Leer", 0, b);
    sample.file = writer.build();
    return sample;
}

QByteArray fileWithLinks(const std::vector<CfbRecord>& records)
{
    return CompoundFileWriter().layout(records);
}

// The recursive walk the reader must reproduce: depth-first, an entry, then
// its left subtree, its right subtree and, for a storage, its children.
void referenceVisit(const std::vector<CfbRecord>& records, std::vector<int>& parents,
                    std::uint32_t id, int parent)
{
    if (std::int32_t(id) < 0 || id >= records.size() || parents[id] != -1)
        return;
    parents[id] = parent;
    referenceVisit(records, parents, records[id].left, parent);
    referenceVisit(records, parents, records[id].right, parent);
    if (records[id].type == 1 || records[id].type == 5)
        referenceVisit(records, parents, records[id].child, int(id));
}

} // namespace

TEST(CompoundFileTest, RefusesWhatIsNoCompoundFile)
{
    const QByteArray valid = sampleFile(9).file;
    CompoundFile file;
    QString error;
    EXPECT_FALSE(file.open(valid.left(511), &error));
    EXPECT_EQ(error, "Kein OLE-Verbunddokument");

    QByteArray wrongFirstByte = valid;
    wrongFirstByte[0] = char(0xD1);
    error.clear();
    EXPECT_FALSE(CompoundFile().open(wrongFirstByte, &error));
    EXPECT_EQ(error, "Kein OLE-Verbunddokument");
    EXPECT_FALSE(CompoundFile().open(wrongFirstByte, nullptr));

    QByteArray shiftTen = valid;
    setU16(shiftTen, 0x1E, 10);
    CompoundFile odd;
    EXPECT_FALSE(odd.open(shiftTen, &error));
    EXPECT_EQ(error, "Ungültige Sektorgröße");
    EXPECT_EQ(odd.sectorSize, 1024u);

    error = "unverändert";
    EXPECT_TRUE(file.open(valid, &error));
    EXPECT_EQ(error, "unverändert");
}

TEST(CompoundFileTest, ReadsStreamsInBothSectorSizes)
{
    for (int shift : {9, 12}) {
        SCOPED_TRACE(shift);
        const Sample sample = sampleFile(shift);
        CompoundFile file;
        ASSERT_TRUE(file.open(sample.file));
        EXPECT_EQ(file.sectorSize, 1u << shift);
        EXPECT_EQ(file.miniSectorSize, 64u);
        EXPECT_EQ(file.miniStreamCutoff, 4096u);
        // Klein, Grenze and Innen live in the mini stream, 64-byte aligned.
        EXPECT_EQ(file.miniStream.size(), 128 + 4096 + 320);
        for (const auto& [path, data] : sample.streams) {
            SCOPED_TRACE(path.toStdString());
            const int index = file.findEntry(path);
            ASSERT_GT(index, 0);
            EXPECT_EQ(file.entryPath(index), path);
            EXPECT_EQ(file.entries[index].type, 2);
            EXPECT_EQ(file.entries[index].size, std::uint64_t(data.size()));
            EXPECT_EQ(file.readStream(index), data);
        }
        const int a = file.findEntry("A");
        const int b = file.findEntry("A/B");
        ASSERT_GT(a, 0);
        ASSERT_GT(b, 0);
        EXPECT_EQ(file.entries[a].parent, 0);
        EXPECT_EQ(file.entries[b].parent, a);
        EXPECT_EQ(file.entries[file.findEntry("A/B/Tief")].parent, b);
        EXPECT_EQ(file.entries[0].parent, -2);
        EXPECT_TRUE(file.readStream(a).isEmpty());
        EXPECT_TRUE(file.readStream(0).isEmpty());
        EXPECT_TRUE(file.readStream(-1).isEmpty());
        EXPECT_TRUE(file.readStream(int(file.entries.size())).isEmpty());
    }
}

TEST(CompoundFileTest, StreamSizeFieldAndShortChains)
{
    // 512-byte sectors use only the low half of the size field.
    Sample sample = sampleFile(9);
    CompoundFile probe;
    ASSERT_TRUE(probe.open(sample.file));
    const int mehr = probe.findEntry("Mehr");
    setU32(sample.file, cfbEntryOffset(sample.file, mehr) + 0x7C, 1);
    CompoundFile narrow;
    ASSERT_TRUE(narrow.open(sample.file));
    EXPECT_EQ(narrow.entries[mehr].size, 10000u);
    EXPECT_EQ(narrow.readStream(mehr).size(), 10000);

    // A size beyond the chain gives what the chain holds: 20 sectors.
    setU32(sample.file, cfbEntryOffset(sample.file, mehr) + 0x78, 20000);
    ASSERT_TRUE(narrow.open(sample.file));
    const QByteArray shortened = narrow.readStream(mehr);
    EXPECT_EQ(shortened.size(), 20 * 512);
    EXPECT_TRUE(shortened.startsWith(sample.streams[3].second));

    // 4096-byte sectors take all eight bytes.
    Sample wide = sampleFile(12);
    ASSERT_TRUE(probe.open(wide.file));
    const int tief = probe.findEntry("A/B/Tief");
    setU32(wide.file, cfbEntryOffset(wide.file, tief) + 0x7C, 1);
    CompoundFile large;
    ASSERT_TRUE(large.open(wide.file));
    EXPECT_EQ(large.entries[tief].size, (1ULL << 32) + 5000);
    EXPECT_EQ(large.readStream(tief).size(), 2 * 4096);
}

TEST(CompoundFileTest, EmptyFatLeavesOneSectorChains)
{
    Sample sample = sampleFile(9);
    setU32(sample.file, 0x4C, cfbFree);
    setU32(sample.file, 0x44, cfbEndOfChain);
    CompoundFile file;
    ASSERT_TRUE(file.open(sample.file));
    EXPECT_TRUE(file.fat.empty());
    EXPECT_EQ(file.nextSector(0), cfbEndOfChain);
    // The directory shrinks to its first sector: four entries.
    EXPECT_EQ(file.entries.size(), 4u);
    const int gross = file.findEntry("Gross");
    ASSERT_GT(gross, 0);
    EXPECT_EQ(file.readStream(gross), sample.streams[2].second.left(512));
}

TEST(CompoundFileTest, DamagedTablesAreReported)
{
    const QByteArray valid = sampleFile(9).file;
    QString error;

    QByteArray fatOutside = valid;
    setU32(fatOutside, 0x4C, 5000);
    EXPECT_FALSE(CompoundFile().open(fatOutside, &error));
    EXPECT_EQ(error, "Beschädigte FAT");

    QByteArray difatOutside = valid;
    setU32(difatOutside, 0x44, 5000);
    setU32(difatOutside, 0x48, 1);
    EXPECT_FALSE(CompoundFile().open(difatOutside, &error));
    EXPECT_EQ(error, "Beschädigte DIFAT");

    // A DIFAT sector listing sector 0xFFFFFFFF: in 32-bit offsets that sector
    // would wrap around onto the header and be read as FAT.
    QByteArray wrapping = valid;
    const auto difatSector = std::uint32_t(wrapping.size() / 512 - 1);
    QByteArray difat;
    for (int i = 0; i < 127; ++i)
        appendU32(difat, cfbFree);
    appendU32(difat, cfbEndOfChain);
    wrapping.append(difat);
    setU32(wrapping, 0x2C, 2);
    setU32(wrapping, 0x44, difatSector);
    setU32(wrapping, 0x48, 1);
    EXPECT_FALSE(CompoundFile().open(wrapping, &error));
    EXPECT_EQ(error, "Beschädigte FAT");

    QByteArray noDirectory = valid;
    setU32(noDirectory, 0x30, cfbEndOfChain);
    EXPECT_FALSE(CompoundFile().open(noDirectory, &error));
    EXPECT_EQ(error, "Kein Wurzelverzeichnis");

    QByteArray storageRoot = valid;
    storageRoot[cfbEntryOffset(storageRoot, 0) + 0x42] = char(1);
    EXPECT_FALSE(CompoundFile().open(storageRoot, &error));
    EXPECT_EQ(error, "Kein Wurzelverzeichnis");
}

TEST(CompoundFileTest, EntryNamesAndPaths)
{
    CompoundFileWriter writer;
    const QString longName(31, QChar(u'ü'));
    for (int i = 0; i < 6; ++i)
        writer.addStream(QString("N%1").arg(i) + longName.left(28), QByteArray(10, 'x'));
    const int a = writer.addStorage("A");
    writer.addStream("Innen", QByteArray(10, 'i'), a);
    std::vector<CfbRecord> records = writer.records();
    const int lengths[] = {0, 1, 2, 66, 64, 8};
    for (int i = 0; i < 6; ++i)
        records[1 + i].nameBytes = lengths[i];
    CfbRecord unreached;
    unreached.name = "Verloren";
    unreached.type = 2;
    records.push_back(unreached);

    CompoundFile file;
    ASSERT_TRUE(file.open(fileWithLinks(records)));
    for (int i = 1; i <= 4; ++i)
        EXPECT_TRUE(file.entries[i].name.isEmpty()) << i;
    EXPECT_EQ(file.entries[5].name.size(), 31);
    EXPECT_EQ(file.entries[5].name, "N4" + longName.left(28) + QChar(0));
    EXPECT_EQ(file.entries[6].name, "N5" + longName.left(1));

    EXPECT_TRUE(file.entryPath(0).isEmpty());
    EXPECT_TRUE(file.entryPath(-3).isEmpty());
    EXPECT_EQ(file.findEntry(""), 0);
    EXPECT_EQ(file.entryPath(6), "N5ü");
    EXPECT_EQ(file.findEntry("A/Innen"), 8);
    EXPECT_EQ(file.findEntry("a/innen"), -1);
    EXPECT_EQ(file.findEntry("Innen"), -1);
    const int lost = indexOf(file, "Verloren");
    EXPECT_EQ(file.entries[lost].parent, -1);
    EXPECT_EQ(file.entryPath(lost), "Verloren");
}

TEST(CompoundFileTest, DeepPathsKeepTheInnermostNames)
{
    CompoundFileWriter writer;
    int parent = 0;
    for (int depth = 1; depth <= 70; ++depth)
        parent = writer.addStorage(QString("S%1").arg(depth), parent);
    CompoundFile file;
    ASSERT_TRUE(file.open(writer.build()));
    const QStringList names = file.entryPath(70).split('/');
    ASSERT_EQ(names.size(), 64);
    EXPECT_EQ(names.front(), "S7");
    EXPECT_EQ(names.back(), "S70");
    EXPECT_EQ(file.entryPath(3), "S1/S2/S3");
}

TEST(CompoundFileTest, TreeWalkMatchesRecursiveOrder)
{
    // Random links, cycles and ids out of range included: an entry reachable
    // along several paths must get its parent from the first visit.
    std::mt19937 gen(7);
    for (int round = 0; round < 20; ++round) {
        const int count = 200;
        std::uniform_int_distribution<int> link(-3, count + 3);
        std::vector<CfbRecord> records(count);
        for (int i = 0; i < count; ++i) {
            records[i].name = QString("E%1").arg(i);
            records[i].type = i == 0 ? 5 : (gen() % 3 == 0 ? 1 : 2);
            records[i].left = std::uint32_t(link(gen));
            records[i].right = std::uint32_t(link(gen));
            records[i].child = std::uint32_t(link(gen));
        }
        std::vector<int> expected(count, -1);
        expected[0] = -2;
        referenceVisit(records, expected, records[0].child, 0);

        CompoundFile file;
        ASSERT_TRUE(file.open(fileWithLinks(records)));
        ASSERT_EQ(file.entries.size(), std::size_t(count));
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(file.entries[i].parent, expected[i]) << "round " << round << " entry " << i;
    }
}

TEST(CompoundFileTest, LargeFileReadsItsFatThroughDifatSectors)
{
    CompoundFileWriter writer;
    const QByteArray big = randomBytes(8 * 1024 * 1024, 3);
    writer.addStream("Gross", big);
    writer.addStream("Klein", "klein");
    const QByteArray bytes = writer.build();
    ASSERT_GT(u32(bytes, 0x2C), 109u);
    ASSERT_EQ(u32(bytes, 0x48), 1u);
    CompoundFile file;
    ASSERT_TRUE(file.open(bytes));
    EXPECT_EQ(file.readStream(file.findEntry("Gross")), big);
    EXPECT_EQ(file.readStream(file.findEntry("Klein")), "klein");
}

TEST(CompoundFileTest, HostileChainsEndQuicklyWithLittleMemory)
{
    constexpr long littleMemoryKb = 64 * 1024;
    CompoundFileWriter writer;
    for (int i = 0; i < 6; ++i)
        writer.addStream(QString("S%1").arg(i), randomBytes(200, unsigned(i)));
    writer.addStream("Gross", randomBytes(5000, 9));
    const QByteArray valid = writer.build();
    CompoundFile probe;
    ASSERT_TRUE(probe.open(valid));
    ASSERT_EQ(probe.entries.size(), 8u); // two directory sectors
    const int gross = probe.findEntry("Gross");
    const std::uint32_t dirStart = u32(valid, 0x30);
    const std::uint32_t grossStart = probe.entries[gross].startSector;

    // A directory chain looping onto itself ends after its first round.
    QByteArray selfLoop = valid;
    setU32(selfLoop, cfbFatEntryOffset(selfLoop, dirStart), dirStart);
    QByteArray backLoop = valid;
    setU32(backLoop, cfbFatEntryOffset(backLoop, dirStart + 1), dirStart);
    const std::pair<QByteArray, std::size_t> directoryLoops[] = {{selfLoop, 4}, {backLoop, 8}};
    for (const auto& [bytes, entryCount] : directoryLoops) {
        CompoundFile file;
        bool opened = false;
        const Cost cost = measure([&] { opened = file.open(bytes); });
        EXPECT_LT(cost.ms, 1000);
        EXPECT_LT(cost.peakGrowthKb, littleMemoryKb);
        EXPECT_TRUE(opened);
        EXPECT_EQ(file.entries.size(), entryCount);
    }

    // A stream chain looping back, with a size of 2 GiB claimed: the ten
    // sectors the chain has, once.
    QByteArray streamLoop = valid;
    setU32(streamLoop, cfbFatEntryOffset(streamLoop, grossStart + 9), grossStart);
    setU32(streamLoop, cfbEntryOffset(streamLoop, gross) + 0x78, 0x80000000u);
    CompoundFile looped;
    ASSERT_TRUE(looped.open(streamLoop));
    QByteArray read;
    Cost cost = measure([&] { read = looped.readStream(gross); });
    EXPECT_LT(cost.ms, 1000);
    EXPECT_LT(cost.peakGrowthKb, littleMemoryKb);
    EXPECT_EQ(read.size(), 10 * 512);
    // The same in the mini stream: S0 is four mini sectors, the last points
    // back at the first.
    const int s0 = looped.findEntry("S0");
    const std::uint32_t miniStart = looped.entries[s0].startSector;
    const qint64 miniFatAt = cfbSectorOffset(streamLoop, u32(streamLoop, 0x3C));
    setU32(streamLoop, miniFatAt + 4 * (miniStart + 3), miniStart);
    setU32(streamLoop, cfbEntryOffset(streamLoop, s0) + 0x78, 4000);
    ASSERT_TRUE(looped.open(streamLoop));
    EXPECT_EQ(looped.readStream(s0).size(), 4 * 64);

    // A header claiming 2^31 FAT, mini-FAT and DIFAT sectors, with a DIFAT
    // chain that names itself as its successor and lists sector 0 127 times.
    QByteArray claims = valid;
    const qint64 grossAt = cfbSectorOffset(claims, grossStart);
    for (int i = 0; i < 127; ++i)
        setU32(claims, grossAt + 4 * i, 0);
    setU32(claims, grossAt + 4 * 127, grossStart);
    setU32(claims, 0x2C, 0x80000000u);
    setU32(claims, 0x40, 0x80000000u);
    setU32(claims, 0x44, grossStart);
    setU32(claims, 0x48, 0x80000000u);
    CompoundFile claimed;
    bool opened = false;
    cost = measure([&] { opened = claimed.open(claims); });
    EXPECT_LT(cost.ms, 1000);
    EXPECT_LT(cost.peakGrowthKb, littleMemoryKb);
    EXPECT_TRUE(opened);
    EXPECT_EQ(claimed.fat.size(), 128u); // one FAT sector describes the whole file
    EXPECT_EQ(claimed.readStream(claimed.findEntry("S5")), probe.readStream(probe.findEntry("S5")));

    // The same claims with DIFAT entries outside the file are refused.
    setU32(claims, grossAt, 0x7FFFFFFF);
    QString error;
    cost = measure([&] { opened = claimed.open(claims, &error); });
    EXPECT_LT(cost.ms, 1000);
    EXPECT_FALSE(opened);
    EXPECT_EQ(error, "Beschädigte FAT");
}

TEST(CompoundFileTest, DegenerateDirectoryTreesAreWalkedWithoutRecursion)
{
    constexpr int count = 100000;
    // A sibling chain of 100,000 streams, closed into a cycle back to its
    // start, and a chain of 100,000 storages each inside the one before.
    for (bool nested : {false, true}) {
        SCOPED_TRACE(nested);
        std::vector<CfbRecord> records(count + 1);
        records[0].name = "Root Entry";
        records[0].type = 5;
        records[0].child = 1;
        for (std::uint32_t i = 1; i <= count; ++i) {
            records[i].name = QString("E%1").arg(i);
            records[i].type = nested ? 1 : 2;
            const std::uint32_t next = i < count ? i + 1 : 1;
            (nested ? records[i].child : records[i].right) = next;
        }
        const QByteArray bytes = fileWithLinks(records);
        CompoundFile file;
        bool opened = false;
        int found = -1;
        const Cost cost = measure([&] {
            opened = file.open(bytes);
            found = file.findEntry(file.entryPath(count));
        });
        EXPECT_LT(cost.ms, 1000);
        ASSERT_TRUE(opened);
        EXPECT_EQ(found, count);
        EXPECT_EQ(file.entries[count].parent, nested ? count - 1 : 0);
        EXPECT_EQ(file.entries[1].parent, 0);
        EXPECT_EQ(file.entryPath(count).count('/'), nested ? 63 : 0);
    }
}

TEST(CompoundFileTest, PropertySets)
{
    struct Property {
        std::uint32_t id;
        QByteArray value; // type, padding and data
    };
    const auto typed = [](std::uint16_t type, const QByteArray& data) {
        QByteArray out;
        appendU16(out, type);
        appendU16(out, 0);
        out.append(data);
        while (out.size() % 4 != 0)
            out.append('\0');
        return out;
    };
    const auto le32 = [](std::uint32_t v) {
        QByteArray out;
        appendU32(out, v);
        return out;
    };
    const auto le64 = [](std::uint64_t v) {
        QByteArray out;
        appendU64(out, v);
        return out;
    };
    const auto counted = [&](const QByteArray& bytes) {
        return le32(std::uint32_t(bytes.size())) + bytes;
    };
    const auto propertySet = [](const std::vector<Property>& properties) {
        QByteArray stream(44, '\0');
        appendU32(stream, 48);
        QByteArray values;
        QByteArray pairs;
        const auto firstValue = std::uint32_t(8 + 8 * properties.size());
        for (const Property& p : properties) {
            appendU32(pairs, p.id);
            appendU32(pairs, firstValue + std::uint32_t(values.size()));
            values.append(p.value);
        }
        appendU32(stream, std::uint32_t(8 + pairs.size() + values.size()));
        appendU32(stream, std::uint32_t(properties.size()));
        return stream + pairs + values;
    };
    const QByteArray utf8Text = QString("Grüße").toUtf8();
    const QByteArray codePageUtf8 = typed(2, QByteArray("\xE9\xFD", 2)); // 65001
    // 5 March 2021, 14:22 UTC in 100-ns ticks since 1601.
    const std::uint64_t created =
        (std::uint64_t(QDateTime(QDate(2021, 3, 5), QTime(14, 22), Qt::UTC).toMSecsSinceEpoch())
         + 11644473600000ULL)
        * 10000;

    const auto first = CompoundFile::readPropertySet(propertySet({
        {1, codePageUtf8},
        {2, typed(30, counted(utf8Text))},
        {3, typed(30, counted(QByteArray("abc\0\0", 5)))},
        {4, typed(3, le32(std::uint32_t(-7)))},
        {5, typed(31, le32(6) + QByteArray("H\0a\0l\0l\0o\0\0\0", 12))},
        {12, typed(64, le64(created))},
        {13, typed(64, le64(0))},
        {4, typed(3, le32(42))},
    }));
    EXPECT_EQ(first.value(1).toInt(), -535);
    EXPECT_EQ(first.value(2).toString(), "Grüße");
    EXPECT_EQ(first.value(3).toString(), "abc");
    EXPECT_EQ(first.value(4).toInt(), 42);
    EXPECT_EQ(first.value(5).toString(), "Hallo");
    const QDateTime time = first.value(12).toDateTime();
    EXPECT_EQ(time.timeSpec(), Qt::UTC);
    EXPECT_EQ(time.toString("dd.MM.yyyy HH:mm"), "05.03.2021 14:22");
    EXPECT_FALSE(first.contains(13));

    const auto codePageAfter = CompoundFile::readPropertySet(
        propertySet({{2, typed(30, counted(utf8Text))}, {1, codePageUtf8}}));
    EXPECT_EQ(codePageAfter.value(2).toString(), QString::fromLatin1(utf8Text));

    // Thumbnails: a 40-byte bitmap header with 24 bits per pixel has no
    // palette; 8 bits per pixel with bit-field compression has 256 colours
    // and three masks.
    const auto clipboard = [&](const QByteArray& dib) {
        return typed(71, le32(std::uint32_t(dib.size() + 8)) + le32(0xFFFFFFFF) + le32(8) + dib);
    };
    QByteArray dib(40, '\0');
    setU32(dib, 0, 40);
    setU16(dib, 14, 24);
    QByteArray thumbnail = "alt";
    const auto withThumbnail =
        CompoundFile::readPropertySet(propertySet({{17, clipboard(dib)}}), &thumbnail);
    EXPECT_FALSE(withThumbnail.contains(17));
    ASSERT_EQ(thumbnail.size(), 54);
    EXPECT_TRUE(thumbnail.startsWith("BM"));
    EXPECT_EQ(u32(thumbnail, 2), 54u);
    EXPECT_EQ(u32(thumbnail, 10), 54u);
    EXPECT_EQ(thumbnail.mid(14), dib);

    QByteArray paletted = dib;
    setU16(paletted, 14, 8);
    setU32(paletted, 16, 3);
    CompoundFile::readPropertySet(propertySet({{17, clipboard(paletted)}}), &thumbnail);
    EXPECT_EQ(u32(thumbnail, 10), 14u + 40 + 1024 + 12);

    thumbnail = "alt";
    CompoundFile::readPropertySet(propertySet({{17, clipboard(dib.left(39))}}), &thumbnail);
    EXPECT_EQ(thumbnail, "alt");
    QByteArray wrongFormat = clipboard(dib);
    setU32(wrongFormat, 12, 2);
    CompoundFile::readPropertySet(propertySet({{17, wrongFormat}}), &thumbnail);
    EXPECT_EQ(thumbnail, "alt");
    EXPECT_TRUE(CompoundFile::readPropertySet(propertySet({{17, clipboard(dib)}})).isEmpty());

    // Damaged sets: values outside the section are skipped, counts and
    // offsets beyond the stream give nothing.
    QByteArray damaged = propertySet({{2, typed(30, counted("Text"))}, {3, typed(3, le32(5))}});
    setU32(damaged, 48 + 8 + 4, 0xFFFFFFF0); // value offset of property 2
    setU32(damaged, 48 + 4, 0xFFFFFFFF);      // property count
    const auto survivors = CompoundFile::readPropertySet(damaged);
    EXPECT_FALSE(survivors.contains(2));
    EXPECT_EQ(survivors.value(3).toInt(), 5);
    QByteArray longText = propertySet({{2, typed(30, counted("Text"))}});
    setU32(longText, 48 + 16 + 4, 0xFFFFFFFF); // byte count of the text
    EXPECT_TRUE(CompoundFile::readPropertySet(longText).isEmpty());
    QByteArray farSection = damaged;
    setU32(farSection, 44, 0xFFFFFFFF);
    EXPECT_TRUE(CompoundFile::readPropertySet(farSection).isEmpty());
    EXPECT_TRUE(CompoundFile::readPropertySet(damaged.left(47)).isEmpty());
}

TEST(CompoundFileTest, FormatsTheRootClassIdAsGuid)
{
    EXPECT_TRUE(qor::io::formatGuid(CompoundFile()).isEmpty());
    CompoundFileWriter writer;
    std::vector<CfbRecord> records = writer.records();
    for (int i = 0; i < 16; ++i)
        records[0].clsid[i] = char(i == 10 ? 0xAB : i);
    CompoundFile file;
    ASSERT_TRUE(file.open(fileWithLinks(records)));
    EXPECT_EQ(qor::io::formatGuid(file), "03020100-0504-0706-0809-AB0B0C0D0E0F");
}

// olefile, an independent reader, must see the same streams in the files the
// writer makes (Debian package python3-olefile).
TEST(CompoundFileTest, IndependentReaderSeesTheSameStreams)
{
    QString python;
    for (const QString candidate : {"/usr/bin/python3", "python3"}) {
        if (QProcess::execute(candidate, {"-c", "import olefile"}) == 0) {
            python = candidate;
            break;
        }
    }
    if (python.isEmpty())
        GTEST_SKIP() << "python3 with olefile is not installed";

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CompoundFileWriter big;
    big.addStream("Gross", randomBytes(8 * 1024 * 1024, 5));
    const int storage = big.addStorage("Ablage");
    big.addStream("Klein", randomBytes(1000, 6), storage);
    const QByteArray files[] = {sampleFile(9).file, sampleFile(12).file, big.build()};
    QStringList paths;
    QStringList ours;
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QString("f%1.cfb").arg(i));
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(files[i]);
        out.close();
        paths << path;
        CompoundFile file;
        ASSERT_TRUE(file.open(files[i]));
        for (std::size_t e = 0; e < file.entries.size(); ++e) {
            if (file.entries[e].type != 2)
                continue;
            const QByteArray data = file.readStream(int(e));
            ours << QString("%1 %2 %3 %4")
                        .arg(i)
                        .arg(file.entryPath(int(e)))
                        .arg(data.size())
                        .arg(QString::fromLatin1(
                            QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()));
        }
    }
    const QString script = QStringLiteral(
        "import hashlib, olefile, sys\n"
        "for i, path in enumerate(sys.argv[1:]):\n"
        "    ole = olefile.OleFileIO(path)\n"
        "    for entry in ole.listdir(streams=True, storages=False):\n"
        "        data = ole.openstream(entry).read()\n"
        "        print(i, '/'.join(entry), len(data), hashlib.sha256(data).hexdigest())\n");
    QProcess process;
    process.start(python, QStringList{"-c", script} + paths);
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    QStringList theirs =
        QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    theirs.sort();
    ours.sort();
    EXPECT_EQ(ours.size(), 16);
    EXPECT_EQ(theirs, ours);
}
