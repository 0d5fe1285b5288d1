#include "io/Export.h"
#include "io/Import.h"
#include "io/XcafBodies.h"
#include "io/Zip.h"
#include "sketch/Plane.h"
#include "tests/common/ChildGuard.h"

#include "IoTestSupport.h"
#include "tests/common/CpuTime.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/BareStepVerdict.h"
#include "tests/fixtures/PlacedParts.h"
#include "tests/fixtures/SeamSolids.h"
#include "tests/fixtures/TerrainFace.h"
#include "tests/fixtures/XcafModel.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRep_Builder.hxx>
#include <IGESControl_Reader.hxx>
#include <Poly_Triangulation.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPControl_Reader.hxx>
#include <TDF_LabelSequence.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Pln.hxx>

#include <algorithm>
#include <numbers>
#include <stdexcept>

using qor::io::ExportBody;
using qor::io::exportFile;
using qor::io::ExportOptions;
using qor::io::importFile;
using namespace qor::test;

namespace {

gp_Trsf placement(double angle)
{
    gp_Trsf turn;
    turn.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(1, 2, 3)), angle);
    gp_Trsf shift;
    shift.SetTranslation(gp_Vec(100, -50, 25));
    return shift * turn;
}

// A placed box (its location not the identity) and a body of two solids, each
// with its own colour.
std::vector<ExportBody> placedAndMultiSolid()
{
    return {{QStringLiteral("Platte"), box(10, 20, 30).Moved(placement(0.7)), 0.9, 0.1, 0.1},
            {QStringLiteral("Paar"),
             qor::compoundOf({box(10, 10, 10), box(10, 10, 10, gp_Pnt(30, 0, 0))}), 0.1, 0.7, 0.2}};
}

// The mesh body an STL import gives: one face that is only a triangulation.
ExportBody meshBody(const QTemporaryDir& dir, const TopoDS_Shape& shape)
{
    const QString stl = dir.filePath(QStringLiteral("netz.stl"));
    EXPECT_TRUE(exportFile(stl, {{QStringLiteral("Netz"), shape}}, ExportOptions()));
    const qor::io::ImportResult imported = importFile(stl, {});
    EXPECT_TRUE(imported.ok);
    QFile::remove(stl);
    return {QStringLiteral("Netz"), imported.bodies.at(0).shape};
}

// A flat grid of n x n squares as one triangulated face.
TopoDS_Shape gridMesh(int n)
{
    Handle(Poly_Triangulation) mesh = new Poly_Triangulation((n + 1) * (n + 1), 2 * n * n, false);
    for (int y = 0; y <= n; ++y) {
        for (int x = 0; x <= n; ++x)
            mesh->SetNode(1 + y * (n + 1) + x, gp_Pnt(x, y, 0));
    }
    int t = 1;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const int a = 1 + y * (n + 1) + x;
            mesh->SetTriangle(t++, Poly_Triangle(a, a + 1, a + n + 2));
            mesh->SetTriangle(t++, Poly_Triangle(a, a + n + 2, a + n + 1));
        }
    }
    TopoDS_Face face;
    BRep_Builder().MakeFace(face, mesh);
    return face;
}

int triangleCount(const QString& path3mf)
{
    qor::ZipReader zip;
    EXPECT_TRUE(zip.openFile(path3mf));
    return int(zip.read(QStringLiteral("3D/3dmodel.model"), 1 << 28).count("<triangle "));
}

// The file as the kernel's reader gives it, bodies collected from its parts and
// placements.
std::vector<qor::io::ImportedBody> bareBodies(const QString& path)
{
    XcafModel bare;
    STEPCAFControl_Reader reader;
    if (reader.ReadFile(QFile::encodeName(path).constData()) != IFSelect_RetDone
        || !reader.Transfer(bare.doc))
        return {};
    qor::io::ImportResult result;
    qor::io::collectXcafBodies(bare.doc, result);
    return result.bodies;
}

// Signed: a body turned round has a negative volume.
GProp_GProps massOf(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props);
    return props;
}

int solidsIn(const std::string& text)
{
    int count = 0;
    for (std::size_t at = text.find("MANIFOLD_SOLID_BREP("); at != std::string::npos;
         at = text.find("MANIFOLD_SOLID_BREP(", at + 1))
        ++count;
    return count;
}

} // namespace

