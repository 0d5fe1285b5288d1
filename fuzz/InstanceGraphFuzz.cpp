// libFuzzer target: the scans that run before the kernel sees a file (STEP nesting and
// assembly placements, IGES subfigure placements, glTF node placements) and the decoding of
// a reader process's answer. The first byte picks the scan; none may crash, hang or take
// memory out of proportion to the input, and a counted graph is either finite or refused.

#include "io/NestingCheck.h"
#include "io/ReaderProcess.h"

#include <QBuffer>
#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    switch (data[0] % 4) {
    case 0: {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        qor::io::scanStepNesting(buffer, qor::io::maxStepParens);
        break;
    }
    case 1: qor::io::igesPlacements(bytes); break;
    case 2: qor::io::gltfPlacements(bytes); break;
    default: {
        qor::io::ImportResult result;
        qor::io::ReadStop stop = qor::io::ReadStop::none;
        qor::io::decodeResult(bytes, result, stop);
        break;
    }
    }
    return 0;
}
