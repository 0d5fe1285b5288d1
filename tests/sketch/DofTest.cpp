#include "sketch/Dof.h"
#include "sketch/Solver.h"

#include "tests/common/RectangleChain.h"

#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::sketch;
using qor::test::constraintOf;
using qor::sketch::fixtures::addRectangle;
using qor::sketch::fixtures::addRectangleChain;
using qor::sketch::fixtures::perturbPoints;

namespace {

int dofOf(const Sketch& s, std::vector<bool>* determined = nullptr)
{
    DofResult out;
    analyzeDof(out, s, determined);
    return out.dof;
}

SparseJacobian jacobianOf(const Sketch& s)
{
    const System system = buildSystem(s);
    const auto variables = unknownParams(system, {});
    return sparseJacobian(system, s.params, variables, columnMap(variables, s.params.size()));
}

void expectSameAsDense(const SparseJacobian& j)
{
    const JacobianRank fast = jacobianRank(j, true);
    const JacobianRank dense = jacobianRank(j, true, RankMethod::DenseSvd);
    EXPECT_EQ(fast.rank, dense.rank);
    ASSERT_EQ(fast.nullWeight.size(), dense.nullWeight.size());
    for (Eigen::Index k = 0; k < fast.nullWeight.size(); ++k) {
        EXPECT_NEAR(fast.nullWeight[k], dense.nullWeight[k], 1e-6) << k;
        EXPECT_EQ(fast.nullWeight[k] > 1e-10, dense.nullWeight[k] > 1e-10) << k;
    }
    EXPECT_EQ(jacobianRank(j, false).rank, dense.rank);
}

} // namespace

TEST(SketchDof, PointsAndCoincidence)
{
    Sketch s;
    const int p = int(s.addPoint(false, 3, 4));
    std::vector<bool> determined;
    EXPECT_EQ(dofOf(s, &determined), 2);
    EXPECT_EQ(determined, (std::vector<bool>{false, false}));
    EXPECT_FALSE(isEntityDetermined(s, std::uint32_t(p), determined));

    s.addConstraint(ConstraintType::Fixed, p, -1, -1, 0);
    EXPECT_EQ(dofOf(s, &determined), 0);
    EXPECT_EQ(determined, (std::vector<bool>{true, true}));
    EXPECT_TRUE(isEntityDetermined(s, std::uint32_t(p), determined));
    EXPECT_TRUE(isEntityDetermined(s, 999, determined)); // no parameters to check

    Sketch two;
    const int a = int(two.addPoint(false, 0, 0));
    const int b = int(two.addPoint(false, 1, 1));
    two.addConstraint(ConstraintType::Coincident, a, b, -1, 0);
    EXPECT_EQ(dofOf(two, &determined), 2);
    EXPECT_EQ(determined, (std::vector<bool>(4, false)));
    EXPECT_EQ(jacobianRank(jacobianOf(two), false).rank, 2);

    Sketch free;
    free.addPoint(false, 1, 1);
    free.addLineAt(false, 0, 0, 4, 4);
    free.addLineAt(true, 1, 0, 1, 9);
    EXPECT_EQ(dofOf(free, &determined), 10);
    EXPECT_EQ(std::count(determined.begin(), determined.end(), true), 0);
}

TEST(SketchDof, DeterminedLine)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 10, 0));
    const int start = s.startPoint(line);
    const int end = s.endPoint(line);
    s.addConstraint(ConstraintType::Fixed, start, -1, -1, 0);
    s.addConstraint(ConstraintType::Horizontal, line, -1, -1, 0);
    std::vector<bool> determined;
    EXPECT_EQ(dofOf(s, &determined), 1);
    EXPECT_FALSE(determined[std::size_t(s.findEntity(end)->p0)]); // slides along x
    EXPECT_TRUE(determined[std::size_t(s.findEntity(end)->p1)]);
    EXPECT_FALSE(isEntityDetermined(s, std::uint32_t(line), determined));
    EXPECT_TRUE(isEntityDetermined(s, std::uint32_t(start), determined));

    s.addDimension(ConstraintType::Distance, line, -1, -1);
    EXPECT_EQ(dofOf(s, &determined), 0);
    for (const Entity& e : s.entities)
        EXPECT_TRUE(isEntityDetermined(s, e.id, determined)) << e.id;
}

