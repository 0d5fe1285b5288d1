// The rules every mesh writer follows, checked on the files read back by
// parsers of the test's own (binary STL, OBJ, PLY, 3MF, GLB): no triangle without area,
// non-manifold edges named, no face left out that can be meshed, and the coarsening note naming the
// bound that acted.

#include "IoTestSupport.h"
#include "io/BrepFile.h"
#include "io/ClosedVolume.h"
#include "io/Export.h"
#include "io/Import.h"
#include "io/XcafBodies.h"
#include "io/Zip.h"
#include "sketch/Plane.h"

#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/DamagedFaces.h"
#include "tests/fixtures/MeshSeams.h"
#include "tests/fixtures/MeshSoup.h"
#include "tests/fixtures/StlFixtures.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Poly_Triangulation.hxx>
#include <RWGltf_CafReader.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shell.hxx>
#include <gp_Pln.hxx>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>

using qor::io::ExportBody;
using qor::io::exportFile;
using qor::io::ExportOptions;

namespace {

using namespace qor::fixtures;

Soup soupOf(const QString& path)
{
    return soupOfFile(path);
}

double soupVolume(const Soup& soup)
{
    return std::abs(signedVolume(soup));
}

const char* const meshSuffixes[] = {"stl", "obj", "glb", "ply", "3mf"};

// The shape's face triangulations as a body of faces without surfaces, as a mesh
// file is read.
TopoDS_Shape trianglesOnly(const TopoDS_Shape& shape)
{
    TopoDS_Compound body;
    BRep_Builder builder;
    builder.MakeCompound(body);
    for (TopExp_Explorer ex(shape, TopAbs_FACE); ex.More(); ex.Next()) {
        TopLoc_Location location;
        TopoDS_Face face;
        builder.MakeFace(face, BRep_Tool::Triangulation(TopoDS::Face(ex.Current()), location));
        face.Orientation(ex.Current().Orientation());
        builder.Add(body, face.Located(location));
    }
    return body;
}

// The bodies of a read file under their names, as the export takes them.
std::vector<ExportBody> exportBodiesOf(const qor::io::ImportResult& imported)
{
    std::vector<ExportBody> bodies;
    for (const qor::io::ImportedBody& body : imported.bodies)
        bodies.push_back({body.name, body.shape});
    return bodies;
}

} // namespace

// A sphere and a cone leave fans of triangles at their poles and tip whose corners are
// one point; each writer drops them, and the solids stay closed.
TEST(MeshWriters, DropZeroAreaTrianglesAndStayClosed)
{
    QTemporaryDir dir;
    const std::vector<ExportBody> bodies = {
        {QStringLiteral("Kugel"), BRepPrimAPI_MakeSphere(10).Shape()},
        {QStringLiteral("Kegel"),
         BRepPrimAPI_MakeCone(gp_Ax2(gp_Pnt(40, 0, 0), gp::DZ()), 8, 0, 12).Shape()},
    };
    const double volume = 4.0 / 3.0 * std::numbers::pi * 1000.0 + std::numbers::pi * 64.0 * 4.0;
    for (const char* suffix : meshSuffixes) {
        SCOPED_TRACE(suffix);
        const QString path = dir.filePath(QStringLiteral("teile.") + suffix);
        QString note = QStringLiteral("alt");
        ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), nullptr, &note));
        EXPECT_EQ(note, QString());
        const Soup soup = soupOf(path);
        EXPECT_GT(soup.triangles.size(), 500u);
        EXPECT_EQ(zeroAreaTriangles(soup), 0);
        EXPECT_EQ(edgesUsedOtherThanTwice(soup), 0);
        EXPECT_NEAR(soupVolume(soup), volume, 0.01 * volume);
    }
}

// The kernel's sample ball (two solids) meshes with three such triangles at its
// poles; every writer leaves them out.
TEST(MeshWriters, SampleBallHasNoZeroAreaTriangles)
{
    const QString ball = QStringLiteral("/usr/share/opencascade/data/occ/Ball.brep");
    if (!QFile::exists(ball))
        GTEST_SKIP() << "kernel samples not installed";
    const qor::io::ImportResult imported = qor::io::importFile(ball, {});
    ASSERT_TRUE(imported.ok) << imported.error.toStdString();
    QTemporaryDir dir;
    for (const char* suffix : meshSuffixes) {
        SCOPED_TRACE(suffix);
        const QString path = dir.filePath(QStringLiteral("ball.") + suffix);
        ASSERT_TRUE(exportFile(path, {{QStringLiteral("Ball"), imported.bodies.at(0).shape}},
                               ExportOptions()));
        const Soup soup = soupOf(path);
        EXPECT_GT(soup.triangles.size(), 10000u);
        EXPECT_EQ(zeroAreaTriangles(soup), 0);
        EXPECT_NEAR(soupVolume(soup), qor::io::closedVolume(imported.bodies[0].shape),
                    0.01 * 4612.5);
    }
}

