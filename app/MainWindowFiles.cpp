#include "app/MainWindow.h"

#include "app/shell/Browser.h"
#include "app/shell/Ribbon.h"
#include "expr/Format.h"
#include "io/Export.h"
#include "io/Import.h"
#include "io/NameLinks.h"
#include "io/ShapeText.h"
#include "model/ComponentGeometry.h"
#include "model/DocumentController.h"
#include "panels/CommandPanel.h"
#include "panels/dialogs/AboutDialog.h"
#include "panels/dialogs/ImportReportDialog.h"
#include "ui/FileToWrite.h"
#include "ui/Settings.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressDialog>
#include <QSettings>
#include <QThread>
#include <QToolButton>
#include <QUrl>

#include <TopoDS_Builder.hxx>
#include <TopoDS_Compound.hxx>
#include <V3d_TypeOfOrientation.hxx>

#include <algorithm>
#include <memory>

namespace qor::app {

namespace {

const QString partSuffix = QStringLiteral(".qcpart");
const QString assemblySuffix = QStringLiteral(".qcasm");

// The save test is case-sensitive on purpose: "model.QCPART" opens, but saving asks for a name.
bool hasDocumentSuffix(const QString& path)
{
    return path.endsWith(partSuffix) || path.endsWith(assemblySuffix);
}

// "STL binär (*.stl)" gives "stl", "STEP AP242 (*.step *.stp)" gives "step".
QString filterExtension(const QString& filter)
{
    const qsizetype start = filter.indexOf(QStringLiteral("*."));
    if (start < 0)
        return {};
    QString extension = filter.mid(start + 2);
    extension = extension.left(extension.indexOf(QLatin1Char(' ')));
    return extension.remove(QLatin1Char(')'));
}

struct ImportParameters {
    QJsonObject params;
    int bodyCount = 0;
};

ImportParameters importParameters(const qor::io::ImportResult& result, const QString& path)
{
    TopoDS_Compound compound;
    TopoDS_Builder builder;
    builder.MakeCompound(compound);
    QJsonArray names;
    QJsonArray colors;
    for (const qor::io::ImportedBody& body : result.bodies) {
        builder.Add(compound, body.shape);
        names.append(body.name);
        colors.append(body.hasColor ? QJsonArray{body.r, body.g, body.b} : QJsonArray{});
    }
    return {{{QStringLiteral("file"), QFileInfo(path).fileName()},
             {QStringLiteral("brep"), qor::io::shapeToBase64(compound)},
             {QStringLiteral("names"), names},
             {QStringLiteral("colors"), colors},
             {QStringLiteral("split"), true}},
            int(result.bodies.size())};
}

// Events during a long read or write. A window-modal progress dialog waits its minimum
// duration hidden, and until it shows nothing blocks the window behind it: the user's input
// waits while repaints and timers run. Once it shows, it takes the input itself.
void keepResponsive(const QProgressDialog& progress)
{
    QApplication::processEvents(progress.isVisible() ? QEventLoop::AllEvents
                                                     : QEventLoop::ExcludeUserInputEvents);
}

// The window-modal dialog of a foreign file's read. Reaching the end neither closes it nor
// forgets a cancellation: the caller closes it when the work it stands for is done.
std::unique_ptr<QProgressDialog> readProgressDialog(const QString& label, QWidget* parent)
{
    auto progress
        = std::make_unique<QProgressDialog>(label, QStringLiteral("Abbrechen"), 0, 100, parent);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(400);
    progress->setAutoReset(false);
    progress->setAutoClose(false);
    return progress;
}

// The read runs in a reader process; these calls come several times a second on this
// thread. Once the window-modal dialog shows, it takes the user's input (its cancel button,
// which ends the reader process at once) while the window behind it only repaints; before,
// input waits. It needs no wait cursor. A cancelled dialog has hidden itself and is left
// alone: a value set after would bring it back.
qor::io::ImportResult readWithProgress(const QString& path, QProgressDialog& progress)
{
    return qor::io::importFile(
        path,
        [&progress](int percent, const QString& text) {
            if (!progress.wasCanceled()) {
                progress.setValue(percent);
                if (!text.isEmpty())
                    progress.setLabelText(text);
            }
            keepResponsive(progress);
        },
        [&progress] { return progress.wasCanceled(); });
}

// The recompute of an opened file runs on a worker thread; this thread repaints and keeps
// the dialog, whose bar counts the features. Once the dialog shows, its cancel button takes
// the user's input; the worker then stops at the kernel's next check.
DocumentController::OpenProgress recomputeProgress(QProgressDialog& progress)
{
    return [&progress](int done, int total) {
        if (!progress.wasCanceled()) {
            progress.setMaximum(std::max(total, 1));
            progress.setValue(std::min(done, total));
        }
        keepResponsive(progress);
        return !progress.wasCanceled();
    };
}

QString openCancelledText(const QString& path, const QString& stillOpen)
{
    return QStringLiteral("Öffnen abgebrochen: „%1“ wurde nicht geöffnet, „%2“ bleibt offen")
        .arg(QFileInfo(path).fileName(), stillOpen);
}

QString lateCancelText(const QString& path)
{
    return QStringLiteral("Abbrechen kam zu spät: „%1“ ist schon importiert – Rückgängig "
                          "(Strg+Z) nimmt den Import zurück")
        .arg(QFileInfo(path).fileName());
}

} // namespace

CommandHandler MainWindow::fileCommand(const QString& id)
{
    if (id == QStringLiteral("new")) {
        return [this] {
            if (!askSave())
                return;
            controller->newDocument();
            scene->rebuild();
            viewer->setViewOrientation(V3d_XposYnegZpos, false);
        };
    }
    if (id == QStringLiteral("open"))
        return [this] { openWithDialog(); };
    if (id == QStringLiteral("save"))
        return [this] { save(); };
    if (id == QStringLiteral("saveas"))
        return [this] { saveAs(); };
    if (id == QStringLiteral("import"))
        return [this] { importFile({}); };
    if (id == QStringLiteral("export"))
        return [this] { exportBodies(); };
    if (id == QStringLiteral("quit"))
        return [this] { close(); };
    if (id == QStringLiteral("about")) {
        return [this] {
            AboutDialog dialog(this);
            dialog.exec();
        };
    }
    return {};
}

void MainWindow::buildFileMenu()
{
    QToolButton* fileButton = nullptr;
    for (QToolButton* button : findChildren<QToolButton*>(QStringLiteral("TitleButton"))) {
        if (button->property("fileMenu").toBool())
            fileButton = button;
    }
    auto* menu = new QMenu(this);
    const auto addCommands = [this, menu](std::initializer_list<const char*> ids) {
        for (const char* id : ids)
            menu->addAction(actions.value(QString::fromLatin1(id)));
    };
    const Theme& theme = Theme::instance();
    addCommands({"new", "open", "save", "saveas"});
    menu->addSeparator();
    recentMenu
        = menu->addMenu(theme.icon(QStringLiteral("open")), QStringLiteral("Zuletzt geöffnet"));
    recentMenu->setToolTipsVisible(true);
    connect(recentMenu, &QMenu::aboutToShow, this, &MainWindow::rebuildRecentMenu);
    menu->addSeparator();
    addCommands({"import", "export"});
    menu->addSeparator();
    QMenu* examples
        = menu->addMenu(theme.icon(QStringLiteral("component")), QStringLiteral("Beispiele"));
    for (const auto& [kind, label] :
         {std::pair{"bracket", "Lagerbock"}, {"flange", "Flansch"}, {"housing", "Gehäuse"}}) {
        const QString kindText = QString::fromLatin1(kind);
        examples->addAction(QString::fromUtf8(label), this, [this, kindText] {
            if (askSave())
                createExample(kindText);
        });
    }
    menu->addSeparator();
    addCommands({"updates", "about"});
    menu->addSeparator();
    addCommands({"quit"});
    if (fileButton != nullptr)
        fileButton->setMenu(menu);
    rebuildRecentMenu();
}

void MainWindow::rebuildRecentMenu()
{
    recentMenu->clear();
    if (recent.isEmpty()) {
        recentMenu->addAction(QStringLiteral("(keine)"))->setEnabled(false);
        return;
    }
    for (const QString& listed : recent) {
        // Entries name the real files; one whose name is not text is reached by its bytes.
        const QByteArray bytes = qor::io::lastingPathBytes(listed);
        const QString shown = qor::io::shownName(bytes);
        QAction* entry
            = recentMenu->addAction(QFileInfo(shown).fileName(), this, [this, bytes, shown] {
                  if (askSave())
                      openFileBytes(bytes, shown);
              });
        entry->setToolTip(shown);
    }
}

bool MainWindow::askSave()
{
    finishPendingEdits();
    if (!controller->modified)
        return true;
    QMessageBox box(QMessageBox::Question, QStringLiteral("QorCAD"),
                    QStringLiteral("Änderungen an „%1“ speichern?").arg(controller->displayName()),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.button(QMessageBox::Save)->setText(QStringLiteral("Speichern"));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("Nicht speichern"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save: return save();
    case QMessageBox::Discard: return true;
    default: return false;
    }
}

void MainWindow::openWithDialog()
{
    if (!askSave())
        return;
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Öffnen"), settings::lastDirOrHome(), qor::io::importFilter());
    if (path.isEmpty())
        return;
    settings::rememberFolderOf(path);
    openFile(path);
}

QString MainWindow::reachFileBytes(const QByteArray& path, const QString& shown)
{
    QString error;
    const QString reached = nameLinks.reach(path, shown, error);
    if (reached.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("QorCAD"),
                             QStringLiteral("Datei konnte nicht geöffnet werden:\n") + error);
        return {};
    }
    return QFileInfo(reached).absoluteFilePath();
}

bool MainWindow::openFileBytes(const QByteArray& path, const QString& shown)
{
    const QString reached = reachFileBytes(path, shown);
    return !reached.isEmpty() && openFile(reached);
}

bool MainWindow::openFile(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QStringLiteral("asm"))
        return openSolidEdgeAssembly(path);
    if (suffix == QStringLiteral("qcpart") || suffix == QStringLiteral("qcasm")) {
        QString error;
        auto outcome = DocumentController::OpenOutcome::Failed;
        const qor::model::Document* previous = controller->document.get();
        const std::unique_ptr<QProgressDialog> progress
            = readProgressDialog(QStringLiteral("Bauteil wird berechnet …"), this);
        const bool enoughMemory = survivesOutOfMemory(
            [&] { outcome = controller->open(path, &error, recomputeProgress(*progress)); },
            QStringLiteral("Zu wenig Arbeitsspeicher: „%1“ konnte nicht geöffnet werden")
                .arg(QFileInfo(path).fileName()));
        progress->close();
        if (!enoughMemory) {
            // Failing while reading or computing leaves the previous document open; failing
            // while showing the new one leaves it half shown, and it gives way to an empty one.
            if (controller->document.get() != previous)
                controller->newDocument();
            return false;
        }
        if (outcome == DocumentController::OpenOutcome::Cancelled) {
            showToast(openCancelledText(path, controller->displayName()), false);
            return false;
        }
        if (outcome == DocumentController::OpenOutcome::Failed) {
            QMessageBox::warning(this, QStringLiteral("QorCAD"),
                                 QStringLiteral("Datei konnte nicht geöffnet werden:\n") + error);
            return false;
        }
        // The browser was rebuilt when the document's structure changed.
        addRecentFile(path);
        // The document is open; what memory is short of now is only a view of all of it.
        survivesOutOfMemory(
            [this] {
                viewer->fitAll(false);
                // The commands for what was opened: an assembly's page, else the part page.
                ribbon->setCurrentPage(controller->document->components.empty() ? solidPage
                                                                                : assemblyPage);
            },
            Scene::outOfMemoryText());
        return true;
    }
    if (!qor::io::isImportable(path)) {
        QMessageBox::warning(this, QStringLiteral("QorCAD"),
                             QStringLiteral("Dieses Dateiformat wird nicht unterstützt."));
        return false;
    }
    controller->newDocument();
    controller->document->name = QFileInfo(path).completeBaseName();
    const bool imported = importFile(path);
    updateTitle();
    browser->rebuild();
    return imported;
}

