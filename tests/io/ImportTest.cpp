#include "io/Import.h"
#include "io/XcafBodies.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"

#include <BRepGProp.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <BRepBndLib.hxx>
#include <GProp_GProps.hxx>
#include <IGESCAFControl_Writer.hxx>
#include <IGESControl_Controller.hxx>
#include <Message_ProgressRange.hxx>
#include <RWGltf_CafWriter.hxx>
#include <RWObj_CafWriter.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <STEPControl_Controller.hxx>
#include <StlAPI_Writer.hxx>
#include <TColStd_IndexedDataMapOfStringString.hxx>
#include <TDataStd_Name.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

using namespace qor::io;
using qor::test::findBody;
using qor::test::volumeOf;

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

constexpr double boxVolume = 10.0 * 20.0 * 30.0;
const double cylinderVolume = M_PI * 5.0 * 5.0 * 10.0;

gp_Pnt centreOf(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box);
    double x0, y0, z0, x1, y1, z1;
    box.Get(x0, y0, z0, x1, y1, z1);
    return {(x0 + x1) / 2, (y0 + y1) / 2, (z0 + z1) / 2};
}

Quantity_Color srgb(double r, double g, double b)
{
    return Quantity_Color(r, g, b, Quantity_TOC_sRGB);
}

void setName(const TDF_Label& label, const char* name)
{
    TDataStd_Name::Set(label, TCollection_ExtendedString(name, true));
}

// Owns an XCAF document for a test and closes it afterwards. Labels get only the
// names the test gives them, as in files that name nothing else.
struct Document {
    Handle(TDocStd_Document) doc = newXcafDocument();
    Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
    Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(doc->Main());
    const bool autoNaming = XCAFDoc_ShapeTool::AutoNaming();

    Document() { XCAFDoc_ShapeTool::SetAutoNaming(false); }
    ~Document()
    {
        XCAFDoc_ShapeTool::SetAutoNaming(autoNaming);
        closeXcafDocument(doc);
    }

    TDF_Label addPart(const TopoDS_Shape& shape, const char* name)
    {
        const TDF_Label label = shapes->AddShape(shape, false);
        setName(label, name);
        return label;
    }
};

// A red box "Quader" at the origin and a blue cylinder "Zylinder" beside it,
// meshed finely so the mesh formats keep the volumes within a fraction of a percent.
struct TwoBodyModel : Document {
    TopoDS_Shape box = BRepPrimAPI_MakeBox(10, 20, 30).Shape();
    TopoDS_Shape cylinder =
        BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(40, 0, 0), gp::DZ()), 5, 10).Shape();

    TwoBodyModel()
    {
        BRepMesh_IncrementalMesh(box, 0.01);
        BRepMesh_IncrementalMesh(cylinder, 0.01, false, 0.1);
        colors->SetColor(addPart(box, "Quader"), srgb(0.8, 0.1, 0.1), XCAFDoc_ColorSurf);
        colors->SetColor(addPart(cylinder, "Zylinder"), srgb(0.1, 0.2, 0.9), XCAFDoc_ColorSurf);
    }

    TopoDS_Compound compound() const
    {
        TopoDS_Compound all;
        BRep_Builder builder;
        builder.MakeCompound(all);
        builder.Add(all, box);
        builder.Add(all, cylinder);
        return all;
    }

    bool write(const QString& path) const
    {
        const QByteArray name = path.toLocal8Bit();
        const QString suffix = path.section('.', -1);
        TColStd_IndexedDataMapOfStringString info;
        if (suffix == "step") {
            STEPControl_Controller::Init();
            STEPCAFControl_Writer writer;
            return writer.Transfer(doc, STEPControl_AsIs) && writer.Write(name.constData()) == IFSelect_RetDone;
        }
        if (suffix == "igs") {
            IGESControl_Controller::Init();
            IGESCAFControl_Writer writer;
            return writer.Transfer(doc) && writer.Write(name.constData());
        }
        if (suffix == "obj") {
            RWObj_CafWriter writer(name.constData());
            return writer.Perform(doc, info, Message_ProgressRange());
        }
        if (suffix == "gltf" || suffix == "glb") {
            RWGltf_CafWriter writer(name.constData(), suffix == "glb");
            writer.ChangeCoordinateSystemConverter().SetInputLengthUnit(0.001);
            writer.ChangeCoordinateSystemConverter().SetInputCoordinateSystem(RWMesh_CoordinateSystem_Zup);
            return writer.Perform(doc, info, Message_ProgressRange());
        }
        if (suffix == "stl")
            return StlAPI_Writer().Write(compound(), name.constData());
        return BRepTools::Write(compound(), name.constData());
    }
};

