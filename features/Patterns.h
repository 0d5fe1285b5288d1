#pragma once

namespace qor::model {

class ExecContext;

// Executors of "pattern_rect" (a grid along one or two directions),
// "pattern_circ" (copies about an axis) and "pattern_path" (copies along a
// connected path, optionally turned with it). Each counts the original as one
// instance and hands the copies' transforms to patternFeature.
void execPatternRect(ExecContext& context);
void execPatternCirc(ExecContext& context);
void execPatternPath(ExecContext& context);

} // namespace qor::model
