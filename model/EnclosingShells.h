#pragma once

#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Shape.hxx>

#include <optional>

namespace qor::model {

// How a solid can fail to bound its material though the kernel's checker
// passes it: the checker's closure test leaves out faces turned INTERNAL, so
// a shell of nothing else counts as closed, and it asks no shell what it
// encloses.
enum class ShellFault {
    Open, // a shell has an edge that bounds only one of its faces, or no edge at all
    NoVolume, // a shell encloses no volume, or one of the wrong sign
};

// Which shells are measured: every one, or only the voids, where the outer
// shell is told by its box holding every other shell's box. The outer shell
// of a long history's body holds most of its faces, and measuring them cost
// as much as the rest of the judging of a boolean; whether it encloses
// material a point at infinity tells, which the right-result rule asks of
// every solid a boolean makes. Without such a box every shell is measured, and
// so is an outer shell of a few faces: cheap to measure, and a lone ball
// hollow turned inward is one the point at infinity misjudges.
enum class Measured { EveryShell, Voids };

// What is wrong with the shells of the solid, as it holds them: none when each
// closes and exactly one, its outer shell, encloses material while every other
// encloses a void (a negative volume) inside it: measured, the outer shell
// encloses the most. A shell enclosing less than a
// trillionth of the cube of its box's longest side encloses nothing.
std::optional<ShellFault> shellFault(const TopoDS_Shape& solid,
                                     Measured measured = Measured::EveryShell);

// The same for every solid of the shape, every shell measured; the first fault found.
std::optional<ShellFault> shellFaultOfSolids(const TopoDS_Shape& shape);

// Whether the result holds a face turned INTERNAL that no input had: neither
// one of their own INTERNAL faces nor a piece of one, on its surface. A
// boolean leaves such faces where it failed to tell material from a hollow:
// the walls of a hollow it filled instead of keeping.
bool strayInternalFaces(const TopoDS_Shape& result, const TopTools_ListOfShape& inputs);

} // namespace qor::model
