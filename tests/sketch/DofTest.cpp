#include "sketch/Dof.h"
#include "sketch/Solver.h"

#include "tests/common/RectangleChain.h"
#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::sketch;
using qor::sketch::fixtures::addRectangle;
using qor::sketch::fixtures::addRectangleChain;
using qor::sketch::fixtures::perturbPoints;
using qor::test::constraintOf;
using T = ConstraintType;

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
    EXPECT_EQ(jacobianRank(j, false).rank, dense.rank);
    ASSERT_EQ(fast.nullWeight.size(), dense.nullWeight.size());
    for (Eigen::Index k = 0; k < fast.nullWeight.size(); ++k) {
        EXPECT_NEAR(fast.nullWeight[k], dense.nullWeight[k], 1e-6) << k;
        EXPECT_EQ(fast.nullWeight[k] > 1e-10, dense.nullWeight[k] > 1e-10) << k;
    }
}

} // namespace

TEST(SketchDof, FreedomAndDeterminedFlags)
{
    Sketch s;
    const int p = int(s.addPoint(false, 3, 4));
    s.addPoint(false, 1, 1);
    s.addLineAt(true, 1, 0, 1, 9);
    std::vector<bool> determined;
    EXPECT_EQ(dofOf(s, &determined), 8);
    EXPECT_EQ(std::count(determined.begin(), determined.end(), true), 0);
    EXPECT_FALSE(isEntityDetermined(s, std::uint32_t(p), determined));
    s.addConstraint(T::Fixed, p, -1, -1, 0);
    EXPECT_EQ(dofOf(s, &determined), 6);
    EXPECT_TRUE(isEntityDetermined(s, std::uint32_t(p), determined));
    EXPECT_TRUE(isEntityDetermined(s, 999, determined)); // no parameters to check

    // Coincident points share their two degrees of freedom.
    Sketch two;
    const int a = int(two.addPoint(false, 0, 0));
    two.addConstraint(T::Coincident, a, int(two.addPoint(false, 1, 1)), -1, 0);
    EXPECT_EQ(dofOf(two, &determined), 2);
    EXPECT_EQ(determined, (std::vector<bool>(4, false)));

    Sketch line;
    const int l = int(line.addLineAt(false, 0, 0, 10, 0));
    const int start = line.startPoint(l);
    const int end = line.endPoint(l);
    line.addConstraint(T::Fixed, start, -1, -1, 0);
    line.addConstraint(T::Horizontal, l, -1, -1, 0);
    EXPECT_EQ(dofOf(line, &determined), 1);
    EXPECT_FALSE(determined[std::size_t(line.findEntity(end)->p0)]); // slides along x
    EXPECT_TRUE(determined[std::size_t(line.findEntity(end)->p1)]);
    EXPECT_FALSE(isEntityDetermined(line, std::uint32_t(l), determined));
    EXPECT_TRUE(isEntityDetermined(line, std::uint32_t(start), determined));
    line.addDimension(T::Distance, l, -1, -1);
    EXPECT_EQ(dofOf(line, &determined), 0);
    EXPECT_TRUE(isEntityDetermined(line, std::uint32_t(l), determined));
}

