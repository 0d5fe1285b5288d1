#include "sketch/Solver.h"
#include "sketch/Constraints.h"
#include "sketch/Dof.h"

#include "tests/common/CpuTime.h"
#include "tests/common/RectangleChain.h"
#include "tests/sketch/SolverChecks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

using namespace qor::sketch;
using qor::sketch::fixtures::addRectangle;
using qor::sketch::fixtures::addRectangleChain;
using qor::sketch::fixtures::maxRow;
using qor::sketch::fixtures::perturbPoints;
using T = ConstraintType;
using Ids = std::vector<std::uint32_t>;

namespace {


// A sketch with every kind of constraint on lines, circles and arcs, a construction
// arc and a driven dimension; not yet solved.
Sketch mixedSketch()
{
    Sketch s;
    const int base = int(s.addLineAt(false, 0, 0, 40, 1));
    const int side = int(s.addLineAt(false, 40, 1, 41, 25));
    const int top = int(s.addLineAt(false, 41, 25, 2, 24));
    const int left = int(s.addLineAt(false, 2, 24, 0, 0));
    const int lines[] = {base, side, top, left};
    for (int i = 0; i < 4; ++i)
        s.addConstraint(T::Coincident, s.endPoint(lines[i]), s.startPoint(lines[(i + 1) % 4]), -1,
                        0);
    s.addConstraint(T::Horizontal, base, -1, -1, 0);
    s.addConstraint(T::Perpendicular, base, side, -1, 0);
    s.addConstraint(T::Parallel, base, top, -1, 0);
    s.addConstraint(T::Equal, side, left, -1, 0);
    s.addConstraint(T::Fixed, s.startPoint(base), -1, -1, 0);
    s.addConstraint(T::Distance, base, -1, -1, 42.0);
    s.addConstraint(T::VerticalDistance, side, -1, -1, 22.0);

    const int hole = int(s.addCircleAt(false, 12, 11, 4.5));
    s.addConstraint(T::Radius, hole, -1, -1, 5.0);
    s.addConstraint(T::HorizontalDistance, s.startPoint(base), hole, -1, 11.0);
    const int ring = int(s.addCircleAt(false, 12.5, 11.5, 7));
    s.addConstraint(T::Concentric, hole, ring, -1, 0);
    s.addConstraint(T::Diameter, ring, -1, -1, 15.0);

    const int arc = int(s.addArcAt(false, 30, 12, 35, 12, 30, 17));
    s.addConstraint(T::Tangent, side, arc, -1, 0);
    s.addConstraint(T::Radius, arc, -1, -1, 4.0);
    s.addConstraint(T::VerticalDistance, s.startPoint(base), arc, -1, 12.0);
    const int small = int(s.addCircleAt(false, 30, 19, 1.5));
    s.addConstraint(T::Tangent, arc, small, -1, 0);
    s.addConstraint(T::Vertical, s.findEntity(arc)->a, s.findEntity(small)->a, -1, 0);

    const int axis = int(s.addLineAt(true, 20, -5, 20.5, 30));
    s.addConstraint(T::Vertical, axis, -1, -1, 0);
    const int p = int(s.addPoint(false, 15, 5));
    const int q = int(s.addPoint(false, 24, 6));
    s.addConstraint(T::Symmetric, p, q, axis, 0);
    s.addConstraint(T::PointOnCurve, p, ring, -1, 0);
    const int tick = int(s.addLineAt(false, 5, 30, 9, 33));
    s.addConstraint(T::Midpoint, s.startPoint(tick), top, -1, 0);
    s.addConstraint(T::Angle, base, tick, -1, std::numbers::pi / 3);
    s.addConstraint(T::Distance, tick, -1, -1, 6.0);
    const int along = int(s.addLineAt(false, 3, 1, 9, 2));
    s.addConstraint(T::Collinear, base, along, -1, 0);
    s.addConstraint(T::PointOnCurve, s.endPoint(along), ring, -1, 0);
    const int guide = int(s.addArcAt(true, -10, -10, -5, -10, -10, -4));
    s.addConstraint(T::PointOnCurve, s.startPoint(left), guide, -1, 0);
    s.addConstraint(T::Distance, p, q, -1, 0);
    s.constraints.back().driven = true;
    return s;
}

} // namespace

