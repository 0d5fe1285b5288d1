#include "TestPart.h"

#include "model/References.h"
#include "tests/fixtures/IgesFaceBodies.h"
#include "tests/fixtures/ProfileSketches.h"
#include "tests/fixtures/StlFixtures.h"

#include <TopExp_Explorer.hxx>

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <numbers>

using namespace qor::model;

namespace {

using std::numbers::pi;

// A 10 x 10 square with its corner at (u, v) of the plane.
int squareSketch(TestPart& part, const gp_Ax3& plane = gp_Ax3(), double u = 0, double v = 0,
                 double side = 10)
{
    return part.sketch(plane, [=](auto& s) { addOutline(s, u, v, u + side, v + side); });
}

gp_Ax3 raised(double z)
{
    return gp_Ax3(gp_Pnt(0, 0, z), gp::DZ(), gp::DX());
}

QJsonObject extrude(int sketchId, const QString& extent, const QString& distance,
                    QJsonObject more = {})
{
    more["profile"] = TestPart::wholeSketch(sketchId);
    more["extent"] = extent;
    more["distance"] = distance;
    if (!more.contains("op"))
        more["op"] = "new";
    return more;
}

} // namespace

TEST(Extrude, DistancesExtentsAndTapers)
{
    // A tapered wall of 5° over 10 mm moves by 10 tan 5°; the narrowed solid is
    // a frustum of a square pyramid.
    const double grow = 10.0 * std::tan(5.0 * pi / 180.0);
    const double top = 10.0 - 2.0 * grow;
    const double frustum = 10.0 / 3.0 * (100.0 + top * top + 10.0 * top);
    struct Case {
        const char* name;
        QJsonObject params;
        double volume; // 0: neither volume nor faces checked
        std::array<double, 6> box;
    };
    const std::vector<Case> cases = {
        {"distance", extrude(0, "dist", "20 mm"), 2000, {0, 0, 0, 10, 10, 20}},
        {"flipped", extrude(0, "dist", "20", {{"flip", true}}), 2000, {0, 0, -20, 10, 10, 0}},
        {"symmetric", extrude(0, "sym", "2 * 10 mm"), 2000, {0, 0, -10, 10, 10, 10}},
        {"two sides",
         extrude(0, "two", "20 mm", {{"distance2", "10 mm"}}),
         3000,
         {0, 0, -10, 10, 10, 20}},
        {"two sides flipped",
         extrude(0, "two", "20", {{"distance2", "10"}, {"flip", true}}),
         3000,
         {0, 0, -20, 10, 10, 10}},
        // An unknown extent text is one distance; the comparison is case-sensitive.
        {"unknown extent", extrude(0, "Dist", "7"), 700, {0, 0, 0, 10, 10, 7}},
        // Without bodies through-all reaches 1000 mm.
        {"through all", extrude(0, "all", "0"), 0, {0, 0, 0, 10, 10, 1000}},
        {"through all both", extrude(0, "allboth", "0"), 0, {0, 0, -1000, 10, 10, 1000}},
        // Tapers reach the full distance on the asked side, narrowing or widening.
        {"narrowing",
         extrude(0, "dist", "10", {{"taper", "-5 deg"}}),
         frustum,
         {0, 0, 0, 10, 10, 10}},
        {"narrowing flipped",
         extrude(0, "dist", "10", {{"taper", "-5"}, {"flip", true}}),
         frustum,
         {0, 0, -10, 10, 10, 0}},
        {"widening",
         extrude(0, "dist", "10", {{"taper", "5"}}),
         0,
         {-grow, -grow, 0, 10 + grow, 10 + grow, 10}},
        // A taper below 1e-9 degrees is a plain prism.
        {"tiny taper", extrude(0, "dist", "10", {{"taper", 0.5e-9}}), 1000, {0, 0, 0, 10, 10, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPart part;
        QJsonObject params = c.params;
        params["profile"] = TestPart::wholeSketch(squareSketch(part));
        const int body = part.body("extrude", params);
        EXPECT_TRUE(extentIs(part.shape(body), c.box));
        if (c.volume == 0) // extent only: through-all and widened solids
            continue;
        EXPECT_NEAR(part.volume(body), c.volume, 1e-4);
        // Two sides merge into one block; tiny tapers leave a plain prism.
        EXPECT_EQ(countOf(part.shape(body), TopAbs_FACE), 6);
    }

    // Separate tapered regions stay apart.
    TestPart part;
    const int two = part.sketch(gp_Ax3(), [](auto& s) {
        addOutline(s, 0, 0, 10, 10);
        addOutline(s, 30, 0, 40, 10);
    });
    const int pair = part.body("extrude", extrude(two, "sym", "8", {{"taper", "-3"}}));
    EXPECT_EQ(countOf(part.shape(pair), TopAbs_SOLID), 2);
    const double narrow = 10.0 - 2.0 * 8.0 * std::tan(3.0 * pi / 180.0);
    EXPECT_NEAR(part.volume(pair), 2 * 8.0 / 3.0 * (100.0 + narrow * narrow + 10.0 * narrow), 1e-4);
    EXPECT_TRUE(extentIs(part.shape(pair), {0, 0, -4, 40, 10, 4}));
}

TEST(Extrude, RefusedDistancesAndTapers)
{
    TestPart part;
    const int sk = squareSketch(part);
    const QString positive = QStringLiteral("Abstand muss größer als 0 sein");
    const QString steep = QStringLiteral("Verjüngung nicht möglich (Winkel zu groß?)");
    const std::vector<std::pair<QJsonObject, QString>> cases = {
        {extrude(sk, "two", "20", {{"distance2", "0"}}), positive},
        {extrude(sk, "dist", "-5"), positive},
        {extrude(sk, "sym", "0"), positive},
        // Walls that would meet before the distance is reached.
        {extrude(sk, "dist", "10", {{"taper", "-30"}}), steep},
        {extrude(sk, "dist", "10", {{"taper", "90"}}), steep},
    };
    for (const auto& [params, error] : cases)
        EXPECT_EQ(part.run("extrude", params), error);
    EXPECT_EQ(part.run("extrude", extrude(sk, "dist", "nonsense + 1")).left(10),
              QStringLiteral("distance: "));
    EXPECT_TRUE(part.state.bodies.empty());
}

TEST(Extrude, ThroughAllReachesPastEveryBody)
{
    TestPart part;
    const int big = squareSketch(part, gp_Ax3(), -50, -50, 100);
    ASSERT_EQ(part.run("extrude", extrude(big, "sym", "60")), QString());
    Feature* f = nullptr;
    ASSERT_EQ(part.run("extrude",
                       extrude(squareSketch(part, raised(40)), "allboth", "0", {{"op", "cut"}}),
                       &f),
              QString());
    const double reach = throughAllDistance(part.state, gp_Pnt(0, 0, 40));
    EXPECT_GT(reach, 2 * std::hypot(50.0, 50.0, 70.0));
    EXPECT_TRUE(extentIs(part.state.tools.at(f->id).shape, {0, 0, 40 - reach, 10, 10, 40 + reach}));
    EXPECT_NEAR(totalVolume(part.state), 100 * 100 * 60 - 10 * 10 * 60, 1e-6);
}

TEST(Extrude, CutThatMissesIsRetriedReversed)
{
    TestPart part;
    ASSERT_EQ(part.run("extrude", extrude(squareSketch(part), "dist", "10")), QString());
    const auto cut = [&](double z, QJsonObject more, Feature** f) {
        more["op"] = more.value("op").toString("cut");
        EXPECT_EQ(part.run("extrude",
                           extrude(squareSketch(part, raised(z), 2, 2, 4), "dist", "3", more), f),
                  QString());
        return part.state.tools.at((*f)->id).shape;
    };
    // A sketch on the block's top face whose normal points away from the block.
    const int counter = part.state.bodyCounter;
    Feature* f = nullptr;
    EXPECT_TRUE(extentIs(cut(10, {}, &f), {2, 2, 7, 6, 6, 10}));
    EXPECT_NEAR(totalVolume(part.state), 1000.0 - 16.0 * 3.0, 1e-6);
    EXPECT_EQ(part.state.bodies.size(), 1u);
    EXPECT_EQ(part.state.bodyCounter, counter);
    EXPECT_TRUE(f->warning.isEmpty());

    // With "flip" the tool is built once as asked; missing leaves the block alone.
    EXPECT_TRUE(extentIs(cut(0, {{"flip", true}}, &f), {2, 2, -3, 6, 6, 0}));
    // A join never retries, whatever volume results.
    EXPECT_TRUE(extentIs(cut(10, {{"op", "join"}}, &f), {2, 2, 10, 6, 6, 13}));

    // Half a millimetre above the block the first tool reaches no body at all:
    // the retry forgets the warning of the first attempt.
    TestPart above;
    ASSERT_EQ(above.run("extrude", extrude(squareSketch(above), "dist", "10")), QString());
    ASSERT_EQ(
        above.run("extrude",
                  extrude(squareSketch(above, raised(10.5), 2, 2, 4), "dist", "3", {{"op", "cut"}}),
                  &f),
        QString());
    EXPECT_TRUE(f->warning.isEmpty()) << f->warning.toStdString();
    EXPECT_NEAR(totalVolume(above.state), 1000.0 - 16.0 * 2.5, 1e-6);
    // A cut that misses both ways keeps the warning of its last attempt.
    ASSERT_EQ(
        above.run("extrude",
                  extrude(squareSketch(above, raised(50), 2, 2, 4), "dist", "3", {{"op", "cut"}}),
                  &f),
        QString());
    EXPECT_EQ(f->warning, QStringLiteral("Kein Körper im Wirkbereich"));
}

// Faces that enclose nothing around the block are left alone by the cut on the
// block's top face, which still turns round into the block when its first way
// removes nothing, and the warning still names the faces.
TEST(Extrude, CutBesideFacesItLeavesAloneTurnsRound)
{
    TestPart part;
    const int block = part.body("extrude", extrude(squareSketch(part), "dist", "10"));
    const int faces = part.addBody(qor::fixtures::openBox());
    part.state.bodies.at(faces).name = QStringLiteral("offen");
    Feature* f = nullptr;
    ASSERT_EQ(
        part.run("extrude",
                 extrude(squareSketch(part, raised(10), 2, 2, 4), "dist", "3", {{"op", "cut"}}),
                 &f),
        QString());
    EXPECT_TRUE(extentIs(part.state.tools.at(f->id).shape, {2, 2, 7, 6, 6, 10}));
    EXPECT_EQ(f->warning.toStdString(), "„offen“ blieb unverändert: nur Flächen");
    EXPECT_NEAR(part.volume(block), 1000.0 - 16.0 * 3.0, 1e-6);
}

// A cut sketched at z 8 between a plate 5 mm thick and an open tray or a mesh
// block resting at z 10 reaches first only the body it cannot cut: it leaves
// that alone, turns round and cuts the plate from z 3, a circle Ø6 (tray) or
// Ø4 (block) 2 mm deep.
TEST(Extrude, CutReachingOnlyABodyItCannotCutTurnsRound)
{
    struct Case {
        bool mesh;
        double radius, left;
    };
    for (const Case c : {Case{false, 3.0, 39943.451}, Case{true, 2.0, 39974.867}}) {
        SCOPED_TRACE(c.mesh ? "mesh block" : "open tray");
        TestPart part;
        const int plate = part.body(
            "extrude", extrude(part.sketch(gp_Ax3(), [](auto& s) { addOutline(s, 0, 0, 100, 80); }),
                               "dist", "5"));
        const TopoDS_Shape above = c.mesh ? qor::fixtures::meshBody(
                                       qor::fixtures::moved(qor::fixtures::cube(10, 0), 45, 35, 10))
                                          : qor::fixtures::openBox(gp_Vec(30, 25, 10));
        const int other = part.addBody(above);
        const int circle
            = part.sketch(raised(8), [&](auto& s) { s.addCircleAt(false, 50, 40, c.radius); });
        Feature* f = nullptr;
        ASSERT_EQ(part.run("extrude", extrude(circle, "dist", "5", {{"op", "cut"}}), &f),
                  QString());
        EXPECT_TRUE(extentIs(part.state.tools.at(f->id).shape,
                             {50 - c.radius, 40 - c.radius, 3, 50 + c.radius, 40 + c.radius, 8},
                             1e-4));
        EXPECT_TRUE(f->warning.isEmpty()) << f->warning.toStdString();
        EXPECT_NEAR(part.volume(plate), c.left, 1e-3);
        EXPECT_NEAR(part.volume(plate), 100.0 * 80.0 * 5.0 - pi * c.radius * c.radius * 2.0, 1e-6);
        EXPECT_TRUE(part.state.bodies.at(other).shape.IsSame(above));
    }
}

TEST(Extrude, RecomputeCutsIntoAPickedFace)
{
    // Through the whole recompute: a box, then a cut extruded from its top face.
    // The face's normal points out of the block, so the first tool misses and the
    // reversed one takes the top 5 mm off.
    Document doc;
    doc.parameters.push_back(Parameter{"h", "20 mm"});
    doc.addFeature("box", {{"height", "h"}});
    ASSERT_EQ(doc.recompute(), 0);
    const int block = doc.features.front()->id * 100;
    const TopoDS_Shape top
        = TestPart::subShapeAt(doc.current.bodies.at(block).shape, TopAbs_FACE, gp_Pnt(0, 0, 20));
    Feature* cut = doc.addFeature(
        "extrude",
        {{"profile", QJsonArray{faceRef(block, top)}}, {"distance", "5 mm"}, {"op", "cut"}});
    ASSERT_EQ(doc.recompute(), 0) << cut->error.toStdString();
    EXPECT_TRUE(cut->warning.isEmpty());
    EXPECT_TRUE(extentIs(doc.current.bodies.at(block).shape, {-25, -15, 0, 25, 15, 15}));

    // A taller block: the face is found again and the cut follows it.
    doc.parameters.front().expr = "30 mm";
    ASSERT_EQ(doc.recompute(), 0) << cut->error.toStdString();
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(block).shape), 50.0 * 30.0 * 25.0, 1e-6);
}

