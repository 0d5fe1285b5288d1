#include "app/MainWindow.h"

#include "ui/theme/Theme.h"
#include "model/DocumentController.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <QAction>
#include <QLabel>

namespace qor::app {

namespace {

constexpr int defaultPickMask = 51;
constexpr int planePickMask = 0x11;

} // namespace

CommandHandler MainWindow::sketchCommand(const QString& id)
{
    // Undo and redo act on the editor's own snapshots while a sketch is open.
    if (id == QStringLiteral("undo"))
        return [this] { sketchEditor ? sketchEditor->undo() : controller->undo(); };
    if (id == QStringLiteral("redo"))
        return [this] { sketchEditor ? sketchEditor->redo() : controller->redo(); };
    if (id == QStringLiteral("sketch"))
        return [this] { newSketch({}); };
    if (id == QStringLiteral("sk_finish"))
        return [this] { finishSketch(true); };
    if (id == QStringLiteral("sk_cancel"))
        return [this] { finishSketch(false); };
    if (id == QStringLiteral("sk_construction"))
        return [this] {
            if (sketchEditor)
                sketchEditor->toggleConstruction();
        };
    const CommandSpec* spec = findCommand(id);
    if (spec && spec->group == CommandGroup::SketchTool) {
        const int tool = spec->code;
        return [this, tool] {
            if (sketchEditor)
                sketchEditor->setTool(tool);
        };
    }
    if (spec && spec->group == CommandGroup::Constraint) {
        const auto type = sketch::ConstraintType(spec->code);
        return [this, type] {
            if (sketchEditor)
                sketchEditor->setConstraintTool(type);
        };
    }
    return {};
}

void MainWindow::newSketch(const QJsonObject& planeReference)
{
    if (sketchEditor)
        return;
    if (planeReference.isEmpty()) {
        setProperty("pickPlane", true);
        setPickMask(planePickMask);
        // The browser stays as it is: rows that moved now would take a click aimed at them.
        // Its origin group lists the planes for those inside a body's outline.
        scene->setOriginVisible(true);
        if (controller->document->current.bodies.empty())
            viewer->fitAll(true);
        showToast(QStringLiteral("Ebene oder ebene Fläche für die Skizze wählen"), false);
        setStatusText(QStringLiteral("Skizze: Ebene oder ebene Fläche anklicken · Esc bricht ab"));
        return;
    }
    scene->setOriginVisible(false);
    const model::Feature* feature = controller->document->addSketch(planeReference, -1);
    controller->recompute();
    enterSketch(feature->id);
    setProperty("newSketch", feature->id);
}

void MainWindow::enterSketch(int featureId)
{
    model::Document& document = *controller->document;
    if (sketchEditor || !document.feature(featureId))
        return;
    setProperty("savedRollback", document.rollback);
    setProperty("newSketch", 0);
    const int next = document.featureIndex(featureId) + 1;
    document.rollback = next < int(document.features.size()) ? next : -1;
    controller->recompute();

    scene->editingSketch = featureId;
    scene->setOriginVisible(false);
    setPickMask(0);
    scene->rebuild();

    sketchEditor = std::make_unique<SketchEditor>(*controller, *viewer, scene, featureId);
    connect(sketchEditor.get(), &SketchEditor::changed, this, &MainWindow::refreshStatus);
    connect(sketchEditor.get(), &SketchEditor::toolChanged, this, &MainWindow::refreshStatus);
    connect(sketchEditor.get(), &SketchEditor::finishRequested, this,
            [this] { finishSketch(true); });
    connect(sketchEditor.get(), &SketchEditor::message, this, &MainWindow::showToast);
    viewer->lookAt(sketchEditor->plane(), true);

    setSketchRibbon(true);
    sketchHud->show();
    setStatusText(QStringLiteral("Skizze: L Linie · R Rechteck · C Kreis · A Bogen · D Bemaßung "
                                 "· T Stutzen · X Konstruktion · Enter beendet"));
    refreshStatus();
    layoutOverlay();
    viewer->setFocus(Qt::OtherFocusReason);
}

void MainWindow::finishSketch(bool apply)
{
    if (!sketchEditor)
        return;
    const int featureId = sketchEditor->featureId();
    sketchEditor.reset();
    model::Document& document = *controller->document;
    document.rollback = property("savedRollback").toInt();

    scene->editingSketch = 0;
    sketchHud->hide();
    setSketchRibbon(false);
    setPickMask(defaultPickMask);

    const model::Feature* feature = document.feature(featureId);
    const bool keep = apply && (!feature || !feature->sketch->entities.empty());
    if (keep) {
        controller->commit(feature ? feature->name + QStringLiteral(" bearbeiten")
                                   : QStringLiteral("Skizze"));
        if (featureId == property("newSketch").toInt())
            showToast(QStringLiteral("Skizze fertig – mit E extrudieren"), false);
    } else {
        controller->revert();
    }
    setProperty("newSketch", 0);
    setStatusText(QStringLiteral("Bereit"));
    refreshStatus();
}

void MainWindow::refreshSketchHud()
{
    const Theme& theme = Theme::instance();
    const model::Feature* feature = controller->document->feature(sketchEditor->featureId());
    const bool open = sketchEditor->state.dof != 0 || !sketchEditor->state.conflicting.empty();
    hudLabel->setText(QStringLiteral("<b>%1</b> &nbsp;<span style='color:%2'>%3</span><br>"
                                     "<span style='color:%4;font-size:11px'>%5</span>")
                          .arg(feature ? feature->name.toHtmlEscaped() : QString(),
                               (open ? theme.accent : theme.success).name(),
                               sketchEditor->statusText(), theme.textMute.name(),
                               sketchEditor->promptText().toHtmlEscaped()));
    layoutOverlay();
}

} // namespace qor::app
