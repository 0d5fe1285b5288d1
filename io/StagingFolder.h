#pragma once

// Files that replace others are written in a folder of the program's own beside the
// target and take their names from there in one step. In a folder others may write to,
// someone could move that folder away and put a link to another folder under its name;
// working by the folder's name would then write, rename and remove in the linked folder.
// The folder is therefore held by a descriptor from the moment it is made: writers reach
// it through that descriptor, files leave it through it, and it is removed by its name
// only while that name still leads to it, and only once empty.

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

#include <vector>

namespace qor::io {

class StagingFolder {
public:
    // folder: where the files go, by a path that is text (a link may lead there).
    explicit StagingFolder(const QString& folder);
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    // False, with errno set, when the folder could not be made or was taken over before
    // it was opened.
    bool isValid() const { return fd_ >= 0; }
    // The path by which writers reach name inside the folder. It leads through the
    // descriptor, so it stays inside this folder whatever lies under the folder's name.
    QString filePath(const QString& name) const;
    // The folder's own name beside the target.
    const QByteArray& name() const { return name_; }
    // The names of the regular files in the folder.
    std::vector<QByteArray> files() const;
    // Gives the file name in the folder the name target beside it; a regular file it replaces
    // hands on its read, write and execute rights, never set-uid, set-gid or sticky bits, and
    // a link it replaces hands on nothing (the link is replaced, not what it leads to).
    // Refused, the folder left as it is, when the folder's name no longer leads to this folder
    // (displaced() then tells). False, with errno set, when the system refuses.
    bool moveOut(const QByteArray& name, const QByteArray& target);
    // True when the folder's name was found leading elsewhere.
    bool displaced() const { return displaced_; }
    // The failure with its reason, for the user: the folder taken away, else the system's
    // reason where it helps (see writeFailureText).
    QString failureText(const QString& failure, int systemError) const;

private:
    bool stillNamed() const;

    int parentFd_ = -1;
    int fd_ = -1;
    QByteArray name_;
    struct stat own_ { };
    bool displaced_ = false;
};

} // namespace qor::io
