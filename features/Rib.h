#pragma once

namespace qor::model {

class ExecContext;

// Executor of "rib": every straight line of the "sketch" becomes a web of
// "thickness", centred on the sketch plane, that fills the space between the line
// and the first of the bodies ("targets", else all in id order) that closes it off.
void execRib(ExecContext& context);

} // namespace qor::model
