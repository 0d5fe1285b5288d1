#include "TestPart.h"

#include "io/ClosedVolume.h"
#include "io/Import.h"
#include "io/MeshFaces.h"
#include "io/ShapeText.h"
#include "sketch/Plane.h"
#include "tests/common/TempFiles.h"
#include "tests/fixtures/IgesFaceBodies.h"
#include "tests/fixtures/StlFixtures.h"

#include <BRepClass3d_SolidClassifier.hxx>
#include <BRepPrimAPI_MakeBox.hxx>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

using namespace qor::model;

namespace {

// Three unit-height boxes of volume 1, 8 and 27 side by side.
TopoDS_Shape threeSolids()
{
    return qor::compoundOf({BRepPrimAPI_MakeBox(1, 1, 1).Shape(),
                            BRepPrimAPI_MakeBox(gp_Pnt(10, 0, 0), 2, 2, 2).Shape(),
                            BRepPrimAPI_MakeBox(gp_Pnt(20, 0, 0), 3, 3, 3).Shape()});
}

QJsonObject importParams(const TopoDS_Shape& shape, bool split)
{
    return {{"file", "/tmp/teile.step"},
            {"brep", qor::io::shapeToBase64(shape)},
            {"names", QJsonArray{"A", "B"}},
            {"colors", QJsonArray{QJsonArray{1, 0, 0}, QJsonValue(), QJsonArray{0, 0, 1}}},
            {"split", split}};
}

} // namespace

TEST(ImportFeature, SplitCompoundGivesNamedColouredBodies)
{
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("import", importParams(threeSolids(), true), &f), QString());
    const int first = f->id * 100;
    ASSERT_EQ(part.state.bodies.size(), 3u);
    EXPECT_EQ(part.state.bodies.at(first).name, QStringLiteral("A"));
    EXPECT_EQ(part.state.bodies.at(first + 1).name, QStringLiteral("B"));
    EXPECT_EQ(part.state.bodies.at(first + 2).name, QStringLiteral("Körper 1"));
    for (const int k : {0, 1, 2})
        EXPECT_NEAR(part.volume(first + k), (k + 1) * (k + 1) * (k + 1), 1e-9) << k;

    ASSERT_EQ(part.doc.appearance.count(first), 1u);
    const BodyAppearance red = part.doc.appearance.at(first);
    EXPECT_EQ(red.material, QStringLiteral("Stahl"));
    EXPECT_EQ(std::tuple(red.r, red.g, red.b, red.density), std::tuple(1.0, 0.0, 0.0, 7.85));
    EXPECT_EQ(part.doc.appearance.count(first + 1), 0u);
    ASSERT_EQ(part.doc.appearance.count(first + 2), 1u);
    EXPECT_EQ(part.doc.appearance.at(first + 2).b, 1.0);

    // A colour the user changed survives the next recompute of the feature.
    part.doc.appearance[first].g = 0.5;
    part.state = ModelState();
    ASSERT_EQ(part.rerun(*f), QString());
    EXPECT_EQ(part.state.bodies.size(), 3u);
    EXPECT_EQ(part.doc.appearance.at(first).g, 0.5);
    EXPECT_EQ(part.doc.appearance.at(first).r, 1.0);
}

TEST(ImportFeature, WholeShapeAsOneBody)
{
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("import", importParams(threeSolids(), false), &f), QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_EQ(part.state.bodies.at(f->id * 100).name, QStringLiteral("A"));
    EXPECT_EQ(countOf(part.state.bodies.at(f->id * 100).shape, TopAbs_SOLID), 3);
    EXPECT_NEAR(part.volume(f->id * 100), 36.0, 1e-9);
    EXPECT_EQ(part.doc.appearance.at(f->id * 100).r, 1.0);

    // "split" does not break up a shape that is no compound.
    TestPart single;
    ASSERT_EQ(single.run("import", importParams(BRepPrimAPI_MakeBox(4, 5, 6).Shape(), true), &f),
              QString());
    ASSERT_EQ(single.state.bodies.size(), 1u);
    EXPECT_NEAR(single.volume(f->id * 100), 120.0, 1e-9);

    // Entries of the wrong type: no name, colour components that read as 0.
    TestPart odd;
    QJsonObject params = importParams(threeSolids(), true);
    params["names"] = QJsonArray{7, "Zwei"};
    params["colors"] = QJsonArray{QJsonArray{0.25, "x", true}, QJsonArray{1, 1}, "rot"};
    ASSERT_EQ(odd.run("import", params, &f), QString());
    EXPECT_EQ(odd.state.bodies.at(f->id * 100).name, QStringLiteral("Körper 1"));
    EXPECT_EQ(odd.state.bodies.at(f->id * 100 + 1).name, QStringLiteral("Zwei"));
    EXPECT_EQ(odd.state.bodies.at(f->id * 100 + 2).name, QStringLiteral("Körper 2"));
    const BodyAppearance look = odd.doc.appearance.at(f->id * 100);
    EXPECT_EQ(std::tuple(look.r, look.g, look.b), std::tuple(0.25, 0.0, 0.0));
    EXPECT_EQ(odd.doc.appearance.count(f->id * 100 + 1), 0u);
    EXPECT_EQ(odd.doc.appearance.count(f->id * 100 + 2), 0u);
}

