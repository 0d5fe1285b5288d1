#include "io/Export.h"
#include "io/Import.h"
#include "io/Zip.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <GProp_GProps.hxx>
#include <IGESCAFControl_Reader.hxx>
#include <Poly_Triangulation.hxx>
#include <RWGltf_CafReader.hxx>
#include <RWObj_CafReader.hxx>
#include <RWStl.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <TDF_ChildIterator.hxx>
#include <TDataStd_Name.hxx>
#include <TDocStd_Document.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <XCAFDoc_VisMaterial.hxx>
#include <XCAFDoc_VisMaterialTool.hxx>

#include <csignal>
#include <map>
#include <sys/resource.h>

using qor::io::ExportBody;
using qor::io::ExportOptions;
using qor::io::exportFile;
using namespace qor::test;

namespace {

const double boxVolume = 10.0 * 20.0 * 30.0;
const double lidVolume = 5.0 * 6.0 * 7.0;

// Two boxes apart from each other, with different names and colours.
std::vector<ExportBody> twoBoxes()
{
    ExportBody box;
    box.name = QStringLiteral("Gehäuse");
    box.shape = BRepPrimAPI_MakeBox(10, 20, 30).Shape();
    box.r = 0.8;
    box.g = 0.1;
    box.b = 0.1;
    ExportBody lid;
    lid.name = QStringLiteral("Deckel");
    lid.shape = BRepPrimAPI_MakeBox(gp_Pnt(40, 0, 0), 5, 6, 7).Shape();
    lid.r = 0.1;
    lid.g = 0.3;
    lid.b = 0.9;
    return {box, lid};
}

// Only the export's own files, no staging folder left behind.
QStringList entriesOf(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                      QDir::Name);
}

// Signed volume enclosed by the triangulations of the shape's faces: positive
// only when every triangle faces outwards.
double meshVolume(const TopoDS_Shape& shape, int* triangles = nullptr)
{
    double volume = 0.0;
    int count = 0;
    for (TopExp_Explorer ex(shape, TopAbs_FACE); ex.More(); ex.Next()) {
        const TopoDS_Face& face = TopoDS::Face(ex.Current());
        TopLoc_Location loc;
        const Handle(Poly_Triangulation) tri = BRep_Tool::Triangulation(face, loc);
        if (tri.IsNull())
            continue;
        const double sign = face.Orientation() == TopAbs_REVERSED ? -1.0 : 1.0;
        for (int t = 1; t <= tri->NbTriangles(); ++t) {
            int a = 0, b = 0, c = 0;
            tri->Triangle(t).Get(a, b, c);
            const gp_XYZ p = tri->Node(a).Transformed(loc.Transformation()).XYZ();
            const gp_XYZ q = tri->Node(b).Transformed(loc.Transformation()).XYZ();
            const gp_XYZ r = tri->Node(c).Transformed(loc.Transformation()).XYZ();
            volume += sign * p.Dot(q.Crossed(r)) / 6.0;
            ++count;
        }
    }
    if (triangles)
        *triangles = count;
    return volume;
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

struct ReadBody {
    QString name;
    TopoDS_Shape shape;
    bool hasColour = false;
    Quantity_Color colour;
};

QString nameOf(const TDF_Label& label)
{
    Handle(TDataStd_Name) name;
    if (!label.FindAttribute(TDataStd_Name::GetID(), name))
        return {};
    const TCollection_ExtendedString& text = name->Get();
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text.ToExtString()), text.Length());
}

// The colour of a shape label through the colour tool, or through the visual
// material the mesh readers attach instead; sub-shape labels count too.
bool colourOf(const Handle(TDocStd_Document)& doc, const TDF_Label& label, Quantity_Color& colour)
{
    const Handle(XCAFDoc_ColorTool) colours = XCAFDoc_DocumentTool::ColorTool(doc->Main());
    const Handle(XCAFDoc_VisMaterialTool) materials = XCAFDoc_DocumentTool::VisMaterialTool(doc->Main());
    if (colours->GetColor(label, XCAFDoc_ColorSurf, colour) || colours->GetColor(label, XCAFDoc_ColorGen, colour))
        return true;
    if (const Handle(XCAFDoc_VisMaterial) m = materials->GetShapeMaterial(label); !m.IsNull()) {
        colour = m->BaseColor().GetRGB();
        return true;
    }
    for (TDF_ChildIterator it(label); it.More(); it.Next()) {
        if (colourOf(doc, it.Value(), colour))
            return true;
    }
    return false;
}

