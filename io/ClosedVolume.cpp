#include "io/ClosedVolume.h"

#include "io/MeshFaces.h"

#include <BRepGProp.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>

#include <cmath>

namespace qor::io {

double closedVolume(const TopoDS_Shape& shape)
{
    if (shape.IsNull())
        return 0.0;
    // A body read from a mesh format has no surfaces to integrate over.
    if (isMeshOnly(shape))
        return meshVolume(shape);
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props, true);
    return std::abs(props.Mass());
}

int closedSolidCount(const TopoDS_Shape& shape)
{
    int count = 0;
    for (TopExp_Explorer solid(shape, TopAbs_SOLID); solid.More(); solid.Next()) {
        TopExp_Explorer shell(solid.Current(), TopAbs_SHELL);
        bool closed = shell.More();
        for (; shell.More() && closed; shell.Next())
            closed = BRep_Tool::IsClosed(shell.Current());
        count += closed ? 1 : 0;
    }
    return count;
}

} // namespace qor::io
