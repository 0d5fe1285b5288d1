#pragma once

#include "features/ToolBodies.h"

#include <QString>

namespace qor::model {

class ExecContext;

// Applies the tool with "op" to the "targets" bodies, built reversed when "flip"
// is set. An unflipped cut that removes nothing is undone without a trace and
// retried with the reversed tool, whose outcome stands.
void profileFeature(ExecContext& context, const ToolCallback& tool, const QString& op);

// Executors of "extrude" and "revolve": the "profile" regions made into a tool
// solid and applied by the boolean mode.
void execExtrude(ExecContext& context);
void execRevolve(ExecContext& context);

} // namespace qor::model
