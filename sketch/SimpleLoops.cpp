#include "sketch/SimpleLoops.h"

#include "sketch/EntityIndex.h"
#include "sketch/Plane.h"
#include "sketch/PlaneCurves.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRep_Builder.hxx>
#include <Geom_Plane.hxx>
#include <Precision.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Vertex.hxx>
#include <TopoDS_Wire.hxx>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <numeric>
#include <unordered_map>

namespace qor::sketch {

namespace {

// Ends this close are one vertex: the solver leaves coincident points closer.
constexpr double sameDistance = 1e-7;
// Curves this close, other than at a shared vertex, may touch as the kernel's
// splitter (fuzzy 1e-6) sees them; such sketches take the general path.
constexpr double apartDistance = 1e-5;
// Shorter lines and smaller circles give no edge (as in entityToEdge).
constexpr double minLength = 1e-7;
// Coordinates beyond this leave no room for the distances above.
constexpr double maxCoordinate = 1e9;
// Work allowed per curve in grid cells, pairs and containment tests.
constexpr std::size_t workPerCurve = 64;
// Comparisons of loops' boxes and tests of a point against a loop's side made
// in finding which loop lies in which: some 100 ms.
constexpr std::size_t maxNestingComparisons = 50'000'000;

struct Segment {
    Vec2 a;
    Vec2 b;
    std::size_t va = 0; // vertex of a
    std::size_t vb = 0; // vertex of b
};

struct Round {
    Vec2 c;
    double r = 0.0;
};

struct Curves {
    std::vector<Segment> segments;
    std::vector<Round> rounds;
};

bool usable(Vec2 p)
{
    return p.isFinite() && std::fabs(p.x) < maxCoordinate && std::fabs(p.y) < maxCoordinate;
}

double cross(Vec2 a, Vec2 b)
{
    return a.x * b.y - a.y * b.x;
}

double segmentClearance(const Segment& s, const Segment& t)
{
    const double o1 = cross(s.b - s.a, t.a - s.a);
    const double o2 = cross(s.b - s.a, t.b - s.a);
    const double o3 = cross(t.b - t.a, s.a - t.a);
    const double o4 = cross(t.b - t.a, s.b - t.a);
    if (((o1 < 0) != (o2 < 0)) && ((o3 < 0) != (o4 < 0)) && o1 != 0 && o2 != 0 && o3 != 0
        && o4 != 0)
        return 0.0;
    return std::min({segmentDistance(s.a, t.a, t.b), segmentDistance(s.b, t.a, t.b),
                     segmentDistance(t.a, s.a, s.b), segmentDistance(t.b, s.a, s.b)});
}

double roundSegmentClearance(const Round& c, const Segment& s)
{
    const double near = segmentDistance(c.c, s.a, s.b);
    const double far = std::max((s.a - c.c).length(), (s.b - c.c).length());
    if (c.r < near)
        return near - c.r;
    return c.r > far ? c.r - far : 0.0;
}

double roundClearance(const Round& c, const Round& d)
{
    const double distance = (c.c - d.c).length();
    return std::max({distance - c.r - d.r, std::fabs(c.r - d.r) - distance, 0.0});
}

// The curves with their line ends as shared vertices; nothing when a curve is
// no line or circle, gives no edge, or when ends nearly but not quite meet.
std::optional<Curves> gatherCurves(const Sketch& sketch, std::vector<Vec2>& vertices)
{
    const EntityIndex index(sketch);
    if (index.hasRepeatedIds())
        return std::nullopt;
    Curves curves;
    std::vector<Vec2> ends;
    for (const Entity& e : sketch.entities) {
        if (e.type == EntityType::Point || e.construction)
            continue;
        if (e.type == EntityType::Line) {
            const Vec2 a = index.pointPosition(e.a);
            const Vec2 b = index.pointPosition(e.b);
            if (!usable(a) || !usable(b) || (a - b).length() < minLength)
                return std::nullopt;
            curves.segments.push_back({a, b, ends.size(), ends.size() + 1});
            ends.push_back(a);
            ends.push_back(b);
        } else if (e.type == EntityType::Circle) {
            const Round round{index.entityAnchor(int(e.id)), index.radius(int(e.id))};
            if (!usable(round.c) || !std::isfinite(round.r) || round.r < minLength
                || round.r > maxCoordinate)
                return std::nullopt;
            curves.rounds.push_back(round);
        } else {
            return std::nullopt;
        }
    }

    // Ends in one cell of an apartDistance grid or its neighbours are compared.
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> cells;
    const auto cellKey = [](std::int64_t i, std::int64_t j) {
        return (std::uint64_t(i) << 32) ^ std::uint64_t(j & 0xffffffff);
    };
    const auto cellOf = [](double x) { return std::int64_t(std::floor(x / apartDistance)); };
    std::vector<std::size_t> root(ends.size());
    std::iota(root.begin(), root.end(), 0);
    const auto find = [&](std::size_t k) {
        while (root[k] != k)
            k = root[k] = root[root[k]];
        return k;
    };
    std::size_t work = 0;
    const std::size_t budget = workPerCurve * (ends.size() + 16);
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const std::int64_t i = cellOf(ends[k].x);
        const std::int64_t j = cellOf(ends[k].y);
        for (std::int64_t di = -1; di <= 1; ++di) {
            for (std::int64_t dj = -1; dj <= 1; ++dj) {
                const auto it = cells.find(cellKey(i + di, j + dj));
                if (it == cells.end())
                    continue;
                for (const std::size_t other : it->second) {
                    if (++work > budget)
                        return std::nullopt;
                    const double d = (ends[k] - ends[other]).length();
                    if (d <= sameDistance)
                        root[find(k)] = find(other);
                    else if (d <= apartDistance)
                        return std::nullopt;
                }
            }
        }
        cells[cellKey(i, j)].push_back(k);
    }
    std::vector<std::size_t> vertexOf(ends.size(), std::size_t(-1));
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const std::size_t r = find(k);
        if (vertexOf[r] == std::size_t(-1)) {
            vertexOf[r] = vertices.size();
            vertices.push_back(ends[r]);
        }
    }
    for (Segment& s : curves.segments) {
        s.va = vertexOf[find(s.va)];
        s.vb = vertexOf[find(s.vb)];
    }
    return curves;
}

