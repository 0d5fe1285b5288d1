#include "io/Export.h"
#include "io/Import.h"
#include "io/Zip.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/Bytes.h"
#include "tests/fixtures/StagingThief.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_TVertex.hxx>
#include <Poly_Triangulation.hxx>
#include <RWStl.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Face.hxx>

#include <csignal>
#include <limits>
#include <map>
#include <numbers>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using qor::io::ExportBody;
using qor::io::exportFile;
using qor::io::ExportOptions;
using qor::io::importFile;
using namespace qor::test;

namespace {

constexpr double boxVolume = 10.0 * 20.0 * 30.0;
constexpr double lidVolume = 5.0 * 6.0 * 7.0;

// Two boxes apart from each other, with different names and colours.
std::vector<ExportBody> twoBoxes()
{
    return {{QStringLiteral("Gehäuse"), box(10, 20, 30), 0.8, 0.1, 0.1},
            {QStringLiteral("Deckel"), box(5, 6, 7, gp_Pnt(40, 0, 0)), 0.1, 0.3, 0.9}};
}

// Only the export's own files, no staging folder left behind.
QStringList entriesOf(const QTemporaryDir& dir)
{
    return QDir(dir.path())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Signed volume: positive only when every face or triangle faces outwards.
double signedVolumeOf(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props);
    return props.Mass();
}

double triangulationVolume(const Handle(Poly_Triangulation)& tri)
{
    double volume = 0.0;
    for (int t = 1; t <= tri->NbTriangles(); ++t) {
        int a = 0, b = 0, c = 0;
        tri->Triangle(t).Get(a, b, c);
        volume += tri->Node(a).XYZ().Dot(tri->Node(b).XYZ().Crossed(tri->Node(c).XYZ())) / 6.0;
    }
    return volume;
}

Handle(Poly_Triangulation) readStl(const QString& path)
{
    return RWStl::ReadFile(QFile::encodeName(path).constData(), Message_ProgressRange());
}

// Reads the file back through the kernel's reader for its format and checks
// name, colour and volume of every written body.
void expectBodiesReadBack(const QString& path, const std::vector<ExportBody>& written,
                          double colourTolerance)
{
    const qor::io::ImportResult result = importFile(path, {});
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    ASSERT_EQ(result.bodies.size(), written.size());
    for (const ExportBody& body : written) {
        SCOPED_TRACE(body.name.toStdString());
        const qor::io::ImportedBody* read = findBody(result, body.name);
        ASSERT_TRUE(read);
        const double expected = volumeOf(body.shape);
        EXPECT_NEAR(signedVolumeOf(read->shape), expected, 1e-6 * expected);
        EXPECT_TRUE(read->hasColor);
        EXPECT_NEAR(read->r, body.r, colourTolerance);
        EXPECT_NEAR(read->g, body.g, colourTolerance);
        EXPECT_NEAR(read->b, body.b, colourTolerance);
    }
}

} // namespace

TEST(Export, NamesColoursAndVolumesReadBack)
{
    const struct {
        const char* file;
        double colourTolerance;
        QStringList files; // what the export leaves in the folder
    } cases[] = {
        {"teil.step", 1e-3, {"teil.step"}},
        {"teil.igs", 2e-3, {"teil.igs"}},
        {"teil.glb", 2e-3, {"teil.glb"}},
        {"teil.gltf", 2e-3, {"teil.bin", "teil.gltf"}},
        {"teil.obj", 2e-3, {"teil.mtl", "teil.obj"}},
    };
    ExportOptions options;
    options.author = QStringLiteral("Jörg");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        QTemporaryDir dir;
        QString error;
        ASSERT_TRUE(exportFile(dir.filePath(c.file), twoBoxes(), options, &error))
            << error.toStdString();
        EXPECT_TRUE(error.isEmpty());
        EXPECT_EQ(entriesOf(dir), c.files);
        expectBodiesReadBack(dir.filePath(c.file), twoBoxes(), c.colourTolerance);
    }
    QTemporaryDir dir;
    ASSERT_TRUE(exportFile(dir.filePath("teil.gltf"), twoBoxes(), options));
    const QByteArray json = readFile(dir.filePath("teil.gltf"));
    EXPECT_TRUE(json.contains("\"teil.bin\""));
    EXPECT_TRUE(json.contains("Jörg"));
}