bool MainWindow::save()
{
    if (controller->path.isEmpty() || !hasDocumentSuffix(controller->path))
        return saveAs();
    finishPendingEdits();
    QString error;
    if (!controller->saveAs(controller->path, &error)) {
        QMessageBox::warning(this, QStringLiteral("QorCAD"),
                             QStringLiteral("Speichern fehlgeschlagen:\n") + error);
        return false;
    }
    showToast(QStringLiteral("Gespeichert"), false);
    return true;
}

bool MainWindow::saveAs()
{
    const bool assembly = !controller->document->components.empty();
    const QString suffix = assembly ? assemblySuffix : partSuffix;
    const QString filter = assembly ? QStringLiteral("QorCAD-Baugruppe (*.qcasm)")
                                    : QStringLiteral("QorCAD-Bauteil (*.qcpart)");
    const QString proposed
        = QDir(settings::lastDirOrHome()).filePath(controller->displayName() + suffix);
    const FileToWrite chosen = chooseFileToWrite(
        this, QStringLiteral("Speichern unter"), proposed, filter, nullptr,
        [&suffix](const QString& name) { return hasDocumentSuffix(name) ? name : name + suffix; });
    const QString& path = chosen.path;
    if (path.isEmpty())
        return false;
    settings::rememberFolderOf(path);
    if (!chosen.refusal.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("QorCAD"),
                             QStringLiteral("Speichern fehlgeschlagen:\n") + chosen.refusal);
        return false;
    }

    finishPendingEdits();
    const QString oldFolder = controller->document->folder;
    controller->rebaseComponentPaths(QFileInfo(path).absolutePath());
    QString error;
    if (!controller->saveAs(path, &error)) {
        // The document stays where it was: its paths must keep resolving from there.
        controller->rebaseComponentPaths(oldFolder);
        QMessageBox::warning(this, QStringLiteral("QorCAD"),
                             QStringLiteral("Speichern fehlgeschlagen:\n") + error);
        return false;
    }
    addRecentFile(path);
    // The browser's root carries the document's name, which is now the file's.
    browser->rebuild();
    showToast(QStringLiteral("Gespeichert"), false);
    return true;
}

