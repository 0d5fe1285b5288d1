#pragma once

namespace qor::model {

class ExecContext;

// Executor of "import": the bodies kept in the feature's "brep" text, named by
// "names" and, on first use of a body id, coloured by "colors"; "split" makes
// every child of a compound a body of its own.
void execImport(ExecContext& context);

} // namespace qor::model