// Read back by the kernel's own reader: the placed body and the body of two
// solids keep name and colour as parts of their own, and our reader finds them.
TEST(ExportFidelity, StepKeepsNamesAndColoursOfPlacedAndMultiSolidBodies)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("teile.step"));
    const std::vector<ExportBody> bodies = placedAndMultiSolid();
    ASSERT_TRUE(exportFile(path, bodies, ExportOptions()));

    XcafModel bare;
    STEPCAFControl_Reader reader;
    ASSERT_EQ(reader.ReadFile(QFile::encodeName(path).constData()), IFSelect_RetDone);
    ASSERT_TRUE(reader.Transfer(bare.doc));
    TDF_LabelSequence parts;
    bare.shapes->GetFreeShapes(parts);
    QStringList bareNames;
    for (const TDF_Label& part : parts) {
        // A body of several solids has its colour on each solid.
        TDF_LabelSequence coloured;
        XCAFDoc_ShapeTool::GetSubShapes(part, coloured);
        coloured.Prepend(part);
        Quantity_Color colour;
        if (std::any_of(coloured.begin(), coloured.end(), [&](const TDF_Label& label) {
                return bare.colors->GetColor(label, XCAFDoc_ColorSurf, colour);
            }))
            bareNames << qor::io::labelName(part);
    }
    EXPECT_EQ(bareNames, (QStringList{"Platte", "Paar"}));

    const qor::io::ImportResult imported = importFile(path, {});
    ASSERT_TRUE(imported.ok) << imported.error.toStdString();
    ASSERT_EQ(imported.bodies.size(), 2u);
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const qor::io::ImportedBody& body = imported.bodies[i];
        SCOPED_TRACE(body.name.toStdString());
        EXPECT_EQ(body.name, bodies[i].name);
        EXPECT_TRUE(body.hasColor);
        EXPECT_NEAR(body.r, bodies[i].r, 0.01);
        EXPECT_NEAR(body.g, bodies[i].g, 0.01);
        EXPECT_NEAR(body.b, bodies[i].b, 0.01);
        EXPECT_NEAR(volumeOf(body.shape), volumeOf(bodies[i].shape), 1e-6);
        EXPECT_TRUE(extentIs(body.shape, extent(bodies[i].shape), 1e-4));
    }
}

// Placements of one part are written as placements, each read back by the bare
// reader as a body of its own: names, colours, volumes and where they stand as
// when every body is written as a part of its own. Bodies of one shape in
// another colour or mirrored are other parts. Given to the writer a few at a
// time, the bodies come back the same.
TEST(ExportFidelity, StepOfPlacedPartsReadsBackAsPartsOfTheirOwn)
{
    const struct {
        unsigned seed;
        int batch;
    } cases[] = {{1, ExportOptions().stepBatch}, {2, ExportOptions().stepBatch}, {3, 7}, {4, 1}};
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "seed " << c.seed << ", batch " << c.batch);
        const std::vector<ExportBody> bodies = qor::fixtures::placedParts(c.seed, 60);
        const QString placed = dir.filePath(QStringLiteral("platziert.step"));
        const QString own = dir.filePath(QStringLiteral("eigen.step"));
        ExportOptions options;
        options.stepBatch = c.batch;
        QString error;
        QString note;
        ASSERT_TRUE(exportFile(placed, bodies, options, &error, &note)) << error.toStdString();
        EXPECT_EQ(note, QString());
        ASSERT_TRUE(qor::fixtures::writeEachAsOwnPart(bodies, own));

        // The parts' geometry is written once, not once per placement.
        int solids = 0;
        for (const ExportBody& body : bodies)
            solids += countOf(body.shape, TopAbs_SOLID);
        QFile file(placed);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_LT(solidsIn(file.readAll().toStdString()), solids / 2);
        // Each body is a top-level shape of its own, with its volume.
        EXPECT_TRUE(qor::fixtures::changedInFile(placed, bodies).empty());

        const std::vector<qor::io::ImportedBody> read = bareBodies(placed);
        const std::vector<qor::io::ImportedBody> expected = bareBodies(own);
        ASSERT_EQ(expected.size(), bodies.size());
        ASSERT_EQ(read.size(), expected.size());
        for (std::size_t i = 0; i < read.size(); ++i) {
            SCOPED_TRACE(expected[i].name.toStdString());
            EXPECT_EQ(read[i].name, expected[i].name);
            EXPECT_EQ(read[i].hasColor, expected[i].hasColor);
            EXPECT_NEAR(read[i].r, expected[i].r, 1e-3);
            EXPECT_NEAR(read[i].g, expected[i].g, 1e-3);
            EXPECT_NEAR(read[i].b, expected[i].b, 1e-3);
            const GProp_GProps mine = massOf(read[i].shape);
            const GProp_GProps theirs = massOf(expected[i].shape);
            EXPECT_NEAR(mine.Mass(), theirs.Mass(), 1e-6 * std::abs(theirs.Mass()));
            EXPECT_LT(mine.CentreOfMass().Distance(theirs.CentreOfMass()), 1e-6);
            EXPECT_EQ(countOf(read[i].shape, TopAbs_SOLID),
                      countOf(expected[i].shape, TopAbs_SOLID));
        }
    }
}

