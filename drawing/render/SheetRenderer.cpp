#include "drawing/render/SheetRenderer.h"

#include "drawing/Dimensions.h"
#include "drawing/LabelLayout.h"
#include "drawing/Projection.h"
#include "ui/theme/Theme.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>

#include <cmath>

namespace qor::app {

namespace {

const QColor black(0, 0, 0);
const QColor selectedColour(0, 120, 200);
const QColor labelColour(100, 100, 100);
const QColor brandColour(130, 130, 130);
const QColor captionColour(70, 70, 70);

QPen sheetPen(const QColor& colour, double width, Qt::PenCapStyle cap = Qt::FlatCap,
              Qt::PenJoinStyle join = Qt::BevelJoin)
{
    return QPen(colour, width, Qt::SolidLine, cap, join);
}

// Pen of a view primitive; dash lengths are millimetres, the pattern counts in pen widths.
QPen primitivePen(LineKind kind, bool a4, const QColor* override)
{
    double width = a4 ? 0.18 : 0.25;
    QColor colour = black;
    QList<qreal> dashes;
    switch (kind) {
    case LineKind::Visible:
    case LineKind::Outline: width = a4 ? 0.35 : 0.5; break;
    case LineKind::Hidden:
        colour = QColor(40, 40, 40);
        dashes = {3.0, 1.5};
        break;
    case LineKind::Centre: dashes = {12.0, 2.0, 1.0, 2.0}; break;
    case LineKind::Hatch: width = a4 ? 0.13 : 0.18; break;
    default: break;
    }
    QPen pen = sheetPen(override ? *override : colour, width);
    if (!dashes.isEmpty()) {
        for (qreal& d : dashes)
            d /= width;
        pen.setDashPattern(dashes);
    }
    return pen;
}

void drawTitleField(QPainter* painter, const QTransform& t, const QString& label,
                    const QString& value, bool bold, double x, double top, double cellHeight,
                    double valueHeight)
{
    drawSheetText(painter, t, label, Qt::AlignLeft | Qt::AlignTop, labelColour, false, x + 1.2,
                  top - 0.9, 1.6, 0.0);
    drawSheetText(painter, t, value, Qt::AlignLeft | Qt::AlignBottom, black, bold, x + 1.5,
                  top - cellHeight + 1.6, valueHeight, 0.0);
}

void drawFrameAndTitleBlock(QPainter* painter, const QTransform& t, const Drawing& sheet, double w,
                            double h)
{
    painter->setPen(Qt::NoPen);
    painter->setBrush(Qt::white);
    painter->drawRect(QRectF(0, 0, w, h));
    painter->setBrush(Qt::NoBrush);
    painter->setPen(sheetPen(black, 0.7, Qt::SquareCap, Qt::MiterJoin));
    painter->drawRect(QRectF(20, 10, w - 30, h - 20));
    painter->setPen(sheetPen(black, 0.7, Qt::SquareCap));
    painter->drawLine(QLineF(w / 2, 5, w / 2, 10));
    painter->drawLine(QLineF(w / 2, h - 10, w / 2, h - 5));
    painter->drawLine(QLineF(15, h / 2, 20, h / 2));
    painter->drawLine(QLineF(w - 10, h / 2, w - 5, h / 2));

    const double x0 = w - 190.0;
    painter->setPen(sheetPen(black, 0.5));
    painter->drawRect(QRectF(x0, 10, 180, 36));
    painter->setPen(sheetPen(black, 0.25));
    painter->drawLine(QLineF(x0, 28, x0 + 180, 28));
    painter->drawLine(QLineF(x0 + 110, 10, x0 + 110, 46));
    painter->drawLine(QLineF(x0 + 145, 10, x0 + 145, 28));
    painter->drawLine(QLineF(x0 + 110, 19, x0 + 180, 19));
    painter->drawLine(QLineF(x0 + 110, 37, x0 + 180, 37));
    painter->drawLine(QLineF(x0 + 145, 28, x0 + 145, 46));

    struct Field {
        QString key;
        double x;
        double top;
        double cell;
        double valueHeight;
        bool bold;
    };
    const Field fields[] = {
        {QStringLiteral("Benennung"), x0, 46, 18, 6.0, true},
        {QStringLiteral("Zeichnungsnummer"), x0, 28, 18, 4.5, false},
        {QStringLiteral("Werkstoff"), x0 + 110, 46, 9, 3.0, false},
        {QStringLiteral("Maßstab"), x0 + 145, 46, 9, 3.0, false},
        {QStringLiteral("Gezeichnet"), x0 + 110, 37, 9, 3.0, false},
        {QStringLiteral("Datum"), x0 + 145, 37, 9, 3.0, false},
        {QStringLiteral("Firma"), x0 + 110, 28, 18, 4.0, true},
    };
    for (const Field& f : fields) {
        drawTitleField(painter, t, f.key, titleValue(sheet, f.key), f.bold, f.x, f.top, f.cell,
                       f.valueHeight);
    }
    drawTitleField(painter, t, QStringLiteral("Blatt"),
                   QStringLiteral("%1 · 1/1").arg(sheet.format), false, x0 + 145, 28, 9, 3.0);
    drawSheetText(painter, t, QStringLiteral("QorCAD"), Qt::AlignRight | Qt::AlignBottom,
                  brandColour, false, x0 + 178, 11.2, 1.6, 0.0);
}

void drawCallouts(QPainter* painter, const QTransform& t, const Drawing& sheet,
                  const Drawing::View& view, const ProjectedView& pv)
{
    for (const ThreadCallout& callout : pv.callouts) {
        const auto placed = placeCallout(sheet, view, pv, callout);
        if (!placed)
            continue;
        const QPointF p = placed->p;
        const QPointF q = placed->q;
        const double s = placed->shoulder;
        painter->setPen(sheetPen(black, 0.25));
        painter->setBrush(black);
        painter->drawLine(QLineF(p, q));
        painter->drawLine(QLineF(q, QPointF(q.x() + s, q.y())));
        const QPointF d = p - q;
        if (std::hypot(d.x(), d.y()) >= 1e-12)
            drawArrowHead(painter, p.x(), p.y(), d.x(), d.y(), 2.5);
        drawDimensionText(painter, t, callout.text, black, q.x() + s / 2.0, q.y() + 0.8, 0.0);
    }
}

void drawView(QPainter* painter, const QTransform& t, const Drawing& sheet,
              const Drawing::View& view, const ProjectedView& pv, QPointF captionAt,
              const SheetHighlight* highlight)
{
    const bool a4 = sheet.format == QStringLiteral("A4");
    const bool selected = highlight && highlight->selectedView == view.id;
    painter->setBrush(Qt::NoBrush);
    for (const ViewPrimitive& prim : pv.primitives) {
        if (prim.kind == LineKind::Centre && !view.center)
            continue;
        if (prim.points.empty())
            continue;
        painter->setPen(primitivePen(prim.kind, a4, selected ? &selectedColour : nullptr));
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(prim.points.size()));
        for (const gp_Pnt2d& p : prim.points)
            line << viewToSheet(sheet, view, pv, p.X(), p.Y());
        painter->drawPolyline(line);
    }
    drawCallouts(painter, t, sheet, view, pv);
    const QString text = viewCaption(view);
    if (!text.isEmpty())
        drawSheetText(painter, t, text, Qt::AlignHCenter | Qt::AlignTop, captionColour, false,
                      captionAt.x(), captionAt.y(), captionTextHeight, 0.0);
}

void drawRadialDimension(QPainter* painter, const QTransform& t, const Drawing& sheet,
                         const Drawing::View& view, const ProjectedView& pv,
                         const Drawing::Dim& dim, const QColor& colour)
{
    const RadialDimension d = radialDimension(sheet, view, pv, dim);
    const QPointF e = d.p1 - d.c;
    painter->drawLine(QLineF(d.p2, d.l));
    drawArrowHead(painter, d.p1.x(), d.p1.y(), -e.x(), -e.y(), 3.0);
    drawArrowHead(painter, d.p2.x(), d.p2.y(), e.x(), e.y(), 3.0);
    painter->drawLine(QLineF(d.l, QPointF(d.l.x() + d.shoulder, d.l.y())));
    drawDimensionText(painter, t, d.text, colour, d.textAt.x(), d.textAt.y(), 0.0);
}

// Extension line from a measured point to the dimension line: 1 mm gap at the part,
// 2 mm beyond the line.
void drawExtensionLine(QPainter* painter, QPointF from, QPointF to)
{
    const QPointF d = to - from;
    const double len = std::hypot(d.x(), d.y());
    if (len < 1e-9)
        return;
    const QPointF u = d / len;
    painter->drawLine(QLineF(from + u, to + 2.0 * u));
}

void drawLinearDimension(QPainter* painter, const QTransform& t, const Drawing& sheet,
                         const Drawing::View& view, const ProjectedView& pv,
                         const Drawing::Dim& dim, const QColor& colour)
{
    const LinearDimension d = linearDimension(sheet, view, pv, dim);
    drawExtensionLine(painter, d.a, d.lineA);
    drawExtensionLine(painter, d.b, d.lineB);
    painter->drawLine(QLineF(d.lineA, d.lineB));
    const QPointF along = d.lineA - d.lineB;
    drawArrowHead(painter, d.lineA.x(), d.lineA.y(), along.x(), along.y(), 3.0);
    drawArrowHead(painter, d.lineB.x(), d.lineB.y(), -along.x(), -along.y(), 3.0);
    drawDimensionText(painter, t, dimensionText(dim, d.value), colour, d.textAt.x(), d.textAt.y(),
                      d.angleDeg);
}

void drawDimensions(QPainter* painter, const QTransform& t, ProjectionCache& cache,
                    const qor::model::Document& document, const Drawing& sheet,
                    const SheetHighlight* highlight)
{
    // A dimension whose circle or edge the view no longer draws (after a section, say) is
    // left out rather than pointing at nothing.
    for (const Drawing::Dim* drawn : drawnDimensions(cache, document, sheet)) {
        const Drawing::Dim& dim = *drawn;
        const Drawing::View* view = dimensionView(sheet, dim);
        const ProjectedView& pv = cache.projectedView(document, sheet, *view);
        const QColor colour
            = highlight && highlight->selectedDim == dim.id ? selectedColour : black;
        painter->setPen(sheetPen(colour, 0.25));
        painter->setBrush(colour);
        const bool radial = dim.kind == static_cast<int>(DimKind::Diameter)
                            || dim.kind == static_cast<int>(DimKind::Radius);
        if (radial)
            drawRadialDimension(painter, t, sheet, *view, pv, dim, colour);
        else
            drawLinearDimension(painter, t, sheet, *view, pv, dim, colour);
    }
}

void drawPickedPoints(QPainter* painter, ProjectionCache& cache,
                      const qor::model::Document& document, const Drawing& sheet,
                      const SheetHighlight& highlight)
{
    if (highlight.picked.empty())
        return;
    painter->setPen(QPen(Theme::instance().accent3.darker(110), 0.3, Qt::DashLine));
    painter->setBrush(Qt::NoBrush);
    for (const Drawing::View& view : sheet.views) {
        if (view.id != highlight.pickedView)
            continue;
        const ProjectedView& pv = cache.projectedView(document, sheet, view);
        for (const QPointF& p : highlight.picked) {
            const QPointF s = viewToSheet(sheet, view, pv, p.x(), p.y());
            painter->drawEllipse(QRectF(s - QPointF(1.2, 1.2), QSizeF(2.4, 2.4)));
        }
    }
}

} // namespace

