#include "sketch/ClosedOutlines.h"

#include "sketch/CoincidingCurves.h"
#include "sketch/CurveMeetings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <numbers>
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

constexpr std::size_t none = std::size_t(-1);
constexpr double twoPi = 2.0 * std::numbers::pi;

void addEdge(Graph& g, std::size_t a, std::size_t b, std::size_t curve)
{
    const std::size_t edge = g.edgeEnds.size();
    g.edgeEnds.push_back({a, b});
    g.edgeCurve.push_back(curve);
    g.adjacent[a].emplace_back(edge, b);
    g.adjacent[b].emplace_back(edge, a);
}

Graph emptyGraph(std::size_t vertexCount)
{
    Graph g;
    g.vertexCount = vertexCount;
    g.adjacent.resize(vertexCount);
    return g;
}

// A place along a curve and what lies there: before the ends are joined an
// index into the points, after it a vertex.
struct Cut {
    double along = 0.0;
    std::size_t at = 0;
};

struct Span {
    double from = 0.0;
    double to = 0.0;
    std::array<std::size_t, 2> ends{};
};

// The parts of a curve between cuts that name vertices, its own ends among
// them unless it is a circle; parts from a vertex to itself are left out, so a
// circle cut once stays whole.
std::vector<Span> spansOf(const PlaneCurve& curve, std::vector<Cut> cuts)
{
    std::sort(cuts.begin(), cuts.end(),
              [](const Cut& a, const Cut& b) { return a.along < b.along; });
    if (curve.type == EntityType::Circle && !cuts.empty())
        cuts.push_back({cuts.front().along + twoPi, cuts.front().at});
    std::vector<Span> spans;
    for (std::size_t k = 1; k < cuts.size(); ++k) {
        if (cuts[k - 1].at != cuts[k].at)
            spans.push_back({cuts[k - 1].along, cuts[k].along, {cuts[k - 1].at, cuts[k].at}});
    }
    return spans;
}

bool boxesMeet(const std::vector<std::array<Vec2, 2>>& boxes, std::size_t a, std::size_t b)
{
    return boxes[a][0].x <= boxes[b][1].x + joinDistance
           && boxes[b][0].x <= boxes[a][1].x + joinDistance
           && boxes[a][0].y <= boxes[b][1].y + joinDistance
           && boxes[b][0].y <= boxes[a][1].y + joinDistance;
}

// The outlines that free curves make on their own and together with other
// outlines (see ClosedOutlines), added to `result`.
class FreeCurves {
public:
    FreeCurves(ClosedOutlines& result, const std::vector<CurveEnds>& drawn,
               const std::vector<std::size_t>& outlineOfCurve, const std::vector<std::size_t>& free)
        : result_(result)
        , drawn_(drawn)
        , outlineOfCurve_(outlineOfCurve)
        , free_(free)
        , cuts_(result.curves.size())
        , endPoints_(result.curves.size(), {none, none})
    {
        for (std::size_t k = 0; k < drawn.size(); ++k) {
            if (drawn[k].closed)
                continue;
            endPoints_[k] = {points_.size(), points_.size() + 1};
            points_.push_back(drawn[k].start);
            points_.push_back(drawn[k].end);
        }
        for (const PlaneCurve& curve : result.curves) {
            std::array<Vec2, 2> box{Vec2{HUGE_VAL, HUGE_VAL}, Vec2{-HUGE_VAL, -HUGE_VAL}};
            extendBox(curve, box[0], box[1]);
            boxes_.push_back(box);
        }
    }

