#include "TestPart.h"

#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::model;

namespace {

constexpr double pi = std::numbers::pi;

const gp_Pnt cubeTop(0, 0, 20);

QJsonObject shell(const QJsonArray& faces, const QString& thickness, const QString& direction)
{
    return {{"faces", faces}, {"thickness", thickness}, {"direction", direction}};
}

QJsonObject thicken(const QJsonArray& faces, const QString& thickness, const QString& op)
{
    return {{"faces", faces}, {"thickness", thickness}, {"op", op}};
}

// A cylinder of radius 5 and height 10 on the XY plane; its side face's centre
// of mass is (0, 0, 5).
int cylinder(TestPart& part)
{
    return part.addBody(BRepPrimAPI_MakeCylinder(5, 10).Shape());
}

double ring(double r0, double r1, double h)
{
    return pi * (r1 * r1 - r0 * r0) * h;
}

} // namespace

TEST(Shell, OpenAtTheTopInwardAndOutward)
{
    TestPart part;
    const int body = part.cube(20);
    Feature* f = nullptr;
    ASSERT_EQ(part.run("shell", shell({part.faceAt(body, cubeTop)}, "2 mm", "in"), &f), QString());
    EXPECT_NEAR(part.volume(body), 3392.0, 1e-6);
    EXPECT_GT(signedVolume(part.shape(body)), 0.0);
    EXPECT_TRUE(boxIs(part.box(body), -10, -10, 0, 10, 10, 20));
    EXPECT_EQ(part.state.tools.count(f->id), 0u);

    // Outside the old outline, the joins rounded: slabs, quarter cylinders along
    // the eight closed edges and eighth spheres at the four lower corners.
    TestPart out;
    const int b = out.cube(20);
    ASSERT_EQ(out.run("shell", shell({out.faceAt(b, cubeTop)}, "2", "out")), QString());
    const double outer = 8000 + 4 * 800 + 800 + 8 * (pi * 4 / 4 * 20) + 4 * (4.0 / 3 * pi * 8 / 8);
    EXPECT_NEAR(out.volume(b), outer - 8000, 1e-3);
    EXPECT_GT(signedVolume(out.shape(b)), 0.0);
    EXPECT_TRUE(boxIs(out.box(b), -12, -12, -2, 12, 12, 20, 1e-6));
}

TEST(Shell, ClosedBodiesGetAnInnerVoid)
{
    TestPart part;
    const int body = part.cube(20);
    QJsonObject params = shell({}, "2", "in");
    // Listed twice, hollowed once.
    params["bodies"] = QJsonArray{body, QJsonObject{{"id", body}}};
    ASSERT_EQ(part.run("shell", params), QString());
    EXPECT_NEAR(part.volume(body), 8000.0 - 16 * 16 * 16, 1e-6);
    EXPECT_GT(signedVolume(part.shape(body)), 0.0);
    EXPECT_EQ(countOf(part.state.bodies.at(body).shape, TopAbs_SHELL), 2);
    EXPECT_TRUE(boxIs(part.box(body), -10, -10, 0, 10, 10, 20));

    TestPart out;
    const int b = out.cube(20);
    QJsonObject outward = shell({}, "2", "out");
    outward["bodies"] = QJsonArray{b};
    ASSERT_EQ(out.run("shell", outward), QString());
    EXPECT_NEAR(out.volume(b), 6 * 800 + 12 * (pi * 4 / 4 * 20) + 8 * (4.0 / 3 * pi * 8 / 8), 1e-3);
    EXPECT_GT(signedVolume(out.shape(b)), 0.0);
    EXPECT_TRUE(boxIs(out.box(b), -12, -12, -2, 12, 12, 22, 1e-6));

    // A body listed and with a picked face is processed once, as an open shell.
    TestPart both;
    const int c = both.cube(20);
    QJsonObject open = shell({both.faceAt(c, cubeTop)}, "2", "in");
    open["bodies"] = QJsonArray{c};
    ASSERT_EQ(both.run("shell", open), QString());
    EXPECT_NEAR(both.volume(c), 3392.0, 1e-6);
}

TEST(Shell, FacesOfTwoBodiesOpenEachBody)
{
    TestPart part;
    const int left = part.cube(20);
    const int right = part.cube(20, 50);
    ASSERT_EQ(part.run("shell", shell({part.faceAt(right, gp_Pnt(50, 0, 20)),
                                       part.faceAt(left, cubeTop)},
                                      "2", "in")),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 2u);
    EXPECT_NEAR(part.volume(left), 3392.0, 1e-6);
    EXPECT_NEAR(part.volume(right), 3392.0, 1e-6);
    EXPECT_TRUE(boxIs(part.box(left), -10, -10, 0, 10, 10, 20));
    EXPECT_TRUE(boxIs(part.box(right), 40, -10, 0, 60, 10, 20));
}

