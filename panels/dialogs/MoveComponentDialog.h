#pragma once

#include "panels/dialogs/QorDialog.h"

#include <gp_Pnt.hxx>

#include <array>

class QLineEdit;
class QPushButton;

namespace qor::model {
class Document;
struct Component;
} // namespace qor::model

namespace qor::app {

class DocumentController;

// Moves and turns one component relative to its placement as one undo step. Every field is
// checked as it is typed; "Bewegen" stays disabled while any of them fails.
class MoveComponentDialog : public QorDialog {
    Q_OBJECT

public:
    MoveComponentDialog(DocumentController* controller, int componentId, QWidget* parent = nullptr);

    // X, Y, Z in mm, then the turns about X, Y and Z in degrees.
    const std::array<QLineEdit*, 6>& edits() const { return edits_; }
    QPushButton* moveButton() const { return moveButton_; }
    void apply();

private:
    void checkFields();

    DocumentController* controller_;
    int componentId_;
    std::array<QLineEdit*, 6> edits_{};
    QPushButton* moveButton_;
};

// The middle of the placed component's bounding box; the world origin when the component has
// no geometry or its placement cannot move a shape (a mirroring one).
gp_Pnt componentCentre(const qor::model::Document& doc, const qor::model::Component& component);

} // namespace qor::app