TEST(SketchDof, RedundantConstraintsAddNoRank)
{
    Sketch s;
    const auto r = addRectangle(s, 0, 0, 30, 20);
    EXPECT_EQ(dofOf(s), 2);
    // The diagonal adds nothing the sides do not fix already, even while free.
    const Constraint diagonal
        = constraintOf(T::Distance, r.corners[0], r.corners[2], -1, std::hypot(30.0, 20.0));
    EXPECT_TRUE(isRedundant(s, diagonal));
    EXPECT_FALSE(isRedundant(s, constraintOf(T::Fixed, r.corners[0])));
    s.addConstraint(T::Fixed, r.corners[0], -1, -1, 0);
    EXPECT_TRUE(isRedundant(s, constraintOf(T::Fixed, r.corners[2])));
    s.constraints.push_back(diagonal);
    EXPECT_EQ(dofOf(s), 0);
    SolveResult solved;
    solve(solved, s, {});
    EXPECT_TRUE(solved.ok);

    Sketch pts;
    const int a = int(pts.addPoint(false, 0, 0));
    const int b = int(pts.addPoint(false, 0, 0));
    const int c = int(pts.addPoint(false, 5, 2));
    const int d = int(pts.addPoint(false, 9, 2));
    pts.addConstraint(T::Coincident, a, b, -1, 0);
    pts.addConstraint(T::Horizontal, c, d, -1, 0);
    Sketch lines;
    const int l1 = int(lines.addLineAt(false, 0, 0, 10, 0));
    const int l2 = int(lines.addLineAt(false, 0, 0, 0, 10));
    lines.addConstraint(T::Perpendicular, l1, l2, -1, 0);
    Constraint driven = constraintOf(T::Distance, a, c);
    driven.driven = true;

    struct Case {
        const char* name;
        const Sketch& sketch;
        Constraint candidate;
        bool redundant;
    };
    const Case cases[] = {
        {"same coincidence", pts, constraintOf(T::Coincident, a, b), true},
        {"same coincidence reversed", pts, constraintOf(T::Coincident, b, a), true},
        {"two rows, heights already tied", pts, constraintOf(T::Coincident, c, d), true},
        {"new coincidence", pts, constraintOf(T::Coincident, a, c), false},
        {"vertical", pts, constraintOf(T::Vertical, c, d), false},
        {"driven dimension", pts, driven, false},
        {"Fixiert on a free point", pts, constraintOf(T::Fixed, c), false},
        {"parallel to perpendicular", lines, constraintOf(T::Parallel, l1, l2), true},
        {"right angle", lines, constraintOf(T::Angle, l1, l2, -1, std::numbers::pi / 2), true},
        {"horizontal", lines, constraintOf(T::Horizontal, l1), false},
    };
    for (const Case& k : cases)
        EXPECT_EQ(isRedundant(k.sketch, k.candidate), k.redundant) << k.name;
}

TEST(SketchDof, DragPointMovesOrRestores)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 10, 0));
    const int start = s.startPoint(line);
    const int end = s.endPoint(line);
    s.addConstraint(T::Horizontal, line, -1, -1, 0);
    Sketch fixed = s;
    ASSERT_TRUE(dragPoint(s, std::uint32_t(end), 5, 3));
    EXPECT_EQ(s.pointPosition(end).x, 5.0);
    EXPECT_EQ(s.pointPosition(end).y, 3.0);
    EXPECT_NEAR(s.pointPosition(start).y, 3.0, 1e-9);
    EXPECT_NEAR(s.pointPosition(start).x, 0.0, 1e-9);
    const std::vector<double> before = s.params;
    EXPECT_FALSE(dragPoint(s, std::uint32_t(line), 1, 1)); // not a point
    EXPECT_FALSE(dragPoint(s, 4711, 1, 1));
    EXPECT_EQ(s.params, before);

    // The start Fixiert: the held solve cannot keep y = 3, the free one ends on the axis.
    fixed.addConstraint(T::Fixed, start, -1, -1, 0);
    ASSERT_TRUE(dragPoint(fixed, std::uint32_t(end), 5, 3));
    EXPECT_NEAR(fixed.pointPosition(end).x, 5.0, 1e-9);
    EXPECT_NEAR(fixed.pointPosition(end).y, 0.0, 1e-9);
    EXPECT_EQ(fixed.pointPosition(start).y, 0.0);
    // Dragging the Fixiert point itself is refused.
    const std::vector<double> kept = fixed.params;
    EXPECT_FALSE(dragPoint(fixed, std::uint32_t(start), 7, 7));
    EXPECT_EQ(fixed.params, kept);

    // No solution either way: everything restored.
    Sketch stuck;
    const int p = int(stuck.addPoint(false, 0, 0));
    const int q = int(stuck.addPoint(false, 0, 0));
    const int w = int(stuck.addPoint(false, 9, 9));
    stuck.addConstraint(T::Fixed, p, -1, -1, 0);
    stuck.addConstraint(T::Fixed, w, -1, -1, 0);
    stuck.addConstraint(T::Distance, p, q, -1, 1.0);
    stuck.addConstraint(T::Distance, w, q, -1, 1.0);
    const std::vector<double> stuckBefore = stuck.params;
    EXPECT_FALSE(dragPoint(stuck, std::uint32_t(q), 4, 4));
    EXPECT_EQ(stuck.params, stuckBefore);
}

