#include "TestPart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;

namespace {

constexpr double pi = std::numbers::pi;
const QString tooTight = QStringLiteral("Austragung fehlgeschlagen – Pfad zu eng gekrümmt?");

QJsonObject regionRef(int sketchId, double u, double v)
{
    return TestPart::region(sketchId, u, v).first().toObject();
}

// A square of side 2 · half centred on the Z axis at height z.
int squareAt(TestPart& part, double z, double half)
{
    return part.sketch(gp_Ax3(gp_Pnt(0, 0, z), gp::DZ(), gp::DX()),
                       [half](qor::sketch::Sketch& s) {
                           addOutline(s, -half, -half, half, half);
                       });
}

QJsonObject loft(const QJsonArray& sections, bool ruled)
{
    return {{"sections", sections}, {"ruled", ruled}, {"op", "new"}};
}

double frustum(double height, double a, double b)
{
    return height / 3.0 * (a * a + a * b + b * b);
}

} // namespace

TEST(Loft, SquaresGiveFrustums)
{
    TestPart part;
    const int base = squareAt(part, 0, 5);
    const int top = squareAt(part, 10, 2);
    Feature* f = nullptr;
    for (const bool ruled : {false, true}) {
        ASSERT_EQ(part.run("loft", loft({regionRef(base, 0, 0), regionRef(top, 0, 0)}, ruled), &f),
                  QString());
        const int body = f->id * 100;
        EXPECT_NEAR(part.volume(body), frustum(10, 10, 4), 1e-6) << ruled;
        EXPECT_TRUE(boxIs(part.box(body), -5, -5, 0, 5, 5, 10));
        EXPECT_EQ(countOf(part.state.bodies.at(body).shape, TopAbs_FACE), 6);
    }

    // Picked top first the solid is the same.
    ASSERT_EQ(part.run("loft", loft({regionRef(top, 1, 1), regionRef(base, 4, -4)}, false), &f),
              QString());
    EXPECT_NEAR(part.volume(f->id * 100), frustum(10, 10, 4), 1e-6);
}

TEST(Loft, ThreeSectionsInStoredOrder)
{
    TestPart part;
    const int low = squareAt(part, 0, 5);
    const int mid = squareAt(part, 10, 10);
    const int high = squareAt(part, 20, 5);
    const QJsonArray inOrder{regionRef(low, 0, 0), regionRef(mid, 0, 0), regionRef(high, 0, 0)};
    Feature* f = nullptr;

    // Ruled: two frustums meeting at the wide middle section.
    ASSERT_EQ(part.run("loft", loft(inOrder, true), &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), 2 * frustum(10, 10, 20), 1e-6);
    EXPECT_TRUE(boxIs(part.box(f->id * 100), -10, -10, 0, 10, 10, 20, 1e-6));

    // Smooth: the side length runs as the parabola 20 - 10 t² for t in [-1, 1]
    // through the three sections, so the volume is 10 ∫ (20 - 10 t²)² dt.
    ASSERT_EQ(part.run("loft", loft(inOrder, false), &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), 10.0 * (800.0 - 800.0 / 3.0 + 40.0), 1e-3);

    // Sections go through in the stored order: wide - narrow - narrow folds back
    // through the middle and is not the same solid.
    ASSERT_EQ(part.run("loft",
                       loft({regionRef(mid, 0, 0), regionRef(low, 0, 0), regionRef(high, 0, 0)},
                            true),
                       &f),
              QString());
    EXPECT_GT(std::abs(part.volume(f->id * 100) - 2 * frustum(10, 10, 20)), 100.0);
}

TEST(Loft, CircleToSquare)
{
    TestPart part;
    const int circle = part.sketch(gp_Ax3(), [](qor::sketch::Sketch& s) {
        s.addCircleAt(false, 0, 0, 5);
    });
    const int square = squareAt(part, 10, 5);
    Feature* f = nullptr;
    for (const bool ruled : {true, false}) {
        ASSERT_EQ(part.run("loft", loft({regionRef(circle, 0, 0), regionRef(square, 0, 0)}, ruled),
                           &f),
                  QString());
        // Between the cylinder in the circle and the prism round the square.
        const double volume = part.volume(f->id * 100);
        EXPECT_GT(volume, pi * 25 * 10 + 1);
        EXPECT_LT(volume, 1000.0 - 1);
        EXPECT_TRUE(boxIs(part.box(f->id * 100), -5, -5, 0, 5, 5, 10, 1e-4));
    }
}

