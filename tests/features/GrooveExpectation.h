#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>

// What a modelled thread groove removes from material that fills the radii
// [r0, r1] around the thread axis and the axial range [from, to] measured from
// the thread's entry, worked out without the modelling kernel. The groove's section
// is a triangle with its base (width 2·|apex − base|·tan 30°, at most 0.98 pitch)
// on the base radius and its apex on the apex radius, so at radius r it is
// w·(apex − r)/(apex − base) wide; after turning through the angle t its centre
// lies at −pitch + pitch·t/2π, for t up to 2π·height/pitch. The volume is the
// integral of r times the section's overlap with the slab over r and t.
inline double grooveInSlab(double base, double apex, double pitch, double height, double r0,
                           double r1, double from, double to)
{
    using std::numbers::pi;
    const double w = std::min(2.0 * std::abs(apex - base) * std::tan(pi / 6.0), 0.98 * pitch);
    const double turnAngle = 2.0 * pi * height / pitch;
    const int radialSteps = 200;
    const int angleSteps = 20000;
    const double dr = (r1 - r0) / radialSteps;
    const double dt = turnAngle / angleSteps;
    double volume = 0.0;
    for (int i = 0; i < radialSteps; ++i) {
        const double r = r0 + (i + 0.5) * dr;
        const double half = 0.5 * w * (apex - r) / (apex - base);
        if (half <= 0.0)
            continue;
        double overlap = 0.0;
        for (int j = 0; j < angleSteps; ++j) {
            const double centre = -pitch + pitch * (j + 0.5) * dt / (2.0 * pi);
            overlap += std::max(0.0, std::min(centre + half, to) - std::max(centre - half, from));
        }
        volume += r * dr * overlap * dt;
    }
    return volume;
}