TEST(SketchDof, RectangleFreedomAndRedundancy)
{
    Sketch s;
    const auto r = addRectangle(s, 0, 0, 30, 20);
    std::vector<bool> determined;
    EXPECT_EQ(dofOf(s, &determined), 2);
    for (int line : r.lines)
        EXPECT_FALSE(isEntityDetermined(s, std::uint32_t(line), determined));
    // The diagonal adds nothing the sides do not fix already, even while free.
    const Constraint diagonal = constraintOf(ConstraintType::Distance, r.corners[0],
                                             r.corners[2], -1, std::hypot(30.0, 20.0));
    EXPECT_TRUE(isRedundant(s, diagonal));
    EXPECT_FALSE(isRedundant(s, constraintOf(ConstraintType::Fixed, r.corners[0])));

    s.addConstraint(ConstraintType::Fixed, r.corners[0], -1, -1, 0);
    EXPECT_EQ(dofOf(s, &determined), 0);
    for (const Entity& e : s.entities)
        EXPECT_TRUE(isEntityDetermined(s, e.id, determined)) << e.id;
    EXPECT_TRUE(isRedundant(s, diagonal));
    EXPECT_TRUE(isRedundant(s, constraintOf(ConstraintType::Fixed, r.corners[2])));

    // Adding the diagonal keeps the count and the solve still succeeds.
    s.constraints.push_back(diagonal);
    EXPECT_EQ(dofOf(s), 0);
    SolveResult solved;
    solve(solved, s, {});
    EXPECT_TRUE(solved.ok);
    EXPECT_EQ(solved.dof, 0);
}

TEST(SketchDof, RedundancyCases)
{
    Sketch s;
    const int a = int(s.addPoint(false, 0, 0));
    const int b = int(s.addPoint(false, 0, 0));
    const int c = int(s.addPoint(false, 5, 2));
    const int d = int(s.addPoint(false, 9, 2));
    s.addConstraint(ConstraintType::Coincident, a, b, -1, 0);
    s.addConstraint(ConstraintType::Horizontal, c, d, -1, 0);
    EXPECT_TRUE(isRedundant(s, constraintOf(ConstraintType::Coincident, a, b)));
    EXPECT_TRUE(isRedundant(s, constraintOf(ConstraintType::Coincident, b, a)));
    // Two rows, rank gain one: the heights are already tied.
    EXPECT_TRUE(isRedundant(s, constraintOf(ConstraintType::Coincident, c, d)));
    EXPECT_FALSE(isRedundant(s, constraintOf(ConstraintType::Coincident, a, c)));
    EXPECT_FALSE(isRedundant(s, constraintOf(ConstraintType::Vertical, c, d)));

    Constraint driven = constraintOf(ConstraintType::Distance, a, c);
    driven.driven = true;
    EXPECT_FALSE(isRedundant(s, driven));
    // Fixiert: on a free point not redundant, on one without any freedom it is.
    EXPECT_FALSE(isRedundant(s, constraintOf(ConstraintType::Fixed, c)));
    s.addConstraint(ConstraintType::Fixed, a, -1, -1, 0);
    EXPECT_TRUE(isRedundant(s, constraintOf(ConstraintType::Fixed, b)));

    Sketch lines;
    const int l1 = int(lines.addLineAt(false, 0, 0, 10, 0));
    const int l2 = int(lines.addLineAt(false, 0, 0, 0, 10));
    lines.addConstraint(ConstraintType::Perpendicular, l1, l2, -1, 0);
    EXPECT_TRUE(isRedundant(lines, constraintOf(ConstraintType::Parallel, l1, l2)));
    // An angle between them changes to first order exactly as the Senkrecht row does.
    EXPECT_TRUE(isRedundant(lines, constraintOf(ConstraintType::Angle, l1, l2, -1,
                                                std::numbers::pi / 2)));
    EXPECT_FALSE(isRedundant(lines, constraintOf(ConstraintType::Horizontal, l1)));
}

