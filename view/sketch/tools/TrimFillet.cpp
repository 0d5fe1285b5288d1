#include "view/sketch/tools/TrimFillet.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace qor::app {

using sketch::ConstraintType;
using sketch::Entity;
using sketch::EntityType;
using sketch::Sketch;
using sketch::Vec2;

namespace {

constexpr double fullTurn = 2.0 * std::numbers::pi;
constexpr double endTolerance = 1e-6; // cuts this close to an end of the trimmed curve don't count

double cross(Vec2 a, Vec2 b)
{
    return a.x * b.y - a.y * b.x;
}

double turn(double angle)
{
    const double wrapped = std::fmod(angle, fullTurn);
    return wrapped < 0.0 ? wrapped + fullTurn : wrapped;
}

double angleAbout(Vec2 centre, Vec2 p)
{
    return std::atan2(p.y - centre.y, p.x - centre.x);
}

// A curve's geometry: lines as start and direction, circles and arcs as centre and radius
// (an arc also with its start angle and counter-clockwise span).
struct Shape {
    EntityType type = EntityType::Line;
    Vec2 start, direction;
    Vec2 centre;
    double radius = 0.0;
    double startAngle = 0.0;
    double span = fullTurn;
};

Shape shapeOf(const Sketch& s, const Entity& e)
{
    Shape shape;
    shape.type = e.type;
    if (e.type == EntityType::Line) {
        shape.start = s.pointPosition(e.a);
        shape.direction = s.pointPosition(e.b) - shape.start;
        return shape;
    }
    shape.centre = s.pointPosition(e.a);
    shape.radius = s.radius(int(e.id));
    if (e.type == EntityType::Arc) {
        shape.startAngle = angleAbout(shape.centre, s.pointPosition(e.b));
        shape.span = turn(angleAbout(shape.centre, s.pointPosition(e.c)) - shape.startAngle);
    }
    return shape;
}

double lineParameter(const Shape& line, Vec2 p)
{
    return (p - line.start).dot(line.direction)
           / std::max(line.direction.dot(line.direction), 1e-18);
}

bool lies(const Shape& shape, Vec2 p)
{
    if (shape.type == EntityType::Line) {
        const double t = lineParameter(shape, p);
        return t >= -1e-9 && t <= 1.000000001;
    }
    if (shape.type == EntityType::Arc)
        return turn(angleAbout(shape.centre, p) - shape.startAngle) <= shape.span + 1e-9;
    return true;
}

// Crossings of the carriers: infinite lines and full circles.
std::vector<Vec2> carrierCrossings(const Shape& a, const Shape& b)
{
    const bool lineA = a.type == EntityType::Line;
    const bool lineB = b.type == EntityType::Line;
    if (lineA && lineB) {
        const double d = cross(a.direction, b.direction);
        if (std::fabs(d) < 1e-14)
            return {};
        return {a.start + a.direction * (cross(b.start - a.start, b.direction) / d)};
    }
    if (lineA || lineB) {
        const Shape& line = lineA ? a : b;
        const Shape& round = lineA ? b : a;
        const Vec2 f = line.start - round.centre;
        const double qa = line.direction.dot(line.direction);
        const double qb = 2.0 * f.dot(line.direction);
        const double qc = f.dot(f) - round.radius * round.radius;
        const double disc = qb * qb - 4.0 * qa * qc;
        if (disc < 0.0 || qa <= 0.0)
            return {};
        const double root = std::sqrt(disc);
        return {line.start + line.direction * ((-qb - root) / (2.0 * qa)),
                line.start + line.direction * ((-qb + root) / (2.0 * qa))};
    }
    const Vec2 between = b.centre - a.centre;
    const double d = between.length();
    if (d < 1e-12 || d > a.radius + b.radius || d < std::fabs(a.radius - b.radius))
        return {};
    const double along = (a.radius * a.radius - b.radius * b.radius + d * d) / (2.0 * d);
    const double half = std::sqrt(std::max(0.0, a.radius * a.radius - along * along));
    const Vec2 foot = a.centre + between * (along / d);
    if (half <= 1e-12)
        return {foot};
    const Vec2 normal = Vec2{-between.y, between.x} * (half / d);
    return {foot + normal, foot - normal};
}

// Where the other curves cut the trimmed one, on both curves' actual extent.
std::vector<Vec2> cuts(const Sketch& s, const Entity& trimmed)
{
    const Shape shape = shapeOf(s, trimmed);
    std::vector<Vec2> found;
    for (const Entity& other : s.entities) {
        if (other.type == EntityType::Point || other.id == trimmed.id)
            continue;
        const Shape otherShape = shapeOf(s, other);
        for (Vec2 p : carrierCrossings(shape, otherShape)) {
            if (lies(shape, p) && lies(otherShape, p))
                found.push_back(p);
        }
    }
    return found;
}

void removeIfUnused(Sketch& s, int point)
{
    const bool used = std::any_of(s.entities.begin(), s.entities.end(), [&](const Entity& e) {
        return e.type != EntityType::Point && (e.a == point || e.b == point || e.c == point);
    });
    if (!used)
        s.removeEntity(point);
}

int newPoint(Sketch& s, Vec2 p)
{
    return int(s.addPoint(true, p.x, p.y));
}

void trimLine(Sketch& s, int lineId, const std::vector<Vec2>& crossings, Vec2 click)
{
    const Shape line = shapeOf(s, *s.findEntity(lineId));
    const double tc = lineParameter(line, click);
    double lo = 0.0, hi = 1.0;
    for (Vec2 p : crossings) {
        const double t = lineParameter(line, p);
        if (t > endTolerance && t < tc)
            lo = std::max(lo, t);
        if (t > tc && t < 1.0 - endTolerance)
            hi = std::min(hi, t);
    }
    const bool cutBelow = lo > endTolerance;
    const bool cutAbove = hi < 1.0 - endTolerance;
    const int oldStart = s.findEntity(lineId)->a;
    const int oldEnd = s.findEntity(lineId)->b;
    if (!cutBelow && !cutAbove) {
        s.removeEntity(lineId);
    } else if (!cutAbove) {
        s.findEntity(lineId)->b = newPoint(s, line.start + line.direction * lo);
        removeIfUnused(s, oldEnd);
    } else if (!cutBelow) {
        s.findEntity(lineId)->a = newPoint(s, line.start + line.direction * hi);
        removeIfUnused(s, oldStart);
    } else {
        s.findEntity(lineId)->b = newPoint(s, line.start + line.direction * lo);
        const int rest
            = int(s.addLine(newPoint(s, line.start + line.direction * hi), oldEnd, false));
        std::vector<ConstraintType> directions;
        for (const sketch::Constraint& c : s.constraints) {
            if (c.a == lineId && c.b < 0
                && (c.type == ConstraintType::Horizontal || c.type == ConstraintType::Vertical))
                directions.push_back(c.type);
        }
        for (ConstraintType type : directions)
            s.addConstraint(type, rest, -1, -1, 0.0);
        s.addConstraint(ConstraintType::Collinear, lineId, rest, -1, 0.0);
    }
}

// The remaining arc of a circle cut at least twice; the centre point and every constraint
// of the circle pass to the arc.
void circleToArc(Sketch& s, int circleId, const Shape& circle, double from, double to)
{
    const auto at = [&](double angle) {
        return newPoint(s, circle.centre + Vec2{std::cos(angle), std::sin(angle)} * circle.radius);
    };
    const int start = at(from);
    const int end = at(to);
    const int arc = int(s.addArc(s.findEntity(circleId)->a, start, end, false));
    for (sketch::Constraint& c : s.constraints) {
        for (std::int32_t* ref : {&c.a, &c.b, &c.c}) {
            if (*ref == circleId)
                *ref = arc;
        }
        if (c.a == arc && c.type == ConstraintType::Diameter) {
            c.type = ConstraintType::Radius;
            c.value /= 2.0;
        }
    }
    s.eraseEntity(circleId);
}

void trimRound(Sketch& s, int curveId, const std::vector<Vec2>& crossings, Vec2 click)
{
    const Shape round = shapeOf(s, *s.findEntity(curveId));
    const bool isCircle = round.type == EntityType::Circle;
    const double span = round.span;
    const auto relative
        = [&](Vec2 p) { return turn(angleAbout(round.centre, p) - round.startAngle); };
    const double tc = relative(click);
    std::vector<double> counted;
    for (Vec2 p : crossings) {
        const double t = relative(p);
        if (t >= endTolerance && t <= span - endTolerance)
            counted.push_back(t);
    }
    double lo = 0.0, hi = span;
    for (double t : counted) {
        if (t < tc)
            lo = std::max(lo, t);
        if (t > tc)
            hi = std::min(hi, t);
    }
    if (isCircle) {
        if (counted.size() < 2) {
            s.removeEntity(curveId);
            return;
        }
        // The removed piece may wrap around angle 0.
        if (lo == 0.0)
            lo = *std::max_element(counted.begin(), counted.end());
        if (hi == fullTurn)
            hi = *std::min_element(counted.begin(), counted.end());
        circleToArc(s, curveId, round, hi, lo);
        return;
    }
    const bool cutBelow = lo > endTolerance;
    const bool cutAbove = hi < span - endTolerance;
    const auto at = [&](double t) {
        const double angle = round.startAngle + t;
        return newPoint(s, round.centre + Vec2{std::cos(angle), std::sin(angle)} * round.radius);
    };
    const int oldStart = s.findEntity(curveId)->b;
    const int oldEnd = s.findEntity(curveId)->c;
    if (!cutBelow && !cutAbove) {
        s.removeEntity(curveId);
    } else if (!cutBelow) {
        s.findEntity(curveId)->b = at(hi);
        removeIfUnused(s, oldStart);
    } else if (!cutAbove) {
        s.findEntity(curveId)->c = at(lo);
        removeIfUnused(s, oldEnd);
    } else {
        s.findEntity(curveId)->c = at(lo);
        const int rest = int(s.addArc(s.findEntity(curveId)->a, at(hi), oldEnd, false));
        s.addConstraint(ConstraintType::Equal, curveId, rest, -1, 0.0);
    }
}

} // namespace

