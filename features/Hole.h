#pragma once

namespace qor::model {

class ExecContext;

// Executor of "hole": a plain, counterbored or countersunk hole at every free
// point of the "points" sketch (or, without any, at the centre of every circle),
// drilled against the sketch normal to a depth or through everything. A
// threaded hole leaves a thread mark per point; a modelled thread also cuts the
// helical groove, drill and groove fused into one tool per point so that the
// feature's tool record repeats the whole threaded hole.
void execHole(ExecContext& context);

} // namespace qor::model
