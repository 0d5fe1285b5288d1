#include "sketch/Dof.h"

#include <Eigen/Eigenvalues>
#include <Eigen/OrderingMethods>
#include <Eigen/QR>
#include <Eigen/SVD>
#include <Eigen/SparseQR>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>

namespace qor::sketch {

namespace {

using Eigen::Index;
using ColumnMajor = Eigen::SparseMatrix<double>;
using Permutation = Eigen::PermutationMatrix<Eigen::Dynamic, Eigen::Dynamic, int>;

// Groups of up to this many columns are decomposed densely; larger ones sparsely.
constexpr Index denseColumns = 24;
constexpr double freeWeight = 1e-10;
// A central difference with steps of 1e-7 carries rounding noise up to about 1e-9
// of its row's largest derivative.
constexpr double roundingNoise = 1e-10;

double rankThreshold(double sigma0)
{
    return 1e-8 * std::max(1.0, sigma0);
}

// A fixed pseudo-random unit vector to start iterations from: a constant vector
// would often be a free translation of the whole sketch, orthogonal to what the
// iteration looks for.
Eigen::VectorXd startVector(Index n)
{
    Eigen::VectorXd v(n);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (Index i = 0; i < n; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        v[i] = double(state >> 11) * 0x1.0p-53 - 0.5;
    }
    return v.normalized();
}

struct BlockRank {
    int rank = 0;
    Eigen::VectorXd nullWeight;
};

template <class Svd>
BlockRank fromSvd(const Svd& svd, Index columns, double threshold, bool withNull)
{
    BlockRank out;
    out.rank = int((svd.singularValues().array() > threshold).count());
    if (withNull)
        out.nullWeight = svd.matrixV().rightCols(columns - out.rank).rowwise().squaredNorm();
    return out;
}

BlockRank denseRank(const Eigen::MatrixXd& m, double threshold, bool withNull)
{
    const Eigen::BDCSVD<Eigen::MatrixXd> svd(m, withNull ? unsigned(Eigen::ComputeFullV) : 0u);
    return fromSvd(svd, m.cols(), threshold, withNull);
}

// Columns that share no row fall into different parts. The Jacobian is block
// diagonal over the parts, so its singular values are those of the parts together
// and its null space is the sum of theirs.
struct ColumnBlock {
    std::vector<Index> columns;
    std::vector<Index> rows;
};

Index findRoot(std::vector<Index>& parent, Index i)
{
    while (parent[std::size_t(i)] != i) {
        parent[std::size_t(i)] = parent[std::size_t(parent[std::size_t(i)])];
        i = parent[std::size_t(i)];
    }
    return i;
}

std::vector<ColumnBlock> independentParts(const SparseJacobian& jacobian)
{
    std::vector<Index> parent(std::size_t(jacobian.cols()));
    std::iota(parent.begin(), parent.end(), Index(0));
    for (Index row = 0; row < jacobian.rows(); ++row) {
        SparseJacobian::InnerIterator it(jacobian, row);
        if (!it)
            continue;
        const Index first = findRoot(parent, it.col());
        for (++it; it; ++it)
            parent[std::size_t(findRoot(parent, it.col()))] = first;
    }

    std::vector<Index> partOf(parent.size(), -1);
    std::vector<ColumnBlock> parts;
    for (Index column = 0; column < jacobian.cols(); ++column) {
        Index& part = partOf[std::size_t(findRoot(parent, column))];
        if (part < 0) {
            part = Index(parts.size());
            parts.emplace_back();
        }
        parts[std::size_t(part)].columns.push_back(column);
    }
    for (Index row = 0; row < jacobian.rows(); ++row) {
        SparseJacobian::InnerIterator it(jacobian, row);
        if (it)
            parts[std::size_t(partOf[std::size_t(findRoot(parent, it.col()))])].rows.push_back(row);
    }
    return parts;
}

ColumnMajor extract(const SparseJacobian& jacobian, const ColumnBlock& part,
                    std::vector<Index>& local)
{
    for (std::size_t k = 0; k < part.columns.size(); ++k)
        local[std::size_t(part.columns[k])] = Index(k);
    std::vector<Eigen::Triplet<double>> entries;
    for (std::size_t k = 0; k < part.rows.size(); ++k)
        for (SparseJacobian::InnerIterator it(jacobian, part.rows[k]); it; ++it)
            entries.emplace_back(Index(k), local[std::size_t(it.col())], it.value());
    ColumnMajor m(Index(part.rows.size()), Index(part.columns.size()));
    m.setFromTriplets(entries.begin(), entries.end());
    return m;
}

// Power iteration on mᵀ·m: |m·x| for a unit x never exceeds the largest singular
// value and grows towards it. It sets the rank threshold, a factor 1e-8 below, so
// three digits are plenty.
double largestSingularValue(const ColumnMajor& m)
{
    Eigen::VectorXd x = startVector(m.cols());
    double estimate = 0.0;
    for (int i = 0; i < 30; ++i) {
        const Eigen::VectorXd image = m * x;
        const double next = image.norm();
        const bool settled = next - estimate <= 1e-3 * next;
        estimate = std::max(estimate, next);
        const Eigen::VectorXd back = m.transpose() * image;
        const double length = back.norm();
        if (settled || !(length > 0.0))
            break;
        x = back / length;
    }
    return estimate;
}

// sqrt(|m|₁·|m|∞) never lies below the largest singular value.
double singularValueBound(const ColumnMajor& m)
{
    Eigen::VectorXd rowSums = Eigen::VectorXd::Zero(m.rows());
    double columnMax = 0.0;
    for (Index col = 0; col < m.outerSize(); ++col) {
        double sum = 0.0;
        for (ColumnMajor::InnerIterator it(m, col); it; ++it) {
            sum += std::fabs(it.value());
            rowSums[it.row()] += std::fabs(it.value());
        }
        columnMax = std::max(columnMax, sum);
    }
    return std::sqrt(columnMax * rowSums.maxCoeff());
}

// Inverse iteration on (Rᵀ·R)⁻¹ for an upper triangular R: an estimate from above of
// its smallest singular value, close after a few steps when that value stands apart.
double smallestSingularValue(const ColumnMajor& upper)
{
    Eigen::VectorXd x = startVector(upper.cols());
    double estimate = 0.0;
    for (int i = 0; i < 8; ++i) {
        upper.transpose().triangularView<Eigen::Lower>().solveInPlace(x);
        upper.triangularView<Eigen::Upper>().solveInPlace(x);
        const double length = x.norm();
        if (!std::isfinite(length) || length == 0.0)
            return 0.0;
        estimate = 1.0 / std::sqrt(length);
        x /= length;
    }
    return estimate;
}

double spectralNorm(const Eigen::MatrixXd& m)
{
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(m.transpose() * m,
                                                               Eigen::EigenvaluesOnly);
    return std::sqrt(std::max(0.0, eigen.eigenvalues().maxCoeff()));
}

// The k-th reflection of the QR below has row k at its head, whether that row meets
// the k-th column or not; a head row from elsewhere drags the etree path between
// the two into the factors, and in the order of the constraints (a diagonal added
// last, far from its columns) that fills R quadratically. So each position k gets,
// where one is left, a row with an entry in the k-th column of the fill-reducing
// order (the one whose first column comes earliest); the other rows fill the free
// places in the order of their first column.
ColumnMajor rowsOnThePivots(const ColumnMajor& m, const Permutation& position)
{
    const auto rows = std::size_t(m.rows());
    const auto cols = std::size_t(m.cols());
    std::vector<int> lead(rows, std::numeric_limits<int>::max());
    std::vector<Index> columnAt(cols);
    for (Index col = 0; col < m.outerSize(); ++col) {
        const int at = position.indices()(col);
        columnAt[std::size_t(at)] = col;
        for (ColumnMajor::InnerIterator it(m, col); it; ++it)
            lead[std::size_t(it.row())] = std::min(lead[std::size_t(it.row())], at);
    }
    const auto earlier = [&lead](Index a, Index b) {
        return lead[std::size_t(a)] < lead[std::size_t(b)]
               || (lead[std::size_t(a)] == lead[std::size_t(b)] && a < b);
    };
    std::vector<int> target(rows, -1);
    std::vector<char> taken(rows, 0);
    for (std::size_t k = 0; k < std::min(rows, cols); ++k) {
        Index best = -1;
        for (ColumnMajor::InnerIterator it(m, columnAt[k]); it; ++it)
            if (target[std::size_t(it.row())] < 0 && (best < 0 || earlier(it.row(), best)))
                best = it.row();
        if (best >= 0) {
            target[std::size_t(best)] = int(k);
            taken[k] = 1;
        }
    }
    std::vector<Index> rest;
    for (std::size_t r = 0; r < rows; ++r)
        if (target[r] < 0)
            rest.push_back(Index(r));
    std::sort(rest.begin(), rest.end(), earlier);
    std::size_t free = 0;
    for (Index r : rest) {
        while (taken[free])
            ++free;
        target[std::size_t(r)] = int(free++);
    }
    Permutation rowAt(m.rows());
    for (std::size_t r = 0; r < rows; ++r)
        rowAt.indices()(Index(r)) = target[r];
    ColumnMajor sorted = rowAt * m;
    sorted.makeCompressed();
    return sorted;
}

// Eigen's sparse QR, factorised by the same left-looking Householder steps but
// without its per-column clearing of two work vectors as long as the matrix: that
// clearing costs rows × columns and dominates above a few thousand columns. Here a
// column stamp marks visited rows and only the entries a column touched are reset,
// so the factors, pivots and rank are exactly Eigen's for the reordered rows.
class SparseRankQR : public Eigen::SparseQR<ColumnMajor, Eigen::COLAMDOrdering<int>> {
public:
    // The factors are those of m with its rows reordered, which changes neither
    // the rank nor the null space.
    void compute(const ColumnMajor& m)
    {
        Permutation position;
        Eigen::COLAMDOrdering<int>()(m, position);
        const ColumnMajor sorted = rowsOnThePivots(m, position);
        analyze(sorted, position);
        factorize(sorted);
    }

private:
    using Indices = Eigen::Matrix<StorageIndex, Eigen::Dynamic, 1>;

