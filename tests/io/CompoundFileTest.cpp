#include "io/cfb/CompoundFile.h"
#include "tests/common/ChildGuard.h"

#include "tests/common/CpuTime.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/Bytes.h"
#include "tests/fixtures/CompoundFileBuilder.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <sys/resource.h>

using qor::io::CompoundFile;
using namespace qor::test;

namespace {

// The processor time work took and how far it raised the peak resident memory.
struct Cost {
    double cpuSeconds = 0;
    long peakGrowthKb = 0;
};

Cost measure(const std::function<void()>& work)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long before = usage.ru_maxrss;
    const double started = cpuSeconds();
    work();
    getrusage(RUSAGE_SELF, &usage);
    return {cpuSeconds() - started, usage.ru_maxrss - before};
}

constexpr long littleMemoryKb = 64 * 1024;

// Streams of every size class: mini, just below and at the cutoff, several
// sectors, and nested storages.
struct Sample {
    QByteArray file;
    std::vector<std::pair<QString, QByteArray>> streams; // path and contents
};

Sample sampleFile(int sectorShift)
{
    CompoundFileBuilder builder(sectorShift);
    Sample sample;
    const auto add = [&](const QString& path, qsizetype size, int parent) {
        const QByteArray data = randomBytes(size, unsigned(size));
        builder.addStream(path.section('/', -1), data, parent);
        sample.streams.emplace_back(path, data);
    };
    add("Klein", 100, 0);
    add("Grenze", 4095, 0);
    add("Gross", 4096, 0);
    add("Mehr", 10000, 0);
    const int a = builder.addStorage("A");
    add("A/Innen", 300, a);
    const int b = builder.addStorage("B", a);
    add("A/B/Tief", 5000, b);
    add("A/B/Leer", 0, b);
    sample.file = builder.build();
    return sample;
}

QByteArray fileWithLinks(const std::vector<CfbRecord>& records)
{
    return CompoundFileBuilder().layout(records);
}

} // namespace

TEST(CompoundFileTest, RefusesWhatIsNoCompoundFile)
{
    const QByteArray valid = sampleFile(9).file;
    QByteArray wrongFirstByte = valid;
    wrongFirstByte[0] = char(0xD1);
    QByteArray shiftTen = valid;
    setU16(shiftTen, 0x1E, 10);
    const std::pair<QByteArray, QString> cases[] = {
        {valid.left(511), "Kein OLE-Verbunddokument"},
        {wrongFirstByte, "Kein OLE-Verbunddokument"},
        {shiftTen, "Ungültige Sektorgröße"},
    };
    for (const auto& [bytes, message] : cases) {
        QString error;
        EXPECT_FALSE(CompoundFile().open(bytes, &error));
        EXPECT_EQ(error, message);
        EXPECT_FALSE(CompoundFile().open(bytes, nullptr));
    }
    QString error = "unverändert";
    EXPECT_TRUE(CompoundFile().open(valid, &error));
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
        // Klein, Grenze and Innen live in the mini stream, 64-byte aligned.
        EXPECT_EQ(file.miniStream.size(), 128 + 4096 + 320);
        for (const auto& [path, data] : sample.streams) {
            SCOPED_TRACE(path.toStdString());
            const int index = file.findEntry(path);
            ASSERT_GT(index, 0);
            EXPECT_EQ(file.entryPath(index), path);
            EXPECT_EQ(file.entries[index].size, std::uint64_t(data.size()));
            EXPECT_EQ(file.readStream(index), data);
        }
        const int a = file.findEntry("A");
        const int b = file.findEntry("A/B");
        ASSERT_GT(b, a);
        EXPECT_EQ(file.entries[a].parent, 0);
        EXPECT_EQ(file.entries[b].parent, a);
        EXPECT_EQ(file.entries[0].parent, -2);
        for (int index : {a, 0, -1, int(file.entries.size())})
            EXPECT_TRUE(file.readStream(index).isEmpty()) << index;
    }
}