TEST(Loft, BadInputs)
{
    TestPart part;
    const int base = squareAt(part, 0, 5);
    const int open = part.sketch(gp_Ax3(gp_Pnt(0, 0, 10), gp::DZ(), gp::DX()),
                                 [](qor::sketch::Sketch& s) { s.addLineAt(false, 0, 0, 5, 5); });
    const QString twoNeeded = QStringLiteral("Mindestens zwei Profile auswählen");
    EXPECT_EQ(part.run("loft", loft({}, false)), twoNeeded);
    EXPECT_EQ(part.run("loft", {{"op", "new"}}), twoNeeded);
    EXPECT_EQ(part.run("loft", loft({regionRef(base, 0, 0)}, false)), twoNeeded);
    const QJsonObject wholeOpen = TestPart::wholeSketch(open).first().toObject();
    EXPECT_EQ(part.run("loft", loft({regionRef(base, 0, 0), wholeOpen}, false)),
              QStringLiteral("Das Profil enthält keinen geschlossenen Bereich"));
    EXPECT_EQ(part.run("loft", loft({regionRef(base, 0, 0), regionRef(base + 50, 0, 0)}, false)),
              QStringLiteral("Skizze des Profils fehlt"));
    EXPECT_EQ(part.run("loft", loft({regionRef(base, 0, 0), regionRef(base, 30, 0)}, false)),
              QStringLiteral("Profilbereich existiert nicht mehr – bitte neu auswählen"));
    // Two sections on one plane enclose nothing.
    EXPECT_EQ(part.run("loft", loft({regionRef(base, 0, 0), regionRef(base, 1, 1)}, true)),
              QStringLiteral("Erhebung fehlgeschlagen – Profile passen nicht zueinander"));
    EXPECT_TRUE(part.state.bodies.empty());
}

namespace {

// The XZ plane with sketch v running along +Z.
const gp_Ax3 xzPlane(gp_Pnt(), gp::DY().Reversed(), gp::DX());

int circles(TestPart& part, const gp_Ax3& plane, std::initializer_list<double> radii)
{
    return part.sketch(plane, [radii](qor::sketch::Sketch& s) {
        for (const double r : radii)
            s.addCircleAt(false, 0, 0, r);
    });
}

// A quarter circle of radius 20 about the Z axis from (20, 0, 0) to (0, 20, 0).
int quarterArc(TestPart& part, double radius = 20)
{
    return part.sketch(gp_Ax3(), [radius](qor::sketch::Sketch& s) {
        s.addArcAt(false, 0, 0, radius, 0, 0, radius);
    });
}

QJsonObject sweep(const QJsonArray& profile, int pathSketch, const QString& orientation)
{
    return {{"profile", profile},
            {"path", TestPart::wholeSketch(pathSketch)},
            {"orientation", orientation},
            {"op", "new"}};
}

} // namespace

TEST(Sweep, CircleAlongLineAndArc)
{
    TestPart part;
    const int disc = circles(part, gp_Ax3(), {2});
    const int line = part.sketch(xzPlane, [](qor::sketch::Sketch& s) {
        s.addLineAt(false, 0, 0, 0, 30);
    });
    Feature* f = nullptr;
    for (const QString orientation : {"corrected", "frenet", "fixed", "whatever"}) {
        ASSERT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(disc), line, orientation), &f),
                  QString());
        EXPECT_NEAR(part.volume(f->id * 100), pi * 4 * 30, 1e-6) << orientation.toStdString();
        EXPECT_TRUE(boxIs(part.box(f->id * 100), -2, -2, 0, 2, 2, 30, 1e-6));
    }

    // Pappus: the disc's area times the length its centre travels, with the
    // profile turned along the bend.
    const int arc = quarterArc(part);
    const int onArc = circles(part, gp_Ax3(gp_Pnt(20, 0, 0), gp::DY(), gp::DX()), {2});
    for (const QString orientation : {"corrected", "frenet", ""}) {
        ASSERT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(onArc), arc, orientation), &f),
                  QString());
        EXPECT_NEAR(part.volume(f->id * 100), pi * 4 * 20 * pi / 2, 1e-3);
        EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, 0, -2, 22, 22, 2, 1e-4));
    }
    // A fixed profile is only moved: the disc stays parallel to the XZ plane and
    // sweeps area times the 20 mm the path rises in Y.
    ASSERT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(onArc), arc, "fixed"), &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), pi * 4 * 20, 1e-3);
    EXPECT_TRUE(boxIs(part.box(f->id * 100), -2, 0, -2, 22, 20, 2, 1e-4));
}

