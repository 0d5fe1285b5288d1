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

// Executors of "cylinder" (base circle on the frame, rising along its normal),
// "sphere" (centred on the frame's point, poles on the normal) and "torus"
// (ring in the plane around the frame's point); "diameter" of the ring's centre
// circle and "tube" of the tube.
void execCylinder(ExecContext& context);
void execSphere(ExecContext& context);
void execTorus(ExecContext& context);

} // namespace qor::model
