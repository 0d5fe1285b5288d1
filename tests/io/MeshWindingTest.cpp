// Every mesh format writes each face facing out of its body, whatever location
// and orientation the reader of the body gave the face: read back by the tests'
// own parsers, every directed edge of the file has its partner the other way
// round, and the triangles enclose the body's volume, worked out from its
// measures, within the file's area times the deflection.

#include "IoTestSupport.h"
#include "io/Export.h"
#include "io/Import.h"

#include "tests/common/CpuBudget.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/MeshSoup.h"
#include "tests/fixtures/PerforatedFaces.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Poly_PolygonOnTriangulation.hxx>
#include <Poly_Triangulation.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <numbers>

using qor::io::ExportBody;
using qor::io::exportFile;
using qor::io::ExportOptions;

namespace {

using namespace qor::fixtures;

const char* const windingSuffixes[] = {"stl", "obj", "ply", "glb", "gltf", "3mf"};

constexpr double pi = std::numbers::pi;

// A box of 20 x 30 x 10 with a through hole of 8 across along its height, as
// kasten-bohrung.igs holds it.
TopoDS_Shape drilledBox()
{
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(20, 30, 10).Shape();
    const TopoDS_Shape drill
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(10, 15, -1), gp::DZ()), 4, 12).Shape();
    return BRepAlgoAPI_Cut(box, drill).Shape();
}
const double drilledBoxVolume = 6000.0 - pi * 16.0 * 10.0;

// A ball of radius 25 with a hollow of radius 15 about its centre.
TopoDS_Shape hollowBall()
{
    return BRepAlgoAPI_Cut(BRepPrimAPI_MakeSphere(25).Shape(), BRepPrimAPI_MakeSphere(15).Shape())
        .Shape();
}
const double hollowBallVolume = 4.0 / 3.0 * pi * (25.0 * 25.0 * 25.0 - 15.0 * 15.0 * 15.0);

// A ball of radius 20 drilled through its centre with radius 5: a ring of
// height h = 2 √(20² − 5²) holding π h³ / 6.
TopoDS_Shape drilledBall()
{
    const TopoDS_Shape drill
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, -30), gp::DZ()), 5, 60).Shape();
    return BRepAlgoAPI_Cut(BRepPrimAPI_MakeSphere(20).Shape(), drill).Shape();
}
const double drilledBallVolume = pi * std::pow(2.0 * std::sqrt(375.0), 3) / 6.0;

// How a body reaches the mesh export: as modelled, or written by the program to
// a file of the format and read back.
enum class Route { Model, Step, Brep, Iges };

const char* routeName(Route route)
{
    switch (route) {
    case Route::Model: return "model";
    case Route::Step: return "step";
    case Route::Brep: return "brep";
    default: return "igs";
    }
}

TopoDS_Shape compoundOfBodies(const qor::io::ImportResult& imported)
{
    TopoDS_Compound all;
    BRep_Builder builder;
    builder.MakeCompound(all);
    for (const qor::io::ImportedBody& body : imported.bodies)
        builder.Add(all, body.shape);
    return all;
}

TopoDS_Shape throughFile(const TopoDS_Shape& shape, Route route, const QTemporaryDir& dir)
{
    if (route == Route::Model)
        return shape;
    const QString path = dir.filePath(QStringLiteral("weg.") + routeName(route));
    QString error;
    EXPECT_TRUE(exportFile(path, {{QStringLiteral("Teil"), shape}}, ExportOptions(), &error))
        << error.toStdString();
    const qor::io::ImportResult imported = qor::io::importFile(path, {});
    EXPECT_TRUE(imported.ok) << imported.error.toStdString();
    return compoundOfBodies(imported);
}

// Exports the body in the format and reads the file back: every directed edge
// paired, the volume the body's within the deflection, and a note that names
// no fault of the mesh.
void expectFacingOut(const TopoDS_Shape& shape, double volume, const QString& path)
{
    const ExportOptions options;
    QString error;
    QString note;
    ASSERT_TRUE(exportFile(path, {{QStringLiteral("Teil"), shape}}, options, &error, &note))
        << error.toStdString();
    const Soup soup = soupOfFile(path);
    ASSERT_FALSE(soup.triangles.empty());
    EXPECT_EQ(unpairedDirectedEdges(soup), 0);
    EXPECT_NEAR(signedVolume(soup), volume, soupArea(soup) * options.linearDeflection);
    EXPECT_FALSE(note.contains(QStringLiteral("Kante"))) << note.toStdString();
    EXPECT_FALSE(note.contains(QStringLiteral("umschließt"))) << note.toStdString();
}

