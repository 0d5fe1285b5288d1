#pragma once

namespace qor::model {

class ExecContext;

// Executor of "shell": hollows bodies to a wall thickness, open at the picked
// "faces" of each body, closed (an inner void) for the "bodies" without faces.
void execShell(ExecContext& context);

// Executor of "thicken": the picked faces grown into solids of a thickness and
// applied with the boolean mode; without targets each body takes the solids of
// its own faces.
void execThicken(ExecContext& context);

} // namespace qor::model