qor::io::ImportResult MainWindow::readForeignFile(const QString& path, const QString& label,
                                                  bool* userCancelled)
{
    const std::unique_ptr<QProgressDialog> progress = readProgressDialog(label, this);
    qor::io::ImportResult result = readWithProgress(path, *progress);
    if (userCancelled)
        *userCancelled = progress->wasCanceled();
    progress->close();
    return result;
}

void MainWindow::watchComponentReads()
{
    // Component files of foreign formats are read while the assembly recomputes; a large
    // or hostile one shows its progress and can be cancelled like an import.
    qor::model::setComponentFileReader([window = QPointer<MainWindow>(this)](const QString& path) {
        if (!window)
            return qor::io::importFile(path, {});
        const auto read = [&window, &path] {
            return window->readForeignFile(
                path,
                QStringLiteral("Komponente „%1“ wird gelesen …").arg(QFileInfo(path).fileName()),
                nullptr);
        };
        if (QThread::currentThread() == window->thread())
            return read();
        // An opened assembly recomputes on a worker thread. The read's dialog belongs to the
        // window's thread, which meanwhile waits in the open's progress and runs it there.
        qor::io::ImportResult result;
        if (!QMetaObject::invokeMethod(
                window, [&result, &read] { result = read(); }, Qt::BlockingQueuedConnection))
            return qor::io::importFile(path, {});
        return result;
    });
}

