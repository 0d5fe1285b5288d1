#include "io/Import.h"
#include "io/XcafBodies.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/XcafModel.h"

#include <BRepBndLib.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::io;
using namespace qor::test;

namespace {

constexpr double boxVolume = 10.0 * 20.0 * 30.0;
constexpr double cylinderVolume = std::numbers::pi * 5.0 * 5.0 * 10.0;

// Through the triangles too: mesh bodies have no surfaces to bound.
// From the exact box: an edge the sewing of IGES faces gives a B-spline curve has a box
// around its poles, some tenths of a millimetre wider than the circle it follows.
gp_Pnt centreOf(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::AddOptimal(shape, box, true, false);
    return gp_Pnt((box.CornerMin().XYZ() + box.CornerMax().XYZ()) / 2);
}

void expectColor(const ImportedBody& body, double r, double g, double b)
{
    SCOPED_TRACE(body.name.toStdString());
    EXPECT_TRUE(body.hasColor);
    EXPECT_NEAR(body.r, r, 0.01);
    EXPECT_NEAR(body.g, g, 0.01);
    EXPECT_NEAR(body.b, b, 0.01);
}

QString fileWith(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    EXPECT_TRUE(writeFile(path, content));
    return path;
}

ImportResult bodiesOf(XcafModel& model)
{
    model.shapes->UpdateAssemblies();
    ImportResult result;
    collectXcafBodies(model.doc, result);
    return result;
}

} // namespace

TEST(ImportTest, EveryFormatKeepsNamesColoursVolumesAndPlacement)
{
    struct Case {
        const char* file;
        const char* format;
        bool mesh;
        double tolerance; // relative volume error the format allows
    };
    const Case cases[] = {
        {"modell.step", "STEP", false, 1e-6},
        {"modell.igs", "IGES", false, 1e-4},
        {"modell.obj", "OBJ", true, 2e-3},
        {"modell.gltf", "glTF", true, 2e-3},
        {"modell.glb", "glTF", true, 2e-3},
        {"GROSS.STEP", "STEP", false, 1e-6},
        // One uncoloured body named after the file.
        {"zwei.teile.stl", "STL", true, 2e-3},
        {"zwei.teile.brep", "BREP", false, 1e-6},
    };
    QTemporaryDir dir;
    TwoBodyModel model;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = dir.filePath(c.file);
        ASSERT_TRUE(model.write(path));
        const ImportResult result = importFile(path, {});
        ASSERT_TRUE(result.ok) << result.error.toStdString();
        EXPECT_TRUE(result.error.isEmpty());
        EXPECT_EQ(result.format, c.format);
        EXPECT_EQ(result.meshBodies, c.mesh);
        if (QByteArray(c.file).startsWith("zwei")) {
            ASSERT_EQ(result.bodies.size(), 1u);
            EXPECT_EQ(result.bodies[0].name, "zwei.teile");
            EXPECT_FALSE(result.bodies[0].hasColor);
            EXPECT_NEAR(volumeOf(result.bodies[0].shape), boxVolume + cylinderVolume,
                        (boxVolume + cylinderVolume) * c.tolerance);
            continue;
        }
        ASSERT_EQ(result.bodies.size(), 2u);
        const ImportedBody* box = findBody(result, "Quader");
        const ImportedBody* cylinder = findBody(result, "Zylinder");
        ASSERT_TRUE(box && cylinder);
        EXPECT_NEAR(volumeOf(box->shape), boxVolume, boxVolume * c.tolerance);
        EXPECT_NEAR(volumeOf(cylinder->shape), cylinderVolume, cylinderVolume * c.tolerance);
        expectColor(*box, 0.8, 0.1, 0.1);
        expectColor(*cylinder, 0.1, 0.2, 0.9);
        // Millimetres and Z up survive: the cylinder stands at x = 40 on its axis.
        const gp_Pnt centre = centreOf(cylinder->shape);
        EXPECT_NEAR(centre.X(), 40.0, 0.01);
        EXPECT_NEAR(centre.Z(), 5.0, 0.01);
    }
}

