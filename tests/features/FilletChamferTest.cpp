#include "TestPart.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRep_Tool.hxx>
#include <TopoDS.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;

namespace {

using std::numbers::pi;

// Material a fillet of radius r takes from a right-angled edge of length l.
double filletLoss(double r, double l)
{
    return (1.0 - pi / 4.0) * r * r * l;
}

const auto hasVertexNear = TestPart::hasVertexNear;

QJsonObject fillet(const QJsonArray& edges, const QString& radius)
{
    return {{"edges", edges}, {"radius", radius}};
}

QJsonObject chamfer(const QJsonArray& edges, const QString& mode, const QString& distance)
{
    return {{"edges", edges}, {"mode", mode}, {"distance", distance}};
}

// The top edge of a 20 mm cube on x = 10, running along Y.
const gp_Pnt topRight(10, 0, 20);

} // namespace

TEST(Fillet, ConstantRadius)
{
    TestPart part;
    const int body = part.cube(20);
    QJsonObject params = fillet({part.edgeAt(body, topRight)}, "2 mm");
    params["radius2"] = "nonsense +"; // read only in mode "var"
    ASSERT_EQ(part.run("fillet", params), QString());
    EXPECT_NEAR(part.volume(body), 8000.0 - filletLoss(2, 20), 1e-6);
    EXPECT_GT(signedVolume(part.shape(body)), 0.0);
    EXPECT_EQ(countOf(part.state.bodies.at(body).shape, TopAbs_FACE), 7);
    EXPECT_TRUE(extentIs(part.shape(body), {-10, -10, 0, 10, 10, 20}));
    EXPECT_EQ(part.state.bodies.size(), 1u);

    // The top face stands for its four edges; an edge picked again besides it and
    // twice over is rounded once.
    TestPart again;
    const int b = again.cube(20);
    const QJsonObject top = again.faceAt(b, gp_Pnt(0, 0, 20));
    const QJsonObject edge = again.edgeAt(b, topRight);
    ASSERT_EQ(again.run("fillet", fillet({edge, top, edge}, "2")), QString());
    TestPart faceOnly;
    const int c = faceOnly.cube(20);
    ASSERT_EQ(faceOnly.run("fillet", fillet({faceOnly.faceAt(c, gp_Pnt(0, 0, 20))}, "2")),
              QString());
    EXPECT_NEAR(again.volume(b), faceOnly.volume(c), 1e-6);
    EXPECT_LT(again.volume(b), 8000.0 - 4 * filletLoss(2, 16));
}

TEST(Fillet, VariableRadiusRunsFromStartToEnd)
{
    TestPart part;
    const int body = part.cube(20);
    const TopoDS_Shape edge
        = TestPart::subShapeAt(part.state.bodies.at(body).shape, TopAbs_EDGE, topRight);
    const BRepAdaptor_Curve curve(TopoDS::Edge(edge));
    const double yStart = curve.Value(curve.FirstParameter()).Y();
    const double yEnd = curve.Value(curve.LastParameter()).Y();

    QJsonObject params = fillet({part.edgeAt(body, topRight)}, "1");
    params["mode"] = "var";
    params["radius2"] = "3";
    ASSERT_EQ(part.run("fillet", params), QString());
    const TopoDS_Shape& result = part.state.bodies.at(body).shape;
    EXPECT_TRUE(hasVertexNear(result, gp_Pnt(9, yStart, 20)));
    EXPECT_TRUE(hasVertexNear(result, gp_Pnt(10, yStart, 19)));
    EXPECT_TRUE(hasVertexNear(result, gp_Pnt(7, yEnd, 20)));
    EXPECT_TRUE(hasVertexNear(result, gp_Pnt(10, yEnd, 17)));
    // Between the constant fillets of the two end radii, near the linear law.
    const double linear = (1.0 - pi / 4.0) * (10.0 / 3.0) * (27.0 - 1.0);
    EXPECT_NEAR(part.volume(body), 8000.0 - linear, 1.0);
    EXPECT_GT(signedVolume(part.shape(body)), 0.0);
}

TEST(Fillet, RefusedRadiiAndSelections)
{
    TestPart part;
    const int body = part.cube(20);
    const QJsonArray edge{part.edgeAt(body, topRight)};
    EXPECT_EQ(part.run("fillet", fillet(edge, "0")),
              QStringLiteral("Radius muss größer als 0 sein"));
    QJsonObject var = fillet(edge, "2");
    var["mode"] = "var";
    var["radius2"] = "0";
    EXPECT_EQ(part.run("fillet", var), QStringLiteral("Endradius muss größer als 0 sein"));
    EXPECT_EQ(part.run("fillet", fillet(edge, "25")),
              QStringLiteral("Verrundung nicht möglich – Radius zu groß?"));
    EXPECT_EQ(part.run("fillet", fillet({}, "2")), QStringLiteral("Keine Kanten ausgewählt"));
    EXPECT_NEAR(part.volume(body), 8000.0, 1e-6);

    // Two bodies, two builds: the large cube is rounded before the small one fails.
    const int small = part.cube(4, 50);
    ASSERT_GT(small, body);
    const QJsonArray both{part.edgeAt(small, gp_Pnt(52, 0, 4)), part.edgeAt(body, topRight)};
    EXPECT_EQ(part.run("fillet", fillet(both, "5")),
              QStringLiteral("Verrundung nicht möglich – Radius zu groß?"));
    EXPECT_NEAR(part.volume(body), 8000.0 - filletLoss(5, 20), 1e-6);
    EXPECT_NEAR(part.volume(small), 64.0, 1e-9);
}

