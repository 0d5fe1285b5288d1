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

namespace {

constexpr double pi = std::numbers::pi;

std::vector<double> rowsOf(const Sketch& s, const Constraint& c)
{
    std::vector<double> rows;
    constraintResiduals(ParamView{&s, &s.params}, c, rows);
    return rows;
}

// A line through two fresh unowned points.
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
    const int l = line(s, 0, 1, 10, 3);
    const int flat = line(s, 0, 0, 10, 0);
    const int up = line(s, 0, 0, 0, 5);
    const int dot = line(s, 2, 2, 2, 2); // zero length

    EXPECT_EQ(rowsOf(s, constraintOf(T::Coincident, p, q)), (std::vector<double>{-3, -4}));

    // Horizontal and vertical: line start minus end, or first point minus second.
    EXPECT_EQ(rowsOf(s, constraintOf(T::Horizontal, l)), std::vector<double>{-2});
    EXPECT_EQ(rowsOf(s, constraintOf(T::Horizontal, p, q)), std::vector<double>{-4});
    EXPECT_EQ(rowsOf(s, constraintOf(T::Vertical, l)), std::vector<double>{-10});
    EXPECT_EQ(rowsOf(s, constraintOf(T::Vertical, p, q)), std::vector<double>{-3});

    // Point on a line: signed, positive to the left of start -> end.
    auto rows = rowsOf(s, constraintOf(T::PointOnCurve, q, flat));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_DOUBLE_EQ(rows[0], 6.0);
    rows = rowsOf(s, constraintOf(T::PointOnCurve, q, up));
    EXPECT_DOUBLE_EQ(rows[0], -4.0);
    // A line shorter than 1e-12 measures the distance from its end, never negative.
    rows = rowsOf(s, constraintOf(T::PointOnCurve, q, dot));
    EXPECT_DOUBLE_EQ(rows[0], std::hypot(2.0, 4.0));

    rows = rowsOf(s, constraintOf(T::Parallel, flat, l));
    EXPECT_DOUBLE_EQ(rows[0], 20.0 / (10.0 * std::hypot(10.0, 2.0)));
    rows = rowsOf(s, constraintOf(T::Perpendicular, flat, up));
    EXPECT_DOUBLE_EQ(rows[0], 0.0);
    rows = rowsOf(s, constraintOf(T::Perpendicular, flat, l));
    EXPECT_DOUBLE_EQ(rows[0], 100.0 / (10.0 * std::hypot(10.0, 2.0)));

    // Tiny lines divide by 1e-12, not by their tiny length product.
    const int tx = line(s, 0, 0, 1e-7, 0);
    const int ty = line(s, 0, 0, 0, 1e-7);
    rows = rowsOf(s, constraintOf(T::Parallel, tx, ty));
    EXPECT_NEAR(rows[0], 1e-14 / 1e-12, 1e-12);
    rows = rowsOf(s, constraintOf(T::Parallel, dot, flat));
    EXPECT_EQ(rows[0], 0.0);

    // Collinear: one row per end of the second line, from the line through the first.
    const int shifted = line(s, 3, 2, 6, -1);
    EXPECT_EQ(rowsOf(s, constraintOf(T::Collinear, flat, shifted)),
              (std::vector<double>{2, -1}));

    const int m = point(s, 5, 1);
    EXPECT_EQ(rowsOf(s, constraintOf(T::Midpoint, m, flat)), (std::vector<double>{0, 1}));

    EXPECT_EQ(rowsOf(s, constraintOf(T::Equal, flat, up)), std::vector<double>{5});
    EXPECT_TRUE(rowsOf(s, constraintOf(T::Fixed, flat)).empty());
}

TEST(ConstraintRows, SymmetricAboutALine)
{
    Sketch s;
    const int axis = line(s, 0, 0, 2, 2); // the diagonal y = x, length 2 sqrt 2
    const int p = point(s, 1, 4);
    const int q = point(s, 4, 1);
    auto rows = rowsOf(s, constraintOf(T::Symmetric, p, q, axis));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NEAR(rows[0], 0.0, 1e-12);
    EXPECT_NEAR(rows[1], 0.0, 1e-12);

    // Off the mirror: the second row is the offset along the axis, per unit length.
    s.setPointPosition(q, 6, 3);
    rows = rowsOf(s, constraintOf(T::Symmetric, p, q, axis));
    EXPECT_NEAR(rows[0], 0.0, 1e-12);
    EXPECT_NEAR(rows[1], (5.0 * 2 - 1.0 * 2) / std::hypot(2.0, 2.0), 1e-12);
}