TEST(CompoundFileTest, StreamSizeFieldAndShortChains)
{
    // 512-byte sectors use only the low half of the size field.
    Sample sample = sampleFile(9);
    CompoundFile file;
    ASSERT_TRUE(file.open(sample.file));
    const int mehr = file.findEntry("Mehr");
    setU32(sample.file, cfbEntryOffset(sample.file, mehr) + 0x7C, 1);
    ASSERT_TRUE(file.open(sample.file));
    EXPECT_EQ(file.entries[mehr].size, 10000u);
    EXPECT_EQ(file.readStream(mehr).size(), 10000);

    // A size beyond the chain gives what the chain holds: 20 sectors.
    setU32(sample.file, cfbEntryOffset(sample.file, mehr) + 0x78, 20000);
    ASSERT_TRUE(file.open(sample.file));
    const QByteArray shortened = file.readStream(mehr);
    EXPECT_EQ(shortened.size(), 20 * 512);
    EXPECT_TRUE(shortened.startsWith(sample.streams[3].second));

    // 4096-byte sectors take all eight bytes.
    Sample wide = sampleFile(12);
    ASSERT_TRUE(file.open(wide.file));
    const int tief = file.findEntry("A/B/Tief");
    setU32(wide.file, cfbEntryOffset(wide.file, tief) + 0x7C, 1);
    ASSERT_TRUE(file.open(wide.file));
    EXPECT_EQ(file.entries[tief].size, (1ULL << 32) + 5000);
    EXPECT_EQ(file.readStream(tief).size(), 2 * 4096);
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
    EXPECT_EQ(file.readStream(file.findEntry("Gross")), sample.streams[2].second.left(512));
}

TEST(CompoundFileTest, DamagedTablesAreReported)
{
    const QByteArray valid = sampleFile(9).file;
    const auto patched = [&valid](std::vector<std::pair<qint64, std::uint32_t>> fields) {
        QByteArray bytes = valid;
        for (const auto& [at, value] : fields)
            setU32(bytes, at, value);
        return bytes;
    };
    // A DIFAT sector listing sector 0xFFFFFFFF: in 32-bit offsets that sector
    // would wrap around onto the header and be read as FAT.
    const auto lastSector = std::uint32_t(valid.size() / 512 - 1);
    QByteArray wrapping = patched({{0x2C, 2}, {0x44, lastSector}, {0x48, 1}});
    wrapping += QByteArray(127 * 4, char(0xFF)) + le32(cfbEndOfChain);
    QByteArray storageRoot = valid;
    storageRoot[cfbEntryOffset(storageRoot, 0) + 0x42] = char(1);
    const std::pair<QByteArray, QString> cases[] = {
        {patched({{0x4C, 5000}}), "Beschädigte FAT"},
        {patched({{0x44, 5000}, {0x48, 1}}), "Beschädigte DIFAT"},
        {wrapping, "Beschädigte FAT"},
        {patched({{0x30, cfbEndOfChain}}), "Kein Wurzelverzeichnis"},
        {storageRoot, "Kein Wurzelverzeichnis"},
    };
    for (const auto& [bytes, message] : cases) {
        QString error;
        EXPECT_FALSE(CompoundFile().open(bytes, &error));
        EXPECT_EQ(error, message);
    }
}

TEST(CompoundFileTest, EntryNamesAndPaths)
{
    CompoundFileBuilder builder;
    const QString longName(28, QChar(u'ü'));
    for (int i = 0; i < 6; ++i)
        builder.addStream(QString("N%1").arg(i) + longName, QByteArray(10, 'x'));
    builder.addStream("Innen", QByteArray(10, 'i'), builder.addStorage("A"));
    std::vector<CfbRecord> records = builder.records();
    const int lengths[] = {0, 1, 2, 66, 64, 8};
    for (int i = 0; i < 6; ++i)
        records[1 + i].nameBytes = lengths[i];
    records.push_back({"Verloren", -1, 2});

    CompoundFile file;
    ASSERT_TRUE(file.open(fileWithLinks(records)));
    for (int i = 1; i <= 4; ++i)
        EXPECT_TRUE(file.entries[i].name.isEmpty()) << i;
    EXPECT_EQ(file.entries[5].name, "N4" + longName + QChar(0));
    EXPECT_EQ(file.entries[6].name, "N5ü");

    EXPECT_TRUE(file.entryPath(0).isEmpty());
    EXPECT_TRUE(file.entryPath(-3).isEmpty());
    EXPECT_EQ(file.findEntry(""), 0);
    EXPECT_EQ(file.entryPath(6), "N5ü");
    EXPECT_EQ(file.findEntry("A/Innen"), 8);
    EXPECT_EQ(file.findEntry("a/innen"), -1);
    EXPECT_EQ(file.findEntry("Innen"), -1);
    EXPECT_EQ(file.entries[9].parent, -1);
    EXPECT_EQ(file.entryPath(9), "Verloren");
}