// Whether every two curves keep apart, but for neighbouring lines at their
// shared vertex. Curves are compared when their boxes share a grid cell.
bool curvesApart(const Curves& curves)
{
    const std::size_t count = curves.segments.size() + curves.rounds.size();
    struct Box {
        Vec2 lo;
        Vec2 hi;
    };
    std::vector<Box> boxes;
    boxes.reserve(count);
    double length = 0.0;
    for (const Segment& s : curves.segments) {
        boxes.push_back({{std::min(s.a.x, s.b.x), std::min(s.a.y, s.b.y)},
                         {std::max(s.a.x, s.b.x), std::max(s.a.y, s.b.y)}});
        length += (s.b - s.a).length();
    }
    for (const Round& c : curves.rounds) {
        boxes.push_back({{c.c.x - c.r, c.c.y - c.r}, {c.c.x + c.r, c.c.y + c.r}});
        length += 2.0 * c.r;
    }
    // About one curve per cell where the curves are evenly spread.
    const double cell = std::max(length / double(count), 4.0 * apartDistance);
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> cells;
    std::size_t work = 0;
    const std::size_t budget = workPerCurve * (count + 16);
    for (std::size_t k = 0; k < count; ++k) {
        const auto first
            = [&](double x) { return std::int64_t(std::floor((x - apartDistance) / cell)); };
        const auto last
            = [&](double x) { return std::int64_t(std::floor((x + apartDistance) / cell)); };
        for (std::int64_t i = first(boxes[k].lo.x); i <= last(boxes[k].hi.x); ++i) {
            for (std::int64_t j = first(boxes[k].lo.y); j <= last(boxes[k].hi.y); ++j) {
                if (++work > budget)
                    return false;
                cells[(std::uint64_t(i) << 32) ^ std::uint64_t(j & 0xffffffff)].push_back(k);
            }
        }
    }
    const std::size_t lines = curves.segments.size();
    const auto apart = [&](std::size_t p, std::size_t q) {
        if (p >= lines && q >= lines)
            return roundClearance(curves.rounds[p - lines], curves.rounds[q - lines])
                   > apartDistance;
        if (p >= lines || q >= lines) {
            const std::size_t round = std::max(p, q) - lines;
            return roundSegmentClearance(curves.rounds[round], curves.segments[std::min(p, q)])
                   > apartDistance;
        }
        const Segment& s = curves.segments[p];
        const Segment& t = curves.segments[q];
        const bool sharesA = s.va == t.va || s.va == t.vb;
        const bool sharesB = s.vb == t.va || s.vb == t.vb;
        if (sharesA && sharesB)
            return false;
        if (!sharesA && !sharesB)
            return segmentClearance(s, t) > apartDistance;
        // Neighbours meet at the shared vertex only: each far end keeps off the other line.
        const Vec2 sFar = sharesA ? s.b : s.a;
        const Vec2 tFar = (t.va == s.va || t.va == s.vb) ? t.b : t.a;
        return segmentDistance(sFar, t.a, t.b) > apartDistance
               && segmentDistance(tFar, s.a, s.b) > apartDistance;
    };
    for (const auto& [key, members] : cells) {
        for (std::size_t m = 0; m < members.size(); ++m) {
            for (std::size_t n = m + 1; n < members.size(); ++n) {
                if (++work > budget)
                    return false;
                if (!apart(members[m], members[n]))
                    return false;
            }
        }
    }
    return true;
}

