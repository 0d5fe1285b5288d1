#pragma once

#include "sketch/Sketch.h"

#include <vector>

namespace qor::sketch {

// A line, circle or arc in sketch coordinates, as the region finder reads the
// sketch's curves and the edges of a region's face.
struct PlaneCurve {
    EntityType type = EntityType::Line;
    Vec2 a; // line: start; circle and arc: centre
    Vec2 b; // line: end
    double r = 0.0; // circle and arc
    double a0 = 0.0; // arc: start angle
    double span = 0.0; // arc: counter-clockwise sweep in [0, 2π)
};

// Brings an angle into [0, 2π) without a loop, so NaN and infinities cannot hang
// it; they come out as NaN and then compare false everywhere.
double wrapAngle(double a);

// Where the curve crosses the line of height v: writes their u to `us` and
// returns how many (at most two). A line's end at height v counts only when
// its other end lies above; a horizontal line and a circle touching the line
// never count; an arc's own ends count.
int crossings(const PlaneCurve& curve, double v, double us[2]);

// The heights at which the curve ends or turns back in v: a line's ends, an
// arc's ends and a circle's or arc's top and bottom where it reaches them.
void addTurningHeights(const PlaneCurve& curve, std::vector<double>& heights);

double distanceTo(const PlaneCurve& curve, Vec2 p);

// Widens the box from lo to hi to hold the curve (an arc its whole circle).
void extendBox(const PlaneCurve& curve, Vec2& lo, Vec2& hi);

// Where a curve of the sketch ends as drawn: a line's end points, an arc's
// start and end points; a circle has none.
struct CurveEnds {
    bool closed = false; // a circle
    Vec2 start;
    Vec2 end;
};

// The sketch's non-construction curves, every one, including those that bound
// no region or give no edge. A curve with an infinite or undefined coordinate
// encloses nothing: its crossings would be artefacts of the arithmetic, so it
// is left out. With `ends`, fills it with each kept curve's ends, in step.
std::vector<PlaneCurve> sketchCurves(const Sketch& sketch, std::vector<CurveEnds>* ends = nullptr);

// Whether the ray from p in +u crosses the curve an odd number of times.
bool crossesOddly(const PlaneCurve& curve, Vec2 p);

// The distance of p from the segment from a to b.
double segmentDistance(Vec2 p, Vec2 a, Vec2 b);

} // namespace qor::sketch
