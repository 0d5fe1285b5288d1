#pragma once

#include "io/Import.h"

#include <QString>

namespace qor::io {

// A Solid Edge part, sheet-metal part or assembly file: its summary properties become note
// lines, its thumbnail the preview, and every Parasolid transmission stored in its streams
// (plain or zlib-compressed) bodies. Never throws. cancelled (when set) is asked between
// streams, transmissions, faces and bodies and ends the read with an error.
ImportResult readSolidEdge(const QString& path, const ProgressCallback& progress,
                           const CancelCheck& cancelled = {});

// The same for the bytes of such a file; path gives the format by its suffix and the body
// names by its base name and is not opened.
ImportResult readSolidEdgeData(const QByteArray& bytes, const QString& path,
                               const ProgressCallback& progress, const CancelCheck& cancelled);

} // namespace qor::io