    void add()
    {
        findMeetings();
        std::size_t vertexCount = 0;
        vertex_ = joinEnds(points_, vertexCount);
        for (std::vector<Cut>& cuts : cuts_) {
            for (Cut& cut : cuts)
                cut.at = vertex_[cut.at];
        }
        cutFreeCurves();
        Graph g = emptyGraph(vertexCount);
        for (const Piece& piece : pieces_)
            addEdge(g, piece.ends[0], piece.ends[1], piece.curve);
        for (const std::vector<std::size_t>& block : cycleBlocks(g)) {
            for (const std::size_t e : block)
                pieces_[e].outline = result_.outlines.size();
            result_.outlines.push_back(outlineOf(g, block));
        }
        if (cutOutlinesWhereLeftOversMeet())
            joinOutlines(vertexCount);
    }

private:
    struct Piece {
        std::size_t curve; // index into result_.curves
        std::size_t of; // the free curve it is cut from
        double from;
        double to;
        std::array<std::size_t, 2> ends;
        std::size_t outline = none; // the free outline it lies on
        std::vector<Cut> cuts; // where it meets an outline's curve, when left over
    };

    struct OutlineMeeting {
        std::size_t free;
        std::size_t other;
        double alongFree;
        double alongOther;
        std::size_t point;
    };

    void meet(std::size_t a, std::size_t b, const std::function<void(const CurveMeeting&)>& use)
    {
        if (!boxesMeet(boxes_, a, b))
            return;
        meetings_.clear();
        addMeetings(result_.curves[a], result_.curves[b], joinDistance, meetings_);
        for (const CurveMeeting& m : meetings_) {
            points_.push_back(m.point);
            use(m);
        }
    }

    // The curves in order of their boxes' left ends: past a box's right end
    // none meets the curve in it.
    std::vector<std::size_t> byLeft(std::vector<std::size_t> curves) const
    {
        std::sort(curves.begin(), curves.end(),
                  [&](std::size_t a, std::size_t b) { return boxes_[a][0].x < boxes_[b][0].x; });
        return curves;
    }

    void findMeetings()
    {
        const std::vector<std::size_t> free = byLeft(free_);
        std::vector<std::size_t> others;
        for (std::size_t b = 0; b < result_.curves.size(); ++b) {
            if (outlineOfCurve_[b] != none)
                others.push_back(b);
        }
        others = byLeft(std::move(others));
        for (std::size_t i = 0; i < free.size(); ++i) {
            const std::size_t a = free[i];
            const double reach = boxes_[a][1].x + joinDistance;
            for (std::size_t j = i + 1; j < free.size() && boxes_[free[j]][0].x <= reach; ++j) {
                const std::size_t b = free[j];
                meet(a, b, [&](const CurveMeeting& m) {
                    cuts_[a].push_back({m.along[0], points_.size() - 1});
                    cuts_[b].push_back({m.along[1], points_.size() - 1});
                });
            }
            for (const std::size_t b : others) {
                if (boxes_[b][0].x > reach)
                    break;
                meet(a, b, [&](const CurveMeeting& m) {
                    outlineMeetings_.push_back({a, b, m.along[0], m.along[1], points_.size() - 1});
                });
            }
        }
    }

    // The cut's place on curve k, its own ends added.
    std::vector<Cut> withEnds(std::size_t k, std::vector<Cut> cuts) const
    {
        cuts.push_back({0.0, vertex_[endPoints_[k][0]]});
        cuts.push_back({endAlong(result_.curves[k]), vertex_[endPoints_[k][1]]});
        return cuts;
    }

    std::size_t addCurve(const PlaneCurve& curve)
    {
        result_.curves.push_back(curve);
        return result_.curves.size() - 1;
    }

    void cutFreeCurves()
    {
        for (const std::size_t k : free_) {
            firstPiece_[k] = pieces_.size();
            for (const Span& span : spansOf(result_.curves[k], withEnds(k, cuts_[k]))) {
                const PlaneCurve piece = pieceOf(result_.curves[k], span.from, span.to);
                pieces_.push_back({addCurve(piece), k, span.from, span.to, span.ends, none, {}});
            }
        }
    }