TEST(Sweep, RingStaysATube)
{
    TestPart part;
    const int ring = circles(part, gp_Ax3(), {5, 3});
    const int line = part.sketch(xzPlane, [](qor::sketch::Sketch& s) {
        s.addLineAt(false, 0, 0, 0, 30);
    });
    Feature* f = nullptr;
    ASSERT_EQ(part.run("sweep", sweep(TestPart::region(ring, 4, 0), line, "corrected"), &f),
              QString());
    const TopoDS_Shape& tube = part.state.bodies.at(f->id * 100).shape;
    EXPECT_NEAR(part.volume(f->id * 100), pi * (25 - 9) * 30, 1e-6);
    EXPECT_EQ(countOf(tube, TopAbs_SOLID), 1);
    EXPECT_EQ(countOf(tube, TopAbs_FACE), 4); // outside, inside, two annular ends

    // Along the bend as well.
    const int arc = quarterArc(part);
    const int bentRing = circles(part, gp_Ax3(gp_Pnt(20, 0, 0), gp::DY(), gp::DX()), {5, 3});
    ASSERT_EQ(part.run("sweep", sweep(TestPart::region(bentRing, 4, 0), arc, "corrected"), &f),
              QString());
    EXPECT_NEAR(part.volume(f->id * 100), pi * (25 - 9) * 20 * pi / 2, 1e-3);

    // The whole sketch is the ring as well; ring and core picked together fuse
    // into the full rod.
    ASSERT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(ring), line, "corrected"), &f),
              QString());
    EXPECT_NEAR(part.volume(f->id * 100), pi * (25 - 9) * 30, 1e-6);
    const QJsonArray both{regionRef(ring, 4, 0), regionRef(ring, 0, 0)};
    ASSERT_EQ(part.run("sweep", sweep(both, line, "corrected"), &f), QString());
    EXPECT_NEAR(part.volume(f->id * 100), pi * 25 * 30, 1e-6);
    EXPECT_EQ(countOf(part.state.bodies.at(f->id * 100).shape, TopAbs_FACE), 3);
}

TEST(Sweep, FoldingSweepsFail)
{
    TestPart part;
    // A disc of radius 5 round a bend of radius 2, alone and with a hole.
    const int tight = quarterArc(part, 2);
    const gp_Ax3 atStart(gp_Pnt(2, 0, 0), gp::DY(), gp::DX());
    const int disc = circles(part, atStart, {5});
    const int ring = circles(part, atStart, {5, 1});
    for (const QString orientation : {"corrected", "frenet"}) {
        EXPECT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(disc), tight, orientation)),
                  tooTight);
        EXPECT_EQ(part.run("sweep", sweep(TestPart::region(ring, 3, 0), tight, orientation)),
                  tooTight);
    }
    // Just inside the bend radius the same bend is fine.
    const int slim = circles(part, atStart, {1.9, 1});
    Feature* f = nullptr;
    ASSERT_EQ(part.run("sweep", sweep(TestPart::region(slim, 1.5, 0), tight, "corrected"), &f),
              QString());
    EXPECT_NEAR(part.volume(f->id * 100), pi * (1.9 * 1.9 - 1) * 2 * pi / 2, 1e-3);

    // A sharp corner is a bend of radius zero.
    const int corner = part.sketch(xzPlane, [](qor::sketch::Sketch& s) {
        s.addLineAt(false, 0, 0, 0, 30);
        s.addLineAt(false, 0, 30, 30, 30);
    });
    const int small = circles(part, gp_Ax3(), {2});
    EXPECT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(small), corner, "corrected")),
              tooTight);

    // A fixed profile folds where the path turns back through its plane: a half
    // circle starting across the XZ plane ends running the other way.
    const int half = part.sketch(gp_Ax3(), [](qor::sketch::Sketch& s) {
        s.addArcAt(false, 0, 0, 20, 0, -20, 0);
    });
    const int onHalf = circles(part, gp_Ax3(gp_Pnt(20, 0, 0), gp::DY(), gp::DX()), {2});
    EXPECT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(onHalf), half, "fixed")), tooTight);
    ASSERT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(onHalf), half, "corrected"), &f),
              QString());
    EXPECT_NEAR(part.volume(f->id * 100), pi * 4 * 20 * pi, 1e-3);
    EXPECT_EQ(part.state.bodies.size(), 2u);
}

