#include "drawing/Projection.h"
#include "model/Document.h"
#include "tests/common/ShapeChecks.h"

#include <BRepPrimAPI_MakeCylinder.hxx>
#include <TopLoc_Location.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <numbers>

namespace {

using qor::app::Drawing;
using qor::app::LineKind;
using qor::app::ProjectedView;

constexpr int front = 0;
constexpr int top = 1;

// A 100 × 50 × 20 box centred on the z axis, standing on the xy plane.
TopoDS_Shape centredBox()
{
    return qor::test::box(100, 50, 20, gp_Pnt(-50, -25, 0));
}

std::array<double, 4> bounds(const ProjectedView& pv)
{
    return {pv.minX, pv.minY, pv.maxX, pv.maxY};
}

std::vector<const qor::app::ViewPrimitive*> ofKind(const ProjectedView& pv, LineKind kind)
{
    std::vector<const qor::app::ViewPrimitive*> result;
    for (const auto& prim : pv.primitives) {
        if (prim.kind == kind)
            result.push_back(&prim);
    }
    return result;
}

void expectBounds(const ProjectedView& pv, std::array<double, 4> expected)
{
    const auto actual = bounds(pv);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-6) << "bound " << i;
}

TEST(Projection, BoxBoundsPerViewExactAndPolygonal)
{
    struct Case {
        int kind;
        std::array<double, 4> bounds;
    };
    for (const bool exact : {true, false}) {
        for (const Case& c : {Case{front, {-50, 0, 50, 20}}, Case{top, {-50, -25, 50, 25}}}) {
            SCOPED_TRACE(testing::Message() << "kind " << c.kind << " exact " << exact);
            const ProjectedView pv = qor::app::projectView(centredBox(), c.kind, true, exact);
            expectBounds(pv, c.bounds);
            EXPECT_GE(ofKind(pv, LineKind::Visible).size(), 4u);
            EXPECT_TRUE(ofKind(pv, LineKind::Centre).empty());
        }
    }
}

TEST(Projection, CylinderHasOneCentreLineFromTheSideAndACrossEndOn)
{
    const TopoDS_Shape cylinder = BRepPrimAPI_MakeCylinder(10, 40).Shape();
    const ProjectedView side = qor::app::projectView(cylinder, front, true, true);
    const auto axis = ofKind(side, LineKind::Centre);
    ASSERT_EQ(axis.size(), 1u);
    // 40 mm long with an overhang of min(0.15 × 40, 3) at each end.
    EXPECT_NEAR(axis[0]->points.front().Distance(axis[0]->points.back()), 46.0, 1e-9);
    EXPECT_NEAR(axis[0]->points.front().X(), 0.0, 1e-9);

    const ProjectedView end = qor::app::projectView(cylinder, top, true, true);
    const auto cross = ofKind(end, LineKind::Centre);
    ASSERT_EQ(cross.size(), 2u);
    // Arm R + min(0.3 R + 1, 3) = 13 on each side of the centre.
    for (const auto* arm : cross)
        EXPECT_NEAR(arm->points.front().Distance(arm->points.back()), 26.0, 1e-9);
    ASSERT_EQ(end.circles.size(), 1u);
    EXPECT_NEAR(end.circles[0].radius, 10.0, 1e-9);
    expectBounds(end, {-10, -10, 10, 10});
}

TEST(Projection, CacheFollowsBodyChangesAndMovesOnly)
{
    qor::model::Document doc;
    doc.current.bodies[1] = qor::model::Body{.id = 1, .shape = centredBox()};
    Drawing sheet;
    const Drawing::View view{.id = 1, .type = top};
    qor::app::ProjectionCache cache;
    const ProjectedView* first = &cache.projectedView(doc, sheet, view);
    expectBounds(*first, {-50, -25, 50, 25});
    // Unchanged model: the same entry, no new projection.
    EXPECT_EQ(&cache.projectedView(doc, sheet, view), first);

    const auto move = [&](const gp_Trsf& trsf) {
        doc.current.bodies[1].shape = centredBox().Moved(TopLoc_Location(trsf));
    };
    gp_Trsf rotation;
    rotation.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), std::numbers::pi / 2);
    move(rotation);
    expectBounds(cache.projectedView(doc, sheet, view), {-25, -50, 25, 50});

    // tx + 3 ty + 7 tz = 0 is a move like any other.
    gp_Trsf shift;
    shift.SetTranslation(gp_Vec(3, -1, 0));
    move(shift);
    expectBounds(cache.projectedView(doc, sheet, view), {-47, -26, 53, 24});

    doc.current.bodies[1].shape = qor::test::box(10, 10, 10);
    expectBounds(cache.projectedView(doc, sheet, view), {0, 0, 10, 10});

    doc.hidden[1] = true;
    expectBounds(cache.projectedView(doc, sheet, view), {0, 0, 0, 0});
    EXPECT_EQ(cache.size(), 1u);
}

TEST(Projection, SheetMappingSurvivesUnsetScaleAndMultiplier)
{
    ProjectedView pv;
    pv.minX = -50;
    pv.maxX = 50;
    pv.minY = 0;
    pv.maxY = 20;
    struct Case {
        double scale, mul, factor;
    };
    for (const Case& c : {Case{2, 1, 2}, Case{0, 1, 1}, Case{2, -3, 2}, Case{0, 0, 1}}) {
        Drawing sheet;
        sheet.scale = c.scale;
        const Drawing::View view{.x = 200, .y = 100, .mul = c.mul};
        EXPECT_DOUBLE_EQ(qor::app::viewFactor(sheet, view), c.factor);
        const QPointF corner = qor::app::viewToSheet(sheet, view, pv, 50, 20);
        EXPECT_DOUBLE_EQ(corner.x(), 200 + 50 * c.factor);
        const QPointF back = qor::app::sheetToView(sheet, view, pv, corner.x(), corner.y());
        EXPECT_DOUBLE_EQ(back.x(), 50);
        EXPECT_DOUBLE_EQ(back.y(), 20);
    }
}

} // namespace
