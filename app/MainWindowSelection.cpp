#include "app/MainWindow.h"

#include "model/DocumentController.h"
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
        return QStringLiteral("%1 Elemente ausgewählt").arg(picks.size());
    const PickInfo& pick = picks.front();
    switch (pick.kind) {
    case 1:
        return QStringLiteral("Fläche · ") + document.bodyName(pick.id);
    case 2:
        return QStringLiteral("Kante · ") + document.bodyName(pick.id);
    case 3:
        return QStringLiteral("Punkt · ") + document.bodyName(pick.id);
    case 4:
        return document.bodyName(pick.id);
    case 5:
        return qor::model::Document::datumName(pick.id);
    default:
        return QStringLiteral("1 Element");
    }
}

} // namespace

// Each change of the view's selection has exactly one consumer: edge projection into the open
// sketch, else the open mate panel, else the feature panel, else the status line.
void MainWindow::onViewerSelection()
{
    if (sketchEditor && sketchEditor->state.tool == 15) {
        sketchEditor->projectEdges();
        return;
    }
    if (auto* matePanel = findChild<MatePanel*>()) {
        matePanel->onPick();
        return;
    }
    if (commandPanel->featureId() != 0) {
        commandPanel->applyPicks();
        return;
    }
    statusRight->setText(selectionText(*controller->document, scene->selectedPicks()));
}

} // namespace qor::app
