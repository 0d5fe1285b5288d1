#include "features/BodyEditing.h"

#include "model/References.h"
#include "sketch/Plane.h"

#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>
#include <TopoDS_Solid.hxx>

#include <algorithm>
#include <vector>

namespace qor::model {
namespace {

// A new forward solid of the reversed shells, so that the faces point out of
// the material whatever orientation the caller composes on top.
TopoDS_Shape turnedOutward(const TopoDS_Shape& solid)
{
    BRep_Builder builder;
    TopoDS_Solid turned;
    builder.MakeSolid(turned);
    for (TopoDS_Iterator it(solid); it.More(); it.Next())
        builder.Add(turned, it.Value().Reversed());
    return turned;
}

} // namespace

double signedVolume(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props, Standard_False, Standard_False, Standard_False);
    return props.Mass();
}

double totalVolume(const ModelState& state)
{
    double sum = 0.0;
    for (const auto& [id, body] : state.bodies)
        sum += shapeVolume(body.shape);
    return sum;
}

std::vector<TopoDS_Shape> solidsOf(const TopoDS_Shape& shape)
{
    std::vector<TopoDS_Shape> solids;
    for (TopExp_Explorer it(shape, TopAbs_SOLID); it.More(); it.Next())
        solids.push_back(it.Current());
    return solids;
}

std::vector<int> selectedBodiesOnce(const ExecContext& context, const QString& key)
{
    std::vector<int> once;
    for (const int id : resolveTargetBodies(context, key)) {
        if (std::find(once.begin(), once.end(), id) == once.end())
            once.push_back(id);
    }
    return once;
}

TopoDS_Shape outwardOriented(const TopoDS_Shape& shape)
{
    if (shape.IsNull())
        return shape;
    if (shape.ShapeType() == TopAbs_SOLID)
        return signedVolume(shape) < 0.0 ? turnedOutward(shape) : shape;
    if (shape.ShapeType() != TopAbs_COMPOUND && shape.ShapeType() != TopAbs_COMPSOLID)
        return shape; // shells, faces and below hold no solid

    bool changed = false;
    std::vector<TopoDS_Shape> children;
    for (TopoDS_Iterator it(shape); it.More(); it.Next()) {
        children.push_back(outwardOriented(it.Value()));
        changed = changed || !children.back().IsEqual(it.Value());
    }
    if (!changed)
        return shape;
    return compoundOf(children);
}

} // namespace qor::model
