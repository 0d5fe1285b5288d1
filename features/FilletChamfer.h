#pragma once

namespace qor::model {

class ExecContext;

// Executors of "fillet" and "chamfer": the "edges" of each body rounded or
// bevelled in place, one build per body in ascending body id order.
void execFillet(ExecContext& context);
void execChamfer(ExecContext& context);

} // namespace qor::model
