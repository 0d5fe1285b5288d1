#include "IoTestSupport.h"
#include "io/Export.h"
#include "io/ThreeMfWriter.h"
#include "io/Zip.h"

#include "tests/common/ShapeChecks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRep_Builder.hxx>
#include <Poly_Triangulation.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Face.hxx>

#include <array>
#include <numbers>
#include <set>
#include <tuple>

using qor::io::ExportBody;
using qor::io::write3mf;

namespace {

struct Object {
    int id = 0;
    QString name;
    int pid = 0;
    int pindex = -1;
    std::vector<std::array<double, 3>> vertices;
    std::vector<std::array<int, 3>> triangles;
};

struct Model {
    QString unit;
    QString ns;
    std::vector<std::pair<QString, QString>> bases; // name, display colour
    std::vector<Object> objects;
    std::vector<int> items;
    bool wellFormed = false;
};

// Reads the model part back with an XML parser, not by string matching.
Model parseModel(const QByteArray& xml)
{
    Model model;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = reader.attributes();
        const QStringView tag = reader.name();
        if (tag == u"model") {
            model.unit = a.value("unit").toString();
            model.ns = reader.namespaceUri().toString();
        } else if (tag == u"base") {
            model.bases.emplace_back(a.value("name").toString(),
                                     a.value("displaycolor").toString());
        } else if (tag == u"object") {
            Object o;
            o.id = a.value("id").toInt();
            o.name = a.value("name").toString();
            o.pid = a.value("pid").toInt();
            o.pindex = a.value("pindex").toInt();
            model.objects.push_back(o);
        } else if (tag == u"vertex") {
            model.objects.back().vertices.push_back(
                {a.value("x").toDouble(), a.value("y").toDouble(), a.value("z").toDouble()});
        } else if (tag == u"triangle") {
            model.objects.back().triangles.push_back(
                {a.value("v1").toInt(), a.value("v2").toInt(), a.value("v3").toInt()});
        } else if (tag == u"item") {
            model.items.push_back(a.value("objectid").toInt());
        }
    }
    model.wellFormed = !reader.hasError();
    return model;
}

// Signed: positive only when every triangle faces outwards.
double volumeOf(const Object& o)
{
    double volume = 0.0;
    const auto at
        = [&o](int i) { return gp_XYZ(o.vertices[i][0], o.vertices[i][1], o.vertices[i][2]); };
    for (const auto& t : o.triangles)
        volume += at(t[0]).Dot(at(t[1]).Crossed(at(t[2]))) / 6.0;
    return volume;
}

ExportBody meshedBox(const QString& name, double r, double g, double b)
{
    ExportBody body{name, BRepPrimAPI_MakeBox(gp_Pnt(1, 2, 3), 10, 20, 30).Shape(), r, g, b};
    BRepMesh_IncrementalMesh(body.shape, 0.1, false, 0.5, false);
    return body;
}

QByteArray modelText(const QByteArray& package)
{
    qor::ZipReader zip;
    EXPECT_TRUE(zip.open(package));
    return zip.read(QStringLiteral("3D/3dmodel.model"), 1 << 28);
}

Model modelOf(const QByteArray& package)
{
    return parseModel(modelText(package));
}

} // namespace

TEST(ThreeMfPackage, PartsInOrderWithPublishedIdentifiers)
{
    qor::ZipReader zip;
    ASSERT_TRUE(zip.open(write3mf({meshedBox("Teil", 0.5, 0.5, 0.5)})));
    EXPECT_EQ(zip.names(), (QStringList{"[Content_Types].xml", "_rels/.rels", "3D/3dmodel.model"}));
    EXPECT_EQ(
        zip.read(QStringLiteral("[Content_Types].xml"), 1 << 20),
        QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                   "<Default Extension=\"rels\" "
                   "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                   "<Default Extension=\"model\" "
                   "ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/>"
                   "</Types>\n"));
    EXPECT_EQ(
        zip.read(QStringLiteral("_rels/.rels"), 1 << 20),
        QByteArray(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Target=\"/3D/3dmodel.model\" Id=\"rel0\" "
            "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\"/>"
            "</Relationships>\n"));
    const QByteArray xml = zip.read(QStringLiteral("3D/3dmodel.model"), 1 << 20);
    EXPECT_TRUE(xml.contains("<metadata name=\"Application\">QorCAD</metadata>"));
    const Model model = parseModel(xml);
    EXPECT_TRUE(model.wellFormed);
    EXPECT_EQ(model.ns, "http://schemas.microsoft.com/3dmanufacturing/core/2015/02");
    EXPECT_EQ(model.unit, QStringLiteral("millimeter"));
}

