#include "view/sketch/SketchOverlay.h"

#include "expr/Format.h"
#include "sketch/Dof.h"
#include "sketch/Plane.h"
#include "ui/theme/Theme.h"
#include "view/sketch/DimensionLabels.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepTools_WireExplorer.hxx>
#include <GCPnts_TangentialDeflection.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <QHash>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace qor::app {

using sketch::EntityType;
using sketch::Vec2;

namespace {

const QColor determinedColor(0xF2, 0xF6, 0xFF);

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

QPen roundPen(const QColor& color, double width)
{
    return QPen(QBrush(color), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QPen plainPen(const QColor& color, double width, Qt::PenStyle style = Qt::SolidLine)
{
    return QPen(QBrush(color), width, style, Qt::SquareCap, Qt::BevelJoin);
}

QString number(int decimals, double value)
{
    return QString::fromStdString(formatNumber(decimals, value));
}

bool sameFrame(const gp_Ax3& a, const gp_Ax3& b)
{
    return a.Location().IsEqual(b.Location(), 0.0) && a.Direction().IsEqual(b.Direction(), 0.0)
           && a.XDirection().IsEqual(b.XDirection(), 0.0)
           && a.YDirection().IsEqual(b.YDirection(), 0.0);
}

// The outer regions' boundary loops on the sketch plane. Sampling the edges costs more than
// painting them, and they only change when the regions are rebuilt with new faces; the cache
// holds the faces, so that a rebuilt region cannot reuse an old face's address.
const std::vector<std::vector<Vec2>>& regionLoops(const std::vector<sketch::ProfileRegion>& regions,
                                                  const gp_Ax3& plane)
{
    static std::vector<TopoDS_Face> faces;
    static gp_Ax3 frame;
    static std::vector<std::vector<Vec2>> loops;
    std::vector<TopoDS_Face> current;
    for (const sketch::ProfileRegion& region : regions)
        if (region.outer)
            current.push_back(region.face);
    const auto same = [](const TopoDS_Face& a, const TopoDS_Face& b) { return a.IsEqual(b); };
    if (std::equal(current.begin(), current.end(), faces.begin(), faces.end(), same)
        && sameFrame(plane, frame))
        return loops;
    faces = std::move(current);
    frame = plane;
    loops.clear();
    for (const TopoDS_Face& face : faces) {
        for (TopExp_Explorer wires(face, TopAbs_WIRE); wires.More(); wires.Next()) {
            std::vector<Vec2>& loop = loops.emplace_back();
            // A built face keeps its wire's edges in no particular order; the outline follows
            // them from vertex to vertex.
            for (BRepTools_WireExplorer edges(TopoDS::Wire(wires.Current()), face); edges.More();
                 edges.Next()) {
                const BRepAdaptor_Curve curve(edges.Current());
                const GCPnts_TangentialDeflection samples(curve, 0.1, 0.05, 2, 1e-9, 1e-7);
                const std::size_t first = loop.size();
                for (int i = 1; i <= samples.NbPoints(); ++i)
                    loop.push_back(sketch::toPlane(plane, samples.Value(i)));
                if (edges.Orientation() == TopAbs_REVERSED)
                    std::reverse(loop.begin() + std::ptrdiff_t(first), loop.end());
            }
        }
    }
    return loops;
}

// The part of a closed polygon inside the box, edge by edge of the box (Sutherland-Hodgman).
// Where the polygon leaves the box, the result runs along the box's border instead, which
// leaves the inside of every point within the box as it was, for either fill rule.
QPolygonF clipPolygon(QPolygonF polygon, const QRectF& box)
{
    if (box.contains(polygon.boundingRect()))
        return polygon;
    struct Side {
        bool horizontal; // the limit is on x
        double limit;
        bool keepAbove;
    };
    const Side sides[] = {{true, box.left(), true},
                          {true, box.right(), false},
                          {false, box.top(), true},
                          {false, box.bottom(), false}};
    for (const Side& side : sides) {
        const auto coordinate = [&](QPointF p) { return side.horizontal ? p.x() : p.y(); };
        const auto inside = [&](QPointF p) {
            return side.keepAbove ? coordinate(p) >= side.limit : coordinate(p) <= side.limit;
        };
        const auto crossing = [&](QPointF a, QPointF b) {
            return a + (b - a) * ((side.limit - coordinate(a)) / (coordinate(b) - coordinate(a)));
        };
        QPolygonF kept;
        for (qsizetype i = 0; i < polygon.size(); ++i) {
            const QPointF previous = polygon[i == 0 ? polygon.size() - 1 : i - 1];
            const QPointF current = polygon[i];
            if (inside(current) != inside(previous))
                kept << crossing(previous, current);
            if (inside(current))
                kept << current;
        }
        polygon = std::move(kept);
    }
    return polygon;
}

// The parts of a polyline inside the box, each a polyline of its own (Liang-Barsky on every
// segment). A dashed pen starts its pattern anew with every subpath, so a part that begins at
// the border is moved back to the start of a dash period (`period` pixels along the line; 0
// for a solid pen): the dashes stay in place when the view pans.
std::vector<QPolygonF> clipPolyline(const std::vector<QPointF>& points, const QRectF& box,
                                    double period)
{
    std::vector<QPolygonF> pieces;
    double along = 0.0; // distance from the first point to the segment's start
    bool joined = false; // the last piece ends at the segment's start
    for (std::size_t i = 1; i < points.size(); ++i) {
        const QPointF a = points[i - 1];
        const QPointF d = points[i] - a;
        const double length = std::hypot(d.x(), d.y());
        double enter = 0.0;
        double leave = 1.0;
        const double p[] = {-d.x(), d.x(), -d.y(), d.y()};
        const double q[]
            = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(), box.bottom() - a.y()};
        for (int k = 0; k < 4 && enter <= leave; ++k) {
            if (p[k] == 0.0) {
                if (q[k] < 0.0)
                    leave = -1.0;
            } else if (p[k] < 0.0) {
                enter = std::max(enter, q[k] / p[k]);
            } else {
                leave = std::min(leave, q[k] / p[k]);
            }
        }
        if (enter > leave) {
            joined = false;
        } else {
            if (!joined || enter > 0.0) {
                double start = enter * length;
                if (period > 0.0)
                    start -= std::fmod(along + start, period);
                pieces.emplace_back() << (length > 0.0 ? a + d * (start / length) : a);
            }
            pieces.back() << a + d * leave;
            joined = leave >= 1.0;
        }
        along += length;
    }
    return pieces;
}

// What is painted lies within the widget; the margin keeps clipped ends, caps and antialiased
// edges outside it.
QRectF paintBox(const QPainter& painter)
{
    return QRectF(painter.window()).adjusted(-24, -24, 24, 24);
}

void paintRegions(QPainter& painter, const SketchPicture& picture)
{
    if (!picture.regions)
        return;
    // Off-screen outline still costs the rasteriser its whole length: each loop is cut to
    // the widget first.
    const QRectF box = paintBox(painter);
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    for (const std::vector<Vec2>& loop : regionLoops(*picture.regions, picture.plane)) {
        QPolygonF pixels;
        pixels.reserve(qsizetype(loop.size()));
        for (Vec2 p : loop)
            pixels << picture.mapper.toPixel(p);
        pixels = clipPolygon(std::move(pixels), box);
        if (pixels.size() < 3)
            continue;
        path.addPolygon(pixels);
        path.closeSubpath();
    }
    // Every region edge lies under a curve's glow, so the fill needs no smoothing of its own;
    // without it a long slanted edge rasterises several times faster.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillPath(path, withAlpha(Theme::instance().accent, 0.07));
    painter.restore();
}

bool namedByConflict(const sketch::Sketch& sketch, const SketchEditState& state, int id)
{
    for (std::uint32_t constraintId : state.conflicting) {
        const sketch::Constraint* c = sketch.findConstraint(int(constraintId));
        if (c && (c->a == id || c->b == id || c->c == id))
            return true;
    }
    return false;
}

bool picked(const SketchEditState& state, int id)
{
    const auto& picks = state.step.picks;
    return state.selectedEntities.count(id)
           || std::find(picks.begin(), picks.end(), std::uint32_t(id)) != picks.end();
}

// Outlines gathered by style and drawn together.
template <typename Style, typename Shape> class Batches {
public:
    Shape& operator[](const Style& style)
    {
        for (auto& [s, shape] : entries_)
            if (s == style)
                return shape;
        return entries_.emplace_back(style, Shape()).second;
    }
    const std::vector<std::pair<Style, Shape>>& entries() const { return entries_; }

private:
    std::vector<std::pair<Style, Shape>> entries_;
};

// A solid stroke with round caps and joins, kept as straight pieces and the discs that round
// their ends and corners. Qt's raster engine draws opaque flat-capped lines on a fast path,
// while a rounded or translucent stroke costs about a microsecond for every scanline it
// crosses, and a path of many strokes far more than the strokes one by one.
struct RoundStrokes {
    std::vector<QLineF> lines;
    std::vector<QPointF> joints;
    QRectF bounds;

    void add(const QPolygonF& piece)
    {
        for (qsizetype i = 1; i < piece.size(); ++i) {
            lines.emplace_back(piece[i - 1], piece[i]);
            // A bend of a sampled curve leaves a gap too thin to see; a corner gets its disc.
            if (i + 1 < piece.size()) {
                const QLineF in = lines.back();
                const QLineF out(piece[i], piece[i + 1]);
                const double cosine = QPointF::dotProduct(in.p2() - in.p1(), out.p2() - out.p1())
                                      / std::max(in.length() * out.length(), 1e-12);
                if (cosine < 0.985)
                    joints.push_back(piece[i]);
            }
        }
        joints.push_back(piece.front());
        joints.push_back(piece.back());
        bounds |= piece.boundingRect();
    }
};

void drawOpaque(QPainter& painter, const RoundStrokes& strokes, const QColor& color, double width)
{
    painter.setPen(QPen(QBrush(color), width, Qt::SolidLine, Qt::FlatCap, Qt::BevelJoin));
    painter.drawLines(strokes.lines.data(), int(strokes.lines.size()));
    // Curves meeting at a point share its disc.
    std::vector<QPointF> joints = strokes.joints;
    const auto before
        = [](QPointF a, QPointF b) { return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y()); };
    std::sort(joints.begin(), joints.end(), before);
    joints.erase(std::unique(joints.begin(), joints.end()), joints.end());
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    for (QPointF joint : joints)
        painter.drawEllipse(joint, width / 2.0, width / 2.0);
    painter.setBrush(Qt::NoBrush);
}

// Overlapping parts of a translucent stroke keep its alpha, as in one stroked path: the
// strokes go opaque into a layer, which is laid over with the alpha.
void drawStrokes(QPainter& painter, const RoundStrokes& strokes, QColor color, double width)
{
    if (color.alpha() == 255) {
        drawOpaque(painter, strokes, color, width);
        return;
    }
    const QRect area
        = strokes.bounds.adjusted(-width, -width, width, width).toAlignedRect() & painter.window();
    if (area.isEmpty())
        return;
    const double ratio = painter.device()->devicePixelRatioF();
    QImage layer(area.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    QPainter layerPainter(&layer);
    layerPainter.setRenderHint(QPainter::Antialiasing,
                               painter.testRenderHint(QPainter::Antialiasing));
    layerPainter.translate(-QPointF(area.topLeft()));
    const double alpha = color.alphaF();
    color.setAlpha(255);
    drawOpaque(layerPainter, strokes, color, width);
    layerPainter.end();
    painter.save();
    painter.setOpacity(alpha);
    painter.drawImage(area.topLeft(), layer);
    painter.restore();
}

using StrokeStyle = std::pair<QRgb, double>; // colour with alpha, width

// All glows lie under all centre lines.
void paintCurves(QPainter& painter, const SketchPicture& picture)
{
    const Theme& theme = Theme::instance();
    const SketchEditState& state = picture.state;
    const QRectF box = paintBox(painter);
    Batches<StrokeStyle, RoundStrokes> glows;
    Batches<StrokeStyle, RoundStrokes> lines;
    Batches<QPen, QPainterPath> dashes;
    for (const sketch::Entity& e : picture.sketch.entities) {
        if (e.type == EntityType::Point)
            continue;
        const int id = int(e.id);
        const bool hovered = state.hover.kind == HitKind::Curve && state.hover.id == id;
        QColor color = e.construction ? theme.warning
                       : sketch::isEntityDetermined(picture.sketch, e.id, state.determined)
                           ? determinedColor
                           : theme.accent;
        if (namedByConflict(picture.sketch, state, id))
            color = theme.danger;
        if (picked(state, id))
            color = theme.accent3;
        const std::vector<QPointF> outline = entityPolyline(picture.sketch, picture.mapper, id);
        if (outline.empty())
            continue;
        // Off-screen length costs the rasteriser as much as the visible part: curves are cut
        // to the widget first.
        if (e.construction) {
            const double width = hovered ? 2.2 : 1.2;
            QPen pen = roundPen(color, width);
            pen.setDashPattern({5.0, 4.0});
            for (const QPolygonF& piece : clipPolyline(outline, box, 9.0 * width))
                dashes[pen].addPolygon(piece);
            continue;
        }
        const bool strong = hovered || state.selectedEntities.count(id);
        const QRgb glow = withAlpha(color, strong ? 0.35 : 0.18).rgba();
        for (const QPolygonF& piece : clipPolyline(outline, box, 0.0)) {
            glows[{glow, hovered ? 7.9 : 6.9}].add(piece);
            lines[{color.rgba(), hovered ? 2.9 : 1.9}].add(piece);
        }
    }
    for (const auto& [style, strokes] : glows.entries())
        drawStrokes(painter, strokes, QColor::fromRgba(style.first), style.second);
    for (const auto& [style, strokes] : lines.entries())
        drawStrokes(painter, strokes, QColor::fromRgba(style.first), style.second);
    for (const auto& [pen, path] : dashes.entries())
        painter.strokePath(path, pen);
}

// A point is a disc in its colour; an owned one not under the mouse shows the background inside
// its 1.4 px ring. Filled discs instead of stroked rings: the ring's stroker is the slow part.
// Each disc is filled on its own: one path of discs spread over the widget rasterises far
// slower.
void paintPoints(QPainter& painter, const SketchPicture& picture)
{
    const Theme& theme = Theme::instance();
    const SketchEditState& state = picture.state;
    constexpr double ring = 0.7;
    const QRectF visible = QRectF(painter.window()).adjusted(-6, -6, 6, 6); // largest disc
    struct Disc {
        QPointF centre;
        double radius;
    };
    std::vector<Disc> holes;
    painter.setPen(Qt::NoPen);
    for (const sketch::Entity& e : picture.sketch.entities) {
        if (e.type != EntityType::Point)
            continue;
        const int id = int(e.id);
        const bool hovered = state.hover.kind == HitKind::Point && state.hover.id == id;
        const QColor color = picked(state, id) ? theme.accent3
                             : sketch::isEntityDetermined(picture.sketch, e.id, state.determined)
                                 ? determinedColor
                                 : theme.accent;
        const double radius = hovered ? 4.5 : e.owned ? 2.6 : 3.4;
        const QPointF centre = picture.mapper.toPixel(picture.sketch.pointPosition(id));
        if (!visible.contains(centre))
            continue;
        painter.setBrush(color);
        painter.drawEllipse(centre, radius + ring, radius + ring);
        if (e.owned && !hovered)
            holes.push_back({centre, radius - ring});
    }
    painter.setBrush(theme.bg0);
    for (const Disc& hole : holes)
        painter.drawEllipse(hole.centre, hole.radius, hole.radius);
    painter.setBrush(Qt::NoBrush);
}

void paintOriginAndBox(QPainter& painter, const SketchPicture& picture)
{
    const Theme& theme = Theme::instance();
    const QPointF origin = picture.mapper.toPixel(0.0, 0.0);
    painter.setPen(plainPen(theme.accent3, 1.4));
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(origin - QPointF(7, 0), origin + QPointF(7, 0));
    painter.drawLine(origin - QPointF(0, 7), origin + QPointF(0, 7));
    painter.drawEllipse(origin, 3.0, 3.0);
    if (picture.state.step.boxSelecting) {
        const QRectF box = QRectF(picture.mapper.toPixel(picture.state.dragLast),
                                  QPointF(picture.state.mousePixel))
                               .normalized();
        painter.setPen(plainPen(theme.accent, 1.0, Qt::DashLine));
        painter.setBrush(withAlpha(theme.accent, 0.08));
        painter.drawRect(box);
        painter.setBrush(Qt::NoBrush);
    }
}

// An outward arrowhead at `tip` of a dimension line running towards `other`.
void paintArrow(QPainter& painter, QPointF tip, QPointF other, const QColor& color)
{
    const QPointF along = other - tip;
    const double length = std::hypot(along.x(), along.y());
    if (length < 1.0)
        return;
    const QPointF u = along / length;
    const QPointF base = tip + 8.0 * u;
    const QPointF normal(-u.y(), u.x());
    painter.setBrush(color);
    painter.drawPolygon(QPolygonF({tip, base + 3.0 * normal, base - 3.0 * normal}),
                        Qt::OddEvenFill);
    painter.setBrush(Qt::NoBrush);
}

// Laying out and drawing the text of a label the widget does not show costs as much as one
// it shows.
bool onScreen(const DimensionLayout& layout, const QRectF& visible)
{
    QRectF reach = layout.label;
    for (const QLineF& segment : layout.segments)
        reach |= QRectF(segment.p1(), segment.p2()).normalized();
    for (const QPainterPath& arc : layout.arcs)
        reach |= arc.controlPointRect();
    return visible.intersects(reach);
}

void paintDimensions(QPainter& painter, const SketchPicture& picture)
{
    const Theme& theme = Theme::instance();
    const SketchEditState& state = picture.state;
    painter.setFont(dimensionLabelFont());
    const QFontMetricsF metrics(painter.font());
    const QRectF visible = paintBox(painter);
    for (const sketch::Constraint& c : picture.sketch.constraints) {
        if (!sketch::isDimensional(c.type))
            continue;
        const DimensionLayout layout
            = dimensionLayout(picture.sketch, c, picture.mapper, metrics, true);
        if (!onScreen(layout, visible))
            continue;
        const int id = int(c.id);
        const bool selected = state.selectedConstraints.count(id);
        const bool hovered = state.hover.kind == HitKind::Label && state.hover.id == id;
        const bool conflicting = state.conflicting.count(c.id);
        const QColor lineColor = conflicting ? theme.danger
                                 : selected  ? theme.accent3
                                 : c.driven  ? theme.textMute
                                             : theme.textDim;
        painter.setPen(plainPen(lineColor, 1.0));
        painter.setBrush(Qt::NoBrush);
        for (const QLineF& segment : layout.segments)
            painter.drawLine(segment);
        for (const QPainterPath& arc : layout.arcs)
            painter.drawPath(arc);
        const bool arrows = c.type == sketch::ConstraintType::Distance
                            || c.type == sketch::ConstraintType::HorizontalDistance
                            || c.type == sketch::ConstraintType::VerticalDistance;
        if (arrows && !layout.segments.empty()) {
            const QLineF& line = layout.segments.back();
            paintArrow(painter, line.p1(), line.p2(), lineColor);
            paintArrow(painter, line.p2(), line.p1(), lineColor);
        }
        const QColor border = hovered || selected ? theme.accent3
                              : conflicting       ? theme.danger
                                                  : Theme::mix(theme.lineBright, theme.accent, 0.3);
        painter.setPen(plainPen(border, 1.0));
        painter.setBrush(withAlpha(theme.bg1, 0.88));
        painter.drawRoundedRect(layout.label, 4.0, 4.0);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(conflicting ? theme.danger
                       : c.driven  ? theme.textDim
                       : selected  ? theme.accent3
                                   : theme.text);
        painter.drawText(layout.label, Qt::AlignCenter, layout.text);
    }
}

QString glyphIcon(sketch::ConstraintType type)
{
    static const char* const names[]
        = {"c_coincident",    "c_pointoncurve", "c_horizontal", "c_vertical", "c_parallel",
           "c_perpendicular", "c_collinear",    "c_tangent",    "c_equal",    "c_midpoint",
           "c_symmetric",     "c_concentric",   "c_fix"};
    const auto index = std::size_t(type);
    return QString::fromLatin1(index < std::size(names) ? names[index] : "dimension");
}

// Rendering an icon from its markup costs far more than drawing it; a sketch shows the same
// few icons in a few colours many times per frame.
const QPixmap& cachedIcon(const QString& name, const QColor& color)
{
    static QHash<QString, QPixmap> cache;
    const QString key = name + color.name(QColor::HexArgb);
    auto found = cache.find(key);
    if (found == cache.end())
        found = cache.insert(key, Theme::instance().iconPixmap(name, 13, color));
    return *found;
}

void paintGlyphs(QPainter& painter, const SketchPicture& picture)
{
    const Theme& theme = Theme::instance();
    const SketchEditState& state = picture.state;
    const QRectF visible = paintBox(painter);
    for (const GlyphRect& glyph : glyphRects(picture.sketch, picture.mapper)) {
        if (!visible.intersects(glyph.rect))
            continue;
        const sketch::Constraint* c = picture.sketch.findConstraint(int(glyph.constraintId));
        if (!c)
            continue;
        const int id = int(c->id);
        const bool highlighted = state.selectedConstraints.count(id)
                                 || (state.hover.kind == HitKind::Glyph && state.hover.id == id);
        const bool conflicting = state.conflicting.count(c->id);
        const QColor accent = conflicting ? theme.danger : highlighted ? theme.accent3 : QColor();
        painter.setPen(plainPen(accent.isValid() ? accent : theme.lineBright, 1.0));
        painter.setBrush(withAlpha(theme.bg2, 0.92));
        painter.drawRoundedRect(glyph.rect, 3.0, 3.0);
        painter.setBrush(Qt::NoBrush);
        const QPixmap& icon
            = cachedIcon(glyphIcon(c->type), accent.isValid() ? accent : theme.warning);
        painter.drawPixmap(glyph.rect.adjusted(2, 2, -2, -2).toRect(), icon);
    }
}

std::vector<Vec2> circlePoints(Vec2 centre, double radius, double start, double sweep)
{
    std::vector<Vec2> points;
    for (int i = 0; i <= 72; ++i) {
        const double angle = start + sweep * i / 72.0;
        points.push_back(centre + Vec2{std::cos(angle), std::sin(angle)} * radius);
    }
    return points;
}

// The outline of the shape in progress, in sketch coordinates, as polylines.
std::vector<std::vector<Vec2>> previewOutline(const SketchEditState& state, Vec2 c)
{
    const auto& points = state.step.points;
    const Vec2 f = points.front();
    const Vec2 g = points.back();
    const auto rectangle = [](Vec2 a, Vec2 b) {
        return std::vector<Vec2>{a, {b.x, a.y}, b, {a.x, b.y}, a};
    };
    constexpr double tau = 2.0 * std::numbers::pi;
    switch (state.tool) {
    case 1: return {{g, c}};
    case 2: return {rectangle(f, c)};
    case 3: return {rectangle(f * 2.0 - c, c)};
    case 4: return {circlePoints(f, (c - f).length(), 0.0, tau)};
    case 5: {
        std::vector<std::vector<Vec2>> lines;
        for (Vec2 p : points)
            lines.push_back({p, c});
        return lines;
    }
    case 6: return {{f, points.size() >= 2 ? points[1] : c}};
    case 7: {
        if (points.size() < 2)
            return {{f, c}};
        const Vec2 s = points[1] - f;
        const Vec2 e = c - f;
        const double start = std::atan2(s.y, s.x);
        double sweep = std::atan2(e.y, e.x) - start;
        const bool clockwise = s.x * e.y - s.y * e.x < 0.0;
        if (clockwise)
            sweep = -sweep;
        sweep = std::fmod(std::fmod(sweep, tau) + tau, tau);
        return {circlePoints(f, s.length(), start, clockwise ? -sweep : sweep)};
    }
    case 9: {
        const int sides = std::max(state.polygonSides, 3);
        const Vec2 r = c - f;
        std::vector<Vec2> corners;
        for (int i = 0; i <= sides; ++i) {
            const double a = tau * i / sides;
            corners.push_back(f
                              + Vec2{r.x * std::cos(a) - r.y * std::sin(a),
                                     r.x * std::sin(a) + r.y * std::cos(a)});
        }
        return {corners};
    }
    case 10: return {{f, points.size() >= 2 ? points[1] : c}};
    default: return {};
    }
}

Vec2 previewCursor(const SketchEditState& state)
{
    const SnapRecord& snap = state.step.snap;
    return snap.kind != SnapKind::Free ? Vec2{snap.x, snap.y} : state.cursor;
}

void paintSnapMark(QPainter& painter, const SketchPicture& picture)
{
    const SnapRecord& snap = picture.state.step.snap;
    if (snap.kind == SnapKind::Free)
        return;
    const Theme& theme = Theme::instance();
    const QPointF s = picture.mapper.toPixel(snap.x, snap.y);
    painter.setPen(plainPen(theme.accent3, 1.6));
    painter.setBrush(Qt::NoBrush);
    switch (snap.kind) {
    case SnapKind::Point:
    case SnapKind::Origin: painter.drawRect(QRectF(s - QPointF(5, 5), QSizeF(10, 10))); break;
    case SnapKind::Midpoint:
        painter.drawPolygon(QPolygonF({s + QPointF(0, -6), s + QPointF(6, 4), s + QPointF(-6, 4)}));
        break;
    case SnapKind::Centre: painter.drawEllipse(s, 6.0, 6.0); break;
    case SnapKind::OnCurve:
        painter.drawLine(s - QPointF(5, 5), s + QPointF(5, 5));
        painter.drawLine(s + QPointF(-5, 5), s + QPointF(5, -5));
        break;
    case SnapKind::Horizontal:
    case SnapKind::Vertical: {
        painter.setPen(plainPen(theme.accent3, 1.0, Qt::DotLine));
        if (!picture.state.step.points.empty())
            painter.drawLine(picture.mapper.toPixel(picture.state.step.points.back()), s);
        const QString icon = snap.kind == SnapKind::Horizontal ? QStringLiteral("c_horizontal")
                                                               : QStringLiteral("c_vertical");
        painter.drawPixmap(QPoint(int(s.x()) + 10, int(s.y()) - 22),
                           theme.iconPixmap(icon, 14, theme.accent3));
        break;
    }
    default: break;
    }
}

void paintTag(QPainter& painter, const SketchPicture& picture, const QString& text)
{
    const Theme& theme = Theme::instance();
    painter.setFont(theme.monoFont(11));
    const QFontMetricsF metrics(painter.font());
    const QRectF box(QPointF(picture.state.mousePixel) + QPointF(16, 18),
                     QSizeF(metrics.horizontalAdvance(text) + 12, metrics.height() + 6));
    painter.setPen(plainPen(theme.accent, 1.0));
    painter.setBrush(withAlpha(theme.bg1, 0.9));
    painter.drawRoundedRect(box, 4.0, 4.0);
    painter.setBrush(Qt::NoBrush);
    painter.drawText(box, Qt::AlignCenter, text);
}

void paintPreview(QPainter& painter, const SketchPicture& picture)
{
    const SketchEditState& state = picture.state;
    if (!state.step.points.empty()) {
        QPen pen = plainPen(Theme::instance().accent, 1.4);
        pen.setDashPattern({4.0, 3.0});
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        for (const std::vector<Vec2>& line : previewOutline(state, previewCursor(state))) {
            QPolygonF pixels;
            for (Vec2 p : line)
                pixels << picture.mapper.toPixel(p);
            painter.drawPolyline(pixels);
        }
    }
    paintSnapMark(painter, picture);
    if (const QString tag = measurementText(state); !tag.isEmpty())
        paintTag(painter, picture, tag);
}

} // namespace

QString measurementText(const SketchEditState& state)
{
    const auto& points = state.step.points;
    if (points.empty())
        return {};
    const Vec2 c = previewCursor(state);
    const Vec2 f = points.front();
    const Vec2 d = c - points.back();
    switch (state.tool) {
    case 1:
        return number(2, d.length()) + QStringLiteral(" mm  ·  ")
               + number(1, std::atan2(d.y, d.x) * 180.0 / std::numbers::pi) + QStringLiteral("°");
    case 2:
    case 3: {
        const Vec2 o = state.tool == 2 ? f : f * 2.0 - c;
        return number(2, std::abs(c.x - o.x)) + QStringLiteral(" × ")
               + number(2, std::abs(c.y - o.y));
    }
    case 4: return QStringLiteral("⌀ ") + number(2, 2.0 * (c - f).length());
    default: return {};
    }
}

void paintSketch(QPainter& painter, const SketchPicture& picture)
{
    paintRegions(painter, picture);
    paintCurves(painter, picture);
    paintPoints(painter, picture);
    paintOriginAndBox(painter, picture);
    paintDimensions(painter, picture);
    paintGlyphs(painter, picture);
    paintPreview(painter, picture);
}

SketchOverlay::SketchOverlay(SketchEditor& editor, QWidget* viewer)
    : QWidget(viewer)
    , editor_(editor)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
}

void SketchOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    editor_.paintOverlay(painter);
}

} // namespace qor::app
