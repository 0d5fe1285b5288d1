#pragma once

#include "io/Import.h"
#include "panels/dialogs/QorDialog.h"

namespace qor::app {

// Reports a failed import: the file's name, the error, the reader's notes and the
// file's own preview picture when it carries one.
class ImportInfoDialog : public QorDialog {
    Q_OBJECT

public:
    ImportInfoDialog(const qor::io::ImportResult& result, const QString& path,
                     QWidget* parent = nullptr);
    ~ImportInfoDialog() override;
};

} // namespace qor::app
