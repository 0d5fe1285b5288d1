#pragma once

#include <cstddef>
#include <cstdint>

// Bounds shared by the checks of the kernel's binary and text shape formats.
namespace qor::io::shapeCheck {

// Trimmed and offset curves and surfaces, extrusions and revolutions hold their
// basis geometry inline; the kernel reads it recursively.
constexpr int maxGeometryNesting = 16;
// Compounds inside compounds: the kernel's algorithms walk shapes recursively.
constexpr int maxShapeNesting = 256;
// Composed locations are multiplied item by item, recursively.
constexpr std::size_t maxLocationItems = 1024;
// Powers of a location are summed when items merge and raised by squaring; a
// bound keeps every sum far from overflow.
constexpr std::int64_t maxLocationPower = 1 << 20;
// The kernel's limit for Bezier and B-spline curves and surfaces.
constexpr int maxDegree = 25;

} // namespace qor::io::shapeCheck