TEST(ThreeMfMesh, BoxSharesCornersAndFacesOutwards)
{
    const QByteArray package = write3mf({meshedBox("Quader", 0.72, 0.76, 0.82)});
    const Model model = modelOf(package);
    ASSERT_EQ(model.objects.size(), 1u);
    const Object& o = model.objects[0];
    EXPECT_EQ(o.vertices.size(), 8u);
    EXPECT_EQ(o.triangles.size(), 12u);
    // Positive only when the reversed faces of the box were turned around.
    EXPECT_NEAR(volumeOf(o), 6000.0, 1e-6);
    EXPECT_EQ(model.bases, (std::vector<std::pair<QString, QString>>{{"Quader", "#B8C2D1"}}));
    EXPECT_EQ(model.items, std::vector<int>{2});
    EXPECT_TRUE(modelText(package).contains(
        "\n     <vertex x=\"11.00000\" y=\"22.00000\" z=\"33.00000\"/>\n"));
}

// Every edge of a closed mesh is used once in each direction: corners shared by
// adjacent faces are merged, the seam and the poles close up, and no
// degenerate triangle remains. Solids of one body that touch keep apart, or
// their common edges would carry four triangles.
TEST(ThreeMfMesh, ClosedSolidsAreWatertightWithoutDegenerateTriangles)
{
    TopoDS_Compound touching;
    BRep_Builder builder;
    builder.MakeCompound(touching);
    builder.Add(touching, BRepPrimAPI_MakeBox(10, 10, 10).Shape());
    builder.Add(touching, BRepPrimAPI_MakeBox(gp_Pnt(10, 0, 0), 10, 10, 10).Shape());
    const struct {
        TopoDS_Shape shape;
        double volume;
    } cases[] = {
        {BRepPrimAPI_MakeSphere(gp_Pnt(5, 5, 5), 10).Shape(),
         4.0 / 3.0 * std::numbers::pi * 1000.0},
        {touching, 2000.0},
    };
    for (const auto& c : cases) {
        BRepMesh_IncrementalMesh(c.shape, 0.05, false, 0.3, true);
        const Model model = modelOf(write3mf({ExportBody{QStringLiteral("Teil"), c.shape}}));
        ASSERT_EQ(model.objects.size(), 1u);
        const Object& o = model.objects[0];
        std::set<std::pair<int, int>> edges;
        for (const auto& t : o.triangles) {
            EXPECT_TRUE(t[0] != t[1] && t[1] != t[2] && t[0] != t[2]);
            for (int k = 0; k < 3; ++k)
                EXPECT_TRUE(edges.insert({t[k], t[(k + 1) % 3]}).second);
        }
        for (const auto& [a, b] : edges)
            EXPECT_TRUE(edges.count({b, a})) << a << " " << b;
        EXPECT_LE(volumeOf(o), c.volume * (1 + 1e-9));
        EXPECT_GT(volumeOf(o), 0.99 * c.volume);
    }
}

TEST(ThreeMfMesh, NodesMergedByRoundingDropTheirTriangle)
{
    TColgp_Array1OfPnt nodes(1, 4);
    nodes(1) = gp_Pnt(0, 0, 0);
    nodes(2) = gp_Pnt(1, 0, 0);
    nodes(3) = gp_Pnt(1, 0.000001, 0); // the same vertex once rounded to 0.00001 mm
    nodes(4) = gp_Pnt(0, 1, 0);
    Poly_Array1OfTriangle triangles(1, 2);
    triangles(1) = Poly_Triangle(1, 2, 3);
    triangles(2) = Poly_Triangle(1, 2, 4);
    TopoDS_Face face;
    BRep_Builder().MakeFace(face, new Poly_Triangulation(nodes, triangles));
    const Model model = modelOf(write3mf({ExportBody{{}, face}}));
    ASSERT_EQ(model.objects.size(), 1u);
    EXPECT_EQ(model.objects[0].vertices.size(), 3u);
    EXPECT_EQ(model.objects[0].triangles, (std::vector<std::array<int, 3>>{{0, 1, 2}}));
}

TEST(ThreeMfMaterials, ColoursAreClampedAndNamesEscaped)
{
    std::vector<ExportBody> bodies
        = {meshedBox("A & \"B\" <c>", 1.0, 0.0, 0.5), meshedBox("Klemme", -0.2, 1.3, 0.72)};
    const QByteArray package = write3mf(bodies);
    const Model model = modelOf(package);
    ASSERT_TRUE(model.wellFormed);
    EXPECT_EQ(model.bases, (std::vector<std::pair<QString, QString>>{{"A & \"B\" <c>", "#FF0080"},
                                                                     {"Klemme", "#00FFB8"}}));
    ASSERT_EQ(model.objects.size(), 2u);
    EXPECT_EQ(model.objects[0].name, QStringLiteral("A & \"B\" <c>"));
    EXPECT_EQ(modelText(package).count("name=\"A &amp; &quot;B&quot; &lt;c&gt;\""), 2);

    // Control characters XML cannot carry are left out, so the part still parses.
    bodies[0].name = QStringLiteral("Teil\x01\x1f"
                                    "1");
    const Model cleaned = modelOf(write3mf(bodies));
    EXPECT_TRUE(cleaned.wellFormed);
    ASSERT_FALSE(cleaned.bases.empty());
    EXPECT_EQ(cleaned.bases[0].first, QStringLiteral("Teil1"));
}