    // The left-over piece of free curve k that a meeting at vertex `at`, at
    // `along` on k, lies on; nullptr when it lies on a free outline's piece.
    // A piece ending at that vertex comes first: crossings closer than the
    // join distance are one vertex, and the places along k that they give
    // differ in the last digits, so that the place alone could put the meeting
    // on the free outline's piece beside it, however the curve was split.
    Piece* leftOverAt(std::size_t k, double along, std::size_t at)
    {
        Piece* spanning = nullptr;
        for (std::size_t i = firstPiece_[k]; i < pieces_.size() && pieces_[i].of == k; ++i) {
            Piece& piece = pieces_[i];
            if (piece.outline != none)
                continue;
            if (piece.ends[0] == at || piece.ends[1] == at)
                return &piece;
            if (!spanning && piece.from <= along && along <= piece.to)
                spanning = &piece;
        }
        return spanning;
    }

    // Keeps the meetings of left-over pieces with outlines' curves as cuts of
    // both; false when there are none.
    bool cutOutlinesWhereLeftOversMeet()
    {
        bool any = false;
        for (const OutlineMeeting& m : outlineMeetings_) {
            const std::size_t at = vertex_[m.point];
            Piece* piece = leftOverAt(m.free, m.alongFree, at);
            if (!piece)
                continue;
            if (piece->ends[0] != at && piece->ends[1] != at)
                piece->cuts.push_back({m.alongFree, at});
            cuts_[m.other].push_back({m.alongOther, at});
            any = true;
        }
        return any;
    }

    void joinOutlines(std::size_t vertexCount)
    {
        Graph g = emptyGraph(vertexCount);
        std::vector<std::size_t> owner; // per edge: its outline, none when left over
        const auto edge = [&](std::size_t a, std::size_t b, std::size_t curve, std::size_t o) {
            addEdge(g, a, b, curve);
            owner.push_back(o);
        };
        for (std::size_t k = 0; k < outlineOfCurve_.size(); ++k) {
            const std::size_t o = outlineOfCurve_[k];
            if (o == none)
                continue;
            const PlaneCurve curve = result_.curves[k]; // a copy: pieces are added to the list
            if (cuts_[k].empty()) {
                if (!drawn_[k].closed && vertex_[endPoints_[k][0]] != vertex_[endPoints_[k][1]])
                    edge(vertex_[endPoints_[k][0]], vertex_[endPoints_[k][1]], k, o);
                continue;
            }
            const std::vector<Cut> cuts = drawn_[k].closed ? cuts_[k] : withEnds(k, cuts_[k]);
            for (const Span& span : spansOf(curve, cuts))
                edge(span.ends[0], span.ends[1], addCurve(pieceOf(curve, span.from, span.to)), o);
        }
        for (Piece& piece : pieces_) {
            if (piece.outline != none || piece.cuts.empty()) {
                edge(piece.ends[0], piece.ends[1], piece.curve, piece.outline);
                continue;
            }
            piece.cuts.push_back({piece.from, piece.ends[0]});
            piece.cuts.push_back({piece.to, piece.ends[1]});
            const PlaneCurve curve = result_.curves[piece.of];
            for (const Span& span : spansOf(curve, piece.cuts))
                edge(span.ends[0], span.ends[1], addCurve(pieceOf(curve, span.from, span.to)),
                     none);
        }
        result_.member.resize(result_.outlines.size(), 0);
        for (const std::vector<std::size_t>& block : cycleBlocks(g)) {
            std::vector<std::size_t> members;
            bool leftOver = false;
            for (const std::size_t e : block) {
                if (owner[e] == none)
                    leftOver = true;
                else
                    members.push_back(owner[e]);
            }
            if (!leftOver)
                continue;
            std::sort(members.begin(), members.end());
            members.erase(std::unique(members.begin(), members.end()), members.end());
            for (const std::size_t o : members)
                result_.member[o] = 1;
            result_.joined.push_back({outlineOf(g, block), std::move(members)});
        }
    }

