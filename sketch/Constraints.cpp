#include "sketch/Constraints.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace qor::sketch {

namespace {

constexpr double tiny = 1e-12;

// Every read of the trial vector goes through the checks below, so that a
// constraint or entity naming missing geometry yields no row instead of reading
// outside the vector.

bool readParam(const ParamView& v, int index, double& out)
{
    if (index < 0 || std::size_t(index) >= v.x->size())
        return false;
    out = (*v.x)[std::size_t(index)];
    return true;
}

bool readPoint(const ParamView& v, const Entity& e, Vec2& out)
{
    return e.type == EntityType::Point && readParam(v, e.p0, out.x) && readParam(v, e.p1, out.y);
}

bool pointAt(const ParamView& v, int id, Vec2& out)
{
    const Entity* e = v.sketch->findEntity(id);
    return e && readPoint(v, *e, out);
}

struct Segment {
    Vec2 start;
    Vec2 end;
    Vec2 direction() const { return end - start; }
};

bool readLine(const ParamView& v, const Entity& e, Segment& out)
{
    return e.type == EntityType::Line && pointAt(v, e.a, out.start) && pointAt(v, e.b, out.end);
}

bool lineAt(const ParamView& v, int id, Segment& out)
{
    const Entity* e = v.sketch->findEntity(id);
    return e && readLine(v, *e, out);
}

struct Round {
    Vec2 centre;
    double radius = 0.0;
};

// A circle's radius is its parameter; an arc's is the distance centre to start.
bool roundAt(const ParamView& v, int id, Round& out)
{
    const Entity* e = v.sketch->findEntity(id);
    if (!e || !pointAt(v, e->a, out.centre))
        return false;
    if (e->type == EntityType::Circle)
        return readParam(v, e->p0, out.radius);
    Vec2 start;
    if (e->type != EntityType::Arc || !pointAt(v, e->b, start))
        return false;
    out.radius = (start - out.centre).length();
    return true;
}

// Q(e): the position of a point, the centre of a circle or arc.
bool anchorAt(const ParamView& v, int id, Vec2& out)
{
    if (pointAt(v, id, out))
        return true;
    Round round;
    if (!roundAt(v, id, round))
        return false;
    out = round.centre;
    return true;
}

bool isLine(const Sketch& s, int id)
{
    const Entity* e = s.findEntity(id);
    return e && e->type == EntityType::Line;
}

bool isPoint(const Sketch& s, int id)
{
    const Entity* e = s.findEntity(id);
    return e && e->type == EntityType::Point;
}

bool isRound(const Sketch& s, int id)
{
    const Entity* e = s.findEntity(id);
    return e && (e->type == EntityType::Circle || e->type == EntityType::Arc);
}

double distanceToLine(Vec2 p, const Segment& line)
{
    return signedLineDistance(p.x, p.y, line.start.x, line.start.y, line.end.x, line.end.y);
}

double cross(Vec2 a, Vec2 b)
{
    return a.x * b.y - a.y * b.x;
}

double dot(Vec2 a, Vec2 b)
{
    return a.x * b.x + a.y * b.y;
}

// Brings an angle difference into [-pi, pi]. Stepping by 2 pi never ends for huge
// magnitudes (the step is lost in rounding), so those take the remainder; a
// non-finite difference stays non-finite and fails the solve like any other.
double wrapAngle(double r)
{
    constexpr double pi = std::numbers::pi;
    if (!(std::fabs(r) < 1e6))
        return std::isfinite(r) ? std::remainder(r, 2.0 * pi) : r;
    while (r > pi)
        r -= 2.0 * pi;
    while (r < -pi)
        r += 2.0 * pi;
    return r;
}

void tangentRow(const ParamView& v, const Constraint& c, std::vector<double>& rows)
{
    const bool lineFirst = isLine(*v.sketch, c.a);
    if (lineFirst || isLine(*v.sketch, c.b)) {
        Segment line;
        Round curve;
        if (lineAt(v, lineFirst ? c.a : c.b, line) && roundAt(v, lineFirst ? c.b : c.a, curve))
            rows.push_back(std::fabs(distanceToLine(curve.centre, line)) - curve.radius);
        return;
    }
    Round ra, rb;
    if (!roundAt(v, c.a, ra) || !roundAt(v, c.b, rb))
        return;
    const double d = (ra.centre - rb.centre).length();
    rows.push_back(c.value == 0.0 ? d - (ra.radius + rb.radius)
                                  : d - std::fabs(ra.radius - rb.radius));
}

void distanceRow(const ParamView& v, const Constraint& c, std::vector<double>& rows)
{
    const Sketch& s = *v.sketch;
    Segment la, lb;
    Vec2 p, q;
    if (isLine(s, c.a) && c.b < 0) {
        if (lineAt(v, c.a, la))
            rows.push_back(la.direction().length() - c.value);
    } else if (isPoint(s, c.a) && isLine(s, c.b)) {
        if (pointAt(v, c.a, p) && lineAt(v, c.b, lb))
            rows.push_back(std::fabs(distanceToLine(p, lb)) - c.value);
    } else if (isLine(s, c.a) && isLine(s, c.b)) {
        if (lineAt(v, c.a, la) && lineAt(v, c.b, lb))
            rows.push_back(std::fabs(distanceToLine(lb.start, la)) - c.value);
    } else if (anchorAt(v, c.a, p) && anchorAt(v, c.b, q)) {
        rows.push_back((q - p).length() - c.value);
    }
}

// Horizontal (axis 0) and vertical (axis 1) distances.
void axisDistanceRow(const ParamView& v, const Constraint& c, int axis, std::vector<double>& rows)
{
    const auto along = [axis](Vec2 d) { return std::fabs(axis == 0 ? d.x : d.y); };
    Segment line;
    Vec2 p, q;
    if (isLine(*v.sketch, c.a) && c.b < 0) {
        if (lineAt(v, c.a, line))
            rows.push_back(along(line.direction()) - c.value);
    } else if (anchorAt(v, c.a, p) && anchorAt(v, c.b, q)) {
        rows.push_back(along(q - p) - c.value);
    }
}

} // namespace

