#include "sketch/ClosedOutlines.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numeric>
#include <unordered_map>
#include <utility>

namespace qor::sketch {

namespace {

// Ends this close are joined: the kernel's splitter (fuzzy 1e-6) joins them too.
constexpr double joinDistance = 1e-6;
// Beyond this an end's grid cell would not fit in its key: such ends join nothing.
constexpr double maxCoordinate = 1e9;

struct UnionFind {
    std::vector<std::size_t> root;
    // Parity of a vertex relative to its root: the crossings of a ray along u
    // with the curves on a walk between them, odd or even.
    std::vector<char> parity;

    explicit UnionFind(std::size_t n)
        : root(n)
        , parity(n, 0)
    {
        std::iota(root.begin(), root.end(), 0);
    }

    std::pair<std::size_t, char> find(std::size_t x)
    {
        std::size_t r = x;
        char p = 0;
        while (root[r] != r) {
            p ^= parity[r];
            r = root[r];
        }
        // Every vertex on the way now points at the root with its own parity.
        char q = p;
        while (root[x] != x) {
            const std::size_t next = root[x];
            const char nextParity = char(q ^ parity[x]);
            root[x] = r;
            parity[x] = q;
            x = next;
            q = nextParity;
        }
        return {r, p};
    }

    // Joins a and b with the parity between them; false when they are already
    // joined with the other parity.
    bool unite(std::size_t a, std::size_t b, char between)
    {
        const auto [ra, pa] = find(a);
        const auto [rb, pb] = find(b);
        if (ra == rb)
            return char(pa ^ pb) == between;
        root[ra] = rb;
        parity[ra] = char(pa ^ pb ^ between);
        return true;
    }
};

// The vertex of every drawn end (ends 2k and 2k + 1 are one curve's).
std::vector<std::size_t> joinEnds(const std::vector<Vec2>& ends, std::size_t& vertexCount)
{
    const auto cellOf = [](double x) { return std::int64_t(std::floor(x / joinDistance)); };
    const auto key = [](std::int64_t i, std::int64_t j) {
        return (std::uint64_t(i) << 32) ^ std::uint64_t(j & 0xffffffff);
    };
    UnionFind joined(ends.size());
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> cells;
    // Ends at the very same place (a point shared by several curves) are
    // joined at once, so that many of them cost no comparisons between each other.
    std::unordered_map<std::uint64_t, std::size_t> exact;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const Vec2 p = ends[k];
        if (std::fabs(p.x) >= maxCoordinate || std::fabs(p.y) >= maxCoordinate)
            continue;
        const std::uint64_t place = std::hash<double>()(p.x) * 31 + std::hash<double>()(p.y);
        if (const auto same = exact.find(place);
            same != exact.end() && ends[same->second].x == p.x && ends[same->second].y == p.y) {
            joined.unite(k, same->second, 0);
            continue;
        }
        exact.emplace(place, k);
        const std::int64_t i = cellOf(p.x);
        const std::int64_t j = cellOf(p.y);
        for (std::int64_t di = -1; di <= 1; ++di) {
            for (std::int64_t dj = -1; dj <= 1; ++dj) {
                const auto it = cells.find(key(i + di, j + dj));
                if (it == cells.end())
                    continue;
                for (const std::size_t other : it->second) {
                    if ((p - ends[other]).length() <= joinDistance)
                        joined.unite(k, other, 0);
                }
            }
        }
        cells[key(i, j)].push_back(k);
    }
    std::vector<std::size_t> vertexOfRoot(ends.size(), std::size_t(-1));
    std::vector<std::size_t> vertex(ends.size());
    vertexCount = 0;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const std::size_t r = joined.find(k).first;
        if (vertexOfRoot[r] == std::size_t(-1))
            vertexOfRoot[r] = vertexCount++;
        vertex[k] = vertexOfRoot[r];
    }
    return vertex;
}

struct Graph {
    std::size_t vertexCount = 0;
    std::vector<std::array<std::size_t, 2>> edgeEnds;
    std::vector<std::size_t> edgeCurve;
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> adjacent; // (edge, other end)
};

