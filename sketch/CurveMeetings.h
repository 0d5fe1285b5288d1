#pragma once

#include "sketch/PlaneCurves.h"

#include <vector>

namespace qor::sketch {

// Where two curves meet: they cross there, or an end of one lies on the other.
// `along` is the place on each curve: on a line the share of the way from a
// to b, on an arc the angle from its start, on a circle the angle from +u.
struct CurveMeeting {
    Vec2 point;
    double along[2] = {0.0, 0.0};
};

// Appends every place where curves a and b meet within `tolerance` of both
// (tangent points within it included). Parallel lines meet only where an end
// of one lies on the other; a curve meets nothing of a curve lying on the same
// circle except at such ends.
void addMeetings(const PlaneCurve& a, const PlaneCurve& b, double tolerance,
                 std::vector<CurveMeeting>& meetings);

// The point of the curve at a place along it, as CurveMeeting counts places.
Vec2 pointAlong(const PlaneCurve& curve, double along);

// The part of the curve between two places along it (from < to; on a circle
// `to` may pass 2π): a line or an arc.
PlaneCurve pieceOf(const PlaneCurve& curve, double from, double to);

// Where the curve ends as places along it; a circle starts and ends at 0.
double endAlong(const PlaneCurve& curve);

} // namespace qor::sketch
