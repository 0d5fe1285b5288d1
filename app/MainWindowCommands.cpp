#include "app/MainWindow.h"

#include "app/CommandTable.h"
#include "app/Examples.h"
#include "app/RibbonLayout.h"
#include "app/shell/Ribbon.h"
#include "model/DocumentController.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <QAction>
#include <QFrame>
#include <QTimer>
#include <QToolButton>

#include <V3d_TypeOfOrientation.hxx>

#include <utility>

namespace qor::app {

CommandHandler MainWindow::commandHandler(const CommandSpec& spec)
{
    for (const auto& lookup :
         {&MainWindow::sketchCommand, &MainWindow::fileCommand, &MainWindow::viewCommand,
          &MainWindow::featureCommand, &MainWindow::toolCommand, &MainWindow::assemblyCommand,
          &MainWindow::drawingCommand}) {
        if (CommandHandler handler = (this->*lookup)(spec.id))
            return handler;
    }
    return {};
}

CommandHandler MainWindow::viewCommand(const QString& id)
{
    static constexpr std::pair<const char*, V3d_TypeOfOrientation> standardViews[] = {
        {"view_iso", V3d_XposYnegZpos},
        {"view_front", V3d_Yneg},
        {"view_top", V3d_Zpos},
        {"view_right", V3d_Xpos},
    };
    for (const auto& [command, orientation] : standardViews) {
        if (id == QLatin1String(command))
            // Through an init-capture: clang 14 cannot capture a structured binding by name.
            return [this, orientation = orientation] {
                viewer->setViewOrientation(orientation, true);
            };
    }
    if (id == QStringLiteral("fit"))
        return [this] { viewer->fitAll(true); };
    if (id == QStringLiteral("showrest"))
        return [this] { showRemainingBodies(); };
    // Outside sketch mode there is nothing the key could delete without asking.
    if (id == QStringLiteral("delete"))
        return [this] {
            if (sketchEditor)
                sketchEditor->deleteSelection();
        };
    if (id == QStringLiteral("sk_fillet"))
        return [this] { askSketchFilletRadius(); };
    return {};
}

void MainWindow::buildActions()
{
    actions = createActions(this, [this](const CommandSpec& spec) { return commandHandler(spec); });
    for (QToolButton* button : findChildren<QToolButton*>(QStringLiteral("TitleButton"))) {
        if (QAction* action = actions.value(button->property("act").toString()))
            connect(button, &QToolButton::clicked, action, &QAction::trigger);
    }
}

void MainWindow::buildRibbon()
{
    const RibbonPages pages = fillRibbon(*ribbon, actions, this);
    solidPage = pages.solid;
    sketchPage = pages.sketch;
    checkPage = pages.check;
    outputPage = pages.output;
    assemblyPage = pages.assembly;
}

void MainWindow::setSketchRibbon(bool sketchMode)
{
    RibbonPages pages;
    pages.solid = solidPage;
    pages.sketch = sketchPage;
    pages.assembly = assemblyPage;
    pages.check = checkPage;
    pages.output = outputPage;
    qor::app::setSketchRibbon(*ribbon, pages, sketchMode);
}

void MainWindow::showRemainingBodies()
{
    if (!scene->buildCancelled())
        return;
    // The note of the cancel, with its button, would stay over the view being filled.
    toast->hide();
    if (toastTimer)
        toastTimer->stop();
    bool noneShown = true;
    for (const auto& [id, body] : controller->document->current.bodies)
        noneShown = noneShown && scene->bodyObject(id).IsNull();
    scene->rebuild();
    // The view was fitted to nothing when the file opened.
    if (noneShown && !scene->buildCancelled())
        viewer->fitAll(false);
}

void MainWindow::createExample(const QString& kind)
{
    buildExample(*controller, kind);
    // The example is seen in depth, whatever view the previous document was left in.
    viewer->setViewOrientation(V3d_XposYnegZpos, false);
    viewer->fitAll(false);
}

} // namespace qor::app
