#include "model/ChangedFaces.h"

#include "model/ShapeValidity.h"

#include <BRep_Builder.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Compound.hxx>

namespace qor::model {

ChangedFaces changedFaces(const TopoDS_Shape& result, const TopTools_ListOfShape& inputs)
{
    TopTools_IndexedMapOfShape before;
    for (const TopoDS_Shape& input : inputs)
        TopExp::MapShapes(input, TopAbs_FACE, before);
    TopTools_IndexedMapOfShape after;
    TopExp::MapShapes(result, TopAbs_FACE, after);
    ChangedFaces changed;
    for (int i = 1; i <= after.Extent(); ++i) {
        if (!before.Contains(after(i)))
            changed.made.Append(after(i));
    }
    for (int i = 1; i <= before.Extent(); ++i) {
        if (!after.Contains(before(i)))
            changed.replaced.Append(before(i));
    }
    return changed;
}

bool facesSound(const TopTools_ListOfShape& faces)
{
    if (faces.IsEmpty())
        return true;
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    for (const TopoDS_Shape& face : faces)
        builder.Add(compound, face);
    return validShape(compound);
}

} // namespace qor::model