struct WindingCase {
    const char* what;
    std::function<TopoDS_Shape()> shape;
    double volume;
};

} // namespace

// Plates with holes, a hollow and a drilled ball, as modelled and sent through
// STEP, BREP and the program's own IGES (whose reader places many cylinder and
// sphere faces with a mirror their orientation makes up for), in every format.
TEST(MeshWinding, BodiesThroughEveryExchangeFormatFaceOutInEveryMeshFormat)
{
    qor::test::limitTestTo(300);
    const WindingCase cases[] = {
        {"plate of 16 holes", [] { return qor::test::holedPlate(16, 40, 40, 2.0, 4); },
         qor::test::holedPlateFaceArea(16, 40, 40, 2.0) * 4},
        {"plate of 400 holes", [] { return qor::test::holedPlate(400, 100, 100, 1.5, 3); },
         qor::test::holedPlateFaceArea(400, 100, 100, 1.5) * 3},
        {"hollow ball", hollowBall, hollowBallVolume},
        {"drilled ball", drilledBall, drilledBallVolume},
        {"drilled box", drilledBox, drilledBoxVolume},
    };
    QTemporaryDir dir;
    for (const WindingCase& c : cases) {
        for (const Route route : {Route::Model, Route::Step, Route::Brep, Route::Iges}) {
            const TopoDS_Shape body = throughFile(c.shape(), route, dir);
            for (const char* suffix : windingSuffixes) {
                SCOPED_TRACE(std::string(c.what) + " through " + routeName(route) + " as "
                             + suffix);
                expectFacingOut(body, c.volume, dir.filePath(QStringLiteral("netz.") + suffix));
            }
        }
    }
}

// A drilled box placed whole with a mirror, on its own and inside a group that
// is mirrored again, and the IGES box with a hole from another program.
TEST(MeshWinding, MirroredPlacementsAndForeignIgesFaceOut)
{
    gp_Trsf mirror;
    mirror.SetMirror(gp_Ax2(gp_Pnt(50, 0, 0), gp::DX()));
    gp_Trsf turn;
    turn.SetMirror(gp::Origin());
    TopoDS_Compound group;
    BRep_Builder builder;
    builder.MakeCompound(group);
    builder.Add(group, drilledBox().Located(TopLoc_Location(mirror), false));
    const QString foreign = QDir(qor::test::readerFilesFolder())
                                .filePath(QStringLiteral("../wave10/kasten-bohrung.igs"));
    std::vector<WindingCase> cases = {
        {"mirrored box", [&] { return drilledBox().Located(TopLoc_Location(mirror), false); },
         drilledBoxVolume},
        {"mirror in a turned group", [&] { return group.Located(TopLoc_Location(turn), false); },
         drilledBoxVolume},
    };
    if (QFileInfo::exists(foreign))
        cases.push_back({"kasten-bohrung.igs",
                         [&] { return compoundOfBodies(qor::io::importFile(foreign, {})); },
                         drilledBoxVolume});
    QTemporaryDir dir;
    for (const WindingCase& c : cases) {
        for (const char* suffix : windingSuffixes) {
            SCOPED_TRACE(std::string(c.what) + " as " + suffix);
            expectFacingOut(c.shape(), c.volume, dir.filePath(QStringLiteral("netz.") + suffix));
        }
    }
}

namespace {

// Triangles of the soup whose normal points towards the point rather than away.
int facingTowards(const Soup& soup, const gp_Pnt& point)
{
    int count = 0;
    for (const auto& t : soup.triangles) {
        const gp_XYZ a = soup.nodes[std::size_t(t[0])].XYZ();
        const gp_XYZ b = soup.nodes[std::size_t(t[1])].XYZ();
        const gp_XYZ c = soup.nodes[std::size_t(t[2])].XYZ();
        const gp_XYZ normal = (b - a).Crossed(c - a);
        if (normal.Dot((a + b + c) / 3.0 - point.XYZ()) < 0.0)
            ++count;
    }
    return count;
}

} // namespace

