#include "io/FusionArchive.h"
#include "io/sab/SabReader.h"
#include "tests/common/CpuTime.h"
#include "tests/common/Seeds.h"
#include "tests/common/TempFiles.h"
#include "tests/fixtures/SabBodyFixtures.h"
#include "tests/fixtures/SabFixtures.h"
#include "tests/io/IoTestSupport.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopoDS.hxx>
#include <gp_Pln.hxx>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <random>

#include <gtest/gtest.h>

#include <sys/resource.h>

using namespace qor::io;
using namespace qor::test;

using qor::test::writeFile;

namespace {

const QString advice = QStringLiteral(
    "\n\nIn Fusion „Datei → Exportieren → STEP“ wählen und die STEP-Datei in QorCAD "
    "öffnen – Komponenten, Namen und Farben bleiben erhalten.");
const QString filledNote
    = QStringLiteral("Spline-Flächen (Verrundungen u. a.) aus ihren Randkurven aufgebaut");

QByteArray cube(double side = 1.0, const SabBodyOptions& options = {})
{
    return sabFromShape(BRepPrimAPI_MakeBox(side, side, side).Shape(), options);
}

// A 10 x 10 x 2 plate with a triangular hole whose top face lies on a spline
// surface: that face has an outer loop of four edges and an inner one of three.
QByteArray plateWithSplineTop()
{
    const TopoDS_Shape plate = BRepPrimAPI_MakeBox(10, 10, 2).Shape();
    BRepBuilderAPI_MakePolygon triangle(gp_Pnt(3, 3, -1), gp_Pnt(7, 3, -1), gp_Pnt(5, 7, -1), true);
    const TopoDS_Shape prism
        = BRepPrimAPI_MakePrism(BRepBuilderAPI_MakeFace(triangle.Wire()).Face(), gp_Vec(0, 0, 4));
    const TopoDS_Shape holed = BRepAlgoAPI_Cut(plate, prism).Shape();
    SabBodyOptions options;
    int index = 0;
    for (TopExp_Explorer it(holed, TopAbs_FACE); it.More(); it.Next(), ++index) {
        Bnd_Box box;
        BRepBndLib::Add(it.Current(), box);
        if (box.CornerMin().Z() > 1.5)
            options.unsupportedFaces.push_back(index);
    }
    EXPECT_EQ(options.unsupportedFaces.size(), 1u);
    return sabFromShape(holed, options);
}

// Edges bordered by exactly one face, poles of spheres and cones aside: zero
// for a closed body.
int freeEdges(const TopoDS_Shape& shape)
{
    TopTools_IndexedDataMapOfShapeListOfShape faces;
    TopExp::MapShapesAndAncestors(shape, TopAbs_EDGE, TopAbs_FACE, faces);
    int free = 0;
    for (int i = 1; i <= faces.Extent(); ++i)
        free += faces(i).Extent() == 1 && !BRep_Tool::Degenerated(TopoDS::Edge(faces.FindKey(i)));
    return free;
}

QStringList namesOf(const ImportResult& result)
{
    QStringList names;
    for (const ImportedBody& body : result.bodies)
        names.append(body.name);
    return names;
}

} // namespace

TEST(SabBodies, CubeSharesItsEdgesAndScalesByTheUnitFactor)
{
    QString message = QStringLiteral("old");
    const auto bodies = readSab(cube(1.0, {.unitFactor = 10}), &message);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0].name, QStringLiteral("Körper 1"));
    EXPECT_EQ(message, QString());
    EXPECT_NEAR(volumeOf(bodies[0].shape), 1000.0, 1e-6);
    TopTools_IndexedDataMapOfShapeListOfShape faces;
    TopExp::MapShapesAndAncestors(bodies[0].shape, TopAbs_EDGE, TopAbs_FACE, faces);
    ASSERT_EQ(faces.Extent(), 12);
    for (int i = 1; i <= faces.Extent(); ++i)
        EXPECT_EQ(faces(i).Extent(), 2);
    GProp_GProps props;
    BRepGProp::VolumeProperties(bodies[0].shape, props);
    EXPECT_GT(props.Mass(), 0.0) << "faces point out of the material";
}

TEST(SabBodies, BodyTransformComesBeforeTheUnitFactor)
{
    const SabBodyOptions options{.unitFactor = 10, .scale = 2, .translation = {1, 0, 0}};
    const auto bodies = readSab(cube(1.0, options), nullptr);
    ASSERT_EQ(bodies.size(), 1u);
    Bnd_Box box;
    BRepBndLib::AddOptimal(bodies[0].shape, box, false, false);
    double x0, y0, z0, x1, y1, z1;
    box.Get(x0, y0, z0, x1, y1, z1);
    EXPECT_NEAR(x0, (2 * 0 + 1) * 10.0, 1e-6);
    EXPECT_NEAR(x1, (2 * 1 + 1) * 10.0, 1e-6);
    EXPECT_NEAR(z1 - z0, 20.0, 1e-6);
}

