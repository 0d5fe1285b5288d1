#pragma once

#include "drawing/DrawingSheet.h"

#include <QString>

namespace qor::model {
class Document;
}

namespace qor::app {

class ProjectionCache;

// The filter list of the export dialog; the first entry is the default.
QString drawingExportFilters();

// The path to write: a name whose suffix is not one of the export formats (none at
// all, or another one) gets the selected filter's extension appended.
QString drawingExportPath(const QString& chosen, const QString& selectedFilter);

// Writes the sheet to path in the format its suffix names: PDF of the paper size,
// SVG at 4 units per millimetre, PNG at 300 dpi (stored in the file), or DXF R12. The file
// is made whole beside the target and takes its place only when complete, so a failed
// export leaves the old file as it was. False when nothing was written, including for
// any other suffix; error then says why ("… (Datenträger voll).").
bool writeDrawing(ProjectionCache& cache, const qor::model::Document& document,
                  const Drawing& sheet, const QString& path, QString* error = nullptr);

} // namespace qor::app
