#include "TestPart.h"

#include "io/Export.h"
#include "io/Import.h"
#include "io/ShapeText.h"
#include "model/ShapeSignature.h"
#include "tests/common/TempFiles.h"
#include "tests/fixtures/MeshSoup.h"
#include "tests/fixtures/StlFixtures.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gp_GTrsf.hxx>

#include <numbers>

using namespace qor::model;
using qor::fixtures::Soup;

namespace {

// The triangles of the perforated plate, as an STL file holds them.
const std::vector<qor::fixtures::Triangle>& plateTriangles()
{
    static const std::vector<qor::fixtures::Triangle> triangles
        = qor::fixtures::meshedTriangles(qor::fixtures::perforatedPlate(), 0.05);
    return triangles;
}

// What a body of triangles is in an STL file: its triangles as written.
struct MeshFacts {
    std::size_t triangles = 0;
    gp_Pnt low{1e300, 1e300, 1e300};
    gp_Pnt high{-1e300, -1e300, -1e300};
    double volume = 0.0;
};

MeshFacts factsOf(const Soup& soup)
{
    MeshFacts facts;
    facts.triangles = soup.triangles.size();
    for (const gp_Pnt& p : soup.nodes) {
        for (int k = 1; k <= 3; ++k) {
            facts.low.SetCoord(k, std::min(facts.low.Coord(k), p.Coord(k)));
            facts.high.SetCoord(k, std::max(facts.high.Coord(k), p.Coord(k)));
        }
    }
    facts.volume = qor::fixtures::signedVolume(soup);
    return facts;
}

// The plate's triangles with their corners moved by the transformation and,
// where it mirrors, turned round: the file a faithful copy of the body gives.
Soup plateSoup(const gp_GTrsf& trsf)
{
    const auto image = [&trsf](gp_XYZ p) {
        trsf.Transforms(p);
        return p;
    };
    const gp_XYZ o = image({0, 0, 0});
    const bool mirrors
        = (image({1, 0, 0}) - o).Dot((image({0, 1, 0}) - o).Crossed(image({0, 0, 1}) - o)) < 0.0;
    Soup soup;
    for (const auto& triangle : plateTriangles()) {
        std::array<int, 3> t{};
        for (int c = 0; c < 3; ++c) {
            gp_XYZ p(triangle[std::size_t(c)][0], triangle[std::size_t(c)][1],
                     triangle[std::size_t(c)][2]);
            trsf.Transforms(p);
            t[std::size_t(c)] = int(soup.nodes.size());
            soup.nodes.emplace_back(p);
        }
        if (mirrors)
            std::swap(t[1], t[2]);
        soup.triangles.push_back(t);
    }
    return soup;
}

// The body written as binary STL and read back byte by byte.
MeshFacts writtenFacts(const TopoDS_Shape& shape)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("k.stl"));
    QString error;
    EXPECT_TRUE(
        qor::io::exportFile(path, {{QStringLiteral("k"), shape}}, qor::io::ExportOptions(), &error))
        << error.toStdString();
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return factsOf(qor::fixtures::binaryStlSoup(file.readAll()));
}

// A part holding the plate read from an STL file as body "teil"; returns its id.
int importPlate(TestPart& part)
{
    const QTemporaryDir dir;
    const QString path = qor::test::writeFile(
        dir, QStringLiteral("teil.stl"),
        qor::fixtures::binaryStl(plateTriangles(), std::uint32_t(plateTriangles().size())));
    const qor::io::ImportResult read = qor::io::readInThisProcess(path, {}, {});
    EXPECT_TRUE(read.ok && read.meshBodies) << read.error.toStdString();
    if (!read.ok)
        return 0;
    return part.body("import", {{"file", path},
                                {"brep", qor::io::shapeToBase64(read.bodies.front().shape)},
                                {"names", QJsonArray{"teil"}}});
}

gp_GTrsf translation(double dx, double dy, double dz)
{
    gp_Trsf trsf;
    trsf.SetTranslation(gp_Vec(dx, dy, dz));
    return gp_GTrsf(trsf);
}

