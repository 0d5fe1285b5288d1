#include "drawing/ViewLayout.h"

#include "drawing/Projection.h"

#include <algorithm>

namespace qor::app {

namespace {

struct Extent {
    double width = 0.0;
    double height = 0.0;
};

Extent extentOf(ProjectionCache& cache, const qor::model::Document& document, const Drawing& sheet,
                ViewKind kind)
{
    Drawing::View view;
    view.type = static_cast<int>(kind);
    const ProjectedView& pv = cache.projectedView(document, sheet, view);
    return {pv.maxX - pv.minX, pv.maxY - pv.minY};
}

// The isometric view's factor on top of the sheet scale: 1 when it fits the room,
// else the first power of 0.8 that fits (0.8^8 at most), capped when the room is narrow.
double isometricFactor(Extent iso, double s, double roomW, double roomH, bool narrow)
{
    const auto fits
        = [&](double k) { return iso.width * s * k <= roomW && iso.height * s * k <= roomH; };
    double k = 1.0;
    if (!fits(k)) {
        k = 0.8;
        for (int power = 1; power < 8 && !fits(k); ++power)
            k *= 0.8;
    }
    return narrow ? std::min(k, 0.5) : k;
}

// The largest standard scale at or below the given one (0.001 when none).
double standardScaleAtMost(double value)
{
    for (const double standard :
         {50.0, 20.0, 10.0, 5.0, 2.0, 1.0, 0.5, 0.2, 0.1, 0.05, 0.02, 0.01, 0.005, 0.002}) {
        if (standard <= value)
            return standard;
    }
    return 0.001;
}

} // namespace

void arrangeViews(ProjectionCache& cache, const qor::model::Document& document, Drawing& sheet)
{
    const QSizeF paper = paperSize(sheet.format);
    const double w = paper.width();
    const double h = paper.height();
    const Extent front = extentOf(cache, document, sheet, ViewKind::Front);
    const Extent top = extentOf(cache, document, sheet, ViewKind::Top);
    const Extent left = extentOf(cache, document, sheet, ViewKind::Left);
    const Extent iso = extentOf(cache, document, sheet, ViewKind::Isometric);
    if (sheet.scale <= 0.0 || sheet.views.empty()) {
        sheet.scale = autoScale(front.width + left.width + std::max(0.0, 0.6 * iso.width),
                                front.height + top.height, w - 84.0, h - 97.0);
    }
    const double s = sheet.scale;
    const auto addView = [&](ViewKind kind, double x, double y) -> Drawing::View& {
        Drawing::View& view = sheet.views.emplace_back();
        view.id = sheet.nextId++;
        view.type = static_cast<int>(kind);
        view.x = x;
        view.y = y;
        return view;
    };
    sheet.views.clear();
    const double frontX = 47.0 + front.width * s / 2.0;
    const double frontY = h - 26.0 - front.height * s / 2.0;
    addView(ViewKind::Front, frontX, frontY);
    addView(ViewKind::Top, frontX, frontY - front.height * s / 2.0 - 22.0 - top.height * s / 2.0);
    const double leftX = frontX + front.width * s / 2.0 + 22.0 + left.width * s / 2.0;
    addView(ViewKind::Left, leftX, frontY);

    double regionLeft = leftX + left.width * s / 2.0 + 22.0;
    const bool narrow = w - 20.0 - regionLeft < 40.0;
    if (narrow)
        regionLeft = leftX - left.width * s / 2.0;
    const double roomW = w - 20.0 - regionLeft;
    const double roomH = h - 80.0;
    double k = isometricFactor(iso, s, roomW, roomH, narrow);
    QString label;
    if (k < 0.999) {
        k = standardScaleAtMost(k * s + 1e-12) / s;
        label = QStringLiteral("Isometrie (%1)").arg(scaleText(s * k));
    }
    Drawing::View& isoView
        = addView(ViewKind::Isometric, (regionLeft + w - 20.0) / 2.0, (60.0 + h - 20.0) / 2.0);
    isoView.hidden = false;
    isoView.center = false;
    isoView.mul = k;
    isoView.label = label;

    sheet.dims.clear();
    cache.clear();
}

} // namespace qor::app
