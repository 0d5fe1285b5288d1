#include "io/Import.h"
#include "io/NestingCheck.h"
#include "io/ReaderProcess.h"
#include "tests/common/ProcessMemory.h"
#include "tests/common/TempFiles.h"
#include "tests/io/IoTestSupport.h"

#include "tests/common/CpuTime.h"
#include "tests/fixtures/HostileAssemblies.h"
#include "tests/fixtures/ManyBoxes.h"
#include "tests/fixtures/ShapeTextFixtures.h"

#include <BRepBndLib.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <Bnd_Box.hxx>

#include <QBuffer>
#include <QDataStream>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace qor;

using qor::test::writeFile;

namespace {

struct HostileCase {
    const char* name;
    QByteArray (*bytes)();
    // The German line begins with this; the file's name comes first in all of them.
    const char* errorStart;
};

const HostileCase hostileCases[] = {
    {"selbst.step", [] { return fixtures::stepSelfPlacedAssembly(); },
     "„selbst.step“ ließ sich nicht lesen: der Leseprozess wurde beendet (Absturz)"},
    {"verdoppelt.step", [] { return fixtures::stepDoublingAssembly(40); },
     "Fehler beim Lesen: Die Datei platziert 1.099.511.627.776 Körper; mehr als 50.000 werden nicht gelesen"},
    {"verdoppelt.igs", [] { return fixtures::igesDoublingSubfigures(40); },
     "Fehler beim Lesen: Die Datei platziert 1.099.511.627.776 Körper; mehr als 50.000 werden nicht gelesen"},
    {"verdoppelt.gltf", [] { return fixtures::gltfDoublingNodes(40); },
     "Fehler beim Lesen: Die Datei platziert 1.099.511.627.776 Körper; mehr als 50.000 werden nicht gelesen"},
};

} // namespace

// Files that crash the kernel's readers or keep them busy for ever end the reader process
// only: the caller gets one German line within seconds.
TEST(ReaderProcess, HostileFilesEndInOneGermanLine)
{
    ASSERT_FALSE(io::readerProgram().isEmpty());
    QTemporaryDir dir;
    for (const HostileCase& c : hostileCases) {
        SCOPED_TRACE(c.name);
        const QString path = writeFile(dir, QString::fromUtf8(c.name), c.bytes());
        const double before = test::workCpuSeconds();
        const io::ImportResult result = io::importFile(path, {});
        EXPECT_LT(test::workCpuSeconds() - before, 30.0);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.bodies.empty());
        EXPECT_TRUE(result.error.startsWith(QString::fromUtf8(c.errorStart)))
            << result.error.toStdString();
        EXPECT_FALSE(result.error.contains(u'\n'));
    }
}

// A file that passes the nesting scan but costs the kernel's parser hundreds of times its
// size ends at the reader process's memory limit, not in the caller's memory.
TEST(ReaderProcess, MemoryHungryFileEndsAtTheReadersLimit)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("punkte.step"),
                                   fixtures::stepManyNestedPoints(50000, 255));
    const io::ImportResult result = io::importFile(path, {});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.toStdString(),
              "„punkte.step“ ließ sich nicht lesen: der Leseprozess brauchte zu viel "
              "Arbeitsspeicher");
}

