#pragma once

#include "io/Import.h"

#include <QString>

#include <TopoDS_Shape.hxx>

#include <vector>

namespace qor::io {

// One body to write.
struct ExportBody {
    QString name;
    TopoDS_Shape shape; // millimetres, with its location
    // Display colour, sRGB components from 0 to 1.
    double r = 0.72;
    double g = 0.76;
    double b = 0.82;
};

// The name a body is written and noted under: its own, or for a body without
// one "Körper N" by its place in the list.
QString writtenName(const std::vector<ExportBody>& bodies, std::size_t index);

struct ExportOptions {
    // Tessellation before mesh exports: absolute chord deviation in millimetres
    // and the angle between adjacent facets in radians.
    double linearDeflection = 0.02;
    double angularDeflection = 0.3;
    // Mesh exports hold about this many triangles at most, and no face more than
    // 100,000 (the mesher's memory grows much faster than a face's triangles):
    // beyond either the linear deflection is coarsened, and the export notes that it was.
    long long triangleBudget = 4'000'000;
    bool binary = true; // STL only
    QString stepSchema = QStringLiteral("AP242"); // "AP203", "AP214"; anything else is AP242
    // The kernel's STEP writer seeks each label it is given from the start of
    // their list when it writes their colours, so that its time grows with their
    // square; each call relates the whole model twice. It is given this many
    // bodies at a time, which costs least for tens of thousands (a conversion of
    // 46,656 placements: 14 s of processor time, against 21 s in batches of 4,096
    // and 18 s in one).
    int stepBatch = 16384;
    QString author; // OBJ, glTF/GLB and PLY metadata
};

// Writes the bodies to path in the format its lower-case suffix names. The file
// is written beside the target first and moved into place only when the writer
// succeeded, so a failed export never damages an existing file. On failure,
// error (when not null) receives a German text, naming a full disk where the
// system reported one. A successful export that had to leave something out or
// coarsen the mesh (naming the bound that acted), whose STEP file does not give
// back a body's volume (after the repairs tried), whose IGES file does not give
// back a body's face area, box or colour, or whose mesh has edges that more than
// two triangles share says so in note (when not null). Every mesh format leaves
// out triangles whose corners coincide and meshes a body whose faces the mesher
// left empty or collapsed another way (healed, as B-splines, at a finer
// deflection); faces still without triangles are counted in the note. A body
// whose tolerances are not finite is refused. progress (when set) receives
// 0..100 and a label; when cancelled (when set) answers true, the export ends
// with the error "Export abgebrochen" and leaves the target as it was.
bool exportFile(const QString& path, const std::vector<ExportBody>& bodies,
                const ExportOptions& options, QString* error = nullptr, QString* note = nullptr,
                const ProgressCallback& progress = {}, const CancelCheck& cancelled = {});

} // namespace qor::io
