// The rules every mesh writer follows, checked on the files read back by
// parsers of the test's own (binary STL, OBJ, PLY, 3MF) and the kernel's glTF
// reader: no triangle without area, non-manifold edges named, no face left out
// that can be meshed, and the coarsening note naming the bound that acted.

#include "IoTestSupport.h"
#include "io/BrepFile.h"
#include "io/ClosedVolume.h"
#include "io/Export.h"
#include "io/Import.h"
#include "io/XcafBodies.h"
#include "io/Zip.h"

#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/DamagedFaces.h"
#include "tests/fixtures/StlFixtures.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <BRepPrimAPI_MakeCone.hxx>
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

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>

using qor::io::ExportBody;
using qor::io::exportFile;
using qor::io::ExportOptions;

namespace {

// A mesh as a file holds it, in millimetres.
struct Soup {
    std::vector<gp_Pnt> nodes;
    std::vector<std::array<int, 3>> triangles;
};

Soup binaryStlSoup(const QByteArray& bytes)
{
    Soup soup;
    for (qsizetype at = 84; at + 50 <= bytes.size(); at += 50) {
        std::array<int, 3> t{};
        for (int c = 0; c < 3; ++c) {
            float xyz[3];
            std::memcpy(xyz, bytes.constData() + at + 12 + 12 * c, 12);
            t[std::size_t(c)] = int(soup.nodes.size());
            soup.nodes.emplace_back(xyz[0], xyz[1], xyz[2]);
        }
        soup.triangles.push_back(t);
    }
    return soup;
}

// "v x y z" and "f a b c" with any "/…" after each index.
Soup objSoup(const QByteArray& text)
{
    Soup soup;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 4 && words[0] == "v")
            soup.nodes.emplace_back(words[1].toDouble(), words[2].toDouble(), words[3].toDouble());
        if (words.size() == 4 && words[0] == "f") {
            std::array<int, 3> t{};
            for (int c = 0; c < 3; ++c)
                t[std::size_t(c)] = words[c + 1].split('/').first().toInt() - 1;
            soup.triangles.push_back(t);
        }
    }
    return soup;
}

Soup plySoup(const QByteArray& text)
{
    Soup soup;
    const QList<QByteArray> lines = text.split('\n');
    int vertices = 0;
    int at = 0;
    for (; at < lines.size() && lines[at] != "end_header"; ++at) {
        if (lines[at].startsWith("element vertex "))
            vertices = lines[at].mid(15).toInt();
    }
    for (++at; at < lines.size(); ++at) {
        const QList<QByteArray> words = lines[at].split(' ');
        if (vertices > 0 && words.size() >= 3) {
            soup.nodes.emplace_back(words[0].toDouble(), words[1].toDouble(), words[2].toDouble());
            --vertices;
        } else if (words.size() >= 4 && words[0] == "3") {
            soup.triangles.push_back({words[1].toInt(), words[2].toInt(), words[3].toInt()});
        }
    }
    return soup;
}

// The model part of a 3MF package; objects follow each other, so indices are
// taken relative to the object's first vertex.
Soup threeMfSoup(const QByteArray& package)
{
    qor::ZipReader zip;
    EXPECT_TRUE(zip.open(package));
    const QString model = QString::fromUtf8(zip.read(QStringLiteral("3D/3dmodel.model"), 1 << 28));
    static const QRegularExpression item(
        QStringLiteral(R"re(<object |<vertex x="([^"]+)" y="([^"]+)" z="([^"]+)"|)re"
                       R"re(<triangle v1="(\d+)" v2="(\d+)" v3="(\d+)")re"));
    Soup soup;
    int first = 0;
    for (auto it = item.globalMatch(model); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(0) == u"<object ")
            first = int(soup.nodes.size());
        else if (!m.captured(1).isEmpty())
            soup.nodes.emplace_back(m.captured(1).toDouble(), m.captured(2).toDouble(),
                                    m.captured(3).toDouble());
        else
            soup.triangles.push_back({first + m.captured(4).toInt(), first + m.captured(5).toInt(),
                                      first + m.captured(6).toInt()});
    }
    return soup;
}

