#include "drawing/Dimensions.h"

#include "expr/Format.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qor::app {

namespace {

constexpr int maxDiametersPerView = 4;

double length(QPointF v)
{
    return std::hypot(v.x(), v.y());
}

double degrees(double radians)
{
    return radians * 180.0 / std::numbers::pi;
}

// Up to four diameters of distinct size, in projection order, labelled at 45°.
void addDiameters(const ProjectedView& pv, int viewId, Drawing& sheet,
                  std::vector<Drawing::Dim>& dims)
{
    std::vector<double> radii;
    for (const ProjectedCircle& circle : pv.circles) {
        if (radii.size() >= maxDiametersPerView)
            break;
        const bool known = std::any_of(radii.begin(), radii.end(), [&](double r) {
            return std::abs(r - circle.radius) <= 0.001;
        });
        if (known)
            continue;
        radii.push_back(circle.radius);
        // Concentric diameters turn their leaders a quarter turn each so that their
        // labels do not lie on top of each other.
        const auto sharedCentre = std::count_if(dims.begin(), dims.end(), [&](const auto& d) {
            return d.view == viewId && d.kind == static_cast<int>(DimKind::Diameter)
                   && std::hypot(d.a[0] - circle.cx, d.a[1] - circle.cy) < 0.001;
        });
        dims.push_back({.id = sheet.nextId++,
                        .view = viewId,
                        .kind = static_cast<int>(DimKind::Diameter),
                        .a = {circle.cx, circle.cy},
                        .b = {circle.radius, 0.0},
                        .offset = 6.0,
                        .text = QStringLiteral("@%1").arg(45 + 90 * (sharedCentre % 4))});
    }
}

// Kind and offset of a dimension between two picked points from where the click lies
// relative to the rectangle of their sheet positions.
void placeBetweenPoints(QPointF s1, QPointF s2, QPointF click, Drawing::Dim& dim)
{
    const QPointF m = (s1 + s2) / 2.0;
    const bool sameX = std::abs(dim.b[0] - dim.a[0]) < 1e-9;
    const bool sameY = std::abs(dim.b[1] - dim.a[1]) < 1e-9;
    const auto horizontal = static_cast<int>(DimKind::Horizontal);
    const auto vertical = static_cast<int>(DimKind::Vertical);
    if (click.y() > std::max(s1.y(), s2.y()) || click.y() < std::min(s1.y(), s2.y())) {
        dim.kind = sameX && !sameY ? vertical : horizontal;
        dim.offset = click.y() - m.y();
    } else if (click.x() > std::max(s1.x(), s2.x()) || click.x() < std::min(s1.x(), s2.x())) {
        dim.kind = sameY ? horizontal : vertical;
        dim.offset = click.x() - m.x();
    } else {
        dim.kind = static_cast<int>(DimKind::Aligned);
        const QPointF d = s2 - s1;
        QPointF n(-d.y(), d.x());
        if (length(d) > 1e-9)
            n /= length(d);
        dim.offset = QPointF::dotProduct(click - m, n);
    }
}

} // namespace

QString formatDimensionValue(double value)
{
    return QString::fromStdString(qor::formatNumber(2, value)).replace(u'.', u',');
}

void autoDimension(ProjectionCache& cache, const qor::model::Document& document, Drawing& sheet)
{
    std::vector<Drawing::Dim> dims;
    for (const Drawing::View& view : sheet.views) {
        const auto kind = static_cast<ViewKind>(view.type);
        if (kind == ViewKind::Isometric)
            continue;
        const ProjectedView& pv = cache.projectedView(document, sheet, view);
        if (pv.maxX - pv.minX < 1e-6)
            continue;
        const int horizontalId = sheet.nextId;
        const int verticalId = sheet.nextId + 1;
        sheet.nextId += 2;
        if (kind != ViewKind::Left) {
            dims.push_back({.id = horizontalId,
                            .view = view.id,
                            .kind = static_cast<int>(DimKind::Horizontal),
                            .a = {pv.minX, pv.minY},
                            .b = {pv.maxX, pv.minY},
                            .offset = -10.0,
                            .text = {}});
        }
        dims.push_back({.id = verticalId,
                        .view = view.id,
                        .kind = static_cast<int>(DimKind::Vertical),
                        .a = {pv.minX, pv.minY},
                        .b = {pv.minX, pv.maxY},
                        .offset = -10.0,
                        .text = {}});
        if (kind == ViewKind::Front || kind == ViewKind::Top)
            addDiameters(pv, view.id, sheet, dims);
    }
    sheet.dims = std::move(dims);
}

