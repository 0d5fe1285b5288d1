#include "model/Document.h"
#include "model/SketchVisibility.h"
#include "view/Picking.h"
#include "view/Previews.h"
#include "view/Scene.h"

#include <BRepBndLib.hxx>
#include <BRepPrimAPI_MakeBox.hxx>

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::app;

TEST(ThreadHelix, SegmentCountCappedAndTurnDirection)
{
    qor::model::ThreadMark thread{gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1), 10.0, 8.0, 1.0, 0.2};
    EXPECT_EQ(threadHelixPoints(thread).size(), 9u); // 0.2 turns still get 8 segments
    thread.length = 10.0;
    EXPECT_EQ(threadHelixPoints(thread).size(), 361u);
    thread.length = 1e6;
    EXPECT_EQ(threadHelixPoints(thread).size(), 20001u);

    thread.length = 0.25;
    const gp_Pnt right = threadHelixPoints(thread).back();
    EXPECT_NEAR(right.Distance(gp_Pnt(0, 5.01, 0.25)), 0.0, 1e-9); // quarter turn from +X
    thread.leftHand = true;
    thread.internal = true;
    EXPECT_NEAR(threadHelixPoints(thread).back().Distance(gp_Pnt(0, -3.99, 0.25)), 0.0, 1e-9);

    for (auto broken : {&qor::model::ThreadMark::pitch, &qor::model::ThreadMark::length}) {
        qor::model::ThreadMark bad = thread;
        bad.*broken = 0.0;
        EXPECT_TRUE(threadHelixPoints(bad).empty());
    }
    thread.modelled = true;
    EXPECT_TRUE(threadHelixPoints(thread).empty());
}

TEST(SelectionMask, ModesPickableKindsAndRebuilds)
{
    EXPECT_EQ(bodySelectionModes(mask::standard), (std::vector<int>{4, 2}));
    EXPECT_EQ(bodySelectionModes(15), (std::vector<int>{4, 2, 1, 0}));
    EXPECT_TRUE(bodySelectionModes(0).empty());
    // A sketch line can stand in for an axis: curves are pickable under the axis bit.
    EXPECT_TRUE(kindPickable(10, mask::axes));
    EXPECT_TRUE(kindPickable(10, mask::curves));
    EXPECT_FALSE(kindPickable(10, mask::planes | mask::points));
    EXPECT_TRUE(kindPickable(7, mask::planes));
    EXPECT_FALSE(kindPickable(9, mask::standard));
    EXPECT_FALSE(kindPickable(4, 511));
    EXPECT_TRUE(maskChangeNeedsRebuild(51, 7));
    EXPECT_FALSE(maskChangeNeedsRebuild(7, 15));
    EXPECT_TRUE(maskChangeNeedsRebuild(0, mask::points));
}

namespace {

Bnd_Box boxAround(double x, double y, double z)
{
    Bnd_Box box;
    BRepBndLib::Add(BRepPrimAPI_MakeBox(gp_Pnt(x - 5, y - 5, z - 5), 10, 10, 10).Shape(), box);
    return box;
}

} // namespace

TEST(Explode, OffsetsScaleWithTheFactor)
{
    EXPECT_EQ(componentOfBody(10101), -1);
    EXPECT_EQ(componentOfBody(100000000), 0);
    EXPECT_EQ(componentOfBody(100003999), 3);

    // Centres at x = 0 and x = 100: the assembly centre is x = 50.
    const std::map<int, Bnd_Box> two{{0, boxAround(0, 0, 0)}, {4, boxAround(100, 0, 0)}};
    const auto doubled = explodeOffsets(two, 1.0);
    EXPECT_NEAR(doubled.at(0).X(), -50.0, 1e-6);
    EXPECT_NEAR(doubled.at(4).X(), 50.0, 1e-6);
    EXPECT_NEAR(explodeOffsets(two, 0.5).at(4).Magnitude(), 25.0, 1e-6);
    for (const auto& [component, offset] : explodeOffsets(two, 0.0))
        EXPECT_EQ(offset.Magnitude(), 0.0);

    const std::map<int, Bnd_Box> single{{2, boxAround(30, 40, 50)}};
    EXPECT_NEAR(explodeOffsets(single, 2.0).at(2).Magnitude(), 0.0, 1e-9);
    const std::map<int, Bnd_Box> withVoid{{0, boxAround(0, 0, 0)}, {1, Bnd_Box()}};
    EXPECT_EQ(explodeOffsets(withVoid, 1.0).at(1).Magnitude(), 0.0);
}

TEST(SketchRefs, CollectedFromNestedParameters)
{
    const QJsonObject params{
        {"profile", QJsonArray{QJsonObject{{"kind", "region"}, {"sketch", 4}},
                               QJsonObject{{"kind", "sketch"}, {"id", 7}}}},
        {"path", QJsonObject{{"kind", "sketchline"}, {"sketch", 9}, {"id", 2}}},
        {"plane", QJsonObject{{"kind", "face"}, {"body", 101}}},
        {"id", 12}};
    std::set<int> ids;
    qor::model::collectSketchRefs(params, ids);
    EXPECT_EQ(ids, (std::set<int>{4, 7, 9}));
}
