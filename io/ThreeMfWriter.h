#pragma once

#include "io/Export.h"

#include <QByteArray>

#include <vector>

namespace qor::io {

// The bytes of a 3MF package: one coloured base material per body and one mesh
// object per body that carries a triangulation. Does not tessellate. Empty only
// when the package would break the zip format's 4 GiB limit.
// When nonManifold is given, it receives for every body the number of edges of its object
// that more than two triangles share, which slicers refuse or repair at will.
QByteArray write3mf(const std::vector<ExportBody>& bodies, std::vector<int>* nonManifold = nullptr);

} // namespace qor::io
