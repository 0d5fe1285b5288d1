#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace qor::app {

// A save dialog's own question whether to replace a file comes before anything looks at what
// is there: a named pipe or a device would be offered for replacing and only then refused.
// Here the dialog asks nothing; what is there is looked at first, and only an ordinary file
// is asked about.
struct FileToWrite {
    QString path; // empty when the user cancelled
    QString refusal; // why path must not be replaced (German, naming the file); empty when it may
};

// A save dialog that asks nothing about replacing: the name chosen, starting on the given
// one; empty when the user cancelled.
using SaveDialog = std::function<QString(const QString& start)>;

// Asks for a file to write in the dialog. complete turns the chosen name into the file that
// will be written (adds a missing suffix, say). When the user declines replacing a file that
// is there, the dialog opens again on that name.
FileToWrite chooseFileToWrite(QWidget* parent, const QString& proposed, const SaveDialog& dialog,
                              const std::function<QString(const QString&)>& complete);

// The same in the toolkit's save dialog; selectedFilter is the dialog's filter in and out, may
// be null.
FileToWrite chooseFileToWrite(QWidget* parent, const QString& caption, const QString& proposed,
                              const QString& filter, QString* selectedFilter,
                              const std::function<QString(const QString&)>& complete);

} // namespace qor::app