TEST(SketchDof, DragPoint)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 10, 0));
    const int start = s.startPoint(line);
    const int end = s.endPoint(line);
    s.addConstraint(ConstraintType::Horizontal, line, -1, -1, 0);
    ASSERT_TRUE(dragPoint(s, std::uint32_t(end), 5, 3));
    EXPECT_EQ(s.pointPosition(end).x, 5.0);
    EXPECT_EQ(s.pointPosition(end).y, 3.0);
    EXPECT_NEAR(s.pointPosition(start).y, 3.0, 1e-9);
    EXPECT_NEAR(s.pointPosition(start).x, 0.0, 1e-9);

    const std::vector<double> before = s.params;
    EXPECT_FALSE(dragPoint(s, std::uint32_t(line), 1, 1)); // not a point
    EXPECT_FALSE(dragPoint(s, 4711, 1, 1));
    EXPECT_EQ(s.params, before);

    // The other end Fixiert at the origin: the held solve cannot keep y = 3, the
    // free one starts from there and ends on the axis.
    Sketch fixed;
    const int l = int(fixed.addLineAt(false, 0, 0, 10, 0));
    fixed.addConstraint(ConstraintType::Horizontal, l, -1, -1, 0);
    fixed.addConstraint(ConstraintType::Fixed, fixed.startPoint(l), -1, -1, 0);
    ASSERT_TRUE(dragPoint(fixed, std::uint32_t(fixed.endPoint(l)), 5, 3));
    EXPECT_NEAR(fixed.pointPosition(fixed.endPoint(l)).x, 5.0, 1e-9);
    EXPECT_NEAR(fixed.pointPosition(fixed.endPoint(l)).y, 0.0, 1e-9);
    EXPECT_EQ(fixed.pointPosition(fixed.startPoint(l)).x, 0.0);
    EXPECT_EQ(fixed.pointPosition(fixed.startPoint(l)).y, 0.0);

    // Dragging the Fixiert point itself is refused.
    const std::vector<double> kept = fixed.params;
    EXPECT_FALSE(dragPoint(fixed, std::uint32_t(fixed.startPoint(l)), 7, 7));
    EXPECT_EQ(fixed.params, kept);

    // No solution either way: everything restored.
    Sketch stuck;
    const int p = int(stuck.addPoint(false, 0, 0));
    const int q = int(stuck.addPoint(false, 0, 0));
    const int w = int(stuck.addPoint(false, 9, 9));
    stuck.addConstraint(ConstraintType::Fixed, p, -1, -1, 0);
    stuck.addConstraint(ConstraintType::Fixed, w, -1, -1, 0);
    stuck.addConstraint(ConstraintType::Distance, p, q, -1, 1.0);
    stuck.addConstraint(ConstraintType::Distance, w, q, -1, 1.0);
    const std::vector<double> stuckBefore = stuck.params;
    EXPECT_FALSE(dragPoint(stuck, std::uint32_t(q), 4, 4));
    EXPECT_EQ(stuck.params, stuckBefore);
}

