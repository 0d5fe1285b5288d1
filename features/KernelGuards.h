#pragma once

#include "features/BodyEditing.h"
#include "model/Document.h"

#include <QString>

#include <BRepBuilderAPI_MakeShape.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopoDS_Shape.hxx>

namespace qor::model {

class ExecContext;

// Runs kernel calls whose exceptions mean that the operation cannot be built:
// they leave as FeatureError(failure), so the user reads the feature's own
// message instead of a kernel class name.
template <typename Call> void runKernel(const QString& failure, Call&& call)
{
    try {
        OCC_CATCH_SIGNALS
        call();
    } catch (const Standard_Failure&) {
        throw FeatureError(failure);
    }
}

// A builder's result made ready to replace a body: same-domain faces merged and
// every solid oriented outward.
TopoDS_Shape cleanedResult(const TopoDS_Shape& shape);

// Whether the offsets of a face by every distance between from and to, along its
// outer side, are proper surfaces. Past a centre of curvature the offset surface
// turns inside out; the kernel builds on it without complaint and the result
// comes out wrong. Sampled on a grid of the face's parameters; anything but a
// face passes.
bool offsetsStayProper(const TopoDS_Shape& face, double from, double to);

// Runs the builder and replaces the body with its cleaned result; a builder
// that throws, is not done or returns an invalid shape ends the feature with
// failure.
void buildBody(ExecContext& context, int bodyId, BRepBuilderAPI_MakeShape& builder,
               const QString& failure);

} // namespace qor::model
