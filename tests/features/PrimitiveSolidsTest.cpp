#include "TestPart.h"

#include "model/References.h"

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::model;

namespace {

constexpr double pi = std::numbers::pi;

const auto origin = TestPart::origin;

} // namespace

TEST(Box, StandsCentredOnItsPlane)
{
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("box", {}, &f), QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_TRUE(extentIs(part.shape(f->id * 100), {-25, -15, 0, 25, 15, 20}));
    EXPECT_NEAR(part.volume(f->id * 100), 50.0 * 30.0 * 20.0, 1e-6);

    // XZ: normal -Y, X direction +X, so the frame's Y direction is +Z.
    ASSERT_EQ(part.run("box", {{"plane", origin(-2)}, {"x", "10"}, {"y", "-5"}}, &f), QString());
    EXPECT_TRUE(extentIs(part.shape(f->id * 100), {10 - 25, -20, -5 - 15, 10 + 25, 0, -5 + 15}));

    ASSERT_EQ(part.run("box",
                       {{"plane", origin(-3)}, {"length", "4"}, {"width", "2"}, {"height", "1"}},
                       &f),
              QString());
    EXPECT_TRUE(extentIs(part.shape(f->id * 100), {0, -2, -1, 1, 2, 1}));
}

TEST(Box, OnAFaceAndWithBooleans)
{
    TestPart part;
    Feature* base = nullptr;
    ASSERT_EQ(part.run("box", {}, &base), QString());
    const int bodyId = base->id * 100;

    // A face reference: the frame of a planar face has its origin at the foot of
    // the perpendicular from the model origin, here (0, 0, 20).
    const TopoDS_Shape top
        = TestPart::subShapeAt(part.shape(bodyId), TopAbs_FACE, gp_Pnt(0, 0, 20));
    ASSERT_EQ(part.run("box", {{"plane", faceRef(bodyId, top)},
                               {"length", "10"},
                               {"width", "10"},
                               {"height", "5"},
                               {"op", "join"}}),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_TRUE(extentIs(part.shape(bodyId), {-25, -15, 0, 25, 15, 25}));
    EXPECT_NEAR(part.volume(bodyId), 30000.0 + 500.0, 1e-6);

    ASSERT_EQ(part.run("box", {{"length", "10"}, {"width", "10"}, {"height", "5"}, {"op", "cut"}}),
              QString());
    EXPECT_NEAR(part.volume(bodyId), 30000.0, 1e-6);
}

TEST(Cylinder, StandsOnItsPlaneWithTheFormulaVolume)
{
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("cylinder", {}, &f), QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_EQ(part.state.bodies.at(f->id * 100).name, QStringLiteral("Körper 1"));
    EXPECT_NEAR(part.volume(f->id * 100), pi * 15 * 15 * 40, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(f->id * 100), {-15, -15, 0, 15, 15, 40}));

    // XZ: normal -Y, and the point (10, 5) of the plane is (10, 0, 5).
    ASSERT_EQ(part.run("cylinder",
                       {{"plane", origin(-2)},
                        {"x", "10"},
                        {"y", "5"},
                        {"diameter", "2 * 5 mm"},
                        {"height", "12"}},
                       &f),
              QString());
    EXPECT_NEAR(part.volume(f->id * 100), pi * 25 * 12, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(f->id * 100), {5, -12, 0, 15, 0, 10}));

    // YZ: normal +X.
    ASSERT_EQ(part.run("cylinder", {{"plane", origin(-3)}, {"y", "-20"}}, &f), QString());
    EXPECT_TRUE(extentIs(part.shape(f->id * 100), {0, -15, -35, 40, 15, -5}));
    EXPECT_EQ(part.state.bodies.size(), 3u);
}

TEST(Sphere, CentredOnTheFramePoint)
{
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("sphere", {{"plane", origin(-2)}, {"x", "10"}, {"y", "5"}}, &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), 4.0 / 3.0 * pi * 20 * 20 * 20, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(f->id * 100), {-10, -20, -15, 30, 20, 25}));

    ASSERT_EQ(part.run("sphere", {{"plane", origin(-3)}, {"x", "3"}, {"diameter", "8"}}, &f),
              QString());
    EXPECT_NEAR(part.volume(f->id * 100), 4.0 / 3.0 * pi * 64, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(f->id * 100), {-4, -1, -4, 4, 7, 4}));
}

TEST(Torus, RingAroundTheFramePoint)
{
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("torus", {}, &f), QString());
    // Pappus: tube area times the path of its centre.
    EXPECT_NEAR(part.volume(f->id * 100), pi * 6 * 6 * 2 * pi * 30, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(f->id * 100), {-36, -36, -6, 36, 36, 6}));

    ASSERT_EQ(part.run("torus", {{"plane", origin(-3)}, {"x", "5"}, {"tube", "59.9"}}, &f),
              QString());
    EXPECT_NEAR(part.volume(f->id * 100), pi * 29.95 * 29.95 * 2 * pi * 30, 1e-5);
    EXPECT_TRUE(
        extentIs(part.shape(f->id * 100), {-29.95, 5 - 59.95, -59.95, 29.95, 5 + 59.95, 59.95}));
}