// The kernel's glTF reader, back in millimetres.
Soup glbSoup(const QString& path)
{
    Soup soup;
    Handle(TDocStd_Document) doc = qor::io::newXcafDocument();
    RWGltf_CafReader reader;
    reader.SetSystemLengthUnit(0.001);
    reader.SetDocument(doc);
    EXPECT_TRUE(reader.Perform(TCollection_AsciiString(path.toUtf8().constData()),
                               Message_ProgressRange()));
    for (TopExp_Explorer ex(reader.SingleShape(), TopAbs_FACE); ex.More(); ex.Next()) {
        TopLoc_Location location;
        const Handle(Poly_Triangulation) mesh
            = BRep_Tool::Triangulation(TopoDS::Face(ex.Current()), location);
        const int first = int(soup.nodes.size());
        for (int i = 1; i <= mesh->NbNodes(); ++i)
            soup.nodes.push_back(mesh->Node(i).Transformed(location.Transformation()));
        for (int t = 1; t <= mesh->NbTriangles(); ++t) {
            int a = 0, b = 0, c = 0;
            mesh->Triangle(t).Get(a, b, c);
            soup.triangles.push_back({first + a - 1, first + b - 1, first + c - 1});
        }
    }
    qor::io::closeXcafDocument(doc);
    return soup;
}

Soup soupOf(const QString& path)
{
    const QByteArray bytes = qor::test::readFile(path);
    if (path.endsWith(u".stl"))
        return binaryStlSoup(bytes);
    if (path.endsWith(u".obj"))
        return objSoup(bytes);
    if (path.endsWith(u".ply"))
        return plySoup(bytes);
    if (path.endsWith(u".3mf"))
        return threeMfSoup(bytes);
    return glbSoup(path);
}

// Triangles two of whose corners are one point (a micrometre apart at most).
int zeroAreaTriangles(const Soup& soup)
{
    int count = 0;
    for (const auto& t : soup.triangles) {
        const gp_Pnt& a = soup.nodes[std::size_t(t[0])];
        const gp_Pnt& b = soup.nodes[std::size_t(t[1])];
        const gp_Pnt& c = soup.nodes[std::size_t(t[2])];
        if (a.Distance(b) < 1e-3 || b.Distance(c) < 1e-3 || a.Distance(c) < 1e-3)
            ++count;
    }
    return count;
}

// How many triangles share each edge once the corners are merged at 0.001 mm.
std::map<std::pair<int, int>, int> edgeUses(const Soup& soup)
{
    std::map<std::array<long long, 3>, int> index;
    std::vector<int> merged;
    for (const gp_Pnt& p : soup.nodes) {
        const std::array<long long, 3> key{std::llround(p.X() * 1000), std::llround(p.Y() * 1000),
                                           std::llround(p.Z() * 1000)};
        merged.push_back(index.try_emplace(key, int(index.size())).first->second);
    }
    std::map<std::pair<int, int>, int> uses;
    for (const auto& t : soup.triangles) {
        for (int k = 0; k < 3; ++k) {
            const int a = merged[std::size_t(t[std::size_t(k)])];
            const int b = merged[std::size_t(t[std::size_t((k + 1) % 3)])];
            if (a != b)
                ++uses[std::minmax(a, b)];
        }
    }
    return uses;
}

int edgesUsedOtherThanTwice(const Soup& soup)
{
    int count = 0;
    for (const auto& [edge, n] : edgeUses(soup))
        count += n != 2 ? 1 : 0;
    return count;
}

// Edges only one triangle has, with the corners merged at 0.001 mm: holes in the surface.
int openEdges(const Soup& soup)
{
    const std::map<std::pair<int, int>, int> uses = edgeUses(soup);
    return int(
        std::count_if(uses.begin(), uses.end(), [](const auto& u) { return u.second == 1; }));
}

double soupVolume(const Soup& soup)
{
    double sixfold = 0.0;
    for (const auto& t : soup.triangles)
        sixfold += soup.nodes[std::size_t(t[0])].XYZ().Dot(
            soup.nodes[std::size_t(t[1])].XYZ().Crossed(soup.nodes[std::size_t(t[2])].XYZ()));
    return std::abs(sixfold) / 6.0;
}

const char* const meshSuffixes[] = {"stl", "obj", "glb", "ply", "3mf"};

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
            EXPECT_GT(shared, 0);
            EXPECT_EQ(note, QStringLiteral("„%1“ hat %2 Kanten, an denen mehr als zwei Dreiecke "
                                           "liegen (nicht mannigfaltig); manche Slicer lehnen das "
                                           "Objekt ab oder reparieren es")
                                .arg(QString::fromUtf8(c.name))
                                .arg(shared));
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
        std::vector<ExportBody> bodies;
        for (const qor::io::ImportedBody& body : imported.bodies)
            bodies.push_back({body.name, body.shape});
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
