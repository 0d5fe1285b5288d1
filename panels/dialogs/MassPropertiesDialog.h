#pragma once

#include "panels/dialogs/QorDialog.h"

namespace qor::app {

class DocumentController;

// Volume, area, mass, centre of mass and extents of every body with the totals, computed once
// when the dialog is built; the rows can be copied as semicolon-separated text.
class MassDialog : public QorDialog {
    Q_OBJECT

public:
    MassDialog(const DocumentController& controller, QWidget* parent = nullptr);
    ~MassDialog() override;

    QString csv() const { return csv_; }
    // Puts the CSV text on the clipboard.
    void copyCsv() const;

private:
    QString csv_;
};

} // namespace qor::app