TEST(Sweep, BadInputs)
{
    TestPart part;
    const int disc = circles(part, gp_Ax3(), {2});
    const int line = part.sketch(xzPlane, [](qor::sketch::Sketch& s) {
        s.addLineAt(false, 0, 0, 0, 30);
    });
    const int apart = part.sketch(xzPlane, [](qor::sketch::Sketch& s) {
        s.addLineAt(false, 0, 0, 0, 10);
        s.addLineAt(false, 0, 20, 0, 30);
    });
    QJsonObject noPath{{"profile", TestPart::wholeSketch(disc)}, {"op", "new"}};
    EXPECT_EQ(part.run("sweep", noPath), QStringLiteral("Kein Pfad ausgewählt"));
    noPath["path"] = QJsonArray{};
    EXPECT_EQ(part.run("sweep", noPath), QStringLiteral("Kein Pfad ausgewählt"));
    EXPECT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(disc), line + 40, "corrected")),
              QStringLiteral("Pfadskizze fehlt"));
    EXPECT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(disc), apart, "corrected")),
              QStringLiteral("Der Pfad besteht aus mehreren getrennten Kurvenzügen"));
    EXPECT_EQ(part.run("sweep", sweep({}, line, "corrected")),
              QStringLiteral("Kein Profil ausgewählt"));
    EXPECT_TRUE(part.state.bodies.empty());
}

TEST(LoftSweep, SaveLoadRecomputeKeepsTheVolumes)
{
    // Through the sketch feature and the whole recompute.
    Document doc;
    const auto sketchOn = [&doc](int plane, const QString& offset,
                                 const std::function<void(qor::sketch::Sketch&)>& draw) {
        Feature* f = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", plane}});
        f->params["offset"] = offset;
        draw(*f->sketch);
        return f->id;
    };
    const int base = sketchOn(-1, "0", [](qor::sketch::Sketch& s) {
        addOutline(s, -5, -5, 5, 5);
    });
    const int top = sketchOn(-1, "10 mm", [](qor::sketch::Sketch& s) {
        addOutline(s, -2, -2, 2, 2);
    });
    Feature* lofted = doc.addFeature(
        "loft", loft({regionRef(base, 0, 0), regionRef(top, 0, 0)}, true));
    const int arc = sketchOn(-1, "0", [](qor::sketch::Sketch& s) {
        s.addArcAt(false, 0, 0, 20, 0, 0, 20);
    });
    // On the XZ plane, sketch X along world X.
    const int ring = sketchOn(-2, "0", [](qor::sketch::Sketch& s) {
        s.addCircleAt(false, 20, 0, 5);
        s.addCircleAt(false, 20, 0, 3);
    });
    Feature* swept = doc.addFeature(
        "sweep", sweep(TestPart::region(ring, 24, 0), arc, "corrected"));
    ASSERT_EQ(doc.recompute(), 0) << lofted->error.toStdString() << swept->error.toStdString();
    ASSERT_EQ(doc.current.bodies.size(), 2u);
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(lofted->id * 100).shape), frustum(10, 10, 4),
                1e-6);
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(swept->id * 100).shape), pi * 16 * 10 * pi,
                1e-3);
    expectSameAfterReload(doc);
}