// One closed loop: its vertices in walking order (lines) or a circle.
struct Loop {
    std::vector<std::size_t> vertices;
    std::vector<std::size_t> segments; // segment k runs from vertices[k] to vertices[k + 1]
    std::optional<Round> round;
    double signedArea = 0.0; // positive counter-clockwise
    Vec2 lo;
    Vec2 hi;
    Vec2 probe; // a point on the loop
    int parent = -1;
};

// Walks the lines into loops; nothing when a vertex does not join exactly two
// or a loop is longer than the bound.
std::optional<std::vector<Loop>> walkLoops(const Curves& curves, const std::vector<Vec2>& vertices)
{
    std::vector<std::vector<std::size_t>> at(vertices.size());
    for (std::size_t k = 0; k < curves.segments.size(); ++k) {
        at[curves.segments[k].va].push_back(k);
        at[curves.segments[k].vb].push_back(k);
    }
    for (const auto& joined : at) {
        if (joined.size() != 2)
            return std::nullopt;
    }
    std::vector<Loop> loops;
    std::vector<char> walked(curves.segments.size(), 0);
    for (std::size_t start = 0; start < curves.segments.size(); ++start) {
        if (walked[start])
            continue;
        Loop loop;
        std::size_t segment = start;
        std::size_t vertex = curves.segments[start].va;
        while (!walked[segment]) {
            walked[segment] = 1;
            loop.vertices.push_back(vertex);
            loop.segments.push_back(segment);
            const Segment& s = curves.segments[segment];
            vertex = s.va == vertex ? s.vb : s.va;
            segment = at[vertex][0] == segment ? at[vertex][1] : at[vertex][0];
        }
        if (loop.segments.size() > maxLoopCurves)
            return std::nullopt;
        loops.push_back(std::move(loop));
    }
    for (Loop& loop : loops) {
        loop.lo = loop.hi = loop.probe = vertices[loop.vertices.front()];
        const std::size_t n = loop.vertices.size();
        for (std::size_t k = 0; k < n; ++k) {
            const Vec2 p = vertices[loop.vertices[k]];
            const Vec2 q = vertices[loop.vertices[(k + 1) % n]];
            loop.signedArea += cross(p, q) / 2.0;
            loop.lo = {std::min(loop.lo.x, p.x), std::min(loop.lo.y, p.y)};
            loop.hi = {std::max(loop.hi.x, p.x), std::max(loop.hi.y, p.y)};
        }
    }
    for (const Round& c : curves.rounds) {
        Loop loop;
        loop.round = c;
        loop.signedArea = std::numbers::pi * c.r * c.r;
        loop.lo = {c.c.x - c.r, c.c.y - c.r};
        loop.hi = {c.c.x + c.r, c.c.y + c.r};
        loop.probe = {c.c.x + c.r, c.c.y};
        loops.push_back(std::move(loop));
    }
    return loops;
}