void collect(const Handle(TDocStd_Document)& doc, const TDF_Label& label, const TopLoc_Location& loc,
             std::vector<ReadBody>& bodies)
{
    TDF_Label target = label;
    TopLoc_Location placement = loc;
    QString name = nameOf(label);
    if (XCAFDoc_ShapeTool::IsReference(label)) {
        XCAFDoc_ShapeTool::GetReferredShape(label, target);
        placement = loc.Multiplied(XCAFDoc_ShapeTool::GetLocation(label));
        if (name.isEmpty())
            name = nameOf(target);
    }
    if (XCAFDoc_ShapeTool::IsAssembly(target)) {
        TDF_LabelSequence components;
        XCAFDoc_ShapeTool::GetComponents(target, components, false);
        for (const TDF_Label& c : components)
            collect(doc, c, placement, bodies);
        return;
    }
    ReadBody body;
    body.name = name.isEmpty() ? nameOf(target) : name;
    body.shape = XCAFDoc_ShapeTool::GetShape(target).Moved(placement);
    body.hasColour = colourOf(doc, target, body.colour) || colourOf(doc, label, body.colour);
    bodies.push_back(body);
}

template <class Reader>
std::vector<ReadBody> readThroughXcaf(Reader& reader)
{
    Handle(TDocStd_Document) doc;
    XCAFApp_Application::GetApplication()->NewDocument("BinXCAF", doc);
    std::vector<ReadBody> bodies;
    if (reader(doc)) {
        TDF_LabelSequence free;
        XCAFDoc_DocumentTool::ShapeTool(doc->Main())->GetFreeShapes(free);
        for (const TDF_Label& label : free)
            collect(doc, label, TopLoc_Location(), bodies);
    }
    XCAFApp_Application::GetApplication()->Close(doc);
    return bodies;
}

std::vector<ReadBody> readStep(const QString& path)
{
    auto read = [&](Handle(TDocStd_Document)& doc) {
        STEPCAFControl_Reader reader;
        reader.SetNameMode(true);
        reader.SetColorMode(true);
        return reader.ReadFile(QFile::encodeName(path).constData()) == IFSelect_RetDone
            && reader.Transfer(doc);
    };
    return readThroughXcaf(read);
}

std::vector<ReadBody> readIges(const QString& path)
{
    auto read = [&](Handle(TDocStd_Document)& doc) {
        IGESCAFControl_Reader reader;
        reader.SetNameMode(true);
        reader.SetColorMode(true);
        return reader.ReadFile(QFile::encodeName(path).constData()) == IFSelect_RetDone
            && reader.Transfer(doc);
    };
    return readThroughXcaf(read);
}

template <class MeshReader>
std::vector<ReadBody> readMesh(const QString& path, double fileUnit)
{
    auto read = [&](Handle(TDocStd_Document)& doc) {
        MeshReader reader;
        reader.SetSystemLengthUnit(0.001);
        reader.SetSystemCoordinateSystem(RWMesh_CoordinateSystem_Zup);
        if (fileUnit > 0)
            reader.SetFileLengthUnit(fileUnit);
        reader.SetDocument(doc);
        return reader.Perform(QFile::encodeName(path).constData(), Message_ProgressRange());
    };
    return readThroughXcaf(read);
}

// Checks name, colour and volume of each read body against the exported ones.
void expectBodiesMatch(const std::vector<ReadBody>& read, const std::vector<ExportBody>& written,
                       bool mesh, double colourTolerance)
{
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const auto it = std::find_if(read.begin(), read.end(),
                                     [&](const ReadBody& b) { return b.name == written[i].name; });
        ASSERT_NE(it, read.end()) << "no body named " << written[i].name.toStdString() << ", first is "
                                  << read[0].name.toStdString();
        const double expected = volumeOf(written[i].shape);
        int triangles = 0;
        const double volume = mesh ? meshVolume(it->shape, &triangles) : volumeOf(it->shape);
        EXPECT_NEAR(volume, expected, 1e-6 * expected) << written[i].name.toStdString();
        if (mesh)
            EXPECT_GT(triangles, 0);
        ASSERT_TRUE(it->hasColour) << written[i].name.toStdString();
        double r = 0, g = 0, b = 0;
        it->colour.Values(r, g, b, Quantity_TOC_sRGB);
        EXPECT_NEAR(r, written[i].r, colourTolerance) << written[i].name.toStdString();
        EXPECT_NEAR(g, written[i].g, colourTolerance) << written[i].name.toStdString();
        EXPECT_NEAR(b, written[i].b, colourTolerance) << written[i].name.toStdString();
    }
}

} // namespace