    void analyze(const ColumnMajor& m, const Permutation& position);
    void permuteColumns(const ColumnMajor& m);
    void factorize(const ColumnMajor& m);
};

// Eigen's analysis, with the column order found before the rows were reordered
// (so that it is the same order the constraints' own row order would get).
void SparseRankQR::analyze(const ColumnMajor& m, const Permutation& position)
{
    const Index diagonal = std::min(m.rows(), m.cols());
    m_perm_c = position;
    m_outputPerm_c = m_perm_c.inverse();
    Eigen::internal::coletree(m, m_etree, m_firstRowElt, m_outputPerm_c.indices().data());
    m_isEtreeOk = true;
    m_R.resize(m.rows(), m.cols());
    m_Q.resize(m.rows(), diagonal);
    m_R.reserve(2 * m.nonZeros());
    m_Q.reserve(2 * m.nonZeros());
    m_hcoeffs.resize(diagonal);
    m_analysisIsok = true;
}

// Points the working copy's columns at the input's in fill-reducing order.
void SparseRankQR::permuteColumns(const ColumnMajor& m)
{
    m_pmat = m;
    if (!m_isEtreeOk) {
        m_outputPerm_c = m_perm_c.inverse();
        Eigen::internal::coletree(m_pmat, m_etree, m_firstRowElt, m_outputPerm_c.indices().data());
        m_isEtreeOk = true;
    }
    m_pmat.uncompress();
    for (Index i = 0; i < m.cols(); ++i) {
        const Index p = m_perm_c.size() ? m_perm_c.indices()(i) : i;
        m_pmat.outerIndexPtr()[p] = m.outerIndexPtr()[i];
        m_pmat.innerNonZeroPtr()[p] = m.outerIndexPtr()[i + 1] - m.outerIndexPtr()[i];
    }
}

void SparseRankQR::factorize(const ColumnMajor& m)
{
    const auto rows = StorageIndex(m.rows());
    const auto cols = StorageIndex(m.cols());
    const StorageIndex diagonal = std::min(rows, cols);
    Indices mark = Indices::Constant(std::max(rows, cols), -1); // last column that visited a row
    Indices rIndex(cols);
    Indices qIndex(rows);
    Eigen::VectorXd work = Eigen::VectorXd::Zero(rows); // zero again after every column
    m_R.setZero();
    m_Q.setZero();
    permuteColumns(m);
    m_pivotperm.setIdentity(cols);

    StorageIndex pivots = 0;
    m_Q.startVec(0);
    for (StorageIndex col = 0; col < cols; ++col) {
        m_R.startVec(col);
        mark(pivots) = col;
        qIndex(0) = pivots;
        Index rCount = 0;
        Index qCount = 1;
        // Pattern of R(:, col): the rows reachable in the elimination tree from the
        // column's entries, in topological order; entries below the diagonal start Q.
        bool diagonalSeen = pivots >= rows;
        for (ColumnMajor::InnerIterator it(m_pmat, col); it || !diagonalSeen; ++it) {
            const StorageIndex row = it ? StorageIndex(it.row()) : pivots;
            diagonalSeen = diagonalSeen || row == pivots;
            StorageIndex node = m_firstRowElt(row);
            if (node < 0) {
                m_lastError = "Empty row found during numerical factorization";
                m_info = Eigen::InvalidInput;
                return;
            }
            const Index begin = rCount;
            for (; mark(node) != col; node = m_etree(node)) {
                rIndex(rCount++) = node;
                mark(node) = col;
            }
            std::reverse(rIndex.data() + begin, rIndex.data() + rCount);
            work(row) = it ? it.value() : 0.0;
            if (row > pivots && mark(row) != col) {
                qIndex(qCount++) = row;
                mark(row) = col;
            }
        }
        // Apply the earlier reflections in reverse topological order.
        for (Index i = rCount - 1; i >= 0; --i) {
            const Index k = rIndex(i);
            const double dot = m_Q.col(k).dot(work) * m_hcoeffs(k);
            for (QRMatrixType::InnerIterator q(m_Q, k); q; ++q)
                work(q.row()) -= q.value() * dot;
            if (m_etree(rIndex(i)) != pivots)
                continue;
            for (QRMatrixType::InnerIterator q(m_Q, k); q; ++q) {
                if (mark(q.row()) != col) {
                    qIndex(qCount++) = StorageIndex(q.row());
                    mark(q.row()) = col;
                }
            }
        }
        // The reflection that zeroes the column below the diagonal.
        double tau = 0.0;
        double beta = 0.0;
        if (pivots < diagonal) {
            const double c0 = work(qIndex(0));
            double below = 0.0;
            for (Index i = 1; i < qCount; ++i)
                below += work(qIndex(i)) * work(qIndex(i));
            if (below == 0.0) {
                beta = c0;
            } else {
                beta = c0 >= 0.0 ? -std::sqrt(c0 * c0 + below) : std::sqrt(c0 * c0 + below);
                for (Index i = 1; i < qCount; ++i)
                    work(qIndex(i)) /= c0 - beta;
                tau = (beta - c0) / beta;
            }
            work(qIndex(0)) = 1.0;
        }
        for (Index i = rCount - 1; i >= 0; --i) {
            const Index k = rIndex(i);
            if (k < pivots) {
                m_R.insertBackByOuterInnerUnordered(col, k) = work(k);
                work(k) = 0.0;
            }
        }
        if (pivots < diagonal && std::abs(beta) >= m_threshold) {
            m_R.insertBackByOuterInner(col, pivots) = beta;
            m_hcoeffs(pivots) = tau;
            for (Index i = 0; i < qCount; ++i) {
                m_Q.insertBackByOuterInnerUnordered(pivots, qIndex(i)) = work(qIndex(i));
                work(qIndex(i)) = 0.0;
            }
            ++pivots;
            if (pivots < diagonal)
                m_Q.startVec(pivots);
        } else {
            // A pivot below the threshold (or none left): the column moves to the end.
            for (Index i = 0; i < qCount && pivots < diagonal; ++i)
                work(qIndex(i)) = 0.0;
            for (Index j = pivots; j < cols - 1; ++j)
                std::swap(m_pivotperm.indices()(j), m_pivotperm.indices()(j + 1));
            Eigen::internal::coletree(m_pmat, m_etree, m_firstRowElt, m_pivotperm.indices().data());
            m_isEtreeOk = false;
        }
    }
    m_hcoeffs.tail(diagonal - pivots).setZero();
    m_Q.finalize();
    m_Q.makeCompressed();
    m_R.finalize();
    m_R.makeCompressed();
    m_isQSorted = false;
    m_nonzeropivots = pivots;
    if (pivots < cols) {
        const QRMatrixType unpermuted(m_R);
        m_R = unpermuted * m_pivotperm;
        m_outputPerm_c = m_outputPerm_c * m_pivotperm;
    }
    m_isInitialized = true;
    m_factorizationIsok = true;
    m_info = Eigen::Success;
}

// Sparse QR whose pivots below the threshold are set aside. Its rank r is the one
// of the singular values only when the kept triangle has no singular value at or
// below the threshold (so rank ≥ r) and the null space it implies is mapped within
// the threshold (so rank ≤ r). The threshold itself is known only between
// `threshold` and `ceiling` (the largest singular value is estimated from below and
// bounded from above), so each check takes the bound against it; nothing is
// returned when one fails.
std::optional<BlockRank> sparseRank(const ColumnMajor& m, double threshold, double ceiling,
                                    bool withNull)
{
    SparseRankQR qr;
    qr.setPivotThreshold(threshold);
    qr.compute(m);
    if (qr.info() != Eigen::Success)
        return std::nullopt;
    const Index columns = m.cols();
    const Index rank = qr.rank();
    const Index nullity = columns - rank;
    // The factor's columns are not kept in row order; blocks and triangular solves
    // of it need them sorted, which a round trip through row-major storage does.
    const Eigen::SparseMatrix<double, Eigen::RowMajor> rowMajor = qr.matrixR();
    const ColumnMajor r = rowMajor;
    const ColumnMajor leading = r.topLeftCorner(rank, rank);
    // The estimate comes from above, hence the margin.
    if (rank > 0 && !(smallestSingularValue(leading) > 10.0 * ceiling))
        return std::nullopt;

    BlockRank out;
    out.rank = int(rank);
    if (nullity == 0) {
        if (withNull)
            out.nullWeight = Eigen::VectorXd::Zero(columns);
        return out;
    }
    // Null space of the permuted matrix: [-R11⁻¹·R12; I].
    Eigen::MatrixXd basis(columns, nullity);
    if (rank > 0) {
        Eigen::MatrixXd coupled = Eigen::MatrixXd(r.middleCols(rank, nullity)).topRows(rank);
        leading.triangularView<Eigen::Upper>().solveInPlace(coupled);
        basis.topRows(rank) = -coupled;
    }
    basis.bottomRows(nullity).setIdentity();
    basis = qr.colsPermutation() * basis;

    // With its identity block the basis stretches no vector, so |m·basis| bounds m
    // on the unit vectors of its span; only when that bound is too coarse (or the
    // weights are wanted) is the basis made orthonormal.
    const bool bounded = (m * basis).norm() <= threshold;
    if (!bounded || withNull) {
        const Eigen::HouseholderQR<Eigen::MatrixXd> householder(basis);
        basis = householder.householderQ() * Eigen::MatrixXd::Identity(columns, nullity);
        if (!bounded && !(spectralNorm(m * basis) <= threshold))
            return std::nullopt;
    }
    if (withNull)
        out.nullWeight = basis.rowwise().squaredNorm();
    return out;
}

JacobianRank automaticRank(const SparseJacobian& jacobian, bool withNull)
{
    const std::vector<ColumnBlock> parts = independentParts(jacobian);
    std::vector<Index> local(std::size_t(jacobian.cols()), 0);
    std::vector<ColumnMajor> matrices(parts.size());
    std::vector<Eigen::JacobiSVD<Eigen::MatrixXd>> svds(parts.size());
    const auto isDense
        = [](const ColumnBlock& part) { return Index(part.columns.size()) <= denseColumns; };

    // The threshold depends on the largest singular value of all parts together.
    double sigma0 = 0.0;
    double sigmaBound = 0.0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].rows.empty())
            continue;
        matrices[i] = extract(jacobian, parts[i], local);
        if (isDense(parts[i])) {
            svds[i].compute(Eigen::MatrixXd(matrices[i]),
                            withNull ? unsigned(Eigen::ComputeFullV) : 0u);
            sigma0 = std::max(sigma0, svds[i].singularValues()[0]);
            sigmaBound = std::max(sigmaBound, svds[i].singularValues()[0]);
        } else {
            sigma0 = std::max(sigma0, largestSingularValue(matrices[i]));
            sigmaBound = std::max(sigmaBound, singularValueBound(matrices[i]));
        }
    }
    const double threshold = rankThreshold(sigma0);
    const double ceiling = rankThreshold(sigmaBound);

    JacobianRank out;
    if (withNull)
        out.nullWeight = Eigen::VectorXd::Ones(jacobian.cols());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const ColumnBlock& part = parts[i];
        if (part.rows.empty())
            continue; // columns no row depends on: free, rank 0
        BlockRank rank;
        if (isDense(part)) {
            rank = fromSvd(svds[i], Index(part.columns.size()), threshold, withNull);
        } else if (auto sparse = sparseRank(matrices[i], threshold, ceiling, withNull)) {
            rank = std::move(*sparse);
        } else {
            rank = denseRank(Eigen::MatrixXd(matrices[i]), threshold, withNull);
        }
        out.rank += rank.rank;
        if (withNull)
            for (std::size_t k = 0; k < part.columns.size(); ++k)
                out.nullWeight[part.columns[k]] = rank.nullWeight[Index(k)];
    }
    return out;
}

