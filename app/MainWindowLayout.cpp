#include "app/MainWindow.h"

#include "app/shell/Browser.h"
#include "app/shell/Ribbon.h"
#include "app/shell/Timeline.h"
#include "model/DocumentController.h"
#include "model/ExecContext.h"
#include "panels/CommandPanel.h"
#include "panels/MatePanel.h"
#include "panels/MeasurePanel.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace qor::app {

namespace {

struct TitleButtonSpec {
    const char* icon;
    const char* toolTip;
    const char* command; // bound by the command set; empty for the file menu
};

QToolButton* makeTitleButton(const TitleButtonSpec& spec)
{
    auto* button = new QToolButton;
    button->setObjectName(QStringLiteral("TitleButton"));
    button->setIcon(
        Theme::instance().icon(QString::fromLatin1(spec.icon), Theme::instance().textDim));
    button->setIconSize(QSize(18, 18));
    button->setToolTip(QString::fromUtf8(spec.toolTip));
    button->setProperty("act", QString::fromLatin1(spec.command));
    return button;
}

} // namespace

void MainWindow::buildCentral()
{
    auto* central = new QWidget;
    central->setObjectName(QStringLiteral("Central"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildTitleBar());

    ribbon = new Ribbon;
    layout->addWidget(ribbon);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setHandleWidth(1);
    splitter->setChildrenCollapsible(false);

    auto* side = new QWidget;
    side->setObjectName(QStringLiteral("SidePanel"));
    side->setAttribute(Qt::WA_StyledBackground);
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->setSpacing(0);
    auto* panelTitle = new QLabel(QStringLiteral("BROWSER"));
    panelTitle->setObjectName(QStringLiteral("PanelTitle"));
    sideLayout->addWidget(panelTitle);
    browser = new Browser(controller);
    sideLayout->addWidget(browser, 1);
    side->setMinimumWidth(210);
    splitter->addWidget(side);

    viewport = new QWidget;
    auto* viewLayout = new QVBoxLayout(viewport);
    viewLayout->setContentsMargins(0, 0, 0, 0);
    viewer = new Viewer(viewport);
    viewLayout->addWidget(viewer);
    viewport->installEventFilter(this);
    splitter->addWidget(viewport);

    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({250, 1200});
    layout->addWidget(splitter, 1);

    timeline = new Timeline(controller);
    layout->addWidget(timeline, 0);
    setCentralWidget(central);
    scene = new Scene(viewer, controller, this);
    connect(scene, &Scene::rebuilt, this, [this] {
        if (QAction* rest = actions.value(QStringLiteral("showrest")))
            rest->setEnabled(scene->buildCancelled());
        browser->setLeftOut(scene->leftOutBodies());
        const QString& problem = scene->buildProblem();
        // Cancelling was the user's own choice: a plain note says what it left.
        if (scene->buildCancelled())
            showToastOffering(problem, actions.value(QStringLiteral("showrest")));
        else if (!problem.isEmpty())
            reportOutOfMemory(problem);
    });

    buildViewOverlay(viewport);

    statusBar()->setSizeGripEnabled(false);
    statusLabel = new QLabel(QStringLiteral("Bereit"));
    statusBar()->addWidget(statusLabel, 1);
    statusRight = new QLabel;
    statusBar()->addPermanentWidget(statusRight);
    unitBadge = new QLabel(QStringLiteral("mm"));
    unitBadge->setObjectName(QStringLiteral("Badge"));
    statusBar()->addPermanentWidget(unitBadge);
}

QWidget* MainWindow::buildTitleBar()
{
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("TitleBar"));
    bar->setAttribute(Qt::WA_StyledBackground);
    bar->setFixedHeight(42);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(10, 0, 10, 0);
    layout->setSpacing(4);

    auto* icon = new QLabel;
    icon->setPixmap(Theme::instance().appIcon().pixmap(24, 24));
    layout->addWidget(icon);
    auto* brand = new QLabel(QStringLiteral("QOR"));
    brand->setObjectName(QStringLiteral("Brand"));
    layout->addWidget(brand);
    auto* brandAccent = new QLabel(QStringLiteral("/CAD"));
    brandAccent->setObjectName(QStringLiteral("BrandAccent"));
    layout->addWidget(brandAccent);
    layout->addSpacing(14);

    QToolButton* fileButton = makeTitleButton({"menu", "Datei", ""});
    fileButton->setPopupMode(QToolButton::InstantPopup);
    fileButton->setProperty("fileMenu", true);
    layout->addWidget(fileButton);
    static constexpr TitleButtonSpec leftButtons[] = {
        {"save", "Speichern (Strg+S)", "save"},
        {"undo", "Rückgängig (Strg+Z)", "undo"},
        {"redo", "Wiederholen (Strg+Y)", "redo"},
    };
    static constexpr TitleButtonSpec rightButtons[] = {
        {"parameters", "Parameter (Strg+P)", "parameters"},
        {"settings", "Einstellungen", "settings"},
        {"help", "Hilfe und Info", "about"},
    };
    for (const TitleButtonSpec& spec : leftButtons)
        layout->addWidget(makeTitleButton(spec));

    layout->addStretch(1);
    docTitleLabel = new QLabel;
    docTitleLabel->setObjectName(QStringLiteral("DocTitle"));
    layout->addWidget(docTitleLabel);
    layout->addStretch(1);
    for (const TitleButtonSpec& spec : rightButtons)
        layout->addWidget(makeTitleButton(spec));
    return bar;
}

