#include "app/MainWindow.h"

#include "app/BodyClipboard.h"
#include "app/shell/Browser.h"
#include "app/shell/Timeline.h"
#include "expr/Format.h"
#include "model/DocumentController.h"
#include "model/FeatureDef.h"
#include "model/References.h"
#include "model/ShapeSignature.h"
#include "model/SketchVisibility.h"
#include "panels/CommandPanel.h"
#include "panels/MatePanel.h"
#include "panels/dialogs/ParametersDialog.h"
#include "panels/dialogs/QorDialog.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QJsonArray>
#include <QMimeData>
#include <QProcess>
#include <QTimer>

#include <V3d_TypeOfOrientation.hxx>

#include <cmath>
#include <set>

namespace qor::app {

namespace {

using qor::model::Document;
using qor::model::Feature;

constexpr int bodyFlashMs = 900;

// End of the computed history: the rollback index when set (capped), else all features.
int effectiveEnd(const Document& document)
{
    const int count = static_cast<int>(document.features.size());
    return document.rollback >= 0 ? std::min(document.rollback, count) : count;
}

// The last sketch before the end of the computed history; null when there is none.
Feature* lastSketch(const Document& document)
{
    for (int i = effectiveEnd(document) - 1; i >= 0; --i) {
        if (document.features[i]->type == QStringLiteral("sketch"))
            return document.features[i].get();
    }
    return nullptr;
}

bool usedLater(const Document& document, const Feature& sketch)
{
    const int end = effectiveEnd(document);
    for (int i = document.featureIndex(sketch.id) + 1; i < end; ++i) {
        std::set<int> ids;
        qor::model::collectSketchRefs(document.features[i]->params, ids);
        if (ids.count(sketch.id) > 0)
            return true;
    }
    return false;
}

// The material regions of the last sketch when no later feature uses it yet.
QJsonArray freeSketchProfile(Document& document)
{
    Feature* sketch = lastSketch(document);
    if (sketch == nullptr || usedLater(document, *sketch))
        return {};
    const auto& results = document.current.sketches.get();
    const auto result = results.find(sketch->id);
    if (result == results.end())
        return {};
    QJsonArray profile;
    for (const auto& region : document.sketchRegions(*sketch, result->second.plane)) {
        if (region.outer)
            profile.append(QJsonObject{
                {QStringLiteral("kind"), QStringLiteral("region")},
                {QStringLiteral("sketch"), sketch->id},
                {QStringLiteral("pt"), QJsonArray{region.interior.x, region.interior.y}}});
    }
    return profile;
}

// Faces and edges picked in the view go into the feature's face and edge lists.
void takeOverPicks(const qor::model::FeatureDef& def, const std::vector<PickInfo>& picks,
                   QJsonObject& params)
{
    QJsonArray faces;
    QJsonArray edges;
    for (const PickInfo& pick : picks) {
        if (pick.kind == 1)
            faces.append(qor::model::faceRef(pick.id, pick.shape));
        else if (pick.kind == 2)
            edges.append(qor::model::edgeRef(pick.id, pick.shape));
    }
    for (const qor::model::ParamDef& param : def.params) {
        if (param.kind == qor::model::ParamKind::Edges && !edges.isEmpty())
            params.insert(param.key, edges);
        else if (param.kind == qor::model::ParamKind::Faces && !faces.isEmpty())
            params.insert(param.key, faces);
    }
}

std::set<int> failingFeatures(const Document& document)
{
    std::set<int> ids;
    for (const auto& feature : document.features) {
        if (!feature->error.isEmpty())
            ids.insert(feature->id);
    }
    return ids;
}

} // namespace

void MainWindow::buildFeatureWiring()
{
    commandPanel = new CommandPanel(controller, scene, viewport);
    auto* shadow = new QGraphicsDropShadowEffect(commandPanel);
    shadow->setBlurRadius(28);
    shadow->setOffset(0, 6);
    shadow->setColor(QColor(0, 0, 0, 150));
    commandPanel->setGraphicsEffect(shadow);
    connect(commandPanel, &CommandPanel::finished, this, &MainWindow::onCommandPanelFinished);
    connect(commandPanel, &CommandPanel::previewUpdated, this, &MainWindow::fitFirstSolid);

    connect(viewer, &Viewer::selectionChanged, this, &MainWindow::onViewerSelection);
    connect(viewer, &Viewer::contextMenuAt, this, &MainWindow::showViewportMenu);
    connect(timeline, &Timeline::editRequested, this, &MainWindow::editFeature);
    connect(timeline, &Timeline::selected, this, &MainWindow::onTimelineSelected);
    connect(timeline, &Timeline::rollbackRequested, this, &MainWindow::rollTimelineTo);
    connect(timeline, &Timeline::contextRequested, this, &MainWindow::showTimelineMenu);
    connect(browser, &Browser::toggleVisible, this, &MainWindow::onBrowserToggleVisible);
    connect(browser, &Browser::originToggled, this, &MainWindow::onBrowserOriginToggled);
    connect(browser, &Browser::editRequested, this, &MainWindow::onBrowserEdit);
    connect(browser, &Browser::contextRequested, this, &MainWindow::showBrowserMenu);
    connect(browser, &Browser::bodySelected, this, &MainWindow::onBrowserBodySelected);
    connect(browser, &Browser::planeClicked, this, &MainWindow::onBrowserPlaneClicked);
    // Leaving sketch mode ends with a commit or a revert; both recompute.
    connect(controller, &DocumentController::changed, this, &MainWindow::markEditedFeature);

    launchInstance = [](const QString& path) {
        QProcess::startDetached(QCoreApplication::applicationFilePath(), {path});
    };
}

CommandHandler MainWindow::featureCommand(const QString& id)
{
    const CommandSpec* spec = findCommand(id);
    if (spec != nullptr && spec->group == CommandGroup::Feature) {
        const QString type = spec->target;
        return [this, type] { createFeature(type, {}); };
    }
    if (id == QStringLiteral("copy"))
        return [this] { copyBodies(); };
    if (id == QStringLiteral("paste"))
        return [this] { pasteBodies(); };
    if (id == QStringLiteral("parameters"))
        return [this] { showParameters(); };
    return {};
}

bool MainWindow::editingBlocked() const
{
    return scene->editingSketch != 0 || commandPanel->featureId() != 0 || !matePanel.isNull();
}

void MainWindow::createFeature(const QString& type, QJsonObject params)
{
    if (scene->editingSketch != 0 || commandPanel->featureId() != 0)
        return;
    Document& document = *controller->document;
    if (const qor::model::FeatureDef* def = qor::model::findFeatureDef(type)) {
        if (!document.current.bodies.get().empty() && def->findParam(QStringLiteral("op"))
            && !params.contains(QStringLiteral("op")) && type != QStringLiteral("combine"))
            params.insert(QStringLiteral("op"), QStringLiteral("join"));
        takeOverPicks(*def, scene->selectedPicks(), params);
    }
    if ((type == QStringLiteral("extrude") || type == QStringLiteral("revolve"))
        && !params.contains(QStringLiteral("profile"))) {
        const QJsonArray profile = freeSketchProfile(document);
        if (!profile.isEmpty())
            params.insert(QStringLiteral("profile"), profile);
    }
    if (type == QStringLiteral("hole") && !params.contains(QStringLiteral("points"))) {
        if (const Feature* sketch = lastSketch(document))
            params.insert(QStringLiteral("points"),
                          QJsonObject{{QStringLiteral("kind"), QStringLiteral("sketch")},
                                      {QStringLiteral("id"), sketch->id}});
    }
    scene->clearSelection();
    bool alongAxis = false;
    if (type == QStringLiteral("extrude") || type == QStringLiteral("revolve")
        || type == QStringLiteral("hole")) {
        // Looking along a main axis a new solid shows as a flat outline.
        double x = 0.0, y = 0.0, z = 0.0;
        viewer->view()->Proj(x, y, z);
        const double length = std::sqrt(x * x + y * y + z * z);
        alongAxis
            = length > 0.0 && std::max({std::abs(x), std::abs(y), std::abs(z)}) / length > 0.99;
    }
    const bool firstSolid = document.current.bodies.get().empty();
    const Feature* feature = document.addFeature(type, params);
    controller->recompute();
    commandPanel->open(feature->id, true);
    markEditedFeature();
    refreshStatus();
    layoutOverlay();
    // The view turns and fits once the panel shows the new solid, so that the fit frames the
    // solid rather than the flat sketch, clear of the panel.
    firstSolidPending_ = firstSolid;
    turnToDepth_ = alongAxis;
    fitFirstSolid();
    if (!firstSolid && !alongAxis)
        keepModelClearOfPanels();
}

void MainWindow::fitFirstSolid()
{
    if (!firstSolidPending_ && !turnToDepth_)
        return;
    const bool shown
        = !controller->document->current.bodies.get().empty() || !scene->previewObject().IsNull();
    // Without a solid yet (the panel still waits for a profile) only the turn is made now;
    // the fit follows the first preview. Either keeps the model clear of the open panel, and
    // the panel's closing gives it the whole view back.
    if (turnToDepth_) {
        turnToDepth_ = false;
        viewer->setViewOrientation(V3d_XposYnegZpos, true);
        fittedForPanel_ = true;
        if (shown)
            firstSolidPending_ = false;
        return;
    }
    if (!shown)
        return;
    firstSolidPending_ = false;
    viewer->fitAll(true);
    fittedForPanel_ = true;
}

void MainWindow::editFeature(int featureId)
{
    const Feature* feature = controller->document->feature(featureId);
    if (feature == nullptr || scene->editingSketch != 0 || commandPanel->featureId() != 0)
        return;
    // Sketches open in sketch mode; the feature panel has no form for them.
    if (feature->type == QStringLiteral("sketch")) {
        enterSketch(featureId);
        markEditedFeature();
        return;
    }
    commandPanel->open(featureId, false);
    markEditedFeature();
    refreshStatus();
    layoutOverlay();
    keepModelClearOfPanels();
}

void MainWindow::deleteFeature(int featureId)
{
    Document& document = *controller->document;
    const Feature* feature = document.feature(featureId);
    if (feature == nullptr || editingBlocked())
        return;
    const QString name = feature->name;
    const std::set<int> failedBefore = failingFeatures(document);
    document.removeFeature(featureId);
    controller->commit(name + QStringLiteral(" löschen"));
    int broken = 0;
    for (int id : failingFeatures(*controller->document))
        broken += failedBefore.count(id) == 0 ? 1 : 0;
    if (broken > 0)
        showToast(QStringLiteral("%1 gelöscht – %2 abhängige(s) Feature(s) haben jetzt Fehler "
                                 "(Rückgängig mit Strg+Z)")
                      .arg(name)
                      .arg(germanCount(std::uint64_t(broken))),
                  true);
    else
        showToast(name + QStringLiteral(" gelöscht"), false);
}

void MainWindow::renameBody(int bodyId)
{
    if (editingBlocked())
        return;
    bool ok = false;
    const QString text
        = QorDialog::getText(this, QStringLiteral("Körper umbenennen"), QStringLiteral("Name"),
                             controller->document->bodyName(bodyId), &ok)
              .trimmed();
    if (!ok || text.isEmpty())
        return;
    controller->document->bodyNames[bodyId] = text;
    controller->commit(QStringLiteral("Körper umbenennen"));
}

void MainWindow::copyBodies()
{
    if (scene->editingSketch != 0)
        return;
    CopiedBodies copied
        = qor::app::copyBodies(*controller->document, pickedBodyIds(scene->selectedPicks()));
    if (copied.data)
        QGuiApplication::clipboard()->setMimeData(copied.data.release());
    showToast(copied.message, copied.error);
}

void MainWindow::pasteBodies()
{
    if (scene->editingSketch != 0 || commandPanel->featureId() != 0)
        return;
    const PastedBodies pasted
        = qor::app::pasteBodies(*controller, QGuiApplication::clipboard()->mimeData());
    if (pasted.featureId != 0)
        browser->rebuild();
    if (!pasted.message.isEmpty())
        showToast(pasted.message, pasted.error);
}

void MainWindow::showParameters()
{
    if (scene->editingSketch != 0 || commandPanel->featureId() != 0)
        return;
    ParametersDialog dialog(controller, this);
    dialog.exec();
}

void MainWindow::onCommandPanelFinished()
{
    firstSolidPending_ = false;
    turnToDepth_ = false;
    commandPanel->hide();
    markEditedFeature();
    refreshStatus();
    layoutOverlay();
    returnModelFromPanels();
}

void MainWindow::markEditedFeature()
{
    const int edited = scene->editingSketch != 0 ? scene->editingSketch : commandPanel->featureId();
    if (edited == editMark_)
        return;
    // A cell the user clicked during the edit keeps its mark.
    if (edited != 0 || timeline->markedFeature() == editMark_)
        timeline->setMarkedFeature(edited);
    editMark_ = edited;
}

void MainWindow::openComponentInNewWindow(int componentId)
{
    const Document& document = *controller->document;
    const qor::model::Component* component = document.component(componentId);
    if (component != nullptr && !component->path.isEmpty())
        launchInstance(QDir(document.folder).absoluteFilePath(component->path));
}

void MainWindow::onTimelineSelected(int featureId)
{
    if (commandPanel->featureId() != 0)
        commandPanel->onTimelineFeature(featureId);
}

void MainWindow::onBrowserEdit(int kind, int id)
{
    switch (kind) {
    case 7:
    case 9:
    case 10: editFeature(id); break;
    case 3: showParameters(); break;
    case 5: showAppearance(id); break;
    default: break;
    }
}

void MainWindow::onBrowserOriginToggled(bool on)
{
    scene->setOriginVisible(on);
    browser->setOriginVisible(on);
}

void MainWindow::onBrowserBodySelected(int bodyId)
{
    scene->clearSelection();
    scene->highlightBody(bodyId, true);
    // Each flash ends on its own timer, so a second body chosen meanwhile keeps its full time.
    QTimer::singleShot(bodyFlashMs, this, [this, bodyId] { scene->highlightBody(bodyId, false); });
}

void MainWindow::lookAtSelection()
{
    if (sketchEditor) {
        viewer->lookAt(sketchEditor->plane(), true);
        return;
    }
    for (const PickInfo& pick : scene->selectedPicks()) {
        if (pick.kind != 1)
            continue;
        try {
            viewer->lookAt(qor::model::facePlane(pick.shape), true);
        } catch (const qor::model::FeatureError&) {
            // A curved face has no plane to look at; the button then does nothing.
        }
        return;
    }
}

} // namespace qor::app