TEST(CompoundFileTest, EntryReachedTwiceKeepsItsFirstParent)
{
    // Depth first, siblings before children: stream 2 is the right sibling of
    // storage 1 and also its child; 3 links to itself; links out of range are
    // ignored.
    std::vector<CfbRecord> records(4);
    records[0] = {"Root Entry", -1, 5};
    records[0].child = 1;
    records[1] = {"A", -1, 1};
    records[1].left = 77;
    records[1].right = 2;
    records[1].child = 2;
    records[2] = {"B", -1, 2};
    records[2].left = 3;
    records[3] = {"C", -1, 1};
    records[3].right = 3;
    records[3].child = 1;
    CompoundFile file;
    ASSERT_TRUE(file.open(fileWithLinks(records)));
    std::vector<int> parents;
    for (const auto& entry : file.entries)
        parents.push_back(entry.parent);
    EXPECT_EQ(parents, (std::vector<int>{-2, 0, 0, 0}));
}

TEST(CompoundFileTest, LargeFileReadsItsFatThroughDifatSectors)
{
    CompoundFileBuilder builder;
    const QByteArray big = randomBytes(8 * 1024 * 1024, 3);
    builder.addStream("Gross", big);
    builder.addStream("Klein", "klein");
    const QByteArray bytes = builder.build();
    ASSERT_GT(u32(bytes, 0x2C), 109u);
    ASSERT_EQ(u32(bytes, 0x48), 1u);
    CompoundFile file;
    ASSERT_TRUE(file.open(bytes));
    EXPECT_EQ(file.readStream(file.findEntry("Gross")), big);
    EXPECT_EQ(file.readStream(file.findEntry("Klein")), "klein");
}

