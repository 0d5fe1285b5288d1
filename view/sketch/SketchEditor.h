#pragma once

#include "sketch/Sketch.h"
#include "view/Viewer.h"
#include "view/sketch/HitTest.h"
#include "view/sketch/SketchBookkeeping.h"
#include "view/sketch/SketchMapper.h"
#include "view/sketch/tools/ToolResult.h"

#include <QLineEdit>
#include <QObject>
#include <QPoint>
#include <QPointer>

#include <gp_Ax3.hxx>

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

class QPainter;

namespace qor::app {

class DocumentController;
class Scene;
class SketchOverlay;

// What the overlay paints besides the sketch itself: the editor's interaction state.
struct SketchEditState {
    int tool = 0; // 0 select, 1..10 drawing tools, 11 trim, 12 fillet, 13 dimension, ...
    ToolStep step;
    sketch::Vec2 cursor; // sketch position under the mouse at the last press or move
    QPoint mousePixel;
    SketchHit hover;
    std::set<std::int32_t> selectedEntities;
    std::set<std::int32_t> selectedConstraints;
    std::set<std::uint32_t> conflicting; // constraints the last solve left unsatisfied
    std::vector<bool> determined; // per sketch parameter, from the last freedom analysis
    std::uint32_t dof = 0;
    sketch::Vec2 dragLast; // press position, or the last label position of a label drag
    int polygonSides = 6;
};

// Edits one sketch feature inside the 3D view: the viewer's input handler while sketch mode
// lasts. Every change runs the same cycle: snapshot, change, solve, recompute, repaint, notify.
// The overlay paints what the editor holds; the editor itself never draws.
class SketchEditor : public QObject, public InputHandler {
    Q_OBJECT

public:
    static constexpr int toolCount = 16;

    // The scene may be null (then the selection mask is left alone).
    SketchEditor(DocumentController& controller, Viewer& viewer, Scene* scene, int featureId,
                 QObject* parent = nullptr);
    ~SketchEditor() override;

    int featureId() const { return featureId_; }
    const gp_Ax3& plane() const { return plane_; }
    const SketchMapper& mapper() const { return *mapper_; }
    // The edited sketch, looked up anew in the document on every call.
    sketch::Sketch& sketch() const;

    SketchEditState state;
    SketchHistory history;
    sketch::ConstraintType constraintType = sketch::ConstraintType::Coincident;
    double filletRadius = 3.0;
    QPointer<QLineEdit> valueEdit;
    int valueEditConstraint = -1;

    // Values outside 0..15 are ignored.
    void setTool(int tool);
    void setConstraintTool(sketch::ConstraintType type);
    void solve();
    void commitChange();
    void undo();
    void redo();
    void toggleConstruction();
    void deleteSelection();
    void selectAll();
    void applyConstraint(const SketchHit& hit);
    // A snapped click of the drawing tools 1 to 10.
    void geometryClick(const SnapRecord& snap);
    void trim(QPoint pixel);
    void sketchFillet(QPoint pixel);
    // Takes the model edges selected in the view into the sketch (tool 15).
    void projectEdges();
    // Turns the dimension tool's picks into a dimension labelled at the pixel.
    void placeDimension(QPoint pixel);
    void editDimension(int constraintId);
    void commitValueEdit();

    // The status of the last solve ("Vollständig bestimmt", ...) and the active tool's prompt.
    QString statusText() const;
    QString promptText() const;

    void paintOverlay(QPainter& painter);
    SketchOverlay* overlay() const { return overlay_; }

    bool mousePress(QMouseEvent* event) override;
    bool mouseMove(QMouseEvent* event) override;
    bool mouseRelease(QMouseEvent* event) override;
    bool mouseDoubleClick(QMouseEvent* event) override;
    bool keyPress(QKeyEvent* event) override;

signals:
    void changed();
    void toolChanged();
    void finishRequested();
    // A message for the window's toast.
    void message(const QString& text, bool error);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showGrid();
    void resetStep();
    void cancelStep();
    void pushUndo();
    void clearSelection();
    void repaint();
    void pressSelect(const SketchHit& hit, sketch::Vec2 position, bool extending);
    void dragTo(sketch::Vec2 position);
    void dragCurve(const sketch::Entity& curve, sketch::Vec2 position);
    void finishBoxSelection(std::optional<sketch::Vec2> release, QPoint pixel);
    void closeValueEdit();
    // Commits what a tool changed, shows its message and opens its value field.
    void finishTool(const ToolResult& result);

    DocumentController& controller_;
    Viewer& viewer_;
    Scene* scene_;
    int featureId_;
    gp_Ax3 plane_;
    std::unique_ptr<SketchMapper> mapper_;
    SketchOverlay* overlay_ = nullptr;
    int dragPoint_ = -1;
    int dragCurve_ = -1;
    std::vector<double> dragStartParams_;
    QPoint pressPixel_;
};

} // namespace qor::app