TEST(ExportStep, NamesColoursAndVolumesSurviveAndSchemaIsChosen)
{
    QTemporaryDir dir;
    const auto bodies = twoBoxes();
    const QString path = dir.filePath("teil.step");
    QString error;
    ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), &error)) << error.toStdString();
    EXPECT_TRUE(error.isEmpty());
    expectBodiesMatch(readStep(path), bodies, false, 1e-3);
    EXPECT_TRUE(readFile(path).contains("AP242_MANAGED_MODEL_BASED_3D_ENGINEERING"));
    EXPECT_EQ(entriesOf(dir), QStringList{"teil.step"});

    ExportOptions options;
    options.stepSchema = QStringLiteral("AP203");
    ASSERT_TRUE(exportFile(dir.filePath("ap203.stp"), bodies, options));
    EXPECT_TRUE(readFile(dir.filePath("ap203.stp")).contains("CONFIG_CONTROL_DESIGN"));
    options.stepSchema = QStringLiteral("AP214");
    ASSERT_TRUE(exportFile(dir.filePath("ap214.STEP"), bodies, options));
    EXPECT_TRUE(readFile(dir.filePath("ap214.STEP")).contains("AUTOMOTIVE_DESIGN"));
    // The comparison is exact: lower case falls back to AP242. Only the last
    // suffix counts.
    options.stepSchema = QStringLiteral("ap214");
    ASSERT_TRUE(exportFile(dir.filePath("teil.v2.Stp"), bodies, options));
    const QByteArray fallback = readFile(dir.filePath("teil.v2.Stp"));
    EXPECT_TRUE(fallback.contains("AP242_MANAGED_MODEL_BASED_3D_ENGINEERING"));
    EXPECT_FALSE(fallback.contains("AUTOMOTIVE_DESIGN"));
    expectBodiesMatch(readStep(dir.filePath("teil.v2.Stp")), bodies, false, 1e-3);
}

TEST(ExportIges, NamesColoursAndVolumesSurvive)
{
    QTemporaryDir dir;
    const auto bodies = twoBoxes();
    const QString path = dir.filePath("teil.igs");
    QString error;
    ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), &error)) << error.toStdString();
    expectBodiesMatch(readIges(path), bodies, false, 2e-3);
}

TEST(ExportBrep, CompoundOfBothBodies)
{
    QTemporaryDir dir;
    auto bodies = twoBoxes();
    const QString path = dir.filePath("teil.brep");
    ASSERT_TRUE(exportFile(path, bodies, ExportOptions()));
    TopoDS_Shape shape;
    BRep_Builder builder;
    ASSERT_TRUE(BRepTools::Read(shape, QFile::encodeName(path).constData(), builder));
    int solids = 0;
    for (TopExp_Explorer ex(shape, TopAbs_SOLID); ex.More(); ex.Next())
        ++solids;
    EXPECT_EQ(solids, 2);
    EXPECT_NEAR(volumeOf(shape), boxVolume + lidVolume, 1e-6);
    // BREP is not tessellated here: no triangles unless the shapes had them.
    EXPECT_FALSE(readFile(path).contains("Triangulations 1"));

    ASSERT_TRUE(exportFile(dir.filePath("netz.stl"), bodies, ExportOptions()));
    ASSERT_TRUE(exportFile(dir.filePath("netz.brp"), bodies, ExportOptions()));
    EXPECT_TRUE(readFile(dir.filePath("netz.brp")).contains("Triangulations "));
    EXPECT_FALSE(readFile(dir.filePath("netz.brp")).contains("Triangulations 0"));
}