TEST(Shell, RefusedThicknessesAndSelections)
{
    TestPart part;
    const int body = part.cube(20);
    const QJsonArray top{part.faceAt(body, cubeTop)};
    EXPECT_EQ(part.run("shell", shell(top, "0", "in")),
              QStringLiteral("Wandstärke muss größer als 0 sein"));
    EXPECT_EQ(part.run("shell", shell({}, "2", "in")),
              QStringLiteral("Fläche zum Entfernen oder Körper auswählen"));
    EXPECT_EQ(part.run("shell", shell(top, "11", "in")),
              QStringLiteral(
                  "Schale nicht möglich – Wandstärke zu groß oder Geometrie zu komplex"));
    QJsonObject closed = shell({}, "11", "in");
    closed["bodies"] = QJsonArray{body};
    EXPECT_EQ(part.run("shell", closed), QStringLiteral("Schale nicht möglich"));
    EXPECT_NEAR(part.volume(body), 8000.0, 1e-6);

    // Half the width leaves the inner walls meeting without a gap: the kernel calls
    // that done but returns a broken solid, which must not become the body.
    EXPECT_EQ(part.run("shell", shell(top, "10", "in")),
              QStringLiteral(
                  "Schale nicht möglich – Wandstärke zu groß oder Geometrie zu komplex"));
    EXPECT_NEAR(part.volume(body), 8000.0, 1e-6);
    EXPECT_TRUE(BRepCheck_Analyzer(part.state.bodies.at(body).shape).IsValid());
}

