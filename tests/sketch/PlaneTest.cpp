#include "sketch/Plane.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRep_Tool.hxx>
#include <GCPnts_AbscissaPoint.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Vertex.hxx>

#include "tests/common/Planes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using qor::sketch::Sketch;
using qor::sketch::Vec2;
using qor::sketch::entityToEdge;
using qor::sketch::toPlane;
using qor::sketch::toWorld;
using namespace qor::test;

namespace {

constexpr double pi = 3.14159265358979323846;

double edgeLength(const TopoDS_Edge& edge)
{
    return GCPnts_AbscissaPoint::Length(BRepAdaptor_Curve(edge));
}

// Start and end in the edge's own direction, in sketch coordinates.
Vec2 edgeStart(const TopoDS_Edge& edge, const gp_Ax3& plane)
{
    return toPlane(plane, BRep_Tool::Pnt(TopExp::FirstVertex(edge, true)));
}

Vec2 edgeEnd(const TopoDS_Edge& edge, const gp_Ax3& plane)
{
    return toPlane(plane, BRep_Tool::Pnt(TopExp::LastVertex(edge, true)));
}

Vec2 edgeAt(const TopoDS_Edge& edge, const gp_Ax3& plane, double fraction)
{
    BRepAdaptor_Curve curve(edge);
    const double t = curve.FirstParameter()
                     + fraction * (curve.LastParameter() - curve.FirstParameter());
    return toPlane(plane, curve.Value(t));
}

double offPlane(const gp_Ax3& plane, const gp_Pnt& p)
{
    return gp_Vec(plane.Location(), p).Dot(gp_Vec(plane.Direction()));
}

#define EXPECT_VEC2_NEAR(actual, ux, vy, tol)                                                   \
    do {                                                                                       \
        const Vec2 value_ = (actual);                                                          \
        EXPECT_NEAR(value_.x, (ux), (tol));                                                    \
        EXPECT_NEAR(value_.y, (vy), (tol));                                                    \
    } while (0)

} // namespace

TEST(SketchPlane, MapsBetweenSketchAndModelSpace)
{
    EXPECT_TRUE(leftHandedPlane().Direct() == Standard_False);
    EXPECT_TRUE(leftHandedTiltedPlane().Direct() == Standard_False);

    for (const gp_Ax3& plane : allPlanes()) {
        EXPECT_LT(toWorld(plane, 0, 0).Distance(plane.Location()), 1e-12);

        const gp_Pnt p = toWorld(plane, 7.5, -3.25);
        EXPECT_NEAR(offPlane(plane, p), 0.0, 1e-12);
        EXPECT_NEAR(p.Distance(plane.Location()), std::hypot(7.5, 3.25), 1e-12);
        EXPECT_LT(p.Distance(toWorld(plane, Vec2{7.5, -3.25})), 1e-12);
        EXPECT_VEC2_NEAR(toPlane(plane, p), 7.5, -3.25, 1e-12);

        // A point above the plane projects onto its foot point.
        const gp_Pnt above = p.Translated(gp_Vec(plane.Direction()) * 5.0);
        EXPECT_VEC2_NEAR(toPlane(plane, above), 7.5, -3.25, 1e-12);

        // u runs along X, v along Y.
        EXPECT_NEAR(gp_Vec(toWorld(plane, 0, 0), toWorld(plane, 1, 0))
                        .Dot(gp_Vec(plane.XDirection())),
                    1.0, 1e-12);
        EXPECT_NEAR(gp_Vec(toWorld(plane, 0, 0), toWorld(plane, 0, 1))
                        .Dot(gp_Vec(plane.YDirection())),
                    1.0, 1e-12);
    }

    // On the model's XY plane the sketch coordinates are x and y.
    const gp_Pnt q = toWorld(xyPlane(), 3, 4);
    EXPECT_NEAR(q.X(), 3, 1e-12);
    EXPECT_NEAR(q.Y(), 4, 1e-12);
    EXPECT_NEAR(q.Z(), 0, 1e-12);
}

TEST(SketchPlane, FaceContainsOnlyStrictlyInnerPoints)
{
    for (const gp_Ax3& plane : allPlanes()) {
        BRepBuilderAPI_MakePolygon square(toWorld(plane, 0, 0), toWorld(plane, 10, 0),
                                          toWorld(plane, 10, 10), toWorld(plane, 0, 10), true);
        const TopoDS_Face face = BRepBuilderAPI_MakeFace(square.Wire(), true).Face();

        EXPECT_TRUE(qor::sketch::faceContainsPoint(face, plane, 5, 5));
        EXPECT_TRUE(qor::sketch::faceContainsPoint(face, plane, 0.01, 9.99));
        EXPECT_FALSE(qor::sketch::faceContainsPoint(face, plane, 10, 5));
        EXPECT_FALSE(qor::sketch::faceContainsPoint(face, plane, 0, 0));
        EXPECT_FALSE(qor::sketch::faceContainsPoint(face, plane, 15, 5));
        EXPECT_FALSE(qor::sketch::faceContainsPoint(face, plane, -0.01, 5));
    }
}

