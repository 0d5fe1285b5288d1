#include "model/ExecContext.h"
#include "tests/common/Seeds.h"
#include "tests/fixtures/IgesFaceBodies.h"
#include "tests/fixtures/StlFixtures.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepClass3d_SolidClassifier.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>

#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace qor::model;
using namespace qor::test;

namespace {

// A part with bodies 300, 500 and 700 (10 mm cubes at x = 0, 20, 40) made by
// earlier features, and feature 9 executing.
struct TestDocument {
    Document doc;
    Feature feature;
    ModelState state;
    ExecContext ctx{doc, feature, state};

    explicit TestDocument(bool withBodies = true)
    {
        for (const int f : {3, 5, 7}) {
            feature.id = f;
            if (withBodies)
                addNewBody(ctx, box(10, 10, 10, gp_Pnt(10.0 * (f - 3), 0, 0)));
        }
        feature.id = 9;
    }

    double volume(int id) const { return shapeVolume(state.bodies.at(id).shape); }

    std::vector<int> apply(const TopoDS_Shape& tool, const char* op, std::vector<int> targets = {})
    {
        return applyBoolean(ctx, tool, QString::fromUtf8(op), targets);
    }
};

} // namespace

TEST(Boolean, NewBodyAndToolRecord)
{
    TestDocument part;
    const TopoDS_Shape tool = box(5, 5, 5);
    ASSERT_EQ(part.apply(tool, "new", {300, 500}), std::vector<int>({900}));
    EXPECT_EQ(part.state.bodies.at(900).name, "Körper 4");
    EXPECT_NEAR(part.volume(900), 125.0, 1e-6);
    EXPECT_NEAR(part.volume(300), 1000.0, 1e-6); // overlapping, yet untouched
    const ToolRecord& record = part.state.tools.at(9);
    EXPECT_EQ(record.op, "new");
    EXPECT_EQ(record.targets, std::vector<int>({300, 500}));
    EXPECT_TRUE(record.shape.IsSame(part.state.bodies.at(900).shape));

    // The empty op makes a new body too; a later call replaces the record.
    EXPECT_EQ(applyBoolean(part.ctx, tool, QString(), {}), std::vector<int>({901}));
    EXPECT_TRUE(part.state.tools.at(9).targets.empty());
    EXPECT_EQ(part.state.tools.size(), 1u);

    // No geometry: nothing recorded, nothing added.
    TestDocument empty(false);
    TopoDS_Compound nothing;
    BRep_Builder().MakeCompound(nothing);
    for (const TopoDS_Shape& shape : {TopoDS_Shape(nothing), TopoDS_Shape()})
        EXPECT_EQ(errorOf([&] { empty.apply(shape, "join"); }),
                  "Das Feature erzeugt keine Geometrie");
    EXPECT_TRUE(empty.state.tools.empty());
    EXPECT_TRUE(empty.state.bodies.empty());
}

TEST(Boolean, JoinFusesIntoTheFirstTarget)
{
    TestDocument part;
    // A bar along x bridging all three cubes, one target named twice, one gone.
    ASSERT_EQ(part.apply(box(40, 6, 6, gp_Pnt(5, 2, 2)), "join", {300, 4242, 500, 700, 500}),
              std::vector<int>({300}));
    EXPECT_EQ(part.state.bodies.size(), 1u);
    EXPECT_EQ(part.state.bodies.at(300).featureId, 3);
    // Three cubes plus the parts of the bar between them (two 10 × 6 × 6 gaps).
    EXPECT_NEAR(part.volume(300), 3000.0 + 2 * 360.0, 1e-6);
    EXPECT_TRUE(extentIs(part.state.bodies.at(300).shape, {0, 0, 0, 50, 10, 10}));
    EXPECT_EQ(part.state.tools.at(9).targets, std::vector<int>({300, 4242, 500, 700, 500}));

    // Without targets the join finds them by bounding box and cleans up the faces.
    TestDocument found;
    EXPECT_EQ(found.apply(box(10, 10, 10, gp_Pnt(5, 0, 0)), "join"), std::vector<int>({300}));
    EXPECT_EQ(found.state.tools.at(9).targets, std::vector<int>({300}));
    EXPECT_NEAR(found.volume(300), 1500.0, 1e-6);
    EXPECT_EQ(countOf(found.state.bodies.at(300).shape, TopAbs_FACE), 6);
    EXPECT_EQ(found.state.bodies.size(), 3u);

    // Nothing in reach: a new body, no warning.
    TestDocument far;
    EXPECT_EQ(far.apply(box(1, 1, 1, gp_Pnt(0, 100, 0)), "join"), std::vector<int>({900}));
    EXPECT_TRUE(far.feature.warning.isEmpty());
}