// A box without its top, as a shell on its own and as loose faces, placed as
// modelled and with a mirror: an open surface encloses nothing to measure, and
// its faces keep facing away from its middle, as a solid placed so would.
TEST(MeshWinding, OpenSurfacesPlacedWithAMirrorFaceAsPlaced)
{
    BRepPrimAPI_MakeBox box(20, 30, 10);
    TopoDS_Shell shell;
    TopoDS_Compound loose;
    BRep_Builder builder;
    builder.MakeShell(shell);
    builder.MakeCompound(loose);
    for (TopExp_Explorer face(box.Shape(), TopAbs_FACE); face.More(); face.Next()) {
        if (face.Current().IsSame(box.TopFace()))
            continue;
        builder.Add(shell, face.Current());
        builder.Add(loose, face.Current());
    }
    gp_Trsf mirror;
    mirror.SetMirror(gp_Ax2(gp_Pnt(50, 0, 0), gp::DX()));
    const gp_Pnt middle(10, 15, 5);
    const struct {
        const char* what;
        TopoDS_Shape shape;
        gp_Pnt middle;
    } cases[] = {
        {"shell", shell, middle},
        {"mirrored shell", shell.Located(TopLoc_Location(mirror), false),
         middle.Transformed(mirror)},
        {"loose faces", loose, middle},
        {"mirrored loose faces", loose.Located(TopLoc_Location(mirror), false),
         middle.Transformed(mirror)},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        for (const char* suffix : windingSuffixes) {
            SCOPED_TRACE(std::string(c.what) + " as " + suffix);
            const QString path = dir.filePath(QStringLiteral("schale.") + suffix);
            ASSERT_TRUE(exportFile(path, {{QStringLiteral("Schale"), c.shape}}, ExportOptions()));
            const Soup soup = soupOfFile(path);
            ASSERT_FALSE(soup.triangles.empty());
            EXPECT_EQ(facingTowards(soup, c.middle), 0);
        }
    }
}

// A box whose top face the model itself has turned inside out: every format
// writes it as the model holds it, and the note names the edges where it meets
// its neighbours the same way round, as many as the file holds.
TEST(MeshWinding, FaceTurnedInTheModelIsNamedLikeACrack)
{
    BRepPrimAPI_MakeBox box(10, 10, 10);
    const TopoDS_Face top = box.TopFace();
    TopoDS_Shell shell;
    BRep_Builder builder;
    builder.MakeShell(shell);
    for (TopExp_Explorer face(box.Shape(), TopAbs_FACE); face.More(); face.Next())
        builder.Add(shell, face.Current().IsSame(top) ? face.Current().Reversed() : face.Current());
    shell.Closed(true);
    TopoDS_Solid solid;
    builder.MakeSolid(solid);
    builder.Add(solid, shell);
    static const QRegularExpression named(
        QStringLiteral("„Kasten“ hat (\\d+) Kanten?, an (?:der|denen) zwei Dreiecke gleich herum "
                       "laufen \\(Fläche im Netz nach innen gekehrt\\)"));
    QTemporaryDir dir;
    for (const char* suffix : windingSuffixes) {
        SCOPED_TRACE(suffix);
        const QString path = dir.filePath(QStringLiteral("kasten.") + suffix);
        QString note;
        ASSERT_TRUE(
            exportFile(path, {{QStringLiteral("Kasten"), solid}}, ExportOptions(), nullptr, &note));
        const int unpaired = unpairedDirectedEdges(soupOfFile(path));
        EXPECT_GT(unpaired, 0);
        const QRegularExpressionMatch match = named.match(note);
        ASSERT_TRUE(match.hasMatch()) << note.toStdString();
        // Both triangles of such an edge run through it without a partner.
        EXPECT_EQ(2 * match.captured(1).toInt(), unpaired);
    }
}

