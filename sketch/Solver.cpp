#include "sketch/Solver.h"

#include "sketch/Constraints.h"
#include "sketch/Dof.h"

#include <Eigen/Cholesky>
#include <Eigen/Geometry>
#include <Eigen/SparseCholesky>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qor::sketch {

namespace {

constexpr std::uint32_t maxSteps = 200;
constexpr int maxTries = 12;
constexpr double initialDamping = 1e-10;
constexpr double minDamping = 1e-14;
constexpr double converged = 1e-9;
constexpr double solved = 1e-7;
constexpr double violated = 1e-6;
// Sub-steps of a solve that did not converge at once: at most this many, none
// shorter than this share of the way, each with at most this many accepted steps
// (a sub-step that needs more is better halved than crawled through).
constexpr int maxSubSteps = 64;
constexpr double minSubStep = 1.0 / 256.0;
constexpr std::uint32_t maxStepsPerSubStep = 50;

void gather(const System::Block& block, const std::vector<double>& q, std::vector<double>& values)
{
    values.resize(block.slotParams.size());
    for (std::size_t i = 0; i < block.slotParams.size(); ++i)
        values[i] = q[block.slotParams[i]];
}

// Largest magnitude; infinite as soon as one entry is not finite, so that a NaN
// can never pass for a small residual.
double maxAbs(const Eigen::VectorXd& r)
{
    if (r.size() == 0)
        return 0.0;
    if (!r.allFinite())
        return std::numeric_limits<double>::infinity();
    return r.lpNorm<Eigen::Infinity>();
}

// The damped row-space system (J·Jᵀ + λ·diag(J·Jᵀ + 1))·y = r. The pattern of J is
// the same at every iteration of one solve, so the fill-reducing ordering is
// computed once and every try only refactorises.
class DampedSystem {
public:
    void setJacobian(const SparseJacobian& jacobian)
    {
        product_ = jacobian * jacobian.transpose();
        diagonal_ = product_.diagonal();
        if (damping_.rows() != product_.rows()) {
            damping_.resize(product_.rows(), product_.rows());
            damping_.setIdentity();
        }
    }

    void solve(double lambda, const Eigen::VectorXd& r, Eigen::VectorXd& y)
    {
        Eigen::Map<Eigen::VectorXd>(damping_.valuePtr(), damping_.nonZeros())
            = lambda * (diagonal_.array() + 1.0);
        damped_ = product_ + damping_;
        if (!analysed_) {
            ldlt_.analyzePattern(damped_);
            analysed_ = true;
        }
        ldlt_.factorize(damped_);
        if (ldlt_.info() == Eigen::Success) {
            y = ldlt_.solve(r);
            return;
        }
        // An exactly zero pivot: the dense LDLT gives that component a zero step.
        y = Eigen::MatrixXd(damped_).ldlt().solve(r);
    }

private:
    Eigen::SparseMatrix<double> product_;
    Eigen::SparseMatrix<double> damping_;
    Eigen::SparseMatrix<double> damped_;
    Eigen::VectorXd diagonal_;
    Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> ldlt_;
    bool analysed_ = false;
};

// The rows the iteration drives to zero: the sketch's own rows for the plain solve.
struct SketchRows {
    const System& system;

    void evaluate(const std::vector<double>& q, Eigen::VectorXd& r) const
    {
        system.residuals(q, r);
    }

    SparseJacobian jacobian(const std::vector<double>& q,
                            const std::vector<std::uint32_t>& variables,
                            const ColumnMap& columns) const
    {
        return sparseJacobian(system, q, variables, columns);
    }
};

// The rows of a sub-step: the sketch's rows less `offset` (the part of the change not
// yet made), each times its weight.
struct SubStepRows {
    const System& system;
    const Eigen::VectorXd& offset;
    const Eigen::VectorXd& weights;

    void evaluate(const std::vector<double>& q, Eigen::VectorXd& r) const
    {
        system.residuals(q, r);
        r = (r - offset).cwiseProduct(weights);
    }

