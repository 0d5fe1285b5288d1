#pragma once

namespace qor::model {

class ExecContext;

// Sketch ("sketch"): drives the dimensions from their expressions, solves the
// sketch and places it on its plane in the state's planes and sketches. Makes
// no body; dimension and solve problems are warnings of the feature.
void execSketch(ExecContext& context);

} // namespace qor::model
