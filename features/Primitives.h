#pragma once

#include <gp_Ax3.hxx>

namespace qor::model {

class ExecContext;

// The placement shared by the primitives: the "plane" reference moved to the
// point ("x", "y") of that plane; main direction the plane normal, Y = N × X.
gp_Ax3 primitiveFrame(ExecContext& context);

// Executor of "box": centred on the frame's point in X and Y, standing on the
// plane and reaching "height" along its normal.
void execBox(ExecContext& context);

} // namespace qor::model
