#include "TestPart.h"

#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::model;

namespace {

using std::numbers::pi;
const gp_Pnt cubeTop(0, 0, 20);
// Rounded joins of a 2 mm outward offset: quarter cylinders along edges of 20 mm
// and eighth spheres at corners.
const double edgeRound = pi * 4 / 4 * 20;
const double cornerRound = 4.0 / 3 * pi * 8 / 8;

QJsonObject params(const QJsonArray& faces, const QString& thickness, QJsonObject more = {})
{
    more["faces"] = faces;
    if (!more.contains("thickness"))
        more["thickness"] = thickness;
    return more;
}

double ring(double r0, double r1, double h)
{
    return pi * (r1 * r1 - r0 * r0) * h;
}

} // namespace

TEST(Shell, OpenOrClosedInwardAndOutward)
{
    struct Case {
        const char* name;
        bool openTop;
        QJsonArray bodies; // filled in with the cube's id where set to {0}
        const char* direction;
        double volume;
        std::array<double, 6> box;
    };
    const std::vector<Case> cases = {
        {"open inward", true, {}, "in", 3392.0, {-10, -10, 0, 10, 10, 20}},
        // Outside the old outline, the joins rounded along the eight closed edges
        // and at the four lower corners.
        {"open outward",
         true,
         {},
         "out",
         5 * 800 + 8 * edgeRound + 4 * cornerRound,
         {-12, -12, -2, 12, 12, 20}},
        // Listed twice, hollowed once.
        {"closed inward", false, {0, 0}, "in", 8000.0 - 16 * 16 * 16, {-10, -10, 0, 10, 10, 20}},
        {"closed outward",
         false,
         {0},
         "out",
         6 * 800 + 12 * edgeRound + 8 * cornerRound,
         {-12, -12, -2, 12, 12, 22}},
        // A body listed and with a picked face is processed once, as an open shell.
        {"listed and open", true, {0}, "in", 3392.0, {-10, -10, 0, 10, 10, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPart part;
        const int body = part.cube(20);
        QJsonArray bodies;
        for (int i = 0; i < c.bodies.size(); ++i)
            bodies.append(body);
        QJsonObject p = params(c.openTop ? QJsonArray{part.faceAt(body, cubeTop)} : QJsonArray{},
                               "2", {{"direction", c.direction}, {"bodies", bodies}});
        ASSERT_EQ(part.run("shell", p), QString());
        EXPECT_NEAR(signedVolume(part.shape(body)), c.volume, 1e-3);
        EXPECT_TRUE(extentIs(part.shape(body), c.box));
        EXPECT_EQ(countOf(part.shape(body), TopAbs_SHELL), c.openTop ? 1 : 2);
    }

    // Faces of two bodies open each body.
    TestPart part;
    const int left = part.cube(20);
    const int right = part.cube(20, 50);
    ASSERT_EQ(
        part.run("shell",
                 params({part.faceAt(right, gp_Pnt(50, 0, 20)), part.faceAt(left, cubeTop)}, "2")),
        QString());
    EXPECT_NEAR(part.volume(left), 3392.0, 1e-6);
    EXPECT_NEAR(part.volume(right), 3392.0, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(right), {40, -10, 0, 60, 10, 20}));
}

TEST(Shell, RefusedThicknessesAndSelections)
{
    TestPart part;
    const int body = part.cube(20);
    const QJsonArray top{part.faceAt(body, cubeTop)};
    const QString tooThick
        = QStringLiteral("Schale nicht möglich – Wandstärke zu groß oder Geometrie zu komplex");
    EXPECT_EQ(part.run("shell", params(top, "0")),
              QStringLiteral("Wandstärke muss größer als 0 sein"));
    EXPECT_EQ(part.run("shell", params({}, "2")),
              QStringLiteral("Fläche zum Entfernen oder Körper auswählen"));
    EXPECT_EQ(part.run("shell", params(top, "11")), tooThick);
    EXPECT_EQ(part.run("shell", params({}, "11", {{"bodies", QJsonArray{body}}})),
              QStringLiteral("Schale nicht möglich"));
    // Half the width leaves the inner walls meeting without a gap: the kernel calls
    // that done but returns a broken solid, which must not become the body.
    EXPECT_EQ(part.run("shell", params(top, "10")), tooThick);
    EXPECT_NEAR(part.volume(body), 8000.0, 1e-6);
    EXPECT_TRUE(BRepCheck_Analyzer(part.shape(body)).IsValid());
}

TEST(Thicken, OutwardSolidsAreNotInsideOut)
{
    // Grown from the top face, the kernel closes the solid inside out; joined as
    // it comes, it would wipe out the cube.
    TestPart part;
    const int body = part.cube(20);
    Feature* f = nullptr;
    ASSERT_EQ(
        part.run("thicken", params({part.faceAt(body, cubeTop)}, "2 mm", {{"op", "join"}}), &f),
        QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(signedVolume(part.shape(body)), 8800.0, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(body), {-10, -10, 0, 10, 10, 22}));
    EXPECT_GT(signedVolume(part.state.tools.at(f->id).shape), 0.0);

    struct Case {
        const char* name;
        QJsonObject more;
        double cube;
        std::array<double, 6> tool;
    };
    const std::vector<Case> cases = {
        {"new", {{"op", "new"}}, 8000, {-10, -10, 20, 10, 10, 22}},
        // Reversed it grows into the cube: a cut takes it from the picked body.
        {"cut", {{"op", "cut"}, {"flip", true}}, 7200, {-10, -10, 18, 10, 10, 20}},
        // Symmetric: from -2 to +2 about the face.
        {"symmetric",
         {{"op", "new"}, {"symmetric", true}, {"thickness", "4"}},
         8000,
         {-10, -10, 18, 10, 10, 22}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPart fresh;
        const int b = fresh.cube(20);
        QJsonObject p = params({fresh.faceAt(b, cubeTop)}, "2", c.more);
        ASSERT_EQ(fresh.run("thicken", p, &f), QString());
        EXPECT_NEAR(signedVolume(fresh.shape(b)), c.cube, 1e-6);
        const TopoDS_Shape& made = fresh.state.tools.at(f->id).shape;
        EXPECT_GT(signedVolume(made), 0.0);
        EXPECT_TRUE(extentIs(made, c.tool));
    }
}

TEST(Thicken, CurvedFacesWithinTheirCurvature)
{
    TestPart part;
    const int cyl = part.addBody(BRepPrimAPI_MakeCylinder(5, 10).Shape());
    const QJsonArray side{part.faceAt(cyl, gp_Pnt(0, 0, 5))};
    const std::vector<std::pair<QJsonObject, double>> grown = {
        {{}, ring(5, 7, 10)},
        {{{"flip", true}}, ring(3, 5, 10)},
        {{{"symmetric", true}, {"thickness", "4"}}, ring(3, 7, 10)},
    };
    for (const auto& [more, volume] : grown) {
        Feature* f = nullptr;
        QJsonObject p = params(side, "2", more);
        p["op"] = "new";
        ASSERT_EQ(part.run("thicken", p, &f), QString());
        EXPECT_NEAR(signedVolume(part.shape(f->id * 100)), volume, 1e-6);
    }

    // Half of 12 reaches past the axis: the shifted face would turn inside out.
    // Neither that nor a one-sided thickening may come out.
    const QString curved
        = QStringLiteral("Aufdicken nicht möglich – Fläche zu stark gekrümmt für diese Dicke?");
    const std::size_t bodies = part.state.bodies.size();
    EXPECT_EQ(part.run("thicken", params(side, "12", {{"op", "new"}, {"symmetric", true}})),
              curved);
    for (const char* thickness : {"6", "5"}) // 5 reaches exactly to the axis
        EXPECT_EQ(part.run("thicken", params(side, thickness, {{"op", "new"}, {"flip", true}})),
                  curved);
    EXPECT_EQ(part.state.bodies.size(), bodies);

    // Outward any thickness is fine; joined without targets it goes to the cylinder.
    ASSERT_EQ(part.run("thicken", params(side, "2", {{"op", "join"}})), QString());
    EXPECT_NEAR(signedVolume(part.shape(cyl)), pi * 49 * 10, 1e-6);
}

TEST(Thicken, FacesOfTwoBodiesStayWithTheirBodies)
{
    TestPart part;
    const int left = part.cube(20);
    const int right = part.cube(20, 50);
    const QJsonArray tops{part.faceAt(left, cubeTop), part.faceAt(right, gp_Pnt(50, 0, 20))};
    ASSERT_EQ(part.run("thicken", params(tops, "2", {{"op", "join"}})), QString());
    ASSERT_EQ(part.state.bodies.size(), 2u);
    EXPECT_NEAR(signedVolume(part.shape(left)), 8800.0, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(right), {40, -10, 0, 60, 10, 22}));

    // As a new body both pieces make one body.
    Feature* f = nullptr;
    const QJsonArray again{part.faceAt(left, gp_Pnt(0, 0, 22)),
                           part.faceAt(right, gp_Pnt(50, 0, 22))};
    ASSERT_EQ(part.run("thicken", params(again, "1", {{"op", "new"}}), &f), QString());
    ASSERT_EQ(part.state.bodies.size(), 3u);
    EXPECT_EQ(countOf(part.shape(f->id * 100), TopAbs_SOLID), 2);

    // Explicit targets take the whole tool: the left piece misses the right body.
    ASSERT_EQ(
        part.run("thicken", params(again, "1", {{"op", "join"}, {"targets", QJsonArray{right}}})),
        QString());
    EXPECT_NEAR(signedVolume(part.shape(right)), 8800.0 + 800.0, 1e-6);

    EXPECT_EQ(part.run("thicken", params({}, "2")),
              QStringLiteral("Flächen zum Aufdicken auswählen"));
    EXPECT_EQ(part.run("thicken", params(tops, "-1")),
              QStringLiteral("Dicke muss größer als 0 sein"));
}
