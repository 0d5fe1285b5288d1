#include "sketch/Dof.h"
#include "sketch/Solver.h"

#include "tests/common/RectangleChain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

using namespace qor::sketch;
using qor::sketch::fixtures::addRectangle;
using qor::sketch::fixtures::addRectangleChain;
using qor::sketch::fixtures::perturbPoints;

namespace {

double maxRow(const Sketch& s)
{
    const System system = buildSystem(s);
    Eigen::VectorXd r;
    system.residuals(s.params, r);
    return r.size() ? r.cwiseAbs().maxCoeff() : 0.0;
}

bool allFinite(const std::vector<double>& v)
{
    return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

} // namespace

TEST(SketchSolver, UnconstrainedSketchesNeedNoIteration)
{
    Sketch empty;
    SolveResult r;
    solve(r, empty, {});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.iterations, 0u);
    EXPECT_EQ(r.maxResidual, 0.0);
    EXPECT_EQ(r.dof, 0);
    EXPECT_TRUE(r.failedIds.empty());

    Sketch s;
    s.addPoint(false, 1, 2);
    s.addLineAt(false, 0, 0, 10, 0);
    s.addCircleAt(false, 5, 5, 2);
    const std::vector<double> before = s.params;
    solve(r, s, {});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.iterations, 0u);
    EXPECT_EQ(r.maxResidual, 0.0);
    EXPECT_EQ(r.dof, 2 * 4 + 1); // four points, one circle
    EXPECT_EQ(s.params, before);
}

TEST(SketchSolver, SatisfiedConstraintsWriteBackUnchanged)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 10, 0));
    s.addConstraint(ConstraintType::Horizontal, line, -1, -1, 0.0);
    s.addDimension(ConstraintType::Distance, line, -1, -1);
    const std::vector<double> before = s.params;
    SolveResult r;
    solve(r, s, {});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.iterations, 0u);
    EXPECT_EQ(s.params, before);
    EXPECT_EQ(r.dof, 2);
}

TEST(SketchSolver, HorizontalTakesTheSmallestChange)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 10, 1));
    s.addConstraint(ConstraintType::Horizontal, line, -1, -1, 0.0);
    SolveResult r;
    solve(r, s, {});
    ASSERT_TRUE(r.ok);
    EXPECT_GE(r.iterations, 1u);
    EXPECT_LE(r.maxResidual, 1e-7);
    const Vec2 a = s.pointPosition(s.startPoint(line));
    const Vec2 b = s.pointPosition(s.endPoint(line));
    EXPECT_NEAR(a.y, b.y, 1e-9);
    EXPECT_NEAR(a.y, 0.5, 1e-9);
    EXPECT_NEAR(b.y, 0.5, 1e-9);
    EXPECT_NEAR(a.x, 0.0, 1e-12);
    EXPECT_NEAR(b.x, 10.0, 1e-12);
    EXPECT_EQ(r.dof, 3);

    // The same constraint twice makes the row system singular but not the step.
    Sketch twice;
    const int line3 = int(twice.addLineAt(false, 0, 0, 10, 1));
    twice.addConstraint(ConstraintType::Horizontal, line3, -1, -1, 0.0);
    twice.addConstraint(ConstraintType::Horizontal, line3, -1, -1, 0.0);
    solve(r, twice, {});
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(twice.pointPosition(twice.startPoint(line3)).y, 0.5, 1e-9);
    EXPECT_NEAR(twice.pointPosition(twice.endPoint(line3)).y, 0.5, 1e-9);
    EXPECT_EQ(r.dof, 3);

    // Held start: it stays exactly where it is and the end does all the moving.
    Sketch held;
    const int line2 = int(held.addLineAt(false, 0, 0, 10, 1));
    held.addConstraint(ConstraintType::Horizontal, line2, -1, -1, 0.0);
    const Entity* start = held.findEntity(held.startPoint(line2));
    solve(r, held, {start->p0, start->p1, 99, -4});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(held.pointPosition(held.startPoint(line2)).x, 0.0);
    EXPECT_EQ(held.pointPosition(held.startPoint(line2)).y, 0.0);
    EXPECT_NEAR(held.pointPosition(held.endPoint(line2)).y, 0.0, 1e-9);
    EXPECT_NEAR(held.pointPosition(held.endPoint(line2)).x, 10.0, 1e-12);
}