TEST(Export, StepSchemaFollowsTheOption)
{
    // The comparison is exact: lower case falls back to AP242. Only the last
    // suffix counts.
    const struct {
        const char* file;
        const char* schema;
        const char* written;
    } cases[] = {
        {"a.step", "AP242", "AP242_MANAGED_MODEL_BASED_3D_ENGINEERING"},
        {"b.stp", "AP203", "CONFIG_CONTROL_DESIGN"},
        {"c.STEP", "AP214", "AUTOMOTIVE_DESIGN"},
        {"teil.v2.Stp", "ap214", "AP242_MANAGED_MODEL_BASED_3D_ENGINEERING"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        ExportOptions options;
        options.stepSchema = QString::fromLatin1(c.schema);
        ASSERT_TRUE(exportFile(dir.filePath(c.file), twoBoxes(), options)) << c.file;
        const QByteArray text = readFile(dir.filePath(c.file));
        EXPECT_TRUE(text.contains(c.written)) << c.file;
        EXPECT_EQ(text.contains("AUTOMOTIVE_DESIGN"), QByteArray(c.schema) == "AP214") << c.file;
    }
}

TEST(Export, BrepHoldsBothSolidsAndTrianglesOnlyAfterAMeshExport)
{
    QTemporaryDir dir;
    const auto bodies = twoBoxes();
    const QString path = dir.filePath("teil.brep");
    ASSERT_TRUE(exportFile(path, bodies, ExportOptions()));
    TopoDS_Shape shape;
    BRep_Builder builder;
    ASSERT_TRUE(BRepTools::Read(shape, QFile::encodeName(path).constData(), builder));
    EXPECT_EQ(countOf(shape, TopAbs_SOLID), 2);
    EXPECT_NEAR(volumeOf(shape), boxVolume + lidVolume, 1e-6);
    EXPECT_FALSE(readFile(path).contains("Triangulations 1"));

    // The STL export meshes the shapes the bodies share.
    ASSERT_TRUE(exportFile(dir.filePath("netz.stl"), bodies, ExportOptions()));
    ASSERT_TRUE(exportFile(dir.filePath("netz.brp"), bodies, ExportOptions()));
    EXPECT_TRUE(readFile(dir.filePath("netz.brp")).contains("Triangulations "));
    EXPECT_FALSE(readFile(dir.filePath("netz.brp")).contains("Triangulations 0"));
}

TEST(Export, StlBinaryAndAsciiHoldTheOutwardMesh)
{
    QTemporaryDir dir;
    ExportOptions options;
    ASSERT_TRUE(exportFile(dir.filePath("bin.stl"), twoBoxes(), options));
    options.binary = false;
    ASSERT_TRUE(exportFile(dir.filePath("text.stl"), twoBoxes(), options));
    const QByteArray binary = readFile(dir.filePath("bin.stl"));
    EXPECT_EQ(binary.size(), 84 + 50 * 24);
    EXPECT_EQ(u32(binary, 80), 24u);
    EXPECT_TRUE(readFile(dir.filePath("text.stl")).startsWith("solid"));
    for (const char* name : {"bin.stl", "text.stl"}) {
        const Handle(Poly_Triangulation) tri = readStl(dir.filePath(name));
        ASSERT_FALSE(tri.IsNull()) << name;
        EXPECT_EQ(tri->NbTriangles(), 24) << name;
        EXPECT_NEAR(triangulationVolume(tri), boxVolume + lidVolume, 1e-3) << name;
    }
}

TEST(Export, StlTessellationFollowsTheDeflection)
{
    QTemporaryDir dir;
    constexpr double pi = std::numbers::pi;
    const double exact = pi * 100.0 * 20.0;
    const double area = 2.0 * pi * 10.0 * 20.0 + 2 * pi * 100.0;
    ExportOptions coarse;
    coarse.linearDeflection = 0.5;
    coarse.angularDeflection = 1.0;
    ExportOptions fine;
    fine.linearDeflection = 0.005;
    fine.angularDeflection = 0.1;
    // Each export meshes a cylinder of its own.
    const auto cylinder = [] {
        return ExportBody{QStringLiteral("Welle"), BRepPrimAPI_MakeCylinder(10, 20).Shape()};
    };
    ASSERT_TRUE(exportFile(dir.filePath("grob.stl"), {cylinder()}, coarse));
    ASSERT_TRUE(exportFile(dir.filePath("fein.stl"), {cylinder()}, fine));
    const auto rough = readStl(dir.filePath("grob.stl"));
    const auto smooth = readStl(dir.filePath("fein.stl"));
    ASSERT_FALSE(rough.IsNull() || smooth.IsNull());
    EXPECT_GT(smooth->NbTriangles(), 4 * rough->NbTriangles());
    // Inscribed polygons: the mesh stays inside, by no more than the chord
    // deviation times the area.
    EXPECT_LT(triangulationVolume(rough), exact);
    EXPECT_GT(triangulationVolume(rough), exact - 0.5 * area);
    EXPECT_NEAR(triangulationVolume(smooth), exact, 0.005 * area);
}

TEST(Export, PlyHoldsTheOutwardMeshWithNormalsColoursAndAuthor)
{
    QTemporaryDir dir;
    ExportOptions options;
    options.author = QStringLiteral("Anna\nMüller");
    ASSERT_TRUE(exportFile(dir.filePath("teil.ply"), twoBoxes(), options));
    const QList<QByteArray> lines = readFile(dir.filePath("teil.ply")).split('\n');
    const qsizetype end = lines.indexOf("end_header");
    ASSERT_GT(end, 0);
    const QList<QByteArray> header = lines.mid(0, end);
    EXPECT_EQ(header.value(0), "ply");
    EXPECT_EQ(header.value(1), "format ascii 1.0");
    EXPECT_TRUE(header.contains("comment Author: Anna Müller"));
    EXPECT_TRUE(header.contains("comment Software: QorCAD"));
    EXPECT_TRUE(header.contains("element face 24"));
    qsizetype vertices = 0;
    for (const QByteArray& line : header) {
        if (line.startsWith("element vertex "))
            vertices = line.mid(15).toLongLong();
    }
    ASSERT_EQ(lines.size(), end + 1 + vertices + 24 + 1);

    // A box has reversed faces, whose triangles must be turned to face outwards.
    std::vector<gp_Pnt> points;
    std::vector<gp_Vec> normals;
    for (qsizetype i = 0; i < vertices; ++i) {
        const QList<QByteArray> v = lines[end + 1 + i].split(' ');
        ASSERT_EQ(v.size(), 9);
        points.emplace_back(v[0].toDouble(), v[1].toDouble(), v[2].toDouble());
        normals.emplace_back(v[3].toDouble(), v[4].toDouble(), v[5].toDouble());
    }
    std::map<int, double> volumes;
    std::map<int, QByteArray> colours;
    for (qsizetype i = 0; i < 24; ++i) {
        const QList<QByteArray> f = lines[end + 1 + vertices + i].split(' ');
        ASSERT_EQ(f.size(), 5);
        EXPECT_EQ(f[0], "3");
        const int a = f[1].toInt(), b = f[2].toInt(), c = f[3].toInt(), body = f[4].toInt();
        volumes[body] += points[a].XYZ().Dot(points[b].XYZ().Crossed(points[c].XYZ())) / 6.0;
        // Normals agree with the winding.
        const gp_Vec facet = gp_Vec(points[a], points[b]).Crossed(gp_Vec(points[a], points[c]));
        EXPECT_GT(facet.Dot(normals[std::size_t(a)]), 0.0);
        colours[body] = lines[end + 1 + a].split(' ').mid(6).join(' ');
    }
    EXPECT_NEAR(volumes[0], boxVolume, 1e-3);
    EXPECT_NEAR(volumes[1], lidVolume, 1e-3);
    EXPECT_EQ(colours[0], "204 26 26");
    EXPECT_EQ(colours[1], "26 77 230");
}

// What stood under the target's name before an export, and the rights the export must have.
// A file replaced hands on its read, write and execute bits only; a link is replaced itself,
// so the export is made like a new file and what the link led to stays as it was.
TEST(Export, AReplacedFileHandsOnOnlyItsReadWriteAndExecuteRights)
{
    enum class Before { Nothing, File, Link };
    const struct {
        const char* what;
        Before before;
        mode_t rights; // of the file replaced or led to
        mode_t expected;
    } cases[] = {
        {"link to a set-uid and set-gid file", Before::Link, 06777, 0640},
        {"set-uid file replaced", Before::File, 04755, 0755},
        {"set-gid file replaced", Before::File, 02755, 0755},
        {"sticky file replaced", Before::File, 01666, 0666},
        {"plain file replaced", Before::File, 0644, 0644},
        {"new file", Before::Nothing, 0, 0640},
    };
    // New files are made as the process's mask allows; put back however the test ends.
    const struct MaskFor {
        ~MaskFor() { ::umask(saved); }
        mode_t saved;
    } mask{::umask(027)};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QByteArray target = QFile::encodeName(dir.filePath("teil.brep"));
        const QByteArray ledTo = QFile::encodeName(dir.filePath("fremd.bin"));
        if (c.before != Before::Nothing) {
            const QByteArray& replaced = c.before == Before::Link ? ledTo : target;
            ASSERT_TRUE(writeFile(QFile::decodeName(replaced), "vorher"));
            ASSERT_EQ(::chmod(replaced.constData(), c.rights), 0);
        }
        if (c.before == Before::Link)
            ASSERT_EQ(::symlink(ledTo.constData(), target.constData()), 0);
        QString error;
        ASSERT_TRUE(exportFile(QFile::decodeName(target), twoBoxes(), ExportOptions(), &error))
            << error.toStdString();

        struct stat written { };
        ASSERT_EQ(::lstat(target.constData(), &written), 0);
        EXPECT_TRUE(S_ISREG(written.st_mode));
        EXPECT_EQ(written.st_mode & 07777, c.expected) << std::oct << (written.st_mode & 07777);
        EXPECT_NE(readFile(QFile::decodeName(target)), QByteArray("vorher"));
        if (c.before == Before::Link) {
            struct stat kept { };
            ASSERT_EQ(::lstat(ledTo.constData(), &kept), 0);
            EXPECT_EQ(kept.st_mode & 07777, c.rights);
            EXPECT_EQ(readFile(QFile::decodeName(ledTo)), QByteArray("vorher"));
        }
    }
}