TEST(ConstraintRows, CircularEntities)
{
    Sketch s;
    const int big = int(s.addCircleAt(false, 0, 0, 3));
    const int small = int(s.addCircleAt(false, 4, 0, 1));
    auto external = constraintOf(T::Tangent, big, small, -1, 0);
    auto internal = constraintOf(T::Tangent, big, small, -1, 1);
    EXPECT_EQ(rowsOf(s, external), std::vector<double>{0});
    EXPECT_EQ(rowsOf(s, internal), std::vector<double>{2});

    // Line and circle, named either way round.
    const int l = line(s, -5, 5, 5, 5);
    EXPECT_EQ(rowsOf(s, constraintOf(T::Tangent, l, big)), std::vector<double>{2});
    EXPECT_EQ(rowsOf(s, constraintOf(T::Tangent, big, l)), std::vector<double>{2});

    // Arcs measure their radius from centre to start, whatever the end says.
    const int a1 = int(s.addArcAt(false, 0, 0, 3, 4, -5, 0));
    const int a2 = int(s.addArcAt(false, 10, 10, 12, 10, 10, 12));
    s.setPointPosition(s.endPoint(a2), 10, 30);
    EXPECT_EQ(rowsOf(s, constraintOf(T::Equal, a1, a2)), std::vector<double>{3});
    EXPECT_EQ(rowsOf(s, constraintOf(T::Equal, big, a2)), std::vector<double>{1});
    EXPECT_EQ(rowsOf(s, constraintOf(T::Concentric, small, a2)),
              (std::vector<double>{-6, -10}));
    EXPECT_EQ(rowsOf(s, constraintOf(T::Radius, a1, -1, -1, 4)), std::vector<double>{1});
    EXPECT_EQ(rowsOf(s, constraintOf(T::Diameter, big, -1, -1, 4)), std::vector<double>{2});

    const int p = point(s, 0, 7);
    EXPECT_EQ(rowsOf(s, constraintOf(T::PointOnCurve, p, a1)), std::vector<double>{2});
    EXPECT_EQ(rowsOf(s, constraintOf(T::PointOnCurve, p, big)), std::vector<double>{4});

    // The arc row keeps the end on the circle through the start.
    ParamView view{&s, &s.params};
    EXPECT_DOUBLE_EQ(arcResidual(view, *s.findEntity(a1)), 0.0);
    EXPECT_DOUBLE_EQ(arcResidual(view, *s.findEntity(a2)), 20.0 - 2.0);
}

TEST(ConstraintRows, Distances)
{
    Sketch s;
    const int l = line(s, 0, 0, 3, 4);
    const int p = point(s, 0, 10);
    const int far = line(s, 10, 0, 13, 4);
    const int c = int(s.addCircleAt(false, 6, 18, 1));

    EXPECT_EQ(rowsOf(s, constraintOf(T::Distance, l, -1, -1, 2)), std::vector<double>{3});
    // Point to line, then line to line, both unsigned.
    EXPECT_DOUBLE_EQ(rowsOf(s, constraintOf(T::Distance, p, l))[0], 6.0);
    EXPECT_DOUBLE_EQ(rowsOf(s, constraintOf(T::Distance, l, far))[0], 8.0);
    EXPECT_DOUBLE_EQ(rowsOf(s, constraintOf(T::Distance, far, l))[0], 8.0);
    EXPECT_DOUBLE_EQ(rowsOf(s, constraintOf(T::Distance, p, c, -1, 1))[0], 9.0);

    EXPECT_EQ(rowsOf(s, constraintOf(T::HorizontalDistance, l, -1, -1, 1)),
              std::vector<double>{2});
    EXPECT_EQ(rowsOf(s, constraintOf(T::VerticalDistance, l)), std::vector<double>{4});
    EXPECT_EQ(rowsOf(s, constraintOf(T::HorizontalDistance, c, p)), std::vector<double>{6});
    EXPECT_EQ(rowsOf(s, constraintOf(T::VerticalDistance, c, p)), std::vector<double>{8});

    // A driven dimension gives no row but still measures.
    auto driven = constraintOf(T::Distance, p, c, -1, 100);
    driven.driven = true;
    EXPECT_TRUE(rowsOf(s, driven).empty());
    EXPECT_DOUBLE_EQ(measureConstraint(s, driven), 10.0);
    EXPECT_EQ(driven.value, 100.0);
    EXPECT_TRUE(driven.driven);
    // Geometric kinds ignore the flag.
    auto coincident = constraintOf(T::Coincident, p, 1);
    coincident.driven = true;
    EXPECT_EQ(rowsOf(s, coincident).size(), 2u);
    EXPECT_EQ(measureConstraint(s, coincident), 0.0);
    EXPECT_EQ(measureConstraint(s, constraintOf(T::Vertical, p, 1, -1, 5)), 0.0);
    EXPECT_EQ(measureConstraint(s, constraintOf(T::Horizontal, p, 1, -1, 5)), 10.0);
    EXPECT_EQ(measureConstraint(s, constraintOf(T::Diameter, c)), 2.0);
    EXPECT_EQ(measureConstraint(s, constraintOf(T::Fixed, c)), 0.0);
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
    EXPECT_NEAR(rowsOf(s, constraintOf(T::Angle, east, north, -1, pi / 2 + 4 * pi))[0], 0.0,
                1e-12);

    // Huge and non-finite values must come back, not step forever.
    for (double value : {1e7, -1e7, 1e300, -1e300}) {
        const auto rows = rowsOf(s, constraintOf(T::Angle, east, north, -1, value));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_LE(std::fabs(rows[0]), pi) << value;
        // The wrapped row differs from the plain difference by whole turns.
        const double turns = (pi / 2 - value - rows[0]) / (2 * pi);
        if (std::fabs(value) < 1e15)
            EXPECT_NEAR(turns, std::round(turns), 1e-6) << value;
    }
    for (double value : {std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN()}) {
        const auto rows = rowsOf(s, constraintOf(T::Angle, east, north, -1, value));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_FALSE(std::isfinite(rows[0])) << value;
    }
}

