#pragma once

#include <QString>

#include <TopoDS_Shape.hxx>
#include <gp_Ax1.hxx>
#include <gp_Ax3.hxx>

#include <functional>

namespace qor::model {

class ExecContext;

// Builds a feature's tool solid: reversed == false as parameterised, true on the
// other side of the sketch plane (extrusion) or in the other sense about the axis
// (revolution). Writes nothing to the modelling state.
using ToolCallback = std::function<TopoDS_Shape(bool reversed)>;

// Extrusion of the profile along the plane's normal by the "extent" text ("sym",
// "two", "all", "allboth", anything else one distance). "distance" and "distance2"
// are read from the context at every call. The context must outlive the callback.
ToolCallback extrudeTool(ExecContext& context, const TopoDS_Shape& profile, const gp_Ax3& plane,
                         const QString& extent, double taperDeg);

// Revolution of the profile about the axis by the angle in degrees; from
// 359.999999999 degrees on a closed full turn. "symmetric" is read from the context
// at every call.
ToolCallback revolveTool(ExecContext& context, const TopoDS_Shape& profile, const gp_Ax1& axis,
                         double angleDeg);

} // namespace qor::model
