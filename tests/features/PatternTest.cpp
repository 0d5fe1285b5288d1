#include "TestPart.h"

#include "model/ShapeSignature.h"

#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace qor::model;

namespace {

constexpr double pi = std::numbers::pi;

// A 200 mm square plate 10 mm thick centred on the origin, standing on XY.
int plate(TestPart& part)
{
    return part.body("box", {{"length", 200}, {"width", 200}, {"height", 10}});
}

// A square pocket through a 10 mm plate: a 4 x 4 box cut centred on (x, y);
// each copy removes 160 mm³.
int pocket(TestPart& part, double x, double y)
{
    Feature* f = nullptr;
    EXPECT_EQ(
        part.run("box",
                 {{"length", 4}, {"width", 4}, {"height", 20}, {"x", x}, {"y", y}, {"op", "cut"}},
                 &f),
        QString());
    return f->id;
}

// A small block for copying bodies: 2 x 2 x 2 centred on (x, y) in XY.
int block(TestPart& part, double x, double y)
{
    return part.cube(2, x, y);
}

QJsonObject features(std::initializer_list<int> ids)
{
    QJsonArray list;
    for (const int id : ids)
        list.append(QJsonObject{{"id", id}});
    return {{"source", "features"}, {"features", list}};
}

QJsonObject bodies(int bodyId, bool join)
{
    return {{"source", "bodies"}, {"bodies", QJsonArray{bodyId}}, {"join", join}};
}

QJsonObject with(QJsonObject params, const QJsonObject& more)
{
    for (auto it = more.begin(); it != more.end(); ++it)
        params.insert(it.key(), it.value());
    return params;
}

gp_Pnt centreOf(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props);
    return props.CentreOfMass();
}

std::vector<gp_Pnt> solidCentres(const TopoDS_Shape& shape)
{
    std::vector<gp_Pnt> centres;
    for (TopExp_Explorer it(shape, TopAbs_SOLID); it.More(); it.Next())
        centres.push_back(centreOf(it.Current()));
    return centres;
}

// Centres of the bodies the feature added, in id order.
std::vector<gp_Pnt> addedCentres(const TestPart& part, const Feature* f)
{
    std::vector<gp_Pnt> centres;
    for (const auto& [id, body] : part.state.bodies) {
        if (body.featureId == f->id)
            centres.push_back(centreOf(body.shape));
    }
    return centres;
}

::testing::AssertionResult near(const gp_Pnt& p, double x, double y, double z, double tol = 1e-6)
{
    if (p.Distance(gp_Pnt(x, y, z)) <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << p.X() << ", " << p.Y() << ", " << p.Z()
                                         << ") instead of (" << x << ", " << y << ", " << z << ")";
}

double polarAngle(const gp_Pnt& p)
{
    return std::atan2(p.Y(), p.X()) * 180.0 / pi;
}

const double plateVolume = 200.0 * 200.0 * 10.0;

} // namespace

