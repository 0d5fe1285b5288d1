#pragma once

namespace qor::model {

class ExecContext;

// Executor of "thread": an ISO metric thread on each selected cylindrical face,
// internal when the face looks towards its axis (a bore), external otherwise. Every
// face leaves a thread mark; a modelled thread also cuts its helical groove into
// the body that the face belongs to.
void execThread(ExecContext& context);

} // namespace qor::model
