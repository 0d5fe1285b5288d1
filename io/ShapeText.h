#pragma once

#include <QByteArray>
#include <QString>

#include <TopoDS_Shape.hxx>

namespace qor::io {

// One line of text for a shape in JSON and on the clipboard: the kernel's binary
// format (version 4, triangulations, no normals), qCompress at level 6, Base64.
// Kernel exceptions of the writer reach the caller.
QString shapeToBase64(const TopoDS_Shape& shape);

// The shape of such a text; a null shape when the text is empty, damaged,
// declares an implausible size or holds no readable shape. Never throws.
TopoDS_Shape shapeFromBase64(const QString& text);

// The two steps of shapeFromBase64, for callers that report them apart.
// The decompressed binary data of the text; empty when there is none.
QByteArray shapeTextBytes(const QString& text);
// The shape in binary data; null when the data fails the structural check or the
// reader rejects it. Never throws.
TopoDS_Shape readShapeBytes(const QByteArray& data);

} // namespace qor::io
