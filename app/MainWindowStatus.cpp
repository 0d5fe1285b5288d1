#include "app/MainWindow.h"

#include "app/shell/Browser.h"
#include "app/shell/Timeline.h"
#include "app/theme/Theme.h"
#include "model/DocumentController.h"
#include "view/Viewer.h"

#include <QAction>
#include <QLabel>
#include <QStyle>

#include <algorithm>

namespace qor::app {

void MainWindow::updateTitle()
{
    const QString name = controller->displayName();
    const bool modified = controller->modified;
    docTitleLabel->setText(QStringLiteral("<span style='color:%1'>%2</span>%3")
                               .arg(Theme::instance().text.name(), name.toHtmlEscaped(),
                                    modified ? QStringLiteral(" •") : QString()));
    setWindowTitle(QStringLiteral("%1%2 – QorCAD")
                       .arg(name, modified ? QStringLiteral(" *") : QString()));
}

void MainWindow::setActionEnabled(const QString& id, bool enabled)
{
    if (QAction* action = actions.value(id))
        action->setEnabled(enabled);
}

void MainWindow::refreshStatus()
{
    const int count = static_cast<int>(controller->history.size());
    setActionEnabled(QStringLiteral("undo"), controller->index > 0);
    setActionEnabled(QStringLiteral("redo"), controller->index + 1 < count);
    if (QAction* undo = actions.value(QStringLiteral("undo"))) {
        const QString label = controller->undoText();
        undo->setToolTip(label.isEmpty() ? QStringLiteral("Rückgängig")
                                         : QStringLiteral("Rückgängig: ") + label);
    }

    const auto& features = controller->document->features;
    const auto failing = std::count_if(features.begin(), features.end(),
                                       [](const auto& feature) { return !feature->error.isEmpty(); });
    if (failing > 0) {
        unitBadge->setObjectName(QStringLiteral("BadgeDanger"));
        unitBadge->setText(QStringLiteral("%1 Fehler").arg(failing));
    } else {
        unitBadge->setObjectName(QStringLiteral("Badge"));
        unitBadge->setText(QStringLiteral("mm · g"));
    }
    unitBadge->style()->unpolish(unitBadge);
    unitBadge->style()->polish(unitBadge);
}

void MainWindow::presentDocument()
{
    viewer->requestRedraw();
}

void MainWindow::refreshAll()
{
    presentDocument();
    browser->rebuild();
    timeline->update();
    timeline->updateGeometry();
    refreshStatus();
}

void MainWindow::onDocumentChanged()
{
    presentDocument();
    timeline->update();
    timeline->updateGeometry();
    refreshStatus();
}

void MainWindow::onStructureChanged()
{
    browser->rebuild();
    timeline->update();
    timeline->updateGeometry();
}

void MainWindow::onViewerInitialized()
{
    presentDocument();
    viewer->setViewOrientation(V3d_XposYnegZpos, false);
    viewer->fitAll(false);
}

} // namespace qor::app
