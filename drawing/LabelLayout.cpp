#include "drawing/LabelLayout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qor::app {

namespace {

// DejaVu Sans: the widest glyphs used in dimensions (digits, capitals) advance about 0.64 em;
// ascent and descent together take 1.17 em.
constexpr double advancePerEm = 0.64;
constexpr double lineHeightPerEm = 1.17;
// Circles and bounds of one projection agree to far better than this.
constexpr double geometryTolerance = 1e-3;
// Gap between a caption and the dimensions it moves below.
constexpr double captionGap = 1.5;

QRectF boundsOf(std::initializer_list<QPointF> points)
{
    double x0 = 1e18, y0 = 1e18, x1 = -1e18, y1 = -1e18;
    for (const QPointF& p : points) {
        x0 = std::min(x0, p.x());
        y0 = std::min(y0, p.y());
        x1 = std::max(x1, p.x());
        y1 = std::max(y1, p.y());
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

bool isRadial(const Drawing::Dim& dim)
{
    return dim.kind == static_cast<int>(DimKind::Diameter)
           || dim.kind == static_cast<int>(DimKind::Radius);
}

} // namespace

QRectF textBox(QPointF anchor, const QString& text, double height, double angleDeg, bool hanging)
{
    const double w = text.size() * advancePerEm * height;
    const double h = lineHeightPerEm * height;
    const double y0 = hanging ? -h : 0.0;
    const double a = angleDeg * std::numbers::pi / 180.0;
    const auto turned = [&](double x, double y) {
        return QPointF(anchor.x() + x * std::cos(a) - y * std::sin(a),
                       anchor.y() + x * std::sin(a) + y * std::cos(a));
    };
    return boundsOf(
        {turned(-w / 2, y0), turned(w / 2, y0), turned(-w / 2, y0 + h), turned(w / 2, y0 + h)});
}

RadialDimension radialDimension(const Drawing& sheet, const Drawing::View& view,
                                const ProjectedView& pv, const Drawing::Dim& dim)
{
    RadialDimension out;
    out.c = viewToSheet(sheet, view, pv, dim.a[0], dim.a[1]);
    const double r = dim.b[0] * viewFactor(sheet, view);
    const bool angled = dim.text.startsWith(u'@');
    const double phi = (angled ? dim.text.mid(1).toDouble() : 45.0) * std::numbers::pi / 180.0;
    const QPointF e(std::cos(phi), std::sin(phi));
    out.p1 = out.c + r * e;
    out.p2 = out.c - r * e;
    out.l = out.c + (r + dim.offset) * e;
    out.text = dim.kind == static_cast<int>(DimKind::Diameter)
                   ? QStringLiteral("⌀") + formatDimensionValue(2.0 * dim.b[0])
                   : QStringLiteral("R") + formatDimensionValue(dim.b[0]);
    if (!dim.text.isEmpty() && !angled)
        out.text = dim.text;
    out.shoulder = e.x() >= 0.0 ? 8.0 : -8.0;
    out.textAt = QPointF(out.l.x() + out.shoulder / 2.0, out.l.y() + 0.8);
    return out;
}

bool dimensionMatchesView(const ProjectedView& pv, const Drawing::Dim& dim)
{
    if (isRadial(dim)) {
        return std::any_of(pv.primitives.begin(), pv.primitives.end(), [&](const ViewPrimitive& p) {
            return p.circular && p.kind != LineKind::Centre
                   && std::hypot(p.cx - dim.a[0], p.cy - dim.a[1]) <= geometryTolerance
                   && std::abs(p.radius - dim.b[0]) <= geometryTolerance;
        });
    }
    if (pv.maxX < pv.minX)
        return false;
    const auto inside = [&pv](double x, double y) {
        return x >= pv.minX - geometryTolerance && x <= pv.maxX + geometryTolerance
               && y >= pv.minY - geometryTolerance && y <= pv.maxY + geometryTolerance;
    };
    return inside(dim.a[0], dim.a[1]) && inside(dim.b[0], dim.b[1]);
}

std::vector<const Drawing::Dim*> drawnDimensions(ProjectionCache& cache,
                                                 const qor::model::Document& document,
                                                 const Drawing& sheet)
{
    std::vector<const Drawing::Dim*> drawn;
    for (const Drawing::Dim& dim : sheet.dims) {
        const Drawing::View* view = dimensionView(sheet, dim);
        if (view && dimensionMatchesView(cache.projectedView(document, sheet, *view), dim))
            drawn.push_back(&dim);
    }
    return drawn;
}

QRectF dimensionTextBox(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                        const Drawing::Dim& dim)
{
    if (isRadial(dim)) {
        const RadialDimension d = radialDimension(sheet, view, pv, dim);
        return textBox(d.textAt, d.text, dimensionTextHeight, 0.0, false);
    }
    const LinearDimension d = linearDimension(sheet, view, pv, dim);
    return textBox(d.textAt, dimensionText(dim, d.value), dimensionTextHeight, d.angleDeg, false);
}

QRectF dimensionBox(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                    const Drawing::Dim& dim)
{
    const QRectF text = dimensionTextBox(sheet, view, pv, dim);
    if (isRadial(dim)) {
        const RadialDimension d = radialDimension(sheet, view, pv, dim);
        return text | boundsOf({d.p1, d.p2, d.l, QPointF(d.l.x() + d.shoulder, d.l.y())});
    }
    const LinearDimension d = linearDimension(sheet, view, pv, dim);
    return text | boundsOf({d.lineA, d.lineB});
}

QString viewCaption(const Drawing::View& view)
{
    if (!view.label.isEmpty())
        return view.label;
    if (view.section)
        return QStringLiteral("Schnitt A–A");
    if (view.type == static_cast<int>(ViewKind::Isometric))
        return viewKindName(view.type);
    return {};
}

QPointF captionAnchor(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                      const std::vector<QRectF>& occupied)
{
    const double k = viewFactor(sheet, view);
    QPointF anchor(view.x, view.y - (pv.maxY - pv.minY) * k / 2.0 - 4.0);
    const QString text = viewCaption(view);
    // Each step moves below one row of dimensions; there are never many below one view.
    for (std::size_t step = 0; step <= occupied.size(); ++step) {
        const QRectF box = textBox(anchor, text, captionTextHeight, 0.0, true);
        double below = anchor.y();
        for (const QRectF& taken : occupied) {
            if (taken.intersects(box))
                below = std::min(below, taken.top() - captionGap);
        }
        if (below >= anchor.y())
            break;
        anchor.setY(below);
    }
    return anchor;
}

std::vector<QPointF> captionAnchors(ProjectionCache& cache, const qor::model::Document& document,
                                    const Drawing& sheet)
{
    std::vector<QRectF> occupied;
    for (const Drawing::Dim* dim : drawnDimensions(cache, document, sheet)) {
        const Drawing::View& view = *dimensionView(sheet, *dim);
        occupied.push_back(
            dimensionBox(sheet, view, cache.projectedView(document, sheet, view), *dim));
    }
    std::vector<QPointF> anchors;
    for (const Drawing::View& view : sheet.views)
        anchors.push_back(
            captionAnchor(sheet, view, cache.projectedView(document, sheet, view), occupied));
    return anchors;
}

} // namespace qor::app
