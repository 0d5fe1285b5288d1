#include "view/sketch/SketchEditor.h"

#include "expr/Format.h"
#include "model/DocumentController.h"
#include "sketch/Dof.h"
#include "sketch/Solver.h"
#include "ui/theme/Theme.h"
#include "view/Camera.h"
#include "view/Scene.h"
#include "view/sketch/DimensionLabels.h"
#include "view/sketch/SketchOverlay.h"
#include "view/sketch/SketchPrompts.h"
#include "view/sketch/ViewerSketchMapper.h"
#include "view/sketch/tools/ConstraintTools.h"
#include "view/sketch/tools/DrawTools.h"
#include "view/sketch/tools/ProjectEdges.h"
#include "view/sketch/tools/TrimFillet.h"

#include <Aspect_Grid.hxx>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

#include <algorithm>
#include <numbers>

namespace qor::app {

using sketch::ConstraintType;
using sketch::EntityType;
using sketch::Vec2;

namespace {

constexpr double dragStartPixels = 3.0; // a press becomes a drag from here on
constexpr double dragCommitPixels = 2.0;
constexpr double boxSelectPixels = 4.0;

int manhattan(QPoint a, QPoint b)
{
    return std::abs(a.x() - b.x()) + std::abs(a.y() - b.y());
}

bool insideBox(Vec2 p, Vec2 low, Vec2 high)
{
    return p.x >= low.x && p.x <= high.x && p.y >= low.y && p.y <= high.y;
}

// The rectangle spanned by two corners holds the entity wholly.
bool entityInBox(const sketch::Sketch& sketch, const sketch::Entity& e, Vec2 low, Vec2 high)
{
    if (e.type == EntityType::Circle) {
        const Vec2 c = sketch.pointPosition(e.a);
        const double r = sketch.radius(int(e.id));
        return insideBox(c - Vec2{r, r}, low, high) && insideBox(c + Vec2{r, r}, low, high);
    }
    if (e.type == EntityType::Point)
        return !e.owned && insideBox(sketch.pointPosition(int(e.id)), low, high);
    const std::vector<int> points = sketch.pointsOf(int(e.id));
    return std::all_of(points.begin(), points.end(),
                       [&](int p) { return insideBox(sketch.pointPosition(p), low, high); });
}

} // namespace

SketchEditor::SketchEditor(DocumentController& controller, Viewer& viewer, Scene* scene,
                           int featureId, QObject* parent)
    : QObject(parent)
    , controller_(controller)
    , viewer_(viewer)
    , scene_(scene)
    , featureId_(featureId)
{
    const auto& sketches = controller_.document->current.sketches.get();
    const auto placed = sketches.find(featureId);
    plane_ = placed != sketches.end() ? placed->second.plane : model::Document::datumPlane(-1);
    mapper_ = std::make_unique<ViewerSketchMapper>(viewer_, plane_);

    overlay_ = new SketchOverlay(*this, &viewer_);
    overlay_->setGeometry(viewer_.rect());
    overlay_->show();
    viewer_.installEventFilter(this);
    connect(&viewer_, &QOpenGLWidget::frameSwapped, overlay_, qOverload<>(&QWidget::update));
    viewer_.setInputHandler(this);
    showGrid();
    solve();
}

SketchEditor::~SketchEditor()
{
    if (valueEdit)
        valueEdit->deleteLater();
    viewer_.setInputHandler(nullptr);
    if (!viewer_.viewer().IsNull())
        viewer_.viewer()->DeactivateGrid();
    delete overlay_;
    viewer_.requestRedraw();
}

sketch::Sketch& SketchEditor::sketch() const
{
    return *controller_.document->feature(featureId_)->sketch;
}

void SketchEditor::showGrid()
{
    const Handle(V3d_Viewer)& occ = viewer_.viewer();
    if (occ.IsNull() || viewer_.view()->Window().IsNull())
        return;
    // Grid lines 12 to 80 pixels apart, in steps of 10 mm times a power of 5.
    const double pixel = viewer_.pixelSize();
    double step = 10.0;
    while (pixel > 0.0 && step / pixel < 12.0)
        step *= 5.0;
    while (pixel > 0.0 && step / pixel > 80.0)
        step /= 5.0;
    occ->SetPrivilegedPlane(plane_);
    occ->SetRectangularGridValues(0.0, 0.0, step, step, 0.0);
    occ->SetRectangularGridGraphicValues(200.0 * step, 200.0 * step, 0.0);
    occ->ActivateGrid(Aspect_GT_Rectangular, Aspect_GDM_Lines);
    const Theme& theme = Theme::instance();
    occ->Grid()->SetColors(srgbColor(Theme::mix(theme.bg2, theme.lineBright, 0.55)),
                           srgbColor(Theme::mix(theme.bg2, theme.accent, 0.35)));
    viewer_.requestRedraw();
}

void SketchEditor::solve()
{
    sketch::Sketch& s = sketch();
    sketch::SolveResult result;
    sketch::solve(result, s, {});
    state.conflicting = {result.failedIds.begin(), result.failedIds.end()};
    sketch::DofResult freedom;
    sketch::analyzeDof(freedom, s, &state.determined);
    state.dof = std::uint32_t(std::max(freedom.dof, 0));
}

void SketchEditor::commitChange()
{
    solve();
    controller_.recompute();
    repaint();
    emit changed();
}

void SketchEditor::repaint()
{
    overlay_->update();
}

void SketchEditor::pushUndo()
{
    history.push(sketch());
}

void SketchEditor::resetStep()
{
    state.step = ToolStep{};
}

void SketchEditor::cancelStep()
{
    resetStep();
    repaint();
    emit changed(); // the prompt goes back to the tool's first step
}

void SketchEditor::clearSelection()
{
    state.selectedEntities.clear();
    state.selectedConstraints.clear();
}

void SketchEditor::undo()
{
    if (!history.undo(sketch()))
        return;
    clearSelection();
    commitChange();
}

void SketchEditor::redo()
{
    if (!history.redo(sketch()))
        return;
    commitChange();
}

void SketchEditor::toggleConstruction()
{
    if (state.selectedEntities.empty()) {
        emit message(QStringLiteral("Zuerst Elemente auswählen, dann X drücken"), false);
        return;
    }
    pushUndo();
    sketch::Sketch& s = sketch();
    for (int id : state.selectedEntities) {
        if (sketch::Entity* e = s.findEntity(id); e && e->type != EntityType::Point)
            e->construction = !e->construction;
    }
    commitChange();
}

void SketchEditor::deleteSelection()
{
    if (state.selectedEntities.empty() && state.selectedConstraints.empty())
        return;
    pushUndo();
    sketch::Sketch& s = sketch();
    for (int id : state.selectedConstraints)
        s.removeConstraint(id);
    for (int id : state.selectedEntities)
        s.removeEntity(id);
    clearSelection();
    commitChange();
}

void SketchEditor::selectAll()
{
    for (const sketch::Entity& e : sketch().entities) {
        if (e.type != EntityType::Point || !e.owned)
            state.selectedEntities.insert(int(e.id));
    }
    repaint();
    emit changed();
}

void SketchEditor::setTool(int tool)
{
    if (tool < 0 || tool >= toolCount)
        return;
    resetStep();
    state.tool = tool;
    if (scene_)
        scene_->setSelectionMask(tool == 15 ? 3 : 0);
    viewer_.setCursor(tool == 0 ? Qt::ArrowCursor : Qt::CrossCursor);
    if (tool == 14 && !state.selectedEntities.empty()) {
        state.step.picks = constraintPickOrder(sketch(), state.selectedEntities);
        applyConstraint(SketchHit{});
    }
    repaint();
    emit toolChanged();
}

void SketchEditor::setConstraintTool(ConstraintType type)
{
    constraintType = type;
    setTool(14);
}

QString SketchEditor::statusText() const
{
    return app::statusText(sketch(), state.conflicting.size(), state.dof);
}

QString SketchEditor::promptText() const
{
    PromptContext context;
    context.tool = state.tool;
    context.clicks = state.step.points.size();
    context.hasPicks = !state.step.picks.empty();
    context.polygonSides = state.polygonSides;
    context.filletRadius = filletRadius;
    context.constraintType = constraintType;
    return app::promptText(context);
}

// --- Tools ---------------------------------------------------------------------------------

void SketchEditor::finishTool(const ToolResult& result)
{
    if (!result.message.isEmpty())
        emit message(result.message, result.error);
    if (result.changed) {
        commitChange();
    } else {
        // A click recorded without a change of the sketch still moves the prompt on.
        repaint();
        emit changed();
    }
    if (result.editDimension >= 0)
        editDimension(result.editDimension);
}

void SketchEditor::applyConstraint(const SketchHit& hit)
{
    finishTool(applyConstraintPicks(sketch(), history, state.step, constraintType, hit));
}

void SketchEditor::geometryClick(const SnapRecord& snap)
{
    finishTool(
        app::geometryClick(sketch(), history, state.step, state.tool, snap, state.polygonSides));
}

void SketchEditor::trim(QPoint pixel)
{
    const SketchHit hit = hitTest(sketch(), *mapper_, pixel, false);
    const std::optional<Vec2> click = mapper_->toSketch(pixel);
    if (hit.kind == HitKind::Curve && click)
        finishTool(trimCurve(sketch(), history, hit.id, *click));
}

void SketchEditor::sketchFillet(QPoint pixel)
{
    finishTool(
        filletCorner(sketch(), history, hitTest(sketch(), *mapper_, pixel, true), filletRadius));
}

void SketchEditor::projectEdges()
{
    if (!scene_)
        return;
    const std::vector<PickInfo> picks = scene_->selectedPicks();
    if (picks.empty())
        return;
    std::vector<TopoDS_Shape> shapes;
    for (const PickInfo& pick : picks)
        shapes.push_back(pick.shape);
    const ToolResult result = app::projectEdges(sketch(), history, plane_, shapes);
    scene_->clearSelection();
    finishTool(result);
}

void SketchEditor::placeDimension(QPoint pixel)
{
    finishTool(app::placeDimension(sketch(), history, state.step, mapper_->toSketch(pixel)));
}

// --- Value entry ----------------------------------------------------------------------------

void SketchEditor::editDimension(int constraintId)
{
    const sketch::Sketch& s = sketch();
    const sketch::Constraint* dimension = s.findConstraint(constraintId);
    if (!dimension)
        return;
    if (valueEdit)
        valueEdit->deleteLater();
    const QFontMetricsF metrics(dimensionLabelFont());
    const QRectF label = dimensionLayout(s, *dimension, *mapper_, metrics, false).label;
    auto* field = new QLineEdit(&viewer_);
    field->setObjectName(QStringLiteral("ValueEdit"));
    field->setText(valueFieldText(*dimension));
    field->selectAll();
    field->setFixedWidth(valueFieldWidth);
    field->move(valueFieldPosition(label));
    field->setToolTip(
        QStringLiteral("Wert oder Ausdruck (z. B. „Breite/2“), Enter übernimmt, Esc bricht ab"));
    field->show();
    field->setFocus(Qt::OtherFocusReason);
    valueEdit = field;
    valueEditConstraint = constraintId;
    field->installEventFilter(this);
}

void SketchEditor::closeValueEdit()
{
    if (valueEdit)
        valueEdit->deleteLater();
    valueEdit = nullptr;
}

void SketchEditor::commitValueEdit()
{
    if (!valueEdit)
        return;
    sketch::Sketch& s = sketch();
    sketch::Constraint* dimension = s.findConstraint(valueEditConstraint);
    if (!dimension) {
        closeValueEdit();
        return;
    }
    const ValueEntry entry
        = readValueEntry(*controller_.document, *dimension, valueEdit->text().trimmed());
    if (!entry.valid) {
        valueEdit->setProperty("invalid", true);
        valueEdit->style()->unpolish(valueEdit);
        valueEdit->style()->polish(valueEdit);
        if (!entry.error.isEmpty())
            valueEdit->setToolTip(entry.error);
        return;
    }
    pushUndo();
    const QJsonObject before = history.undoStack.back();
    dimension->expression = entry.expression;
    dimension->value = entry.value;
    sketch::SolveResult result;
    sketch::solve(result, s, {});
    if (!result.ok) {
        s.fromJson(before);
        history.dropLast();
        emit message(QStringLiteral("Dieser Wert lässt sich mit den übrigen Bedingungen nicht "
                                    "erfüllen"),
                     true);
    }
    closeValueEdit();
    commitChange();
}

bool SketchEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &viewer_ && event->type() == QEvent::Resize)
        overlay_->setGeometry(viewer_.rect());
    if (!valueEdit || watched != valueEdit)
        return false;
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            commitValueEdit();
            // A refused value keeps the field open and marked, with the focus for a correction;
            // handing the focus on would close it through the focus-out rule below.
            if (!valueEdit)
                viewer_.setFocus(Qt::OtherFocusReason);
            return true;
        }
        if (key == Qt::Key_Escape) {
            closeValueEdit();
            viewer_.setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    if (event->type() == QEvent::FocusOut)
        closeValueEdit();
    return false;
}

