#pragma once

#include <QString>

namespace qor::io {

// Why the file at path cannot be read as a document or model file, in German
// and naming the file; empty when it is a readable regular file. Only the
// file's status is looked at: a named pipe, a device or a folder is never
// opened (opening a pipe blocks until someone writes to it).
QString unreadableFileMessage(const QString& path);

} // namespace qor::io