TEST(SketchSolver, ContradictionLeavesSketchAndNamesConstraints)
{
    Sketch s;
    const int p = int(s.addPoint(false, 0, 0));
    const int q = int(s.addPoint(false, 12, 0));
    const int other = int(s.addLineAt(false, 0, 5, 3, 9));
    const std::uint32_t horizontal = s.addConstraint(ConstraintType::Horizontal, other, -1, -1, 0);
    const std::uint32_t d10 = s.addConstraint(ConstraintType::Distance, p, q, -1, 10.0);
    const std::uint32_t d20 = s.addConstraint(ConstraintType::Distance, p, q, -1, 20.0);
    const std::vector<double> before = s.params;
    SolveResult r;
    solve(r, s, {});
    EXPECT_FALSE(r.ok);
    EXPECT_GT(r.maxResidual, 1.0);
    EXPECT_LE(r.iterations, 200u);
    EXPECT_EQ(s.params, before);
    EXPECT_EQ(r.failedIds, (std::vector<std::uint32_t>{d10, d20}));
    EXPECT_EQ(std::count(r.failedIds.begin(), r.failedIds.end(), horizontal), 0);
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
    EXPECT_LE(maxRow(s), 1e-7);
    EXPECT_EQ(r.dof, 5);
}

TEST(SketchSolver, FixedPointNeverMoves)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 1, 2, 8, 5));
    const int start = s.startPoint(line);
    s.addConstraint(ConstraintType::Fixed, start, -1, -1, 0.0);
    s.addConstraint(ConstraintType::Vertical, line, -1, -1, 0.0);
    s.addConstraint(ConstraintType::Distance, line, -1, -1, 4.0);
    SolveResult r;
    solve(r, s, {});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(s.pointPosition(start).x, 1.0);
    EXPECT_EQ(s.pointPosition(start).y, 2.0);
    const Vec2 end = s.pointPosition(s.endPoint(line));
    EXPECT_NEAR(end.x, 1.0, 1e-7);
    EXPECT_NEAR(end.y, 6.0, 1e-7);
    EXPECT_EQ(r.dof, 0);

    // A point that is both Fixiert and asked to coincide with a fixed other point
    // elsewhere cannot move: the solve fails instead.
    const int far = int(s.addPoint(false, 50, 50));
    s.addConstraint(ConstraintType::Fixed, far, -1, -1, 0.0);
    const std::uint32_t clash = s.addConstraint(ConstraintType::Coincident, start, far, -1, 0.0);
    solve(r, s, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.iterations, 0u); // no variable can change the clash
    EXPECT_EQ(r.failedIds, std::vector<std::uint32_t>{clash});
    EXPECT_EQ(s.pointPosition(start).x, 1.0);
}

TEST(SketchSolver, NonFiniteDimensionFailsCleanly)
{
    const double values[] = {std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(), 1e300};
    for (double value : values) {
        Sketch s;
        const int a = int(s.addLineAt(false, 0, 0, 10, 0));
        const int b = int(s.addLineAt(false, 0, 0, 5, 5));
        const std::uint32_t angle = s.addConstraint(ConstraintType::Angle, a, b, -1, value);
        const std::uint32_t length = s.addConstraint(ConstraintType::Distance, a, -1, -1, value);
        const std::vector<double> before = s.params;
        const auto started = std::chrono::steady_clock::now();
        SolveResult r;
        solve(r, s, {});
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_FALSE(r.ok) << value;
        EXPECT_EQ(s.params, before) << value;
        EXPECT_TRUE(allFinite(s.params));
        EXPECT_FALSE(r.maxResidual <= 1e-7);
        EXPECT_NE(std::count(r.failedIds.begin(), r.failedIds.end(), length), 0) << value;
        if (!std::isfinite(value)) {
            EXPECT_EQ(r.iterations, 0u);
            EXPECT_TRUE(std::isinf(r.maxResidual));
            EXPECT_NE(std::count(r.failedIds.begin(), r.failedIds.end(), angle), 0) << value;
        }
        // The analysis stays defined: the broken rows carry no direction.
        DofResult dof;
        analyzeDof(dof, s, nullptr);
        EXPECT_GE(dof.dof, 0);
        EXPECT_LE(dof.dof, 8);
        EXPECT_EQ(r.dof, dof.dof);
    }
}

