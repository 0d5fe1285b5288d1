// libFuzzer target: binary shape data through the structural check and, when it
// passes, through the kernel's reader. Anything the check lets through must read
// within the memory and time limits the fuzzer is run with.

#include "io/ShapeText.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    qor::io::readShapeBytes(bytes);
    return 0;
}