TEST(ExportFailures, MessagesAndNothingWritten)
{
    QTemporaryDir dir;
    const auto bodies = twoBoxes();
    // A null body is a kernel failure, reported and not thrown; without
    // triangles there is nothing to put into a mesh file.
    const ExportBody wire{{}, BRepBuilderAPI_MakeEdge(gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0)).Edge()};
    const char* noFaces = "Die Körper haben keine Flächen, die sich vernetzen lassen";
    // What a fault the kernel caught can leave behind: a vertex tolerance that
    // is infinite or not a number.
    const auto damaged = [](double tolerance) {
        const TopoDS_Shape shape = box(10, 10, 10);
        const TopExp_Explorer vertex(shape, TopAbs_VERTEX);
        Handle(BRep_TVertex)::DownCast(vertex.Current().TShape())->Tolerance(tolerance);
        return ExportBody{QStringLiteral("Rest"), shape};
    };
    const char* refused
        = "Der Körper „Rest“ ist beschädigt (Toleranz nicht endlich) und wird nicht exportiert";
    const struct {
        const char* file;
        std::vector<ExportBody> bodies;
        const char* error;
    } cases[] = {
        {"leer.step", {}, "Keine Körper zum Exportieren"},
        {"teil.x_t", bodies, "Unbekanntes Exportformat .x_t"},
        {"teil", bodies, "Unbekanntes Exportformat ."},
        {"fehlt/teil.3mf", bodies, "3MF-Datei konnte nicht geschrieben werden"},
        {"fehlt/teil.stl", bodies, "STL-Datei konnte nicht geschrieben werden"},
        // The kernel's own words never reach the user: the body and the step do.
        {"kaputt.step",
         {bodies[0], ExportBody()},
         "Export fehlgeschlagen: Fehler im Schritt „Datei schreiben“"},
        {"draht.stl", {wire}, noFaces},
        {"draht.glb", {wire}, noFaces},
        {"draht.3mf", {wire}, noFaces},
        {"draht.ply", {wire}, noFaces},
        {"draht.obj", {wire}, noFaces},
        {"rest.step", {bodies[0], damaged(std::numeric_limits<double>::infinity())}, refused},
        {"rest.stl", {damaged(std::numeric_limits<double>::quiet_NaN())}, refused},
        {"rest.brep", {damaged(std::numeric_limits<double>::infinity())}, refused},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_FALSE(exportFile(dir.filePath(c.file), c.bodies, ExportOptions(), &error));
        EXPECT_TRUE(error.startsWith(QString::fromUtf8(c.error))) << error.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_FALSE(exportFile(dir.filePath("teil.xyz"), bodies, ExportOptions(), nullptr));
    EXPECT_TRUE(entriesOf(dir).isEmpty());
}

