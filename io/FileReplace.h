#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <functional>

namespace qor::io {

// What the user is told when writing failed, from the file that failed (its error and
// name); the reason the user can act on is added to it (writeFailureText:
// "… (Datenträger voll)").
using WriteProblem = std::function<QString(const QFileDevice& file)>;

// Replaces the file at path by bytes. They go to a temporary file beside the target
// (so the final rename stays on one file system), which takes the target's place only
// once every byte is on the disk; otherwise the old file stays as it was and the
// temporary file is removed. Empty on success, else the problem with its reason.
QString replaceFile(const QString& path, const QByteArray& bytes, const WriteProblem& problem);

// The same with one text for every failure.
QString replaceFile(const QString& path, const QByteArray& bytes, const QString& failure);

} // namespace qor::io
