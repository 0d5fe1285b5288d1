#include "app/MainWindow.h"

#include "app/AssemblyCommands.h"
#include "app/shell/Browser.h"
#include "app/shell/Ribbon.h"
#include "io/CountTexts.h"
#include "expr/Format.h"
#include "io/SolidEdgeAssembly.h"
#include "model/DocumentController.h"
#include "model/ExecContext.h"
#include "panels/MatePanel.h"
#include "panels/dialogs/BomDialog.h"
#include "panels/dialogs/ExplodeDialog.h"
#include "panels/dialogs/MoveComponentDialog.h"
#include "ui/Settings.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <Bnd_Box.hxx>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>

namespace qor::app {

namespace {

// "Welle.par:1" becomes "Welle:1", as the components of inserted files are named.
QString solidEdgeComponentName(QString occurrence)
{
    for (const char* suffix : {".par:", ".psm:", ".asm:"})
        occurrence.replace(QLatin1String(suffix), QStringLiteral(":"));
    return occurrence;
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
    // A commit inside sketch mode would be taken apart by the sketch's own undo.
    if (editingBlocked())
        return;
    QString file = path;
    if (file.isEmpty()) {
        file = QFileDialog::getOpenFileName(
            this, QStringLiteral("Komponente einfügen"), settings::lastDirOrHome(),
            QStringLiteral("Bauteile und Baugruppen (*.qcpart *.qcasm *.par *.psm *.asm *.f3d "
                           "*.f3z *.step *.stp *.iges *.igs *.stl *.obj *.x_b *.brep);;Alle "
                           "Dateien (*)"));
        if (file.isEmpty())
            return;
        settings::rememberFolderOf(file);
    }
    const bool first = controller->document->components.empty();
    const InsertResult result = insertComponentFile(*controller, file);
    if (!result.ok) {
        QMessageBox::warning(this, QStringLiteral("Komponente einfügen"), result.message);
        return;
    }
    // The first component may lie anywhere, and a later one, placed beside the others, may
    // reach out of the view: the view then frames the whole assembly.
    if (first || !viewer->showsWhole(qor::model::modelBox(controller->document->current)))
        viewer->fitAll(true);
    ribbon->setCurrentPage(assemblyPage);
    showToast(result.message, result.incomplete);
}

bool MainWindow::openSolidEdgeAssembly(const QString& path)
{
    QString error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<qor::io::SolidEdgeOccurrence> occurrences
        = qor::io::readSolidEdgeAssembly(path, &error);
    QApplication::restoreOverrideCursor();
    if (occurrences.empty()) {
        QMessageBox::warning(this, QStringLiteral("Solid-Edge-Baugruppe"),
                             QStringLiteral("Die Baugruppe konnte nicht gelesen werden:\n")
                                 + error);
        return false;
    }

    const QFileInfo file(path);
    controller->newDocument();
    qor::model::Document& doc = *controller->document;
    doc.name = file.completeBaseName();
    doc.folder = file.absolutePath();
    QStringList missing;
    for (const qor::io::SolidEdgeOccurrence& occurrence : occurrences) {
        qor::model::Component component;
        component.id = ++doc.nextId;
        component.name = solidEdgeComponentName(occurrence.name);
        component.path = QDir(doc.folder).relativeFilePath(occurrence.filePath);
        component.m = occurrence.placement;
        component.grounded = true;
        doc.components.push_back(component);
        // The component stays: it gets its bodies once the part is put beside the assembly.
        if (!QFileInfo::exists(occurrence.filePath))
            missing.append(QFileInfo(occurrence.filePath).fileName());
    }
    {
        QProgressDialog progress(QStringLiteral("Bauteile werden geladen …"), QString(), 0, 0,
                                 this);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(300);
        QApplication::processEvents();
        // The commit's recompute loads every part.
        controller->commit(QStringLiteral("Solid-Edge-Baugruppe öffnen"));
    }
    updateTitle();
    browser->rebuild();
    viewer->fitAll(false);
    addRecentFile(path);

    missing.removeDuplicates();
    const qsizetype count = qsizetype(occurrences.size());
    // The window shows the assembly page before a note on missing parts is read.
    ribbon->setCurrentPage(assemblyPage);
    if (missing.isEmpty()) {
        showToast(QStringLiteral("%1 aus Solid Edge geladen")
                      .arg(io::countText(count, QStringLiteral("Komponente"),
                                         QStringLiteral("Komponenten"))),
                  false);
    } else {
        QMessageBox::information(
            this, QStringLiteral("Solid-Edge-Baugruppe"),
            QStringLiteral("%1 geladen. Nicht gefunden (bitte neben die Baugruppe "
                           "legen):\n%2")
                .arg(io::countText(count, QStringLiteral("Komponente"),
                                   QStringLiteral("Komponenten")),
                     missing.join(QLatin1Char('\n'))));
    }
    return true;
}

void MainWindow::showMatePanel(const QString& type)
{
    if (editingBlocked())
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
        layoutOverlay();
        returnModelFromPanels();
    });
    connect(panel, &MatePanel::toast, this, &MainWindow::showToast);
    connect(viewer, &Viewer::selectionChanged, panel, &MatePanel::onPick);
    panel->move(14, 14);
    panel->show();
    panel->raise();
    refreshStatus();
    layoutOverlay();
    keepModelClearOfPanels();
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