// A mesh body becomes planar triangle faces: a closed one a solid of its
// triangles with the volume kept, read back by the bare STEP and IGES readers.
TEST(ExportFidelity, MeshBodiesReachStepAndIgesAsSewnFaces)
{
    QTemporaryDir dir;
    const ExportBody mesh = meshBody(dir, box(10, 20, 30));
    for (const char* name : {"netz.step", "netz.igs"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(QString::fromUtf8(name));
        QString error;
        ASSERT_TRUE(exportFile(path, {mesh}, ExportOptions(), &error)) << error.toStdString();
        const QByteArray file = QFile::encodeName(path);
        TopoDS_Shape read;
        if (path.endsWith(QStringLiteral(".step"))) {
            STEPControl_Reader reader;
            ASSERT_EQ(reader.ReadFile(file.constData()), IFSelect_RetDone);
            reader.TransferRoots();
            read = reader.OneShape();
            EXPECT_EQ(countOf(read, TopAbs_SOLID), 1);
        } else {
            IGESControl_Reader reader;
            ASSERT_EQ(reader.ReadFile(file.constData()), IFSelect_RetDone);
            reader.TransferRoots();
            read = reader.OneShape();
        }
        EXPECT_EQ(countOf(read, TopAbs_FACE), 12);
        EXPECT_NEAR(volumeOf(read), 6000.0, 1e-3);
        EXPECT_NEAR(areaOf(read), 2200.0, 1e-3);
    }

    // Beyond the bound the export refuses and writes nothing.
    QString error;
    EXPECT_FALSE(exportFile(dir.filePath(QStringLiteral("gitter.step")),
                            {{QStringLiteral("Gitter"), gridMesh(224)}}, ExportOptions(), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Der Netzkörper „Gitter“ hat zu viele Dreiecke")))
        << error.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
              (QStringList{"netz.igs", "netz.step"}));
}

// A mesh with a closed surface inside another is a hollow body: STEP gets one
// solid with an inner shell and the volume between them; a third surface inside
// the void is a body again.
TEST(ExportFidelity, MeshVoidsStayVoidsInStep)
{
    QTemporaryDir dir;
    const TopoDS_Shape hollow = BRepAlgoAPI_Cut(box(20, 20, 20), box(10, 10, 10, gp_Pnt(5, 5, 5)));
    const struct {
        const char* what;
        TopoDS_Shape shape;
        int solids;
        int shells;
        double volume;
    } cases[] = {
        {"hollow", hollow, 1, 2, 8000.0 - 1000.0},
        {"island in the void", qor::compoundOf({hollow, box(4, 4, 4, gp_Pnt(8, 8, 8))}), 2, 3,
         8000.0 - 1000.0 + 64.0},
        {"two bodies apart", qor::compoundOf({box(10, 10, 10), box(10, 10, 10, gp_Pnt(20, 0, 0))}),
         2, 2, 2000.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ExportBody mesh = meshBody(dir, c.shape);
        const QString path = dir.filePath(QStringLiteral("netz.step"));
        QString error;
        ASSERT_TRUE(exportFile(path, {mesh}, ExportOptions(), &error)) << error.toStdString();
        STEPControl_Reader reader;
        ASSERT_EQ(reader.ReadFile(QFile::encodeName(path).constData()), IFSelect_RetDone);
        reader.TransferRoots();
        const TopoDS_Shape read = reader.OneShape();
        EXPECT_EQ(countOf(read, TopAbs_SOLID), c.solids);
        EXPECT_EQ(countOf(read, TopAbs_SHELL), c.shells);
        GProp_GProps props;
        BRepGProp::VolumeProperties(read, props, true);
        EXPECT_NEAR(props.Mass(), c.volume, 1e-3);
    }
}

// What the mesher leaves out or coarsens is said in the note, and the file
// stays within the triangle budget.
TEST(ExportFidelity, MeshExportNotesLeftOutFacesAndCoarsening)
{
    QTemporaryDir dir;
    // A plane without bounds gives the mesher nothing to triangulate.
    const TopoDS_Shape unbounded = BRepBuilderAPI_MakeFace(gp_Pln()).Face();
    const ExportBody partial{QStringLiteral("Teil"), qor::compoundOf({box(10, 10, 10), unbounded})};
    QString note;
    ASSERT_TRUE(exportFile(dir.filePath(QStringLiteral("teil.3mf")), {partial}, ExportOptions(),
                           nullptr, &note));
    EXPECT_EQ(note, QStringLiteral("1 Fläche ließ sich nicht vernetzen und fehlt in der Datei"));
    EXPECT_EQ(triangleCount(dir.filePath(QStringLiteral("teil.3mf"))), 12);

    ExportOptions tight;
    tight.linearDeflection = 0.001;
    tight.triangleBudget = 20000;
    const ExportBody ball{QStringLiteral("Kugel"), BRepPrimAPI_MakeSphere(200).Shape()};
    ASSERT_TRUE(
        exportFile(dir.filePath(QStringLiteral("kugel.3mf")), {ball}, tight, nullptr, &note));
    EXPECT_TRUE(note.startsWith(QStringLiteral("Vernetzung auf "))) << note.toStdString();
    const int triangles = triangleCount(dir.filePath(QStringLiteral("kugel.3mf")));
    EXPECT_LE(triangles, tight.triangleBudget);
    EXPECT_GT(triangles, tight.triangleBudget / 10);

    // A mesh body keeps its triangles, however many one face has, and nothing was
    // coarsened; the note names only the grid's rim of 4 × 250 edges.
    ASSERT_TRUE(exportFile(dir.filePath(QStringLiteral("gitter.3mf")),
                           {{QStringLiteral("Gitter"), gridMesh(250)}}, ExportOptions(), nullptr,
                           &note));
    EXPECT_EQ(note, QStringLiteral("„Gitter“ hat 1.000 offene Kanten, an denen nur ein Dreieck "
                                   "liegt (Loch im Netz); manche Slicer lehnen das Objekt ab oder "
                                   "reparieren es"));
    EXPECT_EQ(triangleCount(dir.filePath(QStringLiteral("gitter.3mf"))), 2 * 250 * 250);
}

// Each written body's volume is compared with the file read back: a solid the
// first STEP damages is written again and comes back whole, also where two
// placements share it; sound bodies beside it are left alone.
TEST(ExportFidelity, StepThatChangesAVolumeIsRewrittenOrNoted)
{
    struct Case {
        const char* what;
        TopoDS_Shape shape;
        double volume; // what the file holds
    };
    const Case cases[] = {
        {"drilled through the seam", sphereDrilledThroughSeam(), 3912.5},
        {"bump on the seam", sphereWithBumpOnSeam(), 4251.7},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(QStringLiteral("kugel.step"));
        const std::vector<ExportBody> bodies
            = {{QStringLiteral("Quader"), box(10, 20, 30)},
               {QStringLiteral("Kugel"), c.shape},
               {QStringLiteral("Kugel links"), c.shape.Moved(placement(2.6))},
               {QStringLiteral("Kugel rechts"), c.shape.Moved(placement(1.9))}};
        QString error;
        QString note = QStringLiteral("alt");
        ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), &error, &note))
            << error.toStdString();
        EXPECT_EQ(note, QString()) << note.toStdString();
        STEPControl_Reader reader;
        ASSERT_EQ(reader.ReadFile(QFile::encodeName(path).constData()), IFSelect_RetDone);
        ASSERT_EQ(reader.TransferRoots(), 4);
        EXPECT_NEAR(volumeOf(reader.Shape(1)), 6000.0, 1e-3);
        for (int i = 2; i <= 4; ++i)
            EXPECT_NEAR(volumeOf(reader.Shape(i)), c.volume, 0.5) << i;
        // Nothing of the second attempt is left beside the file.
        EXPECT_EQ(
            QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
            QStringList{"kugel.step"});
    }
}

