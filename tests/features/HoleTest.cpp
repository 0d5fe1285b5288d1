#include "GrooveExpectation.h"
#include "TestPart.h"

#include "features/ThreadGeometry.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepBuilderAPI_Transform.hxx>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

using namespace qor::model;

namespace {

constexpr double pi = std::numbers::pi;
const double tan59 = std::tan(59.0 * pi / 180.0);

gp_Ax3 topOf(double thickness)
{
    return gp_Ax3(gp_Pnt(0, 0, thickness), gp_Dir(0, 0, 1), gp_Dir(1, 0, 0));
}

// A 40 x 40 plate on XY, centred on the origin; returns its body id.
int plate(TestPart& part, double thickness)
{
    return part.body("box", {{"length", 40}, {"width", 40}, {"height", thickness}});
}

int pointSketch(TestPart& part, const gp_Ax3& plane,
                const std::vector<std::pair<double, double>>& at)
{
    return part.sketch(plane, [&](qor::sketch::Sketch& s) {
        for (const auto& [u, v] : at)
            s.addPoint(false, u, v);
    });
}

QJsonObject hole(int sketchId, QJsonObject params = {})
{
    params["points"] = QJsonObject{{"kind", "sketch"}, {"id", sketchId}};
    return params;
}

double cone(double r, double h)
{
    return pi * r * r * h / 3.0;
}

// Runs a hole in a fresh plate and returns the volume it removed.
double drilled(double thickness, std::vector<std::pair<double, double>> at, QJsonObject params,
               TestPart& part)
{
    const int body = plate(part, thickness);
    const double before = part.volume(body);
    const int sk = pointSketch(part, topOf(thickness), at);
    const QString error = part.run("hole", hole(sk, params));
    EXPECT_EQ(error, QString());
    return before - part.volume(body);
}

double drilled(double thickness, QJsonObject params)
{
    TestPart part;
    return drilled(thickness, {{0, 0}}, std::move(params), part);
}

bool isSound(const TopoDS_Shape& shape)
{
    return BRepCheck_Analyzer(shape).IsValid() && countOf(shape, TopAbs_SOLID) == 1;
}

} // namespace

TEST(Hole, PointsComeFromTheSketch)
{
    // Free points drill; circles and the ends of lines do not when free points exist.
    {
        TestPart part;
        const int body = plate(part, 10);
        const int sk = part.sketch(topOf(10), [](qor::sketch::Sketch& s) {
            s.addPoint(false, -10, 0);
            s.addPoint(false, 10, 5);
            s.addCircleAt(false, 0, -10, 2);
            s.addLineAt(false, -15, -15, -5, -15);
            // A free point that became the end of a line is no hole point.
            const int shared = int(s.addPoint(false, 15, -15));
            s.addLine(shared, int(s.addPoint(false, 15, 15)), false);
        });
        Feature* f = nullptr;
        ASSERT_EQ(part.run("hole", hole(sk, {{"diameter", "4 mm"}, {"tip", false}}), &f),
                  QString());
        EXPECT_NEAR(part.volume(body), 40 * 40 * 10 - 2 * pi * 4 * 10, 1e-6);
        const Bnd_Box tools = TestPart::box(part.state.tools.at(f->id).shape);
        EXPECT_TRUE(boxIs(tools, -12, -2, 0, 12, 7, 10.05));
    }
    // Without free points the centres of the circles count; construction circles
    // and arcs do not.
    {
        TestPart part;
        const int body = plate(part, 10);
        const int sk = part.sketch(topOf(10), [](qor::sketch::Sketch& s) {
            s.addCircleAt(false, 5, 6, 1);
            s.addCircleAt(true, -5, -6, 1);
            s.addArcAt(false, -10, 10, -8, 10, -10, 12);
        });
        Feature* f = nullptr;
        ASSERT_EQ(part.run("hole", hole(sk, {{"diameter", "4 mm"}, {"tip", false}}), &f),
                  QString());
        EXPECT_NEAR(part.volume(body), 40 * 40 * 10 - pi * 4 * 10, 1e-6);
        EXPECT_TRUE(boxIs(TestPart::box(part.state.tools.at(f->id).shape), 3, 4, 0, 7, 8, 10.05));
    }
    // Lines alone give nothing to drill; a missing or wrong sketch asks for one.
    TestPart part;
    const int body = plate(part, 10);
    const int lines = part.sketch(topOf(10), [](qor::sketch::Sketch& s) {
        addOutline(s, -5, -5, 5, 5);
        s.addArcAt(false, 0, 0, 3, 0, 0, 3);
    });
    EXPECT_EQ(part.run("hole", hole(lines)), "Die Skizze enthält keine Punkte für Bohrungen");
    EXPECT_EQ(part.run("hole", {}), "Skizze mit den Bohrungspunkten auswählen");
    EXPECT_EQ(part.run("hole", hole(body / 100)), "Skizze mit den Bohrungspunkten auswählen");
    EXPECT_NEAR(part.volume(body), 40 * 40 * 10, 1e-6);
}

