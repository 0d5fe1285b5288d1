#include "TestPart.h"

#include "model/References.h"
#include "model/ShapeSignature.h"

#include <BRepAdaptor_Surface.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;

namespace {

constexpr double pi = std::numbers::pi;

// A 10 x 10 square with its corner at the plane's origin.
int squareSketch(TestPart& part, const gp_Ax3& plane = gp_Ax3())
{
    return part.sketch(plane, [](qor::sketch::Sketch& s) { addOutline(s, 0, 0, 10, 10); });
}

QJsonObject extrude(int sketchId, const QString& extent, const QString& distance,
                    const QString& op = "new")
{
    return {{"profile", TestPart::wholeSketch(sketchId)},
            {"extent", extent},
            {"distance", distance},
            {"op", op}};
}

} // namespace

TEST(Extrude, DistancesAndExtents)
{
    TestPart part;
    const int sk = squareSketch(part);

    Feature* f = nullptr;
    ASSERT_EQ(part.run("extrude", extrude(sk, "dist", "20 mm"), &f), QString());
    const int plain = f->id * 100;
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(plain), 2000.0, 1e-6);
    EXPECT_TRUE(boxIs(part.box(plain), 0, 0, 0, 10, 10, 20));

    QJsonObject flipped = extrude(sk, "dist", "20");
    flipped["flip"] = true;
    ASSERT_EQ(part.run("extrude", flipped, &f), QString());
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, -20, 10, 10, 0));

    ASSERT_EQ(part.run("extrude", extrude(sk, "sym", "2 * 10 mm"), &f), QString());
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, -10, 10, 10, 10));
    EXPECT_NEAR(part.volume(f->id * 100), 2000.0, 1e-6);

    QJsonObject two = extrude(sk, "two", "20 mm");
    two["distance2"] = "10 mm";
    ASSERT_EQ(part.run("extrude", two, &f), QString());
    const TopoDS_Shape& both = part.state.bodies.at(f->id * 100).shape;
    EXPECT_EQ(countOf(both, TopAbs_SOLID), 1);
    EXPECT_EQ(countOf(both, TopAbs_FACE), 6); // the two halves merged into one block
    EXPECT_NEAR(part.volume(f->id * 100), 3000.0, 1e-6);
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, -10, 10, 10, 20));

    // Reversed, the sides swap.
    two["flip"] = true;
    ASSERT_EQ(part.run("extrude", two, &f), QString());
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, -20, 10, 10, 10));

    // An unknown extent text is one distance; the comparison is case-sensitive.
    ASSERT_EQ(part.run("extrude", extrude(sk, "Dist", "7"), &f), QString());
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, 0, 10, 10, 7));
}

TEST(Extrude, ThroughAllReachesPastEveryBody)
{
    TestPart empty;
    const int sk = squareSketch(empty);
    Feature* f = nullptr;
    ASSERT_EQ(empty.run("extrude", extrude(sk, "all", "0"), &f), QString());
    EXPECT_TRUE(boxIs(empty.box(f->id * 100), 0, 0, 0, 10, 10, 1000));

    TestPart other;
    const int sk2 = squareSketch(other);
    ASSERT_EQ(other.run("extrude", extrude(sk2, "allboth", "0"), &f), QString());
    EXPECT_TRUE(boxIs(other.box(f->id * 100), 0, 0, -1000, 10, 10, 1000));

    // With a body in the model the length follows its bounding box.
    TestPart part;
    const int big = part.sketch(
        gp_Ax3(), [](qor::sketch::Sketch& s) { addOutline(s, -50, -50, 50, 50); });
    ASSERT_EQ(part.run("extrude", extrude(big, "sym", "60")), QString());
    const int hole = squareSketch(part, gp_Ax3(gp_Pnt(0, 0, 40), gp::DZ(), gp::DX()));
    ASSERT_EQ(part.run("extrude", extrude(hole, "allboth", "0", "cut"), &f), QString());
    const Bnd_Box tool = TestPart::box(part.state.tools.at(f->id).shape);
    const double reach = throughAllDistance(part.state, gp_Pnt(0, 0, 40));
    EXPECT_GT(reach, 2 * std::hypot(50.0, 50.0, 70.0));
    EXPECT_TRUE(boxIs(tool, 0, 0, 40 - reach, 10, 10, 40 + reach, 1e-6));
    EXPECT_NEAR(totalVolume(part.state), 100 * 100 * 60 - 10 * 10 * 60, 1e-6);
}