TEST(Chamfer, EqualTwoDistancesAndAngle)
{
    // Legs a and b of the cut-off triangle, in either order on the edge's faces.
    const auto legs = [](const TopoDS_Shape& shape, double a, double b) {
        return (hasVertexNear(shape, gp_Pnt(10 - a, 10, 20))
                && hasVertexNear(shape, gp_Pnt(10, 10, 20 - b)))
               || (hasVertexNear(shape, gp_Pnt(10 - b, 10, 20))
                   && hasVertexNear(shape, gp_Pnt(10, 10, 20 - a)));
    };
    const double leg = 2.0 * std::tan(pi / 6.0);
    struct Case {
        const char* name;
        QJsonObject params;
        double a, b;
    };
    const std::vector<Case> cases = {
        {"equal", {{"mode", "equal"}, {"distance", "1 mm"}}, 1, 1},
        // Any other mode text is equal distances, ignoring a broken second distance.
        {"other mode", {{"mode", "Equal"}, {"distance", "1"}, {"distance2", "("}}, 1, 1},
        {"two distances", {{"mode", "two"}, {"distance", "1"}, {"distance2", "3 mm"}}, 1, 3},
        // 2 along the reference face at 30 degrees: the other leg is 2 tan 30°.
        {"angle", {{"mode", "angle"}, {"distance", "2"}, {"angle", "30 deg"}}, 2, leg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPart part;
        const int body = part.cube(20);
        QJsonObject params = c.params;
        params["edges"] = QJsonArray{part.edgeAt(body, topRight)};
        ASSERT_EQ(part.run("chamfer", params), QString());
        EXPECT_NEAR(signedVolume(part.shape(body)), 8000.0 - 0.5 * c.a * c.b * 20, 1e-6);
        EXPECT_EQ(countOf(part.shape(body), TopAbs_FACE), 7);
        EXPECT_TRUE(legs(part.shape(body), c.a, c.b));
    }
}

TEST(Chamfer, RefusedDistances)
{
    TestPart part;
    const int body = part.cube(20);
    const QJsonArray edge{part.edgeAt(body, topRight)};
    const QString tooLarge = QStringLiteral("Fase nicht möglich – Abstand zu groß?");
    const std::vector<std::pair<QJsonObject, QString>> cases = {
        {chamfer(edge, "equal", "0"), "Abstand muss größer als 0 sein"},
        {chamfer({}, "equal", "1"), "Keine Kanten ausgewählt"},
        {chamfer(edge, "equal", "25"), tooLarge},
        {{{"edges", edge}, {"mode", "two"}, {"distance", "2"}, {"distance2", "-1"}}, tooLarge},
        {{{"edges", edge}, {"mode", "angle"}, {"distance", "2"}, {"angle", "-60"}}, tooLarge},
        // Four chamfers of half the width meet in one point on top: the kernel
        // calls that done but returns a broken solid, which must not become the body.
        {chamfer({part.faceAt(body, gp_Pnt(0, 0, 20))}, "equal", "10"), tooLarge},
    };
    for (const auto& [params, error] : cases)
        EXPECT_EQ(part.run("chamfer", params), error);
    EXPECT_NEAR(part.volume(body), 8000.0, 1e-6);
    EXPECT_TRUE(BRepCheck_Analyzer(part.shape(body)).IsValid());
}

TEST(FilletChamfer, RecomputeKeepsTheBodyOfAFailingFillet)
{
    Document doc;
    doc.parameters.push_back(Parameter{"r", "2 mm"});
    doc.addFeature("box", {{"length", 20}, {"width", 20}, {"height", 20}});
    ASSERT_EQ(doc.recompute(), 0);
    const int body = doc.features.front()->id * 100;
    const auto edge = [&](const gp_Pnt& p) {
        const TopoDS_Shape& shape = doc.current.bodies.at(body).shape;
        return edgeRef(body, TestPart::subShapeAt(shape, TopAbs_EDGE, p));
    };
    doc.addFeature("fillet", fillet({edge(topRight)}, "r"));
    doc.addFeature("chamfer", chamfer({edge(gp_Pnt(-10, 0, 20))}, "equal", "r / 2"));
    ASSERT_EQ(doc.recompute(), 0);
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(body).shape),
                8000.0 - filletLoss(2, 20) - 0.5 * 20, 1e-6);

    // Through the recompute a failing fillet leaves the body as it was before it,
    // and the chamfer after it works on that.
    doc.parameters.front().expr = "30 mm";
    EXPECT_EQ(doc.recompute(), 1);
    EXPECT_EQ(doc.features[1]->error, QStringLiteral("Verrundung nicht möglich – Radius zu groß?"));
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(body).shape), 8000.0 - 0.5 * 15 * 15 * 20, 1e-6);
}