TEST(Boolean, CutRemovesSwallowedBodies)
{
    TestDocument part;
    // Takes a 5 mm slab off body 300 and swallows body 500 whole.
    EXPECT_EQ(part.apply(box(30, 12, 12, gp_Pnt(5, -1, -1)), "cut", {300, 500, 300}),
              std::vector<int>({300}));
    EXPECT_NEAR(part.volume(300), 500.0, 1e-6);
    EXPECT_EQ(part.state.bodies.count(500), 0u);
    EXPECT_NEAR(part.volume(700), 1000.0, 1e-6); // not a target, though the tool reaches it

    // Found by box: a tool whose box overlaps body 700's cuts only that body.
    TestDocument boxes;
    EXPECT_EQ(boxes.apply(box(10, 10, 10, gp_Pnt(45, 9, 9)), "cut"), std::vector<int>({700}));
    EXPECT_NEAR(boxes.volume(700), 1000.0 - 5.0, 1e-6);

    // Nothing in reach: a warning replacing the old one, no body, no error.
    TestDocument empty(false);
    empty.feature.warning = QStringLiteral("alt");
    EXPECT_TRUE(empty.apply(box(1, 1, 1), "cut").empty());
    EXPECT_EQ(empty.feature.warning, noBodyWarning());
    EXPECT_TRUE(empty.state.bodies.empty());
    EXPECT_EQ(empty.state.bodyCounter, 0);
    EXPECT_EQ(empty.state.tools.count(9), 1u);
}

TEST(Boolean, IntersectKeepsTheCommonPart)
{
    TestDocument part;
    EXPECT_EQ(part.apply(box(20, 10, 5, gp_Pnt(5, 0, 0)), "intersect", {300, 500}),
              std::vector<int>({300, 500}));
    EXPECT_NEAR(part.volume(300), 250.0, 1e-6);
    EXPECT_NEAR(part.volume(500), 250.0, 1e-6);

    TestDocument miss;
    EXPECT_EQ(errorOf([&] { miss.apply(box(5, 5, 5, gp_Pnt(0, 50, 0)), "intersect", {300}); }),
              "Kein gemeinsamer Bereich – das Ergebnis wäre leer");

    // Any other op text intersects.
    TestDocument typo;
    typo.apply(box(10, 10, 2), "Verbinden", {300});
    EXPECT_NEAR(typo.volume(300), 200.0, 1e-6);

    TestDocument none(false);
    EXPECT_TRUE(none.apply(box(1, 1, 1), "intersect").empty());
    EXPECT_EQ(none.feature.warning, noBodyWarning());
}

