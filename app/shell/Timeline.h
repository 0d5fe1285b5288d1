#pragma once

#include <QRect>
#include <QWidget>

namespace qor::app {

class DocumentController;

// Cell and marker geometry of the timeline strip in widget pixels, for `count` features
// with the rollback marker at `position` (cells before it are active). Cells behind the
// marker sit 14 px further right, leaving the gap that holds the marker.
struct TimelineStrip {
    int count = 0;
    int position = 0;

    // The marker position of a document: the feature count unless the rollback index
    // lies within 0 .. count.
    static int rollbackPosition(int count, int rollback);

    QRect cellRect(int index) const;
    int markerX(int position) const;
    // The cell whose area, widened by 2 px on both sides, holds x; -1 for none.
    int indexAt(int x) const;
    // The marker position 0 .. count nearest to x; the first one wins a tie.
    int nearestPosition(int x) const;
};

// The feature history as a row of cells with a draggable rollback marker. It only reads
// the document; clicks, double clicks, marker drops and context menus leave as signals.
class Timeline : public QWidget {
    Q_OBJECT

public:
    explicit Timeline(DocumentController* controller, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // The highlighted cell: the feature or sketch being edited, or the last one clicked; 0 for
    // none.
    int markedFeature() const { return selectedId_; }
    void setMarkedFeature(int featureId);

signals:
    void editRequested(int featureId);
    void selected(int featureId);
    // count = features that stay active, -1 when the marker was dropped behind the last one.
    void rollbackRequested(int count);
    void contextRequested(int featureId, QPoint global);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int featureCount() const;
    // The strip as the document's rollback index places the marker.
    TimelineStrip documentStrip() const;
    // The strip as painted: while dragging, the marker follows the drag.
    TimelineStrip shownStrip() const;
    int featureIdAt(int x) const;
    void paintCells(QPainter& painter, const TimelineStrip& strip);
    // The feature count and the duration of the last recompute, right-aligned in the area.
    QFont statusFont() const;
    QRect statusArea() const;
    QString statusText() const;
    QRect statusRect() const;

    DocumentController* controller_;
    int selectedId_ = 0;
    int hoverIndex_ = -1;
    bool dragging_ = false;
    int dragIndex_ = -1;
};

} // namespace qor::app
