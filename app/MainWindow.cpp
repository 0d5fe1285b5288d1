#include "app/MainWindow.h"

#include "io/ReaderThread.h"
#include "model/ComponentGeometry.h"
#include "model/DocumentController.h"
#include "panels/CommandPanel.h"
#include "panels/MatePanel.h"
#include "panels/MeasurePanel.h"
#include "ui/Settings.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QSettings>

namespace qor::app {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    controller = new DocumentController(this);
    setAcceptDrops(true);
    setWindowIcon(Theme::instance().appIcon());
    buildCentral();
    buildActions();
    buildRibbon();
    buildFeatureWiring();
    loadSettings();
    buildFileMenu();
    watchComponentReads();
    watchSceneBuilds();

    connect(controller, &DocumentController::changed, this, &MainWindow::onDocumentChanged);
    connect(controller, &DocumentController::structureChanged, this,
            &MainWindow::onStructureChanged);
    connect(controller, &DocumentController::titleChanged, this, &MainWindow::updateTitle);
    connect(viewer, &Viewer::initialized, this, &MainWindow::onViewerInitialized);

    controller->newDocument();
    updateTitle();
    refreshStatus();
    // After the restored geometry: that one decides position and state, this the size.
    resize(1500, 920);
}

MainWindow::~MainWindow()
{
    // A cancelled open's recompute may still finish its kernel step, and a component file it
    // reads would come to this window: from now on it reads without it, and one already
    // waiting for the window is answered with nothing while the window waits for the work.
    qor::model::setComponentFileReader({});
    qor::io::finishLeftWork([this] {
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
        return true;
    });
}

void MainWindow::loadSettings()
{
    QSettings settings;
    recent = settings.value(settings::recent).toStringList();
    const QString nav = settings.value(settings::nav, settings::defaultNav).toString();
    viewer->setNavigationMode(nav == QStringLiteral("fusion") ? 1 : 0);
    const QString touchpad
        = settings.value(settings::touchpad, settings::defaultTouchpad).toString();
    viewer->setTouchpadNavigation(touchpad != QStringLiteral("zoom"));
    const QByteArray geometry = settings.value(settings::geometry).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
}

void MainWindow::saveWindowGeometry()
{
    QSettings().setValue(settings::geometry, saveGeometry());
}

void MainWindow::addRecentFile(const QString& opened)
{
    // A file opened through a link is listed as the real file: the link goes with the run.
    const QString path = qor::io::lastingPath(opened);
    recent.removeAll(path);
    recent.prepend(path);
    while (recent.size() > settings::maxRecent)
        recent.removeLast();
    QSettings().setValue(settings::recent, recent);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    const bool editing = commandPanel->featureId() != 0;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (editing) {
            commandPanel->accept();
            return;
        }
    } else if (event->key() == Qt::Key_Escape) {
        if (property("pickPlane").toBool()) {
            setProperty("pickPlane", false);
            setPickMask(mask::standard);
            scene->setOriginVisible(false);
            setStatusText(QStringLiteral("Bereit"));
            return;
        }
        // The open panel goes first, whichever widget has the focus; the selection is
        // cleared once no panel is left.
        if (editing) {
            commandPanel->cancel();
        } else if (matePanel) {
            matePanel->cancel();
        } else if (measurePanel) {
            toggleMeasure();
        } else {
            // The view reports only selections it makes itself: the status line is told here.
            scene->clearSelection();
            onViewerSelection();
        }
    }
    QMainWindow::keyPressEvent(event);
}

} // namespace qor::app
