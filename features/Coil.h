#pragma once

namespace qor::model {

class ExecContext;

// Executor of "coil": a round or square wire swept along a helix about the
// "axis" reference and applied with the boolean mode. The section stays in the
// plane through the axis, so the spring's volume is section area × 2π × radius
// × turns.
void execCoil(ExecContext& context);

} // namespace qor::model