void MainWindow::watchSceneBuilds()
{
    // One dialog per build: made when the build first reports, closed when it ends however
    // it ends (done, cancelled or out of memory).
    auto dialog = std::make_shared<QPointer<QProgressDialog>>();
    scene->buildProgress = [this, dialog](int done, int total) {
        // An import shows its bodies in the dialog of its read; a cancel there comes too late
        // to undo the import and leaves the build to show them all.
        if (importProgress_) {
            if (!importProgress_->wasCanceled()) {
                importProgress_->setLabelText(QStringLiteral("Körper werden angezeigt …"));
                importProgress_->setMaximum(total);
                importProgress_->setValue(done);
            }
            keepResponsive(*importProgress_);
            return true;
        }
        QPointer<QProgressDialog>& progress = *dialog;
        if (!progress) {
            progress = new QProgressDialog(QStringLiteral("Körper werden angezeigt …"),
                                           QStringLiteral("Abbrechen"), 0, total, this);
            progress->setWindowModality(Qt::WindowModal);
            progress->setMinimumDuration(400);
            progress->setAutoReset(false);
            progress->setAutoClose(false);
        }
        progress->setMaximum(total);
        progress->setValue(done);
        keepResponsive(*progress);
        return !progress->wasCanceled();
    };
    connect(scene, &Scene::rebuilt, this, [dialog] { delete dialog->data(); });
}