TEST(SketchPlane, LineEdges)
{
    for (const gp_Ax3& plane : allPlanes()) {
        Sketch sketch;
        const auto line = sketch.addLineAt(false, 1, 2, 4, 6);
        const TopoDS_Edge edge = entityToEdge(sketch, line, plane);
        ASSERT_FALSE(edge.IsNull());
        EXPECT_NEAR(edgeLength(edge), 5.0, 1e-9);
        EXPECT_VEC2_NEAR(edgeStart(edge, plane), 1, 2, 1e-9);
        EXPECT_VEC2_NEAR(edgeEnd(edge, plane), 4, 6, 1e-9);
    }

    Sketch sketch;
    const auto degenerate = sketch.addLineAt(false, 3, 3, 3, 3 + 5e-8);
    const auto point = sketch.addPoint(false, 1, 1);
    EXPECT_TRUE(entityToEdge(sketch, degenerate, tiltedPlane()).IsNull());
    EXPECT_TRUE(entityToEdge(sketch, point, tiltedPlane()).IsNull());
    EXPECT_TRUE(entityToEdge(sketch, 999, tiltedPlane()).IsNull());
}

TEST(SketchPlane, CircleEdgesRunCounterClockwiseFromPlusU)
{
    for (const gp_Ax3& plane : allPlanes()) {
        Sketch sketch;
        const auto circle = sketch.addCircleAt(false, 3, -2, 4);
        const TopoDS_Edge edge = entityToEdge(sketch, circle, plane);
        ASSERT_FALSE(edge.IsNull());
        EXPECT_TRUE(BRep_Tool::IsClosed(edge));
        EXPECT_NEAR(edgeLength(edge), 2 * pi * 4, 1e-9);
        EXPECT_VEC2_NEAR(edgeAt(edge, plane, 0.0), 7, -2, 1e-9);
        // A quarter turn further lies at +v: counter-clockwise in (u, v) on every plane.
        EXPECT_VEC2_NEAR(edgeAt(edge, plane, 0.25), 3, 2, 1e-9);
        EXPECT_VEC2_NEAR(edgeAt(edge, plane, 0.5), -1, -2, 1e-9);
    }

    Sketch sketch;
    const auto zero = sketch.addCircleAt(false, 0, 0, 0);
    const auto tiny = sketch.addCircleAt(false, 0, 0, 5e-8);
    EXPECT_TRUE(entityToEdge(sketch, zero, xyPlane()).IsNull());
    EXPECT_TRUE(entityToEdge(sketch, tiny, xyPlane()).IsNull());
}

TEST(SketchPlane, ArcEdgesRunCounterClockwiseFromStartToEnd)
{
    // The flipped planes draw the very same arcs in (u, v): the midpoint of the
    // counter-clockwise arc, not of its complement.
    for (const gp_Ax3& plane : allPlanes()) {
        Sketch s;
        const auto arc = s.addArcAt(false, 1, 1, 6, 1, 1, 6);
        const TopoDS_Edge edge = entityToEdge(s, arc, plane);
        ASSERT_FALSE(edge.IsNull());
        EXPECT_NEAR(edgeLength(edge), pi * 2.5, 1e-9);
        EXPECT_VEC2_NEAR(edgeAt(edge, plane, 0.5), 1 + 5 / std::sqrt(2.0),
                         1 + 5 / std::sqrt(2.0), 1e-9);
        EXPECT_VEC2_NEAR(edgeStart(edge, plane), 6, 1, 1e-9);
        EXPECT_VEC2_NEAR(edgeEnd(edge, plane), 1, 6, 1e-9);
    }

    Sketch sketch;
    const auto threeQuarter = sketch.addArcAt(false, 0, 0, 0, 10, 10, 0);
    const TopoDS_Edge t = entityToEdge(sketch, threeQuarter, leftHandedPlane());
    ASSERT_FALSE(t.IsNull());
    EXPECT_NEAR(edgeLength(t), pi * 15, 1e-9);
    EXPECT_VEC2_NEAR(edgeAt(t, leftHandedPlane(), 0.5), -7.0710678, -7.0710678, 1e-6);
    EXPECT_VEC2_NEAR(edgeAt(t, leftHandedPlane(), 1.0 / 3.0), -10, 0, 1e-6);
}