// A fin of three triangles on one edge, and two solids of one body that touch
// (their shared edges meet four triangles once a reader joins their corners),
// are written as they are and named by every writer with the count of such
// edges the file holds.
TEST(MeshWriters, NameNonManifoldEdges)
{
    QTemporaryDir dir;
    TopoDS_Compound pair;
    BRep_Builder builder;
    builder.MakeCompound(pair);
    builder.Add(pair, qor::test::box(4, 4, 4));
    builder.Add(pair, qor::test::box(4, 4, 4, gp_Pnt(4, 0, 0)));
    const struct {
        const char* name;
        TopoDS_Shape shape;
    } cases[] = {{"Flosse", qor::test::finMesh()}, {"Paar", pair}};
    for (const auto& c : cases) {
        const std::vector<ExportBody> bodies
            = {{QStringLiteral("Würfel"), qor::test::box(4, 4, 4, gp_Pnt(0, 20, 0))},
               {QString::fromUtf8(c.name), c.shape}};
        for (const char* suffix : meshSuffixes) {
            SCOPED_TRACE(std::string(c.name) + "." + suffix);
            const QString path = dir.filePath(QStringLiteral("teile.") + suffix);
            QString note;
            ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), nullptr, &note));
            const std::map<std::pair<int, int>, int> uses = edgeUses(soupOf(path));
            const auto shared = std::count_if(uses.begin(), uses.end(),
                                              [](const auto& u) { return u.second > 2; });
            const auto open = std::count_if(uses.begin(), uses.end(),
                                            [](const auto& u) { return u.second == 1; });
            EXPECT_GT(shared, 0);
            // The fin has one such edge, and says so in the singular.
            const QString edges = shared == 1 ? QStringLiteral("1 Kante, an der")
                                              : QStringLiteral("%1 Kanten, an denen").arg(shared);
            QString expected = QStringLiteral("„%1“ hat %2 mehr als zwei Dreiecke liegen (nicht "
                                              "mannigfaltig); manche Slicer lehnen das Objekt ab "
                                              "oder reparieren es")
                                   .arg(QString::fromUtf8(c.name), edges);
            // A mesh body has its holes named too: the fin's other edges.
            if (open > 0)
                expected += QStringLiteral("; „%1“ hat %2 offene Kanten, an denen nur ein Dreieck "
                                           "liegt (Loch im Netz); manche Slicer lehnen das Objekt "
                                           "ab oder reparieren es")
                                .arg(QString::fromUtf8(c.name))
                                .arg(open);
            EXPECT_EQ(note, expected);
        }
    }
}

// A face whose every triangle collapses (its corners one point on the writers'
// grid) has no area: it is left out, and the body's other faces are written by
// every writer.
TEST(MeshWriters, FaceWhoseTrianglesAllCollapseIsLeftOut)
{
    // A closed tetrahedron as one face of triangles, and beside it a face of two
    // slivers whose corners lie closer than the grid.
    Handle(Poly_Triangulation) solid = new Poly_Triangulation(4, 4, false);
    const gp_Pnt corners[] = {{0, 0, 0}, {6, 0, 0}, {0, 6, 0}, {0, 0, 6}};
    for (int i = 0; i < 4; ++i)
        solid->SetNode(i + 1, corners[i]);
    solid->SetTriangle(1, Poly_Triangle(1, 3, 2));
    solid->SetTriangle(2, Poly_Triangle(1, 2, 4));
    solid->SetTriangle(3, Poly_Triangle(1, 4, 3));
    solid->SetTriangle(4, Poly_Triangle(2, 3, 4));
    Handle(Poly_Triangulation) slivers = new Poly_Triangulation(4, 2, false);
    const gp_Pnt close[] = {{20, 0, 0}, {20.000001, 0, 0}, {20, 5, 0}, {20, 5.000001, 0}};
    for (int i = 0; i < 4; ++i)
        slivers->SetNode(i + 1, close[i]);
    slivers->SetTriangle(1, Poly_Triangle(1, 2, 3));
    slivers->SetTriangle(2, Poly_Triangle(3, 4, 1));
    TopoDS_Compound body;
    BRep_Builder builder;
    builder.MakeCompound(body);
    for (const Handle(Poly_Triangulation)& mesh : {solid, slivers}) {
        TopoDS_Face face;
        builder.MakeFace(face, mesh);
        builder.Add(body, face);
    }
    QTemporaryDir dir;
    for (const char* suffix : meshSuffixes) {
        SCOPED_TRACE(suffix);
        const QString path = dir.filePath(QStringLiteral("teil.") + suffix);
        QString error;
        ASSERT_TRUE(exportFile(path, {{QStringLiteral("Teil"), body}}, ExportOptions(), &error))
            << error.toStdString();
        const Soup soup = soupOf(path);
        EXPECT_EQ(soup.triangles.size(), 4u);
        EXPECT_NEAR(soupVolume(soup), 36.0, 1e-3);
    }
}