TEST(CompoundFileTest, HostileChainsEndQuicklyWithLittleMemory)
{
    CompoundFileBuilder builder;
    for (int i = 0; i < 6; ++i)
        builder.addStream(QString("S%1").arg(i), randomBytes(200, unsigned(i)));
    builder.addStream("Gross", randomBytes(5000, 9));
    const QByteArray valid = builder.build();
    CompoundFile probe;
    ASSERT_TRUE(probe.open(valid));
    ASSERT_EQ(probe.entries.size(), 8u); // two directory sectors
    const int gross = probe.findEntry("Gross");
    const std::uint32_t dirStart = u32(valid, 0x30);
    const std::uint32_t grossStart = probe.entries[gross].startSector;
    const auto opens = [](CompoundFile& file, const QByteArray& bytes, QString* error = nullptr) {
        bool opened = false;
        const Cost cost = measure([&] { opened = file.open(bytes, error); });
        EXPECT_LT(cost.cpuSeconds, 1.0);
        EXPECT_LT(cost.peakGrowthKb, littleMemoryKb);
        return opened;
    };

    // A directory chain looping onto itself ends after its first round.
    for (const auto& [loopFrom, entryCount] : {std::pair{dirStart, 4u}, {dirStart + 1, 8u}}) {
        QByteArray loop = valid;
        setU32(loop, cfbFatEntryOffset(loop, loopFrom), dirStart);
        CompoundFile file;
        EXPECT_TRUE(opens(file, loop));
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
    const Cost cost = measure([&] { read = looped.readStream(gross); });
    EXPECT_LT(cost.cpuSeconds, 1.0);
    EXPECT_LT(cost.peakGrowthKb, littleMemoryKb);
    EXPECT_EQ(read.size(), 10 * 512);
    // The same in the mini stream: S0 is four mini sectors, the last points
    // back at the first.
    const int s0 = looped.findEntry("S0");
    const std::uint32_t miniStart = looped.entries[s0].startSector;
    setU32(streamLoop, cfbSectorOffset(streamLoop, u32(streamLoop, 0x3C)) + 4 * (miniStart + 3),
           miniStart);
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
    for (const auto& [at, value] : {std::pair{0x2C, 0x80000000u},
                                    {0x40, 0x80000000u},
                                    {0x44, grossStart},
                                    {0x48, 0x80000000u}})
        setU32(claims, at, value);
    CompoundFile claimed;
    EXPECT_TRUE(opens(claimed, claims));
    EXPECT_EQ(claimed.fat.size(), 128u); // one FAT sector describes the whole file
    EXPECT_EQ(claimed.readStream(claimed.findEntry("S5")), probe.readStream(probe.findEntry("S5")));

    // The same claims with DIFAT entries outside the file are refused.
    setU32(claims, grossAt, 0x7FFFFFFF);
    QString error;
    EXPECT_FALSE(opens(claimed, claims, &error));
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
        records[0] = {"Root Entry", -1, 5};
        records[0].child = 1;
        for (std::uint32_t i = 1; i <= count; ++i) {
            records[i] = {QString("E%1").arg(i), -1, std::uint8_t(nested ? 1 : 2)};
            (nested ? records[i].child : records[i].right) = i < count ? i + 1 : 1;
        }
        const QByteArray bytes = fileWithLinks(records);
        CompoundFile file;
        bool opened = false;
        int found = -1;
        const Cost cost = measure([&] {
            opened = file.open(bytes);
            found = file.findEntry(file.entryPath(count));
        });
        EXPECT_LT(cost.cpuSeconds, 1.0);
        ASSERT_TRUE(opened);
        EXPECT_EQ(found, count);
        EXPECT_EQ(file.entries[count].parent, nested ? count - 1 : 0);
        EXPECT_EQ(file.entries[1].parent, 0);
        // Paths keep the 64 innermost names.
        const QStringList names = file.entryPath(count).split('/');
        EXPECT_EQ(names.size(), nested ? 64 : 1);
        EXPECT_EQ(names.front(), QString("E%1").arg(nested ? count - 63 : count));
        EXPECT_EQ(file.entryPath(3), nested ? "E1/E2/E3" : "E3");
    }
}

