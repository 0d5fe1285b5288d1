#include "sketch/Constraints.h"
#include "sketch/Sketch.h"

#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

using namespace qor::sketch;
using qor::test::constraintOf;
using T = ConstraintType;
using Rows = std::vector<double>;

namespace {

constexpr double pi = std::numbers::pi;

Rows rowsOf(const Sketch& s, const Constraint& c)
{
    Rows rows;
    constraintResiduals(ParamView{&s, &s.params}, c, rows);
    return rows;
}

struct RowCase {
    const char* name;
    Constraint constraint;
    Rows rows;
};

void expectRows(const Sketch& s, const std::vector<RowCase>& cases)
{
    for (const RowCase& k : cases) {
        SCOPED_TRACE(k.name);
        const Rows got = rowsOf(s, k.constraint);
        ASSERT_EQ(got.size(), k.rows.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], k.rows[i], 1e-12) << "row " << i;
    }
}

int line(Sketch& s, double x1, double y1, double x2, double y2)
{
    return int(s.addLineAt(false, x1, y1, x2, y2));
}

int point(Sketch& s, double x, double y)
{
    return int(s.addPoint(false, x, y));
}

} // namespace

TEST(ConstraintRows, PointsAndLines)
{
    Sketch s;
    const int p = point(s, 1, 2);
    const int q = point(s, 4, 6);
    const int sp = point(s, 1, 4);
    const int l = line(s, 0, 1, 10, 3);
    const int flat = line(s, 0, 0, 10, 0);
    const int up = line(s, 0, 0, 0, 5);
    const int dot = line(s, 2, 2, 2, 2);
    const int tx = line(s, 0, 0, 1e-7, 0);
    const int ty = line(s, 0, 0, 0, 1e-7);
    const int shifted = line(s, 3, 2, 6, -1);
    const int m = point(s, 5, 1);
    const int axis = line(s, 0, 0, 2, 2); // y = x, length 2 sqrt 2
    const int mirrored = point(s, 4, 1);
    const int offMirror = point(s, 6, 3);
    const double lLength = std::hypot(10.0, 2.0);
    expectRows(
        s,
        {
            {"coincident", constraintOf(T::Coincident, p, q), {-3, -4}},
            // Line start minus end, or first point minus second.
            {"horizontal line", constraintOf(T::Horizontal, l), {-2}},
            {"horizontal points", constraintOf(T::Horizontal, p, q), {-4}},
            {"vertical line", constraintOf(T::Vertical, l), {-10}},
            {"vertical points", constraintOf(T::Vertical, p, q), {-3}},
            // Signed, positive to the left of start -> end.
            {"on line left", constraintOf(T::PointOnCurve, q, flat), {6}},
            {"on line right", constraintOf(T::PointOnCurve, q, up), {-4}},
            // A line shorter than 1e-12 measures the distance from its end, never negative.
            {"on zero line", constraintOf(T::PointOnCurve, q, dot), {std::hypot(2.0, 4.0)}},
            {"parallel", constraintOf(T::Parallel, flat, l), {20.0 / (10.0 * lLength)}},
            {"perpendicular met", constraintOf(T::Perpendicular, flat, up), {0}},
            {"perpendicular", constraintOf(T::Perpendicular, flat, l), {100.0 / (10.0 * lLength)}},
            // Tiny lines divide by 1e-12, not by their tiny length product.
            {"parallel tiny", constraintOf(T::Parallel, tx, ty), {1e-14 / 1e-12}},
            {"parallel zero", constraintOf(T::Parallel, dot, flat), {0}},
            // One row per end of the second line, from the line through the first.
            {"collinear", constraintOf(T::Collinear, flat, shifted), {2, -1}},
            {"midpoint", constraintOf(T::Midpoint, m, flat), {0, 1}},
            {"equal", constraintOf(T::Equal, flat, up), {5}},
            {"fixed", constraintOf(T::Fixed, flat), {}},
            {"symmetric met", constraintOf(T::Symmetric, sp, mirrored, axis), {0, 0}},
            // Off the mirror: the second row is the offset along the axis, per unit length.
            {"symmetric off",
             constraintOf(T::Symmetric, sp, offMirror, axis),
             {0, (5.0 * 2 - 1.0 * 2) / std::hypot(2.0, 2.0)}},
        });
}

