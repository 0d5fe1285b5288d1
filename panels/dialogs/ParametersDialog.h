#pragma once

#include "panels/dialogs/QorDialog.h"

class QLabel;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace qor::app {

class DocumentController;

// Edits the document's named parameters as a table (name, expression, value, comment), checks
// every row live against a scratch copy of the document and writes the table back as one undo
// step. The sketch dimensions that expressions may use are listed below the table.
class ParametersDialog : public QorDialog {
    Q_OBJECT

public:
    ParametersDialog(DocumentController* controller, QWidget* parent = nullptr);
    ~ParametersDialog() override;

    // Fills the table from the document.
    void load();
    // Evaluates the table in a scratch copy of the document and shows values and errors; the
    // document itself is not touched.
    void validate();
    // Replaces the document's parameters by the table and commits "Parameter ändern". Does
    // nothing while a row has an invalid or duplicate name, so no row is ever lost.
    void apply();

    void addRow();
    void removeRow();

private:
    void onItemChanged(QTableWidgetItem* item);
    void onApply();
    QString cellText(int row, int column) const;

    DocumentController* controller_;
    QTableWidget* table_;
    QLabel* status_;
    QPushButton* applyButton_;
    bool namesValid_ = true; // no row has an invalid or duplicate name
};

} // namespace qor::app
