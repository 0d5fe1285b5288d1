#include "sketch/Regions.h"
#include "sketch/Plane.h"
#include "sketch/SimpleLoops.h"

#include "tests/common/Planes.h"
#include "tests/common/ShapeChecks.h"

#include <BRepCheck_Analyzer.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

using qor::sketch::buildRegions;
using qor::sketch::faceContainsPoint;
using qor::sketch::ProfileRegion;
using qor::sketch::Sketch;
using namespace qor::test;

namespace {

constexpr double pi = std::numbers::pi;

// Every region's interior point lies inside its own face, its area is the face's
// and the face lies on the plane.
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

// (area, outer) of every region, smallest first.
std::vector<std::pair<double, bool>> summary(const std::vector<ProfileRegion>& regions)
{
    std::vector<std::pair<double, bool>> out;
    for (const ProfileRegion& r : regions)
        out.emplace_back(r.area, r.outer);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(ProfileRegions, AreasAndParityOnEveryPlane)
{
    const double lens = 200 * std::acos(0.5) - 5 * std::sqrt(300.0); // two r = 10, d = 10
    struct Case {
        const char* name;
        std::function<void(Sketch&)> draw;
        std::vector<std::pair<double, bool>> regions;
        bool holeAtCentre = false; // the outer region leaves out (20, 15)
    };
    const Case cases[] = {
        {"points, construction, open polyline",
         [](Sketch& s) {
             s.addPoint(false, 0, 0);
             s.addCircleAt(true, 0, 0, 10);
             s.addLineAt(false, 0, 0, 10, 0);
             s.addLineAt(false, 10, 0, 10, 10);
             s.addLineAt(false, 10, 10, 0, 10);
         },
         {}},
        {"circle", [](Sketch& s) { s.addCircleAt(false, 3, -4, 10); }, {{100 * pi, true}}},
        {"rectangle with hole",
         [](Sketch& s) {
             addOutline(s, 0, 0, 40, 30);
             s.addCircleAt(false, 20, 15, 8);
         },
         {{64 * pi, false}, {1200 - 64 * pi, true}},
         true},
        {"overlapping circles",
         [](Sketch& s) {
             s.addCircleAt(false, 0, 0, 10);
             s.addCircleAt(false, 10, 0, 10);
         },
         {{lens, false}, {100 * pi - lens, true}, {100 * pi - lens, true}}},
        {"half disc",
         [](Sketch& s) {
             s.addArcAt(false, 0, 0, 10, 0, -10, 0);
             s.addLineAt(false, -10, 0, 10, 0);
         },
         {{50 * pi, true}}},
        {"slot",
         [](Sketch& s) {
             s.addLineAt(false, 0, -5, 20, -5);
             s.addArcAt(false, 20, 0, 20, -5, 20, 5);
             s.addLineAt(false, 20, 5, 0, 5);
             s.addArcAt(false, 0, 0, 0, 5, 0, -5);
         },
         {{200 + 25 * pi, true}}},
        {"stray line flips parity",
         [](Sketch& s) {
             addOutline(s, 0, 0, 10, 10);
             s.addLineAt(false, 20, -5, 20, 15);
         },
         {{100, false}}},
        {"construction line takes no part",
         [](Sketch& s) {
             addOutline(s, 0, 0, 10, 10);
             s.addLineAt(true, 20, -5, 20, 15);
         },
         {{100, true}}},
    };
    for (const gp_Ax3& plane : allPlanes()) {
        for (const Case& k : cases) {
            SCOPED_TRACE(k.name);
            Sketch s;
            k.draw(s);
            const auto regions = buildRegions(s, plane);
            const auto got = summary(regions);
            ASSERT_EQ(got.size(), k.regions.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_NEAR(got[i].first, k.regions[i].first, 1e-6) << i;
                EXPECT_EQ(got[i].second, k.regions[i].second) << i;
            }
            expectConsistent(regions, plane);
            for (const ProfileRegion& r : regions)
                if (k.holeAtCentre && r.outer)
                    EXPECT_FALSE(faceContainsPoint(r.face, plane, 20, 15));
        }
    }
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

    Sketch halves;
    addOutline(halves, 0, 0, 20, 10);
    halves.addLineAt(false, 10, 0, 10, 10);
    const auto regions = buildRegions(halves, tiltedPlane());
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_TRUE(qor::sketch::fuseRegions({regions[0].face}).IsEqual(regions[0].face));
    const TopoDS_Shape fused = qor::sketch::fuseRegions({regions[0].face, regions[1].face});
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

TEST(ProfileRegions, GridOfOverlappingCircles)
{
    // 20 x 10 circles, each overlapping its four neighbours in a lens; the middle of
    // each inner cell is a small hole bounded by four arcs.
    Sketch s;
    for (int i = 0; i < 20; ++i)
        for (int j = 0; j < 10; ++j)
            s.addCircleAt(false, i * 15.0, j * 15.0, 10);
    const auto regions = buildRegions(s, tiltedPlane());
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
    expectConsistent(regions, tiltedPlane());
}

namespace {

// A polygon about (cx, cy) with radii in [r1, r2]: simple whatever the radii,
// since the angles only grow. Drawn with shared end points or with
// points of its own per line, either way round.
void starPolygon(Sketch& s, std::mt19937& random, double cx, double cy, double r1, double r2)
{
    // Gaps between the angles stay below a third of a turn, so every side keeps
    // more than half of r1 from the centre, room for the next level inside.
    const int n = std::uniform_int_distribution<int>(6, 24)(random);
    std::vector<double> angles;
    for (int k = 0; k < n; ++k)
        angles.push_back(2 * pi * (k + std::uniform_real_distribution<double>(0.2, 0.8)(random))
                         / n);
    if (random() % 2)
        std::reverse(angles.begin(), angles.end());
    std::vector<qor::sketch::Vec2> points;
    for (const double a : angles) {
        const double r = std::uniform_real_distribution<double>(r1, r2)(random);
        points.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    if (random() % 2) {
        std::vector<int> ids;
        for (const auto& p : points)
            ids.push_back(int(s.addPoint(false, p.x, p.y)));
        for (int k = 0; k < n; ++k)
            s.addLine(ids[std::size_t(k)], ids[std::size_t((k + 1) % n)], false);
    } else {
        for (int k = 0; k < n; ++k) {
            const auto& a = points[std::size_t(k)];
            const auto& b = points[std::size_t((k + 1) % n)];
            s.addLineAt(false, a.x, a.y, b.x, b.y);
        }
    }
}

// Loops nested up to three deep, side by side: polygons and circles.
Sketch randomLoops(std::mt19937& random)
{
    Sketch s;
    const int groups = std::uniform_int_distribution<int>(1, 3)(random);
    for (int g = 0; g < groups; ++g) {
        const double cx = 150.0 * g;
        const double cy = std::uniform_real_distribution<double>(-20, 20)(random);
        const int depth = std::uniform_int_distribution<int>(1, 3)(random);
        const double radii[][2] = {{40, 50}, {15, 25}, {4, 8}};
        for (int level = 0; level < depth; ++level) {
            if (random() % 3 == 0)
                s.addCircleAt(false, cx, cy, radii[level][1] * 0.9);
            else
                starPolygon(s, random, cx, cy, radii[level][0], radii[level][1]);
        }
        // A construction line across everything changes nothing.
        if (random() % 4 == 0)
            s.addLineAt(true, cx - 60, cy, cx + 60, cy);
    }
    return s;
}

std::vector<double> sortedAreas(const std::vector<TopoDS_Face>& faces)
{
    std::vector<double> areas;
    for (const TopoDS_Face& f : faces)
        areas.push_back(areaOf(f));
    std::sort(areas.begin(), areas.end());
    return areas;
}

} // namespace

// Simple loops made faces directly give the faces the kernel's splitter gives:
// as many, of the same areas, sound, on every plane.
TEST(ProfileRegions, SimpleLoopsGiveWhatTheSplitterGives)
{
    std::mt19937 random(1108);
    const std::vector<gp_Ax3> planes = allPlanes();
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        const Sketch s = randomLoops(random);
        const gp_Ax3& plane = planes[std::size_t(round) % planes.size()];
        const std::optional<std::vector<TopoDS_Face>> direct
            = qor::sketch::simpleLoopFaces(s, plane);
        ASSERT_TRUE(direct);
        const std::vector<TopoDS_Face> split = qor::sketch::splitCurveFaces(s, plane);
        ASSERT_EQ(direct->size(), split.size());
        const std::vector<double> a = sortedAreas(*direct);
        const std::vector<double> b = sortedAreas(split);
        for (std::size_t k = 0; k < a.size(); ++k)
            EXPECT_NEAR(a[k], b[k], 1e-7 * b[k]);
        for (const TopoDS_Face& f : *direct)
            EXPECT_TRUE(BRepCheck_Analyzer(f).IsValid());
        const std::vector<ProfileRegion> regions = buildRegions(s, plane);
        EXPECT_EQ(regions.size(), split.size());
        expectConsistent(regions, plane);
    }
}

// Curves that are not simple loops take the general path, which still finds
// their regions.
TEST(ProfileRegions, OtherCurvesTakeTheGeneralPath)
{
    const struct {
        const char* name;
        std::function<void(Sketch&)> draw;
        std::size_t regions;
    } cases[] = {
        {"crossing lines",
         [](Sketch& s) {
             s.addLineAt(false, 0, 0, 10, 10);
             s.addLineAt(false, 10, 10, 10, 0);
             s.addLineAt(false, 10, 0, 0, 10);
             s.addLineAt(false, 0, 10, 0, 0);
         },
         2},
        {"three lines at a corner",
         [](Sketch& s) {
             addOutline(s, 0, 0, 10, 10);
             s.addLineAt(false, 0, 0, 10, 10);
         },
         2},
        {"an arc",
         [](Sketch& s) {
             s.addLineAt(false, -5, 0, 5, 0);
             s.addArcAt(false, 0, 0, 5, 0, -5, 0);
         },
         1},
        {"squares sharing a side",
         [](Sketch& s) {
             addOutline(s, 0, 0, 10, 10);
             addOutline(s, 10, 0, 20, 10);
         },
         2},
        {"ends that nearly meet",
         [](Sketch& s) {
             s.addLineAt(false, 0, 0, 10, 0);
             s.addLineAt(false, 10, 0, 10, 10);
             s.addLineAt(false, 10, 10, 0, 10);
             s.addLineAt(false, 0, 10, 0, 5e-7);
         },
         1},
        {"a circle touching a line",
         [](Sketch& s) {
             addOutline(s, 0, 0, 10, 10);
             s.addCircleAt(false, 5, 5, 5);
         },
         5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sketch s;
        c.draw(s);
        EXPECT_FALSE(qor::sketch::simpleLoopFaces(s, xyPlane()));
        EXPECT_EQ(buildRegions(s, xyPlane()).size(), c.regions);
    }
}

// A single loop longer than the bound is refused with a reason; as many lines
// in small loops are made directly.
TEST(ProfileRegions, LargeSketchesAreBoundedOrMadeDirectly)
{
    const auto polygon = [](Sketch& s, int n, double r, double cx) {
        for (int k = 0; k < n; ++k) {
            const double a = 2 * pi * k / n;
            const double b = 2 * pi * (k + 1) / n;
            s.addLineAt(false, cx + r * std::cos(a), r * std::sin(a), cx + r * std::cos(b),
                        r * std::sin(b));
        }
    };
    Sketch big;
    polygon(big, 33334, 500, 0);
    EXPECT_TRUE(buildRegions(big, xyPlane()).empty());
    EXPECT_EQ(qor::sketch::regionsRefusal(big, xyPlane()),
              "Skizze zu groß für Profilbereiche: 33334 Kurven (höchstens 4000, außer in "
              "getrennten geschlossenen Konturen aus je höchstens 4000 Linien)");

    Sketch within;
    polygon(within, 3334, 500, 0);
    const std::vector<ProfileRegion> one = buildRegions(within, xyPlane());
    ASSERT_EQ(one.size(), 1u);
    EXPECT_NEAR(one[0].area, 0.5 * 3334 * 500 * 500 * std::sin(2 * pi / 3334), 1e-6);
    EXPECT_TRUE(qor::sketch::regionsRefusal(within, xyPlane()).isEmpty());

    Sketch many;
    for (int k = 0; k < 1200; ++k)
        polygon(many, 4, 1, 3.0 * k);
    const std::vector<ProfileRegion> small = buildRegions(many, xyPlane());
    EXPECT_EQ(small.size(), 1200u);
    for (const ProfileRegion& r : small)
        EXPECT_NEAR(r.area, 2.0, 1e-9);
}