std::optional<Drawing::Dim> pickedDimension(ProjectionCache& cache,
                                            const qor::model::Document& document, Drawing& sheet,
                                            const DimensionPicks& picks, double x, double y)
{
    const Drawing::View* view = nullptr;
    for (const Drawing::View& candidate : sheet.views) {
        if (candidate.id == picks.view)
            view = &candidate;
    }
    const std::size_t needed = picks.circle ? 1 : 2;
    if (!view || picks.points.size() < needed)
        return std::nullopt;
    const ProjectedView& pv = cache.projectedView(document, sheet, *view);
    Drawing::Dim dim;
    dim.id = sheet.nextId++;
    dim.view = picks.view;
    const QPointF click(x, y);
    const QPointF first = picks.points[0];
    dim.a[0] = first.x();
    dim.a[1] = first.y();
    if (picks.circle) {
        // The leader length is measured on paper, where the circle is drawn at
        // scale × multiplier.
        const QPointF d = click - viewToSheet(sheet, *view, pv, first.x(), first.y());
        dim.kind = static_cast<int>(DimKind::Diameter);
        dim.b[0] = picks.radius;
        dim.offset = std::max(length(d) - picks.radius * viewFactor(sheet, *view), 2.0);
        dim.text = QStringLiteral("@%1").arg(degrees(std::atan2(d.y(), d.x())), 0, 'g', -1);
        return dim;
    }
    const QPointF second = picks.points[1];
    dim.b[0] = second.x();
    dim.b[1] = second.y();
    placeBetweenPoints(viewToSheet(sheet, *view, pv, first.x(), first.y()),
                       viewToSheet(sheet, *view, pv, second.x(), second.y()), click, dim);
    return dim;
}

const Drawing::View* dimensionView(const Drawing& sheet, const Drawing::Dim& dim)
{
    const Drawing::View* found = nullptr;
    for (const Drawing::View& view : sheet.views) {
        if (view.id == dim.view)
            found = &view;
    }
    return found;
}

LinearDimension linearDimension(const Drawing& sheet, const Drawing::View& view,
                                const ProjectedView& pv, const Drawing::Dim& dim)
{
    LinearDimension out;
    out.a = viewToSheet(sheet, view, pv, dim.a[0], dim.a[1]);
    out.b = viewToSheet(sheet, view, pv, dim.b[0], dim.b[1]);
    if (dim.kind == static_cast<int>(DimKind::Horizontal)) {
        const double y0 = dim.offset + (out.a.y() + out.b.y()) / 2.0;
        out.lineA = {out.a.x(), y0};
        out.lineB = {out.b.x(), y0};
        out.value = std::abs(dim.b[0] - dim.a[0]);
    } else if (dim.kind == static_cast<int>(DimKind::Vertical)) {
        const double x0 = dim.offset + (out.a.x() + out.b.x()) / 2.0;
        out.lineA = {x0, out.a.y()};
        out.lineB = {x0, out.b.y()};
        out.value = std::abs(dim.b[1] - dim.a[1]);
    } else {
        QPointF n(-(out.b.y() - out.a.y()), out.b.x() - out.a.x());
        if (length(n) > 1e-9)
            n /= length(n);
        out.lineA = out.a + dim.offset * n;
        out.lineB = out.b + dim.offset * n;
        out.value = std::hypot(dim.b[0] - dim.a[0], dim.b[1] - dim.a[1]);
    }
    const QPointF d = out.lineB - out.lineA;
    double angle = degrees(std::atan2(d.y(), d.x()));
    if (angle > 90.001 || angle < -89.999)
        angle += 180.0;
    if (angle > 180.0)
        angle -= 360.0;
    out.angleDeg = angle;
    const double theta = angle * std::numbers::pi / 180.0;
    out.textAt = (out.lineA + out.lineB) / 2.0 + 0.8 * QPointF(-std::sin(theta), std::cos(theta));
    return out;
}

QString dimensionText(const Drawing::Dim& dim, double value)
{
    return dim.text.isEmpty() ? formatDimensionValue(value) : dim.text;
}

std::optional<PlacedCallout> placeCallout(const Drawing& sheet, const Drawing::View& view,
                                          const ProjectedView& pv, const ThreadCallout& callout)
{
    const double norm = callout.direction.Magnitude();
    if (norm < 1e-9)
        return std::nullopt;
    const QPointF u(callout.direction.X() / norm, callout.direction.Y() / norm);
    PlacedCallout out;
    out.p = viewToSheet(sheet, view, pv, callout.anchor.X(), callout.anchor.Y());
    out.q = labelOutsideView(sheet, view, pv, out.p, u);
    out.shoulder = callout.text.size() * 3.5 * 0.62 + 2.0;
    if (u.x() < 0.0)
        out.shoulder = -out.shoulder;
    return out;
}

} // namespace qor::app
