#include "view/sketch/HitTest.h"

#include "view/sketch/DimensionLabels.h"
#include "view/sketch/SketchMapper.h"

#include <QFontMetricsF>
#include <QLineF>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_map>

namespace qor::app {

using sketch::EntityType;
using sketch::Vec2;

namespace {

constexpr int circleSegments = 96;
constexpr double fullTurn = 2.0 * std::numbers::pi;

void appendRound(std::vector<QPointF>& out, const SketchMapper& mapper, Vec2 centre, double radius,
                 double start, double sweep, int segments)
{
    for (int k = 0; k <= segments; ++k) {
        const double a = start + k * sweep / segments;
        out.push_back(mapper.toPixel(centre + Vec2{std::cos(a), std::sin(a)} * radius));
    }
}

void appendArc(std::vector<QPointF>& out, const sketch::Sketch& s, const sketch::Entity& arc,
               const SketchMapper& mapper)
{
    const Vec2 centre = s.entityAnchor(int(arc.id));
    const Vec2 toStart = s.pointPosition(arc.b) - centre;
    const Vec2 toEnd = s.pointPosition(arc.c) - centre;
    const double start = std::atan2(toStart.y, toStart.x);
    double sweep = std::atan2(toEnd.y, toEnd.x) - start;
    if (sweep < 0.0)
        sweep += fullTurn;
    if (sweep >= fullTurn)
        sweep -= fullTurn;
    int segments = circleSegments;
    if (sweep < 1e-9)
        sweep = fullTurn;
    else
        segments = std::max(8, int(sweep / fullTurn * circleSegments));
    appendRound(out, mapper, centre, toStart.length(), start, sweep, segments);
}

QPointF anchorPixel(const sketch::Sketch& s, const sketch::Entity& e, const SketchMapper& mapper)
{
    if (e.type == EntityType::Circle || e.type == EntityType::Arc)
        return mapper.toPixel(s.entityAnchor(int(e.id))
                              + Vec2{1.0, 1.0} * (0.7071 * s.radius(int(e.id))));
    return mapper.toPixel(s.entityAnchor(int(e.id)));
}

double distanceToSegment(QPointF p, QPointF a, QPointF b)
{
    const QPointF ab = b - a;
    const double lengthSquared = QPointF::dotProduct(ab, ab);
    double t = 0.0;
    if (lengthSquared > 0.0)
        t = std::clamp(QPointF::dotProduct(p - a, ab) / lengthSquared, 0.0, 1.0);
    return QLineF(p, a + ab * t).length();
}

SketchHit labelAt(const sketch::Sketch& s, const SketchMapper& mapper, QPointF pixel)
{
    const QFontMetricsF metrics(dimensionLabelFont());
    constexpr double m = pickTolerance::labelMargin;
    for (const sketch::Constraint& c : s.constraints) {
        if (!sketch::isDimensional(c.type))
            continue;
        const QRectF label = dimensionLayout(s, c, mapper, metrics, false).label;
        if (label.adjusted(-m, -m, m, m).contains(pixel))
            return {HitKind::Label, std::int32_t(c.id), 0.0};
    }
    return {};
}

SketchHit nearestPoint(const sketch::Sketch& s, const SketchMapper& mapper, QPointF pixel)
{
    SketchHit best;
    for (const sketch::Entity& e : s.entities) {
        if (e.type != EntityType::Point)
            continue;
        const double d = QLineF(pixel, mapper.toPixel(s.pointPosition(int(e.id)))).length();
        if (d < pickTolerance::point && d < best.dist)
            best = {HitKind::Point, std::int32_t(e.id), d};
    }
    return best;
}

SketchHit nearestCurve(const sketch::Sketch& s, const SketchMapper& mapper, QPointF pixel)
{
    SketchHit best;
    for (const sketch::Entity& e : s.entities) {
        if (e.type == EntityType::Point)
            continue;
        const std::vector<QPointF> outline = entityPolyline(s, mapper, int(e.id));
        for (std::size_t i = 1; i < outline.size(); ++i) {
            const double d = distanceToSegment(pixel, outline[i - 1], outline[i]);
            if (d < pickTolerance::curve && d < best.dist)
                best = {HitKind::Curve, std::int32_t(e.id), d};
        }
    }
    return best;
}

} // namespace

std::vector<QPointF> entityPolyline(const sketch::Sketch& sketch, const SketchMapper& mapper,
                                    int entityId)
{
    std::vector<QPointF> out;
    const sketch::Entity* e = sketch.findEntity(entityId);
    if (!e)
        return out;
    switch (e->type) {
    case EntityType::Point: break;
    case EntityType::Line:
        out.push_back(mapper.toPixel(sketch.pointPosition(e->a)));
        out.push_back(mapper.toPixel(sketch.pointPosition(e->b)));
        break;
    case EntityType::Circle:
        appendRound(out, mapper, sketch.entityAnchor(entityId), sketch.radius(entityId), 0.0,
                    fullTurn, circleSegments);
        break;
    case EntityType::Arc: appendArc(out, sketch, *e, mapper); break;
    }
    return out;
}

std::vector<GlyphRect> glyphRects(const sketch::Sketch& sketch, const SketchMapper& mapper)
{
    std::vector<GlyphRect> out;
    std::unordered_map<std::int64_t, int> perCell;
    for (const sketch::Constraint& c : sketch.constraints) {
        if (sketch::isDimensional(c.type) || c.type == sketch::ConstraintType::Coincident)
            continue;
        const sketch::Entity* first = sketch.findEntity(c.a);
        if (!first)
            continue;
        const QPointF p = anchorPixel(sketch, *first, mapper);
        const std::int64_t cell = std::int64_t(std::trunc(p.x() * 0.25)) * 100000
                                  + std::int64_t(std::trunc(p.y() * 0.25));
        const int n = perCell[cell]++;
        out.push_back({QRectF(p.x() + 8 + 19 * n, p.y() + 6, 17, 17), c.id});
    }
    return out;
}

SketchHit hitTest(const sketch::Sketch& sketch, const SketchMapper& mapper, QPointF pixel,
                  bool withPoints)
{
    if (const SketchHit label = labelAt(sketch, mapper, pixel); label.kind != HitKind::Nothing)
        return label;
    for (const GlyphRect& glyph : glyphRects(sketch, mapper))
        if (glyph.rect.contains(pixel))
            return {HitKind::Glyph, std::int32_t(glyph.constraintId), 0.0};
    if (withPoints)
        if (const SketchHit point = nearestPoint(sketch, mapper, pixel);
            point.kind != HitKind::Nothing)
            return point;
    return nearestCurve(sketch, mapper, pixel);
}

} // namespace qor::app