bool MainWindow::importFile(const QString& requestedPath)
{
    QString path = requestedPath;
    if (path.isEmpty()) {
        path = QFileDialog::getOpenFileName(this, QStringLiteral("Importieren"),
                                            settings::lastDirOrHome(), qor::io::importFilter());
        if (path.isEmpty())
            return false;
        settings::rememberFolderOf(path);
    }
    finishPendingEdits();

    const std::unique_ptr<QProgressDialog> progress
        = readProgressDialog(QStringLiteral("Datei wird gelesen …"), this);
    const qor::io::ImportResult result = readWithProgress(path, *progress);
    if (!result.ok) {
        const bool cancelled = progress->wasCanceled();
        progress->close();
        if (cancelled) {
            showToast(QStringLiteral("Import abgebrochen"), false);
        } else {
            ImportInfoDialog report(result, path, this);
            report.exec();
        }
        return false;
    }
    // Encoding the bodies into the feature, computing and showing them takes seconds for a
    // large file: the dialog stays until the document shows them.
    if (!progress->wasCanceled()) {
        progress->setLabelText(QStringLiteral("Körper werden übernommen …"));
        keepResponsive(*progress);
    }
    importProgress_ = progress.get();
    const ImportParameters import = importParameters(result, path);
    qor::model::Feature* feature
        = controller->document->addFeature(QStringLiteral("import"), import.params, -1);
    feature->name = QFileInfo(path).completeBaseName();
    controller->commit(QStringLiteral("Importieren"));
    browser->rebuild();
    viewer->fitAll(true);
    importProgress_ = nullptr;
    // A click on "Abbrechen" while the window was busy arrives now; the read was over by then.
    keepResponsive(*progress);
    const bool cancelledTooLate = progress->wasCanceled();
    progress->close();
    if (cancelledTooLate) {
        showToast(lateCancelText(path), false);
        return true;
    }
    // A reader's notes (faces left out, approximations), all of them, belong beside the
    // count: the bodies may not be all the file held.
    const QString& note = result.warning;
    showToast(QStringLiteral("%1: %2 Körper importiert%3%4")
                  .arg(result.format)
                  .arg(germanCount(std::uint64_t(import.bodyCount)))
                  .arg(result.meshBodies ? QStringLiteral(" (Netzkörper)") : QString())
                  .arg(note.isEmpty() ? QString() : QStringLiteral(" – ") + note),
              false);
    return true;
}

