#pragma once

// Cheap scans that refuse absurd nesting before the kernel's recursive readers see a file:
// its STEP record reader recurses once per parenthesis level, its STEP transfer and the
// destruction of what it read once per link of a reference chain, and its JSON parser
// (glTF) once per array or object level. Sound files stay far below the limits.

#include <QIODevice>
#include <QString>

#include <cstdint>

namespace qor::io {

// The deepest parenthesis level of a STEP file and its longest chain of entities that
// each name the next (#1 naming #2 naming #3 … counts 3). A scan stops early once the
// parentheses pass parenLimit. A chain that comes back to itself ends where it closes.
struct StepNesting {
    int deepestParens = 0;
    std::int64_t longestChain = 0;
};
StepNesting scanStepNesting(QIODevice& in, int parenLimit);

// The deepest array or object level of JSON text; the scan stops once it passes limit.
int scanJsonNesting(QIODevice& in, int limit);

// Above these a file is refused.
constexpr int maxStepParens = 256;
constexpr std::int64_t maxStepChain = 20000;
constexpr int maxJsonNesting = 512;

// The German refusal of a STEP or glTF/GLB file nested beyond the limits, or empty.
QString stepNestingFault(const QString& path);
QString gltfNestingFault(const QString& path);

} // namespace qor::io