// --- Mouse and keys -------------------------------------------------------------------------

bool SketchEditor::mousePress(QMouseEvent* event)
{
    closeValueEdit();
    const QPoint pixel = eventPixel(event->position());
    state.mousePixel = pixel;
    pressPixel_ = pixel;
    if (state.tool == 15)
        return false;
    const std::optional<Vec2> position = mapper_->toSketch(pixel);
    if (!position)
        return true;
    state.cursor = *position;
    if (state.tool == 0) {
        const bool extending = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
        pressSelect(hitTest(sketch(), *mapper_, pixel, true), *position, extending);
    } else if (state.tool == 14) {
        applyConstraint(hitTest(sketch(), *mapper_, pixel, true));
    } else if (state.tool == 11) {
        trim(pixel);
    } else if (state.tool == 12) {
        sketchFillet(pixel);
    } else if (state.tool == 13) {
        finishTool(dimensionClick(sketch(), history, state.step,
                                  hitTest(sketch(), *mapper_, pixel, true), *position));
    } else if (state.tool >= 1 && state.tool <= 10) {
        const auto& points = state.step.points;
        geometryClick(snapAt(sketch(), *mapper_, pixel, true,
                             points.empty() ? std::nullopt : std::optional<Vec2>(points.back())));
    }
    repaint();
    return true;
}

