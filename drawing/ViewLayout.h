#pragma once

#include "drawing/DrawingSheet.h"

namespace qor::model {
class Document;
}

namespace qor::app {

class ProjectionCache;

// Replaces the sheet's views by the standard layout: front view at the upper left,
// top view below it, left view to its right and the isometric view in the room that
// is left, reduced to a standard scale when it does not fit. A scale of 0 or below,
// or a sheet without views, first gets the largest standard scale that fits. Removes
// every dimension and empties the projection cache. Does not commit.
void arrangeViews(ProjectionCache& cache, const qor::model::Document& document, Drawing& sheet);

} // namespace qor::app