    ClosedOutlines& result_;
    const std::vector<CurveEnds>& drawn_;
    const std::vector<std::size_t>& outlineOfCurve_;
    const std::vector<std::size_t>& free_;
    std::vector<std::vector<Cut>> cuts_; // per curve
    std::vector<std::array<std::size_t, 2>> endPoints_; // per curve, into points_
    std::vector<std::array<Vec2, 2>> boxes_; // per curve
    std::vector<Vec2> points_;
    std::vector<std::size_t> vertex_; // per point
    std::vector<CurveMeeting> meetings_;
    std::vector<OutlineMeeting> outlineMeetings_;
    std::vector<Piece> pieces_;
    std::unordered_map<std::size_t, std::size_t> firstPiece_; // per free curve
};

bool holds(const ClosedOutlines& all, const ClosedOutlines::Outline& outline, Vec2 p)
{
    return outline.lo.y < p.y && p.y < outline.hi.y && p.x < outline.hi.x
           && insideOutline(all, outline, p);
}

} // namespace

ClosedOutlines closedOutlines(const Sketch& sketch)
{
    ClosedOutlines result;
    std::vector<CurveEnds> drawn;
    result.curves = sketchCurves(sketch, &drawn);
    mergeCoinciding(result.curves, drawn);
    result.drawnCount = result.curves.size();
    const std::size_t count = result.curves.size();

    // Circles close on their own; the other curves are joined at their ends.
    std::vector<Vec2> ends;
    for (const CurveEnds& d : drawn) {
        if (!d.closed) {
            ends.push_back(d.start);
            ends.push_back(d.end);
        }
    }
    Graph g;
    const std::vector<std::size_t> vertex = joinEnds(ends, g.vertexCount);
    g.adjacent.resize(g.vertexCount);
    std::vector<std::array<std::size_t, 2>> endVertex(count, {none, none});
    for (std::size_t k = 0, n = 0; k < count; ++k) {
        if (!drawn[k].closed) {
            endVertex[k] = {vertex[2 * n], vertex[2 * n + 1]};
            ++n;
        }
    }

    std::vector<std::size_t> outlineOfCurve(count, none);
    std::vector<std::size_t> candidates; // open curves of some length
    for (std::size_t k = 0; k < count; ++k) {
        const auto [a, b] = endVertex[k];
        // An arc whose ends meet closes on its own; a line encloses nothing.
        if (drawn[k].closed || (a == b && result.curves[k].type == EntityType::Arc)) {
            outlineOfCurve[k] = result.outlines.size();
            result.outlines.push_back({{k}, {}, 0, {}, {}});
            continue;
        }
        if (a == b)
            continue;
        addEdge(g, a, b, k);
        candidates.push_back(k);
    }
    for (const std::vector<std::size_t>& block : cycleBlocks(g)) {
        for (const std::size_t e : block)
            outlineOfCurve[g.edgeCurve[e]] = result.outlines.size();
        result.outlines.push_back(outlineOf(g, block));
    }
    std::vector<std::size_t> free;
    for (const std::size_t k : candidates) {
        if (outlineOfCurve[k] == none)
            free.push_back(k);
    }
    if (!free.empty())
        FreeCurves(result, drawn, outlineOfCurve, free).add();
    result.member.resize(result.outlines.size(), 0);
    for (ClosedOutlines::Outline& outline : result.outlines)
        setBox(result.curves, outline);
    for (ClosedOutlines::Joined& joined : result.joined)
        setBox(result.curves, joined.boundary);
    return result;
}

bool material(const ClosedOutlines& outlines, Vec2 p)
{
    int count = 0;
    for (std::size_t k = 0; k < outlines.outlines.size(); ++k) {
        if (!outlines.member[k] && holds(outlines, outlines.outlines[k], p))
            ++count;
    }
    for (const ClosedOutlines::Joined& joined : outlines.joined) {
        int inside = 0;
        for (const std::size_t m : joined.members)
            inside += holds(outlines, outlines.outlines[m], p) ? 1 : 0;
        count += inside > 0 ? inside : holds(outlines, joined.boundary, p) ? 1 : 0;
    }
    return count % 2 == 1;
}

} // namespace qor::sketch
