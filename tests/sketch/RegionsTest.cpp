#include "sketch/Plane.h"
#include "sketch/Regions.h"

#include "tests/common/Planes.h"
#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using qor::sketch::ProfileRegion;
using qor::sketch::Sketch;
using qor::sketch::Vec2;
using qor::sketch::buildRegions;
using qor::sketch::faceContainsPoint;
using namespace qor::test;

namespace {

constexpr double pi = 3.14159265358979323846;

// Every region's interior point lies inside its own face and the face on the plane.
void expectConsistent(const std::vector<ProfileRegion>& regions, const gp_Ax3& plane)
{
    for (const ProfileRegion& r : regions) {
        EXPECT_TRUE(faceContainsPoint(r.face, plane, r.interior.x, r.interior.y));
        EXPECT_NEAR(r.area, areaOf(r.face), 1e-9 * std::max(1.0, r.area));
        GProp_GProps props;
        BRepGProp::SurfaceProperties(r.face, props);
        const gp_Vec offset(plane.Location(), props.CentreOfMass());
        EXPECT_NEAR(offset.Dot(gp_Vec(plane.Direction())), 0.0, 1e-7);
    }
}

const ProfileRegion* regionWithArea(const std::vector<ProfileRegion>& regions, double area)
{
    for (const ProfileRegion& r : regions) {
        if (std::fabs(r.area - area) < 1e-6 * area)
            return &r;
    }
    return nullptr;
}

} // namespace

TEST(ProfileRegions, NothingEnclosedGivesNoRegions)
{
    Sketch points;
    points.addPoint(false, 0, 0);
    EXPECT_TRUE(buildRegions(points, xyPlane()).empty());

    Sketch construction;
    construction.addCircleAt(true, 0, 0, 10);
    construction.addLineAt(true, -20, 0, 20, 0);
    EXPECT_TRUE(buildRegions(construction, xyPlane()).empty());

    Sketch line;
    line.addLineAt(false, 0, 0, 10, 3);
    EXPECT_TRUE(buildRegions(line, tiltedPlane()).empty());

    Sketch polyline;
    polyline.addLineAt(false, 0, 0, 10, 0);
    polyline.addLineAt(false, 10, 0, 10, 10);
    polyline.addLineAt(false, 10, 10, 0, 10);
    EXPECT_TRUE(buildRegions(polyline, tiltedPlane()).empty());
}

TEST(ProfileRegions, SingleCircleIsOneDisc)
{
    for (const gp_Ax3& plane : allPlanes()) {
        Sketch s;
        s.addCircleAt(false, 3, -4, 10);
        const auto regions = buildRegions(s, plane);
        ASSERT_EQ(regions.size(), 1u);
        EXPECT_NEAR(regions[0].area, 100 * pi, 1e-6);
        EXPECT_TRUE(regions[0].outer);
        EXPECT_LT((regions[0].interior - Vec2{3, -4}).length(), 10.0);
        expectConsistent(regions, plane);
    }
}

TEST(ProfileRegions, RectangleWithHoleGivesRingAndDisc)
{
    for (const gp_Ax3& plane : allPlanes()) {
        Sketch s;
        addOutline(s, 0, 0, 40, 30);
        s.addCircleAt(false, 20, 15, 8);
        const auto regions = buildRegions(s, plane);
        ASSERT_EQ(regions.size(), 2u);
        const ProfileRegion* ring = regionWithArea(regions, 1200 - 64 * pi);
        const ProfileRegion* disc = regionWithArea(regions, 64 * pi);
        ASSERT_TRUE(ring);
        ASSERT_TRUE(disc);
        EXPECT_TRUE(ring->outer);
        EXPECT_FALSE(disc->outer);
        EXPECT_GT((ring->interior - Vec2{20, 15}).length(), 8.0);
        EXPECT_LT((disc->interior - Vec2{20, 15}).length(), 8.0);
        // The ring has the disc as a hole: the disc's point is not inside it.
        EXPECT_FALSE(faceContainsPoint(ring->face, plane, 20, 15));
        expectConsistent(regions, plane);
    }
}

TEST(ProfileRegions, OverlappingCirclesGiveThreeRegions)
{
    const double r = 10;
    const double d = 10;
    const double lens = 2 * r * r * std::acos(d / (2 * r)) - d / 2 * std::sqrt(4 * r * r - d * d);
    for (const gp_Ax3& plane : allPlanes()) {
        Sketch s;
        s.addCircleAt(false, 0, 0, r);
        s.addCircleAt(false, d, 0, r);
        const auto regions = buildRegions(s, plane);
        ASSERT_EQ(regions.size(), 3u);
        int outer = 0;
        for (const ProfileRegion& region : regions) {
            if (region.outer) {
                ++outer;
                EXPECT_NEAR(region.area, pi * r * r - lens, 1e-6);
            } else {
                EXPECT_NEAR(region.area, lens, 1e-6);
                EXPECT_NEAR(region.interior.x, d / 2, d / 2);
            }
        }
        EXPECT_EQ(outer, 2);
        expectConsistent(regions, plane);
    }
}

