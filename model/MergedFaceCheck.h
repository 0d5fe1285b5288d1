#pragma once

#include "model/ChangedFaces.h"

#include <TopoDS_Face.hxx>

#include <optional>

namespace qor::model {

// The face whose checks decide, for a face a merge made, what the checks of
// the made face decide between it and the faces it replaced. A wire of a made
// plane face is carried when a replaced face on the same surface, placed
// alike, has a wire of the very same oriented edges: its own checks give the
// same result in both faces. So the made face is checked as a face on its
// surface with its enclosing wire, its changed wires and those carried wires
// whose boxes meet a changed hole's box or a changed enclosing wire's edge's
// box; other carried wires can neither cross a changed wire nor leave the
// region, which a merge only grows. None when no wire changed; the made face
// itself when it is no plane or its wires cannot be measured or told apart.
std::optional<TopoDS_Face> mergedFaceToCheck(const TopoDS_Face& made,
                                             const TopTools_ListOfShape& replaced);

// Whether the faces the merge made pass the kernel's checks where they differ
// from the faces it replaced. Where the replaced faces pass them, this is
// facesSound(changed.made); where they fail in a carried wire, so does the
// made face, though this may pass it.
bool mergedFacesSound(const ChangedFaces& changed);

// The faces the merge made that fail the checks mergedFacesSound runs, each
// checked on its own.
TopTools_ListOfShape unsoundMergedFaces(const ChangedFaces& changed);

} // namespace qor::model