// A terrain-like face would drive the mesher to millions of triangles and
// gigabytes at the deflection asked for: it is coarsened on the way there, so that
// no face gets more than 100,000 triangles and the export says so.
TEST(ExportFidelity, TerrainIsCoarsenedBeforeItIsMeshedFinely)
{
    QTemporaryDir dir;
    const ExportBody land{QStringLiteral("Gelände"), terrainFace(200, 1.0e6)};
    const QString path = dir.filePath(QStringLiteral("gelaende.3mf"));
    QString error;
    QString note;
    ASSERT_TRUE(exportFile(path, {land}, ExportOptions(), &error, &note)) << error.toStdString();
    EXPECT_TRUE(note.startsWith(QStringLiteral("Vernetzung auf "))) << note.toStdString();
    const int triangles = triangleCount(path);
    EXPECT_LE(triangles, 100000);
    EXPECT_GT(triangles, 1000);
}

// Cancelling while the terrain is being meshed (the user presses the button
// 0.3 s of processor time in) ends the export within a second of processor time
// of it, in every mesh format, and leaves nothing behind. The whole export takes
// over two seconds.
TEST(ExportFidelity, CancelStopsTheMesherWithinASecond)
{
    QTemporaryDir dir;
    for (const char* suffix : {"stl", "3mf"}) {
        SCOPED_TRACE(suffix);
        const ExportBody land{QStringLiteral("Gelände"), terrainFace(200, 1.0e6)};
        const double before = qor::test::cpuSeconds();
        QString error;
        EXPECT_FALSE(exportFile(dir.filePath(QStringLiteral("gelaende.") + suffix), {land},
                                ExportOptions(), &error, nullptr, {},
                                [&] { return qor::test::cpuSeconds() - before >= 0.3; }));
        EXPECT_LT(qor::test::cpuSeconds() - before, 0.3 + 1.0);
        EXPECT_EQ(error, QStringLiteral("Export abgebrochen"));
        EXPECT_TRUE(QDir(dir.path())
                        .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden)
                        .isEmpty());
    }
}