TEST(ConstraintRows, ReadFromTheTrialVector)
{
    Sketch s;
    const int l = line(s, 0, 0, 10, 0);
    const int c = int(s.addCircleAt(false, 0, 0, 2));
    std::vector<double> trial = s.params;
    trial[3] = 5;  // end y
    trial[6] = 7;  // radius
    ParamView view{&s, &trial};
    const Entity& le = *s.findEntity(l);
    EXPECT_EQ(view.lineEnds(le), (std::array<double, 4>{0, 0, 10, 5}));
    EXPECT_DOUBLE_EQ(view.length(le), std::hypot(10.0, 5.0));
    EXPECT_EQ(view.length(*s.findEntity(c)), 7.0);
    EXPECT_EQ(view.point(*s.findEntity(2)).y, 5.0);

    std::vector<double> rows{42};
    constraintResiduals(view, constraintOf(T::Horizontal, l), rows);
    constraintResiduals(view, constraintOf(T::Radius, c, -1, -1, 2), rows);
    EXPECT_EQ(rows, (std::vector<double>{42, -5, 5}));
    EXPECT_EQ(s.params[3], 0.0);

    EXPECT_DOUBLE_EQ(signedLineDistance(0, 1, 0, 0, 1, 0), 1.0);
    EXPECT_DOUBLE_EQ(signedLineDistance(0, -1, 0, 0, 1, 0), -1.0);
    EXPECT_DOUBLE_EQ(signedLineDistance(3, 4, 0, 0, 0, 0), 5.0);
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
    };
    for (const Constraint& k : wrongKinds) {
        EXPECT_TRUE(rowsOf(s, k).empty()) << constraintTypeName(k.type) << " " << k.a << " " << k.b;
        EXPECT_FALSE(constraintOperandsValid(s, k)) << constraintTypeName(k.type);
    }
    // Right kinds, but a line end or a point's parameters are missing.
    const Constraint brokenGeometry[] = {
        constraintOf(T::Coincident, p, 50),
        constraintOf(T::Horizontal, broken),
        constraintOf(T::PointOnCurve, p, broken),
        constraintOf(T::Angle, l, broken),
        constraintOf(T::Distance, broken),
    };
    for (const Constraint& k : brokenGeometry) {
        EXPECT_TRUE(constraintOperandsValid(s, k)) << constraintTypeName(k.type);
        EXPECT_TRUE(rowsOf(s, k).empty()) << constraintTypeName(k.type);
    }
    EXPECT_EQ(measureConstraint(s, constraintOf(T::Distance, l, p)), 0.0);
    EXPECT_EQ(arcResidual(ParamView{&s, &s.params}, *s.findEntity(broken)), 0.0);

    // A trial vector shorter than the sketch's parameters is not read past its end.
    std::vector<double> shortTrial(2, 0.0);
    std::vector<double> rows;
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
    const auto valid = [&](T type, int x, int y = -1, int z = -1) {
        return constraintOperandsValid(s, constraintOf(type, x, y, z));
    };
    EXPECT_TRUE(valid(T::PointOnCurve, p, a) && valid(T::PointOnCurve, p, l));
    EXPECT_TRUE(valid(T::Horizontal, l) && valid(T::Vertical, p, q));
    EXPECT_TRUE(valid(T::Tangent, c, l) && valid(T::Tangent, a, c));
    EXPECT_TRUE(valid(T::Equal, a, c) && valid(T::Equal, l2, l));
    EXPECT_TRUE(valid(T::Symmetric, p, q, l));
    EXPECT_FALSE(valid(T::Symmetric, p, q));
    EXPECT_TRUE(valid(T::Fixed, c));
    EXPECT_TRUE(valid(T::Distance, l) && valid(T::Distance, p, l) && valid(T::Distance, l, l2)
                && valid(T::Distance, a, p));
    EXPECT_TRUE(valid(T::HorizontalDistance, l) && valid(T::VerticalDistance, c, a));
    EXPECT_FALSE(valid(T::HorizontalDistance, l, l2));
    EXPECT_TRUE(valid(T::Diameter, a) && valid(T::Angle, l2, l));

    EXPECT_STREQ(constraintTypeName(T::HorizontalDistance), "Horizontaler Abstand");
    EXPECT_STREQ(constraintTypeName(T(19)), "?");
    EXPECT_TRUE(isDimensional(T::Distance) && isDimensional(T::Angle));
    EXPECT_FALSE(isDimensional(T::Fixed) || isDimensional(T(19)));
}