TEST(Extrude, DistancesMustBePositive)
{
    TestPart part;
    const int sk = squareSketch(part);
    QJsonObject two = extrude(sk, "two", "20");
    two["distance2"] = "0";
    EXPECT_EQ(part.run("extrude", two), QStringLiteral("Abstand muss größer als 0 sein"));
    EXPECT_EQ(part.run("extrude", extrude(sk, "dist", "-5")),
              QStringLiteral("Abstand muss größer als 0 sein"));
    EXPECT_EQ(part.run("extrude", extrude(sk, "sym", "0")),
              QStringLiteral("Abstand muss größer als 0 sein"));
    EXPECT_EQ(part.run("extrude", extrude(sk, "dist", "nonsense + 1")).left(10),
              QStringLiteral("distance: "));
    EXPECT_TRUE(part.state.bodies.empty());
}

TEST(Extrude, TaperInclinesTheWalls)
{
    TestPart part;
    const int sk = squareSketch(part);
    Feature* f = nullptr;

    // Negative tapers narrow the solid: a frustum of a square pyramid.
    QJsonObject narrow = extrude(sk, "dist", "10");
    narrow["taper"] = "-5 deg";
    ASSERT_EQ(part.run("extrude", narrow, &f), QString());
    const double top = 10.0 - 2.0 * 10.0 * std::tan(5.0 * pi / 180.0);
    const double frustum = 10.0 / 3.0 * (100.0 + top * top + 10.0 * top);
    EXPECT_NEAR(part.volume(f->id * 100), frustum, 1e-4);
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, 0, 10, 10, 10));

    // The same reversed lies on the other side of the sketch with the same shape.
    narrow["flip"] = true;
    ASSERT_EQ(part.run("extrude", narrow, &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), frustum, 1e-4);
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, -10, 10, 10, 0));

    // Positive tapers widen it; the full distance is reached along the normal.
    QJsonObject wide = extrude(sk, "dist", "10");
    wide["taper"] = "5";
    ASSERT_EQ(part.run("extrude", wide, &f), QString());
    const double grow = 10.0 * std::tan(5.0 * pi / 180.0);
    EXPECT_TRUE(boxIs(part.box(f->id * 100), -grow, -grow, 0, 10 + grow, 10 + grow, 10));
    EXPECT_GT(part.volume(f->id * 100), 1000.0);

    // A taper below 1e-9 degrees is a plain prism.
    QJsonObject tiny = extrude(sk, "dist", "10");
    tiny["taper"] = 0.5e-9;
    ASSERT_EQ(part.run("extrude", tiny, &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), 1000.0, 1e-9);
    EXPECT_EQ(countOf(part.state.bodies.at(f->id * 100).shape, TopAbs_FACE), 6);

    // Walls that would meet before the distance is reached.
    QJsonObject steep = extrude(sk, "dist", "10");
    steep["taper"] = "-30";
    EXPECT_EQ(part.run("extrude", steep),
              QStringLiteral("Verjüngung nicht möglich (Winkel zu groß?)"));
    steep["taper"] = "90";
    EXPECT_EQ(part.run("extrude", steep),
              QStringLiteral("Verjüngung nicht möglich (Winkel zu groß?)"));
}

TEST(Extrude, TaperedSeparateRegionsStayApart)
{
    TestPart part;
    const int sk = part.sketch(gp_Ax3(), [](qor::sketch::Sketch& s) {
        addOutline(s, 0, 0, 10, 10);
        addOutline(s, 30, 0, 40, 10);
    });
    QJsonObject params = extrude(sk, "sym", "8");
    params["taper"] = "-3";
    Feature* f = nullptr;
    ASSERT_EQ(part.run("extrude", params, &f), QString());
    const TopoDS_Shape& tool = part.state.bodies.at(f->id * 100).shape;
    EXPECT_EQ(countOf(tool, TopAbs_SOLID), 2);
    const double top = 10.0 - 2.0 * 8.0 * std::tan(3.0 * pi / 180.0);
    EXPECT_NEAR(part.volume(f->id * 100), 2 * 8.0 / 3.0 * (100.0 + top * top + 10.0 * top), 1e-4);
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, -4, 40, 10, 4));
}

