#include "view/sketch/Snapping.h"

#include "view/sketch/HitTest.h"
#include "view/sketch/SketchMapper.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

namespace qor::app {

using sketch::EntityType;
using sketch::Vec2;

namespace {

bool isCentreOfRound(const sketch::Sketch& s, int pointId)
{
    return std::any_of(s.entities.begin(), s.entities.end(), [pointId](const sketch::Entity& e) {
        return (e.type == EntityType::Circle || e.type == EntityType::Arc) && e.a == pointId;
    });
}

// The nearest point strictly within the snap radius; earlier points win ties.
std::optional<SnapRecord> existingPoint(const sketch::Sketch& s, const SketchMapper& mapper,
                                        QPointF pixel)
{
    std::optional<SnapRecord> found;
    double best = snapTolerance::point;
    for (const sketch::Entity& e : s.entities) {
        if (e.type != EntityType::Point)
            continue;
        const Vec2 p = s.pointPosition(int(e.id));
        const double d = QLineF(pixel, mapper.toPixel(p)).length();
        if (d < best) {
            best = d;
            found = SnapRecord{SnapKind::Point, p.x, p.y, std::int32_t(e.id), -1};
        }
    }
    if (found && isCentreOfRound(s, found->pointId))
        found->kind = SnapKind::Centre;
    return found;
}

std::optional<SnapRecord> lineMidpoint(const sketch::Sketch& s, const SketchMapper& mapper,
                                       QPointF pixel)
{
    for (const sketch::Entity& e : s.entities) {
        if (e.type != EntityType::Line)
            continue;
        const Vec2 mid = s.entityAnchor(int(e.id));
        if (QLineF(pixel, mapper.toPixel(mid)).length() < snapTolerance::midpoint)
            return SnapRecord{SnapKind::Midpoint, mid.x, mid.y, -1, std::int32_t(e.id)};
    }
    return std::nullopt;
}

std::optional<SnapRecord> alignment(const SketchMapper& mapper, QPointF pixel, Vec2 cursor,
                                    Vec2 reference)
{
    const auto near = [&](Vec2 p) {
        return QLineF(pixel, mapper.toPixel(p)).length() < snapTolerance::alignment;
    };
    if (near({cursor.x, reference.y}) && std::fabs(cursor.x - reference.x) > 1e-9)
        return SnapRecord{SnapKind::Horizontal, cursor.x, reference.y, -1, -1};
    if (near({reference.x, cursor.y}) && std::fabs(cursor.y - reference.y) > 1e-9)
        return SnapRecord{SnapKind::Vertical, reference.x, cursor.y, -1, -1};
    return std::nullopt;
}

// The cursor projected onto the curve: clamped to a line's ends, radially onto a circle
// or the full circle of an arc.
Vec2 projectOnto(const sketch::Sketch& s, const sketch::Entity& curve, Vec2 cursor)
{
    if (curve.type == EntityType::Line) {
        const Vec2 a = s.pointPosition(curve.a);
        const Vec2 ab = s.pointPosition(curve.b) - a;
        const double t = std::clamp((cursor - a).dot(ab) / std::max(ab.dot(ab), 1e-12), 0.0, 1.0);
        return a + ab * t;
    }
    const Vec2 centre = s.entityAnchor(int(curve.id));
    const Vec2 d = cursor - centre;
    const double length = d.length();
    if (length <= 1e-12)
        return cursor;
    return centre + d * (s.radius(int(curve.id)) / length);
}

} // namespace

SnapRecord snapAt(const sketch::Sketch& sketch, const SketchMapper& mapper, QPoint pixel,
                  bool onCurves, std::optional<sketch::Vec2> reference)
{
    const std::optional<Vec2> cursor = mapper.toSketch(pixel);
    if (!cursor)
        return {};
    const QPointF at(pixel);
    if (auto point = existingPoint(sketch, mapper, at))
        return *point;
    if (QLineF(at, mapper.toPixel(0.0, 0.0)).length() < snapTolerance::origin)
        return {SnapKind::Origin, 0.0, 0.0, -1, -1};
    if (auto mid = lineMidpoint(sketch, mapper, at))
        return *mid;
    if (reference)
        if (auto aligned = alignment(mapper, at, *cursor, *reference))
            return *aligned;
    if (onCurves) {
        const SketchHit hit = hitTest(sketch, mapper, at, false);
        if (hit.kind == HitKind::Curve) {
            const Vec2 p = projectOnto(sketch, *sketch.findEntity(hit.id), *cursor);
            return {SnapKind::OnCurve, p.x, p.y, -1, hit.id};
        }
    }
    return {SnapKind::Free, cursor->x, cursor->y, -1, -1};
}

} // namespace qor::app
