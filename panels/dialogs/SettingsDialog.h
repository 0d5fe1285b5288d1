#pragma once

#include "panels/dialogs/QorDialog.h"

class QCheckBox;
class QComboBox;

namespace qor::app {

// The per-user settings: navigation scheme, touchpad gesture, mesh quality of mesh exports,
// OpenGL mode and the update check at start. Nothing is written before "Speichern".
class SettingsDialog : public QorDialog {
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget* parent = nullptr);
    ~SettingsDialog() override;

    // Writes the settings and accepts the dialog. "gl" is written only when the mode changes,
    // followed by the note that it takes effect at the next start.
    void save();

private:
    QComboBox* nav_;
    QComboBox* touchpad_;
    QComboBox* meshQuality_;
    QComboBox* gl_;
    QCheckBox* checkUpdates_;
};

} // namespace qor::app
