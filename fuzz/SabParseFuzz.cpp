// libFuzzer target: ACIS binary data through the stream reader and, record by
// record, through the geometry conversion, with the per-record guard the face
// builder puts around it. Only a crash, a hang or a leak is a finding.

#include "io/sab/SabGeometry.h"

#include <QByteArray>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>

#include <cstddef>
#include <cstdint>

using namespace qor::io;

static void convert(SabBuilder& builder, const SabRecord& record)
{
    try {
        OCC_CATCH_SIGNALS
        if (record.type == "vertex")
            builder.vertexFor(record);
        else if (record.type == "edge")
            builder.edgeFor(record);
        else if (record.type.ends_with("-surface"))
            builder.surfaceFor(record);
        else if (record.type.ends_with("-curve"))
            builder.curveFor(record);
    } catch (const SabError&) {
    } catch (const Standard_Failure&) {
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    SabReader reader;
    try {
        reader.read(bytes);
    } catch (const SabError&) {
        return 0;
    }
    SabBuilder builder(reader);
    for (const SabRecord& record : reader.records)
        convert(builder, record);
    return 0;
}
