#pragma once

// File names are bytes, the program's paths text. A name whose bytes are not valid UTF-8
// decodes to replacement characters and so names no file; such a file or folder is reached
// through a link, named by the decoded text, in a private folder that lives as long as the
// NameLinks object.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <optional>

namespace qor::io {

// True when the bytes decode to a text that encodes back to them.
bool isTextName(const QByteArray& bytes);

// A path as bytes, made absolute against the current folder's own bytes.
QByteArray absolutePathBytes(const QByteArray& path);

class NameLinks {
public:
    // The path by which the program reaches what the bytes name (a file name, or a path
    // absolute or relative to the current folder): the decoded bytes when they say the
    // same, else the folder through a link when only the folder's name is not text, else
    // the file itself through a link. Empty, with the German reason, when no link can be
    // made; fileText names the path in that reason.
    QString reach(const QByteArray& path, const QString& fileText, QString& error);

    // A link named name in the private folder to target (bytes, absolute); empty, with the
    // German reason, when it cannot be made.
    QString link(const QByteArray& target, const QString& name, const QString& fileText,
                 QString& error);

private:
    std::optional<QTemporaryDir> private_; // made when a name needs a link
    int links_ = 0;
};

} // namespace qor::io
