#pragma once

#include <TopoDS_Shape.hxx>

namespace qor::io {

// The boundary-representation formats (STEP, IGES) cannot carry a bare
// triangulation, and so many faces make files of a size no reader copes with.
constexpr int maxSewnTriangles = 100000;

// A body that is only a triangulation as planar triangle faces: triangles that
// share an edge share it in the result, each connected piece becomes a shell,
// and a closed shell a solid. A null shape when the body has more than
// maxSewnTriangles triangles.
TopoDS_Shape sewnTriangleFaces(const TopoDS_Shape& mesh);

} // namespace qor::io