Vec2 ParamView::point(const Entity& e) const
{
    Vec2 p;
    return readPoint(*this, e, p) ? p : Vec2{};
}

double ParamView::length(const Entity& e) const
{
    double r = 0.0;
    if (e.type == EntityType::Circle)
        return readParam(*this, e.p0, r) ? r : 0.0;
    Vec2 a, b;
    pointAt(*this, e.a, a);
    pointAt(*this, e.b, b);
    return (a - b).length();
}

std::array<double, 4> ParamView::lineEnds(const Entity& e) const
{
    Vec2 s, t;
    pointAt(*this, e.a, s);
    pointAt(*this, e.b, t);
    return {s.x, s.y, t.x, t.y};
}

double signedLineDistance(double px, double py, double sx, double sy, double ex, double ey)
{
    const double dx = ex - sx;
    const double dy = ey - sy;
    const double len = std::hypot(dx, dy);
    if (len < tiny)
        return std::hypot(px - sx, py - sy);
    return ((py - sy) * dx - (px - sx) * dy) / len;
}

void constraintResiduals(const ParamView& v, const Constraint& c, std::vector<double>& rows)
{
    const Sketch& s = *v.sketch;
    if (isDimensional(c.type) && c.driven)
        return;

    Vec2 p, q;
    Segment la, lb, axis;
    Round ra, rb;
    switch (c.type) {
    case ConstraintType::Coincident:
        if (pointAt(v, c.a, p) && pointAt(v, c.b, q)) {
            rows.push_back(p.x - q.x);
            rows.push_back(p.y - q.y);
        }
        return;
    case ConstraintType::PointOnCurve:
        if (!pointAt(v, c.a, p))
            return;
        if (isLine(s, c.b)) {
            if (lineAt(v, c.b, lb))
                rows.push_back(distanceToLine(p, lb));
        } else if (roundAt(v, c.b, rb)) {
            rows.push_back((p - rb.centre).length() - rb.radius);
        }
        return;
    case ConstraintType::Horizontal:
    case ConstraintType::Vertical: {
        const bool horizontal = c.type == ConstraintType::Horizontal;
        if (isLine(s, c.a)) {
            if (!lineAt(v, c.a, la))
                return;
            p = la.start;
            q = la.end;
        } else if (!pointAt(v, c.a, p) || !pointAt(v, c.b, q)) {
            return;
        }
        rows.push_back(horizontal ? p.y - q.y : p.x - q.x);
        return;
    }
    case ConstraintType::Parallel:
    case ConstraintType::Perpendicular: {
        if (!lineAt(v, c.a, la) || !lineAt(v, c.b, lb))
            return;
        const Vec2 d1 = la.direction();
        const Vec2 d2 = lb.direction();
        const double norm = std::max(tiny, d1.length() * d2.length());
        rows.push_back((c.type == ConstraintType::Parallel ? cross(d1, d2) : dot(d1, d2)) / norm);
        return;
    }
    case ConstraintType::Collinear:
        if (lineAt(v, c.a, la) && lineAt(v, c.b, lb)) {
            rows.push_back(distanceToLine(lb.start, la));
            rows.push_back(distanceToLine(lb.end, la));
        }
        return;
    case ConstraintType::Tangent: tangentRow(v, c, rows); return;
    case ConstraintType::Equal:
        if (isLine(s, c.a)) {
            if (lineAt(v, c.a, la) && lineAt(v, c.b, lb))
                rows.push_back(la.direction().length() - lb.direction().length());
        } else if (roundAt(v, c.a, ra) && roundAt(v, c.b, rb)) {
            rows.push_back(ra.radius - rb.radius);
        }
        return;
    case ConstraintType::Midpoint:
        if (pointAt(v, c.a, p) && lineAt(v, c.b, lb)) {
            const Vec2 m = (lb.start + lb.end) * 0.5;
            rows.push_back(p.x - m.x);
            rows.push_back(p.y - m.y);
        }
        return;
    case ConstraintType::Symmetric:
        if (pointAt(v, c.a, p) && pointAt(v, c.b, q) && lineAt(v, c.c, axis)) {
            const Vec2 d = axis.direction();
            rows.push_back(distanceToLine((p + q) * 0.5, axis));
            rows.push_back(dot(q - p, d) / std::max(tiny, d.length()));
        }
        return;
    case ConstraintType::Concentric:
        if (roundAt(v, c.a, ra) && roundAt(v, c.b, rb)) {
            rows.push_back(ra.centre.x - rb.centre.x);
            rows.push_back(ra.centre.y - rb.centre.y);
        }
        return;
    case ConstraintType::Fixed: return;
    case ConstraintType::Distance: distanceRow(v, c, rows); return;
    case ConstraintType::HorizontalDistance: axisDistanceRow(v, c, 0, rows); return;
    case ConstraintType::VerticalDistance: axisDistanceRow(v, c, 1, rows); return;
    case ConstraintType::Radius:
    case ConstraintType::Diameter:
        if (roundAt(v, c.a, ra))
            rows.push_back((c.type == ConstraintType::Radius ? ra.radius : 2.0 * ra.radius)
                           - c.value);
        return;
    case ConstraintType::Angle:
        if (lineAt(v, c.a, la) && lineAt(v, c.b, lb)) {
            const Vec2 d1 = la.direction();
            const Vec2 d2 = lb.direction();
            rows.push_back(wrapAngle(std::atan2(cross(d1, d2), dot(d1, d2)) - c.value));
        }
        return;
    }
}

