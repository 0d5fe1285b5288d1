#include "sketch/CurveMeetings.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qor::sketch {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;
// Lines closer to parallel than this (sine of their angle) cross nowhere of
// their own: where they meet, an end of one lies on the other.
constexpr double parallelSine = 1e-12;

double cross(Vec2 a, Vec2 b)
{
    return a.x * b.y - a.y * b.x;
}

bool isRound(const PlaneCurve& curve)
{
    return curve.type != EntityType::Line;
}

// The place along the curve nearest to p, for p on or next to it.
double alongOf(const PlaneCurve& curve, Vec2 p)
{
    if (curve.type == EntityType::Line) {
        const Vec2 d = curve.b - curve.a;
        const double length2 = d.dot(d);
        return length2 > 0.0 ? std::clamp((p - curve.a).dot(d) / length2, 0.0, 1.0) : 0.0;
    }
    const double angle = std::atan2(p.y - curve.a.y, p.x - curve.a.x);
    if (curve.type == EntityType::Circle)
        return wrapAngle(angle);
    const double off = wrapAngle(angle - curve.a0);
    if (off <= curve.span)
        return off;
    // Just beyond an end: the nearer end.
    return off - curve.span < twoPi - off ? curve.span : 0.0;
}

// Where the whole line through a line curve meets the whole circle of a round one.
int lineCircle(const PlaneCurve& line, const PlaneCurve& round, double tolerance, Vec2 out[2])
{
    const Vec2 d = line.b - line.a;
    const double length = d.length();
    if (!(length > 0.0))
        return 0;
    const Vec2 dir = d * (1.0 / length);
    const Vec2 foot = line.a + dir * (round.a - line.a).dot(dir);
    const double h = (round.a - foot).length();
    if (h > round.r + tolerance)
        return 0;
    const double s = std::sqrt(std::max(0.0, round.r * round.r - h * h));
    out[0] = foot - dir * s;
    out[1] = foot + dir * s;
    return s > 0.0 ? 2 : 1;
}

int circleCircle(const PlaneCurve& p, const PlaneCurve& q, double tolerance, Vec2 out[2])
{
    const Vec2 between = q.a - p.a;
    const double d = between.length();
    if (d <= tolerance || d > p.r + q.r + tolerance || d < std::fabs(p.r - q.r) - tolerance)
        return 0;
    const Vec2 e = between * (1.0 / d);
    const double a = (d * d + p.r * p.r - q.r * q.r) / (2.0 * d);
    const double h = std::sqrt(std::max(0.0, p.r * p.r - a * a));
    const Vec2 base = p.a + e * a;
    const Vec2 across{-e.y, e.x};
    out[0] = base - across * h;
    out[1] = base + across * h;
    return h > 0.0 ? 2 : 1;
}

// Where the whole curves through a and b cross, lines and circles alike.
int crossingCandidates(const PlaneCurve& a, const PlaneCurve& b, double tolerance, Vec2 out[2])
{
    if (!isRound(a) && !isRound(b)) {
        const Vec2 da = a.b - a.a;
        const Vec2 db = b.b - b.a;
        const double denominator = cross(da, db);
        if (!(std::fabs(denominator) > parallelSine * da.length() * db.length()))
            return 0;
        out[0] = a.a + da * (cross(b.a - a.a, db) / denominator);
        return 1;
    }
    if (!isRound(a))
        return lineCircle(a, b, tolerance, out);
    if (!isRound(b))
        return lineCircle(b, a, tolerance, out);
    return circleCircle(a, b, tolerance, out);
}

void addEndTouches(const PlaneCurve& curve, const PlaneCurve& other, bool curveIsFirst,
                   double tolerance, std::vector<CurveMeeting>& meetings)
{
    if (curve.type == EntityType::Circle)
        return;
    for (const double along : {0.0, endAlong(curve)}) {
        const Vec2 end = pointAlong(curve, along);
        if (!(distanceTo(other, end) <= tolerance))
            continue;
        CurveMeeting m;
        m.point = end;
        m.along[curveIsFirst ? 0 : 1] = along;
        m.along[curveIsFirst ? 1 : 0] = alongOf(other, end);
        meetings.push_back(m);
    }
}

} // namespace

double endAlong(const PlaneCurve& curve)
{
    switch (curve.type) {
    case EntityType::Line: return 1.0;
    case EntityType::Arc: return curve.span;
    default: return 0.0;
    }
}

Vec2 pointAlong(const PlaneCurve& curve, double along)
{
    if (curve.type == EntityType::Line) {
        if (along <= 0.0)
            return curve.a;
        if (along >= 1.0)
            return curve.b;
        return curve.a + (curve.b - curve.a) * along;
    }
    const double angle = curve.type == EntityType::Arc ? curve.a0 + along : along;
    return curve.a + Vec2{std::cos(angle), std::sin(angle)} * curve.r;
}

PlaneCurve pieceOf(const PlaneCurve& curve, double from, double to)
{
    if (curve.type == EntityType::Line)
        return {EntityType::Line, pointAlong(curve, from), pointAlong(curve, to)};
    PlaneCurve piece{EntityType::Arc, curve.a, {}};
    piece.r = curve.r;
    piece.a0 = curve.type == EntityType::Arc ? curve.a0 + from : from;
    piece.span = to - from;
    return piece;
}

void addMeetings(const PlaneCurve& a, const PlaneCurve& b, double tolerance,
                 std::vector<CurveMeeting>& meetings)
{
    Vec2 candidates[2];
    const int n = crossingCandidates(a, b, tolerance, candidates);
    for (int k = 0; k < n; ++k) {
        const Vec2 p = candidates[k];
        if (distanceTo(a, p) <= tolerance && distanceTo(b, p) <= tolerance)
            meetings.push_back({p, {alongOf(a, p), alongOf(b, p)}});
    }
    addEndTouches(a, b, true, tolerance, meetings);
    addEndTouches(b, a, false, tolerance, meetings);
}

} // namespace qor::sketch
