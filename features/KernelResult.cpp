#include "features/KernelResult.h"

#include "model/ExecContext.h"

#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>

namespace qor::model {
namespace {

double signedVolume(const TopoDS_Shape& solid)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(solid, props, Standard_False, Standard_False, Standard_False);
    return props.Mass();
}

} // namespace

TopoDS_Shape outwardOriented(const TopoDS_Shape& shape)
{
    if (shape.IsNull())
        return shape;
    switch (shape.ShapeType()) {
    case TopAbs_SOLID:
        return signedVolume(shape) < 0.0 ? shape.Reversed() : shape;
    case TopAbs_COMPOUND:
    case TopAbs_COMPSOLID: {
        BRep_Builder builder;
        TopoDS_Compound result;
        builder.MakeCompound(result);
        bool changed = false;
        for (TopoDS_Iterator it(shape); it.More(); it.Next()) {
            const TopoDS_Shape part = outwardOriented(it.Value());
            changed = changed || !part.IsEqual(it.Value());
            builder.Add(result, part);
        }
        return changed ? TopoDS_Shape(result) : shape;
    }
    default:
        return shape;
    }
}

TopoDS_Shape cleanedResult(const TopoDS_Shape& shape)
{
    return outwardOriented(unifySameDomain(shape));
}

void buildBody(ExecContext& context, int bodyId, BRepBuilderAPI_MakeShape& builder,
               const QString& failure)
{
    runKernel(failure, [&] { builder.Build(); });
    if (!builder.IsDone())
        throw FeatureError(failure);
    context.setBody(bodyId, cleanedResult(builder.Shape()));
}

} // namespace qor::model