TEST(SabBodies, UnsupportedSurfaceIsFilledFromItsOuterLoop)
{
    QString message;
    const auto bodies = readSab(plateWithSplineTop(), &message);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(message, filledNote);
    EXPECT_NEAR(volumeOf(bodies[0].shape), 200.0 - 2 * 8.0, 0.5);
    EXPECT_EQ(freeEdges(bodies[0].shape), 0);
    int twoWireFaces = 0;
    for (TopExp_Explorer it(bodies[0].shape, TopAbs_FACE); it.More(); it.Next()) {
        TopTools_IndexedMapOfShape wires;
        TopExp::MapShapes(it.Current(), TopAbs_WIRE, wires);
        twoWireFaces += wires.Extent() == 2;
    }
    EXPECT_EQ(twoWireFaces, 2); // the filled top face and the bottom one
}

// A chain that runs into a record of another kind ends there: a coedge read
// as a loop would repeat the face's boundary and send healing into recursion.
TEST(SabBodies, ChainsKeepToTheirKind)
{
    const auto bodies = readSab(cube(1.0, {.strayLoopLink = true}), nullptr);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_NEAR(volumeOf(bodies[0].shape), 1.0, 1e-9);
    TopTools_IndexedMapOfShape wires;
    TopExp::MapShapes(bodies[0].shape, TopAbs_WIRE, wires);
    EXPECT_EQ(wires.Extent(), 6);
}

TEST(SabBodies, NewerDialectIsNamed)
{
    SabWriter w;
    w.begin("body%").pointer(-1).pointer(-1).pointer(-1).end();
    QString message;
    EXPECT_TRUE(readSab(w.endOfData().bytes, &message).empty());
    EXPECT_TRUE(message.startsWith(QStringLiteral("ACIS-Daten einer neueren Version")))
        << qPrintable(message);
}

// Damaged bodies come back as fewer bodies and notes, never as a crash, a
// stray exception or a long wait.
TEST(SabBodies, MutatedBodiesFailCleanly)
{
    const QByteArray seeds[]
        = {cube(1.0, {.unitFactor = 10, .scale = 2}), cube(1.0, {.unsupportedFaces = {0}})};
    std::mt19937 gen(qor::test::seed(2626));
    std::size_t bodies = 0;
    for (int i = 0; i < 300; ++i) {
        const double before = qor::test::cpuSeconds();
        QString message;
        const std::size_t read = readSab(mutateSab(seeds[i % 2], gen), &message).size();
        EXPECT_LT(qor::test::cpuSeconds() - before, 2.0) << "case " << i;
        EXPECT_TRUE(read > 0 || !message.isEmpty()) << "case " << i;
        bodies += read;
    }
    EXPECT_GT(bodies, 50u); // most damage leaves a body to build
}

TEST(FusionArchive, NonZipFileIsRefusedWithoutProgress)
{
    QTemporaryDir dir;
    int calls = 0;
    const ImportResult result = readFusion(writeFile(dir, QStringLiteral("x.f3d"), "PS junk"),
                                           [&](int, const QString&) { ++calls; });
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, QStringLiteral("Keine gültige Fusion-Datei (ZIP-Archiv erwartet)"));
    EXPECT_EQ(result.format, QStringLiteral("Autodesk Fusion"));
    EXPECT_EQ(calls, 0);
}

