#pragma once

#include <cmath>

namespace qor::io {

// The largest coordinate or length the own readers hand to the kernel, in millimetres
// (1000 km). Beyond it the kernel's periodic-parameter and healing loops no longer advance
// (a value of 1e261 keeps them busy for ever), and no part drawn in a CAD program lies
// there: such a number comes from damaged data.
constexpr double maxModelMillimetres = 1e9;

// NaN passes the kernel's zero-length checks and sends its trimming into an endless loop,
// so every real from a foreign file is tested with this before it becomes geometry.
inline bool isSaneNumber(double value, double limit)
{
    return std::isfinite(value) && std::abs(value) <= limit;
}

} // namespace qor::io
