#pragma once

#include "model/FeatureDef.h"

#include <QFrame>
#include <QJsonValue>
#include <QString>
#include <QTimer>

#include <map>

class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace qor::model {
class Feature;
}

namespace qor::app {

class DocumentController;
class Scene;

// The side panel through which every feature but a sketch is created and edited. It edits the
// feature in the open document directly, recomputes 120 ms after the last change, and ends
// with one undo step (accept) or by reverting to the last committed state (cancel). While a
// selection field is active the model ends just before the feature, picks fill the field and
// the feature's own tool body is drawn as a preview. Without a scene (no 3D view) the panel
// edits the form only.
class CommandPanel : public QFrame {
    Q_OBJECT

public:
    CommandPanel(DocumentController* controller, Scene* scene, QWidget* parent = nullptr);
    ~CommandPanel() override;

    void open(int featureId, bool isNew);
    void accept();
    void cancel();

    qor::model::Feature* currentFeature() const;
    int featureId() const { return featureId_; }
    const QString& activeKey() const { return activeKey_; }
    // Stores the value only when it differs from the stored one, then restarts the debounce.
    void setParam(const QString& key, const QJsonValue& value);
    void scheduleUpdate();
    void buildForm();
    void updateHint();

    // Makes the field with this key the one that receives picks; empty for none.
    void startSelection(const QString& key);
    // Takes the viewer's current selection into the active field.
    void applyPicks();
    void highlightReferences();
    // Recompute, highlights, preview and hint; the debounce timer's target.
    void updatePreview();
    // A timeline click: toggles the feature in an active features field.
    void onTimelineFeature(int featureId);

signals:
    void finished();
    // The edited feature's result or preview has been shown afresh.
    void previewUpdated();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    const qor::model::FeatureDef* currentDef() const;
    QWidget* makeField(const qor::model::ParamDef& def, const QJsonValue& value);
    QWidget* makeValueEdit(const qor::model::ParamDef& def, const QJsonValue& value);
    QWidget* makeSelectionRow(const qor::model::ParamDef& def, const QJsonValue& value);
    void onSelectButton(const QString& key);
    void clearField(const qor::model::ParamDef& def);
    void refreshSelectButton(const qor::model::ParamDef& def);
    // Sets the rollback index and recomputes, unless it already stands there.
    void moveRollback(int rollback);
    int restoredRollback() const;
    void finish();

    DocumentController* controller_;
    Scene* scene_;
    int featureId_ = 0;
    bool isNew_ = false;
    int savedRollback_ = -1;
    QString activeKey_;
    QVBoxLayout* formScrollLayout_ = nullptr;
    QWidget* formWidget_ = nullptr;
    QLabel* heading_ = nullptr;
    QLabel* icon_ = nullptr;
    QLabel* hint_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QTimer debounce_;
    std::map<QString, QPushButton*> fieldButtons_;
    bool busy_ = false;
};

} // namespace qor::app