// A failure while a body is meshed reaches the user as one German line naming
// the body and the step, never as the failure's own text.
TEST(ExportFidelity, FailureWhileMeshingNamesBodyAndStep)
{
    QTemporaryDir dir;
    // The long face comes first: the progress that fails arrives every 40 ms while
    // meshing runs, and on a busy machine the small box could still be meshing then.
    const std::vector<ExportBody> bodies = {{QStringLiteral("Gelände"), terrainFace(200, 1.0e6)},
                                            {QStringLiteral("Quader"), box(1, 1, 1)}};
    QString error;
    EXPECT_FALSE(exportFile(dir.filePath(QStringLiteral("gelaende.stl")), bodies, ExportOptions(),
                            &error, nullptr, [](int percent, const QString&) {
                                if (percent == 5)
                                    throw std::runtime_error("NCollection_Array1::Create");
                            }));
    EXPECT_EQ(error, QStringLiteral("Export fehlgeschlagen: Fehler an „Gelände“ im Schritt "
                                    "„Vernetzen“"));
}

// Imported names lose control characters, and an instance named only by its
// XCAF entry takes the name of the part it places.
TEST(ExportFidelity, ImportedNamesAreCleaned)
{
    XcafModel model;
    model.addPart(box(1, 1, 1), "Gehäuse\r\nOben\x07");
    const TDF_Label screw = model.addPart(box(2, 2, 2), "Schraube");
    const TDF_Label assembly = model.shapes->NewShape();
    setName(model.shapes->AddComponent(assembly, screw, placement(0.3)), "=>[0:1:1:2]");
    model.shapes->UpdateAssemblies();

    qor::io::ImportResult result;
    qor::io::collectXcafBodies(model.doc, result);
    QStringList names;
    for (const qor::io::ImportedBody& body : result.bodies)
        names << body.name;
    EXPECT_EQ(names, (QStringList{"Gehäuse Oben", "Schraube"}));
}