// A box whose top face has one triangle meshed as a tent: its corners on the
// face, a middle node raised 6 mm above it. Every edge pairs, yet the mesh
// holds twice that triangle's area more than the box; the note says how much
// the file encloses, in every format.
TEST(MeshWinding, MeshThatEnclosesAnotherVolumeIsNamed)
{
    BRepPrimAPI_MakeBox box(10, 10, 10);
    const TopoDS_Shape solid = box.Shape();
    const ExportOptions options;
    QTemporaryDir dir;
    ASSERT_TRUE(exportFile(dir.filePath(QStringLiteral("vorher.stl")),
                           {{QStringLiteral("Kasten"), solid}}, options));
    TopLoc_Location location;
    const Handle(Poly_Triangulation) flat = BRep_Tool::Triangulation(box.TopFace(), location);
    ASSERT_FALSE(flat.IsNull());
    // The nodes keep their numbers, which the edges' polygons on the face name.
    Handle(Poly_Triangulation) tent
        = new Poly_Triangulation(flat->NbNodes() + 1, flat->NbTriangles() + 2, false);
    for (int i = 1; i <= flat->NbNodes(); ++i)
        tent->SetNode(i, flat->Node(i));
    int a = 0, b = 0, c = 0;
    flat->Triangle(1).Get(a, b, c);
    const int peak = flat->NbNodes() + 1;
    const gp_XYZ centre = (flat->Node(a).XYZ() + flat->Node(b).XYZ() + flat->Node(c).XYZ()) / 3.0;
    tent->SetNode(peak, gp_Pnt(centre + gp_XYZ(0, 0, 6)));
    tent->SetTriangle(1, Poly_Triangle(a, b, peak));
    tent->SetTriangle(2, Poly_Triangle(b, c, peak));
    tent->SetTriangle(3, Poly_Triangle(c, a, peak));
    for (int k = 2; k <= flat->NbTriangles(); ++k)
        tent->SetTriangle(k + 2, flat->Triangle(k));
    tent->Deflection(flat->Deflection());
    // The tent takes over what the export kept with the mesh it left, or the next
    // export would take the face for changed and mesh the body again.
    tent->Parameters(flat->Parameters());
    // The edges' polygons, which number the same nodes, move onto the tent with it.
    for (TopExp_Explorer edge(box.TopFace(), TopAbs_EDGE); edge.More(); edge.Next()) {
        const TopoDS_Edge& rim = TopoDS::Edge(edge.Current());
        const Handle(Poly_PolygonOnTriangulation) polygon
            = BRep_Tool::PolygonOnTriangulation(rim, flat, location);
        ASSERT_FALSE(polygon.IsNull());
        BRep_Builder().UpdateEdge(rim, polygon, tent, location);
    }
    BRep_Builder().UpdateFace(box.TopFace(), tent, false);
    const double raised = (flat->Node(b).XYZ() - flat->Node(a).XYZ())
                              .Crossed(flat->Node(c).XYZ() - flat->Node(a).XYZ())
                              .Modulus()
                          / 2.0 * 6.0 / 3.0;
    static const QRegularExpression named(
        QStringLiteral("„Kasten“ umschließt im Netz ([\\d.]+,\\d) mm³ statt 1\\.000,0 mm³ "
                       "\\(Flächen nach innen gekehrt oder von der Oberfläche abgerückt\\)"));
    for (const char* suffix : windingSuffixes) {
        SCOPED_TRACE(suffix);
        const QString path = dir.filePath(QStringLiteral("kasten.") + suffix);
        QString note;
        ASSERT_TRUE(exportFile(path, {{QStringLiteral("Kasten"), solid}}, options, nullptr, &note));
        const Soup soup = soupOfFile(path);
        EXPECT_EQ(unpairedDirectedEdges(soup), 0);
        // The tent reaches the file.
        EXPECT_NEAR(signedVolume(soup), 1000.0 + raised, 0.01);
        const QRegularExpressionMatch match = named.match(note);
        ASSERT_TRUE(match.hasMatch()) << note.toStdString();
        const double said = match.captured(1).remove(u'.').replace(u',', u'.').toDouble();
        EXPECT_NEAR(said, signedVolume(soup), 0.06);
    }
}

