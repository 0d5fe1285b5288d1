#pragma once

#include "drawing/Dimensions.h"
#include "drawing/DrawingSheet.h"
#include "drawing/Projection.h"

#include <QPointF>
#include <QRectF>
#include <QString>

#include <vector>

namespace qor::model {
class Document;
}

namespace qor::app {

// Where the sheet's texts go, worked out without a painter so that what is drawn, exported
// and tested is the same. Boxes are in sheet millimetres with y up: a box's top() is its
// lower edge and bottom() its upper one.

// Text heights in sheet millimetres.
constexpr double dimensionTextHeight = 3.5;
constexpr double captionTextHeight = 2.5;

// The box a text of the given height takes at an anchor, centred on it across and turned
// counter-clockwise by angleDeg about it; a hanging text has its top at the anchor, a
// standing one its foot. The width is an estimate for the sheet font that errs on the wide
// side.
QRectF textBox(QPointF anchor, const QString& text, double height, double angleDeg, bool hanging);

// A diameter or radius dimension on the sheet: centre c, the arrow tips p1 and p2 on the
// circle, the end l of the leader, the shoulder of signed length along x, and the text.
struct RadialDimension {
    QPointF c;
    QPointF p1;
    QPointF p2;
    QPointF l;
    double shoulder = 0.0;
    QString text;
    QPointF textAt; // the text stands centred on this point
};

RadialDimension radialDimension(const Drawing& sheet, const Drawing::View& view,
                                const ProjectedView& pv, const Drawing::Dim& dim);

// Whether a dimension refers to what its view draws now: a diameter or radius to a circle
// or arc of the projection with its centre and radius, a linear dimension to points within
// the projection's bounds. A section or a changed model can take the geometry away.
bool dimensionMatchesView(const ProjectedView& pv, const Drawing::Dim& dim);

// The dimensions that are drawn: those with a view on the sheet that still shows what they
// measure, in sheet order.
std::vector<const Drawing::Dim*> drawnDimensions(ProjectionCache& cache,
                                                 const qor::model::Document& document,
                                                 const Drawing& sheet);

// Everything a drawn dimension covers on the sheet: its lines and its text.
QRectF dimensionBox(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                    const Drawing::Dim& dim);
// The text of a drawn dimension alone.
QRectF dimensionTextBox(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                        const Drawing::Dim& dim);

// The caption of a view ("Schnitt A–A", "Isometrie", its own label), empty when it has none.
QString viewCaption(const Drawing::View& view);

// The anchor of the view's caption, which hangs centred below the view: 4 mm under it, or,
// where dimensions lie there, under them.
QPointF captionAnchor(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                      const std::vector<QRectF>& occupied);

// The caption anchors of all views in sheet order (for views without a caption as well),
// clear of every drawn dimension.
std::vector<QPointF> captionAnchors(ProjectionCache& cache, const qor::model::Document& document,
                                    const Drawing& sheet);

} // namespace qor::app