// A body pasted without moving it holds the same shape at the same spot as its
// original: every format keeps both, each under its own name where the format
// names objects, with twice the triangles or twice the volume read back.
TEST(ExportFidelity, BodiesOfOneShapeAtOneSpotAreBothWritten)
{
    const TopoDS_Shape shape = box(10, 20, 30);
    const std::vector<ExportBody> bodies = {{QStringLiteral("Erster"), shape, 0.9, 0.1, 0.1},
                                            {QStringLiteral("Zweiter"), shape, 0.1, 0.1, 0.9}};
    const auto bothNamed = [](const QByteArray& text) {
        return text.contains("Erster") && text.contains("Zweiter");
    };
    QTemporaryDir dir;
    const auto written = [&](const char* suffix) {
        const QString path = dir.filePath(QStringLiteral("paar.") + QLatin1String(suffix));
        QString error;
        EXPECT_TRUE(exportFile(path, bodies, ExportOptions(), &error)) << error.toStdString();
        return path;
    };
    const auto bytesOf = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    double stepVolume = 0;
    for (const qor::io::ImportedBody& body : bareBodies(written("step")))
        stepVolume += volumeOf(body.shape);
    EXPECT_NEAR(stepVolume, 12000.0, 1e-3);

    IGESControl_Reader iges;
    ASSERT_EQ(iges.ReadFile(QFile::encodeName(written("igs")).constData()), IFSelect_RetDone);
    iges.TransferRoots();
    EXPECT_NEAR(volumeOf(iges.OneShape()), 12000.0, 1e-3);

    EXPECT_TRUE(bothNamed(bytesOf(written("obj"))));
    EXPECT_TRUE(bothNamed(bytesOf(written("glb"))));
    const QString threeMf = written("3mf");
    qor::ZipReader zip;
    ASSERT_TRUE(zip.openFile(threeMf));
    EXPECT_TRUE(bothNamed(zip.read(QStringLiteral("3D/3dmodel.model"), 1 << 24)));
    EXPECT_EQ(triangleCount(threeMf), 24);
    EXPECT_TRUE(bytesOf(written("ply")).contains("element face 24\n"));
    const QByteArray stl = bytesOf(written("stl"));
    ASSERT_GE(stl.size(), 84);
    EXPECT_EQ(qFromLittleEndian<quint32>(stl.constData() + 80), 24u);
}

// The Khronos validator accepts GLB files of placed and turned bodies.
TEST(ExportFidelity, GlbPassesTheKhronosValidator)
{
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        GTEST_SKIP() << "node is not installed";
    // The validator lives outside the source tree, installed on first use.
    const QString tools = QDir::home().filePath(QStringLiteral(".cache/qorcad-gltf-validator"));
    if (!QFileInfo::exists(tools + QStringLiteral("/node_modules/gltf-validator"))) {
        QDir().mkpath(tools);
        QProcess npm;
        npm.setWorkingDirectory(tools);
        npm.start(QStringLiteral("npm"), {"install", "--no-audit", "--no-fund", "gltf-validator"});
        ASSERT_TRUE(npm.waitForFinished(qor::test::childGuardMs) && npm.exitCode() == 0)
            << npm.readAllStandardError().toStdString();
    }

    QTemporaryDir dir;
    std::vector<ExportBody> bodies = placedAndMultiSolid();
    for (const double angle : {std::numbers::pi / 2, std::numbers::pi})
        bodies.push_back({QStringLiteral("Gedreht"), box(3, 4, 5).Moved(placement(angle))});
    const QString path = dir.filePath(QStringLiteral("teile.glb"));
    ASSERT_TRUE(exportFile(path, bodies, ExportOptions()));

    QProcess node;
    node.setWorkingDirectory(tools);
    node.start(QStringLiteral("node"), {"-e",
                                        "require('gltf-validator').validateBytes(new Uint8Array("
                                        "require('fs').readFileSync(process.argv[1]))).then(r => {"
                                        "console.log(JSON.stringify(r.issues.messages));"
                                        "process.exit(r.issues.numErrors === 0 ? 0 : 1); },"
                                        "e => { console.log(e); process.exit(2); })",
                                        path});
    ASSERT_TRUE(node.waitForFinished(qor::test::childGuardMs));
    EXPECT_EQ(node.exitCode(), 0) << node.readAllStandardOutput().toStdString();
}