TEST(Hole, VolumesOfPlainCounterboredAndCountersunkHoles)
{
    // Blind holes 10 deep in a 30 mm plate; the tool's 0.05 above the face cuts nothing.
    const double point = cone(3, 3 / tan59);
    EXPECT_NEAR(drilled(30, {}), pi * 9 * 10 + point, 1e-6);
    EXPECT_NEAR(drilled(30, {{"tip", false}}), pi * 9 * 10, 1e-6);
    EXPECT_NEAR(drilled(30, {{"diameter", "8 mm"}, {"depth", "12 mm"}}),
                pi * 16 * 12 + cone(4, 4 / tan59), 1e-6);

    // Counterbore 11 x 6.4 (the defaults) on a 6 mm hole.
    EXPECT_NEAR(drilled(30, {{"kind", "cbore"}}), pi * 5.5 * 5.5 * 6.4 + pi * 9 * 3.6 + point,
                1e-6);

    // Countersink 12.6 mm at 90° on the 6.6 mm clearance hole of M6: a 3 mm cone.
    const auto frustum = [](double r0, double r1, double h) {
        return pi * h / 3 * (r0 * r0 + r0 * r1 + r1 * r1);
    };
    EXPECT_NEAR(drilled(30, {{"kind", "csink"}, {"thread", "M6"}}),
                frustum(6.3, 3.3, 3) + pi * 3.3 * 3.3 * 7 + cone(3.3, 3.3 / tan59), 1e-6);
    // At 60° the same countersink reaches 3 / tan 30° deep.
    const double deep = 3 / std::tan(pi / 6);
    EXPECT_NEAR(drilled(30, {{"kind", "csink"}, {"thread", "M6"}, {"csinkAngle", "60 deg"}}),
                frustum(6.3, 3.3, deep) + pi * 3.3 * 3.3 * (10 - deep) + cone(3.3, 3.3 / tan59),
                1e-6);

    // The point reaches 10 + 3 / tan 59° on the axis; without it the bottom is flat.
    TestPart part;
    Feature* f = nullptr;
    const int body = plate(part, 30);
    ASSERT_EQ(part.run("hole", hole(pointSketch(part, topOf(30), {{0, 0}})), &f), QString());
    EXPECT_TRUE(boxIs(TestPart::box(part.state.tools.at(f->id).shape), -3, -3, 30 - 11.8026, 3, 3,
                      30.05, 1e-4));
    EXPECT_EQ(part.state.tools.at(f->id).op, "cut");
    EXPECT_EQ(part.state.tools.at(f->id).targets, std::vector<int>{body});
    EXPECT_TRUE(part.state.threads.empty());
}

TEST(Hole, DirectionThroughAllAndOverlaps)
{
    // Against the plane normal by default: from the bottom plane that leaves only
    // the 0.05 mm start of the tool in the plate; flipped it drills upwards.
    const gp_Ax3 bottom;
    {
        TestPart part;
        const int body = plate(part, 30);
        const int sk = pointSketch(part, bottom, {{0, 0}});
        ASSERT_EQ(part.run("hole", hole(sk, {{"tip", false}})), QString());
        EXPECT_NEAR(40 * 40 * 30 - part.volume(body), pi * 9 * 0.05, 1e-6);
        ASSERT_EQ(part.run("hole", hole(sk, {{"tip", false}, {"flip", true}})), QString());
        EXPECT_NEAR(40 * 40 * 30 - part.volume(body), pi * 9 * 10, 1e-6);
    }

    // Through everything: depth and tip are not read.
    EXPECT_NEAR(drilled(10, {{"extent", "all"}, {"depth", "-5"}, {"tip", true}}), pi * 9 * 10,
                1e-6);

    // Two holes that overlap cut their union (one compound of overlapping tools
    // would cut nothing at all).
    TestPart part;
    const double removed = drilled(10, {{0, 0}, {4, 0}}, {{"extent", "all"}}, part);
    const double lens = 2 * 9 * std::acos(4.0 / 6.0) - 2 * std::sqrt(36.0 - 16.0);
    EXPECT_NEAR(removed, 10 * (2 * pi * 9 - lens), 1e-6);
}