void drawSheetText(QPainter* painter, const QTransform& transform, const QString& text,
                   int alignment, const QColor& colour, bool bold, double x, double y,
                   double height, double angleDeg)
{
    const QPointF p = transform.map(QPointF(x, y));
    const double pixels = std::hypot(transform.m11(), transform.m12()) * height;
    if (pixels < 1.5)
        return;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    painter->save();
    painter->resetTransform();
    painter->translate(p);
    painter->rotate(-angleDeg);
    painter->setFont(font);
    painter->setPen(colour);
    const QFontMetricsF metrics(font, painter->device());
    const double w = metrics.horizontalAdvance(text);
    double dx = 0.0;
    if (alignment & Qt::AlignHCenter)
        dx = -w / 2.0;
    else if (alignment & Qt::AlignRight)
        dx = -w;
    double dy = -metrics.descent();
    if (alignment & Qt::AlignVCenter)
        dy = (metrics.ascent() - metrics.descent()) / 2.0;
    else if (alignment & Qt::AlignTop)
        dy = metrics.ascent();
    painter->drawText(QPointF(dx, dy), text);
    painter->restore();
}

void drawDimensionText(QPainter* painter, const QTransform& transform, const QString& text,
                       const QColor& colour, double x, double y, double angleDeg)
{
    drawSheetText(painter, transform, text, Qt::AlignHCenter | Qt::AlignBottom, colour, false, x, y,
                  3.5, angleDeg);
}

