#include "sketch/PlaneCurves.h"

#include "sketch/EntityIndex.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qor::sketch {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

bool onArc(const PlaneCurve& curve, Vec2 p)
{
    return curve.type != EntityType::Arc
           || wrapAngle(std::atan2(p.y - curve.a.y, p.x - curve.a.x) - curve.a0) <= curve.span;
}

Vec2 arcPoint(const PlaneCurve& curve, double angle)
{
    return curve.a + Vec2{std::cos(angle), std::sin(angle)} * curve.r;
}

} // namespace

double wrapAngle(double a)
{
    double r = std::fmod(a, twoPi);
    if (r < 0.0)
        r += twoPi;
    // A tiny negative angle plus 2π rounds up to 2π itself.
    if (r >= twoPi)
        r -= twoPi;
    return r;
}

int crossings(const PlaneCurve& curve, double v, double us[2])
{
    if (curve.type == EntityType::Line) {
        const Vec2 a = curve.a;
        const Vec2 b = curve.b;
        if ((a.y > v) == (b.y > v))
            return 0;
        us[0] = a.x + (b.x - a.x) * (v - a.y) / (b.y - a.y);
        return 1;
    }
    const Vec2 c = curve.a;
    const double dv = v - c.y;
    if (!(std::fabs(dv) < curve.r))
        return 0;
    const double s = std::sqrt(curve.r * curve.r - dv * dv);
    int count = 0;
    for (const double u : {c.x - s, c.x + s}) {
        if (onArc(curve, {u, v}))
            us[count++] = u;
    }
    return count;
}

void addTurningHeights(const PlaneCurve& curve, std::vector<double>& heights)
{
    if (curve.type == EntityType::Line) {
        heights.push_back(curve.a.y);
        heights.push_back(curve.b.y);
        return;
    }
    if (curve.type == EntityType::Arc) {
        heights.push_back(arcPoint(curve, curve.a0).y);
        heights.push_back(arcPoint(curve, curve.a0 + curve.span).y);
    }
    for (const double side : {1.0, -1.0}) {
        const Vec2 extreme = curve.a + Vec2{0.0, side * curve.r};
        if (onArc(curve, extreme))
            heights.push_back(extreme.y);
    }
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

double segmentDistance(Vec2 p, Vec2 a, Vec2 b)
{
    const Vec2 d = b - a;
    if (d.dot(d) == 0.0)
        return (p - a).length();
    const double t = std::clamp((p - a).dot(d) / d.dot(d), 0.0, 1.0);
    return (p - (a + d * t)).length();
}

double distanceTo(const PlaneCurve& curve, Vec2 p)
{
    if (curve.type == EntityType::Line)
        return segmentDistance(p, curve.a, curve.b);
    if (onArc(curve, p))
        return std::fabs((p - curve.a).length() - curve.r);
    return std::min((p - arcPoint(curve, curve.a0)).length(),
                    (p - arcPoint(curve, curve.a0 + curve.span)).length());
}

// Resolved once per sketch: looking entities up by id for every region would
// cost regions x curves x entities.
std::vector<PlaneCurve> sketchCurves(const Sketch& sketch, std::vector<CurveEnds>* ends)
{
    const EntityIndex index(sketch);
    std::vector<PlaneCurve> curves;
    for (const Entity& e : sketch.entities) {
        const bool isCurve = e.type == EntityType::Line || e.type == EntityType::Circle
                             || e.type == EntityType::Arc;
        if (e.construction || !isCurve)
            continue;
        PlaneCurve curve;
        curve.type = e.type;
        CurveEnds drawn;
        drawn.closed = e.type == EntityType::Circle;
        if (e.type == EntityType::Line) {
            curve.a = index.pointPosition(e.a);
            curve.b = index.pointPosition(e.b);
            drawn.start = curve.a;
            drawn.end = curve.b;
        } else {
            curve.a = index.entityAnchor(int(e.id));
            curve.r = index.radius(int(e.id));
        }
        if (e.type == EntityType::Arc) {
            const Vec2 start = index.pointPosition(e.b);
            const Vec2 end = index.pointPosition(e.c);
            if (!start.isFinite() || !end.isFinite())
                continue;
            curve.a0 = std::atan2(start.y - curve.a.y, start.x - curve.a.x);
            curve.span = wrapAngle(std::atan2(end.y - curve.a.y, end.x - curve.a.x) - curve.a0);
            drawn.start = start;
            drawn.end = end;
        }
        if (curve.a.isFinite() && curve.b.isFinite() && std::isfinite(curve.r)) {
            curves.push_back(curve);
            if (ends)
                ends->push_back(drawn);
        }
    }
    return curves;
}

bool crossesOddly(const PlaneCurve& curve, Vec2 p)
{
    double us[2];
    const int n = crossings(curve, p.y, us);
    int count = 0;
    for (int k = 0; k < n; ++k)
        count += us[k] > p.x ? 1 : 0;
    return count % 2 == 1;
}

} // namespace qor::sketch