void MainWindow::exportBodies()
{
    const qor::model::Document& document = *controller->document;
    if (document.current.bodies.get().empty()) {
        showToast(QStringLiteral("Es gibt noch keine Körper zum Exportieren"), true);
        return;
    }
    QSettings settings;
    const QString proposed
        = QDir(settings::lastDirOrHome()).filePath(controller->displayName() + ".step");
    QString selectedFilter
        = settings.value(settings::exportFilter, QStringLiteral("STEP AP242 (*.step *.stp)"))
              .toString();
    const FileToWrite chosen = chooseFileToWrite(
        this, QStringLiteral("Exportieren"), proposed, qor::io::exportFilter(), &selectedFilter,
        [&selectedFilter](const QString& name) {
            return QFileInfo(name).suffix().isEmpty()
                       ? name + QLatin1Char('.') + filterExtension(selectedFilter)
                       : name;
        });
    const QString& path = chosen.path;
    if (path.isEmpty())
        return;
    settings.setValue(settings::exportFilter, selectedFilter);
    settings::rememberFolderOf(path);
    if (!chosen.refusal.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("QorCAD"), chosen.refusal);
        return;
    }

    // Browser menu: one body by id, also when hidden; otherwise every visible body.
    const int only = property("exportBody").toInt();
    std::vector<qor::io::ExportBody> bodies;
    for (const auto& [id, body] : document.current.bodies) {
        const auto hidden = document.hidden.find(id);
        const bool wanted
            = only != 0 ? id == only : hidden == document.hidden.end() || !hidden->second;
        if (!wanted)
            continue;
        const qor::model::BodyAppearance look = document.bodyAppearance(id);
        bodies.push_back({document.bodyName(id), body.shape, look.r, look.g, look.b});
    }
    qor::io::ExportOptions options;
    options.linearDeflection
        = settings.value(settings::meshQuality, settings::defaultMeshQuality).toDouble();
    options.author = qEnvironmentVariable("USER");

    // A long export (meshing, the STEP check) shows its stages and can be cancelled;
    // the dialog is window-modal, so no other command starts meanwhile.
    QProgressDialog progress(QStringLiteral("Datei wird geschrieben …"),
                             QStringLiteral("Abbrechen"), 0, 100, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    // The stages run through the range more than once (a rewritten STEP file): reaching
    // the end must neither close the dialog nor forget a cancellation.
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    QString error;
    QString note;
    const bool written = qor::io::exportFile(
        path, bodies, options, &error, &note,
        [&progress](int percent, const QString& text) {
            progress.setValue(percent);
            if (!text.isEmpty())
                progress.setLabelText(text);
            keepResponsive(progress);
        },
        [&progress] { return progress.wasCanceled(); });
    const bool cancelled = progress.wasCanceled();
    progress.close();
    if (!written) {
        // Cancelling was the user's own choice: a toast says it, no warning box.
        if (cancelled)
            showToast(QStringLiteral("Export abgebrochen"), false);
        else
            QMessageBox::warning(this, QStringLiteral("QorCAD"), error);
        return;
    }
    const QString done = QStringLiteral("%1 Körper nach %2 exportiert")
                             .arg(germanCount(bodies.size()))
                             .arg(QFileInfo(path).fileName());
    // What the file lacks or changes must not pass by in a toast.
    if (!note.isEmpty())
        QMessageBox::information(this, QStringLiteral("QorCAD"),
                                 done + QStringLiteral(".\n\nHinweis: ") + note);
    else
        showToast(done, false);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!askSave()) {
        event->ignore();
        return;
    }
    saveWindowGeometry();
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile())
            continue;
        // The address keeps the name's bytes in its escapes; the decoded path would lose
        // those of a name that is not UTF-8.
        const QByteArray bytes
            = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        const QString path = qor::io::shownName(bytes);
        if (path.endsWith(partSuffix) || path.endsWith(assemblySuffix)
            || path.endsWith(QStringLiteral(".asm"))) {
            if (askSave())
                openFileBytes(bytes, path);
        } else if (qor::io::isImportable(path)) {
            if (const QString reached = reachFileBytes(bytes, path); !reached.isEmpty())
                importFile(reached);
        }
    }
    event->acceptProposedAction();
}

} // namespace qor::app
