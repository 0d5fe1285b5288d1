#include "app/MainWindow.h"

#include "app/shell/Browser.h"
#include "expr/Format.h"
#include "model/DocumentController.h"
#include "model/References.h"
#include "model/ShapeSignature.h"
#include "panels/CommandPanel.h"
#include "panels/MatePanel.h"
#include "view/Scene.h"
#include "view/sketch/SketchEditor.h"

#include <QLabel>

namespace qor::app {

namespace {

// The status line's words for what is picked.
QString selectionText(const qor::model::Document& document, const std::vector<PickInfo>& picks)
{
    if (picks.empty())
        return {};
    if (picks.size() > 1)
        return QStringLiteral("%1 Elemente ausgewählt").arg(germanCount(picks.size()));
    const PickInfo& pick = picks.front();
    switch (pick.kind) {
    case 1: return QStringLiteral("Fläche · ") + document.bodyName(pick.id);
    case 2: return QStringLiteral("Kante · ") + document.bodyName(pick.id);
    case 3: return QStringLiteral("Punkt · ") + document.bodyName(pick.id);
    case 4: return document.bodyName(pick.id);
    case 5: return qor::model::Document::datumName(pick.id);
    default: return QStringLiteral("1 Element");
    }
}

} // namespace

// Why a picked face gives no sketch plane: a mesh body's face by the body's
// name, any other face as not planar.
QString MainWindow::facePlaneRefusal(const PickInfo& pick) const
{
    try {
        qor::model::refuseMeshPlane(controller->document->current, pick.id,
                                    QStringLiteral("Skizze nicht möglich"));
    } catch (const qor::model::FeatureError& refusal) {
        return QString::fromUtf8(refusal.what());
    }
    return QStringLiteral("Bitte eine ebene Fläche wählen");
}

QJsonObject MainWindow::sketchPlaneOf(const PickInfo& pick) const
{
    switch (pick.kind) {
    case 1: try { qor::model::facePlane(pick.shape);
        } catch (...) { // a feature error for curved faces, or a kernel failure
            return {};
        }
        return qor::model::faceRef(pick.id, pick.shape);
    case 5: return qor::model::datumReferenceJson(pick.id);
    case 7:
        return QJsonObject{{QStringLiteral("kind"), QStringLiteral("feature")},
                           {QStringLiteral("id"), pick.id}};
    default: return {};
    }
}

void MainWindow::sketchOn(const QJsonObject& planeReference)
{
    // Chosen from a menu while the window waited for a plane: the wait is over (sketch mode
    // sets its own pick mask).
    setProperty("pickPlane", false);
    newSketch(planeReference);
    markEditedFeature();
}

void MainWindow::onBrowserPlaneClicked(int kind, int id)
{
    if (!property("pickPlane").toBool())
        return;
    const bool workPlane = kind == browserKind::workPlane;
    // A work plane whose feature failed or lies past the rollback has no plane to sketch on.
    if (workPlane && controller->document->current.planes.get().count(id) == 0)
        return;
    PickInfo pick;
    pick.kind = workPlane ? 7 : 5;
    pick.id = id;
    setProperty("pickPlane", false);
    scene->clearSelection();
    sketchOn(sketchPlaneOf(pick));
}

// Each change of the view's selection has exactly one consumer: edge projection into the open
// sketch, else the open mate panel (it takes the picks through its own connection), else the
// feature panel, else the plane picking of a new sketch, else the status line.
void MainWindow::onViewerSelection()
{
    if (sketchEditor && sketchEditor->state.tool == 15) {
        sketchEditor->projectEdges();
        return;
    }
    if (matePanel)
        return;
    if (commandPanel->featureId() != 0) {
        commandPanel->applyPicks();
        return;
    }
    const std::vector<PickInfo> picks = scene->selectedPicks();
    if (property("pickPlane").toBool()) {
        if (picks.empty())
            return;
        const QJsonObject plane = sketchPlaneOf(picks.front());
        if (plane.isEmpty()) {
            if (picks.front().kind == 1) {
                showToast(facePlaneRefusal(picks.front()), true);
                scene->clearSelection();
            }
            return;
        }
        setProperty("pickPlane", false);
        scene->clearSelection();
        sketchOn(plane);
        return;
    }
    showSelectionText();
}

void MainWindow::showSelectionText()
{
    statusRight->setText(selectionText(*controller->document, scene->selectedPicks()));
}

void MainWindow::setPickMask(int pickMask)
{
    scene->setSelectionMask(pickMask);
    showSelectionText();
}

} // namespace qor::app