// A file of every format the export writes, with the name its messages give the format.
const std::pair<const char*, const char*> everyFormat[] = {
    {"alt.step", "STEP"}, {"alt.igs", "IGES"},  {"alt.stl", "STL"},
    {"alt.obj", "OBJ"},   {"alt.glb", "glTF"},  {"alt.gltf", "glTF"},
    {"alt.ply", "PLY"},   {"alt.brep", "BREP"}, {"alt.3mf", "3MF"},
};

// Writing runs out of room half-way (a file size limit stands in for a full
// disk): the file that was there before must survive unchanged.
TEST(ExportFailures, FailedWriteKeepsTheExistingFile)
{
    QTemporaryDir dir;
    std::vector<ExportBody> large = twoBoxes();
    large.push_back({QStringLiteral("Welle"), BRepPrimAPI_MakeCylinder(10, 20).Shape()});
    ExportOptions fine;
    fine.linearDeflection = 0.001;
    for (const auto& [name, format] : everyFormat) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(name);
        ASSERT_TRUE(writeFile(path, "vorher"));
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit tight = saved;
        tight.rlim_cur = 2000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
        QString error;
        const bool ok = exportFile(path, large, fine, &error);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        EXPECT_FALSE(ok);
        EXPECT_EQ(error, QString("%1-Datei konnte nicht geschrieben werden").arg(format));
        EXPECT_EQ(readFile(path), QByteArray("vorher"));
    }
    // Nothing but the old files: no staging folder, no side files.
    EXPECT_EQ(entriesOf(dir).size(), qsizetype(std::size(everyFormat)));
}

