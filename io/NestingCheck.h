#pragma once

// Cheap scans that refuse absurd nesting before the kernel's recursive readers see a file:
// its STEP record reader recurses once per parenthesis level, its STEP transfer and the
// destruction of what it read once per link of a reference chain, and its JSON parser
// (glTF) once per array or object level. Sound files stay far below the limits.

#include <QIODevice>
#include <QString>

#include <cstdint>
#include <vector>

namespace qor::io {

// The deepest parenthesis level of a STEP file and its longest chain of entities that
// each name the next (#1 naming #2 naming #3 … counts 3). A scan stops early once the
// parentheses pass parenLimit. A chain that comes back to itself ends where it closes.
struct StepNesting {
    int deepestParens = 0;
    std::int64_t longestChain = 0;
    // The bodies its assembly usages place (see placedCount); 0 without assembly.
    std::uint64_t placements = 0;
};
StepNesting scanStepNesting(QIODevice& in, int parenLimit);

// The deepest array or object level of JSON text; the scan stops once it passes limit.
int scanJsonNesting(QIODevice& in, int limit);

// Placed bodies of a graph that places without end (an assembly inside itself), and a
// count that got too large to hold.
constexpr std::uint64_t unlimitedPlacements = ~std::uint64_t(0);

// The bodies an instance graph places: children lists by node, each entry one placement
// of that child. A node no one places is a root; a node without children is one body, a
// node with children places what they place.
std::uint64_t placedCount(const std::vector<std::vector<std::size_t>>& children);
// The same for the given roots only; nodes they do not lead to are not looked at.
std::uint64_t placedBelow(const std::vector<std::vector<std::size_t>>& children,
                          const std::vector<std::size_t>& roots);

// The bodies placed by the subfigure instances (408) and groups (402) of an IGES file, and
// by the node tree of a glTF file; 0 when they place nothing.
std::uint64_t igesPlacements(const QByteArray& iges);
std::uint64_t gltfPlacements(const QByteArray& json);

// Above these a file is refused.
constexpr std::uint64_t maxPlacements = 50000;
constexpr int maxStepParens = 256;
constexpr std::int64_t maxStepChain = 20000;
constexpr int maxJsonNesting = 512;

// The German refusal of a STEP or glTF/GLB file nested beyond the limits, or empty.
QString stepNestingFault(const QString& path);
QString gltfNestingFault(const QString& path);

// The German refusal of a file placing more than maxPlacements bodies, or empty.
QString placementsFault(std::uint64_t placements);
QString igesPlacementsFault(const QString& path);

} // namespace qor::io