namespace {

// A 5 x 10 rectangle from 5 to 10 mm beside the Y axis, turned about +Y.
QJsonObject revolve(TestPart& part, const QString& angle, QJsonObject more = {})
{
    const int sk = part.sketch(gp_Ax3(), [](auto& s) { addOutline(s, 5, 0, 10, 10); });
    more["profile"] = TestPart::wholeSketch(sk);
    more["axis"] = TestPart::origin(-12);
    more["angle"] = angle;
    more["op"] = "new";
    return more;
}

} // namespace

TEST(Revolve, VolumesFollowPappusAndTheSense)
{
    // Area 50, centroid 7.5 from the axis.
    const double full = 2 * pi * 7.5 * 50.0;
    const double s = 10 * std::sin(pi / 4);
    struct Case {
        const char* angle;
        QJsonObject more;
        double volume;
        int faces; // 0: not checked
        std::array<double, 6> box;
    };
    const std::vector<Case> cases = {
        {"360 deg", {}, full, 4, {-10, 0, -10, 10, 10, 10}},
        // About +Y, a profile on +X turns towards -Z first.
        {"90", {}, full / 4, 6, {0, 0, -10, 10, 10, 0}},
        {"90", {{"flip", true}}, full / 4, 6, {0, 0, 0, 10, 10, 10}},
        {"90", {{"symmetric", true}}, full / 4, 6, {5 * std::sin(pi / 4), 0, -s, 10, 10, s}},
        {"-30", {}, full / 12, 6, {5 * std::cos(pi / 6), 0, 0, 10, 10, 5}},
        // Rounding just short of a full turn still closes it; 359.99 does not.
        {"359.9999999995", {}, full, 4, {-10, 0, -10, 10, 10, 10}},
        {"359.99", {}, full * 359.99 / 360.0, 6, {-10, 0, -10, 10, 10, 10}},
    };
    TestPart part;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angle);
        const int body = part.body("revolve", revolve(part, c.angle, c.more));
        EXPECT_NEAR(part.volume(body), c.volume, 1e-6);
        EXPECT_EQ(countOf(part.shape(body), TopAbs_FACE), c.faces);
        EXPECT_TRUE(extentIs(part.shape(body), c.box, 1e-4));
    }
    for (const char* none : {"0", "1e-10"})
        EXPECT_EQ(part.run("revolve", revolve(part, none)),
                  QStringLiteral("Winkel muss ungleich 0 sein"));
}