TEST(PatternRect, CopiesCutRowByRowAlongBothDirections)
{
    TestPart part;
    const int body = plate(part);
    const int cut = pocket(part, -80, -80);
    EXPECT_NEAR(part.volume(body), plateVolume - 160, 1e-6);

    Feature* f = nullptr;
    ASSERT_EQ(
        part.run("pattern_rect",
                 with(features({cut}),
                      {{"count1", 3}, {"spacing1", "20 mm"}, {"count2", "2"}, {"spacing2", "30"}}),
                 &f),
        QString());
    EXPECT_NEAR(part.volume(body), plateVolume - 6 * 160, 1e-6);
    // Cells (0, 1), (1, 0), (1, 1), (2, 0), (2, 1): row by row along direction 1.
    const std::vector<gp_Pnt> copies = solidCentres(part.state.tools.at(f->id).shape);
    ASSERT_EQ(copies.size(), 5u);
    EXPECT_TRUE(near(copies[0], -80, -50, 10));
    EXPECT_TRUE(near(copies[1], -60, -80, 10));
    EXPECT_TRUE(near(copies[2], -60, -50, 10));
    EXPECT_TRUE(near(copies[3], -40, -80, 10));
    EXPECT_TRUE(near(copies[4], -40, -50, 10));
    EXPECT_EQ(part.state.tools.at(f->id).op, QStringLiteral("cut"));
    EXPECT_EQ(part.state.tools.at(f->id).targets, std::vector<int>{body});

    // Both directions reversed: the copies go the other way from the original,
    // the second direction down below the plate.
    ASSERT_EQ(part.run("pattern_rect",
                       with(features({cut}), {{"count1", 2},
                                              {"flip1", true},
                                              {"count2", 2},
                                              {"direction2", TestPart::origin(-13)},
                                              {"spacing2", "30 mm"},
                                              {"flip2", true}}),
                       &f),
              QString());
    const std::vector<gp_Pnt> flipped = solidCentres(part.state.tools.at(f->id).shape);
    ASSERT_EQ(flipped.size(), 3u);
    EXPECT_TRUE(near(flipped[0], -80, -80, -20));
    EXPECT_TRUE(near(flipped[1], -100, -80, 10));
    EXPECT_TRUE(near(flipped[2], -100, -80, -20));
    // (-100, -80) lies on the plate's edge: half the pocket is inside.
    EXPECT_NEAR(part.volume(body), plateVolume - 6 * 160 - 80, 1e-6);
}

TEST(PatternRect, CountsAndTheInstanceLimit)
{
    TestPart part;
    const int body = block(part, 0, 0);
    const auto run = [&](const QJsonValue& count1, const QJsonValue& count2) {
        return part.run("pattern_rect",
                        with(bodies(body, false), {{"count1", count1}, {"count2", count2}}));
    };
    const QString tooMany = QStringLiteral("Zu viele Exemplare (max. 2000)");
    const QString single = QStringLiteral("Anzahl muss größer als 1 sein");
    EXPECT_EQ(run(1, 1), single);
    EXPECT_EQ(run(0, 1), single);
    EXPECT_EQ(run("-1e12", "-3"), single);
    EXPECT_EQ(run(50, 41), tooMany);
    EXPECT_EQ(run("1e12", 1), tooMany);
    // 2^40 × 2^40 overflows 64 bits unless the counts are held first.
    EXPECT_EQ(run("2^40", "2^40"), tooMany);
    EXPECT_EQ(run("2^31", "2^31"), tooMany);
    EXPECT_EQ(run(1, "1e300"), tooMany);
    EXPECT_EQ(part.state.bodies.size(), 1u);

    // count1 = 0 acts as 1; count2 spreads along Y.
    Feature* f = nullptr;
    ASSERT_EQ(
        part.run("pattern_rect", with(bodies(body, false), {{"count1", 0}, {"count2", 3}}), &f),
        QString());
    std::vector<gp_Pnt> centres = addedCentres(part, f);
    ASSERT_EQ(centres.size(), 2u);
    EXPECT_TRUE(near(centres[0], 0, 20, 1));
    EXPECT_TRUE(near(centres[1], 0, 40, 1));

    // Exactly at the limit: 1999 copies.
    ASSERT_EQ(run(50, 40), QString());
    EXPECT_EQ(part.state.bodies.size(), 1u + 2u + 1999u);
}

TEST(PatternRect, OverlappingCopiesStillCut)
{
    // Copies 2 mm apart overlap each pocket by half; each still removes its
    // own new material.
    TestPart part;
    const int body = plate(part);
    const int cut = pocket(part, 0, 0);
    ASSERT_EQ(part.run("pattern_rect", with(features({cut}), {{"count1", 3}, {"spacing1", 2}})),
              QString());
    EXPECT_NEAR(part.volume(body), plateVolume - 8 * 4 * 10, 1e-6);
    EXPECT_TRUE(boxIs(part.box(body), -100, -100, 0, 100, 100, 10));
}