TEST(Extrude, CutThatMissesIsRetriedReversed)
{
    TestPart part;
    const int base = squareSketch(part);
    ASSERT_EQ(part.run("extrude", extrude(base, "dist", "10")), QString());
    ASSERT_NEAR(totalVolume(part.state), 1000.0, 1e-6);

    // A sketch on the block's top face whose normal points away from the block.
    const int onTop =
        part.sketch(gp_Ax3(gp_Pnt(0, 0, 10), gp::DZ(), gp::DX()),
                    [](qor::sketch::Sketch& s) { addOutline(s, 2, 2, 6, 6); });
    const int counter = part.state.bodyCounter;
    Feature* cut = nullptr;
    ASSERT_EQ(part.run("extrude", extrude(onTop, "dist", "3", "cut"), &cut), QString());
    EXPECT_NEAR(totalVolume(part.state), 1000.0 - 16.0 * 3.0, 1e-6);
    EXPECT_EQ(part.state.bodies.size(), 1u);
    EXPECT_EQ(part.state.bodyCounter, counter);
    EXPECT_TRUE(boxIs(TestPart::box(part.state.tools.at(cut->id).shape), 2, 2, 7, 6, 6, 10));
    EXPECT_TRUE(cut->warning.isEmpty());

    // With "flip" the tool is built once as asked; missing leaves the block alone.
    const int below =
        part.sketch(gp_Ax3(), [](qor::sketch::Sketch& s) { addOutline(s, 2, 2, 6, 6); });
    QJsonObject flipped = extrude(below, "dist", "3", "cut");
    flipped["flip"] = true;
    ASSERT_EQ(part.run("extrude", flipped, &cut), QString());
    EXPECT_NEAR(totalVolume(part.state), 1000.0 - 48.0, 1e-6);
    EXPECT_TRUE(boxIs(TestPart::box(part.state.tools.at(cut->id).shape), 2, 2, -3, 6, 6, 0));

    // A join never retries, whatever volume results.
    QJsonObject join = extrude(onTop, "dist", "3", "join");
    ASSERT_EQ(part.run("extrude", join, &cut), QString());
    EXPECT_TRUE(boxIs(TestPart::box(part.state.tools.at(cut->id).shape), 2, 2, 10, 6, 6, 13));
}

TEST(Extrude, RetryForgetsTheWarningOfTheFirstAttempt)
{
    TestPart part;
    const int base = squareSketch(part);
    ASSERT_EQ(part.run("extrude", extrude(base, "dist", "10")), QString());

    // Half a millimetre above the block: the first tool reaches no body at all.
    const int above =
        part.sketch(gp_Ax3(gp_Pnt(0, 0, 10.5), gp::DZ(), gp::DX()),
                    [](qor::sketch::Sketch& s) { addOutline(s, 2, 2, 6, 6); });
    Feature* cut = nullptr;
    ASSERT_EQ(part.run("extrude", extrude(above, "dist", "3", "cut"), &cut), QString());
    EXPECT_TRUE(cut->warning.isEmpty()) << cut->warning.toStdString();
    EXPECT_NEAR(totalVolume(part.state), 1000.0 - 16.0 * 2.5, 1e-6);

    // A cut that misses both ways keeps the warning of its last attempt.
    const int far = part.sketch(gp_Ax3(gp_Pnt(0, 0, 50), gp::DZ(), gp::DX()),
                                [](qor::sketch::Sketch& s) { addOutline(s, 2, 2, 6, 6); });
    ASSERT_EQ(part.run("extrude", extrude(far, "dist", "3", "cut"), &cut), QString());
    EXPECT_EQ(cut->warning, QStringLiteral("Kein Körper im Wirkbereich"));
    EXPECT_NEAR(totalVolume(part.state), 1000.0 - 16.0 * 2.5, 1e-6);
}

namespace {

// A 5 x 10 rectangle from 5 to 10 mm beside the Y axis on the XY plane.
QJsonObject revolve(TestPart& part, const QString& angle)
{
    const int sk =
        part.sketch(gp_Ax3(), [](qor::sketch::Sketch& s) { addOutline(s, 5, 0, 10, 10); });
    return {{"profile", TestPart::wholeSketch(sk)},
            {"axis", QJsonObject{{"kind", "origin"}, {"id", -12}}},
            {"angle", angle},
            {"op", "new"}};
}

} // namespace

