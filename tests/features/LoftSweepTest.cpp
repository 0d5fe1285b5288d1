#include "TestPart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;

namespace {

using std::numbers::pi;
const QString tooTight = QStringLiteral("Austragung fehlgeschlagen – Pfad zu eng gekrümmt?");
// The XZ plane with sketch v running along +Z.
const gp_Ax3 xzPlane(gp_Pnt(), gp::DY().Reversed(), gp::DX());

QJsonObject regionRef(int sketchId, double u = 0, double v = 0)
{
    return TestPart::region(sketchId, u, v).first().toObject();
}

gp_Ax3 at(double x, double z, const gp_Dir& normal = gp::DZ())
{
    return gp_Ax3(gp_Pnt(x, 0, z), normal, gp::DX());
}

// A square of side 2 · half centred on the Z axis at height z.
int squareAt(TestPart& part, double z, double half)
{
    return part.sketch(at(0, z), [half](auto& s) { addOutline(s, -half, -half, half, half); });
}

int circles(TestPart& part, const gp_Ax3& plane, std::initializer_list<double> radii)
{
    return part.sketch(plane, [radii](auto& s) {
        for (const double r : radii)
            s.addCircleAt(false, 0, 0, r);
    });
}

int line(TestPart& part, std::initializer_list<std::array<double, 4>> segments)
{
    return part.sketch(xzPlane, [segments](auto& s) {
        for (const auto& l : segments)
            s.addLineAt(false, l[0], l[1], l[2], l[3]);
    });
}

// An arc of the radius about the Z axis from (r, 0, 0) through the given angle.
int arc(TestPart& part, double radius, double degrees = 90)
{
    const double a = degrees * pi / 180;
    return part.sketch(gp_Ax3(), [=](auto& s) {
        s.addArcAt(false, 0, 0, radius, 0, radius * std::cos(a), radius * std::sin(a));
    });
}

QJsonObject loft(const QJsonArray& sections, bool ruled)
{
    return {{"sections", sections}, {"ruled", ruled}, {"op", "new"}};
}

QJsonObject sweep(const QJsonArray& profile, int pathSketch, const QString& orientation)
{
    return {{"profile", profile},
            {"path", TestPart::wholeSketch(pathSketch)},
            {"orientation", orientation},
            {"op", "new"}};
}

double frustum(double height, double a, double b)
{
    return height / 3.0 * (a * a + a * b + b * b);
}

} // namespace