TEST(PatternRect, NewBodyCopiesJoinTheirOriginal)
{
    TestPart part;
    Feature* source = nullptr;
    ASSERT_EQ(part.run("box", {{"length", 10}, {"width", 10}, {"height", 10}}, &source), QString());
    Feature* f = nullptr;
    ASSERT_EQ(part.run("pattern_rect", with(features({source->id}), {{"spacing1", 5}}), &f),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    const int body = source->id * 100;
    EXPECT_NEAR(part.volume(body), 20 * 10 * 10, 1e-6);
    EXPECT_TRUE(boxIs(part.box(body), -5, -5, 0, 15, 5, 10));
    EXPECT_EQ(countOf(part.state.bodies.at(body).shape, TopAbs_SOLID), 1);
    EXPECT_EQ(part.state.tools.at(f->id).op, QStringLiteral("join"));

    // A pattern can be patterned again: its own record is the copies' tool.
    ASSERT_EQ(part.run("pattern_rect",
                       with(features({f->id}), {{"count1", 1}, {"count2", 2}, {"spacing2", 10}})),
              QString());
    EXPECT_NEAR(part.volume(body), 20 * 10 * 10 + 15 * 10 * 10, 1e-6);
    EXPECT_TRUE(boxIs(part.box(body), -5, -5, 0, 15, 15, 10));
}

TEST(PatternRect, BodiesJoinedOrAdded)
{
    TestPart part;
    const int body = block(part, 0, 0);
    ASSERT_EQ(part.run("pattern_rect", with(bodies(body, true), {{"count1", 3}, {"spacing1", 5}})),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(body), 3 * 8, 1e-6);
    EXPECT_EQ(countOf(part.state.bodies.at(body).shape, TopAbs_SOLID), 3);
    EXPECT_TRUE(boxIs(part.box(body), -1, -1, 0, 11, 1, 2));

    // Picked twice, the body is still copied once.
    Feature* f = nullptr;
    QJsonObject twice = with(bodies(body, false), {{"count1", 2}, {"spacing1", 30}});
    twice["bodies"] = QJsonArray{body, QJsonObject{{"id", body}}};
    ASSERT_EQ(part.run("pattern_rect", twice, &f), QString());
    ASSERT_EQ(part.state.bodies.size(), 2u);
    EXPECT_EQ(part.state.bodies.at(f->id * 100).name, QStringLiteral("Körper 2"));
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 29, -1, 0, 41, 1, 2));
}

TEST(PatternCirc, SpacingOverFullAndPartialTurns)
{
    TestPart part;
    const int body = block(part, 50, 0);
    const auto angles = [&](const QJsonValue& count, const QString& angle) {
        Feature* f = nullptr;
        const QString error = part.run(
            "pattern_circ", with(bodies(body, false), {{"count", count}, {"angle", angle}}), &f);
        EXPECT_EQ(error, QString());
        std::vector<double> result;
        for (const gp_Pnt& c : addedCentres(part, f)) {
            EXPECT_NEAR(std::hypot(c.X(), c.Y()), 50, 1e-6);
            EXPECT_NEAR(c.Z(), 1, 1e-6);
            result.push_back(polarAngle(c));
        }
        return result;
    };
    // Compared round the circle, so that 180° and -180° agree.
    const auto expectAngles = [](const std::vector<double>& got, std::vector<double> want) {
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(std::remainder(got[i] - want[i], 360.0), 0, 1e-6) << i;
    };
    expectAngles(angles(6, "360 deg"), {60, 120, 180, 240, 300});
    expectAngles(angles(6, "180"), {36, 72, 108, 144, 180});
    expectAngles(angles(6, "-360 deg"), {-60, -120, -180, -240, -300});
    expectAngles(angles(2, "90"), {90});

    EXPECT_EQ(part.run("pattern_circ", with(bodies(body, false), {{"count", 1}})),
              QStringLiteral("Anzahl muss mindestens 2 sein"));
    EXPECT_EQ(part.run("pattern_circ", with(bodies(body, false), {{"count", "-1e12"}})),
              QStringLiteral("Anzahl muss mindestens 2 sein"));
    EXPECT_EQ(part.run("pattern_circ", with(bodies(body, false), {{"count", 2001}})),
              QStringLiteral("Zu viele Exemplare (max. 2000)"));
    EXPECT_EQ(part.run("pattern_circ", with(bodies(body, false), {{"count", "2^40"}})),
              QStringLiteral("Zu viele Exemplare (max. 2000)"));
}