TEST(SketchDof, LargeSketchMatchesDenseDecomposition)
{
    for (bool fixFirst : {true, false}) {
        Sketch s;
        const auto chain = addRectangleChain(s, 100, fixFirst);
        const int extra = int(s.addPoint(false, -5, -5));
        perturbPoints(s, 0.3);
        SolveResult solved;
        solve(solved, s, {});
        ASSERT_TRUE(solved.ok);
        const int expected = (fixFirst ? 0 : 2) + 2;
        EXPECT_EQ(solved.dof, expected);

        std::vector<bool> determined;
        EXPECT_EQ(dofOf(s, &determined), expected);
        const SparseJacobian j = jacobianOf(s);
        if (!fixFirst) // one dense decomposition of this size takes a second or two
            EXPECT_EQ(int(j.cols()) - jacobianRank(j, false, RankMethod::DenseSvd).rank,
                      expected);
        EXPECT_EQ(std::count(determined.begin(), determined.end(), false),
                  fixFirst ? 2 : std::ptrdiff_t(j.cols()));
        EXPECT_FALSE(isEntityDetermined(s, std::uint32_t(extra), determined));
        EXPECT_EQ(isEntityDetermined(s, std::uint32_t(chain[80].lines[2]), determined), fixFirst);

        const Constraint diagonal = constraintOf(ConstraintType::Distance, chain[57].corners[0],
                                                 chain[57].corners[2], -1, 15.0);
        EXPECT_TRUE(isRedundant(s, diagonal));
        EXPECT_TRUE(isRedundant(s, constraintOf(ConstraintType::Angle, chain[3].lines[0],
                                                chain[3].lines[1], -1, 1.0)));
        EXPECT_FALSE(isRedundant(s, constraintOf(ConstraintType::Coincident, extra,
                                                 chain[99].corners[2])));
        EXPECT_EQ(isRedundant(s, constraintOf(ConstraintType::Fixed, chain[42].corners[3])),
                                              fixFirst);
    }
}

TEST(SketchDof, SparseAndDenseDecompositionsAgree)
{
    // Large enough for the sparse path, with free motion, a redundant row and a
    // partly free group of columns.
    Sketch s;
    const auto chain = addRectangleChain(s, 12, false);
    s.addConstraint(ConstraintType::Distance, chain[4].corners[0], chain[4].corners[2], -1,
                    std::hypot(12.0, 8.0));
    const int loose = int(s.addLineAt(false, 100, 100, 140, 130));
    s.addConstraint(ConstraintType::Horizontal, loose, -1, -1, 0);
    s.addCircleAt(false, -20, -20, 4);
    SolveResult solved;
    solve(solved, s, {});
    ASSERT_TRUE(solved.ok);
    expectSameAsDense(jacobianOf(s));

    // The same chain with its heights freed: many free directions in one group.
    Sketch loosened;
    addRectangleChain(loosened, 12, true);
    std::erase_if(loosened.constraints, [](const Constraint& c) {
        return c.type == ConstraintType::Distance && c.value < 11.0;
    });
    expectSameAsDense(jacobianOf(loosened));
    std::vector<bool> determined;
    EXPECT_EQ(dofOf(loosened, &determined), 12);

    // Non-finite derivatives count as zero in both.
    SparseJacobian broken = jacobianOf(loosened);
    broken.valuePtr()[0] = std::numeric_limits<double>::quiet_NaN();
    broken.valuePtr()[5] = std::numeric_limits<double>::infinity();
    expectSameAsDense(broken);
}

TEST(SketchDof, TriangleThatHidesItsRankFromThePivots)
{
    // Kahan's matrix: every pivot of an unpivoted QR is far above the threshold,
    // yet one singular value is far below it.
    const int n = 100;
    const double s = std::sin(1.2);
    const double c = std::cos(1.2);
    std::vector<Eigen::Triplet<double>> entries;
    for (int i = 0; i < n; ++i) {
        const double scale = std::pow(s, i);
        entries.emplace_back(i, i, scale);
        for (int j = i + 1; j < n; ++j)
            entries.emplace_back(i, j, -c * scale);
    }
    SparseJacobian kahan(n, n);
    kahan.setFromTriplets(entries.begin(), entries.end());
    const JacobianRank dense = jacobianRank(kahan, true, RankMethod::DenseSvd);
    EXPECT_EQ(dense.rank, n - 1);
    expectSameAsDense(kahan);
}