void expectColor(const ImportedBody& body, double r, double g, double b)
{
    EXPECT_TRUE(body.hasColor) << body.name.toStdString();
    EXPECT_NEAR(body.r, r, 0.01) << body.name.toStdString();
    EXPECT_NEAR(body.g, g, 0.01) << body.name.toStdString();
    EXPECT_NEAR(body.b, b, 0.01) << body.name.toStdString();
}

QString fileWith(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    EXPECT_TRUE(qor::test::writeFile(path, content));
    return path;
}

} // namespace

TEST(ImportTest, FormatsWithNamesKeepNamesColoursAndVolumes)
{
    struct Case {
        const char* file;
        const char* format;
        bool mesh;
        double tolerance; // relative volume error the format allows
    };
    const Case cases[] = {
        {"modell.step", "STEP", false, 1e-6}, {"modell.igs", "IGES", false, 1e-4},
        {"modell.obj", "OBJ", true, 2e-3},    {"modell.gltf", "glTF", true, 2e-3},
        {"modell.glb", "glTF", true, 2e-3},
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

TEST(ImportTest, StlAndBrepGiveOneUncolouredBodyNamedAfterTheFile)
{
    QTemporaryDir dir;
    TwoBodyModel model;
    const QString stl = dir.filePath("zwei.teile.stl");
    const QString brep = dir.filePath("zwei.teile.brep");
    ASSERT_TRUE(model.write(stl));
    ASSERT_TRUE(model.write(brep));

    const ImportResult mesh = importFile(stl, {});
    ASSERT_TRUE(mesh.ok) << mesh.error.toStdString();
    EXPECT_EQ(mesh.format, "STL");
    EXPECT_TRUE(mesh.meshBodies);
    ASSERT_EQ(mesh.bodies.size(), 1u);
    EXPECT_EQ(mesh.bodies[0].name, "zwei.teile");
    EXPECT_FALSE(mesh.bodies[0].hasColor);
    EXPECT_DOUBLE_EQ(mesh.bodies[0].r, 0.72);
    EXPECT_NEAR(volumeOf(mesh.bodies[0].shape), boxVolume + cylinderVolume, 2.0);

    const ImportResult exact = importFile(brep, {});
    ASSERT_TRUE(exact.ok) << exact.error.toStdString();
    EXPECT_EQ(exact.format, "BREP");
    EXPECT_FALSE(exact.meshBodies);
    ASSERT_EQ(exact.bodies.size(), 1u);
    EXPECT_EQ(exact.bodies[0].name, "zwei.teile");
    EXPECT_NEAR(volumeOf(exact.bodies[0].shape), boxVolume + cylinderVolume, 1e-6);
}

TEST(ImportTest, SuffixChoosesTheReader)
{
    QTemporaryDir dir;
    TwoBodyModel model;
    const QString upper = dir.filePath("GROSS.STEP");
    ASSERT_TRUE(model.write(dir.filePath("GROSS.step")));
    ASSERT_TRUE(QFile::rename(dir.filePath("GROSS.step"), upper));
    const ImportResult step = importFile(upper, {});
    EXPECT_TRUE(step.ok) << step.error.toStdString();
    EXPECT_EQ(step.format, "STEP");

    const ImportResult none = importFile(fileWith(dir, "ohneendung", "solid"), {});
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.error, "Unbekanntes Dateiformat .");
    EXPECT_TRUE(none.format.isEmpty());
    EXPECT_TRUE(none.bodies.empty());

    EXPECT_EQ(importFile(dir.filePath("archiv.tar.gz"), {}).error, "Unbekanntes Dateiformat .gz");
    EXPECT_EQ(importFile(dir.filePath("teil.qcpart"), {}).error, "Unbekanntes Dateiformat .qcpart");

    EXPECT_TRUE(isImportable("/a/b/TEIL.XMT_TXT"));
    EXPECT_TRUE(isImportable("teil.f3z"));
    EXPECT_TRUE(isImportable("teil.Stp"));
    EXPECT_FALSE(isImportable("teil.qcpart"));
    EXPECT_FALSE(isImportable("teil.step.bak"));
    EXPECT_FALSE(isImportable("step"));
    EXPECT_FALSE(importFilter().contains("xmt"));
    EXPECT_TRUE(importFilter().startsWith("Alle unterstützten Dateien (*.qcpart *.qcasm *.step"));
    EXPECT_TRUE(exportFilter().endsWith("OpenCASCADE BREP (*.brep)"));
}

TEST(ImportTest, FormatsWithoutReaderAreRefusedByName)
{
    QTemporaryDir dir;
    const struct {
        const char* file;
        const char* format;
    } cases[] = {{"a.x_b", "Parasolid"},          {"a.xmt_txt", "Parasolid"},
                 {"a.par", "Solid Edge Bauteil"}, {"a.PSM", "Solid Edge Blechteil"},
                 {"a.asm", "Solid Edge Baugruppe"}, {"a.f3d", "Autodesk Fusion"},
                 {"a.f3z", "Autodesk Fusion"}};
    for (const auto& c : cases) {
        const ImportResult result = importFile(fileWith(dir, c.file, "PS-daten"), {});
        EXPECT_FALSE(result.ok) << c.file;
        EXPECT_EQ(result.format, c.format);
        EXPECT_EQ(result.error,
                  QStringLiteral("Das Format „%1“ kann diese Version noch nicht lesen").arg(c.format));
        EXPECT_TRUE(result.bodies.empty());
    }
}

TEST(ImportTest, BrokenFilesGiveGermanErrors)
{
    QTemporaryDir dir;
    const QByteArray junk("das ist keine CAD-Datei\n\x01\x02\x03");
    const struct {
        const char* file;
        QByteArray content;
        const char* error;
        const char* format;
    } cases[] = {
        {"kaputt.step", junk, "STEP-Datei konnte nicht gelesen werden", "STEP"},
        // The IGES reader takes almost any text; nothing comes of it.
        {"kaputt.igs", junk, "Die Datei enthält keine Geometrie", "IGES"},
        {"leer.stl", "", "STL-Datei enthält keine Dreiecke", "STL"},
        {"ohne.stl", "solid leer\nendsolid leer\n", "STL-Datei enthält keine Dreiecke", "STL"},
        {"leer.obj", "", "OBJ-Datei konnte nicht gelesen werden", "OBJ"},
        {"punkte.obj", "v 0 0 0\nv 1 0 0\n", "Die Datei enthält keine Geometrie", "OBJ"},
        {"kaputt.gltf", "{ \"asset\": 3 ", "glTF-Datei konnte nicht gelesen werden", "glTF"},
        {"kaputt.glb", junk, "glTF-Datei konnte nicht gelesen werden", "glTF"},
        {"kaputt.brep", junk, "BREP-Datei konnte nicht gelesen werden", "BREP"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const ImportResult result = importFile(fileWith(dir, c.file, c.content), {});
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.format, c.format);
        EXPECT_TRUE(result.bodies.empty());
    }
    EXPECT_EQ(importFile(dir.filePath("fehlt.step"), {}).error,
              "STEP-Datei konnte nicht gelesen werden");
    EXPECT_EQ(importFile(dir.filePath("fehlt.igs"), {}).error,
              "IGES-Datei konnte nicht gelesen werden");
    EXPECT_EQ(importFile(dir.filePath("fehlt.brep"), {}).error,
              "BREP-Datei konnte nicht gelesen werden");
}

TEST(ImportTest, ProgressRunsToOneHundredWithEmptyLabels)
{
    QTemporaryDir dir;
    TwoBodyModel model;
    const QString path = dir.filePath("fortschritt.step");
    ASSERT_TRUE(model.write(path));
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

TEST(XcafBodiesTest, AssemblyInstancesArePlacedAndNamed)
{
    Document d;
    const TopoDS_Shape part = BRepPrimAPI_MakeBox(1, 1, 1).Shape();
    const TDF_Label p = d.addPart(part, "P");
    const TDF_Label a = d.shapes->NewShape();
    setName(a, "A");
    gp_Trsf right;
    right.SetTranslation(gp_Vec(10, 0, 0));
    gp_Trsf up;
    up.SetTranslation(gp_Vec(0, 0, 20));
    const TDF_Label first = d.shapes->AddComponent(a, p, TopLoc_Location(right));
    setName(first, "links");
    d.shapes->AddComponent(a, p, TopLoc_Location(up));
    d.shapes->UpdateAssemblies();

    ImportResult result;
    collectXcafBodies(d.doc, result);
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.bodies.size(), 2u);
    EXPECT_EQ(result.bodies[0].name, "links");
    EXPECT_EQ(result.bodies[1].name, "P");
    EXPECT_NEAR(centreOf(result.bodies[0].shape).X(), 10.5, 1e-9);
    EXPECT_NEAR(centreOf(result.bodies[1].shape).Z(), 20.5, 1e-9);
    EXPECT_FALSE(result.bodies[0].hasColor);
}

TEST(XcafBodiesTest, NestedPlacementsMultiplyOutermostFirst)
{
    Document d;
    const TDF_Label p = d.addPart(BRepPrimAPI_MakeBox(2, 1, 1).Shape(), "P");
    const TDF_Label b = d.shapes->NewShape();
    const TDF_Label a = d.shapes->NewShape();
    gp_Trsf turn; // a quarter turn about Z in A, then a shift along x inside B
    turn.SetRotation(gp::OZ(), M_PI / 2);
    gp_Trsf shift;
    shift.SetTranslation(gp_Vec(10, 0, 0));
    d.shapes->AddComponent(b, p, TopLoc_Location(shift));
    d.shapes->AddComponent(a, b, TopLoc_Location(turn));
    d.shapes->UpdateAssemblies();

    ImportResult result;
    collectXcafBodies(d.doc, result);
    ASSERT_EQ(result.bodies.size(), 1u);
    // Shifted to x 10..12 first, then turned: the part lies at y 10..12, x -1..0.
    const gp_Pnt centre = centreOf(result.bodies[0].shape);
    EXPECT_NEAR(centre.X(), -0.5, 1e-7);
    EXPECT_NEAR(centre.Y(), 11.0, 1e-7);
}

TEST(XcafBodiesTest, ColourLookupOrder)
{
    Document d;
    const TopoDS_Shape faceColoured = BRepPrimAPI_MakeBox(1, 1, 1).Shape();
    const TDF_Label onlyFace = d.addPart(faceColoured, "Fläche");
    const TopoDS_Shape thirdFace = [&] {
        TopExp_Explorer face(faceColoured, TopAbs_FACE);
        face.Next();
        face.Next();
        return face.Current();
    }();
    d.colors->SetColor(d.shapes->AddSubShape(onlyFace, thirdFace), srgb(0.0, 1.0, 0.0),
                       XCAFDoc_ColorSurf);

    // Instance and part both coloured: the part wins.
    const TDF_Label part = d.addPart(BRepPrimAPI_MakeBox(2, 2, 2).Shape(), "Teil");
    d.colors->SetColor(part, srgb(0.2, 0.3, 0.4), XCAFDoc_ColorSurf);
    const TDF_Label assembly = d.shapes->NewShape();
    const TDF_Label instance = d.shapes->AddComponent(assembly, part, TopLoc_Location());
    d.colors->SetColor(instance, srgb(0.9, 0.9, 0.0), XCAFDoc_ColorSurf);
    // Only the instance coloured: the instance colour is used.
    const TDF_Label plain = d.addPart(BRepPrimAPI_MakeBox(3, 3, 3).Shape(), "Schlicht");
    const TDF_Label plainInstance = d.shapes->AddComponent(assembly, plain, TopLoc_Location());
    d.colors->SetColor(plainInstance, srgb(0.5, 0.0, 0.5), XCAFDoc_ColorGen);
    d.colors->SetColor(plainInstance, srgb(0.0, 0.5, 0.5), XCAFDoc_ColorSurf);
    // A generic colour on the part counts; a curve colour does not.
    const TDF_Label generic = d.addPart(BRepPrimAPI_MakeBox(4, 4, 4).Shape(), "Allgemein");
    d.colors->SetColor(generic, srgb(0.3, 0.3, 0.3), XCAFDoc_ColorGen);
    const TDF_Label curve = d.addPart(BRepPrimAPI_MakeBox(5, 5, 5).Shape(), "Kurve");
    d.colors->SetColor(curve, srgb(1.0, 0.0, 0.0), XCAFDoc_ColorCurv);
    d.shapes->UpdateAssemblies();

    ImportResult result;
    collectXcafBodies(d.doc, result);
    ASSERT_TRUE(result.ok);
    const ImportedBody* face = findBody(result, "Fläche");
    const ImportedBody* teil = findBody(result, "Teil");
    const ImportedBody* schlicht = findBody(result, "Schlicht");
    const ImportedBody* allgemein = findBody(result, "Allgemein");
    const ImportedBody* kurve = findBody(result, "Kurve");
    ASSERT_TRUE(face && teil && schlicht && allgemein && kurve);
    expectColor(*face, 0.0, 1.0, 0.0);
    expectColor(*teil, 0.2, 0.3, 0.4);
    expectColor(*schlicht, 0.0, 0.5, 0.5);
    expectColor(*allgemein, 0.3, 0.3, 0.3);
    EXPECT_FALSE(kurve->hasColor);
}

TEST(XcafBodiesTest, EmptyAndDeepStructures)
{
    {
        Document d;
        TopoDS_Compound empty;
        BRep_Builder().MakeCompound(empty);
        d.shapes->AddShape(empty, true);
        d.shapes->AddShape(empty, true);
        d.shapes->NewShape(); // a product without geometry
        ImportResult result;
        collectXcafBodies(d.doc, result);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, "Die Datei enthält keine Geometrie");
    }
    {
        // An earlier error is kept.
        Document d;
        ImportResult result;
        result.error = "vorher";
        collectXcafBodies(d.doc, result);
        EXPECT_EQ(result.error, "vorher");
    }
    {
        // Chains of assemblies: a part 64 levels down is read, 65 levels down is not.
        Document d;
        const TDF_Label part = d.addPart(BRepPrimAPI_MakeBox(1, 1, 1).Shape(), "tief");
        auto chain = [&](int levels) {
            TDF_Label inner = part;
            for (int i = 0; i < levels; ++i) {
                const TDF_Label outer = d.shapes->NewShape();
                d.shapes->AddComponent(outer, inner, TopLoc_Location());
                inner = outer;
            }
        };
        chain(64);
        chain(65);
        chain(70);
        d.shapes->UpdateAssemblies();
        ImportResult result;
        collectXcafBodies(d.doc, result);
        EXPECT_EQ(result.bodies.size(), 1u);
    }
}

