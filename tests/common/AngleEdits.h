#pragma once

// Solved sketches whose angle dimension is then given a new value, the edit that a
// user makes by typing an angle or a parameter: single lines, rotated rectangles and
// parallelograms, drawn exactly at their old angles.

#include "sketch/Sketch.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace qor::sketch::fixtures {

struct AngleEdit {
    Sketch sketch; // solved at the old value
    std::uint32_t dimension = 0; // the Winkel whose value changes
    double newValue = 0.0; // radians, in (-π, π]
};

inline double wrapAngle(double a)
{
    a = std::remainder(a, 2.0 * std::numbers::pi);
    return a <= -std::numbers::pi ? a + 2.0 * std::numbers::pi : a;
}

inline double radians(double degrees)
{
    return degrees * std::numbers::pi / 180.0;
}

// A horizontal line from (-60, -40) to (60, -40), both ends Fixiert: the line the
// turns are measured from.
inline int addReferenceLine(Sketch& s)
{
    const int line = int(s.addLineAt(false, -60, -40, 60, -40));
    s.addConstraint(ConstraintType::Fixed, s.startPoint(line), -1, -1, 0.0);
    s.addConstraint(ConstraintType::Fixed, s.endPoint(line), -1, -1, 0.0);
    return line;
}

// Four lines with their own end points through the corners, joined at the corners.
inline std::vector<int> addOutline(Sketch& s, const Vec2 (&corners)[4])
{
    std::vector<int> lines;
    for (int i = 0; i < 4; ++i) {
        const Vec2 a = corners[i];
        const Vec2 b = corners[(i + 1) % 4];
        lines.push_back(int(s.addLineAt(false, a.x, a.y, b.x, b.y)));
    }
    for (int i = 0; i < 4; ++i)
        s.addConstraint(ConstraintType::Coincident, s.endPoint(lines[std::size_t(i)]),
                        s.startPoint(lines[std::size_t((i + 1) % 4)]), -1, 0.0);
    s.addConstraint(ConstraintType::Fixed, s.startPoint(lines[0]), -1, -1, 0.0);
    return lines;
}

struct AngledLine {
    int line = -1;
    std::uint32_t angle = 0; // the Winkel from the reference line
};

// A line of `length` from a Fixiert origin at `degrees` to the reference line, held
// by its length and that Winkel.
inline AngledLine addAngledLine(Sketch& s, double length, double degrees)
{
    const int reference = addReferenceLine(s);
    const double turn = radians(degrees);
    AngledLine made;
    made.line = int(s.addLineAt(false, 0, 0, length * std::cos(turn), length * std::sin(turn)));
    s.addConstraint(ConstraintType::Fixed, s.startPoint(made.line), -1, -1, 0.0);
    s.addConstraint(ConstraintType::Distance, made.line, -1, -1, length);
    made.angle = s.addConstraint(ConstraintType::Angle, reference, made.line, -1, wrapAngle(turn));
    return made;
}

// The angled line drawn at `fromDeg`, its angle then set to `toDeg`.
inline AngleEdit lineEdit(double length, double fromDeg, double toDeg)
{
    AngleEdit edit;
    edit.dimension = addAngledLine(edit.sketch, length, fromDeg).angle;
    edit.newValue = wrapAngle(radians(toDeg));
    return edit;
}