gp_GTrsf rotationZ(double degrees, const gp_Vec& then = {})
{
    gp_Trsf turn;
    turn.SetRotation(gp::OZ(), degrees * std::numbers::pi / 180.0);
    gp_Trsf move;
    move.SetTranslation(then);
    return gp_GTrsf(move * turn);
}

gp_GTrsf scaling(double fx, double fy, double fz, const gp_XYZ& centre = {})
{
    gp_GTrsf trsf;
    trsf.SetVectorialPart(gp_Mat(fx, 0, 0, 0, fy, 0, 0, 0, fz));
    trsf.SetTranslationPart(
        gp_XYZ((1 - fx) * centre.X(), (1 - fy) * centre.Y(), (1 - fz) * centre.Z()));
    return trsf;
}

// The centre of the volume the triangles enclose, summed over the tetrahedra they
// make with the origin.
gp_XYZ volumeCentre(const Soup& soup)
{
    gp_XYZ moment;
    double volume = 0.0;
    for (const auto& t : soup.triangles) {
        const gp_XYZ& a = soup.nodes[std::size_t(t[0])].XYZ();
        const gp_XYZ& b = soup.nodes[std::size_t(t[1])].XYZ();
        const gp_XYZ& c = soup.nodes[std::size_t(t[2])].XYZ();
        const double v = a.Dot(b.Crossed(c)) / 6.0;
        moment += (a + b + c) * (v / 4.0);
        volume += v;
    }
    return moment / volume;
}

gp_GTrsf mirrorX()
{
    gp_Trsf trsf;
    trsf.SetMirror(gp::YOZ());
    return gp_GTrsf(trsf);
}

void expectFacts(const MeshFacts& got, const MeshFacts& want, const std::string& what)
{
    EXPECT_EQ(got.triangles, want.triangles) << what;
    EXPECT_LT(got.low.Distance(want.low), 1e-3) << what;
    EXPECT_LT(got.high.Distance(want.high), 1e-3) << what;
    EXPECT_NEAR(got.volume, want.volume, 1e-4 * std::abs(want.volume)) << what;
}

struct Transformed {
    const char* type;
    QJsonObject params; // "bodies" is added
    gp_GTrsf trsf; // where the copy lands
    bool newBody; // the copy is a body of its own, else the plate itself changes
    bool joined; // the plate keeps its original triangles and takes the copy's
};

} // namespace

// A body read from an STL file is only triangles: moves, scales, patterns and
// mirrors act on them. The file written from the result holds as many
// triangles as the plate's, moved as the feature moves the plate, and encloses
// the plate's volume changed by the transformation's factor, facing outward.
TEST(MeshBody, MovesScalesPatternsAndMirrorsTheTriangles)
{
    const QJsonObject bodiesSource{{"source", "bodies"}};
    const QJsonObject yz = TestPart::origin(-3);
    const gp_XYZ centre = volumeCentre(plateSoup(gp_GTrsf()));
    const auto with = [](QJsonObject params, const QJsonObject& more) {
        for (auto it = more.begin(); it != more.end(); ++it)
            params[it.key()] = it.value();
        return params;
    };
    const std::vector<Transformed> cases = {
        {"move", {{"dx", "20 mm"}}, translation(20, 0, 0), false, false},
        {"move", {{"dx", "20 mm"}, {"copy", true}}, translation(20, 0, 0), true, false},
        {"move", {{"dy", "5 mm"}, {"angle", "90 deg"}}, rotationZ(90, {0, 5, 0}), false, false},
        {"scale", {{"factor", "2"}, {"center", "origin"}}, scaling(2, 2, 2), false, false},
        {"scale",
         {{"factor", "3"}, {"center", "centroid"}},
         scaling(3, 3, 3, centre),
         false,
         false},
        {"scale",
         {{"mode", "axes"}, {"fx", "2"}, {"fy", "1"}, {"fz", "0.5"}, {"center", "origin"}},
         scaling(2, 1, 0.5),
         false,
         false},
        {"pattern_rect",
         with(bodiesSource, {{"count1", 2}, {"spacing1", "100 mm"}, {"join", false}}),
         translation(100, 0, 0), true, false},
        {"pattern_circ", with(bodiesSource, {{"count", 2}, {"join", false}}), rotationZ(180), true,
         false},
        {"mirror", with(bodiesSource, {{"join", false}, {"plane", yz}}), mirrorX(), true, false},
        {"mirror", with(bodiesSource, {{"join", true}, {"plane", yz}}), mirrorX(), false, true},
    };
    const MeshFacts plate = factsOf(plateSoup(gp_GTrsf()));
    ASSERT_GT(plate.volume, 0.0);
    for (const Transformed& c : cases) {
        const std::string what
            = std::string(c.type) + " " + QJsonDocument(c.params).toJson().toStdString();
        TestPart part;
        const int id = importPlate(part);
        ASSERT_NE(id, 0);
        QJsonObject params = c.params;
        params["bodies"] = QJsonArray{id};
        ASSERT_EQ(part.run(c.type, params).toStdString(), "") << what;
        ASSERT_EQ(part.state.bodies.size(), c.newBody ? 2u : 1u) << what;
        const int result = part.state.bodies.rbegin()->first;
        EXPECT_EQ(result == id, !c.newBody) << what;
        MeshFacts want = factsOf(plateSoup(c.trsf));
        if (c.joined) {
            want.triangles += plate.triangles;
            want.volume += plate.volume;
            for (int k = 1; k <= 3; ++k) {
                want.low.SetCoord(k, std::min(want.low.Coord(k), plate.low.Coord(k)));
                want.high.SetCoord(k, std::max(want.high.Coord(k), plate.high.Coord(k)));
            }
        }
        EXPECT_GT(want.volume, 0.0) << what;
        expectFacts(writtenFacts(part.shape(result)), want, what);
        if (c.newBody)
            expectFacts(writtenFacts(part.shape(id)), plate, what + " (original)");
    }
}