TEST(Loft, SectionsInStoredOrder)
{
    TestPart part;
    const int low = squareAt(part, 0, 5);
    const int top = squareAt(part, 10, 2);
    const int mid = squareAt(part, 10, 10);
    const int high = squareAt(part, 20, 5);
    struct Case {
        const char* name;
        QJsonArray sections;
        bool ruled;
        double volume, tolerance;
    };
    const std::vector<Case> cases = {
        {"ruled", {regionRef(low), regionRef(top)}, true, frustum(10, 10, 4), 1e-6},
        // Picked top first the solid is the same.
        {"smooth", {regionRef(top, 1, 1), regionRef(low, 4, -4)}, false, frustum(10, 10, 4), 1e-6},
        // Two frustums meeting at the wide middle section.
        {"three ruled",
         {regionRef(low), regionRef(mid), regionRef(high)},
         true,
         2 * frustum(10, 10, 20),
         1e-6},
        // Smooth, the side length runs as the parabola 20 - 10 t² for t in
        // [-1, 1], so the volume is 10 ∫ (20 - 10 t²)² dt.
        {"three smooth",
         {regionRef(low), regionRef(mid), regionRef(high)},
         false,
         10.0 * (800.0 - 800.0 / 3.0 + 40.0),
         1e-3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int body = part.body("loft", loft(c.sections, c.ruled));
        EXPECT_NEAR(part.volume(body), c.volume, c.tolerance);
        const double half = c.sections.size() == 2 ? 5 : 10;
        EXPECT_TRUE(extentIs(part.shape(body),
                             {-half, -half, 0, half, half, c.sections.size() * 10.0 - 10}));
    }
    // Wide - narrow - narrow folds back through the middle: not the same solid.
    const int folded
        = part.body("loft", loft({regionRef(mid), regionRef(low), regionRef(high)}, true));
    EXPECT_GT(std::abs(part.volume(folded) - 2 * frustum(10, 10, 20)), 100.0);

    // A circle to a square: between the cylinder in the circle and the prism
    // round the square.
    const int circle = circles(part, gp_Ax3(), {5});
    for (const bool ruled : {true, false}) {
        const int body
            = part.body("loft", loft({regionRef(circle), regionRef(squareAt(part, 10, 5))}, ruled));
        EXPECT_GT(part.volume(body), pi * 25 * 10 + 1);
        EXPECT_LT(part.volume(body), 1000.0 - 1);
        EXPECT_TRUE(extentIs(part.shape(body), {-5, -5, 0, 5, 5, 10}, 1e-4));
    }
}

TEST(Loft, BadInputs)
{
    TestPart part;
    const int base = squareAt(part, 0, 5);
    const int open = part.sketch(at(0, 10), [](auto& s) { s.addLineAt(false, 0, 0, 5, 5); });
    const QString twoNeeded = QStringLiteral("Mindestens zwei Profile auswählen");
    const std::vector<std::pair<QJsonObject, QString>> cases = {
        {{{"op", "new"}}, twoNeeded},
        {loft({regionRef(base)}, false), twoNeeded},
        {loft({regionRef(base), TestPart::wholeSketch(open).first()}, false),
         "Das Profil enthält keinen geschlossenen Bereich"},
        {loft({regionRef(base), regionRef(base + 50)}, false), "Skizze des Profils fehlt"},
        {loft({regionRef(base), regionRef(base, 30, 0)}, false),
         "Profilbereich existiert nicht mehr – bitte neu auswählen"},
        // Two sections on one plane enclose nothing.
        {loft({regionRef(base), regionRef(base, 1, 1)}, true),
         "Erhebung fehlgeschlagen – Profile passen nicht zueinander"},
    };
    for (const auto& [params, error] : cases)
        EXPECT_EQ(part.run("loft", params), error);
    EXPECT_TRUE(part.state.bodies.empty());
}

TEST(Sweep, ProfilesAlongLinesAndArcs)
{
    TestPart part;
    const int straight = line(part, {{0, 0, 0, 30}});
    const int bend = arc(part, 20);
    const gp_Ax3 arcStart = at(20, 0, gp::DY());
    const int disc = circles(part, gp_Ax3(), {2});
    const int ring = circles(part, gp_Ax3(), {5, 3});
    const int discOnArc = circles(part, arcStart, {2});
    const int ringOnArc = circles(part, arcStart, {5, 3});
    struct Case {
        const char* name;
        QJsonArray profile;
        int path;
        const char* orientation;
        double volume;
        int faces;
    };
    // Pappus: the profile's area times the length its centre travels, with the
    // profile turned along the bend; every orientation mode sweeps a line alike.
    const std::vector<Case> cases = {
        {"disc corrected", TestPart::wholeSketch(disc), straight, "corrected", pi * 4 * 30, 3},
        {"disc frenet", TestPart::wholeSketch(disc), straight, "frenet", pi * 4 * 30, 3},
        {"disc fixed", TestPart::wholeSketch(disc), straight, "fixed", pi * 4 * 30, 3},
        {"disc unknown mode", TestPart::wholeSketch(disc), straight, "whatever", pi * 4 * 30, 3},
        {"bent disc", TestPart::wholeSketch(discOnArc), bend, "corrected", pi * 4 * 10 * pi, 3},
        {"bent disc frenet", TestPart::wholeSketch(discOnArc), bend, "frenet", pi * 4 * 10 * pi, 3},
        // A fixed profile is only moved: the disc stays parallel to the XZ plane
        // and sweeps area times the 20 mm the path rises in Y.
        {"bent disc fixed", TestPart::wholeSketch(discOnArc), bend, "fixed", pi * 4 * 20, 3},
        // The ring stays a tube: outside, inside and two annular ends.
        {"ring", TestPart::region(ring, 4, 0), straight, "corrected", pi * 16 * 30, 4},
        {"whole ring sketch", TestPart::wholeSketch(ring), straight, "corrected", pi * 16 * 30, 4},
        {"bent ring", TestPart::region(ringOnArc, 4, 0), bend, "corrected", pi * 16 * 10 * pi, 4},
        // Ring and core picked together fuse into the full rod.
        {"ring and core",
         {regionRef(ring, 4, 0), regionRef(ring)},
         straight,
         "corrected",
         pi * 25 * 30,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int body = part.body("sweep", sweep(c.profile, c.path, c.orientation));
        EXPECT_NEAR(part.volume(body), c.volume, 1e-3);
        EXPECT_EQ(countOf(part.shape(body), TopAbs_SOLID), 1);
        EXPECT_EQ(countOf(part.shape(body), TopAbs_FACE), c.faces);
    }
}

TEST(Sweep, FoldingSweepsFail)
{
    TestPart part;
    // A disc of radius 5 round a bend of radius 2, alone and with a hole.
    const int tight = arc(part, 2);
    const int disc = circles(part, at(2, 0, gp::DY()), {5});
    const int ring = circles(part, at(2, 0, gp::DY()), {5, 1});
    for (const QString orientation : {"corrected", "frenet"}) {
        EXPECT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(disc), tight, orientation)),
                  tooTight);
        EXPECT_EQ(part.run("sweep", sweep(TestPart::region(ring, 3, 0), tight, orientation)),
                  tooTight);
    }
    // Just inside the bend radius the same bend is fine.
    const int slim = circles(part, at(2, 0, gp::DY()), {1.9, 1});
    const int body = part.body("sweep", sweep(TestPart::region(slim, 1.5, 0), tight, "corrected"));
    EXPECT_NEAR(part.volume(body), pi * (1.9 * 1.9 - 1) * 2 * pi / 2, 1e-3);

    // A sharp corner is a bend of radius zero.
    const int corner = line(part, {{0, 0, 0, 30}, {0, 30, 30, 30}});
    const int small = circles(part, gp_Ax3(), {2});
    EXPECT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(small), corner, "corrected")),
              tooTight);

    // A fixed profile folds where the path turns back through its plane: a half
    // circle starting across the XZ plane ends running the other way.
    const int half = arc(part, 20, 180);
    const int onHalf = circles(part, at(20, 0, gp::DY()), {2});
    EXPECT_EQ(part.run("sweep", sweep(TestPart::wholeSketch(onHalf), half, "fixed")), tooTight);
    const int turned = part.body("sweep", sweep(TestPart::wholeSketch(onHalf), half, "corrected"));
    EXPECT_NEAR(part.volume(turned), pi * 4 * 20 * pi, 1e-3);
    EXPECT_EQ(part.state.bodies.size(), 2u);
}

TEST(Sweep, BadInputs)
{
    TestPart part;
    const int disc = circles(part, gp_Ax3(), {2});
    const int straight = line(part, {{0, 0, 0, 30}});
    const int apart = line(part, {{0, 0, 0, 10}, {0, 20, 0, 30}});
    const QJsonArray profile = TestPart::wholeSketch(disc);
    const std::vector<std::pair<QJsonObject, QString>> cases = {
        {{{"profile", profile}}, "Kein Pfad ausgewählt"},
        {{{"profile", profile}, {"path", QJsonArray{}}}, "Kein Pfad ausgewählt"},
        {sweep(profile, straight + 40, "corrected"), "Pfadskizze fehlt"},
        {sweep(profile, apart, "corrected"),
         "Der Pfad besteht aus mehreren getrennten Kurvenzügen"},
        {sweep({}, straight, "corrected"), "Kein Profil ausgewählt"},
    };
    for (const auto& [params, error] : cases)
        EXPECT_EQ(part.run("sweep", params), error);
    EXPECT_TRUE(part.state.bodies.empty());
}
