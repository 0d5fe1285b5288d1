#pragma once

#include "sketch/Solver.h"

#include <Eigen/Core>

#include <cstdint>
#include <vector>

namespace qor::sketch {

struct DofResult {
    std::int32_t dof = 0; // free degrees of freedom
};

// Variables minus the rank of the Jacobian at the current parameters. `determined`
// (may be null) gets one entry per parameter: true unless the parameter is a
// variable that can move to first order without violating a row.
void analyzeDof(DofResult& out, const Sketch& sketch, std::vector<bool>* determined);
// The same on a system already built for the sketch at hand.
void analyzeDof(DofResult& out, const System& system, std::vector<bool>* determined);

// True when every parameter of the entity is marked determined (also for an
// entity that does not exist).
bool isEntityDetermined(const Sketch& sketch, std::uint32_t entityId,
                        const std::vector<bool>& determined);

// Whether adding `candidate` would over-determine the sketch (to first order).
bool isRedundant(const Sketch& sketch, const Constraint& candidate);

// Moves a point to (x, y) and re-solves around it; false leaves the sketch as it was.
bool dragPoint(Sketch& sketch, std::uint32_t pointId, double x, double y);

// How the singular values of a Jacobian are found. Both give the same rank and
// null space: the automatic one splits the matrix into independent groups of
// columns and factorises large groups sparsely, checking the result, and is the
// one to use; the dense one decomposes the whole matrix at once.
enum class RankMethod { Automatic, DenseSvd };

struct JacobianRank {
    int rank = 0;
    // Per column: its squared length in an orthonormal basis of the null space
    // (filled only when asked for).
    Eigen::VectorXd nullWeight;
};

// Rank by the rule σ > 1e-8·max(1, σ₀); a Jacobian without rows or columns has rank 0.
// Entries that are not finite count as zero.
JacobianRank jacobianRank(const SparseJacobian& jacobian, bool withNullSpace,
                          RankMethod method = RankMethod::Automatic);

} // namespace qor::sketch