namespace {

// A plate of 80 x 50 x 20 extruded from the XY plane; returns its body id.
int plate(Document& doc)
{
    Feature* sketch = doc.addSketch(TestPart::origin(-1));
    addOutline(*sketch->sketch, 0, 0, 80, 50);
    return doc.addFeature("extrude", {{"profile", TestPart::wholeSketch(sketch->id)},
                                      {"distance", "20 mm"},
                                      {"op", "new"}})
               ->id
           * 100;
}

} // namespace

// The common "sketch on a side face, cut a slot" step: the sketch's normal points out of
// the plate, so the cut has to turn round, also where the profile reaches past the face's
// edges; a profile beside the face cuts nothing either way and warns.
TEST(Extrude, CutSketchedOnASideFaceTurnsIntoThePlateAcrossItsEdges)
{
    struct Case {
        const char* what;
        double u0, v0, u1, v1; // the rectangle; (u, v) of the sketch are (y, z)
        double removed;
        bool warned;
    };
    const Case cases[] = {
        {"inside the face", 10, 5, 20, 15, 10 * 10 * 20, false},
        {"across the top edge", 10, 10, 30, 30, 20 * 10 * 20, false},
        {"across a top corner", 40, 10, 60, 30, 10 * 10 * 20, false},
        {"across the whole face", -10, -10, 90, 30, 50 * 20 * 20, false},
        {"on the top edge, above the face", 10, 20, 30, 30, 0, true},
        {"beside the face", 60, 30, 70, 40, 0, true},
    };
    enum class Base { Plane, Face };
    for (const bool grouped : {true, false}) {
        for (const Base base : {Base::Plane, Base::Face}) {
            for (const Case& c : cases) {
                SCOPED_TRACE(std::string(c.what) + (grouped ? ", grouped" : ", one by one")
                             + (base == Base::Face ? ", on the face" : ", on a plane"));
                Document doc;
                doc.groupBooleans = grouped;
                const int body = plate(doc);
                QJsonObject on;
                if (base == Base::Plane) {
                    on = TestPart::featureRef(
                        doc.addFeature("plane",
                                       {{"base", TestPart::origin(-3)}, {"offset", "80 mm"}})
                            ->id);
                } else {
                    ASSERT_EQ(doc.recompute(), 0);
                    on = faceRef(body, TestPart::subShapeAt(doc.current.bodies.at(body).shape,
                                                            TopAbs_FACE, gp_Pnt(80, 25, 10)));
                }
                Feature* sketch = doc.addSketch(on);
                addOutline(*sketch->sketch, c.u0, c.v0, c.u1, c.v1);
                Feature* cut
                    = doc.addFeature("extrude", {{"profile", TestPart::wholeSketch(sketch->id)},
                                                 {"distance", "20 mm"},
                                                 {"op", "cut"}});
                ASSERT_EQ(doc.recompute(), 0) << cut->error.toStdString();
                EXPECT_NEAR(shapeVolume(doc.current.bodies.at(body).shape),
                            80.0 * 50.0 * 20.0 - c.removed, 1e-6);
                EXPECT_EQ(cut->warning,
                          c.warned ? QStringLiteral("Kein Körper im Wirkbereich") : QString());
            }
        }
    }
}