TEST(ExportStl, BinaryAndAsciiHoldTheOutwardMesh)
{
    QTemporaryDir dir;
    const auto bodies = twoBoxes();
    ExportOptions options;
    ASSERT_TRUE(exportFile(dir.filePath("bin.stl"), bodies, options));
    options.binary = false;
    ASSERT_TRUE(exportFile(dir.filePath("text.stl"), bodies, options));

    const QByteArray binary = readFile(dir.filePath("bin.stl"));
    ASSERT_GE(binary.size(), 84);
    const std::uint32_t count = std::uint8_t(binary[80]) | (std::uint8_t(binary[81]) << 8)
        | (std::uint8_t(binary[82]) << 16) | (std::uint32_t(std::uint8_t(binary[83])) << 24);
    EXPECT_EQ(count, 24u);
    EXPECT_EQ(binary.size(), 84 + 50 * qsizetype(count));
    EXPECT_TRUE(readFile(dir.filePath("text.stl")).startsWith("solid"));

    for (const char* name : {"bin.stl", "text.stl"}) {
        const Handle(Poly_Triangulation) tri =
            RWStl::ReadFile(QFile::encodeName(dir.filePath(name)).constData(), Message_ProgressRange());
        ASSERT_FALSE(tri.IsNull()) << name;
        EXPECT_EQ(tri->NbTriangles(), 24) << name;
        EXPECT_NEAR(triangulationVolume(tri), boxVolume + lidVolume, 1e-3) << name;
    }
}

TEST(ExportStl, TessellationFollowsTheDeflection)
{
    QTemporaryDir dir;
    ExportBody cylinder;
    cylinder.name = QStringLiteral("Welle");
    cylinder.shape = BRepPrimAPI_MakeCylinder(10, 20).Shape();
    const double exact = M_PI * 100.0 * 20.0;

    ExportOptions coarse;
    coarse.linearDeflection = 0.5;
    coarse.angularDeflection = 1.0;
    ASSERT_TRUE(exportFile(dir.filePath("grob.stl"), {cylinder}, coarse));
    ExportOptions fine;
    fine.linearDeflection = 0.005;
    fine.angularDeflection = 0.1;
    cylinder.shape = BRepPrimAPI_MakeCylinder(10, 20).Shape();
    ASSERT_TRUE(exportFile(dir.filePath("fein.stl"), {cylinder}, fine));

    const auto rough = RWStl::ReadFile(QFile::encodeName(dir.filePath("grob.stl")).constData(),
                                       Message_ProgressRange());
    const auto smooth = RWStl::ReadFile(QFile::encodeName(dir.filePath("fein.stl")).constData(),
                                        Message_ProgressRange());
    ASSERT_FALSE(rough.IsNull());
    ASSERT_FALSE(smooth.IsNull());
    EXPECT_GT(smooth->NbTriangles(), 4 * rough->NbTriangles());
    // Inscribed polygons: the mesh stays inside, by no more than the chord
    // deviation allows (deflection times the lateral area, roughly).
    const double lateral = 2.0 * M_PI * 10.0 * 20.0;
    EXPECT_LT(triangulationVolume(rough), exact);
    EXPECT_GT(triangulationVolume(rough), exact - 0.5 * (lateral + 2 * M_PI * 100.0));
    EXPECT_NEAR(triangulationVolume(smooth), exact, 0.005 * (lateral + 2 * M_PI * 100.0));
}

TEST(ExportGltf, BinaryAndTextCarryNamesColoursAndVolumes)
{
    QTemporaryDir dir;
    const auto bodies = twoBoxes();
    ExportOptions options;
    options.author = QStringLiteral("Jörg");
    QString error;
    ASSERT_TRUE(exportFile(dir.filePath("teil.glb"), bodies, options, &error)) << error.toStdString();
    ASSERT_TRUE(exportFile(dir.filePath("teil.gltf"), bodies, options, &error)) << error.toStdString();

    EXPECT_TRUE(readFile(dir.filePath("teil.glb")).startsWith("glTF"));
    const QByteArray json = readFile(dir.filePath("teil.gltf"));
    EXPECT_TRUE(json.contains("\"teil.bin\"")) << json.left(2000).toStdString();
    EXPECT_TRUE(json.contains("Jörg"));
    // The side file came along; nothing else was left behind.
    EXPECT_EQ(entriesOf(dir), (QStringList{"teil.bin", "teil.glb", "teil.gltf"}));

    for (const char* name : {"teil.glb", "teil.gltf"}) {
        SCOPED_TRACE(name);
        expectBodiesMatch(readMesh<RWGltf_CafReader>(dir.filePath(name), 0), bodies, true, 2e-3);
    }
}