TEST(ConstraintRows, CirclesArcsAndDistances)
{
    Sketch s;
    const int big = int(s.addCircleAt(false, 0, 0, 3));
    const int small = int(s.addCircleAt(false, 4, 0, 1));
    const int top = line(s, -5, 5, 5, 5);
    // Arcs measure their radius from centre to start, whatever the end says.
    const int a1 = int(s.addArcAt(false, 0, 0, 3, 4, -5, 0));
    const int a2 = int(s.addArcAt(false, 10, 10, 12, 10, 10, 12));
    s.setPointPosition(s.endPoint(a2), 10, 30);
    const int p7 = point(s, 0, 7);
    const int l = line(s, 0, 0, 3, 4);
    const int p = point(s, 0, 10);
    const int far = line(s, 10, 0, 13, 4);
    const int c = int(s.addCircleAt(false, 6, 18, 1));
    expectRows(s,
               {
                   {"tangent external", constraintOf(T::Tangent, big, small, -1, 0), {0}},
                   {"tangent internal", constraintOf(T::Tangent, big, small, -1, 1), {2}},
                   {"tangent line circle", constraintOf(T::Tangent, top, big), {2}},
                   {"tangent circle line", constraintOf(T::Tangent, big, top), {2}},
                   {"equal arcs", constraintOf(T::Equal, a1, a2), {3}},
                   {"equal circle arc", constraintOf(T::Equal, big, a2), {1}},
                   {"concentric", constraintOf(T::Concentric, small, a2), {-6, -10}},
                   {"radius", constraintOf(T::Radius, a1, -1, -1, 4), {1}},
                   {"diameter", constraintOf(T::Diameter, big, -1, -1, 4), {2}},
                   {"on arc", constraintOf(T::PointOnCurve, p7, a1), {2}},
                   {"on circle", constraintOf(T::PointOnCurve, p7, big), {4}},
                   {"line length", constraintOf(T::Distance, l, -1, -1, 2), {3}},
                   // Point to line and line to line are unsigned.
                   {"point to line", constraintOf(T::Distance, p, l), {6}},
                   {"line to line", constraintOf(T::Distance, l, far), {8}},
                   {"line to line reversed", constraintOf(T::Distance, far, l), {8}},
                   {"point to circle", constraintOf(T::Distance, p, c, -1, 1), {9}},
                   {"horizontal length", constraintOf(T::HorizontalDistance, l, -1, -1, 1), {2}},
                   {"vertical length", constraintOf(T::VerticalDistance, l), {4}},
                   {"horizontal centre to point", constraintOf(T::HorizontalDistance, c, p), {6}},
                   {"vertical centre to point", constraintOf(T::VerticalDistance, c, p), {8}},
               });

    // The arc row keeps the end on the circle through the start.
    const ParamView view{&s, &s.params};
    EXPECT_DOUBLE_EQ(arcResidual(view, *s.findEntity(a1)), 0.0);
    EXPECT_DOUBLE_EQ(arcResidual(view, *s.findEntity(a2)), 20.0 - 2.0);

    // A driven dimension gives no row but still measures; geometric kinds ignore the flag.
    auto driven = constraintOf(T::Distance, p, c, -1, 100);
    driven.driven = true;
    EXPECT_TRUE(rowsOf(s, driven).empty());
    EXPECT_DOUBLE_EQ(measureConstraint(s, driven), 10.0);
    auto coincident = constraintOf(T::Coincident, p, p7);
    coincident.driven = true;
    EXPECT_EQ(rowsOf(s, coincident).size(), 2u);
    EXPECT_EQ(measureConstraint(s, coincident), 0.0);
    EXPECT_EQ(measureConstraint(s, constraintOf(T::Horizontal, p, s.startPoint(l), -1, 5)), 10.0);
    EXPECT_EQ(measureConstraint(s, constraintOf(T::Diameter, c)), 2.0);
}

TEST(ConstraintRows, AnglesAreWrapped)
{
    Sketch s;
    const int east = line(s, 0, 0, 1, 0);
    const int north = line(s, 0, 0, 0, 1);
    const int south = line(s, 0, 0, 0, -1);
    const int t = line(s, 0, 0, std::cos(-3.0), std::sin(-3.0));

    EXPECT_DOUBLE_EQ(measureConstraint(s, constraintOf(T::Angle, east, north)), pi / 2);
    EXPECT_DOUBLE_EQ(measureConstraint(s, constraintOf(T::Angle, east, south)), -pi / 2);
    EXPECT_NEAR(rowsOf(s, constraintOf(T::Angle, east, t, -1, 3))[0], -6 + 2 * pi, 1e-12);
    EXPECT_NEAR(rowsOf(s, constraintOf(T::Angle, east, north, -1, pi / 2 + 4 * pi))[0], 0.0, 1e-12);

    // Huge and non-finite values must come back, not step forever.
    const double inf = std::numeric_limits<double>::infinity();
    for (double value : {1e7, -1e7, 1e300, -1e300, inf, -inf, std::nan("")}) {
        const Rows rows = rowsOf(s, constraintOf(T::Angle, east, north, -1, value));
        ASSERT_EQ(rows.size(), 1u);
        if (!std::isfinite(value)) {
            EXPECT_FALSE(std::isfinite(rows[0])) << value;
            continue;
        }
        EXPECT_LE(std::fabs(rows[0]), pi) << value;
        // The wrapped row differs from the plain difference by whole turns.
        const double turns = (pi / 2 - value - rows[0]) / (2 * pi);
        if (std::fabs(value) < 1e15)
            EXPECT_NEAR(turns, std::round(turns), 1e-6) << value;
    }
}