ToolResult trimCurve(Sketch& s, SketchHistory& history, int curve, Vec2 click)
{
    const Entity* trimmed = s.findEntity(curve);
    if (!trimmed || trimmed->type == EntityType::Point)
        return {};
    const std::vector<Vec2> crossings = cuts(s, *trimmed);
    history.push(s);
    if (trimmed->type == EntityType::Line)
        trimLine(s, curve, crossings, click);
    else
        trimRound(s, curve, crossings, click);
    return {true, {}, false, -1};
}

ToolResult filletCorner(Sketch& s, SketchHistory& history, const SketchHit& hit, double radius)
{
    if (hit.kind != HitKind::Point)
        return toolMessage(QStringLiteral("Eckpunkt zweier Linien anklicken"), false);
    const int corner = hit.id;
    // Every curve that uses the corner counts: a centre or arc end there is no corner of two
    // lines, and erasing the point would leave that curve dangling.
    std::vector<int> lines;
    int users = 0;
    for (const Entity& e : s.entities) {
        if (e.type == EntityType::Point || (e.a != corner && e.b != corner && e.c != corner))
            continue;
        ++users;
        if (e.type == EntityType::Line)
            lines.push_back(int(e.id));
    }
    if (users != 2 || lines.size() != 2)
        return toolMessage(QStringLiteral("Die Ecke muss genau zwei Linien verbinden"), true);

    const Vec2 v = s.pointPosition(corner);
    const auto otherEnd = [&](int line) {
        const Entity& e = *s.findEntity(line);
        return s.pointPosition(e.a == corner ? e.b : e.a);
    };
    const Vec2 p1 = otherEnd(lines[0]);
    const Vec2 p2 = otherEnd(lines[1]);
    const Vec2 u1 = (p1 - v) * (1.0 / (p1 - v).length());
    const Vec2 u2 = (p2 - v) * (1.0 / (p2 - v).length());
    const double c = u1.dot(u2);
    const double theta = std::acos(std::clamp(c, -1.0, 1.0));
    if (!(c >= -1.0 && c <= 1.0) || theta < 0.001 || theta > std::numbers::pi - 0.001)
        return toolMessage(QStringLiteral("Die Linien sind parallel"), true);
    const double t = radius / std::tan(theta / 2.0);
    if (t >= (p1 - v).length() || t >= (p2 - v).length())
        return toolMessage(QStringLiteral("Radius zu groß für diese Ecke"), true);

    history.push(s);
    const Vec2 bisector = (u1 + u2) * (1.0 / (u1 + u2).length());
    const Vec2 centre = v + bisector * (radius / std::sin(theta / 2.0));
    const int tangent[] = {newPoint(s, v + u1 * t), newPoint(s, v + u2 * t)};
    for (int k = 0; k < 2; ++k) {
        Entity& line = *s.findEntity(lines[std::size_t(k)]);
        (line.a == corner ? line.a : line.b) = tangent[k];
    }
    const bool counterClockwise = cross(v + u1 * t - centre, v + u2 * t - centre) > 0.0;
    const int arc = int(s.addArc(newPoint(s, centre), tangent[counterClockwise ? 0 : 1],
                                 tangent[counterClockwise ? 1 : 0], false));
    std::erase_if(s.constraints, [corner](const sketch::Constraint& k) {
        return k.a == corner || k.b == corner || k.c == corner;
    });
    s.eraseEntity(corner);
    for (int line : lines)
        s.addConstraint(ConstraintType::Tangent, line, arc, -1, 0.0);
    s.addConstraint(ConstraintType::Radius, arc, -1, -1, radius);
    return {true, {}, false, -1};
}

} // namespace qor::app