    SparseJacobian jacobian(const std::vector<double>& q,
                            const std::vector<std::uint32_t>& variables,
                            const ColumnMap& columns) const
    {
        return weights.asDiagonal() * sparseJacobian(system, q, variables, columns);
    }
};

// The diagonal of the box around the sketch's points, at least 1 mm.
double sketchSize(const Sketch& sketch, const std::vector<double>& q)
{
    Eigen::AlignedBox2d box;
    for (const Entity& e : sketch.entities)
        if (e.type == EntityType::Point && sketch.hasParam(e.p0) && sketch.hasParam(e.p1))
            box.extend(Eigen::Vector2d(q[std::size_t(e.p0)], q[std::size_t(e.p1)]));
    const double size = box.isEmpty() ? 0.0 : box.diagonal().norm();
    return std::isfinite(size) ? std::max(1.0, size) : 1.0;
}

// Winkel, Parallel and Senkrecht rows measure angles; times the size of the sketch
// they become the millimetres that the far end of the sketch moves, and weigh like
// the length rows. Every weight is at least 1, so weighted rows that hold to a
// tolerance hold to it unweighted too.
Eigen::VectorXd angleRowWeights(const System& system, const std::vector<double>& q)
{
    const double size = sketchSize(*system.sketch, q);
    Eigen::VectorXd weights = Eigen::VectorXd::Ones(system.rows);
    for (const System::Block& block : system.blocks) {
        if (!block.constraint)
            continue;
        const ConstraintType type = block.constraint->type;
        if (type == ConstraintType::Angle || type == ConstraintType::Parallel
            || type == ConstraintType::Perpendicular)
            weights.segment(block.rowOffset, block.rowCount).setConstant(size);
    }
    return weights;
}

// Levenberg-Marquardt steps from q, at most `budget` of them accepted; q and r end at
// the last accepted step.
template <typename Rows>
std::uint32_t iterate(const Rows& rows, const std::vector<std::uint32_t>& variables,
                      const ColumnMap& columns, std::vector<double>& q, Eigen::VectorXd& r,
                      std::uint32_t budget)
{
    double sum = r.squaredNorm();
    double lambda = initialDamping;
    std::uint32_t accepted = 0;
    DampedSystem damped;
    std::vector<double> trial;
    Eigen::VectorXd trialResiduals;
    Eigen::VectorXd y;
    while (accepted < budget && !variables.empty() && maxAbs(r) > converged) {
        const SparseJacobian jacobian = rows.jacobian(q, variables, columns);
        damped.setJacobian(jacobian);
        bool stepped = false;
        for (int attempt = 0; attempt < maxTries && !stepped; ++attempt) {
            damped.solve(lambda, r, y);
            const Eigen::VectorXd delta = -(jacobian.transpose() * y);
            if (!delta.allFinite()) {
                lambda *= 10.0;
                continue;
            }
            trial = q;
            for (std::size_t j = 0; j < variables.size(); ++j)
                trial[variables[j]] += delta[Eigen::Index(j)];
            rows.evaluate(trial, trialResiduals);
            const double trialSum = trialResiduals.squaredNorm();
            if (trialSum < sum || trialSum < 1e-18) {
                q.swap(trial);
                r.swap(trialResiduals);
                sum = trialSum;
                lambda = std::max(minDamping, 0.1 * lambda);
                ++accepted;
                stepped = true;
            } else {
                lambda *= 10.0;
            }
        }
        if (!stepped)
            break;
    }
    return accepted;
}

// The fallback for a solve that did not converge. The plain iteration weighs a
// millimetre of a length row like a radian of an angle row: after a large change of
// an angle, its linearised step turns the geometry along tangents, the lengths it
// spoils outweigh the angle it gains, and it crawls in ever shorter steps until its
// budget is spent though a solution exists. Here the angle rows are weighted by the
// size of the sketch (`angleRowWeights`), and the new values are approached in
// sub-steps: from the starting parameters q₀ with rows r₀, the solutions of
// r(q) = (1 − t)·r₀ lead from q₀ (t = 0) to the sketch's solution (t = 1), each
// solved from the last, so that the geometry follows the change continuously
// instead of jumping to a mirrored solution. A sub-step that fails is halved, one
// that succeeds lets the next one grow; all share one budget of accepted steps.
// The sub-steps start from `from`. On success q and r hold the solution and its
// rows, `accepted` the steps taken; otherwise nothing is changed.
void solveInSubSteps(const System& system, const std::vector<std::uint32_t>& variables,
                     const ColumnMap& columns, const std::vector<double>& from,
                     std::vector<double>& q, Eigen::VectorXd& r, std::uint32_t& accepted)
{
    Eigen::VectorXd start;
    system.residuals(from, start);
    Eigen::VectorXd offset;
    const Eigen::VectorXd weights = angleRowWeights(system, from);
    const SubStepRows shifted{system, offset, weights};
    std::vector<double> reached = from;
    std::vector<double> trial;
    Eigen::VectorXd trialRows;
    double t = 0.0;
    // Half the way first: measured on random angle edits, a whole first step
    // converges as often but now and then lands on the mirror image.
    double step = 0.5;
    std::uint32_t used = 0;
    for (int stage = 0; stage < maxSubSteps && t < 1.0 && step >= minSubStep && used < maxSteps;
         ++stage) {
        const double next = std::min(1.0, t + step);
        offset = (1.0 - next) * start;
        trial = reached;
        shifted.evaluate(trial, trialRows);
        used += iterate(shifted, variables, columns, trial, trialRows,
                        std::min(maxStepsPerSubStep, maxSteps - used));
        if (maxAbs(trialRows) <= solved) {
            reached.swap(trial);
            t = next;
            step *= 2.0;
        } else {
            step *= 0.5;
        }
    }
    if (t < 1.0)
        return;
    system.residuals(reached, trialRows);
    if (!(maxAbs(trialRows) <= solved))
        return;
    q.swap(reached);
    r.swap(trialRows);
    accepted = used;
}

// Constraints with a row beyond the tolerance or not finite, in block order, each
// id once.
std::vector<std::uint32_t> violatedConstraints(const System& system, const Eigen::VectorXd& r)
{
    std::vector<std::uint32_t> ids;
    for (const System::Block& block : system.blocks) {
        if (!block.constraint
            || std::find(ids.begin(), ids.end(), block.constraint->id) != ids.end())
            continue;
        const auto rows = r.segment(block.rowOffset, block.rowCount);
        if (!(rows.cwiseAbs().array() <= violated).all())
            ids.push_back(block.constraint->id);
    }
    return ids;
}

} // namespace