// Whether p lies inside the loop, by the even-odd rule (p is never on it).
bool inside(const Loop& loop, const std::vector<Vec2>& vertices, Vec2 p)
{
    if (loop.round)
        return (p - loop.round->c).length() < loop.round->r;
    bool odd = false;
    const std::size_t n = loop.vertices.size();
    for (std::size_t k = 0; k < n; ++k) {
        const Vec2 a = vertices[loop.vertices[k]];
        const Vec2 b = vertices[loop.vertices[(k + 1) % n]];
        if ((a.y > p.y) != (b.y > p.y) && a.x + (b.x - a.x) * (p.y - a.y) / (b.y - a.y) > p.x)
            odd = !odd;
    }
    return odd;
}

// The side of the grid cells for nesting: about the size of a typical loop,
// so that a loop's probe shares its cell with few others, and coarse enough
// that no more than `budget` cells are taken by all loops' boxes together.
double nestingCell(const std::vector<Loop>& loops, double budget)
{
    std::vector<double> sides;
    sides.reserve(loops.size());
    for (const Loop& loop : loops)
        sides.push_back(std::max(loop.hi.x - loop.lo.x, loop.hi.y - loop.lo.y));
    std::nth_element(sides.begin(), sides.begin() + std::ptrdiff_t(sides.size() / 2), sides.end());
    double cell = std::max(sides[sides.size() / 2], minLength);
    while (true) {
        double taken = 0.0;
        for (const Loop& loop : loops) {
            taken += (std::floor(loop.hi.x / cell) - std::floor(loop.lo.x / cell) + 1)
                     * (std::floor(loop.hi.y / cell) - std::floor(loop.lo.y / cell) + 1);
        }
        if (taken <= budget)
            return cell;
        cell *= 2.0;
    }
}

// Sets each loop's parent: the smallest loop around it. A loop around another
// holds its probe, so only loops whose boxes take the probe's grid cell are
// compared with it, smallest first. False when that takes more than
// maxNestingComparisons box comparisons and tests of a point against a side.
bool nest(std::vector<Loop>& loops, const std::vector<Vec2>& vertices)
{
    if (loops.empty())
        return true;
    std::vector<std::size_t> order(loops.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::fabs(loops[a].signedArea) > std::fabs(loops[b].signedArea);
    });
    const double cell = nestingCell(loops, double(workPerCurve * (loops.size() + 16)));
    const auto index = [&](double x) { return std::int64_t(std::floor(x / cell)); };
    const auto key = [](std::int64_t i, std::int64_t j) {
        return (std::uint64_t(i) << 32) ^ std::uint64_t(j & 0xffffffff);
    };
    // Each cell lists the ranks (places in `order`) of the loops taking it, ascending.
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> cells;
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
        const Loop& loop = loops[order[rank]];
        for (std::int64_t i = index(loop.lo.x); i <= index(loop.hi.x); ++i) {
            for (std::int64_t j = index(loop.lo.y); j <= index(loop.hi.y); ++j)
                cells[key(i, j)].push_back(rank);
        }
    }
    std::size_t compared = 0;
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
        Loop& loop = loops[order[rank]];
        const std::vector<std::size_t>& near = cells[key(index(loop.probe.x), index(loop.probe.y))];
        for (auto it = std::lower_bound(near.begin(), near.end(), rank); it != near.begin();) {
            const Loop& around = loops[order[*--it]];
            if (++compared > maxNestingComparisons)
                return false;
            if (around.lo.x > loop.lo.x || around.lo.y > loop.lo.y || around.hi.x < loop.hi.x
                || around.hi.y < loop.hi.y)
                continue;
            compared += around.vertices.size();
            if (compared > maxNestingComparisons)
                return false;
            if (inside(around, vertices, loop.probe)) {
                loop.parent = int(order[*it]);
                break;
            }
        }
    }
    return true;
}

