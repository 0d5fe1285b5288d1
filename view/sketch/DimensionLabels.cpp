#include "view/sketch/DimensionLabels.h"

#include "ui/theme/Theme.h"
#include "expr/Format.h"
#include "model/Document.h"
#include "sketch/Constraints.h"
#include "view/sketch/SketchMapper.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qor::app {

using sketch::ConstraintType;
using sketch::EntityType;
using sketch::Vec2;

namespace {

constexpr double degreesPerRadian = 180.0 / std::numbers::pi;

QString number(int decimals, double value)
{
    return QString::fromStdString(formatNumber(decimals, value));
}

bool isType(const sketch::Sketch& s, int id, EntityType type)
{
    const sketch::Entity* e = s.findEntity(id);
    return e && e->type == type;
}

// Start and end of a line.
struct Segment {
    Vec2 start;
    Vec2 end;
};

Segment lineOf(const sketch::Sketch& s, int id)
{
    const sketch::Entity* e = s.findEntity(id);
    return {s.pointPosition(e->a), s.pointPosition(e->b)};
}

Vec2 footOn(Vec2 p, Segment line)
{
    const Vec2 d = line.end - line.start;
    const double t = (p - line.start).dot(d) / std::max(d.dot(d), 1e-18);
    return line.start + d * t;
}

// Mean of the anchors of a and b that are set; a missing entity anchors at (0, 0).
Vec2 labelBase(const sketch::Sketch& s, const sketch::Constraint& c)
{
    Vec2 sum;
    int count = 0;
    for (int id : {c.a, c.b}) {
        if (id < 0)
            continue;
        sum = sum + s.entityAnchor(id);
        ++count;
    }
    return count ? sum * (1.0 / count) : Vec2{};
}

void addRoundLine(const sketch::Sketch& s, const sketch::Constraint& c, Vec2 label,
                  const SketchMapper& mapper, DimensionLayout& out)
{
    const Vec2 centre = s.entityAnchor(c.a);
    const Vec2 d = label - centre;
    const double length = d.length();
    if (length <= 1e-12)
        return;
    const Vec2 from
        = c.type == ConstraintType::Radius ? centre : centre - d * (s.radius(c.a) / length);
    out.segments.push_back(mapper.pixelSegment(from, label));
}

void addAngleArc(const sketch::Sketch& s, const sketch::Constraint& c, Vec2 label,
                 const SketchMapper& mapper, DimensionLayout& out)
{
    const Segment la = lineOf(s, c.a);
    const Segment lb = lineOf(s, c.b);
    const Vec2 d1 = la.end - la.start;
    const Vec2 d2 = lb.end - lb.start;
    const double cross = d1.x * d2.y - d1.y * d2.x;
    Vec2 vertex = la.start;
    if (std::fabs(cross) > 1e-12) {
        const Vec2 w = lb.start - la.start;
        vertex = la.start + d1 * ((w.x * d2.y - w.y * d2.x) / cross);
    }
    const double radius = (label - vertex).length();
    const double start = std::atan2(d1.y, d1.x);
    const double sweep = std::atan2(cross, d1.dot(d2));
    QPainterPath path;
    for (int i = 0; i <= 32; ++i) {
        const double a = start + i * sweep / 32.0;
        const QPointF p = mapper.toPixel(vertex + Vec2{std::cos(a), std::sin(a)} * radius);
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    out.arcs.push_back(path);
}

// The two measured points of a length dimension.
std::pair<Vec2, Vec2> measuredPoints(const sketch::Sketch& s, const sketch::Constraint& c)
{
    const bool aLine = isType(s, c.a, EntityType::Line);
    if (aLine && c.b < 0) {
        const Segment line = lineOf(s, c.a);
        return {line.start, line.end};
    }
    if (aLine && isType(s, c.b, EntityType::Line)) {
        const Vec2 p = lineOf(s, c.b).start;
        return {p, footOn(p, lineOf(s, c.a))};
    }
    if (isType(s, c.a, EntityType::Point) && isType(s, c.b, EntityType::Line)) {
        const Vec2 p = s.pointPosition(c.a);
        return {p, footOn(p, lineOf(s, c.b))};
    }
    return {s.entityAnchor(c.a), s.entityAnchor(c.b)};
}

void addLengthLines(const sketch::Sketch& s, const sketch::Constraint& c, Vec2 label,
                    const SketchMapper& mapper, DimensionLayout& out)
{
    const auto [p, q] = measuredPoints(s, c);
    Vec2 d1;
    Vec2 d2;
    if (c.type == ConstraintType::HorizontalDistance) {
        d1 = {p.x, label.y};
        d2 = {q.x, label.y};
    } else if (c.type == ConstraintType::VerticalDistance) {
        d1 = {label.x, p.y};
        d2 = {label.x, q.y};
    } else {
        const double length = (q - p).length();
        Vec2 n{0.0, 1.0};
        if (length > 1e-12)
            n = {-(q.y - p.y) / length, (q.x - p.x) / length};
        d1 = p + n * (label - p).dot(n);
        d2 = q + n * (label - q).dot(n);
    }
    out.segments.push_back(mapper.pixelSegment(p, d1));
    out.segments.push_back(mapper.pixelSegment(q, d2));
    out.segments.push_back(mapper.pixelSegment(d1, d2));
}

} // namespace

QFont dimensionLabelFont()
{
    return Theme::instance().monoFont(12);
}

QString dimensionText(const sketch::Sketch& sketch, const sketch::Constraint& dimension)
{
    const double value = dimension.driven ? std::fabs(sketch::measureConstraint(sketch, dimension))
                                          : dimension.value;
    QString text;
    switch (dimension.type) {
    case ConstraintType::Angle:
        text = number(2, std::fabs(value) * degreesPerRadian) + QStringLiteral("°");
        break;
    case ConstraintType::Diameter: text = QStringLiteral("⌀") + number(3, value); break;
    case ConstraintType::Radius: text = QStringLiteral("R") + number(3, value); break;
    default: text = number(3, value); break;
    }
    if (dimension.driven)
        text = QStringLiteral("(") + text + QStringLiteral(")");
    if (!dimension.expression.empty())
        text = QStringLiteral("ƒx ") + text;
    return text;
}

DimensionLayout dimensionLayout(const sketch::Sketch& sketch, const sketch::Constraint& dimension,
                                const SketchMapper& mapper, const QFontMetricsF& metrics,
                                bool withLines)
{
    DimensionLayout out;
    out.text = dimensionText(sketch, dimension);
    const Vec2 label = labelBase(sketch, dimension) + dimension.labelOffset;
    const QPointF centre = mapper.toPixel(label);
    const QSizeF size(metrics.horizontalAdvance(out.text) + 12.0, metrics.height() + 4.0);
    out.label = QRectF(centre - QPointF(size.width() / 2, size.height() / 2), size);
    if (!withLines)
        return out;

    switch (dimension.type) {
    case ConstraintType::Radius:
    case ConstraintType::Diameter: addRoundLine(sketch, dimension, label, mapper, out); break;
    case ConstraintType::Angle:
        if (isType(sketch, dimension.a, EntityType::Line)
            && isType(sketch, dimension.b, EntityType::Line)) {
            addAngleArc(sketch, dimension, label, mapper, out);
            break;
        }
        addLengthLines(sketch, dimension, label, mapper, out);
        break;
    default: addLengthLines(sketch, dimension, label, mapper, out); break;
    }
    return out;
}

QPoint valueFieldPosition(const QRectF& label)
{
    const QPointF centre = label.center();
    return {int(std::trunc(centre.x() - valueFieldWidth / 2)), int(std::trunc(centre.y() - 16))};
}

QString valueFieldText(const sketch::Constraint& dimension)
{
    if (!dimension.expression.empty())
        return QString::fromStdString(dimension.expression);
    if (dimension.type == ConstraintType::Angle)
        return number(4, std::fabs(dimension.value) * degreesPerRadian);
    return number(4, dimension.value);
}

ValueEntry readValueEntry(const model::Document& document, const sketch::Constraint& dimension,
                          const QString& text)
{
    ValueEntry entry;
    const QString typed = text.trimmed();
    const QString ownName = QString::fromStdString(dimension.name);
    if (!ownName.isEmpty() && document.dependsOnItself(typed, ownName)) {
        entry.error = QStringLiteral("Zirkulärer Bezug");
        return entry;
    }
    const EvalResult result = document.tryEval(typed, &entry.error);
    if (!result.ok)
        return entry;
    const bool angle = dimension.type == ConstraintType::Angle;
    if (!std::isfinite(result.value) || (!angle && result.value <= 0.0))
        return entry;

    bool plainNumber = false;
    QString(typed).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&plainNumber);
    if (!plainNumber)
        entry.expression = typed.toUtf8().toStdString();
    entry.value = result.value;
    if (angle)
        entry.value = (dimension.value < 0.0 ? -entry.value : entry.value) / degreesPerRadian;
    entry.valid = true;
    return entry;
}

} // namespace qor::app