// A face the mesher leaves empty as it is (its edge lacks the curve on it) is meshed
// after healing: the cylinder comes out closed, with its volume, and without a note.
TEST(MeshWriters, RetryFacesTheMesherLeftEmpty)
{
    QTemporaryDir dir;
    const double volume = std::numbers::pi * 25.0 * 10.0;
    for (const char* suffix : meshSuffixes) {
        SCOPED_TRACE(suffix);
        const TopoDS_Shape damaged = qor::fixtures::cylinderMissingCurveOnSide(5, 10);
        const QString path = dir.filePath(QStringLiteral("walze.") + suffix);
        QString note = QStringLiteral("alt");
        ASSERT_TRUE(exportFile(path, {{QStringLiteral("Walze"), damaged}}, ExportOptions(), nullptr,
                               &note));
        EXPECT_EQ(note, QString());
        const Soup soup = soupOf(path);
        EXPECT_EQ(edgesUsedOtherThanTwice(soup), 0);
        EXPECT_NEAR(soupVolume(soup), volume, 0.005 * volume);
    }
}

// A face the mesher leaves empty, and healing collapses, is meshed another way:
// the solid comes out closed, with its volume, and without a note.
TEST(MeshWriters, FaceTheMesherAndHealingCannotCoverIsMeshedOtherwise)
{
    const double radius = 0.35;
    const double round = 0.18;
    const double length = 6.0;
    const double pi = std::numbers::pi;
    const double core = radius - round;
    const double volume = pi * radius * radius * length + pi * core * core * round
                          + 2 * pi * (core + 4 * round / (3 * pi)) * pi * round * round / 4;
    QTemporaryDir dir;
    for (const char* suffix : meshSuffixes) {
        SCOPED_TRACE(suffix);
        const QString path = dir.filePath(QStringLiteral("stift.") + suffix);
        QString note = QStringLiteral("alt");
        ASSERT_TRUE(
            exportFile(path,
                       {{QStringLiteral("Stift"),
                         qor::fixtures::roundedPinWithShiftedCurves(radius, round, length)}},
                       ExportOptions(), nullptr, &note));
        EXPECT_EQ(note, QString());
        const Soup soup = soupOf(path);
        EXPECT_EQ(openEdges(soup), 0);
        EXPECT_NEAR(soupVolume(soup), volume, 0.01 * volume);
    }
}

// KiCad's winding models (several solids in one body, each with a curved face the
// mesher leaves empty and healing collapses) and a connector with two cones the
// mesher leaves empty: every format holds every face, and the solids stay closed.
TEST(MeshWriters, KiCadWindingsAndConnectorComeOutClosed)
{
    const char* const models[] = {
        "Transformer_THT.3dshapes/Transformer_Breve_TEZ-22x24.step",
        "Transformer_THT.3dshapes/Transformer_Breve_TEZ-28x33.step",
        "Transformer_THT.3dshapes/Transformer_Breve_TEZ-35x42.step",
        "Transformer_THT.3dshapes/Transformer_Breve_TEZ-38x45.step",
        "Transformer_THT.3dshapes/Transformer_Breve_TEZ-44x52.step",
        "Transformer_THT.3dshapes/Transformer_Breve_TEZ-47x57.step",
        "Transformer_THT.3dshapes/Transformer_NF_ETAL_1-1_P1200.step",
        "Transformer_THT.3dshapes/Transformer_NF_ETAL_P1165.step",
        "Connector_AMASS.3dshapes/AMASS_XT60-F_1x02_P7.2mm_Vertical.step",
    };
    const QDir folder(qor::test::kicadModelsFolder());
    if (!folder.exists(QString::fromLatin1(models[0])))
        GTEST_SKIP() << "KiCad's 3D models are not unpacked";
    QTemporaryDir dir;
    for (const char* model : models) {
        const qor::io::ImportResult imported
            = qor::io::importFile(folder.filePath(QString::fromLatin1(model)), {});
        ASSERT_TRUE(imported.ok) << model;
        const std::vector<ExportBody> bodies = exportBodiesOf(imported);
        for (const char* suffix : meshSuffixes) {
            SCOPED_TRACE(std::string(model) + " as " + suffix);
            const QString path = dir.filePath(QStringLiteral("modell.") + suffix);
            QString note;
            ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), nullptr, &note));
            EXPECT_FALSE(note.contains(QStringLiteral("Flächen ließen sich nicht vernetzen")))
                << note.toStdString();
            EXPECT_EQ(openEdges(soupOf(path)), 0);
        }
    }
}