TEST(Boolean, InvalidToolIsRepairedFirst)
{
    // A solid whose shell lacks a face: the analyser rejects it, the fixer
    // makes a valid open shell of it.
    BRep_Builder builder;
    TopoDS_Shell open;
    builder.MakeShell(open);
    int n = 0;
    for (TopExp_Explorer e(box(10, 10, 10), TopAbs_FACE); e.More() && n < 5; e.Next(), ++n)
        builder.Add(open, e.Current());
    TopoDS_Solid broken;
    builder.MakeSolid(broken);
    builder.Add(broken, open);
    ASSERT_FALSE(BRepCheck_Analyzer(broken, Standard_True).IsValid());

    TestDocument part(false);
    const std::vector<int> result = part.apply(broken, "new");
    ASSERT_EQ(result.size(), 1u);
    const ToolRecord& record = part.state.tools.at(9);
    EXPECT_TRUE(BRepCheck_Analyzer(record.shape, Standard_True).IsValid());
    EXPECT_TRUE(part.state.bodies.at(result[0]).shape.IsSame(record.shape));
    EXPECT_EQ(countOf(record.shape, TopAbs_FACE), 5);
}

// A body of solids that overlap (read from a file as one body): the kernel's
// join keeps little more than the first cube, a valid body that is smaller.
// While the loss could be material the cubes hold twice, by their boxes, the
// refusal says what is wrong with the result instead of calling it invalid;
// two cubes hold at most 950 mm³ twice and the join loses 993 mm³, which no
// join can, so the body could not be built.
TEST(Boolean, JoinThatWouldLoseVolumeSaysSo)
{
    const struct {
        int copies; // 10 mm cubes, each 0.5 mm along x from the one before
        const char* refusal;
    } cases[] = {
        {2, "Verbinden fehlgeschlagen: der Körper ließ sich auf keinem Rechenweg gültig bilden"},
        {3, "Verbinden fehlgeschlagen: das Ergebnis verlöre den größten Teil des Körpervolumens"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.copies);
        BRep_Builder builder;
        TopoDS_Compound overlapping;
        builder.MakeCompound(overlapping);
        for (int k = 0; k < c.copies; ++k)
            builder.Add(overlapping, box(10, 10, 10, gp_Pnt(0.5 * k, 0, 0)));
        TestDocument part(false);
        part.feature.id = 3;
        const int id = addNewBody(part.ctx, overlapping);
        part.feature.id = 9;
        const TopoDS_Shape tool = box(2, 2, 2, gp_Pnt(9, 9, 9));
        const TopoDS_Shape fused = BRepAlgoAPI_Fuse(overlapping, tool).Shape();
        ASSERT_TRUE(BRepCheck_Analyzer(fused, Standard_True).IsValid());
        ASSERT_LT(shapeVolume(fused), shapeVolume(overlapping));

        std::string refusal;
        try {
            part.apply(tool, "join", {id});
        } catch (const FeatureError& e) {
            refusal = e.what();
        }
        EXPECT_EQ(refusal, c.refusal);
        EXPECT_TRUE(part.state.bodies.at(id).shape.IsSame(overlapping));
    }
}

