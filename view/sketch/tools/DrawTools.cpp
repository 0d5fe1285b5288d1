#include "view/sketch/tools/DrawTools.h"

#include <cmath>
#include <numbers>
#include <optional>

namespace qor::app {

using sketch::ConstraintType;
using sketch::Sketch;
using sketch::Vec2;

namespace {

constexpr double minLength = 1e-9; // mm; shorter steps and radii are slips of the mouse

Vec2 positionOf(const SnapRecord& snap)
{
    return {snap.x, snap.y};
}

double cross(Vec2 a, Vec2 b)
{
    return a.x * b.y - a.y * b.x;
}

double turn(double angle)
{
    const double full = 2.0 * std::numbers::pi;
    const double wrapped = std::fmod(angle, full);
    return wrapped < 0.0 ? wrapped + full : wrapped;
}

// The centre of the circle through three positions; none when they are collinear.
std::optional<Vec2> circumcentre(Vec2 p1, Vec2 p2, Vec2 p3)
{
    const double d = 2.0 * (p1.x * (p2.y - p3.y) + p2.x * (p3.y - p1.y) + p3.x * (p1.y - p2.y));
    if (std::fabs(d) < 1e-12)
        return std::nullopt;
    const double s1 = p1.dot(p1), s2 = p2.dot(p2), s3 = p3.dot(p3);
    return Vec2{(s1 * (p2.y - p3.y) + s2 * (p3.y - p1.y) + s3 * (p1.y - p2.y)) / d,
                (s1 * (p3.x - p2.x) + s2 * (p1.x - p3.x) + s3 * (p2.x - p1.x)) / d};
}

void record(ToolStep& step, const SnapRecord& snap)
{
    step.points.push_back(positionOf(snap));
    step.snaps.push_back(snap);
}

// The shape is complete: the step starts afresh and the editor commits.
ToolResult endShape(ToolStep& step)
{
    step = ToolStep{};
    return {true, {}, false, -1};
}

int snappedPoint(Sketch& s, const SnapRecord& snap)
{
    const int point = pointForSnap(s, snap);
    constrainToSnap(s, point, snap);
    return point;
}

void addConstraint(Sketch& s, ConstraintType type, int a, int b = -1)
{
    s.addConstraint(type, a, b, -1, 0.0);
}

ToolResult lineClick(Sketch& s, SketchHistory& history, ToolStep& step, const SnapRecord& snap)
{
    if (step.points.empty()) {
        record(step, snap);
        return {};
    }
    if ((positionOf(snap) - step.points.back()).length() < minLength)
        return {};
    history.push(s);
    const int start = step.chainPoint >= 0 ? step.chainPoint : snappedPoint(s, step.snaps.back());
    if (snap.pointId >= 0 && snap.pointId == start)
        return {};
    const int end = snappedPoint(s, snap);
    step.chainLine = addSnappedLine(s, start, end, snap);
    step.chainPoint = end;
    record(step, snap);
    // Landing on an existing point closes the chain there.
    if (snap.pointId >= 0)
        step = ToolStep{};
    return {true, {}, false, -1};
}

ToolResult rectangleClick(Sketch& s, SketchHistory& history, ToolStep& step, bool centred,
                          const SnapRecord& snap)
{
    if (step.points.empty()) {
        record(step, snap);
        return {};
    }
    const Vec2 p = positionOf(snap);
    const Vec2 first = step.points.front();
    const Vec2 c = centred ? first * 2.0 - p : first;
    if (std::fabs(c.x - p.x) < minLength || std::fabs(c.y - p.y) < minLength)
        return {};
    history.push(s);
    const SnapRecord& firstSnap = step.snaps.front();
    int p1 = 0;
    if (centred) {
        p1 = int(s.addPoint(true, c.x, c.y));
    } else {
        p1 = pointForSnap(s, firstSnap);
        s.setPointPosition(p1, c.x, c.y);
    }
    const int p2 = int(s.addPoint(true, p.x, c.y));
    const int p3 = pointForSnap(s, snap);
    const int p4 = int(s.addPoint(true, c.x, p.y));
    const int corners[] = {p1, p2, p3, p4};
    for (int k = 0; k < 4; ++k) {
        const int line = int(s.addLine(corners[k], corners[(k + 1) % 4], false));
        addConstraint(s, k % 2 == 0 ? ConstraintType::Horizontal : ConstraintType::Vertical, line);
    }
    if (!centred)
        constrainToSnap(s, p1, firstSnap);
    constrainToSnap(s, p3, snap);
    if (centred) {
        const int diagonal = int(s.addLine(p1, p3, true));
        s.addLine(p2, p4, true);
        addConstraint(s, ConstraintType::Midpoint, snappedPoint(s, firstSnap), diagonal);
    }
    return endShape(step);
}

ToolResult circleClick(Sketch& s, SketchHistory& history, ToolStep& step, const SnapRecord& snap)
{
    if (step.points.empty()) {
        record(step, snap);
        return {};
    }
    const double r = (positionOf(snap) - step.points.front()).length();
    if (r < minLength)
        return {};
    history.push(s);
    const int circle = int(s.addCircle(snappedPoint(s, step.snaps.front()), false, r));
    if (snap.pointId >= 0)
        addConstraint(s, ConstraintType::PointOnCurve, snap.pointId, circle);
    return endShape(step);
}

ToolResult threePointCircleClick(Sketch& s, SketchHistory& history, ToolStep& step,
                                 const SnapRecord& snap)
{
    record(step, snap);
    if (step.points.size() < 3)
        return {};
    const std::vector<Vec2>& p = step.points;
    const std::optional<Vec2> centre = circumcentre(p[0], p[1], p[2]);
    if (!centre) {
        step = ToolStep{};
        return toolMessage(QStringLiteral("Die drei Punkte liegen auf einer Geraden"), true);
    }
    history.push(s);
    const int circle = int(s.addCircleAt(false, centre->x, centre->y, (p[0] - *centre).length()));
    for (const SnapRecord& click : step.snaps) {
        if (click.pointId >= 0)
            addConstraint(s, ConstraintType::PointOnCurve, click.pointId, circle);
    }
    return endShape(step);
}

ToolResult threePointArcClick(Sketch& s, SketchHistory& history, ToolStep& step,
                              const SnapRecord& snap)
{
    record(step, snap);
    if (step.points.size() < 3)
        return {};
    const std::vector<Vec2> p = step.points;
    const std::optional<Vec2> centre = circumcentre(p[0], p[1], p[2]);
    if (!centre) {
        step = ToolStep{};
        return {};
    }
    history.push(s);
    const int a = snappedPoint(s, step.snaps[0]);
    const int b = snappedPoint(s, step.snaps[1]);
    const int c = int(s.addPoint(true, centre->x, centre->y));
    const auto angle = [&](Vec2 q) { return std::atan2(q.y - centre->y, q.x - centre->x); };
    const double t1 = angle(p[0]);
    // Arcs run counter-clockwise: pick the direction that passes the third click.
    if (turn(angle(p[1]) - t1) > turn(angle(p[2]) - t1))
        s.addArc(c, a, b, false);
    else
        s.addArc(c, b, a, false);
    return endShape(step);
}

ToolResult centreArcClick(Sketch& s, SketchHistory& history, ToolStep& step, const SnapRecord& snap)
{
    record(step, snap);
    if (step.points.size() < 3)
        return {};
    const Vec2 centre = step.points[0];
    const Vec2 start = step.points[1];
    const double r = (start - centre).length();
    if (r < minLength) {
        step = ToolStep{};
        return {};
    }
    const Vec2 ray = step.points[2] - centre;
    const Vec2 end = centre + ray * (r / std::max(ray.length(), 1e-12));
    history.push(s);
    const int c = snappedPoint(s, step.snaps[0]);
    const int a = pointForSnap(s, step.snaps[1]);
    const int b = int(s.addPoint(true, end.x, end.y));
    // The shorter way round from start to end.
    if (cross(start - centre, end - centre) >= 0.0)
        s.addArc(c, a, b, false);
    else
        s.addArc(c, b, a, false);
    return endShape(step);
}

ToolResult pointClick(Sketch& s, SketchHistory& history, const SnapRecord& snap)
{
    history.push(s);
    if (snap.pointId < 0) {
        const int point = int(s.addPoint(false, snap.x, snap.y));
        constrainToSnap(s, point, snap);
    }
    return {true, {}, false, -1};
}

ToolResult polygonClick(Sketch& s, SketchHistory& history, ToolStep& step, const SnapRecord& snap,
                        int sides)
{
    if (step.points.empty()) {
        record(step, snap);
        return {};
    }
    const Vec2 v = positionOf(snap) - step.points.front();
    const double r = v.length();
    if (r < minLength || sides < 3)
        return {};
    const double start = std::atan2(v.y, v.x);
    history.push(s);
    const int centre = snappedPoint(s, step.snaps.front());
    const Vec2 c = s.pointPosition(centre);
    const int circle = int(s.addCircle(centre, true, r));
    std::vector<int> corners;
    for (int k = 0; k < sides; ++k) {
        const double phi = start + 2.0 * std::numbers::pi * k / sides;
        corners.push_back(int(s.addPoint(true, c.x + r * std::cos(phi), c.y + r * std::sin(phi))));
        addConstraint(s, ConstraintType::PointOnCurve, corners.back(), circle);
    }
    std::vector<int> lines;
    for (int k = 0; k < sides; ++k)
        lines.push_back(
            int(s.addLine(corners[std::size_t(k)], corners[std::size_t((k + 1) % sides)], false)));
    for (std::size_t k = 1; k < lines.size(); ++k)
        addConstraint(s, ConstraintType::Equal, lines.front(), lines[k]);
    return endShape(step);
}

ToolResult slotClick(Sketch& s, SketchHistory& history, ToolStep& step, const SnapRecord& snap)
{
    record(step, snap);
    if (step.points.size() < 3)
        return {};
    const Vec2 c1 = step.points[0];
    const Vec2 c2 = step.points[1];
    const double length = (c2 - c1).length();
    if (length < minLength) {
        step = ToolStep{};
        return {};
    }
    const Vec2 u = (c2 - c1) * (1.0 / length);
    const Vec2 n{-u.y, u.x};
    double w = std::fabs((step.points[2] - c1).dot(n));
    if (w < minLength)
        w = length / 4.0;
    history.push(s);
    const int a = snappedPoint(s, step.snaps[0]);
    const int b = snappedPoint(s, step.snaps[1]);
    const auto corner = [&](Vec2 p) { return int(s.addPoint(true, p.x, p.y)); };
    const int pa = corner(c1 + n * w), pb = corner(c1 - n * w);
    const int pc = corner(c2 - n * w), pd = corner(c2 + n * w);
    const int lines[] = {int(s.addLine(pa, pd, false)), int(s.addLine(pc, pb, false))};
    const int arcs[] = {int(s.addArc(b, pc, pd, false)), int(s.addArc(a, pa, pb, false))};
    s.addLine(a, b, true);
    for (int line : lines) {
        for (int arc : arcs)
            addConstraint(s, ConstraintType::Tangent, line, arc);
    }
    addConstraint(s, ConstraintType::Equal, arcs[0], arcs[1]);
    return endShape(step);
}

} // namespace

ToolResult geometryClick(Sketch& sketch, SketchHistory& history, ToolStep& step, int tool,
                         const SnapRecord& snap, int polygonSides)
{
    switch (tool) {
    case 1: return lineClick(sketch, history, step, snap);
    case 2: return rectangleClick(sketch, history, step, false, snap);
    case 3: return rectangleClick(sketch, history, step, true, snap);
    case 4: return circleClick(sketch, history, step, snap);
    case 5: return threePointCircleClick(sketch, history, step, snap);
    case 6: return threePointArcClick(sketch, history, step, snap);
    case 7: return centreArcClick(sketch, history, step, snap);
    case 8: return pointClick(sketch, history, snap);
    case 9: return polygonClick(sketch, history, step, snap, polygonSides);
    case 10: return slotClick(sketch, history, step, snap);
    default: return {};
    }
}

} // namespace qor::app
