#pragma once

#include <QString>
#include <QtGlobal>

namespace qor::io {

// The bytes of the file at path that hold data a reader works on: an IGES file's
// records outside its start section (free text), a STEP file's bytes outside its
// comments, any other file whole. Padding a file with comments buys no processor time.
qint64 dataBytes(const QString& path);

} // namespace qor::io
