#include "sketch/CoincidingCurves.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace qor::sketch {

namespace {

// Curves this close lie over each other: the kernel's splitter (fuzzy 1e-6)
// merges them too.
constexpr double tolerance = 1e-6;
constexpr double twoPi = 2.0 * std::numbers::pi;

double lengthOf(const PlaneCurve& line)
{
    return (line.b - line.a).length();
}

// The distance of p from the whole line through a line curve of some length.
double offLine(Vec2 p, const PlaneCurve& line)
{
    const Vec2 d = line.b - line.a;
    const Vec2 q = p - line.a;
    return std::fabs(d.x * q.y - d.y * q.x) / d.length();
}

// Where p lies along the whole line through the line curve, in mm from its start.
double alongLine(const PlaneCurve& line, Vec2 p)
{
    return (p - line.a).dot(line.b - line.a) / lengthOf(line);
}

bool linesOverlap(const PlaneCurve& p, const PlaneCurve& q)
{
    const bool pLonger = lengthOf(p) >= lengthOf(q);
    const PlaneCurve& longer = pLonger ? p : q;
    const PlaneCurve& shorter = pLonger ? q : p;
    if (!(lengthOf(shorter) > tolerance) || offLine(shorter.a, longer) > tolerance
        || offLine(shorter.b, longer) > tolerance)
        return false;
    const double s = alongLine(longer, shorter.a);
    const double t = alongLine(longer, shorter.b);
    return std::min(std::max(s, t), lengthOf(longer)) - std::max(std::min(s, t), 0.0) > tolerance;
}

// Angles on a circle this close are one place.
double angleSlack(const PlaneCurve& round)
{
    return tolerance / round.r;
}

bool roundsOverlap(const PlaneCurve& p, const PlaneCurve& q)
{
    if (!(p.r > tolerance) || (p.a - q.a).length() > tolerance || std::fabs(p.r - q.r) > tolerance)
        return false;
    const double slack = angleSlack(p);
    // An arc whose ends meet closes on its own and is left as it is.
    const auto open
        = [&](const PlaneCurve& c) { return c.type == EntityType::Circle || c.span > slack; };
    if (!open(p) || !open(q))
        return false;
    if (p.type == EntityType::Circle || q.type == EntityType::Circle)
        return true;
    return wrapAngle(q.a0 - p.a0) < p.span - slack || wrapAngle(p.a0 - q.a0) < q.span - slack;
}

bool overlap(const PlaneCurve& p, const PlaneCurve& q)
{
    if ((p.type == EntityType::Line) != (q.type == EntityType::Line))
        return false;
    return p.type == EntityType::Line ? linesOverlap(p, q) : roundsOverlap(p, q);
}

// The curves that overlap others, in groups linked by overlaps: checked only
// where their boxes meet, swept along u.
std::vector<std::vector<std::size_t>> overlappingGroups(const std::vector<PlaneCurve>& curves)
{
    const std::size_t n = curves.size();
    std::vector<std::array<Vec2, 2>> boxes(n,
                                           {Vec2{HUGE_VAL, HUGE_VAL}, Vec2{-HUGE_VAL, -HUGE_VAL}});
    std::vector<std::size_t> order(n);
    for (std::size_t k = 0; k < n; ++k) {
        extendBox(curves[k], boxes[k][0], boxes[k][1]);
        order[k] = k;
    }
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return boxes[a][0].x < boxes[b][0].x; });
    std::vector<std::vector<std::size_t>> linked(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t a = order[i];
        for (std::size_t j = i + 1; j < n && boxes[order[j]][0].x <= boxes[a][1].x + tolerance;
             ++j) {
            const std::size_t b = order[j];
            if (boxes[b][0].y <= boxes[a][1].y + tolerance
                && boxes[a][0].y <= boxes[b][1].y + tolerance && overlap(curves[a], curves[b])) {
                linked[a].push_back(b);
                linked[b].push_back(a);
            }
        }
    }
    std::vector<std::vector<std::size_t>> groups;
    std::vector<char> seen(n, 0);
    for (std::size_t start = 0; start < n; ++start) {
        if (seen[start] || linked[start].empty())
            continue;
        std::vector<std::size_t> group;
        std::vector<std::size_t> todo{start};
        seen[start] = 1;
        while (!todo.empty()) {
            const std::size_t k = todo.back();
            todo.pop_back();
            group.push_back(k);
            for (const std::size_t other : linked[k]) {
                if (!seen[other]) {
                    seen[other] = 1;
                    todo.push_back(other);
                }
            }
        }
        std::sort(group.begin(), group.end());
        groups.push_back(std::move(group));
    }
    return groups;
}

// A drawn end and where it lies along the group's line or circle.
struct Place {
    double along = 0.0;
    Vec2 point;
};

