#pragma once

#include <IMeshData_Types.hxx>
#include <Message_ProgressRange.hxx>

namespace qor::io {

// What the search for crossing borders found on a face.
enum class WireCrossing { None, Possible, Stopped };

// Looks for two segments of a face's divided borders that cross, through one grid over the
// segments of all its wires, so that the time grows with the segments and not with the
// square of the wires: the kernel's own check pairs every wire with every other, ten seconds
// for a face with 4,000 holes. Every pair the kernel counts as crossing is found (it counts
// only segments that cross, and then leaves some out: nearly parallel ones and small loops
// of one wire), so None promises that the kernel's check finds nothing. Asks the range for
// a break between rows of the grid.
WireCrossing findWireCrossing(const IMeshData::IFaceHandle& face,
                              const Message_ProgressRange& range = Message_ProgressRange());

} // namespace qor::io
