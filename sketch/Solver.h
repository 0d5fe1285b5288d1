#pragma once

#include "sketch/Sketch.h"

#include <Eigen/Core>
#include <Eigen/SparseCore>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace qor::sketch {

struct SolveResult {
    bool ok = false;
    // Accepted steps (at most 200): of the plain iteration, or of the sub-steps
    // together when those found the solution it missed.
    std::uint32_t iterations = 0;
    // Largest absolute residual after the solve; infinite when a residual is not finite.
    double maxResidual = 0.0;
    std::int32_t dof = 0;
    // Constraints still violated; filled only when the solve failed.
    std::vector<std::uint32_t> failedIds;
};

// Jacobian rows are residual rows, columns are variables.
using SparseJacobian = Eigen::SparseMatrix<double, Eigen::RowMajor>;

// Column of every parameter index; -1 for parameters that are no variables.
using ColumnMap = std::vector<int>;

// The equation system of one sketch: one block of rows per constraint that has
// rows, then one per arc. Built per call and never stored.
class System {
public:
    struct Block {
        std::int32_t constraintId = -1; // -1 for an arc block
        const Constraint* constraint = nullptr;
        const Entity* arc = nullptr;
        // Parameter indices the rows depend on, ascending, each once.
        std::vector<std::uint32_t> params;
        std::int32_t rowOffset = 0;
        std::int32_t rowCount = 0;
        // The entities the rows read, copied with their parameters renumbered into a
        // few local slots: evaluating a block then scans a handful of records and
        // gathers a handful of values instead of walking the whole sketch.
        Sketch local;
        std::vector<std::uint32_t> slotParams; // parameter index of each local slot
        std::vector<std::uint32_t> localParams; // local slot of each entry of params
    };

    // Indexes the sketch's entities; the sketch must outlive the system unchanged
    // except for its parameter values.
    explicit System(const Sketch& sketch);

    const Sketch* sketch;
    std::vector<Block> blocks;
    std::int32_t rows = 0;

    // Appends the block of a constraint (none when it gives no rows at the sketch's
    // parameters) or of an arc. The constraint must outlive the system.
    void addBlock(const Constraint& constraint);
    void addBlock(const Entity& arc);

    // All rows at the parameter vector q.
    void residuals(const std::vector<double>& q, Eigen::VectorXd& r) const;

    // Rows of one block with its local slots holding `values` (one per slot).
    void evaluate(const Block& block, const std::vector<double>& values,
                  std::vector<double>& out) const;

    // Parameter indices of an entity (as Sketch::paramsOf) found through the index.
    std::vector<std::uint32_t> paramsOf(int entityId) const;

private:
    struct Local {
        Sketch sketch;
        std::vector<std::uint32_t> slotParams;
    };

    const Entity* entity(int id) const;
    Local localCopy(std::initializer_list<const Entity*> records) const;
    Block makeBlock(Local local, std::initializer_list<int> ids) const;

    std::unordered_map<std::uint32_t, std::size_t> firstById_;
};

// The system of a sketch: its constraints in order, then `extra` if given, then its arcs.
System buildSystem(const Sketch& sketch, const Constraint* extra = nullptr);

// Parameters the solver may change, ascending: point coordinates and circle radii,
// minus those of Fixed entities and the held indices (indices outside the vector ignored).
std::vector<std::uint32_t> unknownParams(const System& system, const std::vector<int>& held);

ColumnMap columnMap(const std::vector<std::uint32_t>& variables, std::size_t paramCount);

// Central-difference Jacobian at q; each block is differentiated only by its own
// parameters, and the pattern holds every (row, column) pair a block depends on,
// whatever the value, so it is the same at every q.
SparseJacobian sparseJacobian(const System& system, const std::vector<double>& q,
                              const std::vector<std::uint32_t>& variables,
                              const ColumnMap& columns);
Eigen::MatrixXd numericJacobian(const System& system, const std::vector<double>& q,
                                const std::vector<std::uint32_t>& variables,
                                const ColumnMap& columns);

// Damped least-squares solve in place; the sketch changes only when it converges. A
// solve that does not converge is retried in sub-steps with angle rows weighted like
// lengths; when that fails too, the result is the plain solve's.
void solve(SolveResult& out, Sketch& sketch, const std::vector<int>& heldParams);

} // namespace qor::sketch