System::System(const Sketch& s)
    : sketch(&s)
{
    firstById_.reserve(s.entities.size());
    for (std::size_t i = 0; i < s.entities.size(); ++i)
        firstById_.emplace(s.entities[i].id, i);
}

const Entity* System::entity(int id) const
{
    if (id < 0)
        return nullptr;
    const auto it = firstById_.find(std::uint32_t(id));
    return it == firstById_.end() ? nullptr : &sketch->entities[it->second];
}

// Copies the given records and the entities they name (the points of a curve), each
// id once and as the sketch's own lookup would find it, and renumbers their
// parameters into local slots. An index outside the sketch's vector becomes -1,
// which the equations treat exactly as they treat an index outside the vector.
System::Local System::localCopy(std::initializer_list<const Entity*> records) const
{
    Local local;
    std::vector<Entity>& copies = local.sketch.entities;
    const auto add = [&copies](const Entity* e) {
        if (!e)
            return;
        for (const Entity& c : copies)
            if (c.id == e->id)
                return;
        copies.push_back(*e);
    };
    for (const Entity* e : records)
        add(e);
    const std::size_t named = copies.size();
    for (std::size_t i = 0; i < named; ++i) {
        const Entity e = copies[i];
        for (int ref : {e.a, e.b, e.c})
            add(entity(ref));
    }

    const std::vector<double>& params = sketch->params;
    std::vector<std::uint32_t>& indices = local.slotParams;
    for (const Entity& e : copies)
        for (int index : {e.p0, e.p1})
            if (sketch->hasParam(index))
                indices.push_back(std::uint32_t(index));
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());

    const auto slotOf = [&](int index) {
        if (!sketch->hasParam(index))
            return -1;
        const auto it = std::lower_bound(indices.begin(), indices.end(), std::uint32_t(index));
        return int(it - indices.begin());
    };
    for (Entity& e : copies) {
        e.p0 = slotOf(e.p0);
        e.p1 = slotOf(e.p1);
    }
    local.sketch.params.resize(indices.size());
    for (std::size_t i = 0; i < indices.size(); ++i)
        local.sketch.params[i] = params[indices[i]];
    return local;
}

