#pragma once

#include "drawing/DrawingSheet.h"
#include "drawing/Projection.h"

#include <QPointF>
#include <QString>

#include <optional>
#include <vector>

namespace qor::model {
class Document;
}

namespace qor::app {

// A dimension value with two decimals at most and a decimal comma: "12,5", "12".
QString formatDimensionValue(double value);

// Replaces every dimension of the sheet by the overall width and height of each
// non-isometric view and up to four diameters (one per size) of the front and top
// views; a diameter concentric with one already dimensioned turns its leader by 90°
// for each. Does not commit.
void autoDimension(ProjectionCache& cache, const qor::model::Document& document, Drawing& sheet);

// What the dimension tool has picked so far: view-local points of one view, or a circle.
struct DimensionPicks {
    int view = 0;
    std::vector<QPointF> points; // for a circle its centre only
    bool circle = false;
    double radius = 0.0; // model millimetres
};

// The dimension that the picks and a placing click at sheet (x, y) make, with the
// sheet's next id (which is advanced); none when the picked view is not on the sheet
// or the picks are incomplete.
std::optional<Drawing::Dim> pickedDimension(ProjectionCache& cache,
                                            const qor::model::Document& document, Drawing& sheet,
                                            const DimensionPicks& picks, double x, double y);

// The view a dimension belongs to: the last one carrying its view id, else null.
const Drawing::View* dimensionView(const Drawing& sheet, const Drawing::Dim& dim);

// Sheet geometry of a horizontal, vertical or aligned dimension: the measured points
// A and B, the ends A′ and B′ of the dimension line, the value in model millimetres
// and the text angle in degrees (turned so that the text reads upright).
struct LinearDimension {
    QPointF a;
    QPointF b;
    QPointF lineA;
    QPointF lineB;
    double value = 0.0;
    double angleDeg = 0.0;
    QPointF textAt; // the text stands centred on this point, 0.8 mm off the line
};

LinearDimension linearDimension(const Drawing& sheet, const Drawing::View& view,
                                const ProjectedView& pv, const Drawing::Dim& dim);

// The shown text of a linear dimension: its own text, else the formatted value.
QString dimensionText(const Drawing::Dim& dim, double value);

// A thread callout placed on the sheet: the leader from the anchor p to q just
// outside the view, then the shoulder of signed length shoulder along x.
struct PlacedCallout {
    QPointF p;
    QPointF q;
    double shoulder = 0.0;
};

// None when the callout has no direction.
std::optional<PlacedCallout> placeCallout(const Drawing& sheet, const Drawing::View& view,
                                          const ProjectedView& pv, const ThreadCallout& callout);

} // namespace qor::app