// Someone who may write to the target's folder swaps the export's staging folder for a link
// to another folder the moment it appears, in every format: the export is refused in
// German, the old file stays and the linked folder keeps every file. Exports are repeated
// until one was refused.
TEST(ExportFailures, AStagingFolderSwappedForALinkLeavesTheLinkedFolderAlone)
{
    QTemporaryDir dir;
    const auto [folder, victim, made]
        = qor::fixtures::makeSharedFolders(QFile::encodeName(dir.path()));
    ASSERT_TRUE(made);
    const auto bodies = twoBoxes();
    for (const auto& [name, format] : everyFormat) {
        SCOPED_TRACE(name);
        const QString path = QFile::decodeName(folder + '/' + name);
        ASSERT_TRUE(writeFile(path, "vorher"));
        int refused = 0;
        {
            qor::fixtures::StagingThief thief(folder, victim);
            ASSERT_TRUE(thief.watching());
            for (int attempt = 0; attempt < 40 && refused == 0; ++attempt) {
                const QByteArray before = readFile(path);
                QString error;
                if (exportFile(path, bodies, ExportOptions(), &error)) {
                    EXPECT_NE(readFile(path), QByteArray("vorher"));
                } else {
                    ++refused;
                    EXPECT_TRUE(error.startsWith(
                        QStringLiteral("%1-Datei konnte nicht geschrieben werden: Der "
                                       "Zwischenordner „")
                            .arg(QString::fromUtf8(format))))
                        << error.toStdString();
                    EXPECT_EQ(readFile(path), before);
                }
                ASSERT_TRUE(qor::fixtures::victimFolderWhole(victim));
            }
        }
        EXPECT_GT(refused, 0);
    }
}