TEST(FusionArchive, ArchivesGiveNamedSolids)
{
    const QByteArray smallPng("\x89PNG small", 10);
    const QByteArray sheet = sabFromShape(BRepBuilderAPI_MakeFace(gp_Pln(), 0, 1, 0, 1).Face());
    ZipEntries twelve;
    for (int i = 0; i < 10; ++i)
        twelve.emplace_back(QStringLiteral("meta/%1.json").arg(i), "{}");
    twelve.emplace_back(QStringLiteral("Preview.PNG"), smallPng);
    twelve.emplace_back(QStringLiteral("Body1.SMB"), cube());
    const QByteArray noBody = SabWriter().endOfData().bytes;
    const struct {
        const char* name;
        QByteArray archive;
        QStringList bodies;
        QString error;
        QString warning;
        double minVolume = 0.5; // of every body returned
    } cases[] = {
        {"no body data",
         zipArchive({{"a.smbh", cube()}, {"b.txt", "x"}}),
         {},
         QStringLiteral("Die Fusion-Datei enthält keine Körperdaten.") + advice,
         {}},
        {"one solid", zipArchive(twelve), {QStringLiteral("Halter")}, {}, {}},
        {"three solids and a stream without body",
         zipArchive({{"a.smb", cube()}, {"b.smb", noBody}, {"c.smb", cube(2)}, {"d.smb", cube(3)}}),
         {"Halter – Körper 1", "Halter – Körper 2", "Halter – Körper 3"},
         {},
         {}},
        {"solids and a sheet",
         zipArchive({{"a.smb", sheet}, {"b.smb", cube()}, {"c.smb", cube()}}),
         {"Halter – Körper 1", "Halter – Körper 2"},
         {},
         {}},
        {"filled face and a stream without body",
         zipArchive({{"a.smb", plateWithSplineTop()}, {"b.smb", noBody}}),
         {"Halter"},
         {},
         filledNote},
        {"only a sheet", zipArchive({{"a.smb", sheet}}), {"Halter"}, {}, {}, -1.0},
        {"nested twice", nestedArchive({{"a.smb", cube()}}, 2), {"Halter"}, {}, {}},
        {"nested four times",
         nestedArchive({{"a.smb", cube()}}, 4),
         {},
         QStringLiteral("Die Fusion-Datei enthält keine Körperdaten.") + advice,
         {}},
        {"unreadable body data",
         zipArchive({{"a.smb", "ACIS TextFile"}}),
         {},
         QStringLiteral("Die Körper dieser Fusion-Datei liegen im geschlossenen "
                        "Autodesk-ShapeManager-Format vor: Zu kurz für SAB")
             + advice,
         {}},
        {"preview over its limit",
         zipArchive(
             {{"big.png", QByteArray(17 << 20, 'p')}, {"small.png", smallPng}, {"a.smb", cube()}}),
         {"Halter"},
         {},
         {}},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> steps;
        const ImportResult result
            = readFusion(writeFile(dir, QStringLiteral("Halter.f3d"), c.archive),
                         [&](int percent, const QString&) { steps.push_back(percent); });
        EXPECT_EQ(namesOf(result), c.bodies);
        EXPECT_EQ(result.ok, !c.bodies.isEmpty());
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.warning, c.warning);
        EXPECT_EQ(steps, (std::vector<int>{10, 40}));
        for (const ImportedBody& body : result.bodies)
            EXPECT_GT(volumeOf(body.shape), c.minVolume);
        if (c.archive.contains("Preview.PNG") || c.archive.contains("small.png"))
            EXPECT_EQ(result.preview, smallPng);
    }
    const ImportResult twelveEntries
        = readFusion(writeFile(dir, QStringLiteral("Halter.f3d"), zipArchive(twelve)), {});
    EXPECT_EQ(twelveEntries.notes, QStringList{QStringLiteral("Archiv-Einträge: 12")});

    // Nested archives are followed up to a fixed count, however many there are.
    ZipEntries seventy;
    for (int i = 0; i < 70; ++i)
        seventy.emplace_back(QStringLiteral("n%1.f3d").arg(i), zipArchive({{"a.smb", cube()}}));
    const ImportResult many
        = readFusion(writeFile(dir, QStringLiteral("Halter.f3d"), zipArchive(seventy)), {});
    EXPECT_EQ(many.bodies.size(), 64u);
}

// A design holds one stream per component, each with its own notes: the archive's
// warning names each text once and adds the counts of left-out faces up.
TEST(FusionArchive, NotesOfAllStreamsAreMergedOnce)
{
    const QString skippedFace = QStringLiteral("Fläche ausgelassen: Spline-Fläche ohne Rand");
    SabBodyOptions lostFace;
    lostFace.unsupportedFaces = {0};
    lostFace.looplessFaces = {0};
    const QByteArray cubeWithoutFace = cube(1.0, lostFace); // 1 of 6 faces
    const QByteArray plateWithoutFace
        = sabFromShape(BRepPrimAPI_MakeBox(10, 10, 2).Shape(), lostFace);
    const struct {
        const char* name;
        ZipEntries entries;
        QString warning;
    } cases[] = {
        {"two streams, each losing a face",
         {{"a.smb", cubeWithoutFace}, {"b.smb", plateWithoutFace}},
         skippedFace + QStringLiteral("; 2 von 12 Flächen ausgelassen")},
        {"the same stream three times beside a filled face",
         {{"a.smb", cubeWithoutFace},
          {"b.smb", plateWithSplineTop()},
          {"c.smb", cubeWithoutFace},
          {"d.smb", cubeWithoutFace}},
         skippedFace + QStringLiteral("; ") + filledNote
             + QStringLiteral("; 3 von 18 Flächen ausgelassen")},
        {"filled faces in two streams",
         {{"a.smb", plateWithSplineTop()}, {"b.smb", plateWithSplineTop()}},
         filledNote},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ImportResult result
            = readFusion(writeFile(dir, QStringLiteral("Halter.f3d"), zipArchive(c.entries)), {});
        ASSERT_TRUE(result.ok) << result.error.toStdString();
        EXPECT_EQ(result.warning.toStdString(), c.warning.toStdString());
    }
}

