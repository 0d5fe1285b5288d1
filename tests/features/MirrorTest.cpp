#include "TestPart.h"

#include <gtest/gtest.h>

using namespace qor::model;

namespace {

const auto originPlane = TestPart::origin;

QJsonObject mirrorBodies(int bodyId, bool join)
{
    return {{"source", "bodies"}, {"bodies", QJsonArray{bodyId}}, {"join", join}};
}

QJsonObject mirrorFeature(int featureId, const QJsonObject& plane)
{
    return {{"source", "features"},
            {"features", QJsonArray{QJsonObject{{"id", featureId}}}},
            {"plane", plane}};
}

bool inside(const TopoDS_Shape& solid, double x, double y, double z)
{
    return TestPart::inside(solid, gp_Pnt(x, y, z));
}

// A 10 mm cube standing on XY between x = 0 and 10.
int cube(TestPart& part)
{
    return part.cube(10, 5);
}

} // namespace

TEST(Mirror, BodiesJoinedOrAdded)
{
    TestPart part;
    const int body = cube(part);

    // The default plane is YZ; the copy touches the original and merges with it.
    ASSERT_EQ(part.run("mirror", mirrorBodies(body, true)), QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(body), 2000, 1e-6);
    EXPECT_TRUE(boxIs(part.box(body), -10, -5, 0, 10, 5, 10));
    EXPECT_EQ(countOf(part.state.bodies.at(body).shape, TopAbs_SOLID), 1);
    EXPECT_EQ(countOf(part.state.bodies.at(body).shape, TopAbs_FACE), 6);

    TestPart separate;
    const int original = cube(separate);
    Feature* f = nullptr;
    ASSERT_EQ(separate.run("mirror",
                           {{"source", "bodies"},
                            {"bodies", QJsonArray{original}},
                            {"join", false},
                            {"plane", originPlane(-1)}},
                           &f),
              QString());
    ASSERT_EQ(separate.state.bodies.size(), 2u);
    const Body& copy = separate.state.bodies.at(f->id * 100);
    EXPECT_EQ(copy.name, QStringLiteral("Körper 2"));
    EXPECT_TRUE(boxIs(TestPart::box(copy.shape), 0, -5, -10, 10, 5, 0));
    // A reflection must not leave the copy inside out.
    EXPECT_NEAR(signedVolume(copy.shape), 1000, 1e-6);
    EXPECT_TRUE(inside(copy.shape, 5, 0, -5));
}

TEST(Mirror, InAConstructionPlaneThroughTheBody)
{
    // The plane x = 5 halves the cube: its reflection is the cube itself.
    TestPart part;
    const int body = cube(part);
    Feature* plane = nullptr;
    ASSERT_EQ(part.run("plane", {{"base", originPlane(-3)}, {"offset", "5 mm"}}, &plane),
              QString());
    const QJsonObject at{{"kind", "feature"}, {"id", plane->id}};
    QJsonObject params = mirrorBodies(body, true);
    params["plane"] = at;
    ASSERT_EQ(part.run("mirror", params), QString());
    EXPECT_NEAR(part.volume(body), 1000, 1e-6);
    EXPECT_TRUE(boxIs(part.box(body), 0, -5, 0, 10, 5, 10));

    // Not joined, the copy lies exactly on the original.
    Feature* f = nullptr;
    params["join"] = false;
    ASSERT_EQ(part.run("mirror", params, &f), QString());
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, -5, 0, 10, 5, 10));
    EXPECT_NEAR(signedVolume(part.shape(f->id * 100)), 1000, 1e-6);

    params["plane"] = QJsonObject{{"kind", "feature"}, {"id", 999}};
    EXPECT_EQ(part.run("mirror", params), QStringLiteral("Bezugsebene existiert nicht mehr"));
}

