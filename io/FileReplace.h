#pragma once

#include <QByteArray>
#include <QString>

namespace qor::io {

// Replaces the file at path by bytes. They go to a temporary file beside the target
// (so the final rename stays on one file system), which takes the target's place only
// once every byte is on the disk; otherwise the old file stays as it was and the
// temporary file is removed. Empty on success, else failure followed by the reason
// the user can act on (writeFailureText: "… (Datenträger voll)").
QString replaceFile(const QString& path, const QByteArray& bytes, const QString& failure);

} // namespace qor::io