// Faces the mesher meshed apart from their neighbours leave a slit along a
// shared edge (a node the neighbour lacks), a corner that misses the
// neighbours' by a fraction of a micrometre, or a small notch: every format
// holds the box closed by position, read on the writers' grid and leniently,
// with its volume facing out and without a note.
TEST(MeshWriters, SeamsBetweenFacesMeshedApartAreClosed)
{
    using qor::fixtures::SeamFault;
    const struct {
        const char* what;
        SeamFault fault;
        double size;
        double offset;
        double deflection;
    } cases[] = {
        {"node on the edge, out of the face", SeamFault::ExtraBorderNode, 10.0, 0.005, 0.02},
        {"node on the edge, on it", SeamFault::ExtraBorderNode, 10.0, 0.0, 0.02},
        {"corner shifted", SeamFault::ShiftedCorner, 10.0, 0.0008, 0.02},
        {"notch", SeamFault::NotchedBorder, 2.0, 1.2, 1.0},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        for (const char* suffix : meshSuffixes) {
            SCOPED_TRACE(std::string(c.what) + " as " + suffix);
            ExportOptions options;
            options.linearDeflection = c.deflection;
            const TopoDS_Shape box = qor::fixtures::boxWithSeamFault(c.size, c.fault, c.offset);
            const QString path = dir.filePath(QStringLiteral("kasten.") + suffix);
            QString note = QStringLiteral("alt");
            ASSERT_TRUE(
                exportFile(path, {{QStringLiteral("Kasten"), box}}, options, nullptr, &note));
            const Soup soup = soupOf(path);
            EXPECT_EQ(openEdges(soup, 1e-5), 0);
            EXPECT_EQ(openEdges(soup), 0);
            EXPECT_EQ(edgesUsedOtherThanTwice(soup), 0);
            EXPECT_EQ(zeroAreaTriangles(soup), 0);
            const double volume = c.size * c.size * c.size;
            EXPECT_NEAR(signedVolume(soup), volume, 0.01 * volume);
            EXPECT_EQ(note, QString());
        }
    }
}

// A closed body whose mesh keeps holes that cannot be closed is named with the
// count of open edges its file holds; an open surface, whose rim is open in the
// model too, is not.
TEST(MeshWriters, OpenEdgesOfClosedBodiesAreNamedWithTheirCount)
{
    using qor::fixtures::SeamFault;
    TopoDS_Shell open;
    BRep_Builder builder;
    builder.MakeShell(open);
    TopExp_Explorer faces(qor::test::box(4, 4, 4, gp_Pnt(0, 20, 0)), TopAbs_FACE);
    for (int i = 0; i < 5; faces.Next(), ++i)
        builder.Add(open, faces.Current());
    QTemporaryDir dir;
    for (const char* suffix : meshSuffixes) {
        SCOPED_TRACE(suffix);
        // The notch lies too far from the edge for the mesh's deflection.
        const std::vector<ExportBody> bodies = {
            {QStringLiteral("Kasten"),
             qor::fixtures::boxWithSeamFault(10.0, SeamFault::NotchedBorder, 3.0)},
            {QStringLiteral("Schale"), open},
        };
        const QString path = dir.filePath(QStringLiteral("teile.") + suffix);
        QString note;
        ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), nullptr, &note));
        const Soup soup = soupOf(path);
        Soup kasten;
        kasten.nodes = soup.nodes;
        for (std::size_t t = 0; t < soup.triangles.size(); ++t) {
            // The box comes first in every format; its triangles end where the shell's begin.
            const gp_Pnt& corner = soup.nodes[std::size_t(soup.triangles[t][0])];
            if (corner.Y() < 15.0)
                kasten.triangles.push_back(soup.triangles[t]);
        }
        const int holes = openEdges(kasten, 1e-5);
        EXPECT_GT(holes, 0);
        EXPECT_GT(openEdges(soup, 1e-5), holes);
        EXPECT_EQ(note, QStringLiteral("„Kasten“ hat %1 offene Kanten, an denen nur ein Dreieck "
                                       "liegt (Loch im Netz); manche Slicer lehnen das Objekt ab "
                                       "oder reparieren es")
                            .arg(holes));
    }
}