SparseJacobian withoutRows(const SparseJacobian& jacobian, Index first, Index count)
{
    std::vector<Eigen::Triplet<double>> entries;
    entries.reserve(std::size_t(jacobian.nonZeros()));
    for (Index row = 0; row < jacobian.rows(); ++row) {
        if (row >= first && row < first + count)
            continue;
        const Index target = row < first ? row : row - count;
        for (SparseJacobian::InnerIterator it(jacobian, row); it; ++it)
            entries.emplace_back(target, it.col(), it.value());
    }
    SparseJacobian out(jacobian.rows() - count, jacobian.cols());
    out.setFromTriplets(entries.begin(), entries.end());
    return out;
}

// Drops derivatives at the level of rounding noise against the largest of their row
// (a horizontal line's length read along y far from the origin): as entries they
// join parts of the sketch that are independent and make the factors fill in. They
// are dropped only when together they move no singular value by more than 1e-11 of
// the largest entry, a thousandth of the rank threshold (σ₀ is at least that entry).
void dropRoundingNoise(SparseJacobian& jacobian)
{
    Eigen::VectorXd rowMax = Eigen::VectorXd::Zero(jacobian.rows());
    for (Index row = 0; row < jacobian.rows(); ++row)
        for (SparseJacobian::InnerIterator it(jacobian, row); it; ++it)
            rowMax[row] = std::max(rowMax[row], std::fabs(it.value()));
    const auto isNoise
        = [&rowMax](Index row, double v) { return std::fabs(v) <= roundingNoise * rowMax[row]; };
    double dropped = 0.0;
    for (Index row = 0; row < jacobian.rows(); ++row)
        for (SparseJacobian::InnerIterator it(jacobian, row); it; ++it)
            if (isNoise(row, it.value()))
                dropped += it.value() * it.value();
    const double largest = rowMax.size() ? rowMax.maxCoeff() : 0.0;
    if (dropped > 0.0 && std::sqrt(dropped) <= 1e-11 * std::max(1.0, largest))
        jacobian.prune([&isNoise](Index row, Index, double v) { return !isNoise(row, v); });
}

} // namespace