void SketchEditor::pressSelect(const SketchHit& hit, Vec2 position, bool extending)
{
    ToolStep& step = state.step;
    const auto toggle = [](std::set<std::int32_t>& set, int id) {
        if (!set.erase(id))
            set.insert(id);
    };
    if (hit.kind == HitKind::Nothing) {
        if (!extending)
            clearSelection();
        step.boxSelecting = true;
        state.dragLast = position;
    } else if (hit.kind == HitKind::Label || hit.kind == HitKind::Glyph) {
        if (extending) {
            toggle(state.selectedConstraints, hit.id);
        } else {
            clearSelection();
            state.selectedConstraints.insert(hit.id);
        }
        if (hit.kind == HitKind::Label) {
            step.dragging = true;
            dragPoint_ = dragCurve_ = -1;
            state.dragLast = position;
            step.picks = {std::uint32_t(hit.id)};
        }
    } else {
        if (extending) {
            toggle(state.selectedEntities, hit.id);
        } else if (!state.selectedEntities.count(hit.id)) {
            clearSelection();
            state.selectedEntities.insert(hit.id);
        }
        step.dragging = true;
        step.picks.clear();
        dragPoint_ = hit.kind == HitKind::Point ? hit.id : -1;
        dragCurve_ = hit.kind == HitKind::Curve ? hit.id : -1;
        state.dragLast = position;
        dragStartParams_ = sketch().params;
        pushUndo();
    }
    emit changed();
}