TEST(ImportTest, SuffixDecidesWhatIsImportable)
{
    for (const char* path : {"/a/b/TEIL.XMT_TXT", "teil.f3z", "teil.Stp"})
        EXPECT_TRUE(isImportable(path)) << path;
    for (const char* path : {"teil.qcpart", "teil.step.bak", "step"})
        EXPECT_FALSE(isImportable(path)) << path;
    EXPECT_FALSE(importFilter().contains("xmt"));
    EXPECT_TRUE(importFilter().startsWith("Alle unterstützten Dateien (*.qcpart *.qcasm *.step"));
    EXPECT_TRUE(exportFilter().endsWith("OpenCASCADE BREP (*.brep)"));
}

TEST(ImportTest, UnreadableFilesGiveGermanErrorsAndNoBodies)
{
    QTemporaryDir dir;
    const QByteArray junk("das ist keine CAD-Datei\n\x01\x02\x03");
    const QString textForm = QStringLiteral(
        "Parasolid-Textformat (.x_t) wird noch nicht gelesen – bitte als .x_b oder STEP speichern");
    const QString noCompound
        = QStringLiteral("Keine gültige Solid-Edge-Datei: Kein OLE-Verbunddokument");
    const QString noZip = QStringLiteral("Keine gültige Fusion-Datei (ZIP-Archiv erwartet)");
    const struct {
        const char* file;
        QByteArray content; // no file at all when null
        QString error;
        QString format;
    } cases[] = {
        {"ohneendung", "solid", "Unbekanntes Dateiformat .", ""},
        {"archiv.tar.gz", {}, "Unbekanntes Dateiformat .gz", ""},
        {"teil.qcpart", {}, "Unbekanntes Dateiformat .qcpart", ""},
        {"a.x_b", "PS", textForm, "Parasolid"},
        {"a.xmt_txt", "PS", textForm, "Parasolid"},
        {"a.par", "PS", noCompound, "Solid Edge Bauteil"},
        {"a.PSM", "PS", noCompound, "Solid Edge Blechteil"},
        {"a.asm", "PS", noCompound, "Solid Edge Baugruppe"},
        {"a.f3d", "PS", noZip, "Autodesk Fusion"},
        {"a.F3Z", "PS", noZip, "Autodesk Fusion"},
        {"kaputt.step", junk, "STEP-Datei konnte nicht gelesen werden", "STEP"},
        {"fehlt.step", {}, "Datei nicht gefunden: „fehlt.step“", "STEP"},
        // The IGES reader takes almost any text; nothing comes of it.
        {"kaputt.igs", junk, "Die Datei enthält keine Geometrie", "IGES"},
        {"fehlt.igs", {}, "Datei nicht gefunden: „fehlt.igs“", "IGES"},
        {"leer.stl", "", "STL-Datei enthält keine Dreiecke", "STL"},
        {"ohne.stl", "solid leer\nendsolid leer\n", "STL-Datei enthält keine Dreiecke", "STL"},
        {"leer.obj", "", "OBJ-Datei konnte nicht gelesen werden", "OBJ"},
        {"punkte.obj", "v 0 0 0\nv 1 0 0\n", "Die Datei enthält keine Geometrie", "OBJ"},
        {"kaputt.gltf", "{ \"asset\": 3 ", "glTF-Datei konnte nicht gelesen werden", "glTF"},
        {"kaputt.glb", junk, "glTF-Datei konnte nicht gelesen werden", "glTF"},
        {"kaputt.brep", junk, "BREP-Datei konnte nicht gelesen werden", "BREP"},
        {"fehlt.brep", {}, "Datei nicht gefunden: „fehlt.brep“", "BREP"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path
            = c.content.isNull() ? dir.filePath(c.file) : fileWith(dir, c.file, c.content);
        const ImportResult result = importFile(path, {});
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.format, c.format);
        EXPECT_TRUE(result.bodies.empty());
    }
}

