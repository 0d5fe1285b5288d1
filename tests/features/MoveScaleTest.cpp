#include "TestPart.h"

#include <BRepCheck_Analyzer.hxx>

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::model;

namespace {

// A 4 × 2 × 1 block centred at (10, 0) in XY, standing on z = 0; its body id.
int smallBlock(TestPart& part)
{
    return part.body("box", {{"x", "10"}, {"length", "4"}, {"width", "2"}, {"height", "1"}});
}

} // namespace

TEST(Move, TranslatesAndTurnsBeforeShifting)
{
    struct Case {
        const char* name;
        QJsonObject params;
        std::array<double, 6> box;
    };
    const std::vector<Case> cases = {
        {"shift", {{"dx", "1"}, {"dy", "-5"}, {"dz", "3 mm"}}, {9, -6, 3, 13, -4, 4}},
        // 90° about the default Z axis takes (10, 0) to (0, 10), then the shift:
        // shifting first would end at (0, 15).
        {"turn about Z", {{"angle", "90 deg"}, {"dx", "5"}}, {4, 8, 0, 6, 12, 1}},
        // About X: (x, y, z) goes to (x, -z, y).
        {"turn about X", {{"angle", "90"}, {"axis", TestPart::origin(-11)}}, {8, -1, -1, 12, 0, 1}},
        // Without a turn the axis is never looked at.
        {"axis unread", {{"dx", "1"}, {"axis", TestPart::featureRef(999)}}, {9, -1, 0, 13, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPart part;
        const int block = smallBlock(part);
        QJsonObject params = c.params;
        params["bodies"] = QJsonArray{QJsonObject{{"id", block}}};
        ASSERT_EQ(part.run("move", params), QString());
        ASSERT_EQ(part.state.bodies.size(), 1u);
        EXPECT_TRUE(extentIs(part.shape(block), c.box));
        EXPECT_NEAR(signedVolume(part.shape(block)), 8.0, 1e-9);
    }
}

TEST(Move, CopiesOrMovesInPlace)
{
    TestPart part;
    const int block = smallBlock(part);
    Feature* f = nullptr;
    ASSERT_EQ(part.run("move", {{"bodies", QJsonArray{block}}, {"dz", "10"}, {"copy", true}}, &f),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 2u);
    EXPECT_TRUE(extentIs(part.shape(block), {8, -1, 0, 12, 1, 1}));
    const int copy = f->id * 100;
    EXPECT_EQ(part.state.bodies.at(copy).name, QStringLiteral("Körper 2"));
    EXPECT_TRUE(extentIs(part.shape(copy), {8, -1, 10, 12, 1, 11}));

    // A body listed twice moves once; both bodies move.
    ASSERT_EQ(part.run("move", {{"bodies", QJsonArray{block, copy, block}}, {"dx", "-8"}}),
              QString());
    EXPECT_TRUE(extentIs(part.shape(block), {0, -1, 0, 4, 1, 1}));
    EXPECT_TRUE(extentIs(part.shape(copy), {0, -1, 10, 4, 1, 11}));

    EXPECT_EQ(part.run("move", {{"dx", "5"}}), QStringLiteral("Körper auswählen"));
    EXPECT_EQ(part.run("move", {{"bodies", QJsonArray{4711}}}), QStringLiteral("Körper auswählen"));
    EXPECT_EQ(part.run("move", {{"bodies", QJsonArray{block}},
                                {"angle", "90"},
                                {"axis", TestPart::featureRef(999)}}),
              QStringLiteral("Bezugsachse existiert nicht mehr"));
    EXPECT_EQ(part.run("move", {{"bodies", QJsonArray{block}}, {"dy", "1 /"}}).left(4),
              QStringLiteral("dy: "));
    EXPECT_TRUE(extentIs(part.shape(block), {0, -1, 0, 4, 1, 1}));
}

TEST(Scale, UniformPerAxisAndCopies)
{
    // The default box is 50 × 30 × 20 (30000 mm³); at x = 10 its centre of mass
    // is (10, 0, 10).
    struct Case {
        const char* name;
        QJsonObject params;
        double volume;
        std::array<double, 6> box;
    };
    const std::vector<Case> cases = {
        {"about the centroid", {}, 30000.0 * 8, {-40, -30, -10, 60, 30, 30}},
        {"about the origin",
         {{"factor", "0.5"}, {"center", "origin"}},
         30000.0 / 8,
         {-7.5, -7.5, 0, 17.5, 7.5, 10}},
        {"per axis",
         {{"mode", "axes"}, {"fx", "2"}, {"fy", "3"}, {"fz", "0.5"}},
         30000.0 * 3,
         {-40, -45, 5, 60, 45, 15}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPart part;
        const int block = part.body("box", {{"x", "10"}});
        QJsonObject params = c.params;
        params["bodies"] = QJsonArray{block};
        ASSERT_EQ(part.run("scale", params), QString());
        EXPECT_NEAR(signedVolume(part.shape(block)), c.volume, 1e-6);
        EXPECT_TRUE(extentIs(part.shape(block), c.box));
        EXPECT_TRUE(BRepCheck_Analyzer(part.shape(block)).IsValid());
    }

    // A sphere becomes an ellipsoid of semi-axes 40, 10, 20; a copy leaves the
    // original as it was.
    TestPart part;
    const int sphere = part.body("sphere", {{"x", "100"}});
    Feature* f = nullptr;
    ASSERT_EQ(part.run("scale",
                       {{"bodies", QJsonArray{sphere}},
                        {"mode", "axes"},
                        {"fx", "2"},
                        {"fy", "0.5"},
                        {"center", "origin"},
                        {"copy", true}},
                       &f),
              QString());
    const TopoDS_Shape& ellipsoid = part.shape(f->id * 100);
    EXPECT_NEAR(TestPart::preciseVolume(ellipsoid, 1e-9),
                4.0 / 3.0 * std::numbers::pi * 40 * 10 * 20, 1e-6 * 33510);
    EXPECT_TRUE(extentIs(ellipsoid, {160, -10, -20, 240, 10, 20}, 1e-5));
    EXPECT_GT(signedVolume(ellipsoid), 0.0);
    EXPECT_TRUE(extentIs(part.shape(sphere), {80, -20, -20, 120, 20, 20}, 1e-5));
}

TEST(Scale, FactorsMustBePositive)
{
    TestPart part;
    const QJsonArray block{part.body("box")};
    const QString positive = QStringLiteral("Faktoren müssen größer als 0 sein");
    EXPECT_EQ(part.run("scale", {{"bodies", block}, {"factor", "0"}}), positive);
    EXPECT_EQ(part.run("scale", {{"bodies", block}, {"factor", "-2"}}), positive);
    EXPECT_EQ(part.run("scale", {{"bodies", block}, {"mode", "axes"}, {"fz", "0"}}), positive);
    // A mirrored scale is refused rather than turning the body inside out.
    EXPECT_EQ(part.run("scale", {{"bodies", block}, {"mode", "axes"}, {"fx", "-1"}}), positive);
    // Only the factors of the chosen mode count, but all are evaluated.
    EXPECT_EQ(part.run("scale", {{"bodies", block}, {"mode", "axes"}, {"factor", "0"}}), QString());
    EXPECT_EQ(part.run("scale", {{"bodies", block}, {"mode", "axes"}, {"factor", "2 +"}}).left(8),
              QStringLiteral("factor: "));
    EXPECT_EQ(part.run("scale", {{"factor", "2"}}),
              QStringLiteral("Körper zum Skalieren auswählen"));
    EXPECT_NEAR(part.volume(block[0].toInt()), 30000.0, 1e-6);
}
