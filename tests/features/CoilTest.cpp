#include "TestPart.h"

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::model;

namespace {

using std::numbers::pi;

struct Spring {
    QString error;
    double volume = 0.0; // negative when the solid is inside out
    TopoDS_Shape shape;
};

Spring spring(const QJsonObject& params)
{
    TestPart part;
    Spring s;
    s.error = part.run("coil", params);
    if (!s.error.isEmpty() || part.state.bodies.size() != 1)
        return s;
    s.shape = part.state.bodies.begin()->second.shape;
    s.volume = signedVolume(s.shape) > 0 && countOf(s.shape, TopAbs_SOLID) == 1
                   ? shapeVolume(s.shape)
                   : -1.0;
    return s;
}

} // namespace

// The section stays in the plane through the axis, so by Pappus the spring holds
// the section area once per turn around the centre-line circle. The defaults:
// 8 turns of 5 mm, 20 mm across the centre line, a round wire 2 mm thick.
TEST(Coil, VolumeAndExtentOfEachShape)
{
    struct Case {
        const char* name;
        QJsonObject params;
        double area, radius, turns;
        std::array<double, 6> box;
    };
    const std::vector<Case> cases = {
        {"defaults", {}, pi, 10, 8, {-11, -11, -1, 11, 11, 41}},
        {"square", {{"profile", "square"}}, 4, 10, 8, {-11, -11, -1, 11, 11, 41}},
        {"wide",
         {{"diameter", "30 mm"}, {"section", "3 mm"}, {"pitch", "4 mm"}, {"turns", "2"}},
         pi * 2.25,
         15,
         2,
         {-16.5, -16.5, -1.5, 16.5, 16.5, 9.5}},
        // The height mode ignores the turns, even an invalid count.
        {"height",
         {{"extent", "height"}, {"height", "20 mm"}, {"turns", "0"}},
         pi,
         10,
         4,
         {-11, -11, -1, 11, 11, 21}},
        // 3.5 turns of 6 mm end half a turn round, on -X.
        {"partial", {{"turns", "3.5"}, {"pitch", "6 mm"}}, pi, 10, 3.5, {-11, -11, -1, 11, 11, 22}},
        {"expression",
         {{"turns", "2 * 3"}, {"pitch", "2.01 mm"}},
         pi,
         10,
         6,
         {-11, -11, -1, 11, 11, 13.06}},
        {"flipped", {{"flip", true}, {"leftHand", true}}, pi, 10, 8, {-11, -11, -41, 11, 11, 1}},
        // About the X and Y axes the helix starts on +Y and +Z.
        {"x axis",
         {{"axis", TestPart::origin(-11)}, {"turns", "2"}},
         pi,
         10,
         2,
         {-1, -11, -11, 11, 11, 11}},
        {"y axis",
         {{"axis", TestPart::origin(-12)}, {"turns", "2"}},
         pi,
         10,
         2,
         {-11, -1, -11, 11, 11, 11}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Spring s = spring(c.params);
        ASSERT_EQ(s.error, QString());
        EXPECT_NEAR(s.volume, c.area * 2.0 * pi * c.radius * c.turns, 0.05);
        EXPECT_TRUE(extentIs(s.shape, c.box, 0.01));
    }
}

TEST(Coil, HandDecidesTheWindingSense)
{
    // A quarter turn: a right-hand spring goes from +X towards +Y, a left-hand
    // one towards -Y.
    const QJsonObject quarter{{"extent", "height"}, {"height", "1.25 mm"}};
    QJsonObject leftHand = quarter;
    leftHand["leftHand"] = true;
    const auto right = qor::test::extent(spring(quarter).shape);
    const auto left = qor::test::extent(spring(leftHand).shape);
    EXPECT_NEAR(right[4], 11, 0.01);
    EXPECT_GT(right[1], -1.5);
    EXPECT_NEAR(left[1], -11, 0.01);
    EXPECT_LT(left[4], 1.5);
}

TEST(Coil, BadInputIsRefusedInOrder)
{
    const QString sizes = QStringLiteral("Maße müssen größer als 0 sein");
    const QString thick = QStringLiteral("Drahtstärke muss kleiner als der Federdurchmesser sein");
    const QString length = QStringLiteral("Höhe bzw. Windungen müssen größer als 0 sein");
    const QString touching = QStringLiteral(
        "Steigung muss größer als die Drahtstärke sein (sonst berühren sich die Windungen)");
    const std::vector<std::pair<QJsonObject, QString>> cases = {
        {{{"diameter", "0"}}, sizes},
        {{{"pitch", "-5 mm"}}, sizes},
        {{{"section", "0"}}, sizes},
        {{{"section", "20 mm"}}, thick},
        // The section message wins over a pitch that is too small as well.
        {{{"section", "25 mm"}, {"pitch", "1 mm"}}, thick},
        {{{"turns", "-2"}}, length},
        {{{"extent", "height"}, {"height", "0"}}, length},
        // Zero turns are reported before a pitch that is too small.
        {{{"turns", "0"}, {"pitch", "1 mm"}}, length},
        {{{"pitch", "2 mm"}}, touching},
        {{{"pitch", "2.0000005 mm"}}, touching},
        {{{"pitch", "1.5 mm"}, {"profile", "square"}}, touching},
        {{{"axis", TestPart::featureRef(999)}}, "Bezugsachse existiert nicht mehr"},
    };
    for (const auto& [params, error] : cases)
        EXPECT_EQ(spring(params).error, error) << error.toStdString();
    EXPECT_EQ(spring({{"turns", "drei"}}).error.left(7), QStringLiteral("turns: "));
}

TEST(Coil, BooleanModes)
{
    // Union and intersection with the same block add up to block plus spring.
    const auto withBlock = [](const char* op) {
        TestPart part;
        EXPECT_EQ(part.run("box", {}), QString());
        EXPECT_EQ(part.run("coil", {{"op", op}}), QString());
        EXPECT_EQ(part.state.bodies.size(), 1u);
        return TestPart::preciseVolume(part.state.bodies.begin()->second.shape);
    };
    const double block = 50.0 * 30.0 * 20.0;
    const double common = withBlock("intersect");
    const double coil = pi * 2.0 * pi * 10 * 8;
    EXPECT_NEAR(withBlock("join") + common, block + coil, 0.1);
    EXPECT_NEAR(withBlock("cut"), block - common, 0.1);
    // The block holds the lower half of the spring, less what dips below it.
    EXPECT_GT(common, coil / 2 - 20);
    EXPECT_LT(common, coil / 2);
}