TEST(ImportTest, ProgressRunsToOneHundredWithEmptyLabels)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("fortschritt.step");
    ASSERT_TRUE(TwoBodyModel().write(path));
    std::vector<int> percents;
    bool labelsEmpty = true;
    const ImportResult result = importFile(path, [&](int percent, const QString& label) {
        percents.push_back(percent);
        labelsEmpty = labelsEmpty && label.isEmpty();
    });
    ASSERT_TRUE(result.ok);
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(labelsEmpty);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_GE(percents.front(), 0);
    // The last step reaches 1.0 only up to rounding, and the percentage is truncated.
    EXPECT_GE(percents.back(), 99);
}

TEST(XcafBodiesTest, InstancesArePlacedOutermostFirstAndNamed)
{
    XcafModel m;
    const TDF_Label p = m.addPart(box(2, 1, 1), "P");
    const TDF_Label a = m.shapes->NewShape();
    setName(a, "A");
    gp_Trsf right;
    right.SetTranslation(gp_Vec(10, 0, 0));
    gp_Trsf up;
    up.SetTranslation(gp_Vec(0, 0, 20));
    setName(m.shapes->AddComponent(a, p, TopLoc_Location(right)), "links");
    m.shapes->AddComponent(a, p, TopLoc_Location(up));
    // A quarter turn about Z in an outer assembly around A.
    gp_Trsf turn;
    turn.SetRotation(gp::OZ(), std::numbers::pi / 2);
    m.shapes->AddComponent(m.shapes->NewShape(), a, TopLoc_Location(turn));

    const ImportResult result = bodiesOf(m);
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.bodies.size(), 2u);
    EXPECT_EQ(result.bodies[0].name, "links");
    EXPECT_EQ(result.bodies[1].name, "P");
    EXPECT_FALSE(result.bodies[0].hasColor);
    // Shifted to x 10..12 first, then turned: the part lies at y 10..12, x -1..0.
    EXPECT_TRUE(extentIs(result.bodies[0].shape, {-1, 10, 0, 0, 12, 1}, 1e-7));
    EXPECT_TRUE(extentIs(result.bodies[1].shape, {-1, 0, 20, 0, 2, 21}, 1e-7));
}

TEST(XcafBodiesTest, ColourLookupOrder)
{
    XcafModel m;
    // A colour on one face only still colours the body.
    const TopoDS_Shape faceColoured = box(1, 1, 1);
    TopExp_Explorer face(faceColoured, TopAbs_FACE);
    face.Next();
    m.colors->SetColor(m.shapes->AddSubShape(m.addPart(faceColoured, "Fläche"), face.Current()),
                       srgb(0.0, 1.0, 0.0), XCAFDoc_ColorSurf);
    // Instance and part both coloured: the part wins.
    const TDF_Label part = m.addPart(box(2, 2, 2), "Teil");
    m.colors->SetColor(part, srgb(0.2, 0.3, 0.4), XCAFDoc_ColorSurf);
    const TDF_Label assembly = m.shapes->NewShape();
    m.colors->SetColor(m.shapes->AddComponent(assembly, part, TopLoc_Location()),
                       srgb(0.9, 0.9, 0.0), XCAFDoc_ColorSurf);
    // Only the instance coloured: its surface colour before its generic one.
    const TDF_Label plain = m.addPart(box(3, 3, 3), "Schlicht");
    const TDF_Label plainInstance = m.shapes->AddComponent(assembly, plain, TopLoc_Location());
    m.colors->SetColor(plainInstance, srgb(0.5, 0.0, 0.5), XCAFDoc_ColorGen);
    m.colors->SetColor(plainInstance, srgb(0.0, 0.5, 0.5), XCAFDoc_ColorSurf);
    // A generic colour on the part counts; a curve colour does not.
    m.colors->SetColor(m.addPart(box(4, 4, 4), "Allgemein"), srgb(0.3, 0.3, 0.3), XCAFDoc_ColorGen);
    m.colors->SetColor(m.addPart(box(5, 5, 5), "Kurve"), srgb(1.0, 0.0, 0.0), XCAFDoc_ColorCurv);

    const ImportResult result = bodiesOf(m);
    ASSERT_TRUE(result.ok);
    const std::tuple<const char*, double, double, double> coloured[]
        = {{"Fläche", 0.0, 1.0, 0.0},
           {"Teil", 0.2, 0.3, 0.4},
           {"Schlicht", 0.0, 0.5, 0.5},
           {"Allgemein", 0.3, 0.3, 0.3}};
    for (const auto& [name, r, g, b] : coloured) {
        const ImportedBody* body = findBody(result, QString::fromUtf8(name));
        ASSERT_TRUE(body) << name;
        expectColor(*body, r, g, b);
    }
    ASSERT_TRUE(findBody(result, "Kurve"));
    EXPECT_FALSE(findBody(result, "Kurve")->hasColor);
}