TEST(PatternCirc, CutsAroundAnAxis)
{
    TestPart part;
    const int body = plate(part);
    const int cut = pocket(part, 60, 0);
    Feature* f = nullptr;
    ASSERT_EQ(part.run("pattern_circ", with(features({cut}), {{"count", 8}}), &f), QString());
    EXPECT_NEAR(part.volume(body), plateVolume - 8 * 160, 1e-6);
    const std::vector<gp_Pnt> copies = solidCentres(part.state.tools.at(f->id).shape);
    ASSERT_EQ(copies.size(), 7u);
    for (std::size_t k = 0; k < copies.size(); ++k) {
        const double a = double(k + 1) * 45.0 * pi / 180.0;
        EXPECT_TRUE(near(copies[k], 60 * std::cos(a), 60 * std::sin(a), 10)) << k;
    }
}

TEST(PatternPath, FitAndDistanceAlongAnOpenLine)
{
    TestPart part;
    const int line =
        part.sketch(gp_Ax3(), [](qor::sketch::Sketch& s) { s.addLineAt(false, 0, 0, 100, 0); });
    const int body = block(part, 0, 0);
    const auto xs = [&](const QJsonObject& params) {
        Feature* f = nullptr;
        EXPECT_EQ(part.run("pattern_path",
                           with(with(bodies(body, false), {{"path", TestPart::wholeSketch(line)}}),
                                params),
                           &f),
                  QString());
        std::vector<double> result;
        for (const gp_Pnt& c : addedCentres(part, f)) {
            EXPECT_NEAR(c.Y(), 0, 1e-6);
            result.push_back(c.X());
        }
        return result;
    };
    const auto expectXs = [](const std::vector<double>& got, std::vector<double> want) {
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], want[i], 1e-6) << i;
    };
    expectXs(xs({}), {25, 50, 75, 100});
    // From the far end backwards: the copies move by -25, -50, …
    expectXs(xs({{"flip", true}}), {-25, -50, -75, -100});
    expectXs(xs({{"spacing", "dist"}, {"distance", "10 mm"}, {"count", 3}}), {10, 20});
    // Copies that would lie past the end of the path are left out.
    expectXs(xs({{"spacing", "dist"}, {"distance", 30}}), {30, 60, 90});

    const QJsonObject base = with(bodies(body, false), {{"path", TestPart::wholeSketch(line)}});
    EXPECT_EQ(part.run("pattern_path", with(base, {{"spacing", "dist"}, {"distance", 150}})),
              QStringLiteral("Pfad zu kurz für die gewählte Anzahl und den Abstand"));
    EXPECT_EQ(part.run("pattern_path", with(base, {{"spacing", "dist"}, {"distance", 0}})),
              QStringLiteral("Abstand muss größer als 0 sein"));
    EXPECT_EQ(part.run("pattern_path", with(base, {{"count", 1}})),
              QStringLiteral("Anzahl muss mindestens 2 sein"));
    EXPECT_EQ(part.run("pattern_path", with(base, {{"count", 1001}})),
              QStringLiteral("Zu viele Exemplare (max. 1000)"));
    EXPECT_EQ(part.run("pattern_path", with(base, {{"count", "1e12"}})),
              QStringLiteral("Zu viele Exemplare (max. 1000)"));
    EXPECT_EQ(part.run("pattern_path", bodies(body, false)),
              QStringLiteral("Kein Pfad ausgewählt"));
    const int apart = part.sketch(gp_Ax3(), [](qor::sketch::Sketch& s) {
        s.addLineAt(false, 0, 0, 10, 0);
        s.addLineAt(false, 20, 0, 30, 0);
    });
    EXPECT_EQ(part.run("pattern_path",
                       with(bodies(body, false), {{"path", TestPart::wholeSketch(apart)}})),
              QStringLiteral("Der Pfad besteht aus mehreren getrennten Kurvenzügen"));
}