bool SketchEditor::mouseMove(QMouseEvent* event)
{
    const QPoint pixel = eventPixel(event->position());
    state.mousePixel = pixel;
    const std::optional<Vec2> position = mapper_->toSketch(pixel);
    if (!position)
        return false;
    state.cursor = *position;
    if ((event->buttons() & Qt::MiddleButton) || state.tool == 15)
        return false;
    if (!state.step.dragging || !(event->buttons() & Qt::LeftButton)) {
        state.hover = hitTest(sketch(), *mapper_, pixel, true);
        state.step.snap = SnapRecord{};
        if (state.tool >= 1 && state.tool <= 10) {
            const auto& points = state.step.points;
            state.step.snap
                = snapAt(sketch(), *mapper_, pixel, true,
                         points.empty() ? std::nullopt : std::optional<Vec2>(points.back()));
        }
        repaint();
        return true;
    }
    if (manhattan(pixel, pressPixel_) >= dragStartPixels)
        dragTo(*position);
    return true;
}

void SketchEditor::dragTo(Vec2 position)
{
    sketch::Sketch& s = sketch();
    if (dragPoint_ >= 0) {
        sketch::dragPoint(s, std::uint32_t(dragPoint_), position.x, position.y);
    } else if (const sketch::Entity* curve = s.findEntity(dragCurve_)) {
        dragCurve(*curve, position);
    } else if (!state.step.picks.empty()) {
        if (sketch::Constraint* label = s.findConstraint(int(state.step.picks.front()))) {
            label->labelOffset = label->labelOffset + (position - state.dragLast);
            state.dragLast = position;
        }
    }
    // The geometry colours follow the drag; the document recomputes only on release.
    sketch::DofResult freedom;
    sketch::analyzeDof(freedom, s, &state.determined);
    state.dof = std::uint32_t(std::max(freedom.dof, 0));
    repaint();
}