// Features that work on the faces' surfaces or edges refuse a body of
// triangles with a German text that names it and says why, instead of a
// kernel failure or a false reason.
TEST(MeshBody, SurfaceFeaturesRefuseIt)
{
    const QString mesh
        = QStringLiteral("„teil“ ist ein Netzkörper aus einem Import (nur Dreiecke) und ");
    struct Refused {
        const char* type;
        QJsonObject params; // "BODY", "FACE", "BOX", "SKETCH": the plate, its face, a box, a line
        QString failure;
        QString cannot;
    };
    const QString booleans
        = QStringLiteral("lässt sich weder verbinden noch ausschneiden noch verschneiden");
    const std::vector<Refused> cases = {
        {"split", {{"bodies", "BODY"}}, "Teilen fehlgeschlagen", "lässt sich nicht teilen"},
        {"shell", {{"bodies", "BODY"}}, "Schale nicht möglich", "lässt sich nicht aushöhlen"},
        {"shell", {{"faces", "FACE"}}, "Schale nicht möglich", "lässt sich nicht aushöhlen"},
        {"thicken",
         {{"faces", "FACE"}},
         "Aufdicken nicht möglich",
         "hat keine Flächen, die sich aufdicken lassen"},
        {"draft",
         {{"faces", "FACE"}},
         "Formschräge nicht möglich",
         "hat keine Flächen, die sich neigen lassen"},
        {"offset_faces",
         {{"faces", "FACE"}},
         "Fläche versetzen nicht möglich",
         "hat keine Flächen, die sich versetzen lassen"},
        {"delete_faces",
         {{"faces", "FACE"}},
         "Flächen löschen nicht möglich",
         "hat keine Flächen, die sich löschen lassen"},
        {"fillet",
         {{"edges", "FACE"}},
         "Verrundung nicht möglich",
         "hat keine Kanten, die sich verrunden lassen"},
        {"chamfer",
         {{"edges", "FACE"}},
         "Fase nicht möglich",
         "hat keine Kanten, die sich anfasen lassen"},
        {"thread", {{"faces", "FACE"}}, "Gewinde nicht möglich", "hat keine zylindrischen Flächen"},
        {"hole",
         {{"points", "SKETCH"}, {"targets", "BODY"}},
         "Ausschneiden fehlgeschlagen",
         booleans},
        {"rib",
         {{"sketch", "SKETCH"}, {"targets", "BODY"}},
         "Rippe nicht möglich",
         "nimmt keine Rippe auf"},
        {"combine",
         {{"target", "BODY"}, {"tools", "BOX"}, {"op", "join"}},
         "Verbinden fehlgeschlagen",
         booleans},
        {"combine",
         {{"target", "BOX"}, {"tools", "BODY"}, {"op", "cut"}},
         "Ausschneiden fehlgeschlagen",
         booleans},
    };
    for (const Refused& c : cases) {
        TestPart part;
        const int id = importPlate(part);
        ASSERT_NE(id, 0);
        const int box = part.cube(10, 200);
        const TopoDS_Shape face = TopExp_Explorer(part.shape(id), TopAbs_FACE).Current();
        const int line
            = part.sketch(gp_Ax3(gp_Pnt(0, 0, 5), gp::DZ(), gp::DX()), [](qor::sketch::Sketch& s) {
                  s.addLineAt(false, 5, 5, 5, 35);
                  s.addPoint(false, 40, 20);
              });
        QJsonObject params;
        for (auto it = c.params.begin(); it != c.params.end(); ++it) {
            const QString v = it.value().toString();
            params[it.key()] = v == "BODY"   ? QJsonValue(QJsonArray{id})
                               : v == "BOX"  ? QJsonValue(QJsonArray{box})
                               : v == "FACE" ? QJsonValue(QJsonArray{faceRef(id, face)})
                               : v == "SKETCH"
                                   ? QJsonValue(QJsonObject{{"kind", "sketch"}, {"id", line}})
                                   : it.value();
        }
        EXPECT_EQ(part.run(c.type, params).toStdString(),
                  (c.failure + QStringLiteral(": ") + mesh + c.cannot).toStdString())
            << c.type;
    }
}

