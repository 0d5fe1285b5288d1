#include "GrooveExpectation.h"
#include "TestPart.h"

#include "features/BodyEditing.h"
#include "features/ThreadGeometry.h"
#include "model/ShapeSignature.h"
#include "tests/common/CpuTime.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;

namespace {

using std::numbers::pi;

int circleSketch(TestPart& part, double diameter, double u = 0)
{
    return part.sketch(gp_Ax3(),
                       [&](qor::sketch::Sketch& s) { s.addCircleAt(false, u, 0, diameter / 2); });
}

// A shaft standing on XY; returns its body id.
int shaft(TestPart& part, double diameter, double length, double u = 0)
{
    Feature* f = nullptr;
    const int sk = circleSketch(part, diameter, u);
    EXPECT_EQ(part.run("extrude",
                       {{"profile", TestPart::wholeSketch(sk)},
                        {"distance", QString::number(length)},
                        {"op", "new"}},
                       &f),
              QString());
    return f->id * 100;
}

// A 40 x 40 x 10 plate on XY with a bore through it; returns the plate's body id.
int boredPlate(TestPart& part, double diameter)
{
    Feature* f = nullptr;
    EXPECT_EQ(part.run("box", {{"length", "40"}, {"width", "40"}, {"height", "10"}}, &f),
              QString());
    const int sk = circleSketch(part, diameter);
    EXPECT_EQ(part.run("extrude",
                       {{"profile", TestPart::wholeSketch(sk)}, {"distance", "10"}, {"op", "cut"}}),
              QString());
    return f->id * 100;
}

QJsonObject cylinderFace(const TestPart& part, int body)
{
    const TopoDS_Shape& shape = part.state.bodies.at(body).shape;
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
        if (BRepAdaptor_Surface(TopoDS::Face(it.Current())).GetType() == GeomAbs_Cylinder)
            return faceRef(body, it.Current());
    }
    ADD_FAILURE() << "no cylindrical face";
    return {};
}

QJsonObject thread(QJsonArray faces, QJsonObject params = {})
{
    params["faces"] = faces;
    return params;
}

// The mark of a thread on the one cylindrical face of the body.
ThreadMark markOn(TestPart& part, int body, QJsonObject params = {})
{
    const QString error = part.run("thread", thread({cylinderFace(part, body)}, params));
    EXPECT_EQ(error, QString());
    return part.state.threads.empty() ? ThreadMark() : part.state.threads.back();
}

} // namespace

TEST(ThreadGroove, SweptSolidHasTheScrewedSectionsVolume)
{
    const gp_Ax3 frame(gp_Pnt(1, 2, 3), gp_Dir(0, 0, -1), gp_Dir(1, 0, 0));
    // Internal M6: section base 0.55 · 2 · tan 30° wide at radius 2.45, apex at 3;
    // the screwed triangle sweeps turns · 2π · centroid radius · area.
    const double width = 2 * 0.55 * std::tan(pi / 6);
    const double perTurn = 2 * pi * (2 * 2.45 + 3) / 3 * (0.5 * width * 0.55);
    for (const bool leftHand : {false, true}) {
        const TopoDS_Shape groove = sweepThreadSection(frame, leftHand, 2.45, 3, 1, 4.5);
        EXPECT_TRUE(BRepCheck_Analyzer(groove).IsValid());
        EXPECT_EQ(countOf(groove, TopAbs_SOLID), 1);
        EXPECT_NEAR(signedVolume(groove), 4.5 * perTurn, 1e-4 * perTurn);
        // Half a section above the start, the height and half a section below.
        EXPECT_TRUE(extentIs(groove, {-2, -1, 3 - 4.5 - width / 2, 4, 5, 3 + width / 2}, 0.02));
    }
    EXPECT_NEAR(grooveVolume(2.45, 3, 1, 4.5, 0, 10), 4.5 * perTurn, 1e-12);
    EXPECT_NEAR(grooveVolume(2.45, 3, 1, 4.5, 3, 2.45), 4.5 * perTurn, 1e-12);
    EXPECT_NEAR(grooveVolume(2.45, 3, 1, 1, 2.5, 3), grooveInSlab(2.45, 3, 1, 1, 2.5, 3, -10, 10),
                1e-4);
    EXPECT_EQ(grooveVolume(2.45, 3, 1, 1, 3, 4), 0.0);

    // An external groove (base outside, apex inside) with a coarse pitch capping
    // the section width at 0.98 pitch.
    const TopoDS_Shape outer = sweepThreadSection(gp_Ax3(), false, 6.05, 4.0, 1.75, 7);
    EXPECT_NEAR(signedVolume(outer), grooveVolume(6.05, 4.0, 1.75, 7, 0, 10), 1e-3);
    EXPECT_NEAR(grooveVolume(6.05, 4.0, 1.75, 7, 0, 10),
                4 * 2 * pi * (2 * 6.05 + 4.0) / 3 * (0.5 * 0.98 * 1.75 * 2.05), 1e-9);

    // Nothing to sweep, and a budget that is used up, fail in German and at once.
    const QString failed = "Gewindegang konnte nicht erzeugt werden";
    EXPECT_EQ(errorOf([&] { sweepThreadSection(frame, false, 2.45, 3, 0, 4); }), failed);
    EXPECT_EQ(errorOf([&] { sweepThreadSection(frame, false, 3, 3, 1, 4); }), failed);
    EXPECT_EQ(errorOf([&] { sweepThreadSection(frame, false, 2.45, 3, 1, -1); }), failed);
    const double started = qor::test::cpuSeconds();
    EXPECT_EQ(errorOf([&] { sweepThreadSection(frame, false, 2.45, 3, 1, 500, 0.05); }), failed);
    EXPECT_LT(qor::test::cpuSeconds() - started, 5.0);
}