void SketchEditor::dragCurve(const sketch::Entity& curve, Vec2 position)
{
    sketch::Sketch& s = sketch();
    const std::vector<double> before = s.params;
    sketch::SolveResult result;
    if (curve.type == EntityType::Circle) {
        s.params[std::size_t(curve.p0)] = (position - s.pointPosition(curve.a)).length();
        sketch::solve(result, s, {curve.p0});
        if (!result.ok)
            s.params = before;
        return;
    }
    s.params = dragStartParams_;
    const Vec2 delta = position - state.dragLast;
    std::vector<int> held;
    for (int point : s.pointsOf(int(curve.id))) {
        s.setPointPosition(point, s.pointPosition(point).x + delta.x,
                           s.pointPosition(point).y + delta.y);
        for (int param : s.paramsOf(point))
            held.push_back(param);
    }
    sketch::solve(result, s, held);
    if (result.ok)
        return;
    s.params = dragStartParams_;
    sketch::solve(result, s, {});
    if (!result.ok)
        s.params = before;
}

bool SketchEditor::mouseRelease(QMouseEvent* event)
{
    if (state.tool == 15)
        return false;
    const QPoint pixel = eventPixel(event->position());
    ToolStep& step = state.step;
    if (step.boxSelecting) {
        finishBoxSelection(mapper_->toSketch(pixel), pixel);
        return true;
    }
    if (!step.dragging)
        return true;
    const bool moved = manhattan(pixel, pressPixel_) > dragCommitPixels;
    const bool entityPress = dragPoint_ >= 0 || dragCurve_ >= 0;
    step.dragging = false;
    dragPoint_ = dragCurve_ = -1;
    step.picks.clear();
    if (moved) {
        commitChange();
    } else if (entityPress) {
        history.dropLast();
    }
    return true;
}

void SketchEditor::finishBoxSelection(std::optional<Vec2> release, QPoint pixel)
{
    state.step.boxSelecting = false;
    if (release && manhattan(pixel, pressPixel_) > boxSelectPixels) {
        const Vec2 low{std::min(release->x, state.dragLast.x),
                       std::min(release->y, state.dragLast.y)};
        const Vec2 high{std::max(release->x, state.dragLast.x),
                        std::max(release->y, state.dragLast.y)};
        const sketch::Sketch& s = sketch();
        for (const sketch::Entity& e : s.entities) {
            if (entityInBox(s, e, low, high))
                state.selectedEntities.insert(int(e.id));
        }
    }
    repaint();
    emit changed();
}

bool SketchEditor::mouseDoubleClick(QMouseEvent* event)
{
    if (state.tool == 1) {
        cancelStep();
        return true;
    }
    const SketchHit hit = hitTest(sketch(), *mapper_, eventPixel(event->position()), true);
    if (hit.kind == HitKind::Label) {
        editDimension(hit.id);
        return true;
    }
    if (state.tool == 0 && hit.kind == HitKind::Nothing) {
        emit finishRequested();
        return true;
    }
    return state.tool != 15;
}

bool SketchEditor::keyPress(QKeyEvent* event)
{
    if (valueEdit)
        return false;
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool nothingInProgress = state.step.points.empty();
    switch (key) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace: deleteSelection(); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (nothingInProgress)
            emit finishRequested();
        else
            cancelStep();
        return true;
    case Qt::Key_Escape:
        if (state.tool == 0) {
            if (state.selectedEntities.empty() && state.selectedConstraints.empty())
                return false;
            clearSelection();
            repaint();
            emit changed();
        } else if (nothingInProgress && state.step.picks.empty()) {
            setTool(0);
        } else {
            cancelStep();
        }
        return true;
    default: break;
    }
    if (key == Qt::Key_A && modifiers == Qt::ControlModifier) {
        selectAll();
        return true;
    }
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier))
        return false;
    switch (key) {
    case Qt::Key_A: setTool(6); return true;
    case Qt::Key_C: setTool(4); return true;
    case Qt::Key_D: setTool(13); return true;
    case Qt::Key_F: setTool(12); return true;
    case Qt::Key_H: setConstraintTool(ConstraintType::Horizontal); return true;
    case Qt::Key_L: setTool(1); return true;
    case Qt::Key_P: setTool(8); return true;
    case Qt::Key_R: setTool(2); return true;
    case Qt::Key_T: setTool(11); return true;
    case Qt::Key_V: setConstraintTool(ConstraintType::Vertical); return true;
    case Qt::Key_X: toggleConstruction(); return true;
    default: return false;
    }
}

void SketchEditor::paintOverlay(QPainter& painter)
{
    if (overlay_->size() != viewer_.size())
        overlay_->setGeometry(viewer_.rect());
    model::Feature* feature = controller_.document->feature(featureId_);
    const SketchPicture picture{sketch(), *mapper_, state, plane_,
                                &controller_.document->sketchRegions(*feature, plane_)};
    paintSketch(painter, picture);
}

} // namespace qor::app