// A face or an edge of a body of triangles gives no plane and no axis: planes,
// sketches, profiles and axes taken from one say that the body is a mesh body,
// not that the face is curved or that the reference was lost.
TEST(MeshBody, GivesNoPlaneOrAxis)
{
    const QString mesh
        = QStringLiteral("„teil“ ist ein Netzkörper aus einem Import (nur Dreiecke) und ");
    const QString noPlane = QStringLiteral("hat keine Flächen, die sich als Ebene nehmen lassen");
    const QString noAxis
        = QStringLiteral("hat keine Kanten oder Flächen, aus denen sich eine Achse ableiten lässt");
    struct Refused {
        const char* type;
        const char* key; // takes the mesh's face or edge
        bool edge;
        bool list; // the key holds a list of references
        QString failure;
        QString cannot;
    };
    const std::vector<Refused> cases = {
        {"plane", "base", false, false, "Ebene nicht möglich", noPlane},
        {"sketch", "plane", false, false, "Ebene nicht möglich", noPlane},
        {"box", "plane", false, false, "Ebene nicht möglich", noPlane},
        {"extrude", "profile", false, true, "Profil nicht möglich", noPlane},
        {"axis", "ref", true, false, "Achse nicht möglich", noAxis},
        {"axis", "ref", false, false, "Achse nicht möglich", noAxis},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.key);
        TestPart part;
        const int id = importPlate(part);
        ASSERT_NE(id, 0);
        // Every face of the plate is a flat triangle.
        const TopoDS_Shape face = TopExp_Explorer(part.shape(id), TopAbs_FACE).Current();
        const TopoDS_Shape edge = TopExp_Explorer(face, TopAbs_EDGE).Current();
        const QJsonObject picked = c.edge ? edgeRef(id, edge) : faceRef(id, face);
        const QJsonObject params{
            {c.key, c.list ? QJsonValue(QJsonArray{picked}) : QJsonValue(picked)}};
        EXPECT_EQ(part.run(c.type, params).toStdString(),
                  (c.failure + QStringLiteral(": ") + mesh + c.cannot).toStdString());
        EXPECT_TRUE(part.state.planes.empty());
        EXPECT_TRUE(part.state.axes.empty());
        EXPECT_EQ(part.state.bodies.size(), 1u);
    }
}
