#pragma once

#include <TopTools_MapOfShape.hxx>
#include <TopoDS_Shape.hxx>

namespace qor::model {

// Of `joins`, edges each between two faces of `shape` on one cylinder or one
// cone, those inside a group of faces joined through them that, laid out
// round the axis face after face across the edges between them, covers more
// than one full turn without any of its faces closing on a seam of its own.
// The kernel's merge of such a group into one face walks its outline without
// end; read from the faces' parameter ranges alone, the answer is the same on
// every machine.
TopTools_MapOfShape joinsBeyondOneTurn(const TopoDS_Shape& shape, const TopTools_MapOfShape& joins);

} // namespace qor::model
