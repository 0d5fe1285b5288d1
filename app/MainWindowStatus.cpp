#include "app/MainWindow.h"

#include "app/CommandTable.h"
#include "app/shell/Browser.h"
#include "app/shell/Timeline.h"
#include "model/DocumentController.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <QAction>
#include <QLabel>
#include <QStyle>

#include <algorithm>

namespace qor::app {

void MainWindow::updateTitle()
{
    const QString name = controller->displayName();
    const bool modified = controller->modified;
    docTitleLabel->setText(QStringLiteral("<span style='color:%1'>%2</span>%3")
                               .arg(Theme::instance().text.name(), name.toHtmlEscaped(),
                                    modified ? QStringLiteral(" •") : QString()));
    setWindowTitle(
        QStringLiteral("%1%2 – QorCAD").arg(name, modified ? QStringLiteral(" *") : QString()));
}

void MainWindow::refreshStatus()
{
    CommandState state;
    state.sketchOpen = scene->editingSketch != 0;
    state.busy = editingBlocked();
    state.documentCanUndo = controller->index > 0;
    state.documentCanRedo = controller->index + 1 < static_cast<int>(controller->history.size());
    state.undoLabel = controller->undoText();
    state.sketchOpen = sketchEditor != nullptr;
    if (sketchEditor) {
        state.sketchCanUndo = !sketchEditor->history.undoStack.empty();
        state.sketchCanRedo = !sketchEditor->history.redoStack.empty();
        refreshSketchHud();
    }
    refreshCommands(actions, state);

    const auto& features = controller->document->features;
    const auto failing = std::count_if(features.begin(), features.end(), [](const auto& feature) {
        return !feature->error.isEmpty();
    });
    if (failing > 0) {
        unitBadge->setObjectName(QStringLiteral("BadgeDanger"));
        unitBadge->setText(QStringLiteral("%1 Fehler").arg(failing));
    } else {
        unitBadge->setObjectName(QStringLiteral("Badge"));
        unitBadge->setText(QStringLiteral("mm · g"));
    }
    unitBadge->style()->unpolish(unitBadge);
    unitBadge->style()->polish(unitBadge);
}

void MainWindow::refreshAll()
{
    scene->rebuild();
    browser->rebuild();
    timeline->update();
    timeline->updateGeometry();
    refreshStatus();
}

void MainWindow::onDocumentChanged()
{
    scene->rebuild();
    // The rebuild drops picks whose objects are gone, all of them when another document
    // opened; the status line must not go on naming them.
    if (scene->selectedPicks().empty())
        statusRight->clear();
    timeline->update();
    timeline->updateGeometry();
    refreshStatus();
}

void MainWindow::onStructureChanged()
{
    browser->rebuild();
    timeline->update();
    timeline->updateGeometry();
}

void MainWindow::onViewerInitialized()
{
    scene->rebuild();
    viewer->setViewOrientation(V3d_XposYnegZpos, false);
    viewer->fitAll(false);
}

} // namespace qor::app