TEST(Revolve, VolumesFollowPappus)
{
    // Area 50, centroid 7.5 from the axis.
    const double full = 2 * pi * 7.5 * 50.0;
    TestPart part;
    Feature* f = nullptr;

    ASSERT_EQ(part.run("revolve", revolve(part, "360 deg"), &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), full, 1e-6);
    EXPECT_TRUE(boxIs(part.box(f->id * 100), -10, 0, -10, 10, 10, 10));

    ASSERT_EQ(part.run("revolve", revolve(part, "90"), &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), full / 4, 1e-6);

    ASSERT_EQ(part.run("revolve", revolve(part, "-30"), &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), full / 12, 1e-6);

    // Rounding just short of a full turn still closes it; 359.99 does not.
    ASSERT_EQ(part.run("revolve", revolve(part, "359.9999999995"), &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), full, 1e-6);
    EXPECT_EQ(countOf(part.state.bodies.at(f->id * 100).shape, TopAbs_FACE), 4);
    ASSERT_EQ(part.run("revolve", revolve(part, "359.99"), &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), full * 359.99 / 360.0, 1e-6);
    EXPECT_EQ(countOf(part.state.bodies.at(f->id * 100).shape, TopAbs_FACE), 6);

    EXPECT_EQ(part.run("revolve", revolve(part, "0")),
              QStringLiteral("Winkel muss ungleich 0 sein"));
    EXPECT_EQ(part.run("revolve", revolve(part, "1e-10")),
              QStringLiteral("Winkel muss ungleich 0 sein"));
}

TEST(Revolve, SenseSymmetryAndReversal)
{
    // About +Y, a profile on +X turns towards -Z first.
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("revolve", revolve(part, "90"), &f), QString());
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, -10, 10, 10, 0));

    QJsonObject flipped = revolve(part, "90");
    flipped["flip"] = true;
    ASSERT_EQ(part.run("revolve", flipped, &f), QString());
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, 0, 10, 10, 10));

    QJsonObject symmetric = revolve(part, "90");
    symmetric["symmetric"] = true;
    ASSERT_EQ(part.run("revolve", symmetric, &f), QString());
    const double s = 10 * std::sin(pi / 4);
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 5 * std::cos(pi / 4), 0, -s, 10, 10, s));
    EXPECT_NEAR(part.volume(f->id * 100), 2 * pi * 7.5 * 50.0 / 4, 1e-6);
}

TEST(Extrude, RecomputeCutsIntoAPickedFace)
{
    // Through the whole recompute: a box, then a cut extruded from its top face.
    // The face's normal points out of the block, so the first tool misses and the
    // reversed one takes the top 5 mm off.
    Document doc;
    doc.parameters.push_back(Parameter{"h", "20 mm"});
    doc.addFeature("box", {{"height", "h"}});
    ASSERT_EQ(doc.recompute(), 0);
    const int block = doc.features.front()->id * 100;
    const TopoDS_Shape top = [&] {
        for (TopExp_Explorer it(doc.current.bodies.at(block).shape, TopAbs_FACE); it.More();
             it.Next()) {
            const gp_Ax3 frame = facePlane(it.Current());
            if (frame.Direction().Z() > 0.5)
                return it.Current();
        }
        return TopoDS_Shape();
    }();
    ASSERT_FALSE(top.IsNull());
    Feature* cut = doc.addFeature(
        "extrude",
        {{"profile", QJsonArray{faceRef(block, top)}}, {"distance", "5 mm"}, {"op", "cut"}});
    ASSERT_EQ(doc.recompute(), 0) << cut->error.toStdString();
    EXPECT_TRUE(cut->warning.isEmpty());
    ASSERT_EQ(doc.current.bodies.size(), 1u);
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(block).shape), 50.0 * 30.0 * 15.0, 1e-6);
    EXPECT_TRUE(boxIs(TestPart::box(doc.current.bodies.at(block).shape), -25, -15, 0, 25, 15, 15));

    // A taller block: the face is found again and the cut follows it.
    doc.parameters.front().expr = "30 mm";
    ASSERT_EQ(doc.recompute(), 0) << cut->error.toStdString();
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(block).shape), 50.0 * 30.0 * 25.0, 1e-6);
}
