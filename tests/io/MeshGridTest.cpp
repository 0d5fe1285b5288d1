// The writers' grid takes nodes as one point when they round to the same
// multiples of 0.00001 mm, and when they lie closer than that step on
// neighbouring cells, however such pairs chain. The grid finds the pairs on
// neighbouring cells by passes over its sorted cells; checked here against
// joining every pair of nodes, on random clusters around cell borders.
// QOR_GRID_SEEDS=N runs N clusters from seed QOR_GRID_FIRST instead of the usual ones.

#include "io/MeshFaces.h"
#include "tests/common/Seeds.h"

#include <QtGlobal>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>

namespace {

constexpr double step = 0.00001;

std::array<long long, 3> cell(const gp_Pnt& p)
{
    return {std::llround(100000.0 * p.X()), std::llround(100000.0 * p.Y()),
            std::llround(100000.0 * p.Z())};
}

// The groups by every pair: one cell, or neighbouring cells and closer than the step.
std::vector<int> groupsByPairs(const std::vector<gp_Pnt>& nodes)
{
    std::vector<int> parent(nodes.size());
    std::iota(parent.begin(), parent.end(), 0);
    const auto root = [&parent](int i) {
        while (parent[std::size_t(i)] != i)
            i = parent[std::size_t(i)];
        return i;
    };
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        for (std::size_t j = i + 1; j < nodes.size(); ++j) {
            const auto a = cell(nodes[i]);
            const auto b = cell(nodes[j]);
            bool near = true;
            for (std::size_t k = 0; k < 3; ++k)
                near = near && std::abs(a[k] - b[k]) <= 1;
            if (a == b || (near && nodes[i].Distance(nodes[j]) < step))
                parent[std::size_t(root(int(i)))] = root(int(j));
        }
    }
    std::vector<int> groups;
    for (std::size_t i = 0; i < nodes.size(); ++i)
        groups.push_back(root(int(i)));
    return groups;
}

// A few clusters of nodes around points where cell borders cross, each node up
// to one and a half steps from its cluster's point along each axis.
std::vector<gp_Pnt> randomClusters(std::mt19937& random)
{
    std::uniform_int_distribution<long long> where(-2000000, 2000000);
    std::uniform_real_distribution<double> spread(-1.5 * step, 1.5 * step);
    std::vector<gp_Pnt> nodes;
    const int clusters = 1 + int(random() % 4);
    for (int c = 0; c < clusters; ++c) {
        const gp_Pnt centre((double(where(random)) + 0.5) * step,
                            (double(where(random)) + 0.5) * step, double(where(random)) * step);
        // Some clusters are tight: all their nodes within a step of each other.
        const double scale = random() % 2 == 0 ? 1.0 : 0.3;
        const int count = 2 + int(random() % 20);
        for (int i = 0; i < count; ++i)
            nodes.emplace_back(centre.X() + scale * spread(random),
                               centre.Y() + scale * spread(random),
                               centre.Z() + scale * spread(random));
    }
    std::shuffle(nodes.begin(), nodes.end(), random);
    return nodes;
}

} // namespace

TEST(MeshGrid, JoinsWhatJoiningEveryPairJoins)
{
    unsigned first = qor::test::seed(0);
    unsigned count = 400;
    if (const int seeds = qEnvironmentVariableIntValue("QOR_GRID_SEEDS"); seeds > 0) {
        first = unsigned(qEnvironmentVariableIntValue("QOR_GRID_FIRST"));
        count = unsigned(seeds);
    }
    int acrossBorders = 0;
    for (unsigned seed = first; seed < first + count; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const std::vector<gp_Pnt> nodes = randomClusters(random);
        std::vector<gp_Pnt> vertices;
        const std::vector<int> vertexOf = qor::io::gridVertices(nodes, vertices);
        const std::vector<int> groups = groupsByPairs(nodes);
        ASSERT_EQ(vertexOf.size(), nodes.size());
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            for (std::size_t j = i + 1; j < nodes.size(); ++j) {
                EXPECT_EQ(vertexOf[i] == vertexOf[j], groups[i] == groups[j]) << i << " " << j;
                acrossBorders += groups[i] == groups[j] && cell(nodes[i]) != cell(nodes[j]);
            }
        }
        // Each vertex is the first node of its group, in the order the groups first come.
        int next = 0;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const bool firstOfGroup
                = std::none_of(groups.begin(), groups.begin() + std::ptrdiff_t(i),
                               [&](int g) { return g == groups[i]; });
            if (!firstOfGroup)
                continue;
            EXPECT_EQ(vertexOf[i], next);
            EXPECT_TRUE(vertices[std::size_t(next)].IsEqual(nodes[i], 0.0));
            ++next;
        }
        EXPECT_EQ(int(vertices.size()), next);
    }
    // Rounding alone would have split these.
    EXPECT_GT(acrossBorders, 0);
}
