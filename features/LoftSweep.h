#pragma once

namespace qor::model {

class ExecContext;

// Executor of "loft": a solid through the outer outlines of the "sections", one
// region each, in the order they are stored; applied by the boolean mode.
void execLoft(ExecContext& context);

// Executor of "sweep": every face of the "profile" swept along the "path" wire,
// holes swept and cut out as well; the pieces fused and applied by the boolean
// mode.
void execSweep(ExecContext& context);

} // namespace qor::model