// The real design of many components: every note once, one count of left-out faces.
TEST(FusionArchive, RealDesignNamesEachNoteOnce)
{
    const QString path = QDir(readerFilesFolder()).filePath(QStringLiteral("Casing_v4.f3z"));
    if (!QFileInfo::exists(path))
        GTEST_SKIP() << "Casing_v4.f3z is not at hand";
    const ImportResult result = readFusion(path, {});
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    const QStringList lines = result.warning.split(QStringLiteral("; "));
    EXPECT_EQ(lines.count(filledNote), 1) << result.warning.toStdString();
    EXPECT_EQ(QSet<QString>(lines.begin(), lines.end()).size(), lines.size());
    const QStringList counts = lines.filter(QStringLiteral("Flächen ausgelassen"));
    ASSERT_EQ(counts.size(), 1) << result.warning.toStdString();
    // The streams left out 5 of 163, 12 of 287 and 2 of 1906 faces.
    EXPECT_EQ(counts.front(), QStringLiteral("19 von 2.356 Flächen ausgelassen"));
}

TEST(FusionArchive, SharedStreamBombStaysWithinItsBudget)
{
    QTemporaryDir dir;
    rusage usage{};
    // Entries that claim to be empty cost nothing against the budget, so the
    // zip reader's own limit has to stop their inflating.
    const QString emptyPath
        = writeFile(dir, QStringLiteral("leer.f3z"), sharedStreamBomb(50, 64 << 20, true));
    getrusage(RUSAGE_SELF, &usage);
    const long before = usage.ru_maxrss;
    const ImportResult empty = readFusion(emptyPath, {});
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss - before, 64L * 1024); // kilobytes
    EXPECT_TRUE(empty.error.contains(QStringLiteral("Zu kurz für SAB")));

    // A hundred entries of 64 MiB: 6.4 GiB unbounded. Within the budget of 1 GiB the read
    // takes about 9 s of processor time on a busy machine; twice that is allowed, far below
    // what inflating them all would take.
    const QByteArray bomb = sharedStreamBomb(100, 64 << 20);
    ASSERT_LT(bomb.size(), 1 << 20);
    const double cpuBefore = qor::test::cpuSeconds();
    const ImportResult result = readFusion(writeFile(dir, QStringLiteral("bombe.f3z"), bomb), {});
    EXPECT_LT(qor::test::cpuSeconds() - cpuBefore, 20.0);
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 1500L * 1024); // kilobytes
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.contains(
        QStringLiteral("Einige Körperdaten wurden wegen ihrer Größe übersprungen")));
}

// Real archives and streams from other programs: bodies of plausible volume,
// or a German reason.
TEST(FusionArchive, RealFilesGiveBodiesOrAReason)
{
    const QDir dir(readerFilesFolder());
    if (!dir.exists())
        GTEST_SKIP() << "no folder of real files";
    int files = 0;
    for (const QString& name : dir.entryList(QDir::Files)) {
        const QString lower = name.toLower();
        const bool archive = lower.endsWith(QStringLiteral(".f3d")) || lower.endsWith(".f3z");
        if (!archive && !lower.endsWith(QStringLiteral(".sab")))
            continue;
        SCOPED_TRACE(name.toStdString());
        ++files;
        const double before = qor::test::cpuSeconds();
        ImportResult result;
        if (archive) {
            result = readFusion(dir.filePath(name), {});
        } else {
            QFile file(dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            result.bodies = readSab(file.readAll(), &result.error);
            result.ok = !result.bodies.empty();
        }
        std::printf("%s: %s, %zu bodies, %.0f ms CPU\n", qPrintable(name),
                    qPrintable(result.ok ? result.warning : result.error), result.bodies.size(),
                    (qor::test::cpuSeconds() - before) * 1e3);
        if (!result.ok) {
            EXPECT_FALSE(result.error.isEmpty());
            continue;
        }
        for (const ImportedBody& body : result.bodies) {
            Bnd_Box box;
            BRepBndLib::Add(body.shape, box);
            const double volume = volumeOf(body.shape);
            const double boxVolume = box.IsVoid() ? 0.0 : box.SquareExtent();
            std::printf("  %s: volume %.6g mm3, box diagonal %.4g mm, %d free edges\n",
                        qPrintable(body.name), volume, std::sqrt(boxVolume), freeEdges(body.shape));
            EXPECT_GT(volume, 0.0);
            EXPECT_LT(std::sqrt(boxVolume), 1e5);
        }
    }
    EXPECT_GE(files, 7);
}