TEST(ExportObj, NamesColoursAndVolumesInMillimetres)
{
    QTemporaryDir dir;
    const auto bodies = twoBoxes();
    QString error;
    ASSERT_TRUE(exportFile(dir.filePath("teil.obj"), bodies, ExportOptions(), &error)) << error.toStdString();
    EXPECT_EQ(entriesOf(dir), (QStringList{"teil.mtl", "teil.obj"}));
    expectBodiesMatch(readMesh<RWObj_CafReader>(dir.filePath("teil.obj"), 0.001), bodies, true, 2e-3);
}

TEST(ExportPly, OutwardMeshWithNormalsColoursAndAuthor)
{
    QTemporaryDir dir;
    const auto bodies = twoBoxes();
    // A box has reversed faces, whose triangles must be turned to face outwards.
    int reversed = 0;
    for (TopExp_Explorer ex(bodies[0].shape, TopAbs_FACE); ex.More(); ex.Next())
        reversed += ex.Current().Orientation() == TopAbs_REVERSED;
    ASSERT_GT(reversed, 0);
    ExportOptions options;
    options.author = QStringLiteral("Anna\nMüller");
    ASSERT_TRUE(exportFile(dir.filePath("teil.ply"), bodies, options));
    const QList<QByteArray> lines = readFile(dir.filePath("teil.ply")).split('\n');
    const qsizetype end = lines.indexOf("end_header");
    ASSERT_GT(end, 0);
    const QList<QByteArray> header = lines.mid(0, end);
    EXPECT_EQ(header.value(0), "ply");
    EXPECT_EQ(header.value(1), "format ascii 1.0");
    EXPECT_TRUE(header.contains("comment Author: Anna Müller"));
    EXPECT_TRUE(header.contains("comment Software: QorCAD"));

    qsizetype vertices = 0, faces = 0;
    for (const QByteArray& line : header) {
        if (line.startsWith("element vertex "))
            vertices = line.mid(15).toLongLong();
        if (line.startsWith("element face "))
            faces = line.mid(13).toLongLong();
    }
    EXPECT_EQ(faces, 24);
    ASSERT_GE(lines.size(), end + 1 + vertices + faces);

    std::vector<gp_Pnt> points;
    std::vector<gp_Vec> normals;
    for (qsizetype i = 0; i < vertices; ++i) {
        const QList<QByteArray> v = lines[end + 1 + i].split(' ');
        ASSERT_EQ(v.size(), 9);
        points.emplace_back(v[0].toDouble(), v[1].toDouble(), v[2].toDouble());
        normals.emplace_back(v[3].toDouble(), v[4].toDouble(), v[5].toDouble());
    }
    std::map<int, double> volumeOf;
    std::map<int, QByteArray> colourOf;
    for (qsizetype i = 0; i < faces; ++i) {
        const QList<QByteArray> f = lines[end + 1 + vertices + i].split(' ');
        ASSERT_EQ(f.size(), 5);
        EXPECT_EQ(f[0], "3");
        const int a = f[1].toInt(), b = f[2].toInt(), c = f[3].toInt(), body = f[4].toInt();
        volumeOf[body] += points[a].XYZ().Dot(points[b].XYZ().Crossed(points[c].XYZ())) / 6.0;
        // Normals agree with the winding.
        const gp_Vec facet = gp_Vec(points[a], points[b]).Crossed(gp_Vec(points[a], points[c]));
        EXPECT_GT(facet.Dot(normals[std::size_t(a)]), 0.0);
        const QList<QByteArray> v = lines[end + 1 + a].split(' ');
        colourOf[body] = v[6] + ' ' + v[7] + ' ' + v[8];
    }
    EXPECT_NEAR(volumeOf[0], boxVolume, 1e-3);
    EXPECT_NEAR(volumeOf[1], lidVolume, 1e-3);
    EXPECT_EQ(colourOf[0], "204 26 26");
    EXPECT_EQ(colourOf[1], "26 77 230");
}

