#include "TestPart.h"

#include "sketch/Plane.h"

#include <BRepPrimAPI_MakeBox.hxx>

#include <gtest/gtest.h>

using namespace qor::model;

namespace {

const QString notReaching = QStringLiteral(
    "Rippe nicht möglich – die Linie muss mit beiden Enden an den Körper heranreichen");

// The outline of an L of two 10 mm legs, 40 mm long on X and Y, with its inside
// corner at (10, 10).
void drawL(qor::sketch::Sketch& s)
{
    s.addLineAt(false, 0, 0, 40, 0);
    s.addLineAt(false, 40, 0, 40, 10);
    s.addLineAt(false, 40, 10, 10, 10);
    s.addLineAt(false, 10, 10, 10, 40);
    s.addLineAt(false, 10, 40, 0, 40);
    s.addLineAt(false, 0, 40, 0, 0);
}

// The L extruded 20 mm up; returns the body id.
int lBody(TestPart& part)
{
    const int sk = part.sketch(gp_Ax3(), drawL);
    return part.body("extrude",
                     {{"profile", TestPart::wholeSketch(sk)}, {"distance", "20"}, {"op", "new"}});
}

// A sketch on the plane half way up the L.
int midSketch(TestPart& part, const std::function<void(qor::sketch::Sketch&)>& draw)
{
    return part.sketch(gp_Ax3(gp_Pnt(0, 0, 10), gp::DZ(), gp::DX()), draw);
}

// A line across the inside corner from leg to leg.
int diagonal(TestPart& part)
{
    return midSketch(part, [](qor::sketch::Sketch& s) { s.addLineAt(false, 30, 10, 10, 30); });
}

QJsonObject rib(int sketchId, const QJsonValue& thickness)
{
    return {{"sketch", QJsonObject{{"kind", "sketch"}, {"id", sketchId}}},
            {"thickness", thickness}};
}

bool inside(const TopoDS_Shape& shape, double x, double y, double z)
{
    return TestPart::inside(shape, gp_Pnt(x, y, z));
}

} // namespace

