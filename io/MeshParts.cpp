#include "io/MeshParts.h"

#include "io/DisjointSets.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <utility>

namespace qor::io {

namespace {

// One triangle's use of an edge.
struct EdgeUse {
    std::uint64_t key = 0;
    int triangle = 0;
    bool upward = false; // run from the lower vertex number to the higher
};

std::vector<EdgeUse> edgeUses(const IndexedMesh& mesh, const std::vector<int>& triangles)
{
    std::vector<EdgeUse> uses;
    uses.reserve(3 * triangles.size());
    for (const int t : triangles) {
        const auto& corners = mesh.triangles[std::size_t(t)];
        for (std::size_t k = 0; k < 3; ++k) {
            const int from = corners[k];
            const int to = corners[(k + 1) % 3];
            uses.push_back({edgeKey(from, to), t, from < to});
        }
    }
    std::sort(uses.begin(), uses.end(), [](const EdgeUse& a, const EdgeUse& b) {
        return a.key != b.key ? a.key < b.key : a.triangle < b.triangle;
    });
    return uses;
}

// The triangles at one edge paired round it. Seen along the edge from its lower
// vertex to its higher, a triangle run downward faces clockwise, so the solid
// behind it lies counter-clockwise, up to the next triangle run upward; turned
// round, the other way. A triangle at the same angle as one of the other kind
// (a copy turned round) comes last, so that it is paired only where nothing else is.
void pairRoundEdge(const IndexedMesh& mesh, const EdgeUse* first, std::size_t count, bool turned,
                   DisjointSets& parts)
{
    const int lower = int(first->key >> 32);
    const int higher = int(first->key & 0xffffffffU);
    const gp_XYZ origin = mesh.vertices[std::size_t(lower)].XYZ();
    gp_XYZ along = mesh.vertices[std::size_t(higher)].XYZ() - origin;
    if (along.Modulus() <= 0.0)
        return;
    along.Normalize();
    const auto wing = [&](const EdgeUse& use) {
        const auto& corners = mesh.triangles[std::size_t(use.triangle)];
        int third = corners[0];
        for (const int corner : corners) {
            if (corner != lower && corner != higher)
                third = corner;
        }
        const gp_XYZ offset = mesh.vertices[std::size_t(third)].XYZ() - origin;
        return offset - along * offset.Dot(along);
    };
    gp_XYZ u = wing(*first);
    if (u.Modulus() <= 0.0)
        return;
    u.Normalize();
    const gp_XYZ v = along.Crossed(u);
    struct Around {
        double angle;
        bool opens;
        int triangle;
    };
    std::vector<Around> around;
    for (std::size_t i = 0; i < count; ++i) {
        const gp_XYZ w = wing(first[i]);
        double angle = std::atan2(w.Dot(v), w.Dot(u));
        if (angle < 0.0)
            angle += 2.0 * M_PI;
        around.push_back({angle, first[i].upward == turned, first[i].triangle});
    }
    constexpr double sameAngle = 1e-12;
    std::sort(around.begin(), around.end(), [](const Around& a, const Around& b) {
        if (std::abs(a.angle - b.angle) > sameAngle)
            return a.angle < b.angle;
        return !a.opens && b.opens;
    });
    // Openers wait for the next closer counter-clockwise, once round and on.
    std::vector<std::size_t> waiting;
    std::vector<bool> paired(around.size(), false);
    for (std::size_t step = 0; step < 2 * around.size(); ++step) {
        const std::size_t i = step % around.size();
        if (around[i].opens) {
            if (step < around.size())
                waiting.push_back(i);
        } else if (!paired[i] && !waiting.empty()) {
            const std::size_t opener = waiting.back();
            waiting.pop_back();
            paired[i] = paired[opener] = true;
            parts.join(around[opener].triangle, around[i].triangle);
        }
    }
}

// The triangles grouped into parts, each group in triangle order.
std::vector<std::vector<int>> partsOf(const IndexedMesh& mesh, const std::vector<int>& triangles,
                                      bool turned)
{
    DisjointSets parts(mesh.triangles.size());
    const std::vector<EdgeUse> uses = edgeUses(mesh, triangles);
    for (std::size_t i = 0; i < uses.size();) {
        std::size_t j = i;
        while (j < uses.size() && uses[j].key == uses[i].key)
            ++j;
        if (j - i == 2)
            parts.join(uses[i].triangle, uses[i + 1].triangle);
        else if (j - i > 2)
            pairRoundEdge(mesh, &uses[i], j - i, turned, parts);
        i = j;
    }
    std::vector<std::vector<int>> groups;
    std::vector<int> groupOf(mesh.triangles.size(), -1);
    for (const int t : triangles) {
        int& group = groupOf[std::size_t(parts.root(t))];
        if (group < 0) {
            group = int(groups.size());
            groups.emplace_back();
        }
        groups[std::size_t(group)].push_back(t);
    }
    return groups;
}

// True when every edge of the part is run through as often one way as the other:
// only then is its volume independent of the origin.
bool closed(const IndexedMesh& mesh, const std::vector<int>& part)
{
    const std::vector<EdgeUse> uses = edgeUses(mesh, part);
    for (std::size_t i = 0; i < uses.size();) {
        int balance = 0;
        std::size_t j = i;
        for (; j < uses.size() && uses[j].key == uses[i].key; ++j)
            balance += uses[j].upward ? 1 : -1;
        if (balance != 0)
            return false;
        i = j;
    }
    return true;
}

double volumeOf(const IndexedMesh& mesh, const std::vector<int>& part)
{
    double sixfold = 0.0;
    for (const int t : part)
        sixfold += sixfoldVolume(mesh, t);
    return sixfold / 6.0;
}

} // namespace

std::vector<double> MeshParts::insideOut() const
{
    std::vector<double> volumes;
    std::copy_if(closedVolumes.begin(), closedVolumes.end(), std::back_inserter(volumes),
                 [](double volume) { return volume < 0.0; });
    return volumes;
}

double MeshParts::volume() const
{
    return std::accumulate(closedVolumes.begin(), closedVolumes.end(), 0.0);
}

MeshParts meshParts(const IndexedMesh& mesh)
{
    std::vector<int> all(mesh.triangles.size());
    std::iota(all.begin(), all.end(), 0);
    MeshParts result;
    for (const std::vector<int>& part : partsOf(mesh, all, false)) {
        if (!closed(mesh, part)) {
            ++result.count;
            ++result.open;
            continue;
        }
        const double volume = volumeOf(mesh, part);
        if (!(volume < 0.0)) {
            ++result.count;
            result.closedVolumes.push_back(volume);
            continue;
        }
        for (const std::vector<int>& piece : partsOf(mesh, part, true)) {
            ++result.count;
            if (closed(mesh, piece))
                result.closedVolumes.push_back(volumeOf(mesh, piece));
            else
                ++result.open;
        }
    }
    return result;
}

} // namespace qor::io
