#pragma once

namespace qor::model {

class ExecContext;

// Construction plane ("plane") and axis ("axis"): stored in the state's planes and
// axes under the feature's id for later plane and axis references. No body changes.
void execPlane(ExecContext& context);
void execAxis(ExecContext& context);

} // namespace qor::model
