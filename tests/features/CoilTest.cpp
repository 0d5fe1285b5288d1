#include "TestPart.h"

#include <TopAbs_ShapeEnum.hxx>

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::model;

namespace {

constexpr double pi = std::numbers::pi;

// The section stays in the plane through the axis, so by Pappus the spring holds
// the section area once per turn around the centre-line circle.
double springVolume(double sectionArea, double radius, double turns)
{
    return sectionArea * 2.0 * pi * radius * turns;
}

struct Spring {
    QString error;
    double volume = 0.0;
    double signedVolume = 0.0;
    int solids = 0;
    Bnd_Box box;
};

Spring spring(const QJsonObject& params)
{
    TestPart part;
    Spring s;
    Feature* f = nullptr;
    s.error = part.run("coil", params, &f);
    if (!s.error.isEmpty() || part.state.bodies.size() != 1)
        return s;
    const TopoDS_Shape& shape = part.state.bodies.begin()->second.shape;
    s.volume = shapeVolume(shape);
    s.signedVolume = signedVolume(shape);
    s.solids = countOf(shape, TopAbs_SOLID);
    s.box = TestPart::box(shape);
    return s;
}

} // namespace

TEST(Coil, DefaultsAndSections)
{
    // 8 turns of 5 mm, 20 mm across the centre line, wire 2 mm thick.
    const Spring round = spring({});
    ASSERT_EQ(round.error, QString());
    EXPECT_EQ(round.solids, 1);
    EXPECT_NEAR(round.volume, springVolume(pi, 10, 8), 0.05);
    EXPECT_NEAR(round.volume, 1579.1, 0.1);
    EXPECT_GT(round.signedVolume, 0.0);
    EXPECT_TRUE(boxIs(round.box, -11, -11, -1, 11, 11, 41, 0.01));

    const Spring square = spring({{"profile", "square"}});
    ASSERT_EQ(square.error, QString());
    EXPECT_EQ(square.solids, 1);
    EXPECT_NEAR(square.volume, springVolume(4.0, 10, 8), 0.05);
    EXPECT_GT(square.signedVolume, 0.0);
    EXPECT_TRUE(boxIs(square.box, -11, -11, -1, 11, 11, 41, 0.01));

    const Spring wide = spring({{"diameter", "30 mm"}, {"section", "3 mm"}, {"pitch", "4 mm"},
                                {"turns", "2"}});
    ASSERT_EQ(wide.error, QString());
    EXPECT_NEAR(wide.volume, springVolume(pi * 2.25, 15, 2), 0.05);
    EXPECT_TRUE(boxIs(wide.box, -16.5, -16.5, -1.5, 16.5, 16.5, 9.5, 0.01));
}

TEST(Coil, TurnsOrHeight)
{
    // The height mode ignores the turns, even an invalid count.
    const Spring byHeight = spring({{"extent", "height"}, {"height", "40 mm"}, {"turns", "0"}});
    ASSERT_EQ(byHeight.error, QString());
    EXPECT_NEAR(byHeight.volume, springVolume(pi, 10, 8), 0.05);

    const Spring half = spring({{"extent", "height"}, {"height", "20 mm"}});
    ASSERT_EQ(half.error, QString());
    EXPECT_NEAR(half.volume, springVolume(pi, 10, 4), 0.05);
    EXPECT_TRUE(boxIs(half.box, -11, -11, -1, 11, 11, 21, 0.01));

    // Fractional turns: 3.5 turns of 6 mm end half a turn round, on -X.
    const Spring partial = spring({{"turns", "3.5"}, {"pitch", "6 mm"}});
    ASSERT_EQ(partial.error, QString());
    EXPECT_NEAR(partial.volume, springVolume(pi, 10, 3.5), 0.05);
    EXPECT_TRUE(boxIs(partial.box, -11, -11, -1, 11, 11, 22, 0.01));

    // Expressions are evaluated: 2 * 3 turns.
    const Spring expression = spring({{"turns", "2 * 3"}});
    ASSERT_EQ(expression.error, QString());
    EXPECT_NEAR(expression.volume, springVolume(pi, 10, 6), 0.05);
}

TEST(Coil, HandFlipAndAxis)
{
    // A quarter turn shows the winding sense: a right-hand spring goes from +X
    // towards +Y, a left-hand one towards -Y.
    const QJsonObject quarter{{"extent", "height"}, {"height", "1.25 mm"}};
    const Spring right = spring(quarter);
    ASSERT_EQ(right.error, QString());
    double x0, y0, z0, x1, y1, z1;
    right.box.Get(x0, y0, z0, x1, y1, z1);
    EXPECT_NEAR(y1, 11, 0.01);
    EXPECT_GT(y0, -1.5);
    EXPECT_NEAR(x1, 11, 0.01);

    QJsonObject leftParams = quarter;
    leftParams["leftHand"] = true;
    const Spring left = spring(leftParams);
    ASSERT_EQ(left.error, QString());
    left.box.Get(x0, y0, z0, x1, y1, z1);
    EXPECT_NEAR(y0, -11, 0.01);
    EXPECT_LT(y1, 1.5);
    EXPECT_NEAR(right.volume, left.volume, 1e-6);
    EXPECT_GT(spring({{"leftHand", true}}).signedVolume, 0.0);

    // Flipped, the spring grows down the axis.
    const Spring flipped = spring({{"flip", true}});
    ASSERT_EQ(flipped.error, QString());
    EXPECT_TRUE(boxIs(flipped.box, -11, -11, -41, 11, 11, 1, 0.01));
    EXPECT_NEAR(flipped.volume, springVolume(pi, 10, 8), 0.05);
    EXPECT_GT(flipped.signedVolume, 0.0);

    // About the X axis the helix starts on +Y.
    const Spring alongX = spring({{"axis", TestPart::origin(-11)}, {"turns", "2"}});
    ASSERT_EQ(alongX.error, QString());
    EXPECT_TRUE(boxIs(alongX.box, -1, -11, -11, 11, 11, 11, 0.01));
    const Spring alongY = spring({{"axis", TestPart::origin(-12)}, {"turns", "2"}});
    ASSERT_EQ(alongY.error, QString());
    EXPECT_TRUE(boxIs(alongY.box, -11, -1, -11, 11, 11, 11, 0.01));
}