void drawArrowHead(QPainter* painter, double tipX, double tipY, double dirX, double dirY,
                   double length)
{
    const double norm = std::hypot(dirX, dirY);
    if (norm < 1e-12)
        return;
    const QPointF u(dirX / norm, dirY / norm);
    const QPointF tip(tipX, tipY);
    const QPointF base = tip - u * length;
    const QPointF side = QPointF(-u.y(), u.x()) * (length / 6.0);
    painter->drawPolygon(QPolygonF({tip, base + side, base - side}), Qt::OddEvenFill);
}

void renderSheet(QPainter* painter, const QTransform& sheetToDevice, ProjectionCache& cache,
                 const qor::model::Document& document, const Drawing& sheet,
                 const SheetHighlight* highlight)
{
    const QSizeF paper = paperSize(sheet.format);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setTransform(sheetToDevice);
    drawFrameAndTitleBlock(painter, sheetToDevice, sheet, paper.width(), paper.height());
    const std::vector<QPointF> captions = captionAnchors(cache, document, sheet);
    for (std::size_t i = 0; i < sheet.views.size(); ++i) {
        const Drawing::View& view = sheet.views[i];
        drawView(painter, sheetToDevice, sheet, view, cache.projectedView(document, sheet, view),
                 captions[i], highlight);
    }
    drawDimensions(painter, sheetToDevice, cache, document, sheet, highlight);
    if (highlight)
        drawPickedPoints(painter, cache, document, sheet, *highlight);
    painter->resetTransform();
}

} // namespace qor::app
