#pragma once

#include <QString>

#include <TopoDS_Shape.hxx>

#include <vector>

namespace qor::io {

// The body's shape as IGES keeps its colour: the kernel's IGES writer puts a
// body's colour on its faces only when the body is no compound and has no
// placement of its own, so a compound of one shape is replaced by that shape and
// a placement is moved into the geometry.
TopoDS_Shape igesShape(const TopoDS_Shape& shape);

// One body as written, for the comparison with what an IGES file gives back.
struct IgesBody {
    TopoDS_Shape shape;
    QString name; // as written
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};

// How one body comes back from an IGES file differently from what was written:
// IGES carries faces (no solids), so its area and box are compared, and its colour and name;
// a body that was closed is compared by the closed solids and volume its faces close into
// again when the program reads the file (the reader sews faces into solids).
struct IgesChange {
    int index = -1; // of the body
    double areaPercent = 0.0; // change of the face area, 0 when within 0.1 %
    double boxShift = 0.0; // largest move of a box side in millimetres, 0 when within tolerance
    bool colourLost = false;
    bool nameLost = false; // read back under another name or none
    int solids = 0; // closed solids with volume of the body as written
    int solidsBack = 0; // closed solids read back, of a body that had some
    double volumePercent = 0.0; // change of the closed volume, 0 when within 0.1 %

    int solidsLost() const { return solids > solidsBack ? solids - solidsBack : 0; }
};

// What the IGES file gives back. `count` receives the number of bodies read
// (-1 when the file does not read) and `readError` (when given) the reader's line of a file
// that does not read; the changes list only bodies that differ, compared in file order, and
// is empty when the count differs.
std::vector<IgesChange> igesChanges(const QString& file, const std::vector<IgesBody>& bodies,
                                    int* count, QString* readError = nullptr);

// The export's note on an IGES file that did not read back, with the reader's reason (a limit
// it met names that limit) when its line gives one.
QString igesUnreadNote(const QString& readError);

} // namespace qor::io
