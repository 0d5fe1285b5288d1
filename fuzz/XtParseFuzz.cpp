// libFuzzer target for the Parasolid neutral binary parser and the B-spline decoding.
#include "io/xt/XtGeometry.h"

#include <Standard_Failure.hxx>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const qor::io::XtModel model = qor::io::parseXtBinary(bytes);
        for (const auto& [index, node] : model.nodes) {
            qor::io::xtNextChain(model, &node);
            int dim = 0;
            try {
                if (node.type == 134)
                    qor::io::readXtNurbs(model, node, dim);
                if (node.type == 124)
                    qor::io::readXtNurbsSurface(model, node);
            } catch (const qor::io::XtError&) {
            } catch (const Standard_Failure&) {
            }
        }
    } catch (const qor::io::XtError&) {
    }
    return 0;
}