TEST(XcafBodiesTest, ScaledPlacementIsBuiltIntoTheGeometry)
{
    Document d;
    TopoDS_Shape meshed = BRepPrimAPI_MakeBox(1, 2, 3).Shape();
    BRepMesh_IncrementalMesh(meshed, 0.1);
    // A body carried only by its triangles, as the mesh readers make them.
    TopoDS_Compound triangles;
    BRep_Builder builder;
    builder.MakeCompound(triangles);
    for (TopExp_Explorer face(meshed, TopAbs_FACE); face.More(); face.Next()) {
        TopLoc_Location location;
        TopoDS_Face meshFace;
        builder.MakeFace(meshFace, BRep_Tool::Triangulation(TopoDS::Face(face.Current()), location));
        meshFace.Orientation(face.Current().Orientation());
        builder.Add(triangles, meshFace);
    }
    const TDF_Label exact = d.addPart(BRepPrimAPI_MakeBox(1, 2, 3).Shape(), "exakt");
    const TDF_Label mesh = d.addPart(triangles, "netz");
    const TDF_Label assembly = d.shapes->NewShape();
    gp_Trsf twice;
    twice.SetScale(gp_Pnt(0, 0, 0), 2.0);
    gp_Trsf mirror;
    mirror.SetMirror(gp_Ax2(gp::Origin(), gp::DX()));
    d.shapes->AddComponent(assembly, exact, TopLoc_Location(twice));
    d.shapes->AddComponent(assembly, mesh, TopLoc_Location(twice));
    d.shapes->AddComponent(assembly, mesh, TopLoc_Location(mirror));
    d.shapes->UpdateAssemblies();

    ImportResult result;
    collectXcafBodies(d.doc, result);
    ASSERT_EQ(result.bodies.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        const TopoDS_Shape& shape = result.bodies[std::size_t(i)].shape;
        EXPECT_TRUE(shape.Location().IsIdentity() || std::abs(shape.Location().Transformation().ScaleFactor() - 1) < 1e-12);
        EXPECT_NEAR(volumeOf(shape), 48.0, 1e-6);
        EXPECT_NEAR(centreOf(shape).Z(), 3.0, 1e-6);
    }
    // Mirrored: still a positive volume, turned outward, on the other side of x = 0.
    GProp_GProps props;
    BRepGProp::VolumeProperties(result.bodies[2].shape, props);
    EXPECT_NEAR(props.Mass(), 6.0, 1e-6);
    EXPECT_NEAR(centreOf(result.bodies[2].shape).X(), -0.5, 1e-6);
}
