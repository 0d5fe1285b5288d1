// libFuzzer target: ACIS binary data through the whole body reader, faces,
// filling, healing and placement included. readSab promises not to throw, so
// an escaping exception is a finding like a crash, a hang or a leak.

#include "io/sab/SabReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString message;
    qor::io::readSab(bytes, &message);
    return 0;
}
