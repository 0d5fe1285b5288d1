#pragma once

#include "io/Import.h"

#include <QString>

namespace qor::io {

// A Solid Edge part, sheet-metal part or assembly file: its summary properties become note
// lines, its thumbnail the preview, and every Parasolid transmission stored in its streams
// (plain or zlib-compressed) bodies. Never throws.
ImportResult readSolidEdge(const QString& path, const ProgressCallback& progress);

} // namespace qor::io