// A ball read as its one face, not closed into a solid (an IGES file's trimmed face): a join,
// cut or intersection with it fails, and says why.
TEST(Boolean, JoinOrCutWithFacesThatEncloseNothingSaysSo)
{
    const TopoDS_Shape ball = BRepPrimAPI_MakeSphere(20.0).Shape();
    const TopoDS_Shape face = TopExp_Explorer(ball, TopAbs_FACE).Current();
    const TopoDS_Shape other = BRepPrimAPI_MakeSphere(gp_Pnt(30.0, 0, 0), 20.0).Shape();
    const struct {
        TopoDS_Shape body;
        TopoDS_Shape tool;
        const char* op;
        const char* refusal;
    } cases[] = {
        {face, other, "join",
         "Verbinden fehlgeschlagen: „Kugel“ hat kein geschlossenes Volumen, nur Flächen"},
        {other, face, "join",
         "Verbinden fehlgeschlagen: das Werkzeug hat kein geschlossenes Volumen, nur "
         "Flächen"},
        {face, other, "cut",
         "Ausschneiden fehlgeschlagen: „Kugel“ hat kein geschlossenes Volumen, nur Flächen"},
        {other, face, "cut",
         "Ausschneiden fehlgeschlagen: das Werkzeug hat kein geschlossenes Volumen, nur "
         "Flächen"},
        {face, other, "intersect",
         "Schneiden fehlgeschlagen: „Kugel“ hat kein geschlossenes Volumen, nur Flächen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusal);
        TestDocument part(false);
        part.feature.id = 3;
        const int id = addNewBody(part.ctx, c.body, QStringLiteral("Kugel"));
        part.feature.id = 9;
        std::string refusal;
        try {
            part.apply(c.tool, c.op, {id});
        } catch (const FeatureError& e) {
            refusal = e.what();
        }
        EXPECT_EQ(refusal, c.refusal);
        EXPECT_TRUE(part.feature.warning.isEmpty()) << part.feature.warning.toStdString();
        EXPECT_TRUE(part.state.bodies.at(id).shape.IsSame(c.body));
    }
}

// Faces that enclose nothing (spheres read as their one face) above and below
// cube 300, found by a tool's box beside it: the cut or intersect works on the
// cube, leaves the faces as they are and names them in the warning, and the
// tool's record keeps only the cube as its target.
TEST(Boolean, SearchedTargetsLeaveFacesThatEncloseNothingAlone)
{
    const auto sphereFace = [](double z) {
        return TopExp_Explorer(BRepPrimAPI_MakeSphere(gp_Pnt(5, 5, z), 4.0).Shape(), TopAbs_FACE)
            .Current();
    };
    const QString above = QStringLiteral("„Kugel“ blieb unverändert: nur Flächen");
    const QString below = QStringLiteral("„Schale“ blieb unverändert: nur Flächen");
    const TopoDS_Shape through = box(2, 2, 30, gp_Pnt(4, 4, -10));
    const struct {
        const char* what;
        TopoDS_Shape tool;
        const char* op;
        bool shellBelow; // a second face body under the cube
        QString warning;
        double cubeAfter; // from the measures of cube and tool
    } cases[] = {
        {"cut through", through, "cut", false, above, 1000.0 - 2 * 2 * 10},
        {"cut through both", through, "cut", true, above + QStringLiteral("; ") + below,
         1000.0 - 2 * 2 * 10},
        {"cut resting on the top face", box(4, 4, 3, gp_Pnt(3, 3, 10)), "cut", false,
         noBodyWarning() + QStringLiteral("; ") + above, 1000.0},
        {"intersect through", through, "intersect", true, above + QStringLiteral("; ") + below,
         2 * 2 * 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestDocument part;
        part.feature.id = 11;
        const int kugel = addNewBody(part.ctx, sphereFace(15), QStringLiteral("Kugel"));
        std::vector<int> faces{kugel};
        if (c.shellBelow) {
            part.feature.id = 13;
            faces.push_back(addNewBody(part.ctx, sphereFace(-5), QStringLiteral("Schale")));
        }
        part.feature.id = 9;
        std::vector<TopoDS_Shape> before;
        for (const int id : faces)
            before.push_back(part.state.bodies.at(id).shape);

        EXPECT_EQ(part.apply(c.tool, c.op), std::vector<int>({300}));
        EXPECT_EQ(part.feature.warning.toStdString(), c.warning.toStdString());
        EXPECT_NEAR(part.volume(300), c.cubeAfter, 1e-6);
        EXPECT_EQ(part.state.tools.at(9).targets, std::vector<int>({300}));
        for (std::size_t k = 0; k < faces.size(); ++k)
            EXPECT_TRUE(part.state.bodies.at(faces[k]).shape.IsSame(before[k]));
    }
}

namespace {

TopoDS_Shape bore(double radius, double height, const gp_Pnt& base)
{
    return BRepPrimAPI_MakeCylinder(gp_Ax2(base, gp::DZ()), radius, height).Shape();
}

// Two cuts into body 300 (the cube 0..10); the second only reaches what the
// first took away.
struct EmptyCutCase {
    const char* what;
    TopoDS_Shape first; // cut first, removes material
    TopoDS_Shape again; // cut second, into what the first removed
};

} // namespace

TEST(Boolean, CutThatRemovesNothingWarnsAndKeepsTheBody)
{
    const EmptyCutCase cases[] = {
        {"bore drilled again", bore(3, 12, gp_Pnt(5, 5, -1)), bore(3, 12, gp_Pnt(5, 5, -1))},
        {"shallower bore inside a bore", bore(3, 12, gp_Pnt(5, 5, -1)),
         bore(2, 5, gp_Pnt(5, 5, 3))},
        {"box inside a pocket", box(6, 6, 4, gp_Pnt(2, 2, -1)), box(2, 2, 2, gp_Pnt(4, 4, 0))},
        {"tool resting on the top face", box(6, 6, 4, gp_Pnt(2, 2, -1)),
         box(4, 4, 3, gp_Pnt(3, 3, 10))},
    };
    for (const EmptyCutCase& c : cases) {
        SCOPED_TRACE(c.what);
        TestDocument part;
        ASSERT_EQ(part.apply(c.first, "cut", {300}), std::vector<int>({300}));
        EXPECT_EQ(part.feature.warning, QString());
        const TopoDS_Shape cutOnce = part.state.bodies.at(300).shape;
        const double volume = part.volume(300);
        EXPECT_LT(volume, 1000.0 - 1.0);

        EXPECT_EQ(part.apply(c.again, "cut"), std::vector<int>({300}));
        EXPECT_EQ(part.feature.warning, noBodyWarning());
        EXPECT_TRUE(part.state.bodies.at(300).shape.IsSame(cutOnce));
        EXPECT_NEAR(part.volume(300), volume, 1e-9);
        EXPECT_EQ(part.state.tools.at(9).targets, std::vector<int>({300}));
    }
}

TEST(Boolean, CutThatRemovesFromOneTargetDoesNotWarn)
{
    TestDocument part;
    part.apply(box(2, 2, 12, gp_Pnt(4, 4, -1)), "cut", {300});
    // Into the hole of body 300, and a notch in body 500.
    BRep_Builder builder;
    TopoDS_Compound tool;
    builder.MakeCompound(tool);
    builder.Add(tool, box(1, 1, 1, gp_Pnt(4.5, 4.5, 5)));
    builder.Add(tool, box(2, 2, 2, gp_Pnt(29, 4, 4)));
    const TopoDS_Shape holed = part.state.bodies.at(300).shape;
    part.feature.warning.clear();
    EXPECT_EQ(part.apply(tool, "cut", {300, 500}), std::vector<int>({300, 500}));
    EXPECT_EQ(part.feature.warning, QString());
    EXPECT_TRUE(part.state.bodies.at(300).shape.IsSame(holed));
    EXPECT_NEAR(part.volume(500), 1000.0 - 4.0, 1e-6);
}

// The warning of a cut follows the plain rule: the body's whole volume measured before and
// after the kernel's cut stays the same within 1e-9 of itself. Tools on a 2 mm grid around a
// cube with a pocket sit inside it, cross its edges and corners, rest on its faces (wholly or
// in part), reach into the pocket, swallow it or stay beside it.
TEST(Boolean, CutWarnsExactlyWhenTheWholeVolumeStaysTheSame)
{
    std::mt19937 random(qor::test::seed(4711));
    const auto grid = [&random](int low, int high) {
        return 2.0 * std::uniform_int_distribution<int>(low / 2, high / 2)(random);
    };
    const TopoDS_Shape pocket = box(4, 4, 4, gp_Pnt(2, 2, 6));
    int warned = 0;
    for (int i = 0; i < 300; ++i) {
        const gp_Pnt corner(grid(-6, 12), grid(-6, 12), grid(-6, 12));
        const TopoDS_Shape tool = box(grid(2, 12), grid(2, 12), grid(2, 12), corner);
        TestDocument part;
        part.apply(pocket, "cut", {300});
        const TopoDS_Shape before = part.state.bodies.at(300).shape;
        const double volumeBefore = shapeVolume(before);
        const TopoDS_Shape plain = BRepAlgoAPI_Cut(before, tool).Shape();
        const double volumeAfter = isEmptyShape(plain) ? 0.0 : shapeVolume(plain);
        const bool nothing
            = std::abs(volumeAfter - volumeBefore) <= 1e-9 * std::max(1.0, volumeBefore);

        part.feature.warning.clear();
        part.apply(tool, "cut", {300});
        SCOPED_TRACE(testing::Message() << "tool " << i << " at " << corner.X() << ", "
                                        << corner.Y() << ", " << corner.Z());
        EXPECT_EQ(part.feature.warning.toStdString(),
                  (nothing ? noBodyWarning() : QString()).toStdString());
        const auto body = part.state.bodies.find(300);
        EXPECT_NEAR(body == part.state.bodies.end() ? 0.0 : shapeVolume(body->second.shape),
                    volumeAfter, 1e-6);
        warned += nothing;
    }
    // Both outcomes are well represented.
    EXPECT_GT(warned, 30);
    EXPECT_LT(warned, 270);
}

namespace {

// A plate 100 x 80 x 5 and, made before or after it by features 3 and 5, an open
// tray of five faces („offen“, 40 x 30 x 20 from (30, 25, 5)) resting on it or a
// block of triangles read from a mesh file („Scan“, 10 mm from (45, 35, 10)).
struct PlateAndTray {
    TestDocument part{false};
    int plate = 0;
    int tray = 0;
    QString note; // the warning of a boolean that leaves the tray or block alone

    PlateAndTray(bool plateFirst, bool mesh = false)
    {
        const TopoDS_Shape trayFaces = qor::fixtures::openBox(gp_Vec(30, 25, 5));
        const TopoDS_Shape block
            = qor::fixtures::meshBody(qor::fixtures::moved(qor::fixtures::cube(10, 0), 45, 35, 10));
        part.feature.id = plateFirst ? 3 : 5;
        plate = addNewBody(part.ctx, box(100, 80, 5));
        part.feature.id = plateFirst ? 5 : 3;
        tray = addNewBody(part.ctx, mesh ? block : trayFaces,
                          mesh ? QStringLiteral("Scan") : QStringLiteral("offen"));
        part.feature.id = 9;
        note = mesh ? QStringLiteral("„Scan“ blieb unverändert: Netzkörper")
                    : QStringLiteral("„offen“ blieb unverändert: nur Flächen");
    }
};

const double plateVolume = 100.0 * 80.0 * 5.0;

} // namespace

// A join whose box reaches the open tray as well as the plate joins the plate, and
// names the tray it left alone; a cylinder Ø6 x 30 standing in the plate adds
// what stands above it.
TEST(Boolean, JoinLeavesFacesThatEncloseNothingAlone)
{
    const double above = M_PI * 3.0 * 3.0 * 25.0;
    for (const bool mesh : {false, true})
        for (const bool plateFirst : {true, false}) {
            SCOPED_TRACE(std::string(mesh ? "mesh block, " : "open tray, ")
                         + (plateFirst ? "plate first" : "made first"));
            PlateAndTray scene(plateFirst, mesh);
            const TopoDS_Shape trayBefore = scene.part.state.bodies.at(scene.tray).shape;
            EXPECT_EQ(scene.part.apply(bore(3.0, 30.0, gp_Pnt(50, 40, 0)), "join"),
                      std::vector<int>({scene.plate}));
            EXPECT_NEAR(scene.part.volume(scene.plate), plateVolume + above, 1e-3);
            EXPECT_EQ(scene.part.feature.warning.toStdString(), scene.note.toStdString());
            EXPECT_TRUE(scene.part.state.bodies.at(scene.tray).shape.IsSame(trayBefore));
            EXPECT_EQ(scene.part.state.tools.at(9).targets, std::vector<int>({scene.plate}));
        }
}

// A join that reaches only the open tray makes a new body, as one that reaches
// nothing does, and names the tray.
TEST(Boolean, JoinReachingOnlyFacesMakesANewBody)
{
    PlateAndTray scene(true);
    const std::vector<int> made = scene.part.apply(box(4, 4, 4, gp_Pnt(40, 35, 10)), "join");
    ASSERT_EQ(made.size(), 1u);
    EXPECT_NE(made.front(), scene.tray);
    EXPECT_NEAR(scene.part.volume(made.front()), 64.0, 1e-6);
    EXPECT_NEAR(scene.part.volume(scene.plate), plateVolume, 1e-6);
    EXPECT_EQ(scene.part.feature.warning.toStdString(), "„offen“ blieb unverändert: nur Flächen");
}

// A cut whose box reaches only the tray (a 6 x 6 x 2 box at z 5.5 inside it,
// touching none of its faces) takes nothing: it warns and leaves every body.
TEST(Boolean, CutReachingOnlyFacesWarnsAndKeepsTheBodies)
{
    for (const bool mesh : {false, true}) {
        SCOPED_TRACE(mesh ? "mesh block" : "open tray");
        PlateAndTray scene(true, mesh);
        const TopoDS_Shape trayBefore = scene.part.state.bodies.at(scene.tray).shape;
        const TopoDS_Shape plateBefore = scene.part.state.bodies.at(scene.plate).shape;
        const gp_Pnt corner = mesh ? gp_Pnt(47, 37, 11) : gp_Pnt(47, 37, 5.5);
        EXPECT_TRUE(scene.part.apply(box(6, 6, 2, corner), "cut").empty());
        EXPECT_EQ(scene.part.feature.warning.toStdString(),
                  (noBodyWarning() + QStringLiteral("; ") + scene.note).toStdString());
        EXPECT_TRUE(scene.part.state.bodies.at(scene.tray).shape.IsSame(trayBefore));
        EXPECT_TRUE(scene.part.state.bodies.at(scene.plate).shape.IsSame(plateBefore));
    }
}

// A chosen open body is still refused, named as itself, never as the tool.
TEST(Boolean, JoinWithAChosenOpenBodyNamesIt)
{
    PlateAndTray scene(true);
    EXPECT_EQ(
        errorOf([&] {
            scene.part.apply(bore(3.0, 30.0, gp_Pnt(50, 40, 0)), "join", {scene.plate, scene.tray});
        }),
        "Verbinden fehlgeschlagen: „offen“ hat kein geschlossenes Volumen, nur Flächen");
}

namespace {

// A block 40 x 40 x 50 (80,000 mm³) that carries a second shell: the faces of a
// 10 mm cube inside it turned INTERNAL, or one open square face inside it.
TopoDS_Shape blockCarrying(bool cubeShell)
{
    BRep_Builder builder;
    TopoDS_Solid solid;
    builder.MakeSolid(solid);
    builder.Add(solid, TopExp_Explorer(box(40, 40, 50), TopAbs_SHELL).Current());
    TopoDS_Shell inner;
    builder.MakeShell(inner);
    const TopoDS_Shape cube = box(10, 10, 10, gp_Pnt(5, 5, 20));
    for (TopExp_Explorer face(cube, TopAbs_FACE); face.More(); face.Next()) {
        builder.Add(inner, cubeShell ? face.Current().Oriented(TopAbs_INTERNAL) : face.Current());
        if (!cubeShell)
            break;
    }
    builder.Add(solid, inner);
    return solid;
}

std::size_t shellCount(const TopoDS_Shape& shape)
{
    std::size_t count = 0;
    for (TopExp_Explorer shell(shape, TopAbs_SHELL); shell.More(); shell.Next())
        ++count;
    return count;
}

} // namespace

// A solid that carries faces bounding no volume beside its closed shell is cut
// beside them, and keeps them.
TEST(Boolean, CutOfASolidCarryingInnerFacesKeepsThem)
{
    for (const bool cubeShell : {true, false}) {
        SCOPED_TRACE(cubeShell ? "shell of INTERNAL faces" : "one open face");
        TestDocument part(false);
        part.feature.id = 3;
        const int id = addNewBody(part.ctx, blockCarrying(cubeShell));
        part.feature.id = 9;
        EXPECT_EQ(part.apply(bore(3.0, 52.0, gp_Pnt(30, 30, -1)), "cut"), std::vector<int>({id}));
        EXPECT_TRUE(part.feature.warning.isEmpty()) << part.feature.warning.toStdString();
        EXPECT_NEAR(part.volume(id), 80000.0 - M_PI * 9.0 * 50.0, 1e-3);
        EXPECT_GE(shellCount(part.state.bodies.at(id).shape), 2u);
    }
}

// A block 40 x 40 x 40 with a ball hollow (radius 4 about (20, 20, 10)) and a cylinder
// hollow (radius 5 from z 25 to 35). The common part with a box below z 25, whose top lies
// on the plane of the cylinder hollow's end disc, holds only the ball hollow; with a box
// above z 25 the cylinder hollow opens through that disc into a pocket.
TEST(Boolean, CommonPartEndingOnAHollowsEndDiscIsRight)
{
    TopoDS_Shape block = box(40, 40, 40);
    block = BRepAlgoAPI_Cut(block, BRepPrimAPI_MakeSphere(gp_Pnt(20, 20, 10), 4).Shape()).Shape();
    block
        = BRepAlgoAPI_Cut(
              block, BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 20, 25), gp::DZ()), 5, 10).Shape())
              .Shape();
    ASSERT_EQ(shellCount(block), 3u);
    const double ball = 4.0 / 3.0 * M_PI * 64.0;
    const double bore = M_PI * 25.0 * 10.0;
    const struct {
        const char* what;
        double z0, z1;
        double volume;
        std::size_t shells;
        std::vector<std::pair<gp_Pnt, TopAbs_State>> points;
    } cases[] = {
        {"below the disc",
         -5,
         25,
         40.0 * 40.0 * 25.0 - ball,
         2,
         {{gp_Pnt(20, 20, 10), TopAbs_OUT},
          {gp_Pnt(20, 20, 24.5), TopAbs_IN},
          {gp_Pnt(20, 20, 25.5), TopAbs_OUT},
          {gp_Pnt(2, 2, 2), TopAbs_IN}}},
        {"above the disc",
         25,
         45,
         40.0 * 40.0 * 15.0 - bore,
         1,
         {{gp_Pnt(20, 20, 25.5), TopAbs_OUT},
          {gp_Pnt(20, 20, 34.5), TopAbs_OUT},
          {gp_Pnt(20, 20, 35.5), TopAbs_IN},
          {gp_Pnt(26, 20, 26), TopAbs_IN}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestDocument part(false);
        part.feature.id = 3;
        const int id = addNewBody(part.ctx, block);
        part.feature.id = 9;
        EXPECT_EQ(part.apply(box(50, 50, c.z1 - c.z0, gp_Pnt(-5, -5, c.z0)), "intersect"),
                  std::vector<int>({id}));
        EXPECT_TRUE(part.feature.warning.isEmpty()) << part.feature.warning.toStdString();
        const TopoDS_Shape& common = part.state.bodies.at(id).shape;
        EXPECT_NEAR(part.volume(id), c.volume, 1e-3);
        EXPECT_EQ(shellCount(common), c.shells);
        for (const auto& [point, state] : c.points)
            EXPECT_EQ(BRepClass3d_SolidClassifier(common, point, 1e-7).State(), state)
                << point.X() << " " << point.Y() << " " << point.Z();
    }
}
