#include "drawing/window/SheetCanvas.h"

#include "ui/theme/Theme.h"
#include "drawing/LabelLayout.h"
#include "drawing/render/SheetRenderer.h"
#include "drawing/window/DrawingWindow.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace qor::app {

namespace {

// Grip and snap distances: sheet millimetres for grips, screen pixels for snapping.
constexpr double gripDistanceMm = 6.0;
constexpr double snapPixels = 6.0;
constexpr int gridPixels = 40;

double distance(const QPointF& a, const QPointF& b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

// The point at which a dimension is picked up: the middle of its dimension line, or the
// centre of a diameter or radius.
QPointF gripPoint(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                  const Drawing::Dim& dim)
{
    const QPointF a = viewToSheet(sheet, view, pv, dim.a[0], dim.a[1]);
    if (dim.kind > int(DimKind::Aligned))
        return a;
    QPointF grip = (a + viewToSheet(sheet, view, pv, dim.b[0], dim.b[1])) / 2.0;
    if (dim.kind == int(DimKind::Horizontal))
        grip.ry() += dim.offset;
    else if (dim.kind == int(DimKind::Vertical))
        grip.rx() += dim.offset;
    return grip;
}

} // namespace

SheetCanvas::SheetCanvas(DrawingWindow* window)
    : QWidget(window)
    , window_(window)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QTransform SheetCanvas::sheetTransform() const
{
    const double h = paperSize(window_->sheet().format).height();
    return QTransform(zoom_, 0, 0, -zoom_, pan_.x(), pan_.y() + zoom_ * h);
}

QPointF SheetCanvas::sheetPoint(const QPointF& pixel) const
{
    return sheetTransform().inverted().map(pixel);
}

void SheetCanvas::fitToWindow()
{
    // Before the first show the canvas has a made-up size; the resize at show fits it.
    if (width() < 50 || height() < 50 || !testAttribute(Qt::WA_WState_Created))
        return;
    const QSizeF paper = paperSize(window_->sheet().format);
    zoom_ = std::min((width() - 60) / paper.width(), (height() - 60) / paper.height());
    pan_ = QPointF((width() - paper.width() * zoom_) / 2.0,
                   (height() - paper.height() * zoom_) / 2.0);
    fitted_ = true;
    update();
}

void SheetCanvas::mousePressEvent(QMouseEvent* event)
{
    setFocus();
    lastPos_ = event->position().toPoint();
    const QPointF s = sheetPoint(lastPos_);
    if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        panning_ = true;
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    if (window_->tool == 0)
        selectAt(s);
    else
        pickAt(s);
    update();
}

void SheetCanvas::selectAt(const QPointF& s)
{
    window_->selectedDim = 0;
    window_->selectedView = 0;
    Drawing& sheet = window_->sheet();
    // Only what is drawn can be picked.
    for (const Drawing::Dim* drawn :
         drawnDimensions(window_->projections, window_->document(), sheet)) {
        const Drawing::Dim& dim = *drawn;
        const Drawing::View* view = dimensionView(sheet, dim);
        const ProjectedView& pv
            = window_->projections.projectedView(window_->document(), sheet, *view);
        if (distance(gripPoint(sheet, *view, pv, dim), s) < gripDistanceMm) {
            window_->selectedDim = dim.id;
            return;
        }
    }
    if (Drawing::View* view
        = window_->projections.viewAt(window_->document(), sheet, s.x(), s.y())) {
        window_->selectedView = view->id;
        dragViewId_ = view->id;
        dragAnchor_ = s;
    }
}

void SheetCanvas::pickAt(const QPointF& s)
{
    DimensionPicks& picks = window_->picks;
    if (picks.circle || picks.points.size() >= 2) {
        window_->addDimension(s.x(), s.y());
        return;
    }
    Drawing& sheet = window_->sheet();
    const Drawing::View* view
        = window_->projections.viewAt(window_->document(), sheet, s.x(), s.y());
    if (!view || (!picks.points.empty() && view->id != picks.view))
        return;
    const ProjectedView& pv = window_->projections.projectedView(window_->document(), sheet, *view);
    bool circle = false;
    double radius = 0.0;
    const bool firstPick = picks.points.empty();
    const std::optional<QPointF> hit
        = snapPoint(sheet, *view, pv, s.x(), s.y(), snapPixels / zoom_,
                    firstPick ? &circle : nullptr, firstPick ? &radius : nullptr);
    if (!hit)
        return;
    picks.view = view->id;
    picks.points.push_back(*hit);
    picks.circle = circle;
    picks.radius = circle ? radius : 0.0;
}

void SheetCanvas::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    hoverPoint_ = sheetPoint(pos);
    if (panning_) {
        pan_ += QPointF(pos - lastPos_);
        lastPos_ = pos;
        update();
    } else if (dragViewId_ != 0 && (event->buttons() & Qt::LeftButton)) {
        const QPointF step = hoverPoint_ - dragAnchor_;
        for (Drawing::View& view : window_->sheet().views) {
            if (view.id == dragViewId_) {
                view.x += step.x();
                view.y += step.y();
            }
        }
        dragAnchor_ = hoverPoint_;
        update();
    } else if (window_->tool == 1) {
        update();
    }
}