TEST(SketchDof, LargeSketchesTakeTheSparsePath)
{
    for (bool fixFirst : {true, false}) {
        SCOPED_TRACE(fixFirst);
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
        EXPECT_EQ(std::count(determined.begin(), determined.end(), false),
                  fixFirst ? 2 : std::ptrdiff_t(s.params.size()));
        EXPECT_FALSE(isEntityDetermined(s, std::uint32_t(extra), determined));
        EXPECT_EQ(isEntityDetermined(s, std::uint32_t(chain[80].lines[2]), determined), fixFirst);

        EXPECT_TRUE(isRedundant(
            s, constraintOf(T::Distance, chain[57].corners[0], chain[57].corners[2], -1, 15.0)));
        EXPECT_TRUE(
            isRedundant(s, constraintOf(T::Angle, chain[3].lines[0], chain[3].lines[1], -1, 1.0)));
        EXPECT_FALSE(isRedundant(s, constraintOf(T::Coincident, extra, chain[99].corners[2])));
        EXPECT_EQ(isRedundant(s, constraintOf(T::Fixed, chain[42].corners[3])), fixFirst);
    }
}

TEST(SketchDof, SparseAndDenseDecompositionsAgree)
{
    // Free motion, a redundant row and a partly free group of columns.
    Sketch s;
    const auto chain = addRectangleChain(s, 12, false);
    s.addConstraint(T::Distance, chain[4].corners[0], chain[4].corners[2], -1,
                    std::hypot(12.0, 8.0));
    s.addConstraint(T::Horizontal, int(s.addLineAt(false, 100, 100, 140, 130)), -1, -1, 0);
    s.addCircleAt(false, -20, -20, 4);
    SolveResult solved;
    solve(solved, s, {});
    ASSERT_TRUE(solved.ok);
    expectSameAsDense(jacobianOf(s));

    // Heights freed: many free directions in one group.
    Sketch loosened;
    addRectangleChain(loosened, 12, true);
    std::erase_if(loosened.constraints,
                  [](const Constraint& c) { return c.type == T::Distance && c.value < 11.0; });
    expectSameAsDense(jacobianOf(loosened));
    EXPECT_EQ(dofOf(loosened), 12);

    // Non-finite derivatives count as zero in both.
    SparseJacobian broken = jacobianOf(loosened);
    broken.valuePtr()[0] = std::numeric_limits<double>::quiet_NaN();
    broken.valuePtr()[5] = std::numeric_limits<double>::infinity();
    expectSameAsDense(broken);

    // Kahan's matrix: every pivot of an unpivoted QR is far above the threshold,
    // yet one singular value is far below it.
    const int n = 100;
    std::vector<Eigen::Triplet<double>> entries;
    for (int i = 0; i < n; ++i) {
        const double scale = std::pow(std::sin(1.2), i);
        entries.emplace_back(i, i, scale);
        for (int j = i + 1; j < n; ++j)
            entries.emplace_back(i, j, -std::cos(1.2) * scale);
    }
    SparseJacobian kahan(n, n);
    kahan.setFromTriplets(entries.begin(), entries.end());
    EXPECT_EQ(jacobianRank(kahan, false, RankMethod::DenseSvd).rank, n - 1);
    expectSameAsDense(kahan);
}