namespace {

// True when every face of the shape lies in a solid: a body whose mesh should close.
bool allInSolids(const TopoDS_Shape& shape)
{
    return TopExp_Explorer(shape, TopAbs_FACE).More()
           && !TopExp_Explorer(shape, TopAbs_FACE, TopAbs_SOLID).More();
}

// Mesh exports written, and those whose every directed edge is paired.
struct Tally {
    int exports = 0;
    int passed = 0;
};

// The bodies written to the program's own IGES and read back.
std::vector<ExportBody> throughOwnIges(const std::vector<ExportBody>& bodies,
                                       const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("weg.igs"));
    if (!exportFile(path, bodies, ExportOptions()))
        return {};
    std::vector<ExportBody> back;
    for (const qor::io::ImportedBody& body : qor::io::importFile(path, {}).bodies)
        back.push_back({body.name, body.shape});
    return back;
}

// Writes the bodies in every mesh format; a file whose directed edges do not
// all pair must be named by the note.
void tallyMeshExports(const std::vector<ExportBody>& bodies, const QTemporaryDir& dir, Tally& tally)
{
    for (const char* suffix : windingSuffixes) {
        SCOPED_TRACE(suffix);
        const QString path = dir.filePath(QStringLiteral("echt.") + suffix);
        QString note;
        if (!exportFile(path, bodies, ExportOptions(), nullptr, &note))
            continue;
        ++tally.exports;
        if (unpairedDirectedEdges(soupOfFile(path)) == 0)
            ++tally.passed;
        else
            EXPECT_TRUE(note.contains(QStringLiteral("Kante"))
                        || note.contains(QStringLiteral("umschließt")))
                << note.toStdString();
    }
}

} // namespace

// The real files and a sample of KiCad's models, as read and sent through the
// program's own IGES, in every mesh format: each file of solids whose directed
// edges do not all pair is named by the export's note. Prints how many exports
// pass, for the record.
TEST(MeshWinding, RealFilesAreWrittenFacingOutOrNamed)
{
    qor::test::limitTestTo(1800);
    const QDir readers(qor::test::readerFilesFolder());
    QStringList files;
    for (const char* folder : {".", "../wave8", "../wave9", "../wave10"}) {
        const QDir dir(readers.filePath(QString::fromLatin1(folder)));
        for (const QString& name : dir.entryList(
                 {"*.igs", "*.iges", "*.step", "*.stp", "*.x_t", "*.x_b", "*.xmt_txt", "*.sab"},
                 QDir::Files, QDir::Name))
            files << dir.filePath(name);
    }
    const QDir kicad(qor::test::kicadModelsFolder());
    QStringList models;
    for (const QString& library : kicad.entryList({"*.3dshapes"}, QDir::Dirs, QDir::Name)) {
        const QDir dir(kicad.filePath(library));
        for (const QString& name : dir.entryList({"*.step"}, QDir::Files, QDir::Name))
            models << dir.filePath(name);
    }
    // Every 200th model: some thirty of every kind of part.
    for (int i = 0; i < models.size(); i += 200)
        files << models[i];
    if (files.isEmpty())
        GTEST_SKIP() << "no real files beside the source tree";
    // Each file as read, and sent through the program's own IGES.
    std::map<Route, Tally> tallies;
    QTemporaryDir dir;
    for (const QString& file : files) {
        const qor::io::ImportResult imported = qor::io::importFile(file, {});
        if (!imported.ok || imported.meshBodies || imported.bodies.empty())
            continue;
        std::vector<ExportBody> bodies;
        for (const qor::io::ImportedBody& body : imported.bodies)
            bodies.push_back({body.name, body.shape});
        for (const Route route : {Route::Model, Route::Iges}) {
            SCOPED_TRACE(file.toStdString() + " through " + routeName(route));
            const std::vector<ExportBody> sent
                = route == Route::Model ? bodies : throughOwnIges(bodies, dir);
            if (!std::all_of(sent.begin(), sent.end(),
                             [](const ExportBody& body) { return allInSolids(body.shape); }))
                continue;
            tallyMeshExports(sent, dir, tallies[route]);
        }
    }
    for (const Route route : {Route::Model, Route::Iges})
        std::printf("[ numbers  ] %s: %d of %d mesh exports of real files of solids (%lld files "
                    "looked at) have every directed edge paired\n",
                    route == Route::Model ? "as read" : "through IGES", tallies[route].passed,
                    tallies[route].exports, static_cast<long long>(files.size()));
    int exports = 0;
    for (const auto& [route, tally] : tallies)
        exports += tally.exports;
    EXPECT_GT(exports, 0);
}
