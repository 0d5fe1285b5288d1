#pragma once

#include "panels/dialogs/QorDialog.h"

namespace qor::app {

class DocumentController;

// The bill of materials of the open assembly as a table, copied or saved as CSV. Built once
// from the document as it stands; later changes are not followed.
class BomDialog : public QorDialog {
    Q_OBJECT

public:
    BomDialog(DocumentController* controller, QWidget* parent = nullptr);

    void copyCsv();
    // Asks for a file name, then saves there.
    void saveCsv();
    // Writes the file; a failure is shown as a warning. False when nothing was written.
    bool saveCsvTo(const QString& path);
    const QString& csv() const { return csv_; }

private:
    QString csv_;
};

} // namespace qor::app
