#pragma once

#include "io/Import.h"

namespace qor::io {

// Reads a Fusion design archive (".f3d", ".f3z"): the ACIS body data of the
// archive and of archives nested in it, the first preview image and notes.
// Bodies are named after the file. Never throws. cancelled (when set) is asked between
// body streams, faces and bodies and ends the read with an error.
ImportResult readFusion(const QString& path, const ProgressCallback& progress,
                        const CancelCheck& cancelled = {});

} // namespace qor::io
