#pragma once

#include "drawing/DrawingSheet.h"

#include <QColor>
#include <QPointF>
#include <QString>
#include <QTransform>

#include <vector>

class QPainter;

namespace qor::model {
class Document;
}

namespace qor::app {

class ProjectionCache;

// What the canvas marks on screen: the selected view and dimension, and the points
// picked so far for a new dimension (view-local, in view pickedView).
struct SheetHighlight {
    int selectedView = 0;
    int selectedDim = 0;
    int pickedView = 0;
    std::vector<QPointF> picked;
};

// Paints the whole sheet (paper, frame, title block, views, callouts, captions and
// dimensions) in sheet millimetres through sheetToDevice (origin lower left, y up).
// With a highlight the sheet is drawn as on screen; without, as exported. The
// painter's transform is reset on return.
void renderSheet(QPainter* painter, const QTransform& sheetToDevice, ProjectionCache& cache,
                 const qor::model::Document& document, const Drawing& sheet,
                 const SheetHighlight* highlight = nullptr);

// A text at a sheet point, height in millimetres, angle counter-clockwise in degrees;
// alignment takes the toolkit's horizontal and vertical flags. Texts below 1.5 device
// units high are left out.
void drawSheetText(QPainter* painter, const QTransform& transform, const QString& text,
                   int alignment, const QColor& colour, bool bold, double x, double y,
                   double height, double angleDeg);

// A 3.5 mm dimension or callout text, centred on and standing on (x, y).
void drawDimensionText(QPainter* painter, const QTransform& transform, const QString& text,
                       const QColor& colour, double x, double y, double angleDeg);

// A filled arrowhead with its tip at (tipX, tipY) pointing along (dirX, dirY), in the
// painter's current coordinates, pen and brush; half as wide as a third of its length.
void drawArrowHead(QPainter* painter, double tipX, double tipY, double dirX, double dirY,
                   double length);

} // namespace qor::app