// The loop's wire, counter-clockwise in (u, v) when `outward`, else clockwise.
TopoDS_Wire loopWire(const Loop& loop, const std::vector<TopoDS_Edge>& edges,
                     const std::vector<Segment>& segments, const TopoDS_Edge& circle)
{
    BRep_Builder builder;
    TopoDS_Wire wire;
    builder.MakeWire(wire);
    if (loop.round) {
        builder.Add(wire, circle);
    } else {
        for (std::size_t k = 0; k < loop.segments.size(); ++k) {
            const std::size_t s = loop.segments[k];
            const bool along = segments[s].va == loop.vertices[k];
            builder.Add(wire, along ? edges[s] : TopoDS::Edge(edges[s].Reversed()));
        }
    }
    wire.Closed(true);
    return loop.signedArea >= 0.0 ? wire : TopoDS::Wire(wire.Reversed());
}

} // namespace

std::optional<std::vector<TopoDS_Face>> simpleLoopFaces(const Sketch& sketch, const gp_Ax3& plane)
{
    std::vector<Vec2> vertices;
    const std::optional<Curves> curves = gatherCurves(sketch, vertices);
    if (!curves || (curves->segments.empty() && curves->rounds.empty()) || !curvesApart(*curves))
        return std::nullopt;
    std::optional<std::vector<Loop>> loops = walkLoops(*curves, vertices);
    if (!loops || !nest(*loops, vertices))
        return std::nullopt;

    std::vector<TopoDS_Vertex> corners;
    corners.reserve(vertices.size());
    for (const Vec2 v : vertices)
        corners.push_back(BRepBuilderAPI_MakeVertex(toWorld(plane, v)).Vertex());
    std::vector<TopoDS_Edge> edges;
    edges.reserve(curves->segments.size());
    for (const Segment& s : curves->segments)
        edges.push_back(BRepBuilderAPI_MakeEdge(corners[s.va], corners[s.vb]).Edge());

    std::vector<TopoDS_Wire> wires;
    for (const Loop& loop : *loops) {
        TopoDS_Edge circle;
        if (loop.round)
            circle = BRepBuilderAPI_MakeEdge(
                         sketchCircle(plane, toWorld(plane, loop.round->c), loop.round->r))
                         .Edge();
        wires.push_back(loopWire(loop, edges, curves->segments, circle));
    }

    const Handle(Geom_Plane) surface = new Geom_Plane(plane);
    BRep_Builder builder;
    std::vector<TopoDS_Face> faces(loops->size());
    for (std::size_t k = 0; k < loops->size(); ++k) {
        builder.MakeFace(faces[k], surface, Precision::Confusion());
        builder.Add(faces[k], wires[k]);
    }
    for (std::size_t k = 0; k < loops->size(); ++k) {
        if (const int parent = (*loops)[k].parent; parent >= 0)
            builder.Add(faces[std::size_t(parent)], wires[k].Reversed());
    }
    return faces;
}

} // namespace qor::sketch