TEST(ProfileRegions, ArcsBoundRegionsCounterClockwise)
{
    // Half disc above the u axis: arc from (10, 0) to (-10, 0), closed by a line.
    for (const gp_Ax3& plane : allPlanes()) {
        Sketch s;
        s.addArcAt(false, 0, 0, 10, 0, -10, 0);
        s.addLineAt(false, -10, 0, 10, 0);
        const auto regions = buildRegions(s, plane);
        ASSERT_EQ(regions.size(), 1u);
        EXPECT_NEAR(regions[0].area, 50 * pi, 1e-6);
        EXPECT_GT(regions[0].interior.y, 0.0);
        EXPECT_TRUE(regions[0].outer);
        expectConsistent(regions, plane);
    }

    // A slot of two half circles and two lines.
    Sketch slot;
    slot.addLineAt(false, 0, -5, 20, -5);
    slot.addArcAt(false, 20, 0, 20, -5, 20, 5);
    slot.addLineAt(false, 20, 5, 0, 5);
    slot.addArcAt(false, 0, 0, 0, 5, 0, -5);
    const auto regions = buildRegions(slot, leftHandedPlane());
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_NEAR(regions[0].area, 200 + 25 * pi, 1e-6);
    EXPECT_TRUE(regions[0].outer);
}

TEST(ProfileRegions, StrayLineFlipsParity)
{
    Sketch s;
    addOutline(s, 0, 0, 10, 10);
    s.addLineAt(false, 20, -5, 20, 15);
    const auto regions = buildRegions(s, tiltedPlane());
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_NEAR(regions[0].area, 100, 1e-6);
    EXPECT_FALSE(regions[0].outer);

    // A construction line takes no part.
    Sketch c;
    addOutline(c, 0, 0, 10, 10);
    c.addLineAt(true, 20, -5, 20, 15);
    const auto plain = buildRegions(c, tiltedPlane());
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_TRUE(plain[0].outer);
}

TEST(ProfileRegions, NonFiniteCurvesNeitherHangNorThrow)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    Sketch s;
    s.addCircleAt(false, 0, 0, 5);
    const auto arc = s.addArcAt(false, 0, 0, 3, 0, 0, 3);
    s.setPointPosition(s.endPoint(int(arc)), nan, nan);
    const auto arc2 = s.addArcAt(false, 0, 0, 3, 0, 0, 3);
    s.setPointPosition(s.startPoint(int(arc2)), inf, 0);
    s.addLineAt(false, nan, 0, 1, inf);

    std::vector<ProfileRegion> regions;
    EXPECT_NO_THROW(regions = buildRegions(s, xyPlane()));
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_NEAR(regions[0].area, 25 * pi, 1e-6);
    EXPECT_TRUE(regions[0].outer);

    Sketch huge;
    huge.addCircleAt(false, 0, 0, 1e300);
    huge.addCircleAt(false, 1e300, 0, 1e-3);
    huge.addLineAt(false, -1e300, -1e300, 1e300, 1e300);
    EXPECT_NO_THROW(buildRegions(huge, tiltedPlane()));
}

TEST(ProfileRegions, FuseRegions)
{
    EXPECT_TRUE(qor::sketch::fuseRegions({}).IsNull());

    Sketch s;
    addOutline(s, 0, 0, 20, 10);
    s.addLineAt(false, 10, 0, 10, 10);
    const auto regions = buildRegions(s, tiltedPlane());
    ASSERT_EQ(regions.size(), 2u);

    const TopoDS_Shape single = qor::sketch::fuseRegions({regions[0].face});
    EXPECT_TRUE(single.IsEqual(regions[0].face));

    const TopoDS_Shape fused = qor::sketch::fuseRegions({regions[0].face, regions[1].face});
    ASSERT_FALSE(fused.IsNull());
    EXPECT_EQ(countOf(fused, TopAbs_FACE), 1);
    EXPECT_NEAR(areaOf(fused), 200, 1e-6);

    // Disc and ring of a holed rectangle fuse back into the full rectangle.
    Sketch holed;
    addOutline(holed, 0, 0, 40, 30);
    holed.addCircleAt(false, 20, 15, 8);
    const auto parts = buildRegions(holed, leftHandedPlane());
    ASSERT_EQ(parts.size(), 2u);
    const TopoDS_Shape whole = qor::sketch::fuseRegions({parts[0].face, parts[1].face});
    EXPECT_EQ(countOf(whole, TopAbs_FACE), 1);
    EXPECT_NEAR(areaOf(whole), 1200, 1e-6);
}

TEST(ProfileRegions, GridOfCircles)
{
    // 20 x 10 separate circles, then the same grid with neighbours overlapping.
    for (const double spacing : {25.0, 15.0}) {
        Sketch s;
        for (int i = 0; i < 20; ++i) {
            for (int j = 0; j < 10; ++j)
                s.addCircleAt(false, i * spacing, j * spacing, 10);
        }
        const auto regions = buildRegions(s, tiltedPlane());
        if (spacing > 20) {
            ASSERT_EQ(regions.size(), 200u);
            for (const ProfileRegion& r : regions) {
                EXPECT_NEAR(r.area, 100 * pi, 1e-6);
                EXPECT_TRUE(r.outer);
            }
        } else {
            // Each circle overlaps its four neighbours in a lens; the middle of each
            // inner cell is a small hole bounded by four arcs.
            const double lens = 200 * std::acos(0.75) - 7.5 * std::sqrt(175.0);
            const double hole = 225 - 100 * pi + 2 * lens;
            const int pairs = 19 * 10 + 20 * 9;
            const int cells = 19 * 9;
            ASSERT_EQ(regions.size(), std::size_t(200 + pairs + cells));
            double total = 0;
            int outer = 0;
            for (const ProfileRegion& r : regions) {
                total += r.area;
                outer += r.outer ? 1 : 0;
            }
            EXPECT_EQ(outer, 200);
            EXPECT_NEAR(total, 200 * 100 * pi - pairs * lens + cells * hole, 1e-4);
        }
        expectConsistent(regions, tiltedPlane());
    }
}
