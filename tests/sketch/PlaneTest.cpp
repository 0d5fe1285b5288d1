#include "sketch/Plane.h"

#include "tests/common/Planes.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRep_Tool.hxx>
#include <GCPnts_AbscissaPoint.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <vector>

using qor::sketch::entityToEdge;
using qor::sketch::Sketch;
using qor::sketch::toPlane;
using qor::sketch::toWorld;
using qor::sketch::Vec2;
using namespace qor::test;

namespace {

constexpr double pi = std::numbers::pi;

double edgeLength(const TopoDS_Edge& edge)
{
    return GCPnts_AbscissaPoint::Length(BRepAdaptor_Curve(edge));
}

void expectAt(const Vec2& got, Vec2 want, const char* what)
{
    EXPECT_NEAR(got.x, want.x, 1e-6) << what;
    EXPECT_NEAR(got.y, want.y, 1e-6) << what;
}

std::vector<double> edgeLengths(const TopoDS_Shape& compound)
{
    std::vector<double> result;
    for (TopExp_Explorer x(compound, TopAbs_EDGE); x.More(); x.Next())
        result.push_back(edgeLength(TopoDS::Edge(x.Current())));
    return result;
}

} // namespace

TEST(SketchPlane, MapsBetweenSketchAndModelSpace)
{
    EXPECT_FALSE(leftHandedPlane().Direct());
    EXPECT_FALSE(leftHandedTiltedPlane().Direct());
    for (const gp_Ax3& plane : allPlanes()) {
        const gp_Pnt p = toWorld(plane, 7.5, -3.25);
        EXPECT_NEAR(gp_Vec(plane.Location(), p).Dot(gp_Vec(plane.Direction())), 0.0, 1e-12);
        // u runs along X, v along Y.
        EXPECT_NEAR(gp_Vec(plane.Location(), p).Dot(gp_Vec(plane.XDirection())), 7.5, 1e-12);
        EXPECT_NEAR(gp_Vec(plane.Location(), p).Dot(gp_Vec(plane.YDirection())), -3.25, 1e-12);
        EXPECT_LT(p.Distance(toWorld(plane, Vec2{7.5, -3.25})), 1e-12);
        // A point above the plane projects onto its foot point.
        expectAt(toPlane(plane, p.Translated(gp_Vec(plane.Direction()) * 5.0)), {7.5, -3.25},
                 "foot");
    }
    EXPECT_LT(toWorld(xyPlane(), 3, 4).Distance(gp_Pnt(3, 4, 0)), 1e-12);
}

TEST(SketchPlane, FaceContainsOnlyStrictlyInnerPoints)
{
    for (const gp_Ax3& plane : allPlanes()) {
        BRepBuilderAPI_MakePolygon square(toWorld(plane, 0, 0), toWorld(plane, 10, 0),
                                          toWorld(plane, 10, 10), toWorld(plane, 0, 10), true);
        const TopoDS_Face face = BRepBuilderAPI_MakeFace(square.Wire(), true).Face();
        const std::tuple<double, double, bool> cases[] = {
            {5, 5, true},  {0.01, 9.99, true}, {10, 5, false},
            {0, 0, false}, {15, 5, false},     {-0.01, 5, false},
        };
        for (const auto& [u, v, inside] : cases)
            EXPECT_EQ(qor::sketch::faceContainsPoint(face, plane, u, v), inside) << u << " " << v;
    }
}