// Bodies come back from the reader process as they were read: names, colours, notes, the
// mesh flag and shapes that share their parts.
// An answer whose shapes' data lies about its counts or nests without end is refused
// before the kernel's reader sizes anything by it: within a second and a few megabytes.
TEST(ReaderProcess, DamagedShapeDataInAnAnswerCostsNoMemory)
{
    io::ImportResult sound;
    sound.ok = true;
    sound.bodies.push_back({QStringLiteral("Quader"), BRepPrimAPI_MakeBox(1, 2, 3).Shape()});
    const QByteArray encoded = io::encodeResult(sound, io::ReadStop::none);
    quint64 recordSize = 0;
    std::memcpy(&recordSize, encoded.constData(), 8);
    const QByteArray record = encoded.left(qsizetype(8 + recordSize));

    const struct {
        const char* name;
        QByteArray shapes;
    } cases[] = {
        {"B-Spline mit 20 Millionen Polen", fixtures::hugeBSplinePoleCount(20000000)},
        {"zwei Milliarden Kurven", fixtures::hugeCurveCount()},
        {"200 Millionen Knoten", fixtures::hugeTriangulation()},
        {"100.000 verschachtelte Trimmkurven", fixtures::nestedTrimmedCurve(100000)},
        {"Trimmkurve mit NaN-Grenze", fixtures::nanTrimmedCurve()},
        {"Ortspotenz 2^31 - 1", fixtures::locationPowerOverflow()},
        {"100.000 verschachtelte Verbunde", fixtures::deepCompoundChain(100000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::resetMemoryPeak());
        const long before = test::statusKilobytes("VmRSS:");
        const double cpuBefore = test::cpuSeconds();
        io::ImportResult back;
        io::ReadStop stop = io::ReadStop::none;
        EXPECT_FALSE(io::decodeResult(record + c.shapes, back, stop));
        EXPECT_LT(test::cpuSeconds() - cpuBefore, 1.0);
        EXPECT_LT(test::statusKilobytes("VmHWM:") - before, 64 * 1024);
    }
}

// A large STEP file read through the reader process: the kernel parses it for a while
// without a word, then transfers it. The bar moves through both, rising from start to end.
TEST(ReaderProcess, ProgressOfALargeStepReadMoves)
{
    constexpr int count = 500;
    QTemporaryDir dir;
    const QString path
        = writeFile(dir, QStringLiteral("kisten.step"), fixtures::stepManyBoxes(count));
    std::vector<int> percents;
    const io::ImportResult result = io::importFile(path, [&percents](int percent, const QString&) {
        if (percents.empty() || percents.back() != percent)
            percents.push_back(percent);
    });
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.bodies.size(), std::size_t(count));
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    const auto distinctBetween = [&percents](int above, int below) {
        return std::count_if(percents.begin(), percents.end(),
                             [above, below](int p) { return p > above && p < below; });
    };
    EXPECT_GE(distinctBetween(0, 50), 3) << "the parse";
    EXPECT_GE(distinctBetween(50, 100), 3) << "the transfer";
    EXPECT_EQ(percents.back(), 100);
}

TEST(ReaderProcess, AnswerCarriesEverythingOfTheResult)
{
    io::ImportResult sent;
    sent.ok = true;
    sent.warning = QStringLiteral("1 von 6 Flächen ausgelassen");
    sent.format = QStringLiteral("STEP");
    sent.meshBodies = true;
    sent.preview = QByteArray("\x89PNG", 4);
    sent.notes = QStringList{QStringLiteral("Einheit: mm"), QStringLiteral("Ä")};
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(10, 20, 30).Shape();
    gp_Trsf shift;
    shift.SetTranslation(gp_Vec(100, 0, 0));
    sent.bodies.push_back({QStringLiteral("Quader"), box, true, 1.0, 0.0, 0.25});
    sent.bodies.push_back({QStringLiteral("Kopie"), box.Moved(TopLoc_Location(shift))});
    sent.bodies.push_back({QStringLiteral("leer"), TopoDS_Shape()});

    io::ImportResult back;
    io::ReadStop stop = io::ReadStop::cancelled;
    ASSERT_TRUE(io::decodeResult(io::encodeResult(sent, io::ReadStop::none), back, stop));
    EXPECT_EQ(stop, io::ReadStop::none);
    EXPECT_TRUE(back.ok);
    EXPECT_EQ(back.warning, sent.warning);
    EXPECT_EQ(back.format, sent.format);
    EXPECT_TRUE(back.meshBodies);
    EXPECT_EQ(back.preview, sent.preview);
    EXPECT_EQ(back.notes, sent.notes);
    ASSERT_EQ(back.bodies.size(), 3u);
    EXPECT_EQ(back.bodies[0].name, QStringLiteral("Quader"));
    EXPECT_TRUE(back.bodies[0].hasColor);
    EXPECT_DOUBLE_EQ(back.bodies[0].b, 0.25);
    EXPECT_FALSE(back.bodies[1].hasColor);
    EXPECT_NEAR(test::volumeOf(back.bodies[1].shape), 6000.0, 1e-6);
    Bnd_Box bounds;
    BRepBndLib::Add(back.bodies[1].shape, bounds);
    EXPECT_NEAR(bounds.CornerMin().X(), 100.0, 1e-6);
    // The placed copy shares its geometry with the first body, as it did when read.
    EXPECT_TRUE(back.bodies[0].shape.IsPartner(back.bodies[1].shape));
    EXPECT_TRUE(back.bodies[2].shape.IsNull());

    // A stop travels with an empty result; a cut-off answer is no answer.
    ASSERT_TRUE(io::decodeResult(io::encodeResult({}, io::ReadStop::memory), back, stop));
    EXPECT_EQ(stop, io::ReadStop::memory);
    const QByteArray whole = io::encodeResult(sent, io::ReadStop::none);
    for (const qsizetype cut : {qsizetype(0), qsizetype(7), whole.size() / 2, whole.size() - 1}) {
        io::ImportResult partial;
        EXPECT_FALSE(io::decodeResult(whole.left(cut), partial, stop)) << cut;
    }

    // Counts that claim more than the answer holds are refused before anything is reserved
    // for them: notes, bodies, and a record longer than the answer.
    const auto claiming = [](quint32 notes, quint64 bodies, quint64 recordSize) {
        QByteArray record;
        QDataStream out(&record, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_4);
        out << quint8(0) << true << QString() << QString() << false << QString() << QByteArray()
            << notes;
        if (notes == 0)
            out << bodies;
        const quint64 size = recordSize ? recordSize : quint64(record.size());
        return QByteArray(reinterpret_cast<const char*>(&size), 8) + record;
    };
    for (const QByteArray& lying :
         {claiming(0xffffffffu, 0, 0), claiming(0, ~quint64(0), 0), claiming(0, 1, ~quint64(0))}) {
        io::ImportResult read;
        EXPECT_FALSE(io::decodeResult(lying, read, stop));
    }
}

