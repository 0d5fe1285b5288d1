#pragma once

#include "io/sab/SabGeometry.h"

#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>

// Topology of ACIS binary data: bodies, lumps, shells, faces, loops and
// coedges become OpenCASCADE solids. Faces on surfaces without an exact
// conversion are rebuilt by filling their outer boundary.
namespace qor::io {

// One body record as a compound of solids, healed and placed by the body's own
// transformation, not yet scaled by the unit factor; null when no lump gives a
// solid. Failing faces are left out and counted in the builder. Throws when the
// body or transform record is too short or the transformation fails.
TopoDS_Shape buildSabBody(SabBuilder& builder, const SabRecord& body);

// One face record with all its loops; throws on any failure of the face.
TopoDS_Face buildSabFace(SabBuilder& builder, const SabRecord& face);

} // namespace qor::io
