#include "TestPart.h"

#include "features/MoveScale.h"

#include <BRepCheck_Analyzer.hxx>

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::model;

namespace {

constexpr double pi = std::numbers::pi;

// A 4 × 2 × 1 block centred at (10, 0) in XY, standing on z = 0; its body id.
int smallBlock(TestPart& part)
{
    return part.body("box", {{"x", "10"}, {"length", "4"}, {"width", "2"}, {"height", "1"}});
}

} // namespace

TEST(Move, TranslatesAndTurnsBeforeShifting)
{
    TestPart part;
    const int block = smallBlock(part);
    ASSERT_EQ(part.run("move",
                       {{"bodies", QJsonArray{block}}, {"dx", "1"}, {"dy", "-5"}, {"dz", "3 mm"}}),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_TRUE(boxIs(part.box(block), 9, -6, 3, 13, -4, 4));
    EXPECT_NEAR(part.volume(block), 8.0, 1e-9);

    // 90° about the default Z axis takes (10, 0) to (0, 10), then the shift:
    // shifting first would end at (0, 15).
    TestPart turned;
    const int b = smallBlock(turned);
    ASSERT_EQ(turned.run("move", {{"bodies", QJsonArray{QJsonObject{{"id", b}}}},
                                  {"angle", "90 deg"},
                                  {"dx", "5"}}),
              QString());
    EXPECT_TRUE(boxIs(turned.box(b), 4, 8, 0, 6, 12, 1));
    EXPECT_NEAR(turned.volume(b), 8.0, 1e-9);
    EXPECT_GT(signedVolume(turned.shape(b)), 0.0);

    // About X: (x, y, z) goes to (x, -z, y).
    ASSERT_EQ(turned.run("move", {{"bodies", QJsonArray{b}},
                                  {"angle", "90"},
                                  {"axis", TestPart::origin(-11)}}),
              QString());
    EXPECT_TRUE(boxIs(turned.box(b), 4, -1, 8, 6, 0, 12));
}

TEST(Move, CopiesOrMovesInPlace)
{
    TestPart part;
    const int block = smallBlock(part);
    Feature* f = nullptr;
    ASSERT_EQ(part.run("move", {{"bodies", QJsonArray{block}}, {"dz", "10"}, {"copy", true}}, &f),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 2u);
    EXPECT_TRUE(boxIs(part.box(block), 8, -1, 0, 12, 1, 1));
    const int copy = f->id * 100;
    ASSERT_TRUE(part.state.bodies.count(copy));
    EXPECT_EQ(part.state.bodies.at(copy).name, QStringLiteral("Körper 2"));
    EXPECT_EQ(part.state.bodies.at(copy).featureId, f->id);
    EXPECT_TRUE(boxIs(part.box(copy), 8, -1, 10, 12, 1, 11));

    // A body listed twice moves once; both bodies move.
    ASSERT_EQ(part.run("move", {{"bodies", QJsonArray{block, copy, block}}, {"dx", "-8"}}),
              QString());
    EXPECT_EQ(part.state.bodies.size(), 2u);
    EXPECT_TRUE(boxIs(part.box(block), 0, -1, 0, 4, 1, 1));
    EXPECT_TRUE(boxIs(part.box(copy), 0, -1, 10, 4, 1, 11));
}

TEST(Move, BadInputsFailInGerman)
{
    TestPart part;
    const int block = smallBlock(part);
    const QJsonObject missingAxis{{"kind", "feature"}, {"id", 999}};
    EXPECT_EQ(part.run("move", {{"dx", "5"}}), QStringLiteral("Körper auswählen"));
    EXPECT_EQ(part.run("move", {{"bodies", QJsonArray{4711}}}), QStringLiteral("Körper auswählen"));
    EXPECT_EQ(
        part.run("move", {{"bodies", QJsonArray{block}}, {"angle", "90"}, {"axis", missingAxis}}),
        QStringLiteral("Bezugsachse existiert nicht mehr"));
    EXPECT_EQ(part.run("move", {{"bodies", QJsonArray{block}}, {"dy", "1 /"}}).left(4),
              QStringLiteral("dy: "));
    EXPECT_TRUE(boxIs(part.box(block), 8, -1, 0, 12, 1, 1));

    // Without a turn the axis is never looked at.
    EXPECT_EQ(part.run("move", {{"bodies", QJsonArray{block}}, {"dx", "1"}, {"axis", missingAxis}}),
              QString());
    EXPECT_TRUE(boxIs(part.box(block), 9, -1, 0, 13, 1, 1));
}

TEST(Scale, UniformAboutCentroidOrOrigin)
{
    TestPart part;
    Feature* base = nullptr;
    ASSERT_EQ(part.run("box", {{"x", "10"}}, &base), QString()); // centre of mass (10, 0, 10)
    const int block = base->id * 100;
    ASSERT_EQ(part.run("scale", {{"bodies", QJsonArray{block}}}), QString());
    EXPECT_NEAR(part.volume(block), 30000.0 * 8, 1e-6);
    EXPECT_TRUE(boxIs(part.box(block), -40, -30, -10, 60, 30, 30));

    TestPart fromOrigin;
    ASSERT_EQ(fromOrigin.run("box", {{"x", "10"}}, &base), QString());
    ASSERT_EQ(fromOrigin.run("scale", {{"bodies", QJsonArray{base->id * 100}},
                                       {"factor", "0.5"},
                                       {"center", "origin"}}),
              QString());
    EXPECT_NEAR(fromOrigin.volume(base->id * 100), 30000.0 / 8, 1e-9);
    EXPECT_TRUE(boxIs(fromOrigin.box(base->id * 100), -7.5, -7.5, 0, 17.5, 7.5, 10));

    // A copy leaves the original as it was.
    Feature* f = nullptr;
    ASSERT_EQ(
        fromOrigin.run(
            "scale", {{"bodies", QJsonArray{base->id * 100}}, {"factor", "3"}, {"copy", true}}, &f),
        QString());
    ASSERT_EQ(fromOrigin.state.bodies.size(), 2u);
    EXPECT_NEAR(fromOrigin.volume(base->id * 100), 30000.0 / 8, 1e-9);
    EXPECT_NEAR(fromOrigin.volume(f->id * 100), 30000.0 / 8 * 27, 1e-6);
    // About its own centre of mass (5, 0, 5), the default.
    EXPECT_TRUE(boxIs(fromOrigin.box(f->id * 100), -32.5, -22.5, -10, 42.5, 22.5, 20));
}

TEST(Scale, PerAxisMultipliesTheVolumeByTheFactors)
{
    TestPart part;
    Feature* base = nullptr;
    ASSERT_EQ(part.run("box", {{"x", "10"}}, &base), QString());
    const int block = base->id * 100;
    ASSERT_EQ(part.run("scale", {{"bodies", QJsonArray{block}},
                                 {"mode", "axes"},
                                 {"fx", "2"},
                                 {"fy", "3"},
                                 {"fz", "0.5"}}),
              QString());
    EXPECT_NEAR(part.volume(block), 30000.0 * 3, 1e-6);
    EXPECT_TRUE(boxIs(part.box(block), -40, -45, 5, 60, 45, 15, 1e-6));
    EXPECT_GT(signedVolume(part.shape(block)), 0.0);
    EXPECT_TRUE(BRepCheck_Analyzer(part.state.bodies.at(block).shape).IsValid());

    // A sphere becomes an ellipsoid of semi-axes 40, 10, 20 about the origin.
    Feature* ball = nullptr;
    ASSERT_EQ(part.run("sphere", {{"x", "100"}}, &ball), QString());
    const int sphere = ball->id * 100;
    ASSERT_EQ(part.run("scale", {{"bodies", QJsonArray{sphere}},
                                 {"mode", "axes"},
                                 {"fx", "2"},
                                 {"fy", "0.5"},
                                 {"center", "origin"}}),
              QString());
    EXPECT_NEAR(TestPart::preciseVolume(part.shape(sphere), 1e-9), 4.0 / 3.0 * pi * 40 * 10 * 20,
                1e-6 * 33510);
    EXPECT_TRUE(boxIs(part.box(sphere), 160, -10, -20, 240, 10, 20, 1e-5));
    EXPECT_GT(signedVolume(part.shape(sphere)), 0.0);
}

TEST(Scale, FactorsMustBePositive)
{
    TestPart part;
    Feature* base = nullptr;
    ASSERT_EQ(part.run("box", {}, &base), QString());
    const QJsonArray block{base->id * 100};
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
    EXPECT_NEAR(part.volume(base->id * 100), 30000.0, 1e-6);
}

TEST(MoveScale, SameVolumesAfterSaveAndLoad)
{
    Document doc;
    Feature* block = doc.addFeature("box", {});
    Feature* ball = doc.addFeature("sphere", {{"x", "100"}});
    const QJsonArray both{block->id * 100, ball->id * 100};
    doc.addFeature("move", {{"bodies", both}, {"angle", "30"}, {"dz", "5"}, {"copy", true}});
    doc.addFeature("scale", {{"bodies", both}, {"mode", "axes"}, {"fx", "1.5"}, {"fz", "2"}});
    ASSERT_EQ(doc.recompute(), 0);
    ASSERT_EQ(doc.current.bodies.size(), 4u);
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(block->id * 100).shape), 30000.0 * 3, 1e-6);

    expectSameAfterReload(doc);
}
