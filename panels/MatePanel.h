#pragma once

#include "model/Assembly.h"
#include "view/Picking.h"

#include <QFrame>
#include <QString>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qor::app {

class DocumentController;
class Scene;

// The side panel that adds one mate between elements of two components. As soon as both are
// picked it puts a pending mate into the document and recomputes, so the free component moves
// at once; OK commits that as one undo step, Cancel reverts to the last commit. Without a
// scene (no 3D view) picks come only through takePicks.
class MatePanel : public QFrame {
    Q_OBJECT

public:
    MatePanel(DocumentController* controller, Scene* scene, const QString& type,
              QWidget* parent = nullptr);

    // The viewer's selection changed: takes the scene's picks.
    void onPick();
    // Takes the last pick of the list into the active slot.
    void takePicks(const std::vector<PickInfo>& picks);
    // The pick as a mate reference in the component's own coordinates and its caption; false
    // for anything but a face, edge or vertex of a component body that can be brought back
    // into the component's coordinates.
    bool describeElement(const PickInfo& pick, qor::model::MateRef& ref, QString& text) const;
    void updateMate();
    void accept();
    void cancel();

    int pendingMateId() const { return pendingMateId_; }
    QComboBox* typeCombo() const { return typeCombo_; }
    QPushButton* firstButton() const { return firstButton_; }
    QPushButton* secondButton() const { return secondButton_; }
    QLineEdit* valueEdit() const { return valueEdit_; }
    QCheckBox* flipCheck() const { return flipCheck_; }
    QLabel* hintLabel() const { return hintLabel_; }
    QPushButton* okButton() const { return okButton_; }

signals:
    void finished();
    // A refused pick, for the main window's toast over the 3D view.
    void toast(const QString& text, bool error);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setActiveSlot(int slot);
    void refuse(const QString& text);
    void setHint(const QString& text, const char* objectName);
    void finish(bool commit);

    DocumentController* controller_;
    Scene* scene_;
    QComboBox* typeCombo_ = nullptr;
    QPushButton* firstButton_ = nullptr;
    QPushButton* secondButton_ = nullptr;
    QLineEdit* valueEdit_ = nullptr;
    QCheckBox* flipCheck_ = nullptr;
    QLabel* hintLabel_ = nullptr;
    QPushButton* okButton_ = nullptr;
    int activeSlot_ = 0;
    bool hasFirst_ = false;
    bool hasSecond_ = false;
    qor::model::MateRef first_;
    qor::model::MateRef second_;
    int pendingMateId_ = 0;
};

} // namespace qor::app