System::Block System::makeBlock(Local local, std::initializer_list<int> ids) const
{
    Block block;
    block.local = std::move(local.sketch);
    block.slotParams = std::move(local.slotParams);
    for (int id : ids) {
        if (id < 0)
            continue;
        for (int slot : block.local.paramsOf(id))
            block.localParams.push_back(std::uint32_t(slot));
    }
    // Slots are in ascending order of the parameter index, so sorting them sorts both.
    std::sort(block.localParams.begin(), block.localParams.end());
    block.localParams.erase(std::unique(block.localParams.begin(), block.localParams.end()),
                            block.localParams.end());
    for (std::uint32_t slot : block.localParams)
        block.params.push_back(block.slotParams[slot]);
    return block;
}

void System::addBlock(const Constraint& constraint)
{
    Block block
        = makeBlock(localCopy({entity(constraint.a), entity(constraint.b), entity(constraint.c)}),
                    {constraint.a, constraint.b, constraint.c});
    block.constraint = &constraint;
    std::vector<double> values;
    evaluate(block, block.local.params, values);
    if (values.empty())
        return;
    block.constraintId = std::int32_t(constraint.id);
    block.rowOffset = rows;
    block.rowCount = std::int32_t(values.size());
    rows += block.rowCount;
    blocks.push_back(std::move(block));
}

void System::addBlock(const Entity& arc)
{
    Block block = makeBlock(localCopy({&arc}), {int(arc.id)});
    block.arc = &arc;
    block.rowOffset = rows;
    block.rowCount = 1;
    rows += 1;
    blocks.push_back(std::move(block));
}

void System::evaluate(const Block& block, const std::vector<double>& values,
                      std::vector<double>& out) const
{
    out.clear();
    const ParamView view{&block.local, &values};
    if (block.constraint)
        constraintResiduals(view, *block.constraint, out);
    else
        out.push_back(arcResidual(view, *block.arc));
}

void System::residuals(const std::vector<double>& q, Eigen::VectorXd& r) const
{
    r.resize(rows);
    std::vector<double> values;
    std::vector<double> out;
    for (const Block& block : blocks) {
        gather(block, q, values);
        evaluate(block, values, out);
        const std::int32_t count = std::min(std::int32_t(out.size()), block.rowCount);
        for (std::int32_t k = 0; k < block.rowCount; ++k)
            r[block.rowOffset + k] = k < count ? out[std::size_t(k)] : 0.0;
    }
}

std::vector<std::uint32_t> System::paramsOf(int entityId) const
{
    const Entity* e = entity(entityId);
    if (!e)
        return {};
    const Local local = localCopy({e});
    std::vector<std::uint32_t> indices;
    for (int slot : local.sketch.paramsOf(entityId))
        indices.push_back(local.slotParams[std::size_t(slot)]);
    return indices;
}

System buildSystem(const Sketch& sketch, const Constraint* extra)
{
    System system(sketch);
    system.blocks.reserve(sketch.constraints.size() + 1);
    for (const Constraint& c : sketch.constraints)
        system.addBlock(c);
    if (extra)
        system.addBlock(*extra);
    for (const Entity& e : sketch.entities)
        if (e.type == EntityType::Arc)
            system.addBlock(e);
    return system;
}

