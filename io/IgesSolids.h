#pragma once

#include "io/Import.h"

#include <TopoDS_Shape.hxx>

#include <vector>

namespace qor::io {

// IGES carries most bodies as trimmed faces without a solid entity, as the kernel's writer
// and the program's own export in face form write them: read as they are, such bodies hold
// no volume and no boolean takes them. The faces of the shape sewn at the tolerance and
// closed into solids, or a null shape when they do not close into valid solids of positive
// volume that hold the faces read (their number and their area).
TopoDS_Shape closedFaces(const TopoDS_Shape& faces, double tolerance);

// Turns the faces of each body into its solid where closedFaces finds one, sewn at the file's
// resolution or, where the reader had to widen them, at the largest tolerance of the body's
// edges and corners; a body that already has a solid, or whose faces do not close, stays as
// read. The number of bodies left with faces only.
int closeFaceBodies(std::vector<ImportedBody>& bodies, double resolution);

// The note of an import whose bodies stayed open: "Der Körper hat kein geschlossenes
// Volumen …" for the only body, "2 von 5 Körpern haben kein geschlossenes Volumen …".
QString openBodiesText(long long open, long long total);

} // namespace qor::io
