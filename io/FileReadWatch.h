#pragma once

// The kernel's STEP and IGES readers parse a file in one call that reports nothing. How far
// they have come shows outside the call: the offset of the descriptor through which the
// parser reads the file. A watch on the file reads that offset from another thread of the
// same process, which is how a read's first half gets a progress bar that moves.

#include <QString>

#include <sys/types.h>

namespace qor::io {

class FileReadWatch {
public:
    // Watches the file at path; a file that cannot be looked at stays at 0.
    explicit FileReadWatch(const QString& path);

    // The part of the file (0..1) that a descriptor of this process open on it has passed.
    // It never goes back: once the parser has closed the file, the last share stays.
    double share();

private:
    // A descriptor open on the watched file, or -1.
    int findDescriptor() const;
    bool isWatchedFile(int fd) const;

    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t size_ = 0;
    int fd_ = -1;
    double share_ = 0.0;
};

// One bar for a read in two stages: the parse of the file fills the first half, the transfer
// of its entities into shapes the second.
int parsePercent(double share);
int transferPercent(double share);

} // namespace qor::io
