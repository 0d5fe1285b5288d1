#pragma once

// Sketches of dimensioned rectangles for the solver's tests and benchmark.

#include "sketch/Sketch.h"

#include <cmath>
#include <vector>

namespace qor::sketch::fixtures {

struct Rectangle {
    int lines[4]; // bottom, right, top, left, counter-clockwise
    int corners[4]; // start point of each line: bottom-left, bottom-right, top-right, top-left
};

// Four lines with their own end points, joined by Deckungsgleich at the corners,
// two Horizontal, two Vertikal and Abstand dimensions for width and height: two
// degrees of freedom remain (the position).
inline Rectangle addRectangle(Sketch& s, double x, double y, double w, double h)
{
    const double xs[4] = {x, x + w, x + w, x};
    const double ys[4] = {y, y, y + h, y + h};
    Rectangle r{};
    for (int i = 0; i < 4; ++i) {
        const int j = (i + 1) % 4;
        r.lines[i] = int(s.addLineAt(false, xs[i], ys[i], xs[j], ys[j]));
        r.corners[i] = s.startPoint(r.lines[i]);
    }
    for (int i = 0; i < 4; ++i)
        s.addConstraint(ConstraintType::Coincident, s.endPoint(r.lines[i]), r.corners[(i + 1) % 4],
                        -1, 0.0);
    s.addConstraint(ConstraintType::Horizontal, r.lines[0], -1, -1, 0.0);
    s.addConstraint(ConstraintType::Horizontal, r.lines[2], -1, -1, 0.0);
    s.addConstraint(ConstraintType::Vertical, r.lines[1], -1, -1, 0.0);
    s.addConstraint(ConstraintType::Vertical, r.lines[3], -1, -1, 0.0);
    s.addDimension(ConstraintType::Distance, r.lines[0], -1, -1);
    s.addDimension(ConstraintType::Distance, r.lines[1], -1, -1);
    return r;
}

// A row of `count` rectangles, each one's bottom-left corner coincident with the
// bottom-right corner of the one before; the first bottom-left corner is Fixiert
// when `fixFirst` is set (no freedom left), otherwise two degrees of freedom remain.
inline std::vector<Rectangle> addRectangleChain(Sketch& s, int count, bool fixFirst)
{
    std::vector<Rectangle> chain;
    for (int i = 0; i < count; ++i) {
        chain.push_back(addRectangle(s, 12.0 * i, 0.0, 12.0, 7.0 + (i % 3)));
        if (i > 0)
            s.addConstraint(ConstraintType::Coincident, chain[std::size_t(i) - 1].corners[1],
                            chain.back().corners[0], -1, 0.0);
    }
    if (fixFirst && count > 0)
        s.addConstraint(ConstraintType::Fixed, chain.front().corners[0], -1, -1, 0.0);
    return chain;
}

// Moves every point by a small, varying amount so that the solver has work to do.
inline void perturbPoints(Sketch& s, double amount)
{
    int k = 0;
    for (const Entity& e : s.entities) {
        if (e.type != EntityType::Point)
            continue;
        s.params[std::size_t(e.p0)] += amount * std::sin(1.7 * k + 0.3);
        s.params[std::size_t(e.p1)] += amount * std::cos(2.3 * k + 0.1);
        ++k;
    }
}

} // namespace qor::sketch::fixtures
