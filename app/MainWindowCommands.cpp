#include "app/MainWindow.h"

#include "app/CommandTable.h"
#include "app/Examples.h"
#include "app/RibbonLayout.h"
#include "app/shell/Ribbon.h"
#include "model/DocumentController.h"
#include "view/Viewer.h"

#include <QAction>
#include <QToolButton>

namespace qor::app {

void MainWindow::buildActions()
{
    // Commands whose target the window does not offer yet stay disabled.
    const auto handlerFor = [this](const CommandSpec& spec) -> CommandHandler {
        if (auto h = sketchCommand(spec.id))
            return h;
        if (auto h = fileCommand(spec.id))
            return h;
        if (spec.id == QStringLiteral("undo"))
            return [this] { controller->undo(); };
        if (spec.id == QStringLiteral("redo"))
            return [this] { controller->redo(); };
        if (spec.id == QStringLiteral("fit"))
            return [this] { viewer->fitAll(true); };
        if (auto h = featureCommand(spec.id))
            return h;
        if (auto h = toolCommand(spec.id))
            return h;
        if (auto h = assemblyCommand(spec.id))
            return h;
        if (auto h = drawingCommand(spec.id))
            return h;
        return {};
    };
    actions = createActions(this, handlerFor);
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

void MainWindow::createExample(const QString& kind)
{
    buildExample(*controller, kind);
    viewer->fitAll(false);
}

} // namespace qor::app
