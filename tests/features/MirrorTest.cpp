#include "TestPart.h"

#include <gtest/gtest.h>

using namespace qor::model;

namespace {

const auto originPlane = TestPart::origin;

QJsonObject mirrorBodies(int bodyId, bool join, const QJsonObject& plane = originPlane(-3))
{
    return {{"source", "bodies"}, {"bodies", QJsonArray{bodyId}}, {"join", join}, {"plane", plane}};
}

QJsonObject mirrorFeature(int featureId, const QJsonObject& plane)
{
    return {{"source", "features"},
            {"features", QJsonArray{QJsonObject{{"id", featureId}}}},
            {"plane", plane}};
}

} // namespace

TEST(Mirror, BodiesJoinedOrAdded)
{
    // A 10 mm cube between x = 0 and 10, mirrored in YZ: touching, it merges.
    TestPart part;
    const int body = part.cube(10, 5);
    ASSERT_EQ(part.run("mirror", mirrorBodies(body, true)), QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(body), 2000, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(body), {-10, -5, 0, 10, 5, 10}));
    EXPECT_EQ(countOf(part.shape(body), TopAbs_FACE), 6);

    // Mirrored as a feature, the new body joins its mirror image too.
    TestPart asFeature;
    const int original = asFeature.cube(10, 5);
    ASSERT_EQ(asFeature.run("mirror", mirrorFeature(original / 100, originPlane(-3))), QString());
    ASSERT_EQ(asFeature.state.bodies.size(), 1u);
    EXPECT_NEAR(asFeature.volume(original), 2000, 1e-6);

    // In XY as a body of its own; a reflection must not leave it inside out.
    Feature* f = nullptr;
    ASSERT_EQ(part.run("mirror", mirrorBodies(body, false, originPlane(-1)), &f), QString());
    const Body& copy = part.state.bodies.at(f->id * 100);
    EXPECT_EQ(copy.name, QStringLiteral("Körper 2"));
    EXPECT_TRUE(extentIs(copy.shape, {-10, -5, -10, 10, 5, 0}));
    EXPECT_NEAR(signedVolume(copy.shape), 2000, 1e-6);
}

TEST(Mirror, InAConstructionPlaneThroughTheBody)
{
    // The plane x = 5 halves the cube: its reflection is the cube itself.
    TestPart part;
    const int body = part.cube(10, 5);
    Feature* plane = nullptr;
    ASSERT_EQ(part.run("plane", {{"base", originPlane(-3)}, {"offset", "5 mm"}}, &plane),
              QString());
    ASSERT_EQ(part.run("mirror", mirrorBodies(body, true, TestPart::featureRef(plane->id))),
              QString());
    EXPECT_NEAR(part.volume(body), 1000, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(body), {0, -5, 0, 10, 5, 10}));
    EXPECT_EQ(part.run("mirror", mirrorBodies(body, true, TestPart::featureRef(999))),
              QStringLiteral("Bezugsebene existiert nicht mehr"));
}

TEST(Mirror, FeaturesAndTheirThreadMarks)
{
    TestPart part;
    const int body = part.body("box", {{"length", 200}, {"width", 200}, {"height", 10}});
    const int pocket
        = part.body(
              "box",
              {{"length", 4}, {"width", 4}, {"height", 20}, {"x", 50}, {"y", 20}, {"op", "cut"}})
          / 100;
    part.state.threads.push_back(ThreadMark{gp_Pnt(50, 20, 10), gp_Dir(0, 0, -1), 4, 3.2, 0.7, 8,
                                            true, false, false, "M4", pocket});
    const double before = part.volume(body);

    Feature* mirror = nullptr;
    ASSERT_EQ(part.run("mirror", mirrorFeature(pocket, originPlane(-3)), &mirror), QString());
    EXPECT_NEAR(part.volume(body), before - 160, 1e-6);
    EXPECT_FALSE(TestPart::inside(part.shape(body), gp_Pnt(-50, 20, 5)));
    // Mirrored in XZ, then in XY: the second reaches no material but its mark
    // turns round.
    ASSERT_EQ(part.run("mirror", mirrorFeature(pocket, originPlane(-2))), QString());
    Feature* below = nullptr;
    ASSERT_EQ(part.run("mirror", mirrorFeature(pocket, originPlane(-1)), &below), QString());
    EXPECT_NEAR(part.volume(body), before - 320, 1e-6);

    ASSERT_EQ(part.state.threads.size(), 4u);
    const ThreadMark& yz = part.state.threads[1];
    EXPECT_EQ(yz.featureId, mirror->id);
    EXPECT_TRUE(yz.position.IsEqual(gp_Pnt(-50, 20, 10), 1e-9));
    EXPECT_TRUE(yz.direction.IsEqual(gp_Dir(0, 0, -1), 1e-12));
    const ThreadMark& xy = part.state.threads[3];
    EXPECT_EQ(xy.featureId, below->id);
    EXPECT_TRUE(xy.position.IsEqual(gp_Pnt(50, 20, -10), 1e-9));
    EXPECT_TRUE(xy.direction.IsEqual(gp_Dir(0, 0, 1), 1e-12));

    // Mirroring the mirror takes only its own marks along.
    ASSERT_EQ(part.run("mirror", mirrorFeature(mirror->id, originPlane(-2))), QString());
    EXPECT_EQ(part.state.threads.size(), 5u);
    EXPECT_TRUE(part.state.threads[4].position.IsEqual(gp_Pnt(-50, -20, 10), 1e-9));
    EXPECT_NEAR(part.volume(body), before - 480, 1e-6);
}

TEST(Mirror, SelectionErrors)
{
    TestPart part;
    const int body = part.cube(10, 5);
    EXPECT_EQ(part.run("mirror", {}), QStringLiteral("Features zum Vervielfältigen auswählen"));
    Feature* plane = nullptr;
    ASSERT_EQ(part.run("plane", {}, &plane), QString());
    EXPECT_EQ(part.run("mirror", mirrorFeature(plane->id, originPlane(-3))),
              QStringLiteral(
                  "Feature liefert keinen Werkzeugkörper (nur Extrusion, Rotation, Bohrung …)"));
    // Nothing picked under "bodies" leaves the model as it was.
    ASSERT_EQ(part.run("mirror", {{"source", "bodies"}}), QString());
    EXPECT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(body), 1000, 1e-6);
}