TEST(SketchSolver, SatisfiedSketchesNeedNoIteration)
{
    Sketch empty;
    SolveResult r;
    solve(r, empty, {});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.dof, 0);

    Sketch s;
    s.addPoint(false, 1, 2);
    s.addCircleAt(false, 5, 5, 2);
    const int line = int(s.addLineAt(false, 0, 0, 10, 0));
    s.addConstraint(T::Horizontal, line, -1, -1, 0.0);
    s.addDimension(T::Distance, line, -1, -1);
    const std::vector<double> before = s.params;
    solve(r, s, {});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.iterations, 0u);
    EXPECT_EQ(r.dof, 2 + 3 + 2); // point, circle, line with two rows
    EXPECT_EQ(s.params, before);
}

TEST(SketchSolver, HorizontalTakesTheSmallestChangeAndKeepsHeldPoints)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 10, 1));
    s.addConstraint(T::Horizontal, line, -1, -1, 0.0);
    Sketch held = s;
    SolveResult r;
    solve(r, s, {});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.dof, 3);
    const Vec2 a = s.pointPosition(s.startPoint(line));
    const Vec2 b = s.pointPosition(s.endPoint(line));
    EXPECT_NEAR(a.y, 0.5, 1e-9);
    EXPECT_NEAR(b.y, 0.5, 1e-9);
    EXPECT_NEAR(a.x, 0.0, 1e-12);
    EXPECT_NEAR(b.x, 10.0, 1e-12);

    // Held start (indices outside the vector ignored): the end does all the moving.
    const Entity* start = held.findEntity(held.startPoint(line));
    solve(r, held, {start->p0, start->p1, 99, -4});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(held.pointPosition(held.startPoint(line)).y, 0.0);
    EXPECT_NEAR(held.pointPosition(held.endPoint(line)).y, 0.0, 1e-9);
}

TEST(SketchSolver, FailedSolveLeavesSketchAndNamesTheViolatedConstraints)
{
    Sketch s;
    const int p = int(s.addPoint(false, 0, 0));
    const int q = int(s.addPoint(false, 12, 0));
    const int other = int(s.addLineAt(false, 0, 5, 3, 9));
    s.addConstraint(T::Horizontal, other, -1, -1, 0);
    const std::uint32_t d10 = s.addConstraint(T::Distance, p, q, -1, 10.0);
    const std::uint32_t d20 = s.addConstraint(T::Distance, p, q, -1, 20.0);
    const std::vector<double> before = s.params;
    SolveResult r;
    solve(r, s, {});
    EXPECT_FALSE(r.ok);
    EXPECT_GT(r.maxResidual, 1.0);
    EXPECT_EQ(s.params, before);
    EXPECT_EQ(r.failedIds, (Ids{d10, d20}));

    // A Fixiert point asked to coincide with another Fixiert point never moves.
    Sketch fixed;
    const int line = int(fixed.addLineAt(false, 1, 2, 8, 5));
    const int start = fixed.startPoint(line);
    fixed.addConstraint(T::Fixed, start, -1, -1, 0.0);
    fixed.addConstraint(T::Vertical, line, -1, -1, 0.0);
    fixed.addConstraint(T::Distance, line, -1, -1, 4.0);
    solve(r, fixed, {});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.dof, 0);
    EXPECT_EQ(fixed.pointPosition(start).y, 2.0);
    EXPECT_NEAR(fixed.pointPosition(fixed.endPoint(line)).y, 6.0, 1e-7);
    const int far = int(fixed.addPoint(false, 50, 50));
    fixed.addConstraint(T::Fixed, far, -1, -1, 0.0);
    const std::uint32_t clash = fixed.addConstraint(T::Coincident, start, far, -1, 0.0);
    solve(r, fixed, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.iterations, 0u); // no variable can change the clash
    EXPECT_EQ(r.failedIds, Ids{clash});
    EXPECT_EQ(fixed.pointPosition(start).x, 1.0);
}

TEST(SketchSolver, NonFiniteDimensionFailsCleanly)
{
    const double inf = std::numeric_limits<double>::infinity();
    for (double value : {inf, -inf, std::numeric_limits<double>::quiet_NaN(), 1e300}) {
        SCOPED_TRACE(value);
        Sketch s;
        const int a = int(s.addLineAt(false, 0, 0, 10, 0));
        const int b = int(s.addLineAt(false, 0, 0, 5, 5));
        const std::uint32_t angle = s.addConstraint(T::Angle, a, b, -1, value);
        const std::uint32_t length = s.addConstraint(T::Distance, a, -1, -1, value);
        const std::vector<double> before = s.params;
        const double started = qor::test::cpuSeconds();
        SolveResult r;
        solve(r, s, {});
        EXPECT_LT(qor::test::cpuSeconds() - started, 5.0);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(s.params, before);
        EXPECT_NE(std::count(r.failedIds.begin(), r.failedIds.end(), length), 0);
        if (!std::isfinite(value)) {
            EXPECT_EQ(r.iterations, 0u);
            EXPECT_NE(std::count(r.failedIds.begin(), r.failedIds.end(), angle), 0);
        }
        // The analysis stays defined: the broken rows carry no direction.
        DofResult dof;
        analyzeDof(dof, s, nullptr);
        EXPECT_GE(dof.dof, 0);
        EXPECT_EQ(r.dof, dof.dof);
    }
}