// The blocks of the graph with more than one edge, as lists of edges (Tarjan's
// search, walked with a stack of its own so that long chains cannot overflow).
std::vector<std::vector<std::size_t>> cycleBlocks(const Graph& g)
{
    constexpr std::size_t unseen = std::size_t(-1);
    std::vector<std::size_t> order(g.vertexCount, unseen);
    std::vector<std::size_t> low(g.vertexCount, 0);
    struct Frame {
        std::size_t vertex;
        std::size_t viaEdge;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    std::vector<std::size_t> edges;
    std::vector<std::vector<std::size_t>> blocks;
    std::size_t counter = 0;
    for (std::size_t start = 0; start < g.vertexCount; ++start) {
        if (order[start] != unseen)
            continue;
        order[start] = low[start] = counter++;
        stack.push_back({start, unseen});
        while (!stack.empty()) {
            Frame& frame = stack.back();
            const std::size_t v = frame.vertex;
            if (frame.next < g.adjacent[v].size()) {
                const auto [edge, w] = g.adjacent[v][frame.next++];
                if (edge == frame.viaEdge)
                    continue;
                if (order[w] == unseen) {
                    edges.push_back(edge);
                    order[w] = low[w] = counter++;
                    stack.push_back({w, edge});
                } else if (order[w] < order[v]) {
                    edges.push_back(edge);
                    low[v] = std::min(low[v], order[w]);
                }
                continue;
            }
            const std::size_t via = frame.viaEdge;
            stack.pop_back();
            if (stack.empty())
                break;
            const std::size_t u = stack.back().vertex;
            low[u] = std::min(low[u], low[v]);
            if (low[v] < order[u])
                continue;
            std::vector<std::size_t> block;
            while (true) {
                const std::size_t e = edges.back();
                edges.pop_back();
                block.push_back(e);
                if (e == via)
                    break;
            }
            if (block.size() > 1)
                blocks.push_back(std::move(block));
        }
    }
    return blocks;
}

void extendBox(const PlaneCurve& curve, Vec2& lo, Vec2& hi)
{
    const auto add = [&](Vec2 q) {
        lo = {std::min(lo.x, q.x), std::min(lo.y, q.y)};
        hi = {std::max(hi.x, q.x), std::max(hi.y, q.y)};
    };
    if (curve.type == EntityType::Line) {
        add(curve.a);
        add(curve.b);
        return;
    }
    add(curve.a - Vec2{curve.r, curve.r});
    add(curve.a + Vec2{curve.r, curve.r});
}

// Sets the outline's box around its curves.
void setBox(const std::vector<PlaneCurve>& curves, ClosedOutlines::Outline& outline)
{
    outline.lo = {HUGE_VAL, HUGE_VAL};
    outline.hi = {-HUGE_VAL, -HUGE_VAL};
    for (const std::size_t c : outline.curves)
        extendBox(curves[c], outline.lo, outline.hi);
}

ClosedOutlines::Outline outlineOf(const Graph& g, const std::vector<std::size_t>& block)
{
    ClosedOutlines::Outline outline;
    std::unordered_map<std::size_t, std::size_t> local;
    std::vector<std::size_t> degree;
    for (const std::size_t e : block) {
        outline.curves.push_back(g.edgeCurve[e]);
        std::array<std::size_t, 2> joint{};
        for (int side = 0; side < 2; ++side) {
            const auto [it, added] = local.emplace(g.edgeEnds[e][std::size_t(side)], local.size());
            if (added)
                degree.push_back(0);
            joint[std::size_t(side)] = it->second;
            ++degree[it->second];
        }
        outline.joints.push_back(joint);
    }
    outline.vertexCount = local.size();
    // A single loop needs no joints: the parity of all its crossings tells.
    if (std::all_of(degree.begin(), degree.end(), [](std::size_t d) { return d == 2; }))
        outline.joints.clear();
    return outline;
}

// Whether p lies inside some loop of the outline: inside none exactly when
// each vertex can be given a parity such that every curve's crossings are
// the sum of its ends' parities.
bool insideOutline(const ClosedOutlines& all, const ClosedOutlines::Outline& outline, Vec2 p)
{
    if (outline.joints.empty()) {
        bool odd = false;
        for (const std::size_t c : outline.curves)
            odd ^= crossesOddly(all.curves[c], p);
        return odd;
    }
    UnionFind parities(outline.vertexCount);
    for (std::size_t k = 0; k < outline.curves.size(); ++k) {
        const char odd = crossesOddly(all.curves[outline.curves[k]], p) ? 1 : 0;
        if (!parities.unite(outline.joints[k][0], outline.joints[k][1], odd))
            return true;
    }
    return false;
}

} // namespace

ClosedOutlines closedOutlines(const Sketch& sketch)
{
    ClosedOutlines result;
    std::vector<CurveEnds> drawn;
    result.curves = sketchCurves(sketch, &drawn);

    // Circles close on their own; the other curves are joined at their ends.
    std::vector<std::size_t> open;
    std::vector<Vec2> ends;
    for (std::size_t k = 0; k < drawn.size(); ++k) {
        if (drawn[k].closed) {
            result.outlines.push_back({{k}, {}, 0, {}, {}});
            continue;
        }
        open.push_back(k);
        ends.push_back(drawn[k].start);
        ends.push_back(drawn[k].end);
    }
    Graph g;
    const std::vector<std::size_t> vertex = joinEnds(ends, g.vertexCount);
    g.adjacent.resize(g.vertexCount);
    for (std::size_t n = 0; n < open.size(); ++n) {
        const std::size_t k = open[n];
        const std::size_t a = vertex[2 * n];
        const std::size_t b = vertex[2 * n + 1];
        if (a == b) {
            // An arc whose ends meet closes on its own; a line encloses nothing.
            if (result.curves[k].type == EntityType::Arc)
                result.outlines.push_back({{k}, {}, 0, {}, {}});
            continue;
        }
        const std::size_t edge = g.edgeEnds.size();
        g.edgeEnds.push_back({a, b});
        g.edgeCurve.push_back(k);
        g.adjacent[a].emplace_back(edge, b);
        g.adjacent[b].emplace_back(edge, a);
    }
    for (const std::vector<std::size_t>& block : cycleBlocks(g))
        result.outlines.push_back(outlineOf(g, block));
    for (ClosedOutlines::Outline& outline : result.outlines)
        setBox(result.curves, outline);
    return result;
}

bool material(const ClosedOutlines& outlines, Vec2 p)
{
    int inside = 0;
    for (const ClosedOutlines::Outline& outline : outlines.outlines) {
        if (outline.lo.y < p.y && p.y < outline.hi.y && p.x < outline.hi.x
            && insideOutline(outlines, outline, p))
            ++inside;
    }
    return inside % 2 == 1;
}

} // namespace qor::sketch