TEST(SketchSolver, SystemBlocksRowsAndJacobian)
{
    Sketch s;
    const int p = int(s.addPoint(false, 1, 2));
    const int q = int(s.addPoint(false, 4, 6));
    const int line = int(s.addLineAt(false, 0, 0, 3, 4));
    s.addArcAt(false, 0, 0, 5, 0, 0, 5);
    const std::uint32_t coincident = s.addConstraint(ConstraintType::Coincident, p, q, -1, 0);
    s.addConstraint(ConstraintType::Fixed, q, -1, -1, 0);
    const std::uint32_t length = s.addConstraint(ConstraintType::Distance, line, -1, -1, 7.0);
    Constraint driven;
    driven.type = ConstraintType::Distance;
    driven.a = line;
    driven.driven = true;
    s.constraints.push_back(driven);

    const System system = buildSystem(s);
    ASSERT_EQ(system.blocks.size(), 3u); // Fixiert and the driven dimension give none
    EXPECT_EQ(system.rows, 4);
    EXPECT_EQ(system.blocks[0].constraintId, std::int32_t(coincident));
    EXPECT_EQ(system.blocks[0].params, (std::vector<std::uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(system.blocks[1].constraintId, std::int32_t(length));
    EXPECT_EQ(system.blocks[1].rowOffset, 2);
    EXPECT_EQ(system.blocks[2].constraintId, -1);
    EXPECT_NE(system.blocks[2].arc, nullptr);
    EXPECT_EQ(system.blocks[2].params.size(), 6u);

    Eigen::VectorXd r;
    system.residuals(s.params, r);
    ASSERT_EQ(r.size(), 4);
    EXPECT_DOUBLE_EQ(r[0], -3.0);
    EXPECT_DOUBLE_EQ(r[1], -4.0);
    EXPECT_DOUBLE_EQ(r[2], 5.0 - 7.0);
    EXPECT_NEAR(r[3], 0.0, 1e-12);

    // The dependency lists agree with the store's own lookup.
    for (const Entity& e : s.entities) {
        std::vector<std::uint32_t> expected;
        for (int i : s.paramsOf(int(e.id)))
            expected.push_back(std::uint32_t(i));
        EXPECT_EQ(system.paramsOf(int(e.id)), expected);
    }

    const std::vector<std::uint32_t> variables = unknownParams(system, {4, 1000, -1});
    // q's parameters are fixed, index 4 (the line's start x) is held.
    EXPECT_EQ(std::count(variables.begin(), variables.end(), 2u), 0);
    EXPECT_EQ(std::count(variables.begin(), variables.end(), 3u), 0);
    EXPECT_EQ(std::count(variables.begin(), variables.end(), 4u), 0);
    EXPECT_EQ(variables.size(), s.params.size() - 3);
    EXPECT_TRUE(std::is_sorted(variables.begin(), variables.end()));

    const Eigen::MatrixXd j = numericJacobian(system, s.params, variables,
                                              columnMap(variables, s.params.size()));
    ASSERT_EQ(j.rows(), 4);
    ASSERT_EQ(j.cols(), Eigen::Index(variables.size()));
    EXPECT_NEAR(j(0, 0), 1.0, 1e-8); // d(p.x - q.x)/d p.x
    EXPECT_NEAR(j(1, 1), 1.0, 1e-8);
    EXPECT_EQ(j(0, 1), 0.0);
    // Length row of the line from (0,0) to (3,4): derivative by end x is 3/5, by
    // start y (column 2: start y is index 5) is -4/5.
    EXPECT_NEAR(j(2, 2), -0.8, 1e-8);
    EXPECT_NEAR(j(2, 3), 0.6, 1e-8);
    EXPECT_NEAR(j(2, 4), 0.8, 1e-8);
    EXPECT_EQ(j(0, 2), 0.0);
}

TEST(SketchSolver, RectangleChainSolvesFromPerturbedStart)
{
    Sketch s;
    addRectangleChain(s, 100, true);
    perturbPoints(s, 0.4);
    SolveResult r;
    solve(r, s, {});
    ASSERT_TRUE(r.ok);
    EXPECT_LE(r.iterations, 20u);
    EXPECT_LE(maxRow(s), 1e-7);
    EXPECT_EQ(r.dof, 0);
    EXPECT_TRUE(r.failedIds.empty());
}