TEST(SketchPlane, ArcRadiusAndDegenerateArcs)
{
    Sketch sketch;
    // Built directly so that the end stays off the circle through the start.
    const auto centre = sketch.addPoint(false, 0, 0);
    const auto start = sketch.addPoint(false, 10, 0);
    const auto end = sketch.addPoint(false, 0, 4);
    const auto arc = sketch.addArc(int(centre), int(start), int(end), false);
    const TopoDS_Edge edge = entityToEdge(sketch, arc, tiltedPlane());
    ASSERT_FALSE(edge.IsNull());
    EXPECT_NEAR(edgeLength(edge), pi * 5, 1e-9);
    EXPECT_VEC2_NEAR(edgeEnd(edge, tiltedPlane()), 0, 10, 1e-9);

    const auto s2 = sketch.addPoint(false, 10, 0);
    const auto closed = sketch.addArc(int(centre), int(start), int(s2), false);
    const auto zero = sketch.addArc(int(centre), int(centre), int(end), false);
    EXPECT_TRUE(entityToEdge(sketch, closed, tiltedPlane()).IsNull());
    EXPECT_TRUE(entityToEdge(sketch, zero, tiltedPlane()).IsNull());
}

TEST(SketchPlane, NonFiniteGeometryGivesNoEdge)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    Sketch sketch;
    const auto line = sketch.addLineAt(false, 0, 0, nan, 1);
    const auto circle = sketch.addCircleAt(false, 0, 0, inf);
    const auto arc = sketch.addArcAt(false, 0, 0, 10, 0, 0, 10);
    sketch.setPointPosition(sketch.endPoint(int(arc)), inf, -inf);
    const auto good = sketch.addLineAt(false, 0, 0, 1, 0);

    EXPECT_TRUE(entityToEdge(sketch, line, xyPlane()).IsNull());
    EXPECT_TRUE(entityToEdge(sketch, circle, xyPlane()).IsNull());
    EXPECT_TRUE(entityToEdge(sketch, arc, xyPlane()).IsNull());
    EXPECT_FALSE(entityToEdge(sketch, good, xyPlane()).IsNull());

    int edges = 0;
    for (TopExp_Explorer x(qor::makeCompound(sketch, xyPlane(), true), TopAbs_EDGE); x.More();
         x.Next())
        ++edges;
    EXPECT_EQ(edges, 1);
}

TEST(SketchPlane, CompoundFollowsEntityOrderAndSkipsConstruction)
{
    Sketch sketch;
    sketch.addLineAt(false, 0, 0, 10, 0);        // length 10
    sketch.addCircleAt(true, 0, 0, 1);           // construction
    sketch.addLineAt(false, 0, 0, 0, 0);         // degenerate
    sketch.addCircleAt(false, 5, 5, 2);          // length 4π
    sketch.addLineAt(true, 0, 0, 0, 3);          // construction
    sketch.addArcAt(false, 0, 0, 3, 0, -3, 0);   // length 3π
    sketch.addPoint(false, 1, 1);

    const auto lengths = [](const TopoDS_Shape& compound) {
        std::vector<double> result;
        for (TopExp_Explorer x(compound, TopAbs_EDGE); x.More(); x.Next())
            result.push_back(edgeLength(TopoDS::Edge(x.Current())));
        return result;
    };

    const std::vector<double> profile = lengths(qor::makeCompound(sketch, tiltedPlane(), false));
    ASSERT_EQ(profile.size(), 3u);
    EXPECT_NEAR(profile[0], 10, 1e-9);
    EXPECT_NEAR(profile[1], 4 * pi, 1e-9);
    EXPECT_NEAR(profile[2], 3 * pi, 1e-9);

    const std::vector<double> all = lengths(qor::makeCompound(sketch, tiltedPlane(), true));
    ASSERT_EQ(all.size(), 5u);
    EXPECT_NEAR(all[0], 10, 1e-9);
    EXPECT_NEAR(all[1], 2 * pi, 1e-9);
    EXPECT_NEAR(all[2], 4 * pi, 1e-9);
    EXPECT_NEAR(all[3], 3, 1e-9);
    EXPECT_NEAR(all[4], 3 * pi, 1e-9);

    Sketch empty;
    EXPECT_FALSE(qor::makeCompound(empty, xyPlane(), false).IsNull());
    EXPECT_FALSE(TopExp_Explorer(qor::makeCompound(empty, xyPlane(), false), TopAbs_EDGE).More());
}