TEST(ImportFeature, MissingOrDamagedData)
{
    const QString missing = QStringLiteral("Importdaten fehlen oder sind beschädigt");
    const QString unreadable = QStringLiteral("Importdaten konnten nicht gelesen werden");
    TestPart part;
    EXPECT_EQ(part.run("import", {}), missing);
    EXPECT_EQ(part.run("import", {{"brep", ""}}), missing);
    EXPECT_EQ(part.run("import", {{"brep", 42}}), missing);
    EXPECT_EQ(part.run("import", {{"brep", "@@@@"}}), missing);

    QByteArray hugeSize = qCompress(QByteArray("x"));
    hugeSize[0] = char(0x7f);
    EXPECT_EQ(part.run("import", {{"brep", QString::fromLatin1(hugeSize.toBase64())}}), missing);

    const QString text = qor::io::shapeToBase64(threeSolids());
    EXPECT_EQ(part.run("import", {{"brep", text.left(text.size() / 2)}}), missing);

    const QByteArray noShape = qCompress(QByteArray("this is not a shape"));
    EXPECT_EQ(part.run("import", {{"brep", QString::fromLatin1(noShape.toBase64())}}), unreadable);
    EXPECT_TRUE(part.state.bodies.empty());
}

namespace {

// The body an STL file of a tetrahedron with 20 mm legs gives: triangles only.
TopoDS_Shape stlBody()
{
    const QTemporaryDir dir;
    const QString path
        = qor::test::writeFile(dir, QStringLiteral("teil.stl"),
                               qor::fixtures::binaryStl(qor::fixtures::tetrahedron(20), 4));
    const qor::io::ImportResult read = qor::io::readInThisProcess(path, {}, {});
    EXPECT_TRUE(read.ok) << read.error.toStdString();
    return read.ok ? read.bodies.front().shape : TopoDS_Shape();
}

QJsonObject namedImport(const TopoDS_Shape& shape, const char* file, const char* name)
{
    return {{"file", file}, {"brep", qor::io::shapeToBase64(shape)}, {"names", QJsonArray{name}}};
}

QJsonObject meshImport(const TopoDS_Shape& mesh)
{
    return namedImport(mesh, "/tmp/teil.stl", "teil");
}

QJsonObject boxAt(double x, double y, const char* op)
{
    return {{"x", x}, {"y", y}, {"length", 4}, {"width", 4}, {"height", 4}, {"op", op}};
}

QString meshRefusal(const char* failure)
{
    return QStringLiteral("%1: „teil“ ist ein Netzkörper aus einem Import (nur Dreiecke) und "
                          "lässt sich weder verbinden noch ausschneiden noch verschneiden")
        .arg(QString::fromUtf8(failure));
}

} // namespace

