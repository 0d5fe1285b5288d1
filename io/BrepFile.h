#pragma once

#include <QString>

#include <TopoDS_Shape.hxx>

namespace qor::io {

// The failure text of a writer, with the reason when the system named one the
// user can act on: "… (Datenträger voll)" when it ran out of space.
QString writeFailureText(const QString& failure, int systemError);

// Writes the shape as text BREP with its triangulation (format version 3).
// False when the file could not be written completely; errno then says why.
// The kernel's own file writer throws std::bad_cast when its stream fails
// midway, as on a full disk; this one writes through a stream it watches.
bool writeBrepFile(const TopoDS_Shape& shape, const QString& path);

} // namespace qor::io