namespace {

// A new extrusion 10 mm high of the regions the window puts into an empty
// profile (every material region of the sketch, each by its interior point)
// has the given volume; so has the whole sketch as the profile.
void expectProfileVolume(const std::function<void(qor::sketch::Sketch&)>& draw, double volume)
{
    TestPart part;
    const gp_Ax3 plane = raised(3);
    const int sketchId = part.sketch(plane, draw);
    QJsonArray picked;
    for (const auto& region : part.doc.sketchRegions(*part.doc.feature(sketchId), plane)) {
        if (region.outer)
            picked.append(TestPart::region(sketchId, region.interior.x, region.interior.y)[0]);
    }
    QJsonObject params = extrude(sketchId, "dist", "10 mm");
    params["profile"] = picked;
    for (const int body :
         {part.body("extrude", params), part.body("extrude", extrude(sketchId, "dist", "10 mm"))}) {
        ASSERT_TRUE(part.state.bodies.count(body));
        EXPECT_NEAR(part.volume(body), volume, 0.01);
    }
}

} // namespace

// A new extrusion of the regions the window puts into an empty profile (every
// material region of the sketch, each by its interior point) makes the body
// the sketch's closed outlines enclose, whatever curves that close no loop
// run through it; so does the whole sketch as the profile.
TEST(Extrude, CurvesThatCloseNoLoopLeaveTheProfileAlone)
{
    const struct {
        const char* name;
        std::function<void(qor::sketch::Sketch&)> draw;
        double volume;
    } cases[] = {
        {"plate with a hole and two stray lines",
         [](auto& s) {
             addOutline(s, 0, 0, 100, 50);
             s.addCircleAt(false, 60, 25, 20);
             s.addLineAt(false, 10, 2, 10, 48);
             s.addLineAt(false, 90, 10, 90, 14);
         },
         37'433.63},
        {"plate split by a line",
         [](auto& s) {
             addOutline(s, 0, 0, 100, 50);
             s.addLineAt(false, 30, 0, 30, 50);
         },
         50'000},
        {"plate with a centre line left as a normal line",
         [](auto& s) {
             addOutline(s, 0, 0, 100, 50);
             s.addCircleAt(false, 50, 25, 10);
             s.addLineAt(false, -10, 25, 110, 25);
         },
         50'000 - 1000 * pi},
        {"plate with a stray arc beside it",
         [](auto& s) {
             addOutline(s, 0, 0, 100, 50);
             s.addArcAt(false, 130, 25, 130, 0, 130, 50);
         },
         50'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectProfileVolume(c.draw, c.volume);
    }
}

// Loops that close only where lines cross or where a line's end lies part way
// along another make the body they enclose, drawn here and as users drew them.
TEST(Extrude, LoopsClosedWhereLinesCrossOrEndOnAnotherAreProfiles)
{
    const struct {
        const char* name;
        std::function<void(qor::sketch::Sketch&)> draw;
        double volume;
    } cases[] = {
        {"a # of four lines",
         [](auto& s) {
             s.addLineAt(false, 20, -10, 20, 60);
             s.addLineAt(false, 80, -10, 80, 60);
             s.addLineAt(false, -10, 0, 110, 0);
             s.addLineAt(false, -10, 50, 110, 50);
         },
         30'000},
        {"a U standing on a longer line",
         [](auto& s) {
             s.addLineAt(false, 0, 0, 100, 0);
             s.addLineAt(false, 30, 0, 30, 40);
             s.addLineAt(false, 30, 40, 70, 40);
             s.addLineAt(false, 70, 40, 70, 0);
         },
         16'000},
        {"a rectangle whose corners overshoot by 1 mm",
         [](auto& s) {
             s.addLineAt(false, -1, 0, 101, 0);
             s.addLineAt(false, 100, -1, 100, 51);
             s.addLineAt(false, 101, 50, -1, 50);
             s.addLineAt(false, 0, 51, 0, -1);
         },
         50'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectProfileVolume(c.draw, c.volume);
    }
    const QDir files(QStringLiteral(QOR_SHARED_FILES "/wave8"));
    for (const auto& [name, volume] :
         {std::pair{"raute.qcpart", 30'000.0}, {"u-auf-linie.qcpart", 16'000.0}}) {
        QFile file(files.filePath(QString::fromLatin1(name)));
        if (!file.open(QIODevice::ReadOnly)) {
            std::cout << "skipped: " << name << " is not there\n";
            continue;
        }
        SCOPED_TRACE(name);
        const QJsonObject sketch = QJsonDocument::fromJson(file.readAll())
                                       .object()["features"]
                                       .toArray()[0]
                                       .toObject()["sketch"]
                                       .toObject();
        ASSERT_FALSE(sketch.isEmpty());
        expectProfileVolume([&](auto& s) { s.fromJson(sketch); }, volume);
    }
}

// Curves inside a region that bound nothing leave no wall inside the solid
// extruded from it: the solid has the faces of its outline's prism only, and
// its volume is the outline's area times the height, whether the region is
// picked by its point or the whole sketch is the profile.
TEST(Extrude, StrayCurvesLeaveNoWallsInside)
{
    for (const qor::fixtures::StrayCurveSketch& c : qor::fixtures::strayCurveSketches()) {
        SCOPED_TRACE(c.name);
        TestPart part;
        const gp_Ax3 plane = raised(3);
        const int sketchId = part.sketch(plane, c.draw);
        QJsonArray picked;
        for (const auto& region : part.doc.sketchRegions(*part.doc.feature(sketchId), plane)) {
            if (region.outer)
                picked.append(TestPart::region(sketchId, region.interior.x, region.interior.y)[0]);
        }
        ASSERT_EQ(picked.size(), 1);
        QJsonObject params = extrude(sketchId, "dist", "10 mm");
        params["profile"] = picked;
        for (const int body : {part.body("extrude", params),
                               part.body("extrude", extrude(sketchId, "dist", "10"))}) {
            ASSERT_TRUE(part.state.bodies.count(body));
            EXPECT_EQ(countOf(part.shape(body), TopAbs_FACE), c.faces);
            EXPECT_EQ(countOf(part.shape(body), TopAbs_SOLID), 1);
            EXPECT_NEAR(part.volume(body), 10 * c.area, 1e-6 * c.area);
        }
    }
}
