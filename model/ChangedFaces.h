#pragma once

#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Shape.hxx>

namespace qor::model {

// The faces a boolean or a merge changed: those its result has and its inputs
// lack, and those the inputs have and the result lacks. Faces both hold are
// the same faces, untouched.
struct ChangedFaces {
    TopTools_ListOfShape made;
    TopTools_ListOfShape replaced;
};

ChangedFaces changedFaces(const TopoDS_Shape& result, const TopTools_ListOfShape& inputs);

// Whether the faces with their wires, edges and vertices pass the kernel's
// checks, geometry included. Checking only the faces an operation changed
// costs a fraction of checking the body.
bool facesSound(const TopTools_ListOfShape& faces);

} // namespace qor::model
