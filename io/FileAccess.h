#pragma once

#include <QByteArray>
#include <QString>

namespace qor::io {

// Why the file at path cannot be read as a document or model file, in German
// and naming the file; empty when it is a readable regular file. Only the
// file's status is looked at: a named pipe, a device or a folder is never
// opened (opening a pipe blocks until someone writes to it).
QString unreadableFileMessage(const QString& path);

// Why a saved or exported file must not take the place of what is at path, in
// German and naming the file; empty when path names a regular file or nothing
// yet. A named pipe, a device, a socket or a folder is neither written into nor
// replaced by a regular file.
QString unreplaceableFileMessage(const QString& path);
// The same for a path given as bytes, which need not be valid UTF-8; the file is named by
// what can be shown of it.
QString unreplaceableFileMessage(const QByteArray& path);

// The whole content of a file, or the German reason why it was not read.
struct FileContent {
    QByteArray bytes;
    QString error; // empty when bytes holds the whole file
};

// Reads the regular file at path whole. Refused, with a reason naming the file:
// what unreadableFileMessage refuses, a file larger than maxBytes (before
// anything is read), a file that yields more than its size said (the system's
// process files report 0 bytes and may never end), and a file that does not fit
// into memory.
FileContent readWholeFile(const QString& path, qint64 maxBytes);

} // namespace qor::io