TEST(CompoundFileTest, PropertySets)
{
    const auto counted
        = [](const QByteArray& bytes) { return le32(std::uint32_t(bytes.size())) + bytes; };
    const auto le64 = [](std::uint64_t v) { return le32(std::uint32_t(v)) + le32(v >> 32); };
    const QByteArray utf8Text = QString("Grüße").toUtf8();
    const QByteArray codePageUtf8 = cfbTyped(2, QByteArray("\xE9\xFD", 2)); // 65001
    // 5 March 2021, 14:22 UTC in 100-ns ticks since 1601.
    const std::uint64_t created
        = (std::uint64_t(QDateTime(QDate(2021, 3, 5), QTime(14, 22), Qt::UTC).toMSecsSinceEpoch())
           + 11644473600000ULL)
          * 10000;

    const auto first = CompoundFile::readPropertySet(cfbPropertySet({
        {1, codePageUtf8},
        {2, cfbTyped(30, counted(utf8Text))},
        {3, cfbTyped(30, counted(QByteArray("abc\0\0", 5)))},
        {4, cfbTyped(3, le32(std::uint32_t(-7)))},
        {5, cfbTyped(31, le32(6) + QByteArray("H\0a\0l\0l\0o\0\0\0", 12))},
        {12, cfbTyped(64, le64(created))},
        {13, cfbTyped(64, le64(0))},
        {4, cfbTyped(3, le32(42))},
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
    // The code page counts only for the values after it.
    const auto codePageAfter = CompoundFile::readPropertySet(
        cfbPropertySet({{2, cfbTyped(30, counted(utf8Text))}, {1, codePageUtf8}}));
    EXPECT_EQ(codePageAfter.value(2).toString(), QString::fromLatin1(utf8Text));

    // Thumbnails: a 40-byte bitmap header with 24 bits per pixel has no
    // palette; 8 bits per pixel with bit-field compression has 256 colours
    // and three masks.
    const auto clipboard = [](const QByteArray& dib) {
        return cfbTyped(71, le32(std::uint32_t(dib.size() + 8)) + le32(0xFFFFFFFF) + le32(8) + dib);
    };
    const auto thumbnailOf = [](const QByteArray& value) {
        QByteArray thumbnail = "alt";
        EXPECT_TRUE(
            CompoundFile::readPropertySet(cfbPropertySet({{17, value}}), &thumbnail).isEmpty());
        return thumbnail;
    };
    QByteArray dib(40, '\0');
    setU32(dib, 0, 40);
    setU16(dib, 14, 24);
    const QByteArray thumbnail = thumbnailOf(clipboard(dib));
    ASSERT_EQ(thumbnail.size(), 54);
    EXPECT_TRUE(thumbnail.startsWith("BM"));
    EXPECT_EQ(u32(thumbnail, 2), 54u);
    EXPECT_EQ(u32(thumbnail, 10), 54u);
    EXPECT_EQ(thumbnail.mid(14), dib);
    QByteArray paletted = dib;
    setU16(paletted, 14, 8);
    setU32(paletted, 16, 3);
    EXPECT_EQ(u32(thumbnailOf(clipboard(paletted)), 10), 14u + 40 + 1024 + 12);
    EXPECT_EQ(thumbnailOf(clipboard(dib.left(39))), "alt");
    QByteArray wrongFormat = clipboard(dib);
    setU32(wrongFormat, 12, 2);
    EXPECT_EQ(thumbnailOf(wrongFormat), "alt");

    // Damaged sets: values outside the section are skipped, counts and
    // offsets beyond the stream give nothing.
    QByteArray damaged
        = cfbPropertySet({{2, cfbTyped(30, counted("Text"))}, {3, cfbTyped(3, le32(5))}});
    setU32(damaged, 48 + 8 + 4, 0xFFFFFFF0); // value offset of property 2
    setU32(damaged, 48 + 4, 0xFFFFFFFF); // property count
    const auto survivors = CompoundFile::readPropertySet(damaged);
    EXPECT_FALSE(survivors.contains(2));
    EXPECT_EQ(survivors.value(3).toInt(), 5);
    QByteArray longText = cfbPropertySet({{2, cfbTyped(30, counted("Text"))}});
    setU32(longText, 48 + 16 + 4, 0xFFFFFFFF); // byte count of the text
    QByteArray farSection = damaged;
    setU32(farSection, 44, 0xFFFFFFFF);
    for (const QByteArray& bytes : {longText, farSection, damaged.left(47)})
        EXPECT_TRUE(CompoundFile::readPropertySet(bytes).isEmpty());
}

TEST(CompoundFileTest, FormatsTheRootClassIdAsGuid)
{
    EXPECT_TRUE(qor::io::formatGuid(CompoundFile()).isEmpty());
    std::vector<CfbRecord> records = CompoundFileBuilder().records();
    for (int i = 0; i < 16; ++i)
        records[0].clsid[i] = char(i == 10 ? 0xAB : i);
    CompoundFile file;
    ASSERT_TRUE(file.open(fileWithLinks(records)));
    EXPECT_EQ(qor::io::formatGuid(file), "03020100-0504-0706-0809-AB0B0C0D0E0F");
}

// olefile, an independent reader (Debian package python3-olefile), must see
// the same streams as ours in the files the builder makes.
TEST(CompoundFileTest, IndependentReaderSeesTheSameStreams)
{
    // Debian's python3 first: a python3 earlier in PATH may lack the package.
    const QString python = QStringLiteral("/usr/bin/python3");
    if (QProcess::execute(python, {"-c", "import olefile"}) != 0)
        GTEST_SKIP() << "python3 with olefile is not installed";
    QTemporaryDir dir;
    CompoundFileBuilder big;
    big.addStream("Gross", randomBytes(8 * 1024 * 1024, 5));
    big.addStream("Klein", randomBytes(1000, 6), big.addStorage("Ablage"));
    const QByteArray files[] = {sampleFile(9).file, sampleFile(12).file, big.build()};
    QStringList paths;
    QStringList ours;
    for (int i = 0; i < 3; ++i) {
        paths << dir.filePath(QString("f%1.cfb").arg(i));
        ASSERT_TRUE(writeFile(paths.back(), files[i]));
        CompoundFile file;
        ASSERT_TRUE(file.open(files[i]));
        for (int e = 0; e < int(file.entries.size()); ++e) {
            const QByteArray data = file.readStream(e);
            if (file.entries[std::size_t(e)].type == 2)
                ours
                    << QString("%1 %2 %3")
                           .arg(i)
                           .arg(file.entryPath(e))
                           .arg(QString::fromLatin1(
                               QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()));
        }
    }
    const QString script
        = QStringLiteral("import hashlib, olefile, sys\n"
                         "for i, path in enumerate(sys.argv[1:]):\n"
                         "    ole = olefile.OleFileIO(path)\n"
                         "    for entry in ole.listdir(streams=True, storages=False):\n"
                         "        data = ole.openstream(entry).read()\n"
                         "        print(i, '/'.join(entry), hashlib.sha256(data).hexdigest())\n");
    QProcess process;
    process.start(python, QStringList{"-c", script} + paths);
    ASSERT_TRUE(process.waitForFinished(qor::test::childGuardMs));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    QStringList theirs
        = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    theirs.sort();
    ours.sort();
    EXPECT_EQ(ours.size(), 16);
    EXPECT_EQ(theirs, ours);
}

// Claims let a reader take each stream once: a stream whose chain runs into sectors that an
// earlier read took comes back empty and marked shared, in the regular sectors and in the
// mini stream alike; streams of their own read whole, in any order.
TEST(CompoundFileTest, ClaimedSectorsAreNotReadAgain)
{
    const Sample sample = sampleFile(9);
    QByteArray file = sample.file;
    CompoundFile probe;
    ASSERT_TRUE(probe.open(file));
    struct Case {
        const char* onto; // the stream whose chain a copy of its entry is made to share
        const char* copy; // the entry turned into that copy
    };
    for (const Case& c : {Case{"Mehr", "Gross"}, Case{"Klein", "A/Innen"}}) {
        SCOPED_TRACE(c.onto);
        QByteArray shared = file;
        const int onto = probe.findEntry(c.onto);
        const int copy = probe.findEntry(c.copy);
        setU32(shared, cfbEntryOffset(shared, copy) + 0x74, probe.entries[onto].startSector);
        CompoundFile container;
        ASSERT_TRUE(container.open(shared));
        CompoundFile::SectorClaims claims;
        bool wasShared = false;
        EXPECT_EQ(container.readStream(onto, &claims, &wasShared).size(),
                  qsizetype(probe.entries[onto].size));
        EXPECT_FALSE(wasShared);
        EXPECT_TRUE(container.readStream(copy, &claims, &wasShared).isEmpty());
        EXPECT_TRUE(wasShared);
        // Without claims the copy reads the shared sectors as before.
        EXPECT_FALSE(container.readStream(copy).isEmpty());
    }
    CompoundFile container;
    ASSERT_TRUE(container.open(file));
    CompoundFile::SectorClaims claims;
    for (auto it = sample.streams.rbegin(); it != sample.streams.rend(); ++it) {
        bool wasShared = false;
        EXPECT_EQ(container.readStream(container.findEntry(it->first), &claims, &wasShared),
                  it->second)
            << it->first.toStdString();
        EXPECT_FALSE(wasShared);
    }
}