TEST(PatternPath, ClosedPathsAndOrientation)
{
    TestPart part;
    const int circle =
        part.sketch(gp_Ax3(), [](qor::sketch::Sketch& s) { s.addCircleAt(false, 0, 0, 50); });
    const QJsonObject path{{"path", TestPart::wholeSketch(circle)}};

    // Unturned copies are moved along chords: on a closed path the fit spacing
    // is L / n, so copy k lies k · 72° round and none returns to the start.
    const int offCentre = block(part, 0, 0);
    Feature* f = nullptr;
    ASSERT_EQ(part.run("pattern_path",
                       with(with(bodies(offCentre, false), path), {{"orient", false}}), &f),
              QString());
    std::vector<gp_Pnt> centres = addedCentres(part, f);
    ASSERT_EQ(centres.size(), 4u);
    std::vector<double> chords;
    for (const gp_Pnt& c : centres) {
        EXPECT_NEAR(c.Z(), 1, 1e-6);
        chords.push_back(std::hypot(c.X(), c.Y()));
    }
    const double shortChord = 100 * std::sin(36 * pi / 180);
    const double longChord = 100 * std::sin(72 * pi / 180);
    EXPECT_NEAR(chords[0], shortChord, 1e-6);
    EXPECT_NEAR(chords[1], longChord, 1e-6);
    EXPECT_NEAR(chords[2], longChord, 1e-6);
    EXPECT_NEAR(chords[3], shortChord, 1e-6);

    // Turned with the path, every copy turns about the circle's centre: a
    // body there stays there, and one 10 mm beside it goes round at 10 mm.
    const int beside = block(part, 10, 0);
    ASSERT_EQ(part.run("pattern_path", with(bodies(beside, false), path), &f), QString());
    centres = addedCentres(part, f);
    ASSERT_EQ(centres.size(), 4u);
    std::vector<double> angles;
    for (const gp_Pnt& c : centres) {
        EXPECT_NEAR(std::hypot(c.X(), c.Y()), 10, 1e-6);
        angles.push_back(std::fmod(polarAngle(c) + 360.0, 360.0));
    }
    std::sort(angles.begin(), angles.end());
    for (std::size_t k = 0; k < angles.size(); ++k)
        EXPECT_NEAR(angles[k], 72.0 * double(k + 1), 1e-6) << k;
}

TEST(PatternPath, OrientTurnsCopiesAlongAnArc)
{
    TestPart part;
    const int arc = part.sketch(
        gp_Ax3(), [](qor::sketch::Sketch& s) { s.addArcAt(false, 0, 0, 50, 0, 0, 50); });
    // A 2 x 2 block whose centre is 5 mm outside the arc's start.
    const int body = block(part, 55, 0);
    const QJsonObject base =
        with(bodies(body, false), {{"path", TestPart::wholeSketch(arc)}, {"count", 3}});
    const double r = std::sqrt(0.5);

    Feature* f = nullptr;
    ASSERT_EQ(part.run("pattern_path", base, &f), QString());
    std::vector<gp_Pnt> centres = addedCentres(part, f);
    ASSERT_EQ(centres.size(), 2u);
    EXPECT_TRUE(near(centres[0], 55 * r, 55 * r, 1));
    EXPECT_TRUE(near(centres[1], 0, 55, 1));

    ASSERT_EQ(part.run("pattern_path", with(base, {{"orient", false}}), &f), QString());
    centres = addedCentres(part, f);
    ASSERT_EQ(centres.size(), 2u);
    EXPECT_TRUE(near(centres[0], 5 + 50 * r, 50 * r, 1));
    EXPECT_TRUE(near(centres[1], 5, 50, 1));
    // Unturned, the copy keeps the original's box.
    EXPECT_TRUE(boxIs(part.box(f->id * 100 + 1), 4, 49, 0, 6, 51, 2));

    // From the other end the walk starts at (0, 50): the copies go back by the
    // same chords.
    ASSERT_EQ(part.run("pattern_path", with(base, {{"orient", false}, {"flip", true}}), &f),
              QString());
    centres = addedCentres(part, f);
    ASSERT_EQ(centres.size(), 2u);
    EXPECT_TRUE(near(centres[0], 55 + 50 * r, 50 * r - 50, 1));
    EXPECT_TRUE(near(centres[1], 105, -50, 1));
}