// The bodies an instance graph places, counted without walking it: trees, shared
// sub-assemblies, graphs doubling per level, circles, and counts beyond 64 bits.
TEST(ReaderProcess, PlacementCountsOfInstanceGraphs)
{
    using Graph = std::vector<std::vector<std::size_t>>;
    const auto doubling = [](std::size_t levels) {
        Graph graph(levels + 1);
        for (std::size_t level = 0; level < levels; ++level)
            graph[level] = {level + 1, level + 1};
        return graph;
    };
    struct Case {
        const char* name;
        Graph graph;
        std::uint64_t placed;
    };
    const Case cases[] = {
        {"eine Form", Graph{{}}, 1},
        {"zwei lose Formen", Graph{{}, {}}, 2},
        {"Baugruppe mit drei Teilen", Graph{{1, 2, 2}, {}, {}}, 3},
        {"geteilte Unterbaugruppe", Graph{{1, 1, 2}, {3, 3}, {3}, {}}, 5},
        {"2^40", doubling(40), std::uint64_t(1) << 40},
        {"2^70 sättigt", doubling(70), io::unlimitedPlacements},
        {"Kreis", Graph{{1}, {2}, {1}}, io::unlimitedPlacements},
        {"nur Kreis", Graph{{1}, {0}}, io::unlimitedPlacements},
        {"enthält sich selbst", Graph{{0}}, io::unlimitedPlacements},
    };
    for (const Case& c : cases)
        EXPECT_EQ(io::placedCount(c.graph), c.placed) << c.name;
}

// The same counts read from the files: a STEP assembly's usages, IGES subfigures and glTF
// nodes; sound single-part files count nothing to refuse.
TEST(ReaderProcess, PlacementCountsOfFiles)
{
    QTemporaryDir dir;
    for (const int levels : {1, 5, 17}) {
        SCOPED_TRACE(levels);
        const std::uint64_t placed = std::uint64_t(1) << levels;
        QByteArray step = fixtures::stepDoublingAssembly(levels);
        QBuffer buffer(&step);
        buffer.open(QIODevice::ReadOnly);
        EXPECT_EQ(io::scanStepNesting(buffer, io::maxStepParens).placements, placed);
        EXPECT_EQ(io::igesPlacements(fixtures::igesDoublingSubfigures(levels)), placed);
        EXPECT_EQ(io::gltfPlacements(fixtures::gltfDoublingNodes(levels)), placed);
    }
    QByteArray box = fixtures::stepOneBox();
    QBuffer buffer(&box);
    buffer.open(QIODevice::ReadOnly);
    EXPECT_EQ(io::scanStepNesting(buffer, io::maxStepParens).placements, 0u);
    EXPECT_TRUE(io::placementsFault(io::maxPlacements).isEmpty());
    EXPECT_EQ(io::placementsFault(io::maxPlacements + 1).toStdString(),
              "Die Datei platziert 50.001 Körper; mehr als 50.000 werden nicht gelesen");
    EXPECT_EQ(io::placementsFault(io::unlimitedPlacements).toStdString(),
              "Die Datei platziert unendlich viele Körper; mehr als 50.000 werden nicht gelesen");

    // Within the limit the files are read: each placement a body of its own, but for glTF,
    // whose reader puts the two triangles below one node into one body.
    struct Sound {
        QString name;
        QByteArray bytes;
        std::size_t bodies;
    };
    const Sound sound[] = {
        {QStringLiteral("acht.step"), fixtures::stepDoublingAssembly(3), 8},
        {QStringLiteral("acht.igs"), fixtures::igesDoublingSubfigures(3), 8},
        {QStringLiteral("acht.gltf"), fixtures::gltfDoublingNodes(3), 4},
    };
    for (const Sound& s : sound) {
        SCOPED_TRACE(s.name.toStdString());
        const io::ImportResult result = io::importFile(writeFile(dir, s.name, s.bytes), {});
        EXPECT_TRUE(result.ok) << result.error.toStdString();
        EXPECT_EQ(result.bodies.size(), s.bodies);
    }
}