TEST(Mirror, FeaturesAndTheirThreadMarks)
{
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("box", {{"length", 200}, {"width", 200}, {"height", 10}}, &f), QString());
    const int body = f->id * 100;
    ASSERT_EQ(
        part.run("box",
                 {{"length", 4}, {"width", 4}, {"height", 20}, {"x", 50}, {"y", 20}, {"op", "cut"}},
                 &f),
        QString());
    const int pocket = f->id;
    part.state.threads.push_back(ThreadMark{gp_Pnt(50, 20, 10), gp_Dir(0, 0, -1), 4, 3.2, 0.7, 8,
                                            true, false, false, "M4", pocket});
    const double before = part.volume(body);
    const TopoDS_Shape& plate = part.state.bodies.at(body).shape;

    Feature* mirror = nullptr;
    ASSERT_EQ(part.run("mirror", mirrorFeature(pocket, originPlane(-3)), &mirror), QString());
    EXPECT_NEAR(part.volume(body), before - 160, 1e-6);
    EXPECT_FALSE(inside(plate, -50, 20, 5));
    EXPECT_TRUE(inside(plate, 50, -20, 5));
    EXPECT_TRUE(
        boxIs(TestPart::box(part.state.tools.at(mirror->id).shape), -52, 18, 0, -48, 22, 20));

    // Mirrored in XZ, then in XY: the second reaches no material but its mark
    // turns round.
    ASSERT_EQ(part.run("mirror", mirrorFeature(pocket, originPlane(-2))), QString());
    EXPECT_FALSE(inside(part.state.bodies.at(body).shape, 50, -20, 5));
    EXPECT_NEAR(part.volume(body), before - 320, 1e-6);
    Feature* below = nullptr;
    ASSERT_EQ(part.run("mirror", mirrorFeature(pocket, originPlane(-1)), &below), QString());
    EXPECT_NEAR(part.volume(body), before - 320, 1e-6);

    ASSERT_EQ(part.state.threads.size(), 4u);
    const ThreadMark& yz = part.state.threads[1];
    EXPECT_EQ(yz.featureId, mirror->id);
    EXPECT_TRUE(yz.position.IsEqual(gp_Pnt(-50, 20, 10), 1e-9));
    EXPECT_TRUE(yz.direction.IsEqual(gp_Dir(0, 0, -1), 1e-12));
    EXPECT_EQ(yz.designation, QStringLiteral("M4"));
    EXPECT_TRUE(yz.internal);
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

TEST(Mirror, NewBodyJoinsItsMirrorImage)
{
    TestPart part;
    const int body = cube(part);
    ASSERT_EQ(part.run("mirror", mirrorFeature(body / 100, originPlane(-3))), QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(body), 2000, 1e-6);
    EXPECT_TRUE(boxIs(part.box(body), -10, -5, 0, 10, 5, 10));
}

TEST(Mirror, SelectionErrors)
{
    TestPart part;
    const int body = cube(part);
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

TEST(Mirror, SaveLoadRecompute)
{
    Document doc;
    doc.addFeature("box", {{"length", "60 mm"}, {"width", "40 mm"}, {"height", "10 mm"}});
    Feature* pocket = doc.addFeature(
        "box", {{"length", 4}, {"width", 4}, {"height", 20}, {"x", 20}, {"y", 10}, {"op", "cut"}});
    doc.addFeature("mirror", mirrorFeature(pocket->id, originPlane(-3)));
    Feature* block =
        doc.addFeature("box", {{"length", 5}, {"width", 5}, {"height", 5}, {"x", 40}, {"y", 0}});
    doc.addFeature("mirror", QJsonObject{{"source", "bodies"},
                                         {"bodies", QJsonArray{block->id * 100}},
                                         {"join", false},
                                         {"plane", originPlane(-3)}});
    ASSERT_EQ(doc.recompute(), 0);
    ASSERT_EQ(doc.current.bodies.size(), 3u);
    EXPECT_NEAR(shapeVolume(doc.current.bodies.begin()->second.shape), 60 * 40 * 10 - 2 * 160,
                1e-6);
    EXPECT_TRUE(boxIs(TestPart::box(doc.current.bodies.rbegin()->second.shape), -42.5, -2.5, 0,
                      -37.5, 2.5, 5));
    expectSameAfterReload(doc);
}
