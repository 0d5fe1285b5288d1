#pragma once

#include "io/Import.h"

#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>

#include <QStringList>

#include <vector>

namespace qor::io {

// IGES carries most bodies as trimmed faces without a solid entity, as the kernel's writer
// and the program's own export in face form write them: read as they are, such bodies hold
// no volume and no boolean takes them. The faces are sewn at a tolerance and every shell
// that closes becomes a solid of its own. A closed shell inside another is that solid's void
// only when its faces as read turn towards its inside (they enclose a negative volume); a
// shell turned outward inside another is a solid of its own (a pin half inside a housing, a
// part inside a part).

// Why faces stay faces.
enum class OpenReason {
    None,
    NotClosed, // edges without a partner: the faces close into no shell
    NoValidSolid, // the shells close, but their solid is not valid or does not hold the faces
};

// What sewing made of a set of faces: the solids of the shells that close, each with the
// positions of its faces in the set, and the positions of the faces left outside them.
struct FaceClosure {
    std::vector<TopoDS_Shape> solids;
    std::vector<std::vector<int>> solidFaces;
    std::vector<int> open;
    OpenReason reason = OpenReason::None; // of the open faces
};

// The faces sewn at the tolerance and closed into solids.
FaceClosure closeFaces(const std::vector<TopoDS_Face>& faces, double tolerance);

// The faces of a body closed into solids: first each group of faces the file keeps apart
// (the faces of one compound), so that solids which touch stay apart, then the faces left
// over from all groups together.
FaceClosure closeBody(const TopoDS_Shape& body, double tolerance);

// Bodies left with faces only, by their reason.
struct OpenBodies {
    long long notClosed = 0;
    long long noValidSolid = 0;
};

// Turns the faces of each body into its solids where they close, sewn at the file's
// resolution or, where the reader had to widen them, at the largest tolerance of the body's
// edges and corners; a body that already has a solid, or whose faces do not all close, stays
// as read. Bodies of one face each (a file that keeps every face as an entity of its own) are
// sewn all together, not one by one, so that a ball's face inside a shell of other faces is
// its void: each solid they close into becomes a body in the place, and with the name and
// colour, of the first of them. The bodies left open.
OpenBodies closeFaceBodies(std::vector<ImportedBody>& bodies, double resolution);

// The notes of an import whose bodies stayed open, one per reason: "Der Körper hat kein
// geschlossenes Volumen …" for the only body, "2 von 5 Körpern haben kein geschlossenes
// Volumen …".
QStringList openBodiesNotes(const OpenBodies& open, long long total);

} // namespace qor::io
