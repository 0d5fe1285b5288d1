#include "app/MainWindow.h"

#include "app/CommandTable.h"
#include "app/shell/Browser.h"
#include "app/shell/Timeline.h"
#include "expr/Format.h"
#include "model/DocumentController.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <QAction>
#include <QLabel>
#include <QStyle>

#include <Standard_OutOfMemory.hxx>

#include <algorithm>
#include <cstdio>
#include <new>

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
    state.bodiesLeftOut = scene->buildCancelled();
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
        unitBadge->setText(QStringLiteral("%1 Fehler").arg(germanCount(std::uint64_t(failing))));
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
    survivesOutOfMemory(
        [this] {
            scene->rebuild();
            // The rebuild drops picks whose objects are gone, all of them when another
            // document opened; the status line must not go on naming them.
            if (scene->selectedPicks().empty())
                statusRight->clear();
            timeline->update();
            timeline->updateGeometry();
            refreshStatus();
        },
        Scene::outOfMemoryText());
}

void MainWindow::onStructureChanged()
{
    const bool shown = survivesOutOfMemory(
        [this] { browser->rebuild(); },
        QStringLiteral("Zu wenig Arbeitsspeicher: Der Modellbrowser bleibt leer"));
    // A half-built tree would show some entries as if they were all; an empty one frees
    // what it held and says plainly that nothing is listed.
    if (!shown)
        browser->clear();
    timeline->update();
    timeline->updateGeometry();
}

// The controller's change signals and the opening of a file are where the window meets the
// document, so that is where running out of memory is caught: below, the model and the
// toolkit unwind cleanly; above, the event loop cannot carry an exception and the program
// would abort. Catching in QApplication::notify instead would come too late to know which
// step failed and put its part of the window back in order.
bool MainWindow::survivesOutOfMemory(const std::function<void()>& step, const QString& text)
{
    try {
        step();
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const Standard_OutOfMemory&) {
    }
    // Reported after the handler, when what the failed step held is released again.
    reportOutOfMemory(text);
    return false;
}

void MainWindow::reportOutOfMemory(const QString& text)
{
    showToast(text, true);
    // A run without anyone watching (a screenshot, a script) keeps the reason as well.
    std::fprintf(stderr, "QorCAD: %s\n", text.toLocal8Bit().constData());
}

void MainWindow::onViewerInitialized()
{
    scene->rebuild();
    viewer->setViewOrientation(V3d_XposYnegZpos, false);
    viewer->fitAll(false);
}

} // namespace qor::app