TEST(PrimitiveSolids, JoinCutAndIntersectAnExistingBody)
{
    TestPart part;
    Feature* base = nullptr;
    ASSERT_EQ(part.run("box", {}, &base), QString()); // 50 × 30 × 20 on XY
    const int block = base->id * 100;

    Feature* f = nullptr;
    ASSERT_EQ(part.run("cylinder", {{"diameter", "10"}, {"height", "30"}, {"op", "join"}}, &f),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(block), 30000 + pi * 25 * 10, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(block), {-25, -15, 0, 25, 15, 30}));
    ASSERT_TRUE(part.state.tools.count(f->id));
    EXPECT_EQ(part.state.tools.at(f->id).op, QStringLiteral("join"));

    ASSERT_EQ(part.run("cylinder", {{"diameter", "10"}, {"height", "30"}, {"op", "cut"}}),
              QString());
    EXPECT_NEAR(part.volume(block), 30000 - pi * 25 * 20, 1e-6);

    ASSERT_EQ(part.run("torus", {{"x", "500"}, {"op", "cut"}}, &f), QString());
    EXPECT_EQ(f->warning, QStringLiteral("Kein Körper im Wirkbereich"));
    EXPECT_NEAR(part.volume(block), 30000 - pi * 25 * 20, 1e-6);

    // A sphere on the block's floor keeps its upper half within the block's
    // walls once the block is wide enough.
    TestPart wide;
    ASSERT_EQ(wide.run("box", {{"length", "100"}, {"width", "100"}, {"height", "50"}}, &base),
              QString());
    ASSERT_EQ(wide.run("sphere", {{"op", "intersect"}}), QString());
    ASSERT_EQ(wide.state.bodies.size(), 1u);
    EXPECT_NEAR(wide.volume(base->id * 100), 2.0 / 3.0 * pi * 8000, 1e-6);
    EXPECT_TRUE(extentIs(wide.shape(base->id * 100), {-20, -20, 0, 20, 20, 20}));
}

TEST(PrimitiveSolids, BadSizesFailInGerman)
{
    TestPart part;
    const QString sizes = QStringLiteral("Maße müssen größer als 0 sein");
    const QString tube
        = QStringLiteral("Rohrdurchmesser muss kleiner als der Ringdurchmesser sein");
    // Sizes are checked before the plane, which here names nothing.
    const QJsonObject missingPlane{{"kind", "feature"}, {"id", 999}};
    EXPECT_EQ(part.run("box", {{"height", "0"}, {"plane", missingPlane}}), sizes);
    EXPECT_EQ(part.run("box", {{"length", "-1"}}), sizes);
    EXPECT_EQ(part.run("box", {{"width", "3 +"}}).left(7), QStringLiteral("width: "));
    EXPECT_EQ(part.run("cylinder", {{"height", "0"}, {"plane", missingPlane}}), sizes);
    EXPECT_EQ(part.run("cylinder", {{"diameter", "-1"}}), sizes);
    EXPECT_EQ(part.run("cylinder", {{"plane", missingPlane}}),
              QStringLiteral("Bezugsebene existiert nicht mehr"));
    EXPECT_EQ(part.run("sphere", {{"diameter", "0"}, {"plane", missingPlane}}),
              QStringLiteral("Durchmesser muss größer als 0 sein"));
    EXPECT_EQ(part.run("sphere", {{"diameter", "-3"}}),
              QStringLiteral("Durchmesser muss größer als 0 sein"));
    EXPECT_EQ(part.run("torus", {{"tube", "60"}}), tube);
    EXPECT_EQ(part.run("torus", {{"tube", "70"}}), tube);
    EXPECT_EQ(part.run("torus", {{"diameter", "0"}}), tube);
    EXPECT_EQ(part.run("torus", {{"tube", "0"}}), tube);
    EXPECT_EQ(part.run("torus", {{"tube", "-2"}, {"diameter", "-4"}}), tube);
    EXPECT_EQ(part.run("sphere", {{"diameter", "3 *"}}).left(10), QStringLiteral("diameter: "));
    EXPECT_TRUE(part.state.bodies.empty());
}

TEST(PrimitiveSolids, SameVolumesAfterSaveAndLoad)
{
    Document doc;
    doc.parameters.push_back(Parameter{"d", "24 mm"});
    doc.addFeature("box", {{"length", "80"}, {"width", "80"}, {"height", "30"}});
    doc.addFeature("cylinder", {{"diameter", "d"}, {"height", "50"}, {"op", "join"}});
    doc.addFeature("sphere", {{"diameter", "d / 2"}, {"y", "30"}, {"op", "cut"}});
    doc.addFeature("torus", {{"plane", origin(-2)}, {"x", "100"}});
    ASSERT_EQ(doc.recompute(), 0);
    ASSERT_EQ(doc.current.bodies.size(), 2u);
    const double block = 80 * 80 * 30 + pi * 144 * 20 - 4.0 / 3.0 * pi * 216 / 2;
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(100).shape), block, 1e-6);

    expectSameAfterReload(doc);
}
