#pragma once

#include "panels/dialogs/QorDialog.h"

namespace qor::app {

// Product name, version, company edition, and the kernel and toolkit versions in use.
class AboutDialog : public QorDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    // The rich text of the box; the company name appears escaped.
    static QString aboutText();
};

} // namespace qor::app