TEST(ThreeMfMaterials, BodiesWithoutTriangulationKeepTheirMaterialOnly)
{
    const ExportBody bare{QStringLiteral("ohne Netz"), BRepPrimAPI_MakeBox(3, 3, 3).Shape()};
    const Model model
        = modelOf(write3mf({meshedBox("eins", 1, 0, 0), bare, meshedBox("drei", 0, 0, 1)}));
    ASSERT_EQ(model.bases.size(), 3u);
    EXPECT_EQ(model.bases[1].first, QStringLiteral("ohne Netz"));
    // Objects keep the material index of their body.
    std::vector<std::tuple<int, QString, int, int>> objects;
    for (const Object& o : model.objects)
        objects.emplace_back(o.id, o.name, o.pid, o.pindex);
    EXPECT_EQ(objects, (std::vector<std::tuple<int, QString, int, int>>{{2, "eins", 1, 0},
                                                                        {3, "drei", 1, 2}}));
    EXPECT_EQ(model.items, (std::vector<int>{2, 3}));

    const Model none = modelOf(write3mf({bare}));
    EXPECT_TRUE(none.wellFormed);
    EXPECT_EQ(none.bases.size(), 1u);
    EXPECT_TRUE(none.objects.empty());
    EXPECT_TRUE(none.items.empty());
}

TEST(ThreeMfExport, ExportTessellatesAndReplacesTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("druck.3mf");
    ASSERT_TRUE(qor::test::writeFile(path, "alt"));
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    ASSERT_TRUE(QFile::setPermissions(path, ownerOnly));

    const ExportBody ball{QStringLiteral("Kugel"), BRepPrimAPI_MakeSphere(10).Shape()};
    const ExportBody cube{QStringLiteral("Würfel"), qor::test::box(4, 4, 4, gp_Pnt(30, 0, 0))};
    qor::io::ExportOptions options;
    options.linearDeflection = 0.01;
    QString error;
    ASSERT_TRUE(qor::io::exportFile(path, {ball, cube}, options, &error)) << error.toStdString();

    const Model model = modelOf(qor::test::readFile(path));
    ASSERT_EQ(model.objects.size(), 2u);
    EXPECT_EQ(model.objects[1].name, QStringLiteral("Würfel"));
    constexpr double pi = std::numbers::pi;
    EXPECT_NEAR(volumeOf(model.objects[0]), 4.0 / 3.0 * pi * 1000.0, 0.005 * 4.0 * pi * 100.0);
    EXPECT_NEAR(volumeOf(model.objects[1]), 64.0, 1e-6);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"druck.3mf"});
    // The replaced file keeps its permissions.
    const auto others = QFileDevice::ReadGroup | QFileDevice::ReadOther;
    EXPECT_EQ(QFile::permissions(path) & (ownerOnly | others), ownerOnly);
}

// A mesh body with a fin: three triangles on one edge. The object is written as it is and
// the export says which body slicers may refuse; closed solids are not noted.
TEST(ThreeMfExport, NonManifoldEdgesAreNoted)
{
    const TopoDS_Shape finFace = qor::test::finMesh();

    QTemporaryDir dir;
    const struct {
        std::vector<ExportBody> bodies;
        QString note;
    } cases[] = {
        {{{QStringLiteral("Würfel"), qor::test::box(4, 4, 4)}}, QString()},
        {{{QStringLiteral("Würfel"), qor::test::box(4, 4, 4)}, {QStringLiteral("Flosse"), finFace}},
         // The fin's three triangles have two edges each of their own.
         QStringLiteral("„Flosse“ hat 1 Kante, an der mehr als zwei Dreiecke liegen (nicht "
                        "mannigfaltig); manche Slicer lehnen das Objekt ab oder reparieren es; "
                        "„Flosse“ hat 6 offene Kanten, an denen nur ein Dreieck liegt (Loch im "
                        "Netz); manche Slicer lehnen das Objekt ab oder reparieren es")},
    };
    for (const auto& c : cases) {
        QString note = QStringLiteral("alt");
        const QString path = dir.filePath("teil.3mf");
        ASSERT_TRUE(qor::io::exportFile(path, c.bodies, qor::io::ExportOptions(), nullptr, &note));
        EXPECT_EQ(note, c.note);
        EXPECT_EQ(modelOf(qor::test::readFile(path)).objects.size(), c.bodies.size());
    }
}