// A parallelogram with a Fixiert corner at `origin`, sides `width` (turned by `turn`
// from the reference line) and `height` (at `inner` from the first side), held by
// two lengths, the turn and either three right angles (`inner` = π/2, `rectangle`
// set) or two Parallel and the inner Winkel. Returns the ids of the turn and of the
// inner angle (0 for a rectangle).
inline std::pair<std::uint32_t, std::uint32_t> addParallelogram(Sketch& s, Vec2 origin,
                                                                double width, double height,
                                                                double turn, double inner,
                                                                bool rectangle)
{
    const int reference = addReferenceLine(s);
    const Vec2 u{std::cos(turn), std::sin(turn)};
    const Vec2 v{std::cos(turn + inner), std::sin(turn + inner)};
    const Vec2 corners[4]
        = {origin,
           {origin.x + width * u.x, origin.y + width * u.y},
           {origin.x + width * u.x + height * v.x, origin.y + width * u.y + height * v.y},
           {origin.x + height * v.x, origin.y + height * v.y}};
    const std::vector<int> lines = addOutline(s, corners);
    std::uint32_t innerAngle = 0;
    if (rectangle) {
        for (int i = 0; i < 3; ++i)
            s.addConstraint(ConstraintType::Perpendicular, lines[std::size_t(i)],
                            lines[std::size_t(i + 1)], -1, 0.0);
    } else {
        s.addConstraint(ConstraintType::Parallel, lines[0], lines[2], -1, 0.0);
        s.addConstraint(ConstraintType::Parallel, lines[1], lines[3], -1, 0.0);
        innerAngle
            = s.addConstraint(ConstraintType::Angle, lines[0], lines[1], -1, wrapAngle(inner));
    }
    s.addConstraint(ConstraintType::Distance, lines[0], -1, -1, width);
    s.addConstraint(ConstraintType::Distance, lines[1], -1, -1, height);
    const std::uint32_t turnAngle
        = s.addConstraint(ConstraintType::Angle, reference, lines[0], -1, wrapAngle(turn));
    return {turnAngle, innerAngle};
}

// Random sizes (1 to 500 mm, evenly spread in their logarithm), turns and changes of
// `minDeg` to `maxDeg` degrees in either sense, from a fixed seed.
class AngleEditSource {
public:
    explicit AngleEditSource(std::uint32_t seed)
        : random_(seed)
    {
    }

    AngleEdit rectangle(double minDeg, double maxDeg)
    {
        AngleEdit edit;
        const double turn = uniform(-180.0, 180.0);
        const Vec2 at = position();
        const double width = size();
        const double height = size();
        const auto ids = addParallelogram(edit.sketch, at, width, height, radians(turn),
                                          std::numbers::pi / 2, true);
        edit.dimension = ids.first;
        edit.newValue = wrapAngle(radians(turn + change(minDeg, maxDeg)));
        return edit;
    }

    // Every other edit turns the whole figure; the rest change its inner angle within
    // 5° to 175°.
    AngleEdit parallelogram(double minDeg, double maxDeg)
    {
        AngleEdit edit;
        const double turn = uniform(-180.0, 180.0);
        const bool turnIt = (count_++ % 2) == 0;
        const double delta = change(minDeg, maxDeg);
        // An inner angle opens or closes by |delta| and stays within 5° to 175°.
        const double magnitude = std::abs(delta);
        const double inner = turnIt        ? uniform(5.0, 175.0)
                             : delta > 0.0 ? uniform(5.0, 175.0 - magnitude)
                                           : uniform(5.0 + magnitude, 175.0);
        const Vec2 at = position();
        const double width = size();
        const double height = size();
        const auto ids = addParallelogram(edit.sketch, at, width, height, radians(turn),
                                          radians(inner), false);
        edit.dimension = turnIt ? ids.first : ids.second;
        edit.newValue = wrapAngle(radians((turnIt ? turn : inner) + delta));
        return edit;
    }

private:
    double uniform(double low, double high)
    {
        return std::uniform_real_distribution<double>(low, high)(random_);
    }

    double size() { return std::exp(uniform(0.0, std::log(500.0))); }

    Vec2 position() { return {uniform(-200.0, 200.0), uniform(-200.0, 200.0)}; }

    double change(double minDeg, double maxDeg)
    {
        const double magnitude = uniform(minDeg, maxDeg);
        return std::bernoulli_distribution(0.5)(random_) ? magnitude : -magnitude;
    }

    std::mt19937 random_;
    int count_ = 0;
};

} // namespace qor::sketch::fixtures
