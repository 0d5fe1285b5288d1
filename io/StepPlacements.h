#pragma once

#include "io/Export.h"

#include <Interface_InterfaceModel.hxx>

#include <vector>

namespace qor::io {

// Bodies that show one shape, turned the same way and in one colour, at rigid
// placements other than the identity are placements of one part: written once
// with its placements referring to it, the file holds its geometry once. Written
// each as a part of its own with its own geometry, 4,096 placed cubes took 30 s
// to convert and 46,656 more than 25 minutes.
//
// The part of each body, numbered from 0 in the order of its first body; -1
// for a body written as a part of its own (a shape no other body places, a
// mirrored or scaled placement, which a STEP placement cannot hold, or none).
std::vector<int> sharedParts(const std::vector<ExportBody>& bodies);

// The writer names the usage of a part in a placement by a number, which
// readers take for the body's name: each gets the name of the placement
// that uses it, and a number of its own counted from 1 in the model's order.
// Bodies are never written as assemblies, so every usage in the model is that
// of a placement.
void namePlacements(const Handle(Interface_InterfaceModel)& model);

} // namespace qor::io