TEST(Thicken, OutwardSolidsAreNotInsideOut)
{
    // Grown from the top face, the kernel closes the solid inside out; joined as
    // it comes, it would wipe out the cube.
    TestPart part;
    const int body = part.cube(20);
    Feature* f = nullptr;
    ASSERT_EQ(part.run("thicken", thicken({part.faceAt(body, cubeTop)}, "2 mm", "join"), &f),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(signedVolume(part.shape(body)), 8800.0, 1e-6);
    EXPECT_TRUE(boxIs(part.box(body), -10, -10, 0, 10, 10, 22));
    EXPECT_GT(signedVolume(part.state.tools.at(f->id).shape), 0.0);

    TestPart fresh;
    const int b = fresh.cube(20);
    ASSERT_EQ(fresh.run("thicken", thicken({fresh.faceAt(b, cubeTop)}, "2", "new"), &f), QString());
    ASSERT_EQ(fresh.state.bodies.size(), 2u);
    const int added = f->id * 100;
    EXPECT_NEAR(signedVolume(fresh.shape(added)), 800.0, 1e-6);
    EXPECT_TRUE(boxIs(fresh.box(added), -10, -10, 20, 10, 10, 22));
    EXPECT_NEAR(signedVolume(fresh.shape(b)), 8000.0, 1e-6);

    // Reversed it grows into the cube: a cut takes it from the picked body.
    QJsonObject inward = thicken({fresh.faceAt(b, cubeTop)}, "2", "cut");
    inward["flip"] = true;
    ASSERT_EQ(fresh.run("thicken", inward), QString());
    EXPECT_NEAR(signedVolume(fresh.shape(b)), 7200.0, 1e-6);
    EXPECT_TRUE(boxIs(fresh.box(b), -10, -10, 0, 10, 10, 18));
    EXPECT_NEAR(signedVolume(fresh.shape(added)), 800.0, 1e-6);

    // Symmetric: from -2 to +2 about the face.
    TestPart sym;
    const int s = sym.cube(20);
    QJsonObject symmetric = thicken({sym.faceAt(s, cubeTop)}, "4", "new");
    symmetric["symmetric"] = true;
    ASSERT_EQ(sym.run("thicken", symmetric, &f), QString());
    EXPECT_NEAR(signedVolume(sym.shape(f->id * 100)), 1600.0, 1e-6);
    EXPECT_TRUE(boxIs(sym.box(f->id * 100), -10, -10, 18, 10, 10, 22));
}

TEST(Thicken, CurvedFacesWithinTheirCurvature)
{
    TestPart part;
    const int cyl = cylinder(part);
    const QJsonArray side{part.faceAt(cyl, gp_Pnt(0, 0, 5))};
    Feature* f = nullptr;
    ASSERT_EQ(part.run("thicken", thicken(side, "2", "new"), &f), QString());
    EXPECT_NEAR(signedVolume(part.shape(f->id * 100)), ring(5, 7, 10), 1e-6);

    QJsonObject inward = thicken(side, "2", "new");
    inward["flip"] = true;
    ASSERT_EQ(part.run("thicken", inward, &f), QString());
    EXPECT_NEAR(signedVolume(part.shape(f->id * 100)), ring(3, 5, 10), 1e-6);

    QJsonObject symmetric = thicken(side, "4", "new");
    symmetric["symmetric"] = true;
    ASSERT_EQ(part.run("thicken", symmetric, &f), QString());
    EXPECT_NEAR(signedVolume(part.shape(f->id * 100)), ring(3, 7, 10), 1e-6);

    // Half of 12 reaches past the axis: the shifted face would turn inside out.
    // Neither that nor a one-sided thickening may come out.
    const QString curved =
        QStringLiteral("Aufdicken nicht möglich – Fläche zu stark gekrümmt für diese Dicke?");
    const std::size_t bodies = part.state.bodies.size();
    symmetric["thickness"] = "12";
    EXPECT_EQ(part.run("thicken", symmetric), curved);
    inward["thickness"] = "6";
    EXPECT_EQ(part.run("thicken", inward), curved);
    inward["thickness"] = "5"; // exactly to the axis
    EXPECT_EQ(part.run("thicken", inward), curved);
    EXPECT_EQ(part.state.bodies.size(), bodies);

    // Outward any thickness is fine; joined without targets it goes to the cylinder.
    ASSERT_EQ(part.run("thicken", thicken(side, "2", "join")), QString());
    EXPECT_NEAR(signedVolume(part.shape(cyl)), pi * 49 * 10, 1e-6);
}

TEST(Thicken, FacesOfTwoBodiesStayWithTheirBodies)
{
    TestPart part;
    const int left = part.cube(20);
    const int right = part.cube(20, 50);
    const QJsonArray tops{part.faceAt(left, cubeTop), part.faceAt(right, gp_Pnt(50, 0, 20))};
    ASSERT_EQ(part.run("thicken", thicken(tops, "2", "join")), QString());
    ASSERT_EQ(part.state.bodies.size(), 2u);
    EXPECT_NEAR(signedVolume(part.shape(left)), 8800.0, 1e-6);
    EXPECT_NEAR(signedVolume(part.shape(right)), 8800.0, 1e-6);
    EXPECT_TRUE(boxIs(part.box(left), -10, -10, 0, 10, 10, 22));
    EXPECT_TRUE(boxIs(part.box(right), 40, -10, 0, 60, 10, 22));

    // As a new body both pieces make one body.
    Feature* f = nullptr;
    const QJsonArray again{part.faceAt(left, gp_Pnt(0, 0, 22)),
                           part.faceAt(right, gp_Pnt(50, 0, 22))};
    ASSERT_EQ(part.run("thicken", thicken(again, "1", "new"), &f), QString());
    ASSERT_EQ(part.state.bodies.size(), 3u);
    EXPECT_NEAR(signedVolume(part.shape(f->id * 100)), 800.0, 1e-6);
    EXPECT_EQ(countOf(part.state.bodies.at(f->id * 100).shape, TopAbs_SOLID), 2);

    // Explicit targets take the whole tool: the left piece misses the right body.
    QJsonObject targeted = thicken(again, "1", "join");
    targeted["targets"] = QJsonArray{right};
    ASSERT_EQ(part.run("thicken", targeted), QString());
    EXPECT_NEAR(signedVolume(part.shape(right)), 8800.0 + 800.0, 1e-6);
}

TEST(Thicken, RefusedInput)
{
    TestPart part;
    const int body = part.cube(20);
    EXPECT_EQ(part.run("thicken", thicken({}, "2", "new")),
              QStringLiteral("Flächen zum Aufdicken auswählen"));
    EXPECT_EQ(part.run("thicken", thicken({part.faceAt(body, cubeTop)}, "0", "new")),
              QStringLiteral("Dicke muss größer als 0 sein"));
    EXPECT_EQ(part.run("thicken", thicken({part.faceAt(body, cubeTop)}, "-1", "new")),
              QStringLiteral("Dicke muss größer als 0 sein"));
    EXPECT_EQ(part.state.bodies.size(), 1u);
}

TEST(ShellThicken, SaveLoadRecomputeGivesTheSameBodies)
{
    Document doc;
    doc.addFeature("box", {{"length", 20}, {"width", 20}, {"height", 20}});
    doc.addFeature("box", {{"length", 20}, {"width", 20}, {"height", 20}, {"x", 50}});
    ASSERT_EQ(doc.recompute(), 0);
    const int left = doc.features[0]->id * 100;
    const int right = doc.features[1]->id * 100;
    const auto top = [&](int body, double x) {
        return faceRef(body, TestPart::subShapeAt(doc.current.bodies.at(body).shape, TopAbs_FACE,
                                                  gp_Pnt(x, 0, 20)));
    };
    doc.addFeature("shell", shell({top(left, 0)}, "2", "in"));
    doc.addFeature("thicken", thicken({top(right, 50)}, "2", "join"));
    ASSERT_EQ(doc.recompute(), 0);
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(left).shape), 3392.0, 1e-6);
    EXPECT_NEAR(signedVolume(doc.current.bodies.at(right).shape), 8800.0, 1e-6);
    expectSameAfterReload(doc);
}