TEST(ConstraintRows, CombinationsOutsideTheTableGiveNoRow)
{
    Sketch s;
    const int l = line(s, 0, 0, 10, 0);
    const int p = point(s, 3, 3);
    const int c = int(s.addCircleAt(false, 0, 0, 2));
    const int broken = int(s.addLine(p, 99, false));
    // A point whose parameter indices lie beyond the vector.
    Entity ghost;
    ghost.id = 50;
    ghost.p0 = 40;
    ghost.p1 = 41;
    s.entities.push_back(ghost);
    s.lastId = 50;

    const Constraint wrongKinds[] = {
        constraintOf(T::Distance, l, p),
        constraintOf(T::Distance, l, c),
        constraintOf(T::Distance, p, -1),
        constraintOf(T::HorizontalDistance, l, p),
        constraintOf(T::VerticalDistance, p, l),
        constraintOf(T::Coincident, p, 99),
        constraintOf(T::Coincident, p, l),
        constraintOf(T::Horizontal, p, -1),
        constraintOf(T::PointOnCurve, p, p),
        constraintOf(T::Parallel, l, c),
        constraintOf(T::Tangent, l, p),
        constraintOf(T::Tangent, l, l),
        constraintOf(T::Equal, l, c),
        constraintOf(T::Midpoint, l, p),
        constraintOf(T::Symmetric, p, p, c),
        constraintOf(T::Concentric, c, l),
        constraintOf(T::Radius, l),
        constraintOf(ConstraintType(19), p, p),
        constraintOf(T::HorizontalDistance, l, l),
    };
    for (const Constraint& k : wrongKinds) {
        SCOPED_TRACE(std::string(constraintTypeName(k.type)) + " " + std::to_string(k.a) + " "
                     + std::to_string(k.b));
        EXPECT_TRUE(rowsOf(s, k).empty());
        EXPECT_FALSE(constraintOperandsValid(s, k));
    }
    // Right kinds, but a line end or a point's parameters are missing.
    const Constraint brokenGeometry[] = {
        constraintOf(T::Coincident, p, 50),       constraintOf(T::Horizontal, broken),
        constraintOf(T::PointOnCurve, p, broken), constraintOf(T::Angle, l, broken),
        constraintOf(T::Distance, broken),
    };
    for (const Constraint& k : brokenGeometry) {
        EXPECT_TRUE(constraintOperandsValid(s, k)) << constraintTypeName(k.type);
        EXPECT_TRUE(rowsOf(s, k).empty()) << constraintTypeName(k.type);
    }
    EXPECT_EQ(measureConstraint(s, constraintOf(T::Distance, l, p)), 0.0);
    EXPECT_EQ(arcResidual(ParamView{&s, &s.params}, *s.findEntity(broken)), 0.0);

    // A trial vector shorter than the sketch's parameters is not read past its end.
    Rows shortTrial(2, 0.0);
    Rows rows;
    constraintResiduals(ParamView{&s, &shortTrial}, constraintOf(T::Distance, l), rows);
    constraintResiduals(ParamView{&s, &shortTrial}, constraintOf(T::Radius, c), rows);
    EXPECT_TRUE(rows.empty());
}

TEST(ConstraintOperands, AlternativeOperandKindsAreAccepted)
{
    Sketch s;
    const int l = line(s, 0, 0, 10, 0);
    const int l2 = line(s, 0, 1, 10, 1);
    const int p = point(s, 3, 3);
    const int q = point(s, 4, 4);
    const int c = int(s.addCircleAt(false, 0, 0, 2));
    const int a = int(s.addArcAt(false, 0, 0, 1, 0, 0, 1));
    const Constraint valid[] = {
        constraintOf(T::PointOnCurve, p, a),    constraintOf(T::PointOnCurve, p, l),
        constraintOf(T::Horizontal, l),         constraintOf(T::Vertical, p, q),
        constraintOf(T::Tangent, c, l),         constraintOf(T::Tangent, a, c),
        constraintOf(T::Equal, a, c),           constraintOf(T::Equal, l2, l),
        constraintOf(T::Symmetric, p, q, l),    constraintOf(T::Fixed, c),
        constraintOf(T::Distance, l),           constraintOf(T::Distance, p, l),
        constraintOf(T::Distance, l, l2),       constraintOf(T::Distance, a, p),
        constraintOf(T::HorizontalDistance, l), constraintOf(T::VerticalDistance, c, a),
        constraintOf(T::Diameter, a),           constraintOf(T::Angle, l2, l),
    };
    for (const Constraint& k : valid)
        EXPECT_TRUE(constraintOperandsValid(s, k)) << constraintTypeName(k.type);
    EXPECT_FALSE(constraintOperandsValid(s, constraintOf(T::Symmetric, p, q)));
    EXPECT_STREQ(constraintTypeName(T::HorizontalDistance), "Horizontaler Abstand");
    EXPECT_STREQ(constraintTypeName(T(19)), "?");
}