// A BREP file is untrusted: its reader takes triangle corners as they stand, so
// a triangle may name nodes the triangulation does not have. The mesh writers
// leave such triangles out instead of reading or writing past the node list.
TEST(ExportFailures, TrianglesNamingMissingNodesAreLeftOut)
{
    QTemporaryDir dir;
    TColgp_Array1OfPnt nodes(1, 3);
    nodes(1) = gp_Pnt(0, 0, 0);
    nodes(2) = gp_Pnt(10, 0, 0);
    nodes(3) = gp_Pnt(0, 10, 0);
    Poly_Array1OfTriangle triangles(1, 5);
    triangles(1) = Poly_Triangle(1, 2, 3);
    triangles(2) = Poly_Triangle(1, 2, 0);
    triangles(3) = Poly_Triangle(-7, 2, 3);
    triangles(4) = Poly_Triangle(1, 4, 3);
    triangles(5) = Poly_Triangle(1, 2, 100000000);
    TopoDS_Face face;
    BRep_Builder().MakeFace(face, new Poly_Triangulation(nodes, triangles));
    ASSERT_TRUE(BRepTools::Write(face, QFile::encodeName(dir.filePath("netz.brep")).constData()));
    const qor::io::ImportResult imported = importFile(dir.filePath("netz.brep"), {});
    ASSERT_TRUE(imported.ok);
    const ExportBody body{{}, imported.bodies.at(0).shape};

    ASSERT_TRUE(exportFile(dir.filePath("netz.ply"), {body}, ExportOptions()));
    const QList<QByteArray> lines = readFile(dir.filePath("netz.ply")).split('\n');
    const qsizetype end = lines.indexOf("end_header");
    ASSERT_GT(end, 0);
    EXPECT_TRUE(lines.contains("element vertex 3"));
    EXPECT_TRUE(lines.contains("element face 1"));
    EXPECT_EQ(lines.value(end + 4), "3 0 1 2 0");

    ASSERT_TRUE(exportFile(dir.filePath("netz.3mf"), {body}, ExportOptions()));
    qor::ZipReader zip;
    ASSERT_TRUE(zip.openFile(dir.filePath("netz.3mf")));
    const QByteArray model = zip.read(QStringLiteral("3D/3dmodel.model"), 1 << 20);
    EXPECT_EQ(model.count("<vertex "), 3);
    EXPECT_EQ(model.count("<triangle "), 1);
    EXPECT_TRUE(model.contains("<triangle v1=\"0\" v2=\"1\" v3=\"2\"/>"));
}
