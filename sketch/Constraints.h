#pragma once

#include "sketch/Sketch.h"

#include <array>
#include <vector>

namespace qor::sketch {

// Reads the entities of `sketch` with coordinates taken from the trial vector `x`,
// which has the layout of the sketch's params.
struct ParamView {
    const Sketch* sketch = nullptr;
    const std::vector<double>* x = nullptr;

    Vec2 point(const Entity& e) const;
    // Circle: its radius parameter; any other entity: |point(a) - point(b)|.
    double length(const Entity& e) const;
    // Start x, y and end x, y of a line.
    std::array<double, 4> lineEnds(const Entity& e) const;
};

// Signed distance of P from the line S->E, positive to the left; |P - S| when the
// line is shorter than 1e-12.
double signedLineDistance(double px, double py, double sx, double sy, double ex, double ey);

// Appends the residual rows of `c` evaluated at view.x; none for Fixed, driven
// dimensions and unknown kinds. Allocates nothing beyond appending to `rows`.
void constraintResiduals(const ParamView& view, const Constraint& c, std::vector<double>& rows);

// The arc row |end - centre| - |start - centre|; 0 for an arc whose centre, start
// or end is not a point inside the trial vector.
double arcResidual(const ParamView& view, const Entity& arc);

// True when the entities named by `c` exist and are of the kinds its type takes
// (operands the type does not use are not looked at); false for unknown kinds.
bool constraintOperandsValid(const Sketch& sketch, const Constraint& c);

// Current measured value of a constraint (its first row at value 0, not driven).
double measureConstraint(const Sketch& s, const Constraint& c);

} // namespace qor::sketch