TEST(Hole, SizesFromTheThreadTable)
{
    const auto through = [](QJsonObject params) {
        params["extent"] = "all";
        return drilled(10, params);
    };
    EXPECT_NEAR(through({{"thread", "M6"}}), pi * 3.3 * 3.3 * 10, 1e-6); // fit "clear"
    EXPECT_NEAR(through({{"thread", "M6"}, {"fit", "tap"}}), pi * 2.5 * 2.5 * 10, 1e-6);
    EXPECT_NEAR(through({{"thread", "M6"}, {"fit", "threaded"}}), pi * 2.5 * 2.5 * 10, 1e-6);
    EXPECT_NEAR(through({{"thread", "M10x1.25"}, {"fit", "tap"}}), pi * 4.4 * 4.4 * 10, 1e-6);
    EXPECT_NEAR(through({{"thread", "M10x1.25"}, {"fit", "other"}}), pi * 5.5 * 5.5 * 10, 1e-6);
    // Without a table row the diameter rules, whatever the fit says.
    EXPECT_NEAR(through({{"fit", "tap"}, {"diameter", "7 mm"}}), pi * 3.5 * 3.5 * 10, 1e-6);
    EXPECT_NEAR(through({{"thread", "M7"}, {"fit", "tap"}, {"diameter", "7 mm"}}),
                pi * 3.5 * 3.5 * 10, 1e-6);
}

TEST(Hole, ThreadMarksAndDesignations)
{
    const auto marks = [](double thickness, QJsonObject params,
                          std::vector<std::pair<double, double>> at = {{0, 0}}) {
        TestPart part;
        if (!params.contains("thread"))
            params["thread"] = "M6";
        if (!params.contains("fit"))
            params["fit"] = "threaded";
        drilled(thickness, at, params, part);
        return part.state.threads;
    };

    TestPart part;
    Feature* f = nullptr;
    const int body = plate(part, 30);
    const int sk = pointSketch(part, topOf(30), {{5, -4}, {-6, 2}});
    ASSERT_EQ(part.run("hole", hole(sk, {{"thread", "M6"}, {"fit", "threaded"}}), &f), QString());
    ASSERT_EQ(part.state.threads.size(), 2u);
    const ThreadMark& m = part.state.threads[0];
    EXPECT_TRUE(m.position.IsEqual(gp_Pnt(5, -4, 30), 1e-9));
    EXPECT_TRUE(m.direction.IsEqual(gp_Dir(0, 0, -1), 1e-12));
    EXPECT_DOUBLE_EQ(m.majorDiameter, 6);
    EXPECT_DOUBLE_EQ(m.minorDiameter, 5);
    EXPECT_DOUBLE_EQ(m.pitch, 1);
    EXPECT_NEAR(m.length, 9.95, 1e-12);
    EXPECT_TRUE(m.internal);
    EXPECT_FALSE(m.modelled);
    EXPECT_FALSE(m.leftHand);
    EXPECT_EQ(m.designation, "M6 – 9,95 tief");
    EXPECT_EQ(m.featureId, f->id);
    EXPECT_TRUE(part.state.threads[1].position.IsEqual(gp_Pnt(-6, 2, 30), 1e-9));
    // A cosmetic thread cuts only the tap drill.
    EXPECT_NEAR(40 * 40 * 30 - part.volume(body), 2 * (pi * 6.25 * 10 + cone(2.5, 2.5 / tan59)),
                1e-6);

    EXPECT_EQ(marks(30, {{"threadExtent", "dist"}, {"threadDepth", "8 mm"}})[0].designation,
              "M6 – 8 tief");
    const auto longer = marks(30, {{"threadExtent", "dist"}, {"threadDepth", "12 mm"}});
    EXPECT_EQ(longer[0].designation, "M6 – 10 tief");
    EXPECT_NEAR(longer[0].length, 10, 1e-12);
    const auto left = marks(30, {{"leftHand", true}, {"depth", "12.5 mm"}});
    EXPECT_EQ(left[0].designation, "M6-LH – 12,45 tief");
    EXPECT_TRUE(left[0].leftHand);

    // Through a 10 mm plate the thread is exactly as long as the plate: measured
    // before the cut, not along the whole through-all tool.
    const auto through = marks(10, {{"extent", "all"}});
    ASSERT_EQ(through.size(), 1u);
    EXPECT_NEAR(through[0].length, 10, 1e-6);
    EXPECT_EQ(through[0].designation, "M6 – durchgehend");
    EXPECT_EQ(marks(10, {{"extent", "all"}, {"threadExtent", "dist"}, {"threadDepth", "4"}})[0]
                  .designation,
              "M6 – 4 tief");
    const auto fine = marks(10, {{"extent", "all"}, {"thread", "M10x1.25"}});
    EXPECT_EQ(fine[0].designation, "M10x1,25 – durchgehend");
    EXPECT_DOUBLE_EQ(fine[0].minorDiameter, 8.8);
    EXPECT_DOUBLE_EQ(fine[0].pitch, 1.25);

    // Through two stacked plates the thread runs through both, through the chosen
    // one only when the hole is cut into that one.
    const auto stacked = [](QJsonArray targets) {
        TestPart stack;
        for (const int id : {1, 2}) {
            Body plate;
            plate.id = id;
            plate.shape = BRepPrimAPI_MakeBox(gp_Pnt(-20, -20, 10 * (id - 1)), 40, 40, 10).Shape();
            stack.state.bodies[id] = plate;
        }
        const int top = pointSketch(stack, topOf(20), {{0, 0}});
        EXPECT_EQ(stack.run("hole", hole(top, {{"extent", "all"},
                                               {"thread", "M6"},
                                               {"fit", "threaded"},
                                               {"targets", targets}})),
                  QString());
        return stack.state.threads.empty() ? 0.0 : stack.state.threads[0].length;
    };
    EXPECT_NEAR(stacked({}), 20, 1e-6);
    EXPECT_NEAR(stacked({2}), 10, 1e-6);

    // Only a threaded fit with a table row leaves marks.
    EXPECT_TRUE(marks(10, {{"fit", "tap"}}).empty());
    EXPECT_TRUE(marks(10, {{"thread", "none"}}).empty());
}

