#pragma once

#include "panels/dialogs/QorDialog.h"

#include <QColor>

class QComboBox;
class QLabel;

namespace qor::app {

class DocumentController;

// Material and display colour of all bodies or of one, applied as one undo step.
class AppearanceDialog : public QorDialog {
    Q_OBJECT

public:
    // bodyId 0 (or an id not in the model) starts with "Alle Körper" and the look of the
    // first body.
    AppearanceDialog(DocumentController& controller, int bodyId, QWidget* parent = nullptr);
    ~AppearanceDialog() override;

    static void setSwatchColor(QWidget* widget, const QColor& color);
    // Writes material, colour and density to the chosen bodies, commits and accepts.
    void apply();
    QColor chosenColor() const { return chosenColor_; }

private:
    void choose(const QColor& color);

    DocumentController& controller_;
    QComboBox* target_;
    QComboBox* material_;
    QLabel* preview_;
    QColor chosenColor_;
};

} // namespace qor::app
