#pragma once

#include "io/Export.h"

#include <QString>

#include <vector>

namespace qor::io {

// Writes the triangulations already on the bodies as one ASCII PLY mesh with
// vertex normals, the bodies' colours on their vertices and the body's index as
// the face's "SurfaceId". False when the file cannot be written completely.
bool writePly(const QString& path, const std::vector<ExportBody>& bodies, const QString& author);

} // namespace qor::io
