#include "io/ClosedVolume.h"

#include "io/MeshFaces.h"

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>

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

} // namespace qor::io
