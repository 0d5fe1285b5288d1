#pragma once

#include "sketch/PlaneCurves.h"

#include <vector>

namespace qor::sketch {

// Replaces curves that lie over each other along some length, on one line or
// one circle (1e-6 apart, as the kernel's splitter merges them), by what they
// cover together, each part once: a circle and the same circle drawn again as
// two arcs give two arcs; a line and two pieces of it overlapping in the
// middle give three lines; a curve drawn twice gives one. The parts run from
// drawn end to drawn end of those curves, so that they join other curves where
// the drawn ones did. Curves that overlap no other stay as they are, in order;
// the parts follow them. `ends` holds each curve's drawn ends, in step.
void mergeCoinciding(std::vector<PlaneCurve>& curves, std::vector<CurveEnds>& ends);

} // namespace qor::sketch
