#include "GrooveExpectation.h"
#include "TestPart.h"

#include "features/ThreadGeometry.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeBox.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

using namespace qor::model;

namespace {

using std::numbers::pi;
const double tan59 = std::tan(59.0 * pi / 180.0);
using Points = std::vector<std::pair<double, double>>;

gp_Ax3 topOf(double thickness)
{
    return gp_Ax3(gp_Pnt(0, 0, thickness), gp_Dir(0, 0, 1), gp_Dir(1, 0, 0));
}

// A 40 x 40 plate on XY, centred on the origin; returns its body id.
int plate(TestPart& part, double thickness)
{
    return part.body("box", {{"length", 40}, {"width", 40}, {"height", thickness}});
}

int pointSketch(TestPart& part, const gp_Ax3& plane, const Points& at)
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

// Runs a hole in a fresh plate of part and returns the volume it removed.
double drilled(double thickness, const Points& at, const QJsonObject& params, TestPart& part,
               Feature** f = nullptr)
{
    const int body = plate(part, thickness);
    const double before = part.volume(body);
    EXPECT_EQ(part.run("hole", hole(pointSketch(part, topOf(thickness), at), params), f),
              QString());
    return before - part.volume(body);
}

double drilled(double thickness, const QJsonObject& params)
{
    TestPart part;
    return drilled(thickness, {{0, 0}}, params, part);
}

bool isSound(const TopoDS_Shape& shape)
{
    return BRepCheck_Analyzer(shape).IsValid() && countOf(shape, TopAbs_SOLID) == 1;
}

const QJsonObject modelledM6{
    {"extent", "all"}, {"thread", "M6"}, {"fit", "threaded"}, {"threadModel", "modeled"}};
// The groove of M6 (base 2.45, apex 3, pitch 1) over a 10 mm thread plus the
// pitch above the face, where the plate holds material from radius 2.5 on.
const double m6Groove = grooveInSlab(2.45, 3.0, 1.0, 11.0, 2.5, 3.0, 0.0, 10.0);

} // namespace

