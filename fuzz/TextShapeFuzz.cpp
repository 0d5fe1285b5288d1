// libFuzzer target: text BREP through the structural check and, when it passes,
// through the kernel's reader. Anything the check lets through must read within
// the memory and time limits the fuzzer is run with.

#include "io/TextShapeCheck.h"

#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <Standard_Failure.hxx>
#include <TopoDS_Shape.hxx>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!qor::io::isSoundTextShape(text))
        return 0;
    std::istringstream stream(text);
    TopoDS_Shape shape;
    try {
        BRepTools::Read(shape, stream, BRep_Builder());
    } catch (const Standard_Failure&) {
        // The kernel's own refusal of a record is fine; only crashes and blow-ups count.
    }
    return 0;
}