void SheetCanvas::mouseReleaseEvent(QMouseEvent*)
{
    if (dragViewId_ != 0) {
        dragViewId_ = 0;
        // A press without a move leaves the document unchanged; the controller then adds no
        // undo step.
        window_->commit(QStringLiteral("Ansicht verschieben"));
    }
    panning_ = false;
}

void SheetCanvas::wheelEvent(QWheelEvent* event)
{
    const QPointF cursor = event->position();
    const QPointF p = sheetPoint(cursor);
    zoom_ = std::clamp(zoom_ * std::pow(1.0015, event->angleDelta().y()), minZoom, maxZoom);
    pan_ += cursor - sheetTransform().map(p);
    update();
}

void SheetCanvas::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape: window_->setTool(0); break;
    case Qt::Key_F: fitToWindow(); break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace: deleteSelection(); break;
    default: QWidget::keyPressEvent(event);
    }
}

void SheetCanvas::deleteSelection()
{
    Drawing& sheet = window_->sheet();
    if (const int dimId = window_->selectedDim) {
        std::erase_if(sheet.dims, [dimId](const Drawing::Dim& d) { return d.id == dimId; });
        window_->selectedDim = 0;
        window_->commit(QStringLiteral("Maß löschen"));
    } else if (const int viewId = window_->selectedView) {
        std::erase_if(sheet.views, [viewId](const Drawing::View& v) { return v.id == viewId; });
        std::erase_if(sheet.dims, [viewId](const Drawing::Dim& d) { return d.view == viewId; });
        window_->selectedView = 0;
        window_->commit(QStringLiteral("Ansicht löschen"));
    }
}

void SheetCanvas::paintEvent(QPaintEvent*)
{
    const Theme& theme = Theme::instance();
    QPainter painter(this);
    painter.fillRect(rect(), theme.bg0);

    painter.setPen(QPen(Theme::mix(theme.bg0, theme.line, 0.6), 1));
    for (int x = int(pan_.x()) % gridPixels; x <= width() - 1; x += gridPixels)
        painter.drawLine(x, 0, x, height());
    for (int y = int(pan_.y()) % gridPixels; y <= height() - 1; y += gridPixels)
        painter.drawLine(0, y, width(), y);

    const QTransform transform = sheetTransform();
    const QSizeF paper = paperSize(window_->sheet().format);
    const QRectF sheetRect = transform.mapRect(QRectF(0, 0, paper.width(), paper.height()));
    painter.fillRect(sheetRect.translated(6, 8), QColor(0, 0, 0, 120));

    painter.setRenderHint(QPainter::Antialiasing);
    SheetHighlight highlight;
    highlight.selectedView = window_->selectedView;
    highlight.selectedDim = window_->selectedDim;
    highlight.pickedView = window_->picks.view;
    highlight.picked = window_->picks.points;
    renderSheet(&painter, transform, window_->projections, window_->document(), window_->sheet(),
                &highlight);
    if (window_->tool == 1)
        paintSnapMarker(painter);
}

void SheetCanvas::paintSnapMarker(QPainter& painter)
{
    Drawing& sheet = window_->sheet();
    const Drawing::View* view
        = window_->projections.viewAt(window_->document(), sheet, hoverPoint_.x(), hoverPoint_.y());
    if (!view)
        return;
    const ProjectedView& pv = window_->projections.projectedView(window_->document(), sheet, *view);
    bool circle = false;
    double radius = 0.0;
    const std::optional<QPointF> hit = snapPoint(sheet, *view, pv, hoverPoint_.x(), hoverPoint_.y(),
                                                 snapPixels / zoom_, &circle, &radius);
    if (!hit)
        return;
    const QPointF c = sheetTransform().map(viewToSheet(sheet, *view, pv, hit->x(), hit->y()));
    painter.setPen(QPen(Theme::instance().accent3, 2));
    painter.setBrush(Qt::NoBrush);
    if (circle) {
        // Drawn at the size the circle has on the sheet, isometric reduction included.
        const double r = radius * viewFactor(sheet, *view) * zoom_;
        painter.drawEllipse(c, r, r);
    } else {
        painter.drawRect(QRectF(c.x() - 5, c.y() - 5, 10, 10));
    }
}

void SheetCanvas::resizeEvent(QResizeEvent*)
{
    if (!fitted_)
        fitToWindow();
}

} // namespace qor::app