TEST(SketchSolver, JacobianMatchesAnalyticDerivatives)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 3, 4));
    s.addArcAt(false, 0, 0, 5, 0, 0, 5);
    s.addConstraint(T::Distance, line, -1, -1, 7.0);
    const System system = buildSystem(s);
    for (const Entity& e : s.entities) {
        const std::vector<int> params = s.paramsOf(int(e.id));
        EXPECT_EQ(system.paramsOf(int(e.id)), Ids(params.begin(), params.end()));
    }
    const Ids variables = unknownParams(system, {0, 1000, -1});
    ASSERT_EQ(variables.size(), s.params.size() - 1);
    const Eigen::MatrixXd j
        = numericJacobian(system, s.params, variables, columnMap(variables, s.params.size()));
    ASSERT_EQ(j.rows(), 2);
    // Length row of the line from (0,0) to (3,4) by start y, end x, end y.
    EXPECT_NEAR(j(0, 0), -0.8, 1e-8);
    EXPECT_NEAR(j(0, 1), 0.6, 1e-8);
    EXPECT_NEAR(j(0, 2), 0.8, 1e-8);
    EXPECT_EQ(j(0, 3), 0.0);
}

TEST(SketchSolver, EveryConstraintKindIsMetTogether)
{
    Sketch s = mixedSketch();
    SolveResult r;
    solve(r, s, {});
    ASSERT_TRUE(r.ok);
    EXPECT_LE(maxRow(s), 1e-7);
    EXPECT_GT(r.dof, 0);
    for (const Constraint& c : s.constraints)
        if (isDimensional(c.type) && !c.driven)
            EXPECT_NEAR(measureConstraint(s, c), c.value, 1e-6) << constraintTypeName(c.type);

    // Identical constraints make the damped row matrix nearly singular.
    Sketch twice;
    const int line = int(twice.addLineAt(false, 0, 0, 10, 3));
    for (int i = 0; i < 3; ++i)
        twice.addConstraint(T::Vertical, line, -1, -1, 0);
    twice.addConstraint(T::Distance, line, -1, -1, 5.0);
    solve(r, twice, {});
    ASSERT_TRUE(r.ok);
    const Vec2 start = twice.pointPosition(twice.startPoint(line));
    const Vec2 end = twice.pointPosition(twice.endPoint(line));
    EXPECT_NEAR(start.x, end.x, 1e-7);
    EXPECT_NEAR((end - start).length(), 5.0, 1e-7);
}

TEST(SketchSolver, ArcEndIsPulledOntoItsCircle)
{
    Sketch s;
    const int c = int(s.addPoint(false, 0, 0));
    const int a = int(s.addPoint(false, 10, 0));
    const int b = int(s.addPoint(false, 0, 7));
    s.addArc(c, a, b, false);
    SolveResult r;
    solve(r, s, {});
    ASSERT_TRUE(r.ok);
    const Vec2 centre = s.pointPosition(c);
    EXPECT_NEAR((s.pointPosition(a) - centre).length(), (s.pointPosition(b) - centre).length(),
                1e-7);
    EXPECT_EQ(r.dof, 5);
}

TEST(SketchSolver, RectanglesSolveFromPerturbedStart)
{
    Sketch chain;
    addRectangleChain(chain, 100, true);
    perturbPoints(chain, 0.4);
    SolveResult r;
    solve(r, chain, {});
    ASSERT_TRUE(r.ok);
    EXPECT_LE(r.iterations, 20u);
    EXPECT_LE(maxRow(chain), 1e-7);
    EXPECT_EQ(r.dof, 0);

    // Over-determined by a wrong diagonal: the sketch stays and the clash is named.
    Sketch clash;
    const auto rect = addRectangle(clash, 0, 0, 30, 20);
    perturbPoints(clash, 0.2);
    const std::uint32_t diagonal
        = clash.addConstraint(T::Distance, rect.corners[0], rect.corners[2], -1, 40.0);
    const std::vector<double> before = clash.params;
    solve(r, clash, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(clash.params, before);
    EXPECT_NE(std::count(r.failedIds.begin(), r.failedIds.end(), diagonal), 0);
}
