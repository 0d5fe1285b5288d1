#include "app/MainWindow.h"

#include "app/AssemblyCommands.h"
#include "app/Settings.h"
#include "app/shell/Browser.h"
#include "app/shell/Ribbon.h"
#include "model/DocumentController.h"
#include "panels/CommandPanel.h"
#include "panels/MatePanel.h"
#include "panels/dialogs/BomDialog.h"
#include "panels/dialogs/ExplodeDialog.h"
#include "panels/dialogs/MoveComponentDialog.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

#include <algorithm>

namespace qor::app {

namespace {

bool editingFeature(const MainWindow& window)
{
    const QList<CommandPanel*> panels = window.findChildren<CommandPanel*>();
    return std::any_of(panels.begin(), panels.end(),
                       [](const CommandPanel* panel) { return panel->featureId() != 0; });
}

} // namespace

CommandHandler MainWindow::assemblyCommand(const QString& id)
{
    if (id == QStringLiteral("asm_insert"))
        return [this] { insertComponent({}); };
    if (id.startsWith(QStringLiteral("mate_")))
        return [this, type = id.mid(5)] { showMatePanel(type); };
    if (id == QStringLiteral("asm_bom"))
        return [this] { showBom(); };
    if (id == QStringLiteral("asm_explode"))
        return [this] { showExplode(); };
    if (id == QStringLiteral("asm_ground"))
        return [this] { toggleGround(selectedComponent()); };
    if (id == QStringLiteral("asm_move"))
        return [this] { moveComponent(0); };
    return {};
}

void MainWindow::insertComponent(const QString& path)
{
    if (editingFeature(*this) || matePanel)
        return;
    QString file = path;
    if (file.isEmpty()) {
        QSettings settings;
        file = QFileDialog::getOpenFileName(
            this, QStringLiteral("Komponente einfügen"), settings.value(settings::lastDir).toString(),
            QStringLiteral("Bauteile und Baugruppen (*.qcpart *.qcasm *.par *.psm *.asm *.f3d "
                           "*.f3z *.step *.stp *.iges *.igs *.stl *.obj *.x_b *.brep);;Alle "
                           "Dateien (*)"));
        if (file.isEmpty())
            return;
        settings.setValue(settings::lastDir, QFileInfo(file).absolutePath());
    }
    const InsertResult result = insertComponentFile(*controller, file);
    if (!result.ok) {
        QMessageBox::warning(this, QStringLiteral("Komponente einfügen"), result.message);
        return;
    }
    ribbon->setCurrentPage(assemblyPage);
    showToast(result.message, false);
}

void MainWindow::showMatePanel(const QString& type)
{
    if (editingFeature(*this) || matePanel)
        return;
    if (controller->document->components.size() < 2) {
        showToast(QStringLiteral("Für Beziehungen werden mindestens zwei Komponenten benötigt "
                                 "(Baugruppe → Einfügen)"),
                  true);
        return;
    }
    scene->clearSelection();
    auto* panel = new MatePanel(controller, scene, type, viewport);
    matePanel = panel;
    connect(panel, &MatePanel::finished, this, [this] {
        // The panel deletes itself later; from here on it no longer blocks other commands.
        matePanel = nullptr;
        browser->rebuild();
        refreshStatus();
    });
    connect(panel, &MatePanel::toast, this, &MainWindow::showToast);
    connect(viewer, &Viewer::selectionChanged, panel, &MatePanel::onPick);
    panel->move(14, 14);
    panel->show();
    panel->raise();
    refreshStatus();
}

void MainWindow::showBom()
{
    if (controller->document->components.empty()) {
        showToast(QStringLiteral("Die Stückliste gibt es für Baugruppen"), true);
        return;
    }
    BomDialog dialog(controller, this);
    dialog.exec();
}

void MainWindow::showExplode()
{
    if (controller->document->components.empty()) {
        showToast(QStringLiteral("Die Explosionsansicht gibt es für Baugruppen"), true);
        return;
    }
    ExplodeDialog dialog(scene, this);
    dialog.exec();
}

void MainWindow::toggleGround(int componentId)
{
    // Nothing chosen is refused with the same words as moving.
    if (componentId == 0) {
        showToast(moveRefusal(*controller->document, 0), true);
        return;
    }
    const QString text = qor::app::toggleGround(*controller, componentId);
    if (!text.isEmpty())
        showToast(text, false);
}

int MainWindow::selectedComponent() const
{
    return qor::app::selectedComponent(scene->selectedPicks(), browser->selectedItems());
}

void MainWindow::moveComponent(int componentId)
{
    if (componentId == 0)
        componentId = selectedComponent();
    const QString refusal = moveRefusal(*controller->document, componentId);
    if (!refusal.isEmpty()) {
        showToast(refusal, true);
        return;
    }
    finishPendingEdits();
    MoveComponentDialog dialog(controller, componentId, this);
    dialog.exec();
}

} // namespace qor::app
