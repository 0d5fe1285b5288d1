#pragma once

#include "io/Export.h"

#include <QByteArray>

#include <vector>

namespace qor::io {

// The bytes of a 3MF package: one coloured base material per body and one mesh
// object per body that carries a triangulation. Does not tessellate. Empty only
// when the package would break the zip format's 4 GiB limit.
QByteArray write3mf(const std::vector<ExportBody>& bodies);

} // namespace qor::io