JacobianRank jacobianRank(const SparseJacobian& jacobian, bool withNullSpace, RankMethod method)
{
    if (jacobian.rows() == 0 || jacobian.cols() == 0) {
        JacobianRank out;
        if (withNullSpace)
            out.nullWeight = Eigen::VectorXd::Ones(jacobian.cols());
        return out;
    }
    // A non-finite derivative (a dimension of inf) carries no direction; as zero it
    // keeps the decompositions well defined.
    SparseJacobian clean = jacobian;
    clean.prune([](Index, Index, double v) { return std::isfinite(v) && v != 0.0; });
    dropRoundingNoise(clean);

    if (method == RankMethod::Automatic)
        return automaticRank(clean, withNullSpace);

    const Eigen::BDCSVD<Eigen::MatrixXd> svd(Eigen::MatrixXd(clean),
                                             withNullSpace ? unsigned(Eigen::ComputeFullV) : 0u);
    const Eigen::VectorXd& sigma = svd.singularValues();
    const BlockRank part
        = fromSvd(svd, clean.cols(), rankThreshold(sigma.size() ? sigma[0] : 0.0), withNullSpace);
    return {part.rank, part.nullWeight};
}

void analyzeDof(DofResult& out, const System& system, std::vector<bool>* determined)
{
    const Sketch& sketch = *system.sketch;
    if (determined)
        determined->assign(sketch.params.size(), true);
    const std::vector<std::uint32_t> variables = unknownParams(system, {});
    const auto n = std::int32_t(variables.size());
    if (n == 0) {
        out.dof = 0;
        return;
    }
    if (system.rows == 0) {
        out.dof = n;
        if (determined)
            for (std::uint32_t p : variables)
                (*determined)[p] = false;
        return;
    }
    const ColumnMap columns = columnMap(variables, sketch.params.size());
    const SparseJacobian jacobian = sparseJacobian(system, sketch.params, variables, columns);
    const JacobianRank rank = jacobianRank(jacobian, determined != nullptr);
    out.dof = n - rank.rank;
    if (determined && out.dof >= 1)
        for (std::size_t j = 0; j < variables.size(); ++j)
            if (rank.nullWeight[Index(j)] > freeWeight)
                (*determined)[variables[j]] = false;
}