std::vector<std::uint32_t> unknownParams(const System& system, const std::vector<int>& held)
{
    const Sketch& sketch = *system.sketch;
    const std::vector<double>& params = sketch.params;
    std::vector<char> variable(params.size(), 0);
    const auto mark = [&](int index, char value) {
        if (sketch.hasParam(index))
            variable[std::size_t(index)] = value;
    };
    for (const Entity& e : sketch.entities) {
        if (e.type == EntityType::Point) {
            mark(e.p0, 1);
            mark(e.p1, 1);
        } else if (e.type == EntityType::Circle) {
            mark(e.p0, 1);
        }
    }
    for (const Constraint& c : sketch.constraints)
        if (c.type == ConstraintType::Fixed)
            for (std::uint32_t index : system.paramsOf(c.a))
                mark(int(index), 0);
    for (int index : held)
        mark(index, 0);

    std::vector<std::uint32_t> variables;
    for (std::size_t i = 0; i < variable.size(); ++i)
        if (variable[i])
            variables.push_back(std::uint32_t(i));
    return variables;
}

ColumnMap columnMap(const std::vector<std::uint32_t>& variables, std::size_t paramCount)
{
    ColumnMap columns(paramCount, -1);
    for (std::size_t j = 0; j < variables.size(); ++j)
        columns[variables[j]] = int(j);
    return columns;
}

SparseJacobian sparseJacobian(const System& system, const std::vector<double>& q,
                              const std::vector<std::uint32_t>& variables, const ColumnMap& columns)
{
    SparseJacobian jacobian(system.rows, Eigen::Index(variables.size()));
    Eigen::VectorXi perRow = Eigen::VectorXi::Zero(system.rows);
    for (const System::Block& block : system.blocks) {
        const auto used = std::count_if(block.params.begin(), block.params.end(),
                                        [&](std::uint32_t p) { return columns[p] >= 0; });
        perRow.segment(block.rowOffset, block.rowCount).setConstant(int(used));
    }
    jacobian.reserve(perRow);

    std::vector<double> values;
    std::vector<double> plus;
    std::vector<double> minus;
    for (const System::Block& block : system.blocks) {
        gather(block, q, values);
        for (std::size_t k = 0; k < block.params.size(); ++k) {
            const int column = columns[block.params[k]];
            if (column < 0)
                continue;
            double& slot = values[block.localParams[k]];
            const double v = slot;
            const double h = std::fabs(v) > 1.0 ? std::fabs(v) * 1e-7 : 1e-7;
            slot = v + h;
            system.evaluate(block, values, plus);
            slot = v - h;
            system.evaluate(block, values, minus);
            slot = v;
            const std::size_t known = std::min(plus.size(), minus.size());
            for (std::int32_t i = 0; i < block.rowCount; ++i) {
                const std::size_t row = std::size_t(i);
                jacobian.insert(block.rowOffset + i, column)
                    = row < known ? (plus[row] - minus[row]) / (h + h) : 0.0;
            }
        }
    }
    jacobian.makeCompressed();
    return jacobian;
}

Eigen::MatrixXd numericJacobian(const System& system, const std::vector<double>& q,
                                const std::vector<std::uint32_t>& variables,
                                const ColumnMap& columns)
{
    return Eigen::MatrixXd(sparseJacobian(system, q, variables, columns));
}

void solve(SolveResult& out, Sketch& sketch, const std::vector<int>& heldParams)
{
    out = SolveResult{};
    const System system = buildSystem(sketch);
    const std::vector<std::uint32_t> variables = unknownParams(system, heldParams);
    const ColumnMap columns = columnMap(variables, sketch.params.size());
    std::vector<double> q = sketch.params;
    Eigen::VectorXd r;
    system.residuals(q, r);

    // Non-finite rows (a dimension of inf or NaN) cannot be reduced: the solve
    // fails at once and the sketch keeps its parameters.
    if (system.rows > 0 && r.allFinite()) {
        out.iterations = iterate(SketchRows{system}, variables, columns, q, r, maxSteps);
        // Only a solve that failed pays for the sub-steps; when they fail too, the
        // plain solve's rows are what the caller is told about.
        if (!(maxAbs(r) <= solved) && !variables.empty())
            solveInSubSteps(system, variables, columns, sketch.params, q, r, out.iterations);
    }
    out.maxResidual = maxAbs(r);
    out.ok = out.maxResidual <= solved;
    if (out.ok)
        sketch.params = q;
    else
        out.failedIds = violatedConstraints(system, r);

    DofResult dof;
    analyzeDof(dof, system, nullptr);
    out.dof = dof.dof;
}

} // namespace qor::sketch
