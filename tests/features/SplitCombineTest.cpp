#include "TestPart.h"

#include "features/SplitCombine.h"

#include <gtest/gtest.h>

using namespace qor::model;

namespace {

const auto origin = TestPart::origin;

// A 50 × 30 × 20 box centred at (x, 0) on XY; its body id.
int block(TestPart& part, const char* x = "0")
{
    return part.body("box", {{"x", x}});
}

} // namespace

TEST(Split, MidPlaneGivesTwoBodies)
{
    TestPart part;
    const int body = block(part);
    Feature* f = nullptr;
    ASSERT_EQ(part.run("split", {{"bodies", QJsonArray{body}}}, &f), QString()); // YZ by default
    EXPECT_TRUE(f->warning.isEmpty());
    ASSERT_EQ(part.state.bodies.size(), 2u);
    const int piece = f->id * 100;
    EXPECT_EQ(part.state.bodies.at(piece).name, QStringLiteral("Körper 2"));
    // One half each side of the plane.
    const bool bodyLeft = qor::test::extent(part.shape(body))[3] < 1e-6;
    EXPECT_TRUE(extentIs(part.shape(bodyLeft ? body : piece), {-25, -15, 0, 0, 15, 20}));
    EXPECT_TRUE(extentIs(part.shape(bodyLeft ? piece : body), {0, -15, 0, 25, 15, 20}));

    // XZ splits both halves again: four quarters.
    ASSERT_EQ(part.run("split", {{"bodies", QJsonArray{body, piece}}, {"plane", origin(-2)}}, &f),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 4u);
    for (const auto& [id, b] : part.state.bodies)
        EXPECT_NEAR(shapeVolume(b.shape), 7500.0, 1e-6) << id;
}

TEST(Split, PlaneThatMissesWarnsAndKeepsTheBody)
{
    TestPart part;
    const int near = block(part);
    const int far = block(part, "100");
    Feature* f = nullptr;
    ASSERT_EQ(part.run("split", {{"bodies", QJsonArray{far}}}, &f), QString());
    EXPECT_EQ(f->warning, QStringLiteral("Die Ebene schneidet den Körper nicht"));
    EXPECT_EQ(part.state.bodies.size(), 2u);
    EXPECT_TRUE(extentIs(part.shape(far), {75, -15, 0, 125, 15, 20}));

    // A plane lying on a face does not cut either.
    ASSERT_EQ(part.run("split", {{"bodies", QJsonArray{near}}, {"plane", origin(-1)}}, &f),
              QString());
    EXPECT_EQ(f->warning, QStringLiteral("Die Ebene schneidet den Körper nicht"));
    EXPECT_EQ(part.state.bodies.size(), 2u);

    // Of two bodies only the one that is cut splits; the feature still warns.
    ASSERT_EQ(part.run("split", {{"bodies", QJsonArray{far, near}}}, &f), QString());
    EXPECT_EQ(f->warning, QStringLiteral("Die Ebene schneidet den Körper nicht"));
    EXPECT_EQ(part.state.bodies.size(), 3u);
    EXPECT_NEAR(part.volume(far), 30000.0, 1e-6);
    EXPECT_NEAR(part.volume(near), 15000.0, 1e-6);
    EXPECT_NEAR(part.volume(f->id * 100), 15000.0, 1e-6);
}

TEST(Split, BodyOfSeparateSolidsStaysWholeWhenMissed)
{
    TestPart part;
    const int body = block(part);
    // A slot through the middle leaves one body of two solids.
    ASSERT_EQ(
        part.run("box", {{"length", "10"}, {"width", "100"}, {"height", "100"}, {"op", "cut"}}),
        QString());
    ASSERT_EQ(countOf(part.state.bodies.at(body).shape, TopAbs_SOLID), 2);

    Feature* f = nullptr;
    ASSERT_EQ(part.run("split", {{"bodies", QJsonArray{body}}}, &f), QString());
    EXPECT_EQ(f->warning, QStringLiteral("Die Ebene schneidet den Körper nicht"));
    EXPECT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(body), 24000.0, 1e-6);

    // XZ cuts both solids: four bodies of a quarter of the rest each.
    ASSERT_EQ(part.run("split", {{"bodies", QJsonArray{body}}, {"plane", origin(-2)}}, &f),
              QString());
    EXPECT_TRUE(f->warning.isEmpty());
    ASSERT_EQ(part.state.bodies.size(), 4u);
    for (const auto& [id, b] : part.state.bodies)
        EXPECT_NEAR(shapeVolume(b.shape), 6000.0, 1e-6) << id;
}