void analyzeDof(DofResult& out, const Sketch& sketch, std::vector<bool>* determined)
{
    analyzeDof(out, buildSystem(sketch), determined);
}

bool isEntityDetermined(const Sketch& sketch, std::uint32_t entityId,
                        const std::vector<bool>& determined)
{
    for (int index : sketch.paramsOf(int(entityId)))
        if (index < 0 || std::size_t(index) >= determined.size() || !determined[std::size_t(index)])
            return false;
    return true;
}

bool isRedundant(const Sketch& sketch, const Constraint& candidate)
{
    if (candidate.type == ConstraintType::Fixed) {
        DofResult dof;
        std::vector<bool> determined;
        analyzeDof(dof, sketch, &determined);
        for (int index : sketch.paramsOf(candidate.a))
            if (index >= 0
                && (std::size_t(index) >= determined.size() || !determined[std::size_t(index)]))
                return false;
        return true;
    }

    // One system with the candidate's rows; without them it is the sketch's own
    // system, since every block's rows depend on nothing but its own constraint.
    const System system = buildSystem(sketch, &candidate);
    const auto block
        = std::find_if(system.blocks.begin(), system.blocks.end(),
                       [&](const System::Block& b) { return b.constraint == &candidate; });
    if (block == system.blocks.end())
        return false;
    const std::vector<std::uint32_t> variables = unknownParams(system, {});
    const SparseJacobian with = sparseJacobian(system, sketch.params, variables,
                                               columnMap(variables, sketch.params.size()));
    const SparseJacobian without = withoutRows(with, block->rowOffset, block->rowCount);
    const int gain = jacobianRank(with, false).rank - jacobianRank(without, false).rank;
    return gain < block->rowCount;
}

bool dragPoint(Sketch& sketch, std::uint32_t pointId, double x, double y)
{
    const Entity* point = sketch.findEntity(int(pointId));
    if (!point || point->type != EntityType::Point)
        return false;
    for (const Constraint& c : sketch.constraints)
        if (c.type == ConstraintType::Fixed && c.a == int(pointId))
            return false;

    const std::vector<int> held{point->p0, point->p1};
    const std::vector<double> saved = sketch.params;
    SolveResult result;
    sketch.setPointPosition(int(pointId), x, y);
    solve(result, sketch, held);
    if (result.ok)
        return true;

    sketch.params = saved;
    sketch.setPointPosition(int(pointId), x, y);
    solve(result, sketch, {});
    if (result.ok)
        return true;

    sketch.params = saved;
    return false;
}

} // namespace qor::sketch