// A body read from a mesh file has faces without surfaces: a cutting box found
// by its box search leaves it as it was and says that it reaches no body it can
// cut, and a joined box becomes a body of its own beside it; both name the mesh
// body, whether the recompute lets their booleans wait in a group or runs them one
// by one.
TEST(ImportFeature, MeshBodyIsLeftAsItWasByCutsAndJoinsThatFindIt)
{
    const TopoDS_Shape mesh = stlBody();
    ASSERT_TRUE(qor::io::isMeshOnly(mesh));
    const QString note = QStringLiteral("„teil“ blieb unverändert: Netzkörper");
    const QString cutWarning = QStringLiteral("Kein Körper im Wirkbereich; ") + note;

    for (const bool grouped : {true, false}) {
        SCOPED_TRACE(grouped ? "grouped" : "one by one");
        Document doc;
        doc.groupBooleans = grouped;
        doc.addFeature("import", meshImport(mesh));
        Feature* cut = doc.addFeature("box", boxAt(3, 3, "cut"));
        Feature* join = doc.addFeature("box", boxAt(4, 4, "join"));
        doc.addFeature("plane", {{"offset", "10 mm"}});
        doc.recompute();
        EXPECT_TRUE(cut->error.isEmpty()) << cut->error.toStdString();
        EXPECT_EQ(cut->warning.toStdString(), cutWarning.toStdString());
        EXPECT_TRUE(join->error.isEmpty()) << join->error.toStdString();
        EXPECT_EQ(join->warning.toStdString(), note.toStdString());
        ASSERT_EQ(doc.current.bodies.size(), 2u);
        int meshBodies = 0;
        for (const auto& [id, body] : doc.current.bodies) {
            if (qor::io::isMeshOnly(body.shape)) {
                ++meshBodies;
                EXPECT_TRUE(body.shape.IsSame(doc.snapshots.at(1).bodies.at(id).shape));
            } else {
                EXPECT_NEAR(shapeVolume(body.shape), 64.0, 1e-6);
            }
        }
        EXPECT_EQ(meshBodies, 1);
    }

    TestPart part;
    ASSERT_EQ(part.run("import", meshImport(mesh)), QString());
    Feature* cut = nullptr;
    Feature* join = nullptr;
    EXPECT_EQ(part.run("box", boxAt(3, 3, "cut"), &cut), QString());
    EXPECT_EQ(cut->warning.toStdString(), cutWarning.toStdString());
    EXPECT_EQ(part.run("box", boxAt(4, 4, "join"), &join), QString());
    EXPECT_EQ(join->warning.toStdString(), note.toStdString());
    EXPECT_EQ(part.state.bodies.size(), 2u);
}

namespace {

// The body an IGES file of a box 40 × 30 × 20 from the origin without its top face
// gives: five trimmed faces that enclose nothing.
TopoDS_Shape igesOpenBox()
{
    const QTemporaryDir dir;
    const QString path
        = qor::test::writeFile(dir, QStringLiteral("offen.igs"),
                               qor::fixtures::igesFaceBodies({qor::fixtures::openBox()}));
    const qor::io::ImportResult read = qor::io::readInThisProcess(path, {}, {});
    EXPECT_TRUE(read.ok) << read.error.toStdString();
    return read.ok ? read.bodies.front().shape : TopoDS_Shape();
}

// A body the tool cannot cut: what it is read from and what is said of it.
struct Uncuttable {
    TopoDS_Shape shape;
    QJsonObject import;
    QString note; // the warning when the box search found it among others
    QString refusal; // after the boolean's failure text, when it is the target
};

std::vector<Uncuttable> uncuttables()
{
    const TopoDS_Shape faces = igesOpenBox();
    const TopoDS_Shape mesh = stlBody();
    return {
        {faces, namedImport(faces, "/tmp/offen.igs", "offen"),
         QStringLiteral("„offen“ blieb unverändert: nur Flächen"),
         QStringLiteral("„offen“ hat kein geschlossenes Volumen, nur Flächen")},
        {mesh, meshImport(mesh), QStringLiteral("„teil“ blieb unverändert: Netzkörper"),
         QStringLiteral("„teil“ ist ein Netzkörper aus einem Import (nur Dreiecke) und lässt sich "
                        "weder verbinden noch ausschneiden noch verschneiden")},
    };
}

constexpr double plateVolume = 100.0 * 80.0 * 5.0;
// A cylinder of 6 mm across through the 5 mm plate.
const double boreVolume = M_PI * 3.0 * 3.0 * 5.0;

struct SetAsideCase {
    const char* what;
    const char* op;
    bool plate; // a plate of 100 × 80 × 5 about the origin
    bool chosen; // the cylinder names the plate and the body as its targets
    bool pattern; // a pattern repeats the cylinder 20 mm along x
    bool refused;
    double plateAfter; // the plate's volume at the end, from the measures
};

// The built history: import, plate, cylinder at (20, 15), pattern, a plane after
// them so that the booleans may wait in a group.
struct SetAsideHistory {
    Document doc;
    Feature* tool = nullptr;
    Feature* pattern = nullptr;
    int bodyId = 0;
    int plateId = 0;

    SetAsideHistory(const SetAsideCase& c, const Uncuttable& body, bool grouped)
    {
        doc.groupBooleans = grouped;
        bodyId = doc.addFeature("import", body.import)->id * 100;
        if (c.plate)
            plateId
                = doc.addFeature("box", {{"length", 100}, {"width", 80}, {"height", 5}})->id * 100;
        QJsonObject cylinder{{"x", 20}, {"y", 15}, {"diameter", 6}, {"height", 5}, {"op", c.op}};
        if (c.chosen)
            cylinder.insert("targets", QJsonArray{QJsonObject{{"kind", "body"}, {"id", plateId}},
                                                  QJsonObject{{"kind", "body"}, {"id", bodyId}}});
        tool = doc.addFeature("cylinder", cylinder);
        if (c.pattern)
            pattern = doc.addFeature("pattern_rect",
                                     {{"source", "features"},
                                      {"features", QJsonArray{QJsonObject{{"id", tool->id}}}},
                                      {"count1", 2},
                                      {"spacing1", 20}});
        doc.addFeature("plane", {{"offset", "10 mm"}});
        doc.recompute();
    }
};

} // namespace

