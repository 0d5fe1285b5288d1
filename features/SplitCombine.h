#pragma once

namespace qor::model {

class ExecContext;

// Executor of "split": every selected body cut by "plane"; the body keeps the
// first piece and each further piece becomes a new body. A body that the plane
// misses stays as it is and the feature warns.
void execSplit(ExecContext& context);

// Executor of "combine": the "tools" bodies joined to, cut from or intersected
// with the first "target" body ("op"), then removed unless "keepTools".
void execCombine(ExecContext& context);

} // namespace qor::model
