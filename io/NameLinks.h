#pragma once

// File names are bytes, the program's paths text. A name whose bytes are not valid UTF-8
// decodes to replacement characters and so names no file; such a file or folder is reached
// through a link, named by the decoded text, in a private folder that lives as long as the
// NameLinks object. What the links lead to stays known while they live: a document read
// through one looks for its components beside the real file and is saved under the real
// name, and lists of files name the real file.

#include "io/StagingFolder.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace qor::io {

// True when the bytes decode to a text that encodes back to them.
bool isTextName(const QByteArray& bytes);

// A path as bytes, made absolute against the current folder's own bytes.
QByteArray absolutePathBytes(const QByteArray& path);

class NameLinks {
public:
    NameLinks() = default;
    ~NameLinks();
    NameLinks(const NameLinks&) = delete;
    NameLinks& operator=(const NameLinks&) = delete;

    // The path by which the program reaches what the bytes name (a file name, or a path
    // absolute or relative to the current folder): the decoded bytes when they say the
    // same, else the folder through a link when only the folder's name is not text, else
    // the file itself through a link (made through a link to its folder when that name is
    // not text either). Empty, with the German reason, when no link can be made; fileText
    // names the path in that reason.
    QString reach(const QByteArray& path, const QString& fileText, QString& error);

    // A link named name in the private folder to target (bytes, absolute); empty, with the
    // German reason, when it cannot be made.
    QString link(const QByteArray& target, const QString& name, const QString& fileText,
                 QString& error);

    // Removes the links and their private folder.
    void remove();

private:
    std::optional<QTemporaryDir> private_; // made when a name needs a link
    int links_ = 0;
    QStringList made_; // the links, for forgetting them with the folder
};

// A file reached through a link of reach because its own name is not text.
struct LinkedFile {
    QString folder; // its real folder, by a path that is text (a link when need be)
    QByteArray name; // its own name, as bytes
};

// What path stands for when reach made it as a link to a file whose name is not text.
std::optional<LinkedFile> linkedFile(const QString& path);

// The bytes of the path the user named: a link of a living NameLinks at the start of the
// path is replaced by what it leads to. Any other path comes back in its own encoding.
QByteArray realPathBytes(const QString& path);

// A path as text that still names the real file when the links are gone (for lists kept
// across runs): the real path when its bytes are text, else a "file://" address whose
// percent escapes keep the bytes.
QString lastingPath(const QString& path);

// The bytes that a text of lastingPath names; any other text in its own encoding.
QByteArray lastingPathBytes(const QString& text);

// Removes the private folders of every NameLinks still alive, for a process that ends
// without running destructors.
void removeNameLinks();

// Writing a file whose name is not text: the writer writes a file with a text name inside
// a staging folder of the program's own, made new beside the target, which then takes the
// real name in one step. Only its owner may enter the folder, so no name the writer uses
// can be a link or file that someone else placed there. Until the rename the written file
// is removed with this object, and the folder always.
class NameStage {
public:
    // folder: the target's folder by a path that is text; name: the target's name as bytes.
    NameStage(const QString& folder, const QByteArray& name);

    // Where the writer writes, with the target's suffix; empty, with errno set, when the
    // folder cannot be made.
    const QString& path() const { return path_; }
    // Gives the written file the target's name and, when a regular file was there, its read,
    // write and execute rights (see StagingFolder::moveOut). False, with errno set, when the system refuses or the folder was taken away.
    bool finish();
    // The failure with its reason for the user (see StagingFolder::failureText).
    QString failureText(const QString& failure, int systemError) const
    {
        return stage_.failureText(failure, systemError);
    }

private:
    StagingFolder stage_;
    QByteArray stagedName_;
    QByteArray targetName_;
    QString path_;
};

// The bytes of a file's name or path as text for the user: UTF-8 where they are valid,
// any other byte as the Latin-1 letter it stands for, since such names mostly come from
// systems that write Latin-1 ("caf\xe9" shows as "café").
QString shownName(const QByteArray& bytes);

// The real file behind path (see realPathBytes) as the user names it.
QString shownPath(const QString& path);

} // namespace qor::io
