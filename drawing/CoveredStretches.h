#pragma once

#include <HLRBRep_Data.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Dir.hxx>

namespace qor::app {

// Hides the stretches of the edges an exact hidden-line removal left visible where a face
// of `shape` lies between them and the viewer, who looks against `towardViewer`; returns
// how many stretches it hid.
//
// The kernel's removal misjudges an edge whose projection touches the rims of one hiding
// face at its start, further on and again at its end: it draws the edge visible from the
// first touch to the second. A plate with a grid of equal holes, as thick as two pitches,
// seen from the isometric direction along a diagonal of the grid, does exactly that: the
// wall silhouettes of each hole run down across the top face to the rim of the next hole.
// A stretch is hidden only where rays towards the viewer, from its points and beside them,
// all pass through a face, so that lines along faces and past silhouettes stay as they were.
int hideCoveredStretches(HLRBRep_Data& data, const TopoDS_Shape& shape, const gp_Dir& towardViewer);

} // namespace qor::app
