#include "model/ExecContext.h"
#include "tests/common/Seeds.h"

#include <BRepAlgoAPI_Fuse.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS_Compound.hxx>

#include <QJsonArray>

#include "tests/common/CpuTime.h"
#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace qor::model;
using namespace qor::test;

namespace {

const QString outOfRange = QStringLiteral("Körpernummer außerhalb des zulässigen Bereichs");

struct Fixture {
    Document doc;
    Feature feature;
    ModelState state;
    ExecContext ctx{doc, feature, state};

    explicit Fixture(QJsonObject params = {}, int id = 12)
    {
        feature.id = id;
        feature.type = QStringLiteral("box");
        feature.params = std::move(params);
    }
};

} // namespace

TEST(ExecContext, NumbersFromJsonAndExpressions)
{
    Fixture f({{"blank", "  12.5 \t"},
               {"empty", ""},
               {"json", 3},
               {"flag", true},
               {"expr", "2 * w + 1 cm"},
               {"deg", "90 deg"},
               {"half", "2.5"},
               {"minusHalf", "-2.5"},
               {"typo", "2 * unbekannt"}});
    f.doc.parameters.push_back({QStringLiteral("w"), QStringLiteral("4 mm")});
    f.doc.evaluateParameters();

    EXPECT_DOUBLE_EQ(f.ctx.number("blank"), 12.5);
    EXPECT_DOUBLE_EQ(f.ctx.number("empty"), 0.0);
    EXPECT_DOUBLE_EQ(f.ctx.number("missing"), 0.0);
    EXPECT_DOUBLE_EQ(f.ctx.number("json"), 3.0);
    EXPECT_DOUBLE_EQ(f.ctx.number("flag"), 0.0);
    EXPECT_DOUBLE_EQ(f.ctx.number("expr"), 18.0);
    EXPECT_DOUBLE_EQ(f.ctx.angle("deg"), 90.0);
    EXPECT_EQ(f.ctx.integer("half"), 3);
    EXPECT_EQ(f.ctx.integer("minusHalf"), -3);

    // The key, a colon and the evaluator's own message.
    QString evaluatorMessage;
    ASSERT_FALSE(f.doc.tryEval(QStringLiteral("2 * unbekannt"), &evaluatorMessage).ok);
    ASSERT_FALSE(evaluatorMessage.isEmpty());
    EXPECT_EQ(errorOf([&] { f.ctx.number("typo"); }), "typo: " + evaluatorMessage);
    EXPECT_EQ(errorOf([&] { f.ctx.angle("typo"); }), "typo: " + evaluatorMessage);
    EXPECT_EQ(errorOf([&] { f.ctx.integer("typo"); }), "typo: " + evaluatorMessage);
}

TEST(ExecContext, NonFiniteAndOutOfRangeNumbersAreErrors)
{
    Fixture f({{"zero", "5 % 0"},
               {"huge", "10^400"},
               {"big", "3e9"},
               {"low", "-3e9"},
               {"edge", "2147483647"}});
    EXPECT_EQ(errorOf([&] { f.ctx.number("zero"); }), "zero: Ergebnis ist keine endliche Zahl");
    EXPECT_EQ(errorOf([&] { f.ctx.angle("huge"); }), "huge: Ergebnis ist keine endliche Zahl");
    EXPECT_EQ(errorOf([&] { f.ctx.integer("huge"); }), "huge: Ergebnis ist keine endliche Zahl");
    EXPECT_EQ(errorOf([&] { f.ctx.integer("big"); }),
              "big: Zahl außerhalb des zulässigen Bereichs");
    EXPECT_EQ(errorOf([&] { f.ctx.integer("low"); }),
              "low: Zahl außerhalb des zulässigen Bereichs");
    EXPECT_EQ(f.ctx.integer("edge"), 2147483647);
    EXPECT_DOUBLE_EQ(f.ctx.number("big"), 3e9);
}

TEST(ExecContext, TypedParametersFallBackOnWrongTypes)
{
    Fixture f({{"on", true},
               {"textTrue", "true"},
               {"name", "Platte"},
               {"number", 5},
               {"list", QJsonArray{1, 2}},
               {"object", QJsonObject{{"id", 1}}}});
    EXPECT_TRUE(f.ctx.boolParam("on"));
    EXPECT_FALSE(f.ctx.boolParam("textTrue"));
    EXPECT_EQ(f.ctx.stringParam("name"), "Platte");
    EXPECT_TRUE(f.ctx.stringParam("number").isEmpty());
    EXPECT_EQ(f.ctx.arrayParam("list"), QJsonArray({1, 2}));
    EXPECT_TRUE(f.ctx.arrayParam("object").isEmpty());
}

TEST(ExecContext, NewBodiesTakeFeatureIdsAndCounterNames)
{
    Fixture f;
    f.state.bodyCounter = 4;
    const TopoDS_Shape cube = box(10, 10, 10);
    EXPECT_EQ(addNewBody(f.ctx, cube), 1200);
    EXPECT_EQ(addNewBody(f.ctx, cube), 1201);
    EXPECT_EQ(f.state.bodies.at(1201).name, "Körper 6");
    EXPECT_EQ(f.state.bodies.at(1201).featureId, 12);

    // A name of its own leaves the counter alone.
    const int named = addNewBody(f.ctx, cube, QStringLiteral("Deckel"));
    EXPECT_EQ(f.state.bodies.at(named).name, "Deckel");
    EXPECT_EQ(f.state.bodyCounter, 6);

    // The smallest free id comes back; empty shapes are accepted.
    f.state.bodies.erase(1200);
    EXPECT_EQ(addNewBody(f.ctx, TopoDS_Shape()), 1200);
    EXPECT_EQ(f.state.bodies.at(1200).name, "Körper 7");

    // Ids go past k = 99 rather than into the next feature's range.
    for (int k = 0; k < 100; ++k)
        addNewBody(f.ctx, cube);
    EXPECT_EQ(f.state.bodies.size(), 103u);
    EXPECT_EQ(f.state.bodies.rbegin()->first, 1302);
}

