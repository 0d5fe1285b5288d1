#pragma once

#include "sketch/Sketch.h"

#include <QString>

#include <cstddef>
#include <cstdint>

namespace qor::app {

// What the prompt depends on: the active tool (the editor's tool numbers 0..15), the clicks
// of the shape in progress and the tool settings shown in the text.
struct PromptContext {
    int tool = 0;
    std::size_t clicks = 0;
    bool hasPicks = false;
    int polygonSides = 6;
    double filletRadius = 3.0;
    sketch::ConstraintType constraintType = sketch::ConstraintType::Coincident;
};

// The next thing to do with the active tool; a null string for an unknown tool.
QString promptText(const PromptContext& context);

// How far the sketch is determined after the last solve and freedom analysis.
QString statusText(const sketch::Sketch& sketch, std::size_t conflictingCount, std::uint32_t dof);

// Adds the constraint unless it would over-determine the sketch; then it adds nothing, sets
// `refusal` to the message for the error toast and returns false. Neither takes a snapshot
// nor solves.
bool addConstraintChecked(sketch::Sketch& sketch, sketch::ConstraintType type, int a, int b, int c,
                          double value, QString& refusal);

} // namespace qor::app
