#include "TestPart.h"

#include "features/ConstructionGeometry.h"
#include "model/References.h"
#include "model/ShapeSignature.h"
#include "sketch/Plane.h"
#include "sketch/Regions.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;

namespace {

const auto featureRef = TestPart::featureRef;
const auto originRef = TestPart::origin;

::testing::AssertionResult near(const gp_XYZ& got, const gp_XYZ& want)
{
    if (got.IsEqual(want, 1e-9))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << got.X() << ", " << got.Y() << ", " << got.Z() << ") instead of (" << want.X()
           << ", " << want.Y() << ", " << want.Z() << ")";
}

void expectPoint(const gp_Pnt& p, double x, double y, double z)
{
    EXPECT_TRUE(near(p.XYZ(), gp_XYZ(x, y, z)));
}

void expectDir(const gp_Dir& d, double x, double y, double z)
{
    EXPECT_TRUE(near(d.XYZ(), gp_XYZ(x, y, z)));
}

} // namespace

// Offsets run along the base normal; a flip turns only the normal, so the frame
// becomes left-handed and points keep their in-plane coordinates.
TEST(ConstructionPlane, FramesOfEachMode)
{
    Document doc;
    const auto plane = [&](const QJsonObject& params) { return doc.addFeature("plane", params); };
    const Feature* plain = plane({});
    const Feature* flipped = plane({{"offset", "-5 mm"}, {"flip", true}});
    const Feature* below = plane({{"base", featureRef(flipped->id)}, {"offset", "3"}});
    const Feature* again
        = plane({{"base", featureRef(flipped->id)}, {"offset", "0"}, {"flip", true}});
    const Feature* quarter
        = plane({{"mode", "angle"}, {"axis", originRef(-11)}, {"angle", "90 deg"}});
    // A base whose origin lies off the axis swings round with the rotation;
    // "offset" is not read in this mode.
    const Feature* swung = plane({{"base", featureRef(plain->id)},
                                  {"mode", "angle"},
                                  {"axis", originRef(-11)},
                                  {"angle", "90"},
                                  {"offset", "1000"}});
    const Feature* top = plane({{"offset", "30"}});
    const Feature* topFlipped = plane({{"offset", "30"}, {"flip", true}});
    const Feature* mid = plane({{"mode", "mid"}, {"base2", featureRef(top->id)}});
    const Feature* midFlipped = plane({{"mode", "mid"}, {"base2", featureRef(topFlipped->id)}});
    const Feature* same
        = plane({{"base", featureRef(top->id)}, {"mode", "mid"}, {"base2", featureRef(top->id)}});
    // A tilted second plane: halfway to the foot of the perpendicular, directions
    // still those of the base.
    const Feature* tilted = plane(
        {{"base", originRef(-3)}, {"mode", "angle"}, {"axis", originRef(-13)}, {"angle", "45"}});
    const Feature* shifted = plane({{"base", originRef(-3)}, {"offset", "10"}});
    const Feature* towardsTilted = plane(
        {{"base", featureRef(shifted->id)}, {"mode", "mid"}, {"base2", featureRef(tilted->id)}});
    ASSERT_EQ(doc.recompute(), 0);
    EXPECT_TRUE(doc.current.bodies.empty());

    const double h = std::sqrt(0.5);
    struct Case {
        const Feature* feature;
        gp_XYZ location, normal, xDirection;
        bool direct;
    };
    const std::vector<Case> cases = {
        {plain, {0, 0, 20}, {0, 0, 1}, {1, 0, 0}, true},
        {flipped, {0, 0, -5}, {0, 0, -1}, {1, 0, 0}, false},
        {below, {0, 0, -8}, {0, 0, -1}, {1, 0, 0}, false},
        {again, {0, 0, -5}, {0, 0, 1}, {1, 0, 0}, true},
        {quarter, {0, 0, 0}, {0, -1, 0}, {1, 0, 0}, true},
        {swung, {0, -20, 0}, {0, -1, 0}, {1, 0, 0}, true},
        {mid, {0, 0, 15}, {0, 0, 1}, {1, 0, 0}, true},
        {midFlipped, {0, 0, 15}, {0, 0, 1}, {1, 0, 0}, true},
        {same, {0, 0, 30}, {0, 0, 1}, {1, 0, 0}, true},
        {tilted, {0, 0, 0}, {h, h, 0}, {-h, h, 0}, true},
        {towardsTilted, {7.5, -2.5, 0}, {1, 0, 0}, {0, 1, 0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.feature->id);
        const gp_Ax3& frame = doc.current.planes.at(c.feature->id);
        EXPECT_TRUE(near(frame.Location().XYZ(), c.location));
        EXPECT_TRUE(near(frame.Direction().XYZ(), c.normal));
        EXPECT_TRUE(near(frame.XDirection().XYZ(), c.xDirection));
        EXPECT_EQ(frame.Direct(), c.direct);
    }
    // The flipped plane keeps +Y as its Y direction.
    EXPECT_TRUE(near(doc.current.planes.at(flipped->id).YDirection().XYZ(), gp_XYZ(0, 1, 0)));
}

TEST(ConstructionPlane, SketchOnAFlippedPlaneKeepsItsSense)
{
    // A sketch on the flipped plane looks at it from below; its arcs still run
    // counter-clockwise in (u, v) and its regions sit where they were drawn.
    Document doc;
    const Feature* flipped = doc.addFeature("plane", {{"offset", "4"}, {"flip", true}});
    ASSERT_EQ(doc.recompute(), 0);
    const gp_Ax3 plane = doc.current.planes.at(flipped->id);
    qor::sketch::Sketch sketch;
    const auto arc = sketch.addArcAt(false, 0, 0, 10, 0, 0, 10);
    sketch.addCircleAt(false, 30, 0, 5);

    const TopoDS_Edge edge = qor::sketch::entityToEdge(sketch, arc, plane);
    ASSERT_FALSE(edge.IsNull());
    const BRepAdaptor_Curve curve(edge);
    const qor::sketch::Vec2 middle = qor::sketch::toPlane(
        plane, curve.Value((curve.FirstParameter() + curve.LastParameter()) / 2));
    EXPECT_NEAR(middle.x, 10 * std::sqrt(0.5), 1e-9);
    EXPECT_NEAR(middle.y, 10 * std::sqrt(0.5), 1e-9);
    EXPECT_NEAR(curve.Value(curve.FirstParameter()).Z(), 4.0, 1e-9);

    const auto regions = qor::sketch::buildRegions(sketch, plane);
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_NEAR(regions[0].area, std::numbers::pi * 25, 1e-6);
    EXPECT_TRUE(qor::sketch::faceContainsPoint(regions[0].face, plane, 30, 0));
    EXPECT_FALSE(qor::sketch::faceContainsPoint(regions[0].face, plane, -30, 0));
}

TEST(ConstructionAxis, StoresTheResolvedAxis)
{
    Document doc;
    const Feature* y = doc.addFeature("axis", {{"ref", originRef(-12)}});
    const Feature* copy = doc.addFeature("axis", {{"ref", featureRef(y->id)}});
    ASSERT_EQ(doc.recompute(), 0);
    expectDir(doc.current.axes.at(y->id).Direction(), 0, 1, 0);
    expectDir(doc.current.axes.at(copy->id).Direction(), 0, 1, 0);

    // An edge of a body: the axis runs along it and goes with the body's changes.
    Feature& f = *doc.addFeature("axis");
    ModelState state;
    Body body;
    body.id = 100;
    body.shape = BRepPrimAPI_MakeBox(gp_Pnt(1, 2, 3), 10, 20, 30).Shape();
    state.bodies[100] = body;
    f.params["ref"]
        = edgeRef(100, TestPart::subShapeAt(body.shape, TopAbs_EDGE, gp_Pnt(11, 22, 18)));
    ExecContext context{doc, f, state};
    execAxis(context);
    const gp_Ax1& axis = state.axes.at(f.id);
    EXPECT_NEAR(axis.Location().X(), 11, 1e-9);
    EXPECT_NEAR(axis.Location().Y(), 22, 1e-9);
    EXPECT_NEAR(std::fabs(axis.Direction().Z()), 1.0, 1e-12);

    // The body loses that edge: the resolver's message, and no axis is written.
    state.axes.clear();
    state.bodies[100].shape = BRepPrimAPI_MakeBox(gp_Pnt(-50, -50, -50), 5, 5, 5).Shape();
    EXPECT_EQ(errorOf([&] { execAxis(context); }),
              "Referenz (Fläche/Kante) nicht mehr gefunden – bitte neu auswählen");
    EXPECT_TRUE(state.axes.empty());
}

TEST(ConstructionGeometry, FailuresLeaveNothingBehind)
{
    Document doc;
    Feature* base = doc.addFeature("plane", {{"offset", "7"}});
    Feature* onBase = doc.addFeature("plane", {{"base", featureRef(base->id)}});
    Feature* badOffset = doc.addFeature("plane", {{"offset", "zwanzig"}});
    Feature* badBase
        = doc.addFeature("plane", {{"base", QJsonObject{{"kind", "body"}, {"id", 1}}}});
    Feature* badAxis = doc.addFeature("plane", {{"mode", "angle"}, {"axis", QJsonObject{}}});
    Feature* axisLost = doc.addFeature("axis", {{"ref", featureRef(999)}});
    Feature* noAxis = doc.addFeature("axis");
    EXPECT_EQ(doc.recompute(), 5);
    expectPoint(doc.current.planes.at(onBase->id).Location(), 0, 0, 27);
    EXPECT_TRUE(badOffset->error.startsWith(QStringLiteral("offset: ")));
    EXPECT_EQ(badBase->error, QStringLiteral("Keine Ebene ausgewählt"));
    EXPECT_EQ(badAxis->error, QStringLiteral("Keine Achse ausgewählt"));
    EXPECT_EQ(axisLost->error, QStringLiteral("Bezugsachse existiert nicht mehr"));
    EXPECT_EQ(noAxis->error, QStringLiteral("Keine Achse ausgewählt"));
    EXPECT_EQ(doc.current.planes.size(), 2u);
    EXPECT_TRUE(doc.current.axes.empty());

    // Deleting the base plane takes the dependent plane down with a message.
    doc.removeFeature(base->id);
    doc.recompute();
    EXPECT_EQ(onBase->error, QStringLiteral("Bezugsebene existiert nicht mehr"));
    EXPECT_EQ(doc.current.planes.count(onBase->id), 0u);
}

TEST(ConstructionGeometry, FollowsAPickedFaceThroughRecomputes)
{
    Document doc;
    Feature* box = doc.addFeature("box"); // 50 × 30 × 20, centred on the origin of XY
    ASSERT_EQ(doc.recompute(), 0);
    const int bodyId = box->id * 100;
    const TopoDS_Shape solid = doc.current.bodies.at(bodyId).shape;
    const TopoDS_Shape top = TestPart::subShapeAt(solid, TopAbs_FACE, gp_Pnt(0, 0, 20));
    const TopoDS_Shape corner = TestPart::subShapeAt(solid, TopAbs_EDGE, gp_Pnt(25, 15, 10));
    const Feature* onTop
        = doc.addFeature("plane", {{"base", faceRef(bodyId, top)}, {"offset", "5"}});
    const Feature* edgeAxis = doc.addFeature("axis", {{"ref", edgeRef(bodyId, corner)}});
    ASSERT_EQ(doc.recompute(), 0);
    expectPoint(doc.current.planes.at(onTop->id).Location(), 0, 0, 25);

    box->params["height"] = "35 mm";
    box->params["length"] = "60 mm";
    ASSERT_EQ(doc.recompute(), 0);
    expectPoint(doc.current.planes.at(onTop->id).Location(), 0, 0, 40);
    expectDir(doc.current.planes.at(onTop->id).Direction(), 0, 0, 1);
    const gp_Ax1& axis = doc.current.axes.at(edgeAxis->id);
    EXPECT_NEAR(axis.Location().X(), 30, 1e-9);
    EXPECT_NEAR(axis.Location().Y(), 15, 1e-9);

    box->suppressed = true;
    EXPECT_EQ(doc.recompute(), 2);
    EXPECT_EQ(onTop->error, QStringLiteral("Bezugskörper existiert nicht mehr"));
    EXPECT_EQ(edgeAxis->error, QStringLiteral("Bezugskörper existiert nicht mehr"));
    EXPECT_TRUE(doc.current.planes.empty());
    EXPECT_TRUE(doc.current.axes.empty());
}
