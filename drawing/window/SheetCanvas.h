#pragma once

#include <QPoint>
#include <QPointF>
#include <QTransform>
#include <QWidget>

namespace qor::app {

class DrawingWindow;

// The drawing window's sheet on a grid, at a zoom and pan of its own. Turns mouse and keys
// into sheet edits (view drag, deletion, dimension picks), each ended by the window's commit.
class SheetCanvas : public QWidget {
    Q_OBJECT

public:
    static constexpr double minZoom = 0.2;
    static constexpr double maxZoom = 60.0;

    explicit SheetCanvas(DrawingWindow* window);

    double zoom() const { return zoom_; }
    QPointF pan() const { return pan_; }
    // Sheet millimetres (origin lower left, y up) to canvas pixels.
    QTransform sheetTransform() const;
    QPointF sheetPoint(const QPointF& pixel) const;
    // The whole sheet with a 30-pixel margin on the tighter side; widgets below 50 pixels and
    // a canvas not yet shown keep their view. Only the first resize fits: later ones keep zoom
    // and pan, so that the sheet stays where the user saw it.
    void fitToWindow();
    bool fitted() const { return fitted_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void selectAt(const QPointF& s);
    void pickAt(const QPointF& s);
    void deleteSelection();
    void paintSnapMarker(QPainter& painter);

    DrawingWindow* window_;
    double zoom_ = 2.0;
    QPointF pan_;
    QPoint lastPos_;
    bool panning_ = false;
    int dragViewId_ = 0;
    QPointF dragAnchor_; // sheet point at which the drag last moved the view
    QPointF hoverPoint_;
    bool fitted_ = false; // fitted into the shown canvas once
};

} // namespace qor::app