TEST(Hole, PointsComeFromTheSketch)
{
    struct Case {
        const char* name;
        std::function<void(qor::sketch::Sketch&)> draw;
        int holes;
        std::array<double, 6> toolBox;
    };
    const std::vector<Case> cases = {
        // Free points drill; circles and the ends of lines do not when free points exist.
        {"free points",
         [](qor::sketch::Sketch& s) {
             s.addPoint(false, -10, 0);
             s.addPoint(false, 10, 5);
             s.addCircleAt(false, 0, -10, 2);
             s.addLineAt(false, -15, -15, -5, -15);
             // A free point that became the end of a line is no hole point.
             s.addLine(int(s.addPoint(false, 15, -15)), int(s.addPoint(false, 15, 15)), false);
         },
         2,
         {-12, -2, 0, 12, 7, 10.05}},
        // Without free points the centres of the circles count; construction
        // circles and arcs do not.
        {"circle centres",
         [](qor::sketch::Sketch& s) {
             s.addCircleAt(false, 5, 6, 1);
             s.addCircleAt(true, -5, -6, 1);
             s.addArcAt(false, -10, 10, -8, 10, -10, 12);
         },
         1,
         {3, 4, 0, 7, 8, 10.05}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPart part;
        const int body = plate(part, 10);
        Feature* f = nullptr;
        ASSERT_EQ(
            part.run("hole",
                     hole(part.sketch(topOf(10), c.draw), {{"diameter", "4 mm"}, {"tip", false}}),
                     &f),
            QString());
        EXPECT_NEAR(part.volume(body), 40 * 40 * 10 - c.holes * pi * 4 * 10, 1e-6);
        EXPECT_TRUE(extentIs(part.state.tools.at(f->id).shape, c.toolBox));
    }
    // Lines alone give nothing to drill; a missing or wrong sketch asks for one.
    TestPart part;
    const int body = plate(part, 10);
    const int lines = part.sketch(topOf(10), [](auto& s) { addOutline(s, -5, -5, 5, 5); });
    EXPECT_EQ(part.run("hole", hole(lines)), "Die Skizze enthält keine Punkte für Bohrungen");
    EXPECT_EQ(part.run("hole", {}), "Skizze mit den Bohrungspunkten auswählen");
    EXPECT_EQ(part.run("hole", hole(body / 100)), "Skizze mit den Bohrungspunkten auswählen");
}

TEST(Hole, RemovedVolumes)
{
    const double point = cone(3, 3 / tan59);
    const auto frustum
        = [](double r0, double r1, double h) { return pi * h / 3 * (r0 * r0 + r0 * r1 + r1 * r1); };
    const double deep = 3 / std::tan(pi / 6);
    const auto through = [](double r) { return pi * r * r * 10; };
    struct Case {
        const char* name;
        double thickness;
        QJsonObject params;
        double removed;
    };
    // Blind holes are 10 deep; the tool's 0.05 above the face cuts nothing.
    const std::vector<Case> cases = {
        {"plain", 30, {}, pi * 9 * 10 + point},
        {"flat bottom", 30, {{"tip", false}}, pi * 9 * 10},
        {"sized",
         30,
         {{"diameter", "8 mm"}, {"depth", "12 mm"}},
         pi * 16 * 12 + cone(4, 4 / tan59)},
        // Counterbore 11 x 6.4 (the defaults) on a 6 mm hole.
        {"counterbore", 30, {{"kind", "cbore"}}, pi * 5.5 * 5.5 * 6.4 + pi * 9 * 3.6 + point},
        // Countersink 12.6 mm at 90° on the 6.6 mm clearance hole of M6: a 3 mm cone.
        {"countersink",
         30,
         {{"kind", "csink"}, {"thread", "M6"}},
         frustum(6.3, 3.3, 3) + pi * 3.3 * 3.3 * 7 + cone(3.3, 3.3 / tan59)},
        {"countersink 60°",
         30,
         {{"kind", "csink"}, {"thread", "M6"}, {"csinkAngle", "60 deg"}},
         frustum(6.3, 3.3, deep) + pi * 3.3 * 3.3 * (10 - deep) + cone(3.3, 3.3 / tan59)},
        // Through everything: depth and tip are not read.
        {"through all", 10, {{"extent", "all"}, {"depth", "-5"}, {"tip", true}}, through(3)},
        // Sizes from the thread table by fit; without a row the diameter rules.
        {"clearance", 10, {{"extent", "all"}, {"thread", "M6"}}, through(3.3)},
        {"tap", 10, {{"extent", "all"}, {"thread", "M6"}, {"fit", "tap"}}, through(2.5)},
        {"threaded", 10, {{"extent", "all"}, {"thread", "M6"}, {"fit", "threaded"}}, through(2.5)},
        {"fine tap", 10, {{"extent", "all"}, {"thread", "M10x1.25"}, {"fit", "tap"}}, through(4.4)},
        {"other fit",
         10,
         {{"extent", "all"}, {"thread", "M10x1.25"}, {"fit", "other"}},
         through(5.5)},
        {"no row",
         10,
         {{"extent", "all"}, {"thread", "M7"}, {"fit", "tap"}, {"diameter", "7 mm"}},
         through(3.5)},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(drilled(c.thickness, c.params), c.removed, 1e-6) << c.name;

    // Against the plane normal by default: from the bottom plane that leaves only
    // the 0.05 mm start of the tool in the plate; flipped it drills upwards.
    TestPart part;
    const int body = plate(part, 30);
    const int sk = pointSketch(part, gp_Ax3(), {{0, 0}});
    ASSERT_EQ(part.run("hole", hole(sk, {{"tip", false}})), QString());
    EXPECT_NEAR(40 * 40 * 30 - part.volume(body), pi * 9 * 0.05, 1e-6);
    ASSERT_EQ(part.run("hole", hole(sk, {{"tip", false}, {"flip", true}})), QString());
    EXPECT_NEAR(40 * 40 * 30 - part.volume(body), pi * 9 * 10, 1e-6);

    // Two holes that overlap cut their union (one compound of overlapping tools
    // would cut nothing at all).
    TestPart pair;
    const double lens = 2 * 9 * std::acos(4.0 / 6.0) - 2 * std::sqrt(36.0 - 16.0);
    EXPECT_NEAR(drilled(10, {{0, 0}, {4, 0}}, {{"extent", "all"}}, pair), 10 * (2 * pi * 9 - lens),
                1e-6);
}

TEST(Hole, ThreadMarksAndDesignations)
{
    TestPart part;
    Feature* f = nullptr;
    drilled(30, {{5, -4}, {-6, 2}}, {{"thread", "M6"}, {"fit", "threaded"}}, part, &f);
    ASSERT_EQ(part.state.threads.size(), 2u);
    const ThreadMark& m = part.state.threads[0];
    EXPECT_TRUE(m.position.IsEqual(gp_Pnt(5, -4, 30), 1e-9));
    EXPECT_TRUE(m.direction.IsEqual(gp_Dir(0, 0, -1), 1e-12));
    EXPECT_DOUBLE_EQ(m.minorDiameter, 5);
    EXPECT_TRUE(m.internal && !m.modelled && !m.leftHand);
    EXPECT_EQ(m.featureId, f->id);
    EXPECT_TRUE(part.state.threads[1].position.IsEqual(gp_Pnt(-6, 2, 30), 1e-9));

    struct Case {
        double thickness;
        QJsonObject params;
        QString designation;
        double length;
    };
    const std::vector<Case> cases = {
        {30, {}, "M6 – 9,95 tief", 9.95},
        {30, {{"threadExtent", "dist"}, {"threadDepth", "8 mm"}}, "M6 – 8 tief", 8},
        {30, {{"threadExtent", "dist"}, {"threadDepth", "12 mm"}}, "M6 – 10 tief", 10},
        {30, {{"leftHand", true}, {"depth", "12.5 mm"}}, "M6-LH – 12,45 tief", 12.45},
        // Through a 10 mm plate the thread is exactly as long as the plate:
        // measured before the cut, not along the whole through-all tool.
        {10, {{"extent", "all"}}, "M6 – durchgehend", 10},
        {10, {{"extent", "all"}, {"threadExtent", "dist"}, {"threadDepth", "4"}}, "M6 – 4 tief", 4},
        {10, {{"extent", "all"}, {"thread", "M10x1.25"}}, "M10x1,25 – durchgehend", 10},
    };
    for (Case c : cases) {
        TestPart one;
        if (!c.params.contains("thread"))
            c.params["thread"] = "M6";
        c.params["fit"] = "threaded";
        drilled(c.thickness, {{0, 0}}, c.params, one);
        ASSERT_EQ(one.state.threads.size(), 1u) << c.designation.toStdString();
        EXPECT_EQ(one.state.threads[0].designation, c.designation);
        EXPECT_NEAR(one.state.threads[0].length, c.length, 1e-6) << c.designation.toStdString();
    }

    // Through two stacked plates the thread runs through both, through the chosen
    // one only when the hole is cut into that one.
    const auto stacked = [](QJsonArray targets) {
        TestPart stack;
        for (const int z : {0, 10})
            stack.addBody(BRepPrimAPI_MakeBox(gp_Pnt(-20, -20, z), 40, 40, 10).Shape());
        const int top = pointSketch(stack, topOf(20), {{0, 0}});
        QJsonObject params{{"extent", "all"}, {"thread", "M6"}, {"fit", "threaded"}};
        params["targets"] = targets;
        EXPECT_EQ(stack.run("hole", hole(top, params)), QString());
        return stack.state.threads.empty() ? 0.0 : stack.state.threads[0].length;
    };
    EXPECT_NEAR(stacked({}), 20, 1e-6);
    EXPECT_NEAR(stacked({90001}), 10, 1e-6);

    // Only a threaded fit with a table row leaves marks.
    for (const QJsonObject& params : {QJsonObject{{"thread", "M6"}, {"fit", "tap"}},
                                      QJsonObject{{"thread", "none"}, {"fit", "threaded"}}}) {
        TestPart none;
        drilled(10, {{0, 0}}, params, none);
        EXPECT_TRUE(none.state.threads.empty());
    }
}

TEST(Hole, ModelledThreadCutsItsGroove)
{
    TestPart cosmetic;
    QJsonObject plainParams = modelledM6;
    plainParams.remove("threadModel");
    const double plain = drilled(10, {{0, 0}}, plainParams, cosmetic);

    TestPart part;
    const double removed = drilled(10, {{0, 0}}, modelledM6, part);
    EXPECT_NEAR(m6Groove, 24.07, 0.01);
    EXPECT_NEAR(removed - plain, m6Groove, 2e-3 * m6Groove);
    const int body = part.state.bodies.begin()->first;
    EXPECT_TRUE(isSound(part.shape(body)));
    ASSERT_EQ(part.state.threads.size(), 1u);
    EXPECT_TRUE(part.state.threads[0].modelled);

    // The tool record holds drill and groove as one solid: the groove is one
    // thread length long (not the length of the through-all tool), and moved
    // elsewhere on the plate the record removes what the hole removed.
    const ToolRecord& record = part.state.tools.rbegin()->second;
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
    const TopoDS_Shape twice = BRepAlgoAPI_Cut(part.shape(body), repeated).Shape();
    EXPECT_NEAR(part.volume(body) - shapeVolume(twice), removed, 2e-3 * m6Groove);
}

TEST(Hole, ModelledThreadHandAndCounterbore)
{
    // Points on the groove's centre line of a right-hand thread, a quarter turn
    // round (towards N × D = -Y) and two pitches down, and half a pitch away from
    // it: the one is cut away, the other is left in a right-hand thread; a
    // left-hand thread swaps them.
    const gp_Pnt onRight(0, -2.75, 8.75);
    const gp_Pnt onLeft(0, -2.75, 8.25);
    for (const bool leftHand : {false, true}) {
        QJsonObject params = modelledM6;
        params["leftHand"] = leftHand;
        TestPart part;
        drilled(10, {{0, 0}}, params, part);
        const TopoDS_Shape& body = part.state.bodies.begin()->second.shape;
        EXPECT_EQ(TestPart::inside(body, onRight), leftHand);
        EXPECT_EQ(TestPart::inside(body, onLeft), !leftHand);
    }

    // Two counterbored threaded holes: the groove cuts only below the counterbore.
    QJsonObject sunk = modelledM6;
    sunk["kind"] = "cbore";
    TestPart part;
    const double removed = drilled(10, {{-8, 0}, {8, 0}}, sunk, part);
    const double hole = pi * 5.5 * 5.5 * 6.4 + pi * 6.25 * 3.6;
    const double groove = grooveInSlab(2.45, 3.0, 1.0, 11.0, 2.5, 3.0, 6.4, 10.0);
    EXPECT_NEAR(removed, 2 * (hole + groove), 2e-3 * 2 * groove);
    EXPECT_EQ(countOf(part.state.tools.rbegin()->second.shape, TopAbs_SOLID), 2);
    EXPECT_TRUE(isSound(part.state.bodies.begin()->second.shape));
}

TEST(Hole, BadInputFailsInGermanAndLeavesThePlate)
{
    TestPart part;
    const int body = plate(part, 10);
    const int sk = pointSketch(part, topOf(10), {{0, 0}});
    const QString narrow = "Senkdurchmesser muss größer als der Bohrungsdurchmesser sein";
    const QString tooDeep = "Die Senkung ist tiefer als die Bohrung";
    const QString angle = "Senkwinkel muss zwischen 0° und 180° liegen";
    const std::vector<std::pair<QJsonObject, QString>> cases = {
        {{{"diameter", "0 mm"}}, "Durchmesser muss größer als 0 sein"},
        {{{"diameter", "-2"}}, "Durchmesser muss größer als 0 sein"},
        {{{"depth", "0"}}, "Tiefe muss größer als 0 sein"},
        {{{"kind", "cbore"}, {"cboreDiameter", "6 mm"}}, narrow},
        {{{"kind", "csink"}, {"csinkDiameter", "6 mm"}}, narrow},
        {{{"kind", "cbore"}, {"cboreDepth", "0"}}, "Senktiefe muss größer als 0 sein"},
        {{{"kind", "cbore"}, {"cboreDepth", "10 mm"}}, tooDeep},
        {{{"kind", "csink"}, {"depth", "3 mm"}}, tooDeep},
        {{{"kind", "csink"}, {"csinkAngle", "0 deg"}}, angle},
        {{{"kind", "csink"}, {"csinkAngle", "180 deg"}}, angle},
        {{{"kind", "csink"}, {"csinkAngle", "-90 deg"}}, angle},
        {{{"thread", "M6"}, {"fit", "threaded"}, {"threadExtent", "dist"}, {"threadDepth", "0"}},
         "Gewindetiefe muss größer als 0 sein"},
    };
    for (const auto& [params, error] : cases)
        EXPECT_EQ(part.run("hole", hole(sk, params)), error);
    EXPECT_NEAR(part.volume(body), 40 * 40 * 10, 1e-6);
    // Sizes of invisible fields do not matter.
    EXPECT_EQ(
        part.run("hole",
                 hole(sk, {{"kind", "simple"}, {"cboreDiameter", "1 mm"}, {"csinkAngle", "0"}})),
        QString());
}

// Patterns and mirrors repeat the recorded tool, so every copy of a modelled
// threaded hole carries its groove, not only the drill.
TEST(Hole, PatternAndMirrorKeepTheThreadedHole)
{
    // Either copy lands at (8, 0): mirrored in YZ or 16 mm along X.
    const QJsonObject pattern{{"count1", 2}, {"spacing1", "16 mm"}};
    for (const char* copy : {"pattern_rect", "mirror"}) {
        SCOPED_TRACE(copy);
        TestPart part;
        Feature* f = nullptr;
        QJsonObject params = modelledM6;
        params["kind"] = "csink";
        const double one = drilled(10, {{-8, 0}}, params, part, &f);
        const int body = part.state.bodies.begin()->first;
        const double before = part.volume(body);
        QJsonObject copyParams = QByteArray(copy) == "mirror" ? QJsonObject() : pattern;
        copyParams["source"] = "features";
        copyParams["features"] = QJsonArray{QJsonObject{{"id", f->id}}};
        ASSERT_EQ(part.run(copy, copyParams), QString());
        EXPECT_NEAR(before - part.volume(body), one, 2e-3 * m6Groove);
        EXPECT_TRUE(isSound(part.shape(body)));
        EXPECT_FALSE(TestPart::inside(part.shape(body), gp_Pnt(8, 0, 5)));
    }
}