// A plate, and a body of open faces or of triangles in reach of a cylinder's box:
// the cut, intersect or join found by the box search does its work on the plate and
// leaves the other body as it was, naming it in the warning, grouped or one by one,
// and a pattern of the cylinder reaches only the plate. Alone in reach, the body is
// left as it was with the warning that no body is in reach (a join makes a new
// body beside it); chosen as a target, it
// is refused with the reason, and the plate keeps its volume.
TEST(ImportFeature, BooleanSetsAsideBodiesItCannotCut)
{
    const SetAsideCase cases[] = {
        {"cut found the plate", "cut", true, false, false, false, plateVolume - boreVolume},
        {"cut repeated", "cut", true, false, true, false, plateVolume - 2 * boreVolume},
        {"intersect found the plate", "intersect", true, false, false, false, boreVolume},
        {"cut of the chosen body", "cut", true, true, false, true, plateVolume},
        {"intersect of the chosen body", "intersect", true, true, false, true, plateVolume},
        {"join found the plate", "join", true, false, false, false, plateVolume},
        {"join of the chosen body", "join", true, true, false, true, plateVolume},
        {"cut with nothing else in reach", "cut", false, false, false, false, 0.0},
        {"intersect with nothing else in reach", "intersect", false, false, false, false, 0.0},
        {"join with nothing else in reach", "join", false, false, false, false, 0.0},
    };
    for (const Uncuttable& body : uncuttables()) {
        ASSERT_FALSE(body.shape.IsNull());
        ASSERT_EQ(qor::io::closedSolidCount(body.shape), 0);
        for (const SetAsideCase& c : cases) {
            for (const bool grouped : {true, false}) {
                SCOPED_TRACE(testing::Message() << body.note.toStdString() << ", " << c.what
                                                << (grouped ? ", grouped" : ", one by one"));
                const SetAsideHistory history(c, body, grouped);
                const Document& doc = history.doc;
                const bool join = c.op == std::string("join");
                const QString failure = join ? QStringLiteral("Verbinden fehlgeschlagen")
                                        : c.op == std::string("cut")
                                            ? QStringLiteral("Ausschneiden fehlgeschlagen")
                                            : QStringLiteral("Schneiden fehlgeschlagen");
                if (c.refused) {
                    EXPECT_EQ(history.tool->error.toStdString(),
                              (failure + QStringLiteral(": ") + body.refusal).toStdString());
                    EXPECT_TRUE(history.tool->warning.isEmpty());
                } else {
                    EXPECT_TRUE(history.tool->error.isEmpty()) << history.tool->error.toStdString();
                    const QString warning
                        = c.plate || join
                              ? body.note
                              : QStringLiteral("Kein Körper im Wirkbereich; ") + body.note;
                    EXPECT_EQ(history.tool->warning.toStdString(), warning.toStdString());
                }
                if (history.pattern) {
                    EXPECT_TRUE(history.pattern->error.isEmpty())
                        << history.pattern->error.toStdString();
                }
                // The body as the import left it, before the features after it.
                const TopoDS_Shape& imported = doc.snapshots.at(1).bodies.at(history.bodyId).shape;
                ASSERT_TRUE(doc.current.bodies.count(history.bodyId));
                EXPECT_TRUE(doc.current.bodies.at(history.bodyId).shape.IsSame(imported));
                // A join that reaches nothing else makes the cylinder a body of its own.
                ASSERT_EQ(doc.current.bodies.size(), c.plate || join ? 2u : 1u);
                if (!c.plate) {
                    if (join)
                        EXPECT_NEAR(shapeVolume(std::prev(doc.current.bodies.end())->second.shape),
                                    boreVolume, 1e-6 * boreVolume);
                    continue;
                }
                const TopoDS_Shape& plate = doc.current.bodies.at(history.plateId).shape;
                EXPECT_NEAR(shapeVolume(plate), c.plateAfter, 1e-6 * plateVolume);
                // Through the bore's axis the plate has material only where the cut left it.
                const bool cutThere = !c.refused && c.op == std::string("cut");
                EXPECT_EQ(BRepClass3d_SolidClassifier(plate, gp_Pnt(20, 15, 2.5), 1e-7).State()
                              == TopAbs_IN,
                          !cutThere);
            }
        }
    }
}