// The left-handed planes draw the very same curves in (u, v): circles start at +u
// and run counter-clockwise, arcs run counter-clockwise from start to end.
TEST(SketchPlane, EdgesRunAsDrawnOnEveryPlane)
{
    struct Case {
        const char* name;
        std::function<int(Sketch&)> add;
        double length;
        std::vector<std::pair<double, Vec2>> samples; // fraction of the parameter range
        Vec2 start;
        Vec2 end;
    };
    const double diagonal = 5 / std::sqrt(2.0);
    const Case cases[] = {
        {"line",
         [](Sketch& s) { return int(s.addLineAt(false, 1, 2, 4, 6)); },
         5.0,
         {},
         {1, 2},
         {4, 6}},
        {"circle",
         [](Sketch& s) { return int(s.addCircleAt(false, 3, -2, 4)); },
         8 * pi,
         {{0.0, {7, -2}}, {0.25, {3, 2}}, {0.5, {-1, -2}}},
         {7, -2},
         {7, -2}},
        {"quarter arc",
         [](Sketch& s) { return int(s.addArcAt(false, 1, 1, 6, 1, 1, 6)); },
         2.5 * pi,
         {{0.5, {1 + diagonal, 1 + diagonal}}},
         {6, 1},
         {1, 6}},
        {"three-quarter arc",
         [](Sketch& s) { return int(s.addArcAt(false, 0, 0, 0, 10, 10, 0)); },
         15 * pi,
         {{0.5, {-2 * diagonal, -2 * diagonal}}, {1.0 / 3.0, {-10, 0}}},
         {0, 10},
         {10, 0}},
        // Built directly so that the end stays off the circle through the start.
        {"arc with its end off the circle",
         [](Sketch& s) {
             return int(s.addArc(int(s.addPoint(false, 0, 0)), int(s.addPoint(false, 10, 0)),
                                 int(s.addPoint(false, 0, 4)), false));
         },
         5 * pi,
         {},
         {10, 0},
         {0, 10}},
    };
    for (const gp_Ax3& plane : allPlanes()) {
        for (const Case& k : cases) {
            SCOPED_TRACE(k.name);
            Sketch s;
            const TopoDS_Edge edge = entityToEdge(s, k.add(s), plane);
            ASSERT_FALSE(edge.IsNull());
            EXPECT_NEAR(edgeLength(edge), k.length, 1e-9);
            expectAt(toPlane(plane, BRep_Tool::Pnt(TopExp::FirstVertex(edge, true))), k.start,
                     "start");
            expectAt(toPlane(plane, BRep_Tool::Pnt(TopExp::LastVertex(edge, true))), k.end, "end");
            const BRepAdaptor_Curve curve(edge);
            for (const auto& [fraction, at] : k.samples)
                expectAt(toPlane(plane, curve.Value(curve.FirstParameter()
                                                    + fraction
                                                          * (curve.LastParameter()
                                                             - curve.FirstParameter()))),
                         at, "sample");
        }
    }
}

TEST(SketchPlane, DegenerateOrNonFiniteGeometryGivesNoEdge)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    Sketch s;
    const int centre = int(s.addPoint(false, 0, 0));
    const int start = int(s.addPoint(false, 10, 0));
    const int badArc = int(s.addArcAt(false, 0, 0, 10, 0, 0, 10));
    s.setPointPosition(s.endPoint(badArc), inf, -inf);
    const std::vector<int> none = {
        int(s.addLineAt(false, 3, 3, 3, 3 + 5e-8)),
        int(s.addPoint(false, 1, 1)),
        999,
        int(s.addCircleAt(false, 0, 0, 0)),
        int(s.addCircleAt(false, 0, 0, 5e-8)),
        int(s.addArc(centre, start, int(s.addPoint(false, 10, 0)), false)), // closed
        int(s.addArc(centre, centre, int(s.addPoint(false, 0, 4)), false)), // zero radius
        int(s.addLineAt(false, 0, 0, nan, 1)),
        int(s.addCircleAt(false, 0, 0, inf)),
        badArc,
    };
    for (const int id : none)
        EXPECT_TRUE(entityToEdge(s, id, tiltedPlane()).IsNull()) << id;
    s.addLineAt(false, 0, 0, 1, 0);
    EXPECT_EQ(edgeLengths(qor::makeCompound(s, xyPlane(), true)), std::vector<double>{1.0});
}

TEST(SketchPlane, CompoundFollowsEntityOrderAndSkipsConstruction)
{
    Sketch sketch;
    sketch.addLineAt(false, 0, 0, 10, 0);
    sketch.addCircleAt(true, 0, 0, 1);
    sketch.addLineAt(false, 0, 0, 0, 0); // degenerate
    sketch.addCircleAt(false, 5, 5, 2);
    sketch.addLineAt(true, 0, 0, 0, 3);
    sketch.addArcAt(false, 0, 0, 3, 0, -3, 0);
    sketch.addPoint(false, 1, 1);

    const auto expectLengths = [&](bool construction, std::vector<double> want) {
        const std::vector<double> got
            = edgeLengths(qor::makeCompound(sketch, tiltedPlane(), construction));
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], want[i], 1e-9) << i;
    };
    expectLengths(false, {10, 4 * pi, 3 * pi});
    expectLengths(true, {10, 2 * pi, 4 * pi, 3, 3 * pi});

    Sketch empty;
    EXPECT_FALSE(qor::makeCompound(empty, xyPlane(), false).IsNull());
    EXPECT_TRUE(edgeLengths(qor::makeCompound(empty, xyPlane(), false)).empty());
}
