#include "TestPart.h"

#include "model/References.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::model;

namespace {

using std::numbers::pi;
const auto origin = TestPart::origin;

} // namespace

// Primitives stand on their plane (XZ: normal -Y, X along +X, so the frame's Y
// is +Z; YZ: normal +X), placed by the plane's (x, y).
TEST(PrimitiveSolids, PlacementAndVolume)
{
    struct Case {
        const char* type;
        QJsonObject params;
        double volume;
        std::array<double, 6> box;
    };
    const std::vector<Case> cases = {
        {"box", {}, 50.0 * 30.0 * 20.0, {-25, -15, 0, 25, 15, 20}},
        {"box",
         {{"plane", origin(-2)}, {"x", "10"}, {"y", "-5"}},
         30000,
         {-15, -20, -20, 35, 0, 10}},
        {"box",
         {{"plane", origin(-3)}, {"length", "4"}, {"width", "2"}, {"height", "1"}},
         8,
         {0, -2, -1, 1, 2, 1}},
        {"cylinder", {}, pi * 15 * 15 * 40, {-15, -15, 0, 15, 15, 40}},
        {"cylinder",
         {{"plane", origin(-2)},
          {"x", "10"},
          {"y", "5"},
          {"diameter", "2 * 5 mm"},
          {"height", "12"}},
         pi * 25 * 12,
         {5, -12, 0, 15, 0, 10}},
        {"cylinder",
         {{"plane", origin(-3)}, {"y", "-20"}},
         pi * 15 * 15 * 40,
         {0, -15, -35, 40, 15, -5}},
        {"sphere",
         {{"plane", origin(-2)}, {"x", "10"}, {"y", "5"}},
         4.0 / 3.0 * pi * 8000,
         {-10, -20, -15, 30, 20, 25}},
        {"sphere",
         {{"plane", origin(-3)}, {"x", "3"}, {"diameter", "8"}},
         4.0 / 3.0 * pi * 64,
         {-4, -1, -4, 4, 7, 4}},
        // Pappus: tube area times the path of its centre.
        {"torus", {}, pi * 6 * 6 * 2 * pi * 30, {-36, -36, -6, 36, 36, 6}},
        {"torus",
         {{"plane", origin(-3)}, {"x", "5"}, {"tube", "59.9"}},
         pi * 29.95 * 29.95 * 2 * pi * 30,
         {-29.95, -54.95, -59.95, 29.95, 64.95, 59.95}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type + QJsonDocument(c.params).toJson(QJsonDocument::Compact).toStdString());
        TestPart part;
        const int body = part.body(c.type, c.params);
        EXPECT_NEAR(signedVolume(part.shape(body)), c.volume, 1e-5);
        EXPECT_TRUE(extentIs(part.shape(body), c.box));
    }
}

TEST(PrimitiveSolids, JoinCutAndIntersectAnExistingBody)
{
    // A face reference: the frame of a planar face has its origin at the foot of
    // the perpendicular from the model origin, here (0, 0, 20).
    TestPart onFace;
    const int base = onFace.body("box"); // 50 × 30 × 20 on XY
    const TopoDS_Shape top
        = TestPart::subShapeAt(onFace.shape(base), TopAbs_FACE, gp_Pnt(0, 0, 20));
    ASSERT_EQ(onFace.run("box", {{"plane", faceRef(base, top)},
                                 {"length", "10"},
                                 {"width", "10"},
                                 {"height", "5"},
                                 {"op", "join"}}),
              QString());
    EXPECT_TRUE(extentIs(onFace.shape(base), {-25, -15, 0, 25, 15, 25}));

    TestPart part;
    const int block = part.body("box");
    Feature* f = nullptr;
    ASSERT_EQ(part.run("cylinder", {{"diameter", "10"}, {"height", "30"}, {"op", "join"}}, &f),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(block), 30000 + pi * 25 * 10, 1e-6);
    EXPECT_EQ(part.state.tools.at(f->id).op, QStringLiteral("join"));

    ASSERT_EQ(part.run("cylinder", {{"diameter", "10"}, {"height", "30"}, {"op", "cut"}}),
              QString());
    EXPECT_NEAR(part.volume(block), 30000 - pi * 25 * 20, 1e-6);
    ASSERT_EQ(part.run("torus", {{"x", "500"}, {"op", "cut"}}, &f), QString());
    EXPECT_EQ(f->warning, QStringLiteral("Kein Körper im Wirkbereich"));
    EXPECT_NEAR(part.volume(block), 30000 - pi * 25 * 20, 1e-6);

    // A sphere on the block's floor keeps its upper half within the block.
    TestPart wide;
    const int floor = wide.body("box", {{"length", "100"}, {"width", "100"}, {"height", "50"}});
    ASSERT_EQ(wide.run("sphere", {{"op", "intersect"}}), QString());
    ASSERT_EQ(wide.state.bodies.size(), 1u);
    EXPECT_NEAR(wide.volume(floor), 2.0 / 3.0 * pi * 8000, 1e-6);
    EXPECT_TRUE(extentIs(wide.shape(floor), {-20, -20, 0, 20, 20, 20}));
}

TEST(PrimitiveSolids, BadSizesFailInGerman)
{
    TestPart part;
    const QString sizes = QStringLiteral("Maße müssen größer als 0 sein");
    const QString diameter = QStringLiteral("Durchmesser muss größer als 0 sein");
    const QString tube
        = QStringLiteral("Rohrdurchmesser muss kleiner als der Ringdurchmesser sein");
    // Sizes are checked before the plane, which here names nothing.
    const QJsonObject missingPlane = TestPart::featureRef(999);
    const std::vector<std::tuple<const char*, QJsonObject, QString>> cases = {
        {"box", {{"height", "0"}, {"plane", missingPlane}}, sizes},
        {"box", {{"length", "-1"}}, sizes},
        {"cylinder", {{"height", "0"}, {"plane", missingPlane}}, sizes},
        {"cylinder", {{"diameter", "-1"}}, sizes},
        {"cylinder", {{"plane", missingPlane}}, "Bezugsebene existiert nicht mehr"},
        {"sphere", {{"diameter", "0"}, {"plane", missingPlane}}, diameter},
        {"sphere", {{"diameter", "-3"}}, diameter},
        {"torus", {{"tube", "60"}}, tube},
        {"torus", {{"diameter", "0"}}, tube},
        {"torus", {{"tube", "0"}}, tube},
        {"torus", {{"tube", "-2"}, {"diameter", "-4"}}, tube},
    };
    for (const auto& [type, params, error] : cases)
        EXPECT_EQ(part.run(type, params), error) << type;
    EXPECT_EQ(part.run("box", {{"width", "3 +"}}).left(7), QStringLiteral("width: "));
    EXPECT_TRUE(part.state.bodies.empty());
}