TEST(Hole, ModelledThreadCutsItsGroove)
{
    const QJsonObject threaded{{"extent", "all"}, {"thread", "M6"}, {"fit", "threaded"}};
    TestPart cosmetic;
    const double plain = drilled(10, {{0, 0}}, threaded, cosmetic);

    TestPart part;
    QJsonObject params = threaded;
    params["threadModel"] = "modeled";
    const auto started = std::chrono::steady_clock::now();
    const double removed = drilled(10, {{0, 0}}, params, part);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 30.0);

    // The groove of M6 (base 2.45, apex 3, pitch 1) over the 10 mm thread plus the
    // pitch above the face, where the plate holds material from radius 2.5 on.
    const double groove = grooveInSlab(2.45, 3.0, 1.0, 11.0, 2.5, 3.0, 0.0, 10.0);
    EXPECT_NEAR(groove, 24.07, 0.01);
    EXPECT_NEAR(removed - plain, groove, 2e-3 * groove);
    const int body = part.state.bodies.begin()->first;
    EXPECT_TRUE(isSound(part.state.bodies.at(body).shape));
    ASSERT_EQ(part.state.threads.size(), 1u);
    EXPECT_TRUE(part.state.threads[0].modelled);
    EXPECT_EQ(part.state.threads[0].designation, "M6 – durchgehend");

    // The tool record holds drill and groove as one solid: the groove is one
    // thread length long (not the length of the through-all tool), and moved
    // elsewhere on the plate the record removes what the hole removed.
    const ToolRecord& record = part.state.tools.rbegin()->second;
    EXPECT_EQ(record.op, "cut");
    ASSERT_EQ(countOf(record.shape, TopAbs_SOLID), 1);
    TestPart probe;
    plate(probe, 10);
    const double drill = pi * 6.25 * (throughAllDistance(probe.state, gp_Pnt(0, 0, 10)) + 0.05);
    const double added = shapeVolume(record.shape) - drill;
    EXPECT_GT(added, grooveVolume(2.45, 3, 1, 11, 2.5, 3) * (1 - 1e-3));
    EXPECT_LT(added, grooveVolume(2.45, 3, 1, 11, 2.45, 3) * (1 + 1e-3));
    gp_Trsf move;
    move.SetTranslation(gp_Vec(12, 0, 0));
    const TopoDS_Shape repeated = BRepBuilderAPI_Transform(record.shape, move, true).Shape();
    const TopoDS_Shape twice = BRepAlgoAPI_Cut(part.state.bodies.at(body).shape, repeated).Shape();
    EXPECT_NEAR(shapeVolume(part.state.bodies.at(body).shape) - shapeVolume(twice), removed,
                2e-3 * groove);
}