TEST(ThreadGroove, BooleansGiveUpAfterTheirBudget)
{
    TopTools_ListOfShape a;
    a.Append(BRepPrimAPI_MakeBox(10, 10, 10).Shape());
    TopTools_ListOfShape b;
    b.Append(BRepPrimAPI_MakeBox(gp_Pnt(5, 5, 5), 10, 10, 10).Shape());
    BRepAlgoAPI_Fuse inTime;
    inTime.SetArguments(a);
    inTime.SetTools(b);
    EXPECT_TRUE(buildWithin(inTime, 10.0));
    EXPECT_NEAR(shapeVolume(inTime.Shape()), 2000 - 125, 1e-6);
    BRepAlgoAPI_Fuse late;
    late.SetArguments(a);
    late.SetTools(b);
    EXPECT_FALSE(buildWithin(late, 0.0));
}

TEST(Thread, SizeLengthAndHandOfTheMark)
{
    TestPart part;
    const int m12 = shaft(part, 12, 20);
    const int near12 = shaft(part, 11.8, 20, 30);
    TestPart bored;
    const int tapped12 = boredPlate(bored, 10.2);
    TestPart smaller;
    const int tapped10 = boredPlate(smaller, 8.5);
    TestPart short5;
    const int tapped6 = boredPlate(short5, 5);
    struct Case {
        const char* name;
        TestPart& part;
        int body;
        QJsonObject params;
        const char* designation;
        double length;
    };
    const std::vector<Case> cases = {
        // A shaft takes the first of the three 12 mm rows; near sizes round to it.
        {"shaft", part, m12, {}, "M12 – 20 tief", 20},
        {"near size", part, near12, {}, "M12 – 20 tief", 20},
        // Bores compare tap drills: 10.2 is M12, 8.5 is M10.
        {"bore M12", bored, tapped12, {}, "M12 – durchgehend", 10},
        {"bore M10", smaller, tapped10, {}, "M10 – durchgehend", 10},
        {"shorter", part, m12, {{"extent", "dist"}, {"length", "8 mm"}}, "M12 – 8 tief", 8},
        {"longer than the face",
         part,
         m12,
         {{"extent", "dist"}, {"length", "35"}},
         "M12 – 20 tief",
         20},
        {"left hand", part, m12, {{"leftHand", true}}, "M12-LH – 20 tief", 20},
        // An internal thread shorter than its bore is no through thread.
        {"short inside",
         short5,
         tapped6,
         {{"extent", "dist"}, {"length", "5.5"}},
         "M6 – 5,5 tief",
         5.5},
        // A chosen size is taken as it is.
        {"chosen size", part, near12, {{"size", "M12x1.5"}}, "M12x1,5 – 20 tief", 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ThreadMark m = markOn(c.part, c.body, c.params);
        EXPECT_EQ(m.designation, c.designation);
        EXPECT_NEAR(m.length, c.length, 1e-9);
        EXPECT_EQ(m.internal, &c.part != &part);
        EXPECT_FALSE(m.modelled);
    }
    const ThreadMark inner = bored.state.threads.back();
    EXPECT_NEAR(inner.minorDiameter, 10.2, 1e-9);
    const ThreadMark outer = part.state.threads.front();
    EXPECT_NEAR(outer.minorDiameter, 12 - 1.2269 * 1.75, 1e-12);
    EXPECT_DOUBLE_EQ(outer.pitch, 1.75);

    // The thread starts at one end of the face and runs to the other; flipped
    // it starts at the other end.
    const double startZ = outer.position.Z();
    EXPECT_TRUE(std::abs(startZ) < 1e-9 || std::abs(startZ - 20) < 1e-9) << startZ;
    EXPECT_TRUE(outer.position.IsEqual(gp_Pnt(0, 0, startZ), 1e-9));
    EXPECT_NEAR(outer.direction.Z(), startZ < 10 ? 1 : -1, 1e-12);
    const ThreadMark flipped = markOn(part, m12, {{"flip", true}});
    EXPECT_NEAR(flipped.position.Z(), 20 - startZ, 1e-9);
    EXPECT_NEAR(flipped.direction.Z(), -outer.direction.Z(), 1e-12);
}

TEST(Thread, CosmeticThreadsOnlyLeaveMarks)
{
    TestPart part;
    const int a = shaft(part, 6, 10);
    const int b = shaft(part, 8, 10, 20);
    const double va = part.volume(a);
    Feature* f = nullptr;
    ASSERT_EQ(part.run("thread", thread({cylinderFace(part, a), cylinderFace(part, b)}), &f),
              QString());
    EXPECT_NEAR(part.volume(a), va, 1e-9);
    ASSERT_EQ(part.state.threads.size(), 2u);
    EXPECT_EQ(part.state.threads[0].designation, "M6 – 10 tief");
    EXPECT_EQ(part.state.threads[1].designation, "M8 – 10 tief");
    EXPECT_EQ(part.state.threads[1].featureId, f->id);
    EXPECT_EQ(part.state.tools.count(f->id), 0u);
}

TEST(Thread, ModelledInternalThreadCutsItsGroove)
{
    TestPart part;
    const int body = boredPlate(part, 5);
    const double before = part.volume(body);
    Feature* f = nullptr;
    ASSERT_EQ(part.run("thread", thread({cylinderFace(part, body)}, {{"model", "modeled"}}), &f),
              QString());
    // The same groove as in a modelled M6 hole: base 2.45, apex 3, from one pitch
    // before the plate to its far face, in material from the bore's 2.5 outwards.
    const double groove = grooveInSlab(2.45, 3.0, 1.0, 11.0, 2.5, 3.0, 0.0, 10.0);
    EXPECT_NEAR(before - part.volume(body), groove, 2e-3 * groove);
    EXPECT_TRUE(BRepCheck_Analyzer(part.shape(body)).IsValid());
    EXPECT_TRUE(part.state.threads.back().modelled);
    const ToolRecord& record = part.state.tools.at(f->id);
    EXPECT_EQ(record.targets, std::vector<int>{body});
    EXPECT_EQ(countOf(record.shape, TopAbs_SOLID), 1);

    // A size whose groove would stay inside the bore threads nothing: refused.
    TestPart wide;
    const int plate = boredPlate(wide, 10);
    EXPECT_EQ(wide.run("thread",
                       thread({cylinderFace(wide, plate)}, {{"size", "M3"}, {"model", "modeled"}})),
              "Gewindegröße passt nicht zum Durchmesser der Fläche");
}

TEST(Thread, ModelledExternalThreadsGroupedPerBody)
{
    // Two shafts, each its own body: each groove goes into its own shaft.
    TestPart part;
    const int a = shaft(part, 6, 8);
    const int b = shaft(part, 6.2, 8, 20);
    const double va = part.volume(a);
    const double vb = part.volume(b);
    Feature* f = nullptr;
    ASSERT_EQ(part.run("thread",
                       thread({cylinderFace(part, a), cylinderFace(part, b)},
                              {{"model", "modeled"}, {"leftHand", true}}),
                       &f),
              QString());
    // M6: base just outside the wider of face and nominal diameter, apex
    // 0.6134 pitch inside the nominal radius, over the 8 mm shaft.
    const double apex = 3 - 0.6134;
    const double grooveA = grooveInSlab(3.05, apex, 1, 9, apex, 3.0, 0, 8);
    const double grooveB = grooveInSlab(3.15, apex, 1, 9, apex, 3.1, 0, 8);
    EXPECT_NEAR(va - part.volume(a), grooveA, 2e-3 * grooveA);
    EXPECT_NEAR(vb - part.volume(b), grooveB, 2e-3 * grooveB);
    const ToolRecord& record = part.state.tools.at(f->id);
    EXPECT_EQ(record.targets, (std::vector<int>{a, b}));
    EXPECT_EQ(countOf(record.shape, TopAbs_SOLID), 2);
    EXPECT_TRUE(part.state.threads[0].leftHand && part.state.threads[0].modelled);
}

TEST(Thread, BadInputFailsInGerman)
{
    TestPart part;
    const int body = shaft(part, 12, 20);
    const int big = shaft(part, 50, 5, 100);
    const int between = shaft(part, 7.3, 5, 60);
    const QJsonArray side{cylinderFace(part, body)};
    const std::vector<std::pair<QJsonObject, QString>> cases = {
        {{}, "Zylinderfläche(n) für das Gewinde auswählen"},
        {thread({part.faceAt(body, gp_Pnt(0, 0, 20))}), "Gewinde nur auf zylindrischen Flächen"},
        {thread(side, {{"size", "M7"}}), "Unbekannte Gewindegröße"},
        {thread(side, {{"size", "m12"}}), "Unbekannte Gewindegröße"},
        {thread(side, {{"extent", "dist"}, {"length", "0"}}),
         "Gewindelänge muss größer als 0 sein"},
        // Too far from every row: the diameter is named with a decimal comma.
        {thread({cylinderFace(part, big)}),
         "Kein Normgewinde für ⌀50 mm – Größe im Feld „Gewinde“ wählen"},
        {thread({cylinderFace(part, between)}, {{"size", ""}}),
         "Kein Normgewinde für ⌀7,3 mm – Größe im Feld „Gewinde“ wählen"},
    };
    for (const auto& [params, error] : cases)
        EXPECT_EQ(part.run("thread", params), error);
    EXPECT_TRUE(part.state.threads.empty());
}