TEST(Rib, FillsTheCornerUpToTheLine)
{
    TestPart part;
    const int body = lBody(part);
    ASSERT_NEAR(part.volume(body), 700.0 * 20.0, 1e-6);
    const int line = diagonal(part);

    // The triangle between line and corner has area 200.
    ASSERT_EQ(part.run("rib", rib(line, "3 mm")), QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    const TopoDS_Shape& ribbed = part.state.bodies.at(body).shape;
    EXPECT_NEAR(part.volume(body), 14000.0 + 3.0 * 200.0, 1e-6);
    EXPECT_EQ(countOf(ribbed, TopAbs_SOLID), 1);
    EXPECT_TRUE(extentIs(part.shape(body), {0, 0, 0, 40, 40, 20}));

    // Centred on the sketch plane, up to the line and no further.
    EXPECT_TRUE(inside(ribbed, 15, 15, 8.6));
    EXPECT_TRUE(inside(ribbed, 19.9, 19.9, 11.4));
    EXPECT_FALSE(inside(ribbed, 15, 15, 8.4));
    EXPECT_FALSE(inside(ribbed, 15, 15, 11.6));
    EXPECT_FALSE(inside(ribbed, 20.1, 20.1, 10));

    // The line drawn the other way round and a thin web: the probe beside the
    // line stays inside a web of 0.1 mm.
    TestPart other;
    const int otherBody = lBody(other);
    const int reversed
        = midSketch(other, [](qor::sketch::Sketch& s) { s.addLineAt(false, 10, 30, 30, 10); });
    ASSERT_EQ(other.run("rib", rib(reversed, 0.1)), QString());
    EXPECT_NEAR(other.volume(otherBody), 14000.0 + 0.1 * 200.0, 1e-6);
}

TEST(Rib, LinesThatDoNotCloseOffFail)
{
    TestPart part;
    const int body = lBody(part);
    // Runs past the end of the X leg: below it the web would run off for ever.
    const int overshoot
        = midSketch(part, [](qor::sketch::Sketch& s) { s.addLineAt(false, 10, 30, 50, 10); });
    EXPECT_EQ(part.run("rib", rib(overshoot, 3)), notReaching);
    // Touches nothing.
    const int floating
        = midSketch(part, [](qor::sketch::Sketch& s) { s.addLineAt(false, 20, 20, 30, 30); });
    EXPECT_EQ(part.run("rib", rib(floating, 3)), notReaching);
    EXPECT_NEAR(part.volume(body), 14000.0, 1e-6);

    // Lines are done one by one: a good first line keeps its rib when the second
    // fails.
    const int mixed = midSketch(part, [](qor::sketch::Sketch& s) {
        s.addLineAt(false, 30, 10, 10, 30);
        s.addLineAt(false, 20, 20 + 20, 30, 30 + 20);
    });
    EXPECT_EQ(part.run("rib", rib(mixed, 3)), notReaching);
    EXPECT_NEAR(part.volume(body), 14000.0 + 600.0, 1e-6);
}

TEST(Rib, ChoosesTheBody)
{
    TestPart part;
    // A block far off first, then the L: without targets the L takes the rib.
    const int far = part.sketch(gp_Ax3(gp_Pnt(200, 0, 0), gp::DZ(), gp::DX()),
                                [](qor::sketch::Sketch& s) { addOutline(s, 0, 0, 5, 5); });
    const int block = part.body(
        "extrude", {{"profile", TestPart::wholeSketch(far)}, {"distance", "5"}, {"op", "new"}});
    const int body = lBody(part);
    ASSERT_LT(block, body);
    const int line = diagonal(part);

    QJsonObject onBlock = rib(line, 3);
    onBlock["targets"] = QJsonArray{block};
    EXPECT_EQ(part.run("rib", onBlock), notReaching);

    ASSERT_EQ(part.run("rib", rib(line, 3)), QString());
    EXPECT_NEAR(part.volume(block), 125.0, 1e-6);
    EXPECT_NEAR(part.volume(body), 14600.0, 1e-6);

    QJsonObject onL = rib(line, 1);
    onL["targets"] = QJsonArray{QJsonObject{{"id", body}}};
    TestPart again;
    const int alone = lBody(again);
    const int againLine = diagonal(again);
    onL["sketch"] = QJsonObject{{"id", againLine}};
    ASSERT_EQ(again.run("rib", onL), QString());
    EXPECT_NEAR(again.volume(alone), 14200.0, 1e-6);
}

TEST(Rib, BadInputs)
{
    TestPart part;
    const int line = diagonal(part);
    EXPECT_EQ(part.run("rib", rib(line, 3)),
              QStringLiteral("Kein Körper vorhanden, an den die Rippe anschließen kann"));

    const int body = lBody(part);
    const QString noSketch
        = QStringLiteral("Skizze mit dem Rippenverlauf (offene Linie) auswählen");
    const QString noLines = QStringLiteral("Die Skizze enthält keine Linien");
    const auto drawn = [&](const std::function<void(qor::sketch::Sketch&)>& draw) {
        return rib(midSketch(part, draw), 3);
    };
    const std::vector<std::pair<QJsonObject, QString>> cases = {
        {{{"thickness", 3}}, noSketch},
        {rib(line + 50, 3), noSketch},
        {rib(line, 0), "Dicke muss größer als 0 sein"},
        {rib(line, "-1 mm"), "Dicke muss größer als 0 sein"},
        // The arc comes first, so no rib is written before the failure.
        {drawn([](auto& s) {
             s.addArcAt(false, 10, 10, 15, 10, 10, 15);
             s.addLineAt(false, 30, 10, 10, 30);
         }),
         "Rippen bestehen aus geraden Linien"},
        {drawn([](auto& s) { s.addLineAt(false, 20, 20, 20 + 5e-7, 20); }), noLines},
        {drawn([](auto&) {}), noLines},
        // Construction lines are no rib lines.
        {drawn([](auto& s) { s.addLineAt(true, 30, 10, 10, 30); }), noLines},
    };
    for (const auto& [params, error] : cases)
        EXPECT_EQ(part.run("rib", params), error);
    EXPECT_NEAR(part.volume(body), 14000.0, 1e-6);
}

// A body whose join no way gives right leaves the rib to the next body that
// closes the web off. The first body here holds the L and, as a second solid
// of the same compound, a block inside the L's corner far from the rib: the
// kernel never intersects the solids of one compound with each other, so any
// join onto that body keeps two solids sharing material. Alone, that body
// refuses the rib in German with the reason.
TEST(Rib, BodyThatRefusesTheJoinLeavesItToTheNext)
{
    TestPart part;
    const int extruded = lBody(part);
    const TopoDS_Shape l = part.shape(extruded);
    part.state.bodies.erase(extruded);
    const TopoDS_Shape inner = BRepPrimAPI_MakeBox(gp_Pnt(35, 0, 0), 5, 10, 5).Shape();
    const TopoDS_Shape overlapping = qor::compoundOf({l, inner});
    const int blocks = part.addBody(overlapping);
    const int body = part.addBody(l);
    ASSERT_LT(blocks, body);
    const int line = diagonal(part);

    QJsonObject onlyBlocks = rib(line, "3 mm");
    onlyBlocks["targets"] = QJsonArray{blocks};
    const QString refusal = part.run("rib", onlyBlocks);
    EXPECT_EQ(refusal, QStringLiteral("Rippe fehlgeschlagen: das Ergebnis bestünde aus Körpern, "
                                      "die einander durchdringen"));
    EXPECT_TRUE(part.shape(blocks).IsSame(overlapping));

    ASSERT_EQ(part.run("rib", rib(line, "3 mm")), QString());
    EXPECT_NEAR(part.volume(body), 14000.0 + 3.0 * 200.0, 1e-6);
    EXPECT_TRUE(inside(part.shape(body), 15, 15, 10));
    EXPECT_EQ(countOf(part.shape(body), TopAbs_SOLID), 1);
    EXPECT_TRUE(part.shape(blocks).IsSame(overlapping));
}
