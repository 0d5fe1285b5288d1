#pragma once

#include <TopoDS_Wire.hxx>
#include <gp_Ax3.hxx>

namespace qor::model {

// A helix about the frame's main direction: it starts on the frame's X direction
// at height 0 and rises one pitch per turn up to the given height. Seen from the
// tip of the main direction of a right-handed frame, a right-hand helix turns
// counter-clockwise. Callers pass positive radius, pitch and height.
TopoDS_Wire helixWire(const gp_Ax3& frame, bool leftHand, double radius, double pitch,
                      double height);

} // namespace qor::model