TEST(Coil, BadInputIsRefusedInOrder)
{
    const QString sizes = QStringLiteral("Maße müssen größer als 0 sein");
    const QString thick = QStringLiteral("Drahtstärke muss kleiner als der Federdurchmesser sein");
    const QString length = QStringLiteral("Höhe bzw. Windungen müssen größer als 0 sein");
    const QString touching = QStringLiteral(
        "Steigung muss größer als die Drahtstärke sein (sonst berühren sich die Windungen)");

    EXPECT_EQ(spring({{"diameter", "0"}}).error, sizes);
    EXPECT_EQ(spring({{"pitch", "-5 mm"}}).error, sizes);
    EXPECT_EQ(spring({{"section", "0"}}).error, sizes);
    EXPECT_EQ(spring({{"section", "20 mm"}}).error, thick);
    // The section message wins over a pitch that is too small as well.
    EXPECT_EQ(spring({{"section", "25 mm"}, {"pitch", "1 mm"}}).error, thick);
    EXPECT_EQ(spring({{"turns", "0"}}).error, length);
    EXPECT_EQ(spring({{"turns", "-2"}}).error, length);
    EXPECT_EQ(spring({{"extent", "height"}, {"height", "0"}}).error, length);
    // Zero turns are reported before a pitch that is too small.
    EXPECT_EQ(spring({{"turns", "0"}, {"pitch", "1 mm"}}).error, length);
    EXPECT_EQ(spring({{"pitch", "2 mm"}}).error, touching);
    EXPECT_EQ(spring({{"pitch", "2.0000005 mm"}}).error, touching);
    EXPECT_EQ(spring({{"pitch", "1.5 mm"}, {"profile", "square"}}).error, touching);
    EXPECT_EQ(spring({{"turns", "drei"}}).error.left(7), QStringLiteral("turns: "));
    EXPECT_EQ(spring({{"axis", QJsonObject{{"kind", "feature"}, {"id", 999}}}}).error,
              QStringLiteral("Bezugsachse existiert nicht mehr"));

    // Just clear of touching builds.
    const Spring tight = spring({{"pitch", "2.01 mm"}, {"turns", "2"}});
    ASSERT_EQ(tight.error, QString());
    EXPECT_NEAR(tight.volume, springVolume(pi, 10, 2), 0.05);
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
    const double joined = withBlock("join");
    const double common = withBlock("intersect");
    const double coil = springVolume(pi, 10, 8);
    EXPECT_NEAR(joined + common, 50.0 * 30.0 * 20.0 + coil, 0.1);
    // The block holds the lower half of the spring, less what dips below it.
    EXPECT_GT(common, coil / 2 - 20);
    EXPECT_LT(common, coil / 2);

    TestPart part;
    ASSERT_EQ(part.run("box", {}), QString());
    ASSERT_EQ(part.run("coil", {{"op", "cut"}}), QString());
    EXPECT_NEAR(TestPart::preciseVolume(part.state.bodies.begin()->second.shape),
                50.0 * 30.0 * 20.0 - common, 0.1);
    ASSERT_EQ(part.run("coil", {{"op", "new"}, {"profile", "square"}}), QString());
    EXPECT_EQ(part.state.bodies.size(), 2u);
}

TEST(Coil, SurvivesSaveAndLoad)
{
    Document doc;
    doc.parameters.push_back(Parameter{"w", "2.5 mm"});
    doc.addFeature("coil", {{"profile", "square"},
                            {"section", "w"},
                            {"pitch", "4 mm"},
                            {"extent", "height"},
                            {"height", "30 mm"},
                            {"leftHand", true},
                            {"flip", true}});
    ASSERT_EQ(doc.recompute(), 0);
    ASSERT_EQ(doc.current.bodies.size(), 1u);
    const TopoDS_Shape& coil = doc.current.bodies.begin()->second.shape;
    EXPECT_NEAR(shapeVolume(coil), springVolume(6.25, 10, 7.5), 0.05);
    EXPECT_TRUE(boxIs(TestPart::box(coil), -11.25, -11.25, -31.25, 11.25, 11.25, 1.25, 0.01));
    expectSameAfterReload(doc);
}