// A body placed with a mirror, on its own or inside a mirrored group, is written
// facing out by every writer: the volume read back from the file is positive.
TEST(MeshWriters, MirroredPlacementsFaceOutwards)
{
    gp_Trsf mirror;
    mirror.SetMirror(gp_Ax2(gp_Pnt(50, 0, 0), gp::DX()));
    const TopLoc_Location mirrored(mirror);
    TopoDS_Compound group;
    BRep_Builder builder;
    builder.MakeCompound(group);
    builder.Add(group, BRepPrimAPI_MakeCone(gp_Ax2(gp_Pnt(0, 40, 0), gp::DZ()), 6, 2, 10).Shape());
    const double cone = std::numbers::pi * 10.0 / 3.0 * (36.0 + 12.0 + 4.0);
    const struct {
        const char* what;
        TopoDS_Shape shape;
        double volume;
    } cases[] = {
        {"box", qor::test::box(10, 20, 30).Located(mirrored, false), 6000.0},
        {"group", group.Located(mirrored, false), cone},
        {"box without mirror", qor::test::box(10, 20, 30), 6000.0},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        for (const char* suffix : meshSuffixes) {
            SCOPED_TRACE(std::string(c.what) + " as " + suffix);
            const QString path = dir.filePath(QStringLiteral("spiegel.") + suffix);
            QString error;
            ASSERT_TRUE(
                exportFile(path, {{QStringLiteral("Teil"), c.shape}}, ExportOptions(), &error))
                << error.toStdString();
            const Soup soup = soupOf(path);
            EXPECT_EQ(openEdges(soup), 0);
            EXPECT_NEAR(signedVolume(soup), c.volume, 0.01 * c.volume);
        }
    }
}

// A 3MF of a body without a name calls its object and material "Körper N", as
// the other formats name it.
TEST(MeshWriters, UnnamedBodyIsNamedIn3mf)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("teile.3mf"));
    ASSERT_TRUE(exportFile(path,
                           {{QStringLiteral("Deckel"), qor::test::box(2, 2, 2)},
                            {QString(), qor::test::box(2, 2, 2, gp_Pnt(5, 0, 0))}},
                           ExportOptions()));
    qor::ZipReader zip;
    ASSERT_TRUE(zip.open(qor::test::readFile(path)));
    const QString model = QString::fromUtf8(zip.read(QStringLiteral("3D/3dmodel.model"), 1 << 24));
    EXPECT_TRUE(model.contains(QStringLiteral("<base name=\"Körper 2\" ")));
    EXPECT_TRUE(
        model.contains(QStringLiteral("type=\"model\" name=\"Körper 2\" pid=\"1\" pindex=\"1\"")));
    EXPECT_TRUE(
        model.contains(QStringLiteral("type=\"model\" name=\"Deckel\" pid=\"1\" pindex=\"0\"")));
    EXPECT_FALSE(model.contains(QStringLiteral("name=\"\"")));
}

// KiCad's inductors whose faces the mesher met apart (a slit where a face was
// meshed in another pass, small holes where the toroids' faces do not quite
// meet): every format holds as many open edges as the note names, and the
// Murata choke none. One case per model and format.
namespace {

struct KiCadInductor {
    const char* name;
    const char* model;
    bool closes;
};

class KiCadInductors : public testing::TestWithParam<std::tuple<KiCadInductor, const char*>> { };

} // namespace

TEST_P(KiCadInductors, HoldTheOpenEdgesTheNoteNames)
{
    const auto& [m, suffix] = GetParam();
    const QDir folder(qor::test::kicadModelsFolder());
    if (!folder.exists(QString::fromLatin1(m.model)))
        GTEST_SKIP() << "KiCad's 3D models are not unpacked";
    static const QRegularExpression named(QStringLiteral("hat (\\d+) offene Kanten?,"));
    const qor::io::ImportResult imported
        = qor::io::importFile(folder.filePath(QString::fromLatin1(m.model)), {});
    ASSERT_TRUE(imported.ok);
    const std::vector<ExportBody> bodies = exportBodiesOf(imported);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("modell.") + suffix);
    QString note;
    ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), nullptr, &note));
    int noted = 0;
    for (auto it = named.globalMatch(note); it.hasNext();)
        noted += it.next().captured(1).toInt();
    const int open = openEdges(soupOf(path), 0.0);
    EXPECT_EQ(open, noted) << note.toStdString();
    if (m.closes)
        EXPECT_EQ(open, 0);
}

INSTANTIATE_TEST_SUITE_P(
    MeshWriters, KiCadInductors,
    testing::Combine(
        testing::Values(
            KiCadInductor{"MurataRadial",
                          "Inductor_THT.3dshapes/L_Radial_D24.4mm_P22.90mm_muRATA_1400series.step",
                          true},
            KiCadInductor{"BournsToroid",
                          "Inductor_THT.3dshapes/"
                          "L_CommonMode_Toroid_Vertical_L19.3mm_W10.8mm_Px6.35mm_Py15.24mm_Bourns_"
                          "8100.step",
                          false}),
        testing::ValuesIn(meshSuffixes)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "As" + std::get<1>(info.param);
    });

