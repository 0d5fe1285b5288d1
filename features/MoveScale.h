#pragma once

namespace qor::model {

class ExecContext;

// Executor of "move": the selected bodies turned by "angle" about "axis" and
// then shifted by ("dx", "dy", "dz"), in place or as new bodies ("copy").
void execMove(ExecContext& context);

// Executor of "scale": the selected bodies scaled by "factor" or, in mode
// "axes", by "fx", "fy", "fz" about the origin or their centre of mass, in
// place or as new bodies ("copy").
void execScale(ExecContext& context);

} // namespace qor::model
