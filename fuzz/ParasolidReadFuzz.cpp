// libFuzzer target: Parasolid neutral binary data through the whole reader, faces,
// edges, approximations, healing, sewing and scaling included. readParasolid promises not
// to throw, so an escaping exception is a finding like a crash, a hang or a leak.

#include "io/xt/ParasolidReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString message;
    qor::io::readParasolid(bytes, &message);
    return 0;
}