TEST(ExportFailures, MessagesAndNothingWritten)
{
    QTemporaryDir dir;
    const auto bodies = twoBoxes();
    QString error;
    EXPECT_FALSE(exportFile(dir.filePath("leer.step"), {}, ExportOptions(), &error));
    EXPECT_EQ(error, QStringLiteral("Keine Körper zum Exportieren"));
    EXPECT_FALSE(exportFile(dir.filePath("teil.x_t"), bodies, ExportOptions(), &error));
    EXPECT_EQ(error, QStringLiteral("Unbekanntes Exportformat .x_t"));
    EXPECT_FALSE(exportFile(dir.filePath("teil"), bodies, ExportOptions(), &error));
    EXPECT_EQ(error, QStringLiteral("Unbekanntes Exportformat ."));
    EXPECT_FALSE(exportFile(dir.filePath("fehlt/teil.3mf"), bodies, ExportOptions(), &error));
    EXPECT_EQ(error, QStringLiteral("3MF-Datei konnte nicht geschrieben werden"));
    EXPECT_FALSE(exportFile(dir.filePath("fehlt/teil.stl"), bodies, ExportOptions(), &error));
    EXPECT_EQ(error, QStringLiteral("STL-Datei konnte nicht geschrieben werden"));
    EXPECT_TRUE(entriesOf(dir).isEmpty());

    // A null body is a kernel failure, reported and not thrown.
    std::vector<ExportBody> broken = bodies;
    broken.push_back(ExportBody());
    EXPECT_FALSE(exportFile(dir.filePath("kaputt.step"), broken, ExportOptions(), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Export fehlgeschlagen: "))) << error.toStdString();
    // Without triangles there is nothing to put into an STL file.
    ExportBody wire;
    wire.shape = BRepBuilderAPI_MakeEdge(gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0)).Edge();
    EXPECT_FALSE(exportFile(dir.filePath("draht.stl"), {wire}, ExportOptions(), &error));
    EXPECT_EQ(error, QStringLiteral("STL-Datei konnte nicht geschrieben werden"));
    EXPECT_TRUE(entriesOf(dir).isEmpty());

    // A null error pointer is allowed.
    EXPECT_FALSE(exportFile(dir.filePath("teil.xyz"), bodies, ExportOptions(), nullptr));
}

// Writing runs out of room half-way (a file size limit stands in for a full
// disk): the file that was there before must survive unchanged.
TEST(ExportFailures, FailedWriteKeepsTheExistingFile)
{
    QTemporaryDir dir;
    const auto bodies = twoBoxes();
    ExportBody cylinder;
    cylinder.name = QStringLiteral("Welle");
    cylinder.shape = BRepPrimAPI_MakeCylinder(10, 20).Shape();
    std::vector<ExportBody> large = bodies;
    large.push_back(cylinder);
    ExportOptions fine;
    fine.linearDeflection = 0.001;

    const std::vector<std::pair<QString, QString>> cases = {
        {"alt.step", "STEP-Datei konnte nicht geschrieben werden"},
        {"alt.igs", "IGES-Datei konnte nicht geschrieben werden"},
        {"alt.stl", "STL-Datei konnte nicht geschrieben werden"},
        {"alt.obj", "OBJ-Datei konnte nicht geschrieben werden"},
        {"alt.glb", "glTF-Datei konnte nicht geschrieben werden"},
        {"alt.gltf", "glTF-Datei konnte nicht geschrieben werden"},
        {"alt.ply", "PLY-Datei konnte nicht geschrieben werden"},
        {"alt.brep", "BREP-Datei konnte nicht geschrieben werden"},
        {"alt.3mf", "3MF-Datei konnte nicht geschrieben werden"},
    };
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir.filePath(name);
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("vorher");
        old.close();

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
        EXPECT_EQ(error, message);
        EXPECT_EQ(readFile(path), QByteArray("vorher"));
    }
    // Nothing but the old files: no staging folder, no side files.
    EXPECT_EQ(entriesOf(dir).size(), qsizetype(cases.size()));
}

// A BREP file is untrusted: its reader takes triangle corners as they stand, so
// a triangle may name nodes the triangulation does not have. The mesh writers
// leave such triangles out instead of reading or writing past the node list.
TEST(ExportMeshes, TrianglesNamingMissingNodesAreLeftOut)
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
    const QByteArray brep = QFile::encodeName(dir.filePath("netz.brep"));
    ASSERT_TRUE(BRepTools::Write(face, brep.constData()));
    const qor::io::ImportResult imported = qor::io::importFile(dir.filePath("netz.brep"), {});
    ASSERT_TRUE(imported.ok);
    ExportBody body;
    body.shape = imported.bodies.at(0).shape;

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