// One face's nodes a few millionths of a millimetre from its neighbours' on the
// shared edges, within one cell of the writers' grid or on both sides of a cell
// border: every format writes each such pair as one corner, so that a reader
// that joins only equal corners finds the box closed, as the note says.
TEST(MeshWriters, HairlineSeamsAreWrittenAsOneCorner)
{
    const struct {
        const char* what;
        gp_Pnt corner;
        gp_Vec shift;
        bool meshOnly; // the triangles alone, as a mesh file gives them
    } cases[] = {
        {"within one cell", gp_Pnt(0, 0, 0), gp_Vec(3e-6, 2e-6, -2e-6), false},
        {"across cell borders", gp_Pnt(5.2e-6, 5.2e-6, 5.2e-6), gp_Vec(-4e-6, -4e-6, -4e-6), false},
        {"across cell borders, mesh body", gp_Pnt(5.2e-6, 5.2e-6, 5.2e-6),
         gp_Vec(-4e-6, -4e-6, -4e-6), true},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        for (const char* suffix : meshSuffixes) {
            SCOPED_TRACE(std::string(c.what) + " as " + suffix);
            TopoDS_Shape box = qor::fixtures::boxWithHairlineSeam(c.corner, 10.0, c.shift);
            if (c.meshOnly)
                box = trianglesOnly(box);
            const QString path = dir.filePath(QStringLiteral("kasten.") + suffix);
            QString note = QStringLiteral("alt");
            ASSERT_TRUE(exportFile(path, {{QStringLiteral("Kasten"), box}}, ExportOptions(),
                                   nullptr, &note));
            EXPECT_EQ(note.toStdString(), "");
            const Soup soup = soupOf(path);
            EXPECT_EQ(soup.triangles.size(), 12u);
            EXPECT_EQ(openEdges(soup, 0.0), 0);
            EXPECT_EQ(edgesUsedOtherThanTwice(soup), 0);
            EXPECT_NEAR(signedVolume(soup), 1000.0, 0.01);
        }
    }
}

// KiCad's models whose faces' meshes meet a few millionths of a millimetre
// apart: every format is closed for a reader that joins only equal corners, as
// the note says, and the barrel jack's faces of less than a millionth of a
// square millimetre, which no one would miss, are not named as left out. One
// case per model and format.
namespace {

struct KiCadModel {
    const char* name;
    const char* path;
};

class KiCadHairlineSeams : public testing::TestWithParam<std::tuple<KiCadModel, const char*>> { };

} // namespace

TEST_P(KiCadHairlineSeams, AreClosedAtExactCoordinates)
{
    const auto& [model, suffix] = GetParam();
    const QDir folder(qor::test::kicadModelsFolder());
    if (!folder.exists(QString::fromLatin1(model.path)))
        GTEST_SKIP() << "KiCad's 3D models are not unpacked";
    const qor::io::ImportResult imported
        = qor::io::importFile(folder.filePath(QString::fromLatin1(model.path)), {});
    ASSERT_TRUE(imported.ok);
    const std::vector<ExportBody> bodies = exportBodiesOf(imported);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("modell.") + suffix);
    QString note;
    ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), nullptr, &note));
    // The toroid's windings touch its core: the edges there are named as shared
    // by more than two triangles, as they are.
    EXPECT_FALSE(note.contains(QStringLiteral("offene Kante"))) << note.toStdString();
    EXPECT_FALSE(note.contains(QStringLiteral("vernetzen"))) << note.toStdString();
    EXPECT_EQ(openEdges(soupOf(path), 0.0), 0);
}

INSTANTIATE_TEST_SUITE_P(
    MeshWriters, KiCadHairlineSeams,
    testing::Combine(
        testing::Values(
            KiCadModel{"DirectFet", "Package_DirectFET.3dshapes/DirectFET_MZ.step"},
            KiCadModel{"RadialCapacitor", "Capacitor_THT.3dshapes/CP_Radial_D10.0mm_P3.80mm.step"},
            KiCadModel{"BarrelJack",
                       "Connector_BarrelJack.3dshapes/BarrelJack_CUI_PJ-063BH_Horizontal.step"},
            KiCadModel{"BournsToroid",
                       "Inductor_THT.3dshapes/"
                       "L_CommonMode_Toroid_Vertical_L39.4mm_W20.3mm_Px15.24mm_Py22.86mm_Bourns_"
                       "8100.step"}),
        testing::ValuesIn(meshSuffixes)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "As" + std::get<1>(info.param);
    });