void MainWindow::layoutOverlay()
{
    if (viewport == nullptr)
        return;
    const int width = viewport->width();
    const int height = viewport->height();
    if (floatingBar != nullptr) {
        floatingBar->adjustSize();
        int x = (width - floatingBar->width()) / 2;
        // An open feature panel reaches down over the centre of a narrow view: the bar then
        // moves to the right of the panel instead of lying under it.
        if (commandPanel != nullptr && !commandPanel->isHidden())
            x = std::max(x, 14 + commandPanel->width() + 10);
        floatingBar->move(x, height - floatingBar->height() - 14);
        floatingBar->raise();
    }
    if (sketchHud != nullptr) {
        sketchHud->adjustSize();
        sketchHud->move(14, 14);
        sketchHud->raise();
    }
    if (commandPanel != nullptr) {
        commandPanel->setFixedHeight(std::min(std::max(height - 28, 260), 640));
        const bool belowHud = sketchHud != nullptr && sketchHud->isVisible();
        commandPanel->move(14, belowHud ? sketchHud->height() + 24 : 14);
        commandPanel->raise();
    }
    // Fits keep the model out from under an open feature or mate panel on the left and the
    // measure panel on the right.
    int covered = 0;
    for (const QWidget* panel :
         {static_cast<QWidget*>(commandPanel), static_cast<QWidget*>(matePanel.data())}) {
        if (panel != nullptr && !panel->isHidden())
            covered = std::max(covered, panel->geometry().right() + 10);
    }
    viewer->setCoveredLeft(covered);
    const bool measuring = measurePanel != nullptr && !measurePanel->isHidden();
    viewer->setCoveredRight(measuring ? width - measurePanel->geometry().left() + 10 : 0);
    if (toast != nullptr && toast->isVisible()) {
        toast->adjustSize();
        toast->move((width - toast->width()) / 2, 18);
        toast->raise();
    }
}

void MainWindow::keepModelClearOfPanels()
{
    if (viewer->coveredLeft() <= 0 && viewer->coveredRight() <= 0)
        return;
    const Bnd_Box box = qor::model::modelBox(controller->document->current);
    if (box.IsVoid() || viewer->showsWhole(box) || !viewer->rect().contains(viewer->screenBox(box)))
        return;
    viewer->fitAll(true);
    fittedForPanel_ = true;
}

void MainWindow::returnModelFromPanels()
{
    if (!fittedForPanel_ || viewer->coveredLeft() > 0 || viewer->coveredRight() > 0)
        return;
    fittedForPanel_ = false;
    viewer->fitAll(true);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == viewport && event->type() == QEvent::Resize)
        layoutOverlay();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::setStatusText(const QString& text)
{
    statusLabel->setText(text);
}

QImage MainWindow::grabWindowImage(QWidget* widget)
{
    QApplication::processEvents(QEventLoop::AllEvents);
    return widget->grab().toImage();
}

} // namespace qor::app
