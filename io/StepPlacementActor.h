#pragma once

#include <STEPCAFControl_Reader.hxx>

namespace qor::io {

// Lets the reader place the parts of an assembly in time that grows with the number of
// placements, not with its square. The kernel's transfer of one placement looks through
// every relationship that names the placed part's representation and every item of the
// assembly's representation: one assembly placing one part 10,000 times took almost a
// minute. The placements are transferred here first, in the kernel's order and by its
// rules, from indexes built once; the kernel's transfer of the assemblies then finds them
// done. Placements of unusual form (a shape link without both representations, a part
// without shape) are left to the kernel. To be called after ReadFile and before Transfer.
void placeByIndex(STEPCAFControl_Reader& reader);

} // namespace qor::io