TEST(Split, BadInputsFailInGerman)
{
    TestPart part;
    const int body = block(part);
    EXPECT_EQ(part.run("split", {}), QStringLiteral("Körper auswählen"));
    EXPECT_EQ(part.run("split", {{"bodies", QJsonArray{4711}}}),
              QStringLiteral("Körper auswählen"));
    EXPECT_EQ(part.run("split", {{"bodies", QJsonArray{body}},
                                 {"plane", QJsonObject{{"kind", "feature"}, {"id", 999}}}}),
              QStringLiteral("Bezugsebene existiert nicht mehr"));
    EXPECT_EQ(part.state.bodies.size(), 1u);
}

TEST(Combine, JoinCutIntersectWithAndWithoutTools)
{
    // Two boxes overlapping in a 10 × 30 × 20 slab.
    struct Case {
        const char* op;
        double volume;
    };
    for (const Case& c : {Case{"join", 54000.0}, Case{"Join", 54000.0}, Case{"cut", 24000.0},
                          Case{"intersect", 6000.0}}) {
        for (const bool keep : {false, true}) {
            SCOPED_TRACE(std::string(c.op) + (keep ? " keeping tools" : ""));
            TestPart part;
            const int target = block(part);
            const int tool = block(part, "40");
            Feature* f = nullptr;
            ASSERT_EQ(part.run("combine",
                               {{"target", QJsonArray{target}},
                                {"tools", QJsonArray{tool}},
                                {"op", c.op},
                                {"keepTools", keep}},
                               &f),
                      QString());
            EXPECT_NEAR(part.volume(target), c.volume, 1e-6);
            EXPECT_EQ(countOf(part.state.bodies.at(target).shape, TopAbs_SOLID), 1);
            ASSERT_EQ(part.state.bodies.size(), keep ? 2u : 1u);
            if (keep)
                EXPECT_NEAR(part.volume(tool), 30000.0, 1e-6);
            EXPECT_FALSE(part.state.tools.count(f->id));
        }
    }
}

TEST(Combine, ToolListsAndEmptyResults)
{
    TestPart part;
    const int target = block(part);
    const int right = block(part, "40");
    const int left = block(part, "-40");
    EXPECT_EQ(part.run("combine", {{"tools", QJsonArray{right}}}),
              QStringLiteral("Zielkörper auswählen"));
    EXPECT_EQ(part.run("combine", {{"target", QJsonArray{target}}, {"tools", QJsonArray{target}}}),
              QStringLiteral("Werkzeugkörper auswählen"));
    EXPECT_EQ(part.run("combine", {{"target", QJsonArray{target}}}),
              QStringLiteral("Werkzeugkörper auswählen"));

    // Nothing in common between the outer boxes: the result would be empty and
    // neither body changes.
    EXPECT_EQ(
        part.run("combine",
                 {{"target", QJsonArray{right}}, {"tools", QJsonArray{left}}, {"op", "intersect"}}),
        QStringLiteral("Das Ergebnis wäre leer"));
    EXPECT_EQ(part.state.bodies.size(), 3u);
    EXPECT_NEAR(part.volume(right), 30000.0, 1e-6);

    // The target among the tools is skipped there, a doubled tool counts once,
    // and only the first target is the target.
    ASSERT_EQ(part.run("combine", {{"target", QJsonArray{target, left}},
                                   {"tools", QJsonArray{right, target, right, left}}}),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(target), 3 * 30000.0 - 2 * 6000.0, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(target), {-65, -15, 0, 65, 15, 20}));
    // The joined body is cleaned: one top face, not three.
    EXPECT_EQ(countOf(part.state.bodies.at(target).shape, TopAbs_FACE), 6);
}