// The places in order, those within `slack` of the one before left out.
std::vector<Place> distinct(std::vector<Place> places, double slack)
{
    std::sort(places.begin(), places.end(),
              [](const Place& a, const Place& b) { return a.along < b.along; });
    std::vector<Place> kept;
    for (const Place& p : places) {
        if (kept.empty() || p.along - kept.back().along > slack)
            kept.push_back(p);
    }
    return kept;
}

struct Merged {
    std::vector<PlaneCurve> curves;
    std::vector<CurveEnds> ends;

    void add(const PlaneCurve& curve, const CurveEnds& drawn)
    {
        curves.push_back(curve);
        ends.push_back(drawn);
    }
};

void addLineParts(const std::vector<std::size_t>& group, const std::vector<PlaneCurve>& curves,
                  Merged& merged)
{
    const std::size_t longest
        = *std::max_element(group.begin(), group.end(), [&](std::size_t a, std::size_t b) {
              return lengthOf(curves[a]) < lengthOf(curves[b]);
          });
    const PlaneCurve& line = curves[longest];
    std::vector<Place> places;
    std::vector<std::array<double, 2>> spans;
    for (const std::size_t k : group) {
        const double s = alongLine(line, curves[k].a);
        const double t = alongLine(line, curves[k].b);
        places.push_back({s, curves[k].a});
        places.push_back({t, curves[k].b});
        spans.push_back({std::min(s, t), std::max(s, t)});
    }
    places = distinct(std::move(places), tolerance);
    for (std::size_t i = 0; i + 1 < places.size(); ++i) {
        const double middle = 0.5 * (places[i].along + places[i + 1].along);
        if (std::none_of(spans.begin(), spans.end(), [&](const std::array<double, 2>& span) {
                return span[0] < middle && middle < span[1];
            }))
            continue;
        const Vec2 a = places[i].point;
        const Vec2 b = places[i + 1].point;
        merged.add({EntityType::Line, a, b}, {false, a, b});
    }
}

void addArcParts(const std::vector<std::size_t>& group, const std::vector<PlaneCurve>& curves,
                 const std::vector<CurveEnds>& ends, Merged& merged)
{
    const auto circle = std::find_if(group.begin(), group.end(), [&](std::size_t k) {
        return curves[k].type == EntityType::Circle;
    });
    PlaneCurve round = curves[circle != group.end() ? *circle : group.front()];
    round.type = EntityType::Circle;
    round.a0 = 0.0;
    round.span = 0.0;
    const double slack = angleSlack(round);
    std::vector<Place> places;
    for (const std::size_t k : group) {
        if (curves[k].type == EntityType::Circle)
            continue;
        for (const Vec2 p : {ends[k].start, ends[k].end})
            places.push_back({wrapAngle(std::atan2(p.y - round.a.y, p.x - round.a.x)), p});
    }
    places = distinct(std::move(places), slack);
    if (places.size() > 1 && places.back().along - places.front().along > twoPi - slack)
        places.pop_back();
    if (places.size() < 2) {
        merged.add(round, {true, {}, {}});
        return;
    }
    for (std::size_t i = 0; i < places.size(); ++i) {
        const bool last = i + 1 == places.size();
        const Place& to = places[last ? 0 : i + 1];
        const double from = places[i].along;
        const double span = (last ? to.along + twoPi : to.along) - from;
        const double middle = from + 0.5 * span;
        if (std::none_of(group.begin(), group.end(), [&](std::size_t k) {
                return curves[k].type == EntityType::Circle
                       || wrapAngle(middle - curves[k].a0) < curves[k].span;
            }))
            continue;
        PlaneCurve arc = round;
        arc.type = EntityType::Arc;
        arc.a0 = from;
        arc.span = span;
        merged.add(arc, {false, places[i].point, to.point});
    }
}

} // namespace

void mergeCoinciding(std::vector<PlaneCurve>& curves, std::vector<CurveEnds>& ends)
{
    const std::vector<std::vector<std::size_t>> groups = overlappingGroups(curves);
    if (groups.empty())
        return;
    std::vector<char> grouped(curves.size(), 0);
    for (const std::vector<std::size_t>& group : groups) {
        for (const std::size_t k : group)
            grouped[k] = 1;
    }
    Merged merged;
    for (std::size_t k = 0; k < curves.size(); ++k) {
        if (!grouped[k])
            merged.add(curves[k], ends[k]);
    }
    for (const std::vector<std::size_t>& group : groups) {
        if (curves[group.front()].type == EntityType::Line)
            addLineParts(group, curves, merged);
        else
            addArcParts(group, curves, ends, merged);
    }
    curves = std::move(merged.curves);
    ends = std::move(merged.ends);
}

} // namespace qor::sketch
