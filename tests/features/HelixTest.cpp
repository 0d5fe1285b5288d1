#include "features/Helix.h"

#include <BRepAdaptor_CompCurve.hxx>
#include <BRep_Tool.hxx>
#include <GCPnts_AbscissaPoint.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;

namespace {

using std::numbers::pi;

struct HelixTrace {
    gp_Pnt start;
    gp_Pnt end;
    double length = 0.0;
    double sweptAngle = 0.0; // about the frame axis, counter-clockwise positive
    double radiusError = 0.0; // largest |distance to the axis - radius|
    double riseError = 0.0; // largest |height - pitch * turns so far|
    double edgeTolerance = 0.0;
    int edges = 0;
};

// Samples the wire's 3D curve densely and measures it in the frame's coordinates.
HelixTrace trace(const TopoDS_Wire& wire, const gp_Ax3& frame, double radius, double pitch)
{
    HelixTrace t;
    for (TopExp_Explorer it(wire, TopAbs_EDGE); it.More(); it.Next()) {
        ++t.edges;
        t.edgeTolerance
            = std::max(t.edgeTolerance, BRep_Tool::Tolerance(TopoDS::Edge(it.Current())));
    }
    BRepAdaptor_CompCurve curve(wire);
    t.start = curve.Value(curve.FirstParameter());
    t.end = curve.Value(curve.LastParameter());
    t.length = GCPnts_AbscissaPoint::Length(curve);

    const gp_Pnt o = frame.Location();
    const gp_Dir n = frame.Direction();
    const gp_Dir x = frame.XDirection();
    const gp_Dir y = frame.YDirection();
    const int samples = 20000;
    double previous = 0.0;
    for (int i = 0; i <= samples; ++i) {
        const double u = curve.FirstParameter()
                         + (curve.LastParameter() - curve.FirstParameter()) * i / samples;
        const gp_Vec d(o, curve.Value(u));
        const double px = d.Dot(gp_Vec(x));
        const double py = d.Dot(gp_Vec(y));
        const double h = d.Dot(gp_Vec(n));
        const double a = std::atan2(py, px);
        if (i > 0) {
            double step = a - previous;
            if (step > pi)
                step -= 2 * pi;
            if (step < -pi)
                step += 2 * pi;
            t.sweptAngle += step;
        }
        previous = a;
        t.radiusError = std::max(t.radiusError, std::abs(std::hypot(px, py) - radius));
        t.riseError
            = std::max(t.riseError, std::abs(h - pitch * std::abs(t.sweptAngle) / (2 * pi)));
    }
    return t;
}

} // namespace

TEST(Helix, TurnsLengthAndHand)
{
    const gp_Ax3 frame; // origin, main direction +Z, X direction +X
    const double expectedLength = 8.0 * std::hypot(2 * pi * 10.0, 5.0);

    const HelixTrace right = trace(helixWire(frame, false, 10.0, 5.0, 40.0), frame, 10.0, 5.0);
    EXPECT_EQ(right.edges, 1);
    EXPECT_LT(right.start.Distance(gp_Pnt(10, 0, 0)), 1e-6);
    EXPECT_LT(right.end.Distance(gp_Pnt(10, 0, 40)), 1e-6);
    EXPECT_NEAR(right.sweptAngle, 8 * 2 * pi, 1e-6);
    EXPECT_NEAR(right.length, expectedLength, 1e-4);

    const HelixTrace left = trace(helixWire(frame, true, 10.0, 5.0, 40.0), frame, 10.0, 5.0);
    EXPECT_LT(left.start.Distance(right.start), 1e-6);
    EXPECT_LT(left.end.Distance(right.end), 1e-6);
    EXPECT_NEAR(left.sweptAngle, -8 * 2 * pi, 1e-6);
    EXPECT_NEAR(left.length, expectedLength, 1e-4);

    const HelixTrace partial = trace(helixWire(frame, false, 10.0, 5.0, 12.5), frame, 10.0, 5.0);
    EXPECT_LT(partial.end.Distance(gp_Pnt(-10, 0, 12.5)), 1e-6);
    EXPECT_NEAR(partial.sweptAngle, 2.5 * 2 * pi, 1e-6);
}

TEST(Helix, FollowsTheExactCurveOnAnyFrame)
{
    // Main direction +X, X direction +Y: the helix starts at centre + r * Y-dir of the
    // world, rises along world X.
    const gp_Ax3 frame(gp_Pnt(5, -2, 3), gp_Dir(1, 0, 0), gp_Dir(0, 1, 0));
    const HelixTrace t = trace(helixWire(frame, false, 4.0, 1.5, 9.0), frame, 4.0, 1.5);
    EXPECT_LT(t.start.Distance(gp_Pnt(5, 2, 3)), 1e-6);
    EXPECT_LT(t.end.Distance(gp_Pnt(14, 2, 3)), 1e-6);
    EXPECT_NEAR(t.sweptAngle, 6 * 2 * pi, 1e-6);
    EXPECT_LT(t.radiusError, 1e-6);
    EXPECT_LT(t.riseError, 1e-6);
    EXPECT_LE(t.edgeTolerance, 1e-6);
}