namespace {

int denseRank(const Sketch& s)
{
    return jacobianRank(jacobianOf(s), false, RankMethod::DenseSvd).rank;
}

// Whether the constraint at `index` adds fewer independent rows than it has, by the
// dense decomposition of the sketch with and without it.
bool denseRedundant(const Sketch& s, std::size_t index)
{
    Sketch without = s;
    without.constraints.erase(without.constraints.begin() + std::ptrdiff_t(index));
    const System system = buildSystem(s);
    const auto block
        = std::find_if(system.blocks.begin(), system.blocks.end(), [&](const System::Block& b) {
              return b.constraint == &s.constraints[index];
          });
    if (block == system.blocks.end())
        return false;
    return denseRank(s) - denseRank(without) < block->rowCount;
}

} // namespace

// A chain of rectangles with one contradicting diagonal, analysed where the failed
// solve leaves it (away from the solution, where every group of columns is coupled):
// the fast analysis must report what the dense decomposition reports.
TEST(SketchDof, OverdeterminedChainMatchesDenseReference)
{
    struct Case {
        int count;
        int wrong; // rectangle that gets the wrong diagonal
        bool fixFirst;
    };
    const Case cases[] = {{3, 0, true},   {3, 2, false},  {6, 3, true},  {6, 5, true},
                          {12, 0, false}, {20, 19, true}, {40, 7, true}, {40, 39, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.count << " rectangles, wrong diagonal in " << k.wrong
                                        << (k.fixFirst ? ", fixed" : ", free"));
        Sketch s;
        const auto chain = addRectangleChain(s, k.count, k.fixFirst);
        perturbPoints(s, 0.3);
        const auto& rect = chain[std::size_t(k.wrong)];
        const std::uint32_t diagonal
            = s.addConstraint(T::Distance, rect.corners[0], rect.corners[2], -1, 100.0);
        const std::vector<double> before = s.params;

        SolveResult r;
        solve(r, s, {});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(s.params, before);
        EXPECT_NE(std::count(r.failedIds.begin(), r.failedIds.end(), diagonal), 0);

        const System system = buildSystem(s);
        const auto variables = unknownParams(system, {});
        const auto columns = std::int32_t(variables.size());
        const JacobianRank dense = jacobianRank(jacobianOf(s), true, RankMethod::DenseSvd);
        EXPECT_EQ(r.dof, columns - dense.rank);
        EXPECT_EQ(r.dof, k.fixFirst ? 0 : 2);
        std::vector<bool> determined;
        EXPECT_EQ(dofOf(s, &determined), columns - dense.rank);
        for (std::size_t j = 0; j < variables.size(); ++j)
            EXPECT_EQ(determined[variables[j]], !(dense.nullWeight[Eigen::Index(j)] > 1e-10))
                << "parameter " << variables[j];
        expectSameAsDense(jacobianOf(s));
    }
}

// Every constraint of a small over-determined chain, taken out and offered again:
// redundant exactly when the dense decomposition says so.
TEST(SketchDof, OverdeterminedChainRedundancyMatchesDenseReference)
{
    struct Case {
        int count;
        int wrong;
    };
    const Case cases[] = {{2, 0}, {2, 1}, {4, 0}, {4, 2}, {5, 4}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.count << " rectangles, wrong diagonal in " << k.wrong);
        Sketch s;
        const auto chain = addRectangleChain(s, k.count, true);
        perturbPoints(s, 0.3);
        const auto& rect = chain[std::size_t(k.wrong)];
        s.addConstraint(T::Distance, rect.corners[0], rect.corners[2], -1, 100.0);
        int redundant = 0;
        for (std::size_t i = 0; i < s.constraints.size(); ++i) {
            Sketch without = s;
            without.constraints.erase(without.constraints.begin() + std::ptrdiff_t(i));
            const bool expected = denseRedundant(s, i);
            EXPECT_EQ(isRedundant(without, s.constraints[i]), expected)
                << "constraint " << s.constraints[i].id << " "
                << constraintTypeName(s.constraints[i].type);
            redundant += expected ? 1 : 0;
        }
        // The diagonal over-determines its rectangle: it and some of the rows that
        // pin that rectangle's shape are each redundant given the rest.
        EXPECT_GT(redundant, 1);
    }
}
