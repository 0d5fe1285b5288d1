#include "features/KernelGuards.h"

#include "model/ExecContext.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRepLProp_SLProps.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>

namespace qor::model {

TopoDS_Shape cleanedResult(const TopoDS_Shape& shape)
{
    return outwardOriented(unifySameDomain(shape));
}

bool offsetsStayProper(const TopoDS_Shape& shape, double from, double to)
{
    if (shape.ShapeType() != TopAbs_FACE)
        return true;
    const TopoDS_Face& face = TopoDS::Face(shape);
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
    BRepTools::UVBounds(face, u0, u1, v0, v1);
    const BRepAdaptor_Surface surface(face);
    BRepLProp_SLProps props(surface, 2, 1e-9);
    // Curvatures are signed against the surface normal, offsets go along the face's.
    const double sense = face.Orientation() == TopAbs_REVERSED ? -1.0 : 1.0;
    constexpr int steps = 8;
    for (int i = 0; i <= steps; ++i) {
        for (int j = 0; j <= steps; ++j) {
            props.SetParameters(u0 + (u1 - u0) * i / steps, v0 + (v1 - v0) * j / steps);
            if (!props.IsCurvatureDefined())
                continue;
            for (const double k : {props.MinCurvature(), props.MaxCurvature()}) {
                for (const double s : {from, to}) {
                    if (1.0 - sense * s * k <= 1e-6)
                        return false;
                }
            }
        }
    }
    return true;
}

void buildBody(ExecContext& context, int bodyId, BRepBuilderAPI_MakeShape& builder,
               const QString& failure)
{
    runKernel(failure, [&] { builder.Build(); });
    // Where the new faces just meet (four chamfers of half a face's width) the
    // kernel reports success but returns a broken solid.
    if (!builder.IsDone() || !BRepCheck_Analyzer(builder.Shape()).IsValid())
        throw FeatureError(failure);
    context.setBody(bodyId, cleanedResult(builder.Shape()));
}

} // namespace qor::model