TEST(PatternCore, SourceFeaturesAndTheirRecords)
{
    TestPart part;
    const int body = plate(part);
    const int cut = pocket(part, 0, 0);

    EXPECT_EQ(part.run("pattern_rect", features({})),
              QStringLiteral("Features zum Vervielfältigen auswählen"));
    // The plane of a sketch leaves no tool; neither does an unknown id.
    const int sk =
        part.sketch(gp_Ax3(), [](qor::sketch::Sketch& s) { addOutline(s, 0, 0, 1, 1); });
    const QString noTool = QStringLiteral(
        "Feature liefert keinen Werkzeugkörper (nur Extrusion, Rotation, Bohrung …)");
    EXPECT_EQ(part.run("pattern_rect", features({sk})), noTool);
    EXPECT_EQ(part.run("pattern_rect", features({cut, 999})), noTool);

    // Plain integer ids work like reference objects.
    QJsonObject plain{{"source", "features"}, {"features", QJsonArray{cut}}};
    ASSERT_EQ(part.run("pattern_rect", plain), QString());
    EXPECT_NEAR(part.volume(body), plateVolume - 3 * 160, 1e-6);
}

TEST(PatternCore, DeletedTargetsAreDropped)
{
    // Two plates side by side; the pocket on their seam cuts both. Once the
    // left one is gone the pattern cuts the right one only, without failing.
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("box", {{"length", 100}, {"width", 100}, {"height", 10}, {"x", -50}}, &f),
              QString());
    const int left = f->id * 100;
    ASSERT_EQ(part.run("box", {{"length", 100}, {"width", 100}, {"height", 10}, {"x", 50}}, &f),
              QString());
    const int right = f->id * 100;
    const int cut = pocket(part, 0, -40);
    EXPECT_EQ(part.state.tools.at(cut).targets, (std::vector<int>{left, right}));
    EXPECT_NEAR(part.volume(right), 100000 - 80, 1e-6);

    part.state.bodies.erase(left);
    ASSERT_EQ(part.run("pattern_rect",
                       with(features({cut}), {{"count1", 1}, {"count2", 3}, {"spacing2", 20}}), &f),
              QString());
    EXPECT_TRUE(f->warning.isEmpty());
    EXPECT_EQ(part.state.bodies.size(), 1u);
    EXPECT_NEAR(part.volume(right), 100000 - 3 * 80, 1e-6);
    EXPECT_EQ(part.state.tools.at(f->id).targets, std::vector<int>{right});
}

