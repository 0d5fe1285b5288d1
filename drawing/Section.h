#pragma once

#include "drawing/Projection.h"
#include "model/Document.h"

#include <TopoDS_Shape.hxx>

#include <vector>

namespace qor::app {

// The shape with the half towards the viewer removed, cut through the centre
// of its bounding box. A null shape, a void box or a failed cut give the shape
// unchanged.
TopoDS_Shape sectionCut(const TopoDS_Shape& shape, int viewKind);

// Appends 45° hatch lines (kind Hatch), spacing model millimetres apart, over
// the planar faces of cutShape that face the viewer at the cut level.
void sectionHatchOutlines(ProjectedView& pv, const TopoDS_Shape& cutShape, int viewKind,
                          double spacing);

// Appends the thread marks and callouts of threads for a view kind (none in the
// isometric view) and removes the drilled core circles that the marks replace.
void addThreadCallouts(ProjectedView& pv, const std::vector<qor::model::ThreadMark>& threads,
                       int viewKind, bool section);

// Whether circle is the drilled core circle of a thread seen end-on at (u, v).
bool coincidentCircle(const ProjectedCircle& circle, double u, double v, double minorDiameter);

} // namespace qor::app