TEST(Hole, ModelledThreadHandAndCounterbore)
{
    // Points on the groove's centre line of a right-hand thread, a quarter turn
    // round (towards N × D = -Y) and two pitches down, and half a pitch away from
    // it: the one is cut away, the other is left in a right-hand thread; a
    // left-hand thread swaps them.
    const QJsonObject threaded{
        {"extent", "all"}, {"thread", "M6"}, {"fit", "threaded"}, {"threadModel", "modeled"}};
    const gp_Pnt onRight(0, -2.75, 8.75);
    const gp_Pnt onLeft(0, -2.75, 8.25);
    TestPart right;
    const double rightRemoved = drilled(10, {{0, 0}}, threaded, right);
    const TopoDS_Shape& r = right.state.bodies.begin()->second.shape;
    EXPECT_FALSE(TestPart::inside(r, onRight));
    EXPECT_TRUE(TestPart::inside(r, onLeft));

    QJsonObject leftParams = threaded;
    leftParams["leftHand"] = true;
    TestPart left;
    const double leftRemoved = drilled(10, {{0, 0}}, leftParams, left);
    const TopoDS_Shape& l = left.state.bodies.begin()->second.shape;
    EXPECT_TRUE(TestPart::inside(l, onRight));
    EXPECT_FALSE(TestPart::inside(l, onLeft));
    EXPECT_NEAR(leftRemoved, rightRemoved, 1e-3 * 24);
    EXPECT_EQ(left.state.threads[0].designation, "M6-LH – durchgehend");

    // Two counterbored threaded holes: the groove cuts only below the counterbore.
    QJsonObject sunk = threaded;
    sunk["kind"] = "cbore";
    TestPart part;
    const double removed = drilled(10, {{-8, 0}, {8, 0}}, sunk, part);
    const double hole = pi * 5.5 * 5.5 * 6.4 + pi * 6.25 * 3.6;
    const double groove = grooveInSlab(2.45, 3.0, 1.0, 11.0, 2.5, 3.0, 6.4, 10.0);
    EXPECT_NEAR(removed, 2 * (hole + groove), 2e-3 * 2 * groove);
    EXPECT_EQ(part.state.threads.size(), 2u);
    EXPECT_EQ(countOf(part.state.tools.rbegin()->second.shape, TopAbs_SOLID), 2);
    EXPECT_TRUE(isSound(part.state.bodies.begin()->second.shape));
}