// Bodies added in thousands, mixed with bodies taken away anywhere (by booleans) and with
// bodies of other features standing in the range: every new body gets the smallest free id
// from the feature's first on.
TEST(ExecContext, NewBodyIdsAreTheSmallestFreeOnesAmongRemovals)
{
    Fixture f;
    std::mt19937 random(qor::test::seed(57));
    for (const int other : {1205, 1230, 1231, 1500, 2000})
        f.state.bodies[other] = Body{};
    const auto smallestFree = [&f] {
        int id = 1200;
        while (f.state.bodies.count(id))
            ++id;
        return id;
    };
    for (int step = 0; step < 3000; ++step) {
        if (random() % 4 == 0 && !f.state.bodies.empty()) {
            auto it = f.state.bodies.get().begin();
            std::advance(it, random() % f.state.bodies.size());
            f.state.bodies.erase(it->first);
            continue;
        }
        const int expected = smallestFree();
        ASSERT_EQ(addNewBody(f.ctx, TopoDS_Shape()), expected) << step;
    }
    ASSERT_GT(f.state.bodies.size(), 1000u);

    // The 46,656 bodies of a file placing one part that often, in a second of processor
    // time rather than a search through all before for each.
    Fixture many({}, 13);
    const double before = qor::test::cpuSeconds();
    for (int i = 0; i < 46656; ++i)
        ASSERT_EQ(addNewBody(many.ctx, TopoDS_Shape(), QStringLiteral("Teil")), 1300 + i);
    EXPECT_LT(qor::test::cpuSeconds() - before, 2.0);
}

TEST(ExecContext, BodyIdsBeyondTheIntegerRangeAreErrors)
{
    // Feature ids come from the file; a damaged one must not wrap the body ids.
    const TopoDS_Shape cube = box(10, 10, 10);
    Fixture largest({}, 21474836);
    EXPECT_EQ(addNewBody(largest.ctx, cube), 2147483600);
    for (long long id = 2147483601; id <= 2147483647; ++id)
        largest.state.bodies[int(id)] = Body{};
    const int counter = largest.state.bodyCounter;
    EXPECT_EQ(errorOf([&] { addNewBody(largest.ctx, cube); }), outOfRange);
    EXPECT_EQ(largest.state.bodyCounter, counter);

    for (const int id : {30000000, -30000000}) {
        Fixture f({}, id);
        EXPECT_EQ(errorOf([&] { addNewBody(f.ctx, cube); }), outOfRange) << id;
        EXPECT_TRUE(f.state.bodies.empty());
        EXPECT_EQ(f.state.bodyCounter, 0);
    }
}

TEST(ExecContext, SetBodyReplacesOnlyTheShape)
{
    Fixture f;
    const int id = addNewBody(f.ctx, box(10, 10, 10), QStringLiteral("Block"));
    EXPECT_EQ(errorOf([&] { f.ctx.setBody(999, box(1, 1, 1)); }), "Körper existiert nicht mehr");
    TopoDS_Compound empty;
    BRep_Builder().MakeCompound(empty);
    for (const TopoDS_Shape& nothing : {TopoDS_Shape(empty), TopoDS_Shape()})
        EXPECT_EQ(errorOf([&] { f.ctx.setBody(id, nothing); }), "Das Ergebnis wäre leer");
    EXPECT_NEAR(shapeVolume(f.state.bodies.at(id).shape), 1000.0, 1e-6);

    f.feature.id = 30; // another feature changing the body
    f.ctx.setBody(id, box(10, 10, 20));
    const Body& body = f.state.bodies.at(id);
    EXPECT_NEAR(shapeVolume(body.shape), 2000.0, 1e-6);
    EXPECT_EQ(body.name, "Block");
    EXPECT_EQ(body.featureId, 12);
}

TEST(ExecContext, MeasuresAndCleanUp)
{
    EXPECT_NEAR(shapeVolume(box(10, 20, 30).Reversed()), 6000.0, 1e-6);
    EXPECT_EQ(shapeVolume(TopoDS_Shape()), 0.0);

    Fixture f;
    addNewBody(f.ctx, TopoDS_Shape());
    EXPECT_EQ(throughAllDistance(f.state, gp_Pnt(5, 5, 5)), 1000.0);
    addNewBody(f.ctx, box(10, 10, 10));
    addNewBody(f.ctx, box(10, 10, 10, gp_Pnt(100, 0, 0)));
    EXPECT_NEAR(throughAllDistance(f.state, gp_Pnt(0, 0, 0)), 2 * std::sqrt(12300.0) + 10, 1e-3);

    // Two boxes side by side fuse into one with split faces; the clean-up
    // merges them into the six faces of one block.
    BRepAlgoAPI_Fuse fuse(box(10, 10, 10), box(10, 10, 10, gp_Pnt(10, 0, 0)));
    ASSERT_GT(countOf(fuse.Shape(), TopAbs_FACE), 6);
    const TopoDS_Shape clean = unifySameDomain(fuse.Shape());
    EXPECT_EQ(countOf(clean, TopAbs_FACE), 6);
    EXPECT_NEAR(shapeVolume(clean), 2000.0, 1e-6);
    EXPECT_TRUE(unifySameDomain(TopoDS_Shape()).IsNull());
}
