#pragma once

#include "io/MeshFaces.h"

#include <TopoDS_Shape.hxx>

namespace qor::io {

// The body as every mesh writer is given it: a compound of its shells and loose
// faces, each face a copy holding its triangles in world coordinates, without a
// placement, forward and wound to face out as FaceWinding says, with the normals
// of its surface (turned to agree with the winding) where it has one. The nodes
// that the merge grid of mergedMesh takes as one are given the same coordinates,
// bit for bit, in every face. Writers that place each face's nodes themselves
// would otherwise write a corner two faces share at two positions a last bit
// apart wherever the faces are placed differently, and a reader that joins only
// equal corners would find a crack.
TopoDS_Shape writtenMesh(const TopoDS_Shape& shape);

// The triangles of such a body with the nodes merged where their coordinates
// are equal, as the file holds them: what a reader that joins only equal
// corners finds.
IndexedMesh meshAsWritten(const TopoDS_Shape& written);

} // namespace qor::io