TEST(XcafBodiesTest, EmptyAndDeepStructures)
{
    {
        XcafModel m;
        TopoDS_Compound empty;
        BRep_Builder().MakeCompound(empty);
        m.shapes->AddShape(empty, true);
        m.shapes->AddShape(empty, true);
        m.shapes->NewShape(); // a product without geometry
        const ImportResult result = bodiesOf(m);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, "Die Datei enthält keine Geometrie");
        // An earlier error is kept.
        ImportResult earlier;
        earlier.error = "vorher";
        collectXcafBodies(m.doc, earlier);
        EXPECT_EQ(earlier.error, "vorher");
    }
    // Chains of assemblies: a part 64 levels down is read, 65 levels down is not.
    XcafModel m;
    const TDF_Label part = m.addPart(box(1, 1, 1), "tief");
    for (int levels : {64, 65, 70}) {
        TDF_Label inner = part;
        for (int i = 0; i < levels; ++i) {
            const TDF_Label outer = m.shapes->NewShape();
            m.shapes->AddComponent(outer, inner, TopLoc_Location());
            inner = outer;
        }
    }
    EXPECT_EQ(bodiesOf(m).bodies.size(), 1u);
}

TEST(XcafBodiesTest, ScaledPlacementIsBuiltIntoTheGeometry)
{
    XcafModel m;
    TopoDS_Shape meshed = box(1, 2, 3);
    BRepMesh_IncrementalMesh(meshed, 0.1);
    // A body carried only by its triangles, as the mesh readers make them.
    TopoDS_Compound triangles;
    BRep_Builder builder;
    builder.MakeCompound(triangles);
    for (TopExp_Explorer face(meshed, TopAbs_FACE); face.More(); face.Next()) {
        TopLoc_Location location;
        TopoDS_Face meshFace;
        builder.MakeFace(meshFace,
                         BRep_Tool::Triangulation(TopoDS::Face(face.Current()), location));
        meshFace.Orientation(face.Current().Orientation());
        builder.Add(triangles, meshFace);
    }
    const TDF_Label exact = m.addPart(box(1, 2, 3), "exakt");
    const TDF_Label mesh = m.addPart(triangles, "netz");
    const TDF_Label assembly = m.shapes->NewShape();
    gp_Trsf twice;
    twice.SetScale(gp_Pnt(0, 0, 0), 2.0);
    gp_Trsf mirror;
    mirror.SetMirror(gp_Ax2(gp::Origin(), gp::DX()));
    m.shapes->AddComponent(assembly, exact, TopLoc_Location(twice));
    m.shapes->AddComponent(assembly, mesh, TopLoc_Location(twice));
    m.shapes->AddComponent(assembly, mesh, TopLoc_Location(mirror));

    const ImportResult result = bodiesOf(m);
    ASSERT_EQ(result.bodies.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        const TopoDS_Shape& shape = result.bodies[std::size_t(i)].shape;
        EXPECT_NEAR(std::abs(shape.Location().Transformation().ScaleFactor()), 1.0, 1e-12);
        EXPECT_NEAR(volumeOf(shape), 48.0, 1e-6);
        EXPECT_NEAR(centreOf(shape).Z(), 3.0, 1e-6);
    }
    // Mirrored: still a positive volume, turned outward, on the other side of x = 0.
    GProp_GProps props;
    BRepGProp::VolumeProperties(result.bodies[2].shape, props);
    EXPECT_NEAR(props.Mass(), 6.0, 1e-6);
    EXPECT_NEAR(centreOf(result.bodies[2].shape).X(), -0.5, 1e-6);
}