// A face the mesher cannot cover is named only when a user would miss it: a
// sliver of 3·10⁻⁶ mm², narrower than the writers' grid, is left out without a
// word and the prism stays closed; a plane without bounds beside it is named.
TEST(MeshWriters, OnlyFacesAUserWouldMissAreNamedAsLeftOut)
{
    BRepBuilderAPI_MakePolygon outline;
    for (const gp_Pnt& p : {gp_Pnt(0, 0, 0), gp_Pnt(10, 0, 0), gp_Pnt(10, 10, 0),
                            gp_Pnt(3e-6, 10, 0), gp_Pnt(0, 10, 0)})
        outline.Add(p);
    outline.Close();
    const TopoDS_Shape prism
        = BRepPrimAPI_MakePrism(BRepBuilderAPI_MakeFace(outline.Wire()).Face(), gp_Vec(0, 0, 1))
              .Shape();
    const TopoDS_Shape plane = BRepBuilderAPI_MakeFace(gp_Pln(gp_Pnt(0, 0, 50), gp::DZ())).Face();
    const struct {
        const char* what;
        TopoDS_Shape shape;
        const char* note;
    } cases[] = {
        {"sliver", prism, ""},
        {"sliver and unbounded plane", qor::compoundOf({prism, plane}),
         "1 Fläche ließ sich nicht vernetzen und fehlt in der Datei"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        for (const char* suffix : meshSuffixes) {
            SCOPED_TRACE(std::string(c.what) + " as " + suffix);
            const QString path = dir.filePath(QStringLiteral("prisma.") + suffix);
            QString note = QStringLiteral("alt");
            ASSERT_TRUE(exportFile(path, {{QStringLiteral("Prisma"), c.shape}}, ExportOptions(),
                                   nullptr, &note));
            EXPECT_EQ(note.toStdString(), c.note);
            const Soup soup = soupOf(path);
            EXPECT_EQ(openEdges(soup, 0.0), 0);
            EXPECT_NEAR(signedVolume(soup), 100.0, 1e-3);
        }
    }
}

// The note names the bound that coarsened the mesh: one face of a large sphere meshed
// finely hits the cap per face long before the file's budget, a small budget the budget.
TEST(MeshWriters, CoarseningNoteNamesTheBoundThatActed)
{
    QTemporaryDir dir;
    const struct {
        long long budget;
        const char* reason;
    } cases[] = {
        {4'000'000, "damit keine Fläche mehr als 100.000 Dreiecke erhält"},
        {20'000, "damit die Datei nicht mehr als etwa 20.000 Dreiecke enthält"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.budget);
        // A fresh sphere: a finer mesh left on the shape would be kept.
        const ExportBody ball{QStringLiteral("Kugel"), BRepPrimAPI_MakeSphere(200).Shape()};
        ExportOptions fine;
        fine.linearDeflection = 0.0005;
        fine.triangleBudget = c.budget;
        QString note;
        ASSERT_TRUE(
            exportFile(dir.filePath(QStringLiteral("kugel.3mf")), {ball}, fine, nullptr, &note));
        EXPECT_TRUE(note.startsWith(QStringLiteral("Vernetzung auf "))) << note.toStdString();
        EXPECT_TRUE(note.endsWith(QString::fromUtf8(c.reason))) << note.toStdString();
        const Soup soup = soupOf(dir.filePath(QStringLiteral("kugel.3mf")));
        EXPECT_LE(qint64(soup.triangles.size()), std::min(c.budget, 100'000LL));
    }
}

// A text STL with several sections is read whole however small it is, each section
// in full; the kernel's own reader keeps only the first of a small file.
TEST(MeshReading, EverySectionOfATextStl)
{
    using qor::fixtures::moved;
    using qor::fixtures::tetrahedron;
    QTemporaryDir dir;
    std::vector<qor::fixtures::Triangle> many;
    for (int i = 0; i < 40; ++i) {
        const auto t = moved(tetrahedron(1), float(3 * i), 0, 0);
        many.insert(many.end(), t.begin(), t.end());
    }
    const struct {
        const char* what;
        std::vector<std::vector<qor::fixtures::Triangle>> sections;
        int triangles;
        double volume;
        bool lastEnded = true;
    } cases[] = {
        {"one section", {tetrahedron(6)}, 4, 36.0},
        {"two small sections", {tetrahedron(6), moved(tetrahedron(6), 20, 0, 0)}, 8, 72.0},
        {"an empty section between",
         {tetrahedron(6), {}, moved(tetrahedron(3), 0, 20, 0)},
         8,
         40.5},
        {"sections across the reader's buffer",
         {many, moved(many, 0, 10, 0), moved(many, 0, 20, 0)},
         480,
         20.0},
        // A file cut short after its last triangle keeps every triangle.
        {"last section without endsolid",
         {tetrahedron(6), moved(tetrahedron(6), 20, 0, 0)},
         8,
         72.0,
         false},
        {"last of many sections without endsolid",
         {many, moved(many, 0, 10, 0), moved(tetrahedron(6), 0, 30, 0)},
         324,
         2 * 40 / 6.0 + 36.0,
         false},
        {"only section without endsolid", {tetrahedron(6)}, 4, 36.0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(QStringLiteral("teile.stl"));
        ASSERT_TRUE(qor::test::writeFile(path, qor::fixtures::asciiStl(c.sections, c.lastEnded)));
        const qor::io::ImportResult imported = qor::io::importFile(path, {});
        ASSERT_TRUE(imported.ok) << imported.error.toStdString();
        ASSERT_EQ(imported.bodies.size(), 1u);
        TopLoc_Location location;
        const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(
            TopoDS::Face(TopExp_Explorer(imported.bodies[0].shape, TopAbs_FACE).Current()),
            location);
        EXPECT_EQ(mesh->NbTriangles(), c.triangles);
        EXPECT_NEAR(qor::io::closedVolume(imported.bodies[0].shape), c.volume, 1e-3);
    }
    const QString real
        = QStringLiteral("/usr/share/assimp/models/STL/triangle_with_two_solids.stl");
    if (!QFile::exists(real))
        GTEST_SKIP() << "assimp test models not installed";
    const qor::io::ImportResult imported = qor::io::importFile(real, {});
    ASSERT_TRUE(imported.ok);
    TopLoc_Location location;
    EXPECT_EQ(BRep_Tool::Triangulation(
                  TopoDS::Face(TopExp_Explorer(imported.bodies[0].shape, TopAbs_FACE).Current()),
                  location)
                  ->NbTriangles(),
              2);
}

// A mesh body has the volume its triangles enclose when they close, wherever it lies;
// an open one has none.
TEST(MeshReading, ClosedMeshesHaveAVolume)
{
    using qor::fixtures::moved;
    using qor::fixtures::tetrahedron;
    QTemporaryDir dir;
    auto open = tetrahedron(6);
    open.pop_back();
    auto inverted = tetrahedron(6);
    for (auto& t : inverted)
        std::swap(t[1], t[2]);
    const struct {
        const char* what;
        std::vector<qor::fixtures::Triangle> triangles;
        double volume;
    } cases[] = {
        {"closed", tetrahedron(6), 36.0},
        {"far from the origin", moved(tetrahedron(6), 1000, -2000, 500), 36.0},
        {"facing inwards", inverted, 36.0},
        {"open", open, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(QStringLiteral("netz.stl"));
        ASSERT_TRUE(qor::test::writeFile(
            path, qor::fixtures::binaryStl(c.triangles, std::uint32_t(c.triangles.size()))));
        const qor::io::ImportResult imported = qor::io::importFile(path, {});
        ASSERT_TRUE(imported.ok) << imported.error.toStdString();
        EXPECT_NEAR(qor::io::closedVolume(imported.bodies[0].shape), c.volume, 1e-3);
    }
}

// A real glTF file of a closed box in metres: its volume in cubic millimetres.
TEST(MeshReading, SampleBoxHasItsVolume)
{
    const QString box
        = QStringLiteral("/usr/share/assimp/models/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb");
    if (!QFile::exists(box))
        GTEST_SKIP() << "assimp test models not installed";
    const qor::io::ImportResult imported = qor::io::importFile(box, {});
    ASSERT_TRUE(imported.ok) << imported.error.toStdString();
    ASSERT_EQ(imported.bodies.size(), 1u);
    EXPECT_NEAR(qor::io::closedVolume(imported.bodies[0].shape), 1e9, 1.0);
}

// On a full disk the BREP writer fails and says why instead of throwing from the
// kernel's stream; elsewhere it writes what reads back.
TEST(BrepFile, FullDiskIsNamedAndSoundFilesReadBack)
{
    EXPECT_FALSE(qor::io::writeBrepFile(qor::test::box(10, 20, 30), QStringLiteral("/dev/full")));
    EXPECT_EQ(errno, ENOSPC);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("quader.brep"));
    ASSERT_TRUE(qor::io::writeBrepFile(qor::test::box(10, 20, 30), path));
    TopoDS_Shape back;
    ASSERT_TRUE(BRepTools::Read(back, QFile::encodeName(path).constData(), BRep_Builder()));
    EXPECT_NEAR(qor::io::closedVolume(back), 6000.0, 1e-6);
    EXPECT_FALSE(qor::io::writeBrepFile(back, dir.filePath(QStringLiteral("fehlt/quader.brep"))));

    const struct {
        int error;
        const char* text;
    } cases[] = {
        {ENOSPC, "BREP-Datei konnte nicht geschrieben werden (Datenträger voll)"},
        {EDQUOT, "BREP-Datei konnte nicht geschrieben werden (Datenträger voll)"},
        {EFBIG, "BREP-Datei konnte nicht geschrieben werden"},
        {0, "BREP-Datei konnte nicht geschrieben werden"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qor::io::writeFailureText(
                      QStringLiteral("BREP-Datei konnte nicht geschrieben werden"), c.error),
                  QString::fromUtf8(c.text));
}