TEST(Hole, BadInputFailsInGermanAndLeavesThePlate)
{
    TestPart part;
    const int body = plate(part, 10);
    const int sk = pointSketch(part, topOf(10), {{0, 0}});
    const auto fails = [&](QJsonObject params) { return part.run("hole", hole(sk, params)); };

    EXPECT_EQ(fails({{"diameter", "0 mm"}}), "Durchmesser muss größer als 0 sein");
    EXPECT_EQ(fails({{"diameter", "-2"}}), "Durchmesser muss größer als 0 sein");
    EXPECT_EQ(fails({{"depth", "0"}}), "Tiefe muss größer als 0 sein");
    const QString narrow = "Senkdurchmesser muss größer als der Bohrungsdurchmesser sein";
    EXPECT_EQ(fails({{"kind", "cbore"}, {"cboreDiameter", "5 mm"}}), narrow);
    EXPECT_EQ(fails({{"kind", "cbore"}, {"cboreDiameter", "6 mm"}}), narrow);
    EXPECT_EQ(fails({{"kind", "csink"}, {"csinkDiameter", "6 mm"}}), narrow);
    EXPECT_EQ(fails({{"kind", "cbore"}, {"cboreDepth", "0"}}), "Senktiefe muss größer als 0 sein");
    const QString tooDeep = "Die Senkung ist tiefer als die Bohrung";
    EXPECT_EQ(fails({{"kind", "cbore"}, {"cboreDepth", "10 mm"}}), tooDeep);
    EXPECT_EQ(fails({{"kind", "csink"}, {"depth", "3 mm"}}), tooDeep);
    const QString angle = "Senkwinkel muss zwischen 0° und 180° liegen";
    for (const char* bad : {"0 deg", "180 deg", "200 deg", "-90 deg"})
        EXPECT_EQ(fails({{"kind", "csink"}, {"csinkAngle", bad}}), angle) << bad;
    EXPECT_EQ(fails({{"thread", "M6"},
                     {"fit", "threaded"},
                     {"threadExtent", "dist"},
                     {"threadDepth", "0"}}),
              "Gewindetiefe muss größer als 0 sein");
    // Sizes of invisible fields do not matter.
    EXPECT_EQ(fails({{"kind", "simple"}, {"cboreDiameter", "1 mm"}, {"csinkAngle", "0"}}),
              QString());
    EXPECT_NEAR(part.volume(body), 40 * 40 * 10 - pi * 9 * 10, 1e-6);
    EXPECT_TRUE(part.state.threads.empty());
}

TEST(Hole, SaveLoadAndRecomputeGiveTheSameThreadedPart)
{
    TestPart part;
    plate(part, 10);
    const int sk = pointSketch(part, topOf(10), {{-8, 0}});
    ASSERT_EQ(part.run("hole", hole(sk, {{"kind", "csink"},
                                         {"thread", "M6"},
                                         {"fit", "threaded"},
                                         {"extent", "all"},
                                         {"threadModel", "modeled"}})),
              QString());
    TestPart loaded;
    part.reloadInto(loaded);
    EXPECT_TRUE(sameBodies(part.state, loaded.state, 1e-6));
    ASSERT_EQ(loaded.state.threads.size(), 1u);
    EXPECT_EQ(loaded.state.threads[0].designation, "M6 – durchgehend");
    EXPECT_TRUE(loaded.state.threads[0].modelled);
}

// Patterns and mirrors repeat the recorded tool, so every copy of a modelled
// threaded hole carries its groove, not only the drill.
TEST(Hole, PatternAndMirrorRepeatTheThreadedHole)
{
    QJsonObject params{{"extent", "all"}, {"thread", "M6"}, {"fit", "threaded"},
                       {"threadModel", "modeled"}};
    const double groove = grooveInSlab(2.45, 3.0, 1.0, 11.0, 2.5, 3.0, 0.0, 10.0);

    const auto threadedHole = [&](TestPart& part, int& body, Feature*& f) {
        body = plate(part, 10);
        const double before = part.volume(body);
        const int sk = pointSketch(part, topOf(10), {{-8, 0}});
        EXPECT_EQ(part.run("hole", hole(sk, params), &f), QString());
        return before - part.volume(body);
    };
    const auto sourceOf = [](const Feature* f) {
        return QJsonArray{QJsonObject{{"id", f->id}}};
    };

    TestPart patterned;
    int body = 0;
    Feature* holeFeature = nullptr;
    const double one = threadedHole(patterned, body, holeFeature);
    double before = patterned.volume(body);
    ASSERT_EQ(patterned.run("pattern_rect", {{"source", "features"},
                                             {"features", sourceOf(holeFeature)},
                                             {"count1", 2},
                                             {"spacing1", "16 mm"}}),
              QString());
    EXPECT_NEAR(before - patterned.volume(body), one, 2e-3 * groove);
    EXPECT_TRUE(isSound(patterned.state.bodies.at(body).shape));

    TestPart mirrored;
    const double same = threadedHole(mirrored, body, holeFeature);
    before = mirrored.volume(body);
    ASSERT_EQ(mirrored.run("mirror", {{"source", "features"}, {"features", sourceOf(holeFeature)}}),
              QString());
    EXPECT_NEAR(before - mirrored.volume(body), same, 2e-3 * groove);
    // The mirrored copy lands on the other side of the YZ plane.
    EXPECT_FALSE(TestPart::inside(mirrored.shape(body), gp_Pnt(8, 0, 5)));
}
