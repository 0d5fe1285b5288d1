#include "app/MainWindow.h"

#include "app/InterferenceCheck.h"
#include "app/UpdateCheck.h"
#include "model/DocumentController.h"
#include "model/References.h"
#include "panels/CommandPanel.h"
#include "panels/MeasurePanel.h"
#include "panels/dialogs/AppearanceDialog.h"
#include "panels/dialogs/MassPropertiesDialog.h"
#include "panels/dialogs/QorDialog.h"
#include "panels/dialogs/SettingsDialog.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <Standard_Failure.hxx>
#include <gp_Pln.hxx>

#include <optional>

namespace qor::app {

namespace {

constexpr int measureMask = mask::faces | mask::edges | mask::vertices;

// The plane of the first picked face, facing away from the viewer's side of it; nullopt when
// no face is picked or the first one is not planar.
std::optional<gp_Pln> pickedFacePlane(const std::vector<PickInfo>& picks)
{
    for (const PickInfo& pick : picks) {
        if (pick.kind != 1)
            continue;
        try {
            const gp_Ax3 plane = qor::model::facePlane(pick.shape);
            return gp_Pln(plane.Location(), plane.Direction().Reversed());
        } catch (const Standard_Failure&) {
            return std::nullopt;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// The XZ plane moved to the middle of every body of the model.
gp_Pln modelCentrePlane(const qor::model::ModelState& state)
{
    gp_Ax3 plane = qor::model::Document::datumPlane(-2);
    Bnd_Box box;
    for (const auto& [id, body] : state.bodies)
        BRepBndLib::Add(body.shape, box, true);
    if (!box.IsVoid()) {
        double xmin, ymin, zmin, xmax, ymax, zmax;
        box.Get(xmin, ymin, zmin, xmax, ymax, zmax);
        plane.SetLocation(gp_Pnt((xmin + xmax) / 2, (ymin + ymax) / 2, (zmin + zmax) / 2));
    }
    return gp_Pln(plane);
}

bool hasBodies(const DocumentController& controller)
{
    return !controller.document->current.bodies.get().empty();
}

QAction* addMenuEntry(QMenu* menu, const QString& icon, const QString& text)
{
    return menu->addAction(icon.isEmpty() ? QIcon() : Theme::instance().icon(icon), text);
}

} // namespace

CommandHandler MainWindow::toolCommand(const QString& id)
{
    if (id == QStringLiteral("measure"))
        return [this] { toggleMeasure(); };
    if (id == QStringLiteral("mass"))
        return [this] { showMassProperties(); };
    if (id == QStringLiteral("section"))
        return [this] { toggleSection(); };
    if (id == QStringLiteral("interference"))
        return [this] { checkInterference(); };
    if (id == QStringLiteral("appearance"))
        return [this] { showAppearance(0); };
    if (id == QStringLiteral("settings"))
        return [this] { showSettings(); };
    if (id == QStringLiteral("render"))
        return [this] { showRenderDialog(); };
    if (id == QStringLiteral("updates"))
        return [this] { checkForUpdates(true); };
    return {};
}

void MainWindow::finishPendingEdits()
{
    finishSketch(true);
    if (commandPanel && commandPanel->featureId() != 0)
        commandPanel->accept();
}

void MainWindow::showSettings()
{
    SettingsDialog dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        loadSettings();
}

void MainWindow::showRenderDialog()
{
    auto* dialog = new QorDialog(QStringLiteral("Rendern"), QStringLiteral("render"), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(false);
    auto* form = new QFormLayout(dialog->body());
    form->setVerticalSpacing(10);

    auto* quality = new QComboBox;
    quality->addItem(QStringLiteral("Raytracing – Schatten und Spiegelungen (flüssig)"), 1);
    quality->addItem(
        QStringLiteral("Pfadverfolgung – globale Beleuchtung (fotorealistisch, langsam)"), 2);
    form->addRow(QStringLiteral("Qualität"), quality);
    auto* shadows = new QCheckBox(QStringLiteral("Schatten"));
    shadows->setChecked(true);
    form->addRow(QString(), shadows);
    auto* reflections = new QCheckBox(QStringLiteral("Spiegelungen (polierte Oberflächen)"));
    form->addRow(QString(), reflections);
    auto* sizes = new QComboBox;
    sizes->addItem(QStringLiteral("Full HD (1920 × 1080)"), QSize(1920, 1080));
    sizes->addItem(QStringLiteral("4K (3840 × 2160)"), QSize(3840, 2160));
    sizes->addItem(QStringLiteral("Quadratisch (2048 × 2048)"), QSize(2048, 2048));
    sizes->addItem(QStringLiteral("Wie das Fenster"), QSize(-1, -1));
    form->addRow(QStringLiteral("Bildgröße"), sizes);
    auto* hint = new QLabel(QStringLiteral(
        "Die Ansicht bleibt drehbar. Bei Pfadverfolgung wird das Bild nach jeder Bewegung "
        "schrittweise rauschfrei. Ohne Grafikkarte (Software-Rendering) ist das deutlich "
        "langsamer."));
    hint->setObjectName(QStringLiteral("Hint"));
    hint->setWordWrap(true);
    form->addRow(hint);

    dialog->addButton(QStringLiteral("Schließen"));
    QPushButton* save = dialog->addButton(QStringLiteral("Bild speichern …"), true);
    connect(save, &QPushButton::clicked, dialog,
            [this, dialog, sizes] { saveImage(dialog, *sizes); });

    const auto applyMode = [this, quality, shadows, reflections] {
        viewer->setRenderMode(quality->currentData().toInt(), shadows->isChecked(),
                              reflections->isChecked());
        scene->rebuild();
    };
    connect(quality, &QComboBox::currentIndexChanged, dialog, applyMode);
    connect(shadows, &QCheckBox::toggled, dialog, applyMode);
    connect(reflections, &QCheckBox::toggled, dialog, applyMode);
    // Closing in any way, the window's close button included, ends the special rendering.
    connect(dialog, &QDialog::finished, this, [this] {
        viewer->setRenderMode(0, true, true);
        scene->rebuild();
    });
    applyMode();
    dialog->resize(560, 320);
    dialog->show();
}

void MainWindow::showMassProperties()
{
    if (!hasBodies(*controller)) {
        showToast(QStringLiteral("Es gibt noch keine Körper"), true);
        return;
    }
    MassDialog dialog(*controller, this);
    dialog.exec();
}

void MainWindow::showAppearance(int bodyId)
{
    if (!hasBodies(*controller)) {
        showToast(QStringLiteral("Es gibt noch keine Körper"), true);
        return;
    }
    finishPendingEdits();
    if (bodyId == 0) {
        const std::vector<PickInfo> picks = scene->selectedPicks();
        if (!picks.empty() && (picks.front().kind == 1 || picks.front().kind == 2))
            bodyId = picks.front().id;
    }
    AppearanceDialog dialog(*controller, bodyId, this);
    dialog.exec();
}

void MainWindow::toggleMeasure()
{
    if (measurePanel) {
        measurePanel->deleteLater();
        measurePanel = nullptr;
        setPickMask(mask::standard);
        layoutOverlay();
        returnModelFromPanels();
        return;
    }
    auto* panel = new MeasurePanel(this, viewport);
    measurePanel = panel;
    setPickMask(measureMask);
    panel->updateMeasurement(scene->selectedPicks());
    panel->adjustSize();
    panel->move(viewport->width() - panel->width() - 14, 170);
    panel->show();
    panel->raise();
    connect(viewer, &Viewer::selectionChanged, panel,
            [this, panel] { panel->updateMeasurement(scene->selectedPicks()); });
    // The box measures the document it was opened on; "new", "open" or an example close it
    // before the view is fitted to the next document.
    const qor::model::Document* opened = controller->document.get();
    connect(controller, &DocumentController::structureChanged, panel, [this, panel, opened] {
        if (controller->document.get() != opened && measurePanel == panel)
            toggleMeasure();
    });
    layoutOverlay();
    keepModelClearOfPanels();
}

void MainWindow::toggleSection()
{
    sectionOn = !sectionOn;
    if (sectionButton != nullptr)
        sectionButton->setChecked(sectionOn);
    if (!sectionOn) {
        viewer->setSectionPlane(nullptr);
        showToast(QStringLiteral("Schnittansicht aus"), false);
        return;
    }
    if (const std::optional<gp_Pln> plane = pickedFacePlane(scene->selectedPicks())) {
        viewer->setSectionPlane(&*plane);
        showToast(QStringLiteral("Schnitt an der gewählten Fläche"), false);
        return;
    }
    const gp_Pln plane = modelCentrePlane(controller->document->current);
    viewer->setSectionPlane(&plane);
    showToast(QStringLiteral(
                  "Schnitt durch die Modellmitte (XZ) – Fläche wählen für eigene Schnittebene"),
              false);
}

void MainWindow::checkInterference()
{
    const std::vector<CheckedBody> bodies = interferenceBodies(*controller->document);
    if (bodies.size() < 2) {
        showToast(
            QStringLiteral("Für eine Kollisionsprüfung werden mindestens zwei Körper benötigt"),
            true);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const InterferenceReport report = qor::app::checkInterference(bodies);
    QApplication::restoreOverrideCursor();
    // A pair that could not be checked is listed too, so an empty report is a real all-clear.
    if (report.lines.isEmpty()) {
        scene->clearPreview();
        showToast(QStringLiteral("Keine Kollisionen gefunden"), false);
        return;
    }
    if (report.overlaps.IsNull())
        scene->clearPreview();
    else
        scene->showPreview(report.overlaps, QStringLiteral("cut"));
    QMessageBox::information(this, QStringLiteral("Kollisionen"),
                             report.lines.join(QLatin1Char('\n')));
}

void MainWindow::checkForUpdates(bool interactive)
{
    auto* check = new UpdateCheck(this);
    connect(check, &UpdateCheck::finished, this,
            [this, check, interactive](const UpdateResult& result) {
                check->deleteLater();
                if (result.status == UpdateStatus::Available) {
                    offerUpdate(this, result);
                    return;
                }
                if (!interactive)
                    return;
                showToast(result.message, result.status != UpdateStatus::UpToDate);
                // The toolkit's own words stay out of the line, for whoever asks for them.
                toast->findChild<QLabel*>(QStringLiteral("ToastText"))->setToolTip(result.detail);
            });
    check->start(QUrl(qApp->property("updateUrl").toString()));
}

void MainWindow::showViewsMenu(QMenu* menu)
{
    menu->clear();
    connect(
        addMenuEntry(menu, QStringLiteral("save"), QStringLiteral("Aktuelle Ansicht speichern …")),
        &QAction::triggered, this, &MainWindow::saveCurrentView);
    const QJsonArray views = controller->document->views;
    if (views.isEmpty()) {
        addMenuEntry(menu, {}, QStringLiteral("Noch keine gespeicherten Ansichten"))
            ->setEnabled(false);
        return;
    }
    menu->addSeparator();
    QStringList names;
    for (const QJsonValue& value : views) {
        const QJsonObject view = value.toObject();
        const QString name = view.value(u"name").toString();
        connect(addMenuEntry(menu, QStringLiteral("views"), name), &QAction::triggered, this,
                [this, view] { viewer->setCameraState(view, true); });
        if (!names.contains(name))
            names.append(name);
    }
    menu->addSeparator();
    QMenu* remove = menu->addMenu(Theme::instance().icon(QStringLiteral("delete")),
                                  QStringLiteral("Löschen"));
    for (const QString& name : names)
        connect(remove->addAction(name), &QAction::triggered, this,
                [this, name] { deleteView(name); });
}

void MainWindow::saveCurrentView()
{
    finishPendingEdits();
    QJsonArray& views = controller->document->views;
    bool ok = false;
    const QString name
        = QInputDialog::getText(this, QStringLiteral("Ansicht speichern"),
                                QStringLiteral("Name der Ansicht:"), QLineEdit::Normal,
                                QStringLiteral("Ansicht %1").arg(views.size() + 1), &ok)
              .trimmed();
    if (!ok || name.isEmpty())
        return;
    QJsonObject view = viewer->cameraState();
    view.insert(QStringLiteral("name"), name);
    for (qsizetype i = 0; i < views.size(); ++i) {
        if (views.at(i).toObject().value(u"name").toString() == name) {
            views.removeAt(i);
            break;
        }
    }
    views.append(view);
    controller->commit(QStringLiteral("Ansicht speichern"));
    showToast(QStringLiteral("Ansicht „%1“ gespeichert").arg(name), false);
}

void MainWindow::deleteView(const QString& name)
{
    finishPendingEdits();
    QJsonArray& views = controller->document->views;
    for (qsizetype i = views.size() - 1; i >= 0; --i) {
        if (views.at(i).toObject().value(u"name").toString() == name)
            views.removeAt(i);
    }
    controller->commit(QStringLiteral("Ansicht löschen"));
}

} // namespace qor::app
