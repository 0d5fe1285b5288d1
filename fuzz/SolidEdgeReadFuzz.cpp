// libFuzzer target: a Solid Edge part through the whole reader: the compound file, the
// summary properties and thumbnail, the candidate search with inflation and every
// transmission through the Parasolid reader. readSolidEdgeData promises not to throw.

#include "io/SolidEdgePart.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    qor::io::readSolidEdgeData(bytes, QStringLiteral("fuzz.par"), {}, {});
    return 0;
}