TEST(PatternCore, WholeMultiSolidToolsAreRepeated)
{
    // An extruded cut of two circles records both cylinders as one tool; the
    // pattern repeats both at every copy.
    TestPart part;
    const int body = plate(part);
    const int sk = part.sketch(gp_Ax3(), [](qor::sketch::Sketch& s) {
        s.addCircleAt(false, -50, 0, 3);
        s.addCircleAt(false, -40, 0, 2);
    });
    Feature* cut = nullptr;
    ASSERT_EQ(part.run("extrude",
                       {{"profile", TestPart::wholeSketch(sk)}, {"extent", "all"}, {"op", "cut"}},
                       &cut),
              QString());
    const double pair = pi * (9 + 4) * 10;
    EXPECT_NEAR(part.volume(body), plateVolume - pair, 1e-6);
    ASSERT_EQ(part.run("pattern_rect", with(features({cut->id}), {{"count1", 1}, {"count2", 3}})),
              QString());
    EXPECT_NEAR(part.volume(body), plateVolume - 3 * pair, 1e-6);

    // A hole records its drill and thread groove together, touching and
    // overlapping: a drill of radius 3 and a ring of radius 3.5 over 2 mm of it.
    const TopoDS_Shape drill =
        BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 60, -1), gp::DZ()), 3, 12).Shape();
    const TopoDS_Shape groove =
        BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 60, 4), gp::DZ()), 3.5, 2).Shape();
    TopoDS_Compound hole;
    BRep_Builder builder;
    builder.MakeCompound(hole);
    builder.Add(hole, drill);
    builder.Add(hole, groove);
    const double before = part.volume(body);
    part.state.tools.at(cut->id) = ToolRecord{hole, "cut", {body}};
    part.state.threads.push_back(ThreadMark{gp_Pnt(0, 60, 10), gp_Dir(0, 0, -1), 7, 6, 1, 8, true,
                                            true, false, "M7", cut->id});
    Feature* f = nullptr;
    ASSERT_EQ(part.run("pattern_circ", with(features({cut->id}), {{"count", 4}}), &f), QString());
    const double holeVolume = pi * 9 * 10 + pi * (3.5 * 3.5 - 9) * 2;
    EXPECT_NEAR(part.volume(body), before - 3 * holeVolume, 1e-6);

    // The thread mark went round with the hole and belongs to the pattern.
    ASSERT_EQ(part.state.threads.size(), 4u);
    for (std::size_t k = 1; k < 4; ++k) {
        const ThreadMark& mark = part.state.threads[k];
        EXPECT_EQ(mark.featureId, f->id);
        EXPECT_EQ(mark.designation, QStringLiteral("M7"));
        EXPECT_TRUE(mark.direction.IsEqual(gp_Dir(0, 0, -1), 1e-12));
        const double a = double(k + 1) * pi / 2;
        EXPECT_TRUE(near(mark.position, 60 * std::cos(a), 60 * std::sin(a), 10));
    }
}

TEST(PatternCore, SaveLoadRecompute)
{
    Document doc;
    doc.parameters.push_back(Parameter{"n", "4"});
    doc.addFeature("box", {{"length", 200}, {"width", 200}, {"height", 10}});
    Feature* cut = doc.addFeature(
        "box", {{"length", 4}, {"width", 4}, {"height", 20}, {"x", 0}, {"y", -80}, {"op", "cut"}});
    doc.addFeature("pattern_rect", with(features({cut->id}), {{"count1", "n - 1"},
                                                              {"spacing1", "25 mm"},
                                                              {"count2", "2"},
                                                              {"spacing2", "n * 5 mm"}}));
    doc.addFeature("pattern_circ", with(features({cut->id}), {{"count", "n"}}));
    ASSERT_EQ(doc.recompute(), 0);
    const int plateId = doc.features.front()->id * 100;

    // Along the plate's front lower edge, whichever way it runs: copies 30 mm
    // to one side of the pocket.
    TopoDS_Shape front;
    for (TopExp_Explorer it(doc.current.bodies.at(plateId).shape, TopAbs_EDGE); it.More();
         it.Next()) {
        if (boxIs(TestPart::box(it.Current()), -100, -100, 0, 100, -100, 0))
            front = it.Current();
    }
    ASSERT_FALSE(front.IsNull());
    doc.addFeature("pattern_path",
                   with(features({cut->id}), {{"path", QJsonArray{edgeRef(plateId, front)}},
                                              {"spacing", "dist"},
                                              {"distance", "30 mm"},
                                              {"count", 3}}));
    ASSERT_EQ(doc.recompute(), 0);
    // 1 original + 5 rectangular + 3 circular + 2 path copies, all apart.
    const double expected = 200.0 * 200.0 * 10.0 - 11 * 160;
    EXPECT_NEAR(shapeVolume(doc.current.bodies.at(plateId).shape), expected, 1e-6);

    expectSameAfterReload(doc);

    // The counts follow the parameter.
    Document loaded = reloaded(doc);
    loaded.parameters.front().expr = "3";
    ASSERT_EQ(loaded.recompute(), 0);
    EXPECT_NEAR(shapeVolume(loaded.current.bodies.at(plateId).shape),
                200.0 * 200.0 * 10.0 - (1 + 3 + 2 + 2) * 160, 1e-6);
}