double arcResidual(const ParamView& view, const Entity& arc)
{
    Vec2 centre, start, end;
    if (arc.type != EntityType::Arc || !pointAt(view, arc.a, centre) || !pointAt(view, arc.b, start)
        || !pointAt(view, arc.c, end))
        return 0.0;
    return (end - centre).length() - (start - centre).length();
}

bool constraintOperandsValid(const Sketch& s, const Constraint& c)
{
    const auto positional = [&s](int id) { return isPoint(s, id) || isRound(s, id); };
    switch (c.type) {
    case ConstraintType::Coincident: return isPoint(s, c.a) && isPoint(s, c.b);
    case ConstraintType::PointOnCurve:
        return isPoint(s, c.a) && (isLine(s, c.b) || isRound(s, c.b));
    case ConstraintType::Horizontal:
    case ConstraintType::Vertical: return isLine(s, c.a) || (isPoint(s, c.a) && isPoint(s, c.b));
    case ConstraintType::Parallel:
    case ConstraintType::Perpendicular:
    case ConstraintType::Collinear:
    case ConstraintType::Angle: return isLine(s, c.a) && isLine(s, c.b);
    case ConstraintType::Tangent:
        return (isLine(s, c.a) && isRound(s, c.b))
               || (isRound(s, c.a) && (isLine(s, c.b) || isRound(s, c.b)));
    case ConstraintType::Equal:
        return (isLine(s, c.a) && isLine(s, c.b)) || (isRound(s, c.a) && isRound(s, c.b));
    case ConstraintType::Midpoint: return isPoint(s, c.a) && isLine(s, c.b);
    case ConstraintType::Symmetric: return isPoint(s, c.a) && isPoint(s, c.b) && isLine(s, c.c);
    case ConstraintType::Concentric: return isRound(s, c.a) && isRound(s, c.b);
    case ConstraintType::Fixed: return s.findEntity(c.a) != nullptr;
    case ConstraintType::Distance:
        return (isLine(s, c.a) && c.b < 0) || (isPoint(s, c.a) && isLine(s, c.b))
               || (isLine(s, c.a) && isLine(s, c.b)) || (positional(c.a) && positional(c.b));
    case ConstraintType::HorizontalDistance:
    case ConstraintType::VerticalDistance:
        return (isLine(s, c.a) && c.b < 0) || (positional(c.a) && positional(c.b));
    case ConstraintType::Radius:
    case ConstraintType::Diameter: return isRound(s, c.a);
    }
    return false;
}

double measureConstraint(const Sketch& s, const Constraint& c)
{
    Constraint probe = c;
    probe.value = 0.0;
    probe.driven = false;
    std::vector<double> rows;
    constraintResiduals(ParamView{&s, &s.params}, probe, rows);
    return rows.empty() ? 0.0 : rows.front();
}

} // namespace qor::sketch
