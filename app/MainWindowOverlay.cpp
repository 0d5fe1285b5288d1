#include "app/MainWindow.h"

#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <utility>

namespace qor::app {

namespace {

constexpr int toastMs = 2800;
constexpr int errorToastMs = 4200;
constexpr int toastTextWidth = 560;

QFrame* makeSeparator()
{
    auto* separator = new QFrame;
    separator->setObjectName(QStringLiteral("BarSep"));
    return separator;
}

QToolButton* makeMenuButton(const QString& icon, const QString& toolTip)
{
    auto* button = new QToolButton;
    button->setIcon(Theme::instance().icon(icon, Theme::instance().textDim));
    button->setIconSize(QSize(20, 20));
    button->setToolTip(toolTip);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setMenu(new QMenu(button));
    return button;
}

} // namespace

QFrame* MainWindow::buildViewOverlay(QWidget* host)
{
    auto* bar = new QFrame(host);
    bar->setObjectName(QStringLiteral("FloatingBar"));
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(2);
    const auto makeOverlayButton = [layout](const QString& icon, const QString& toolTip,
                                            std::function<void()> action, bool checkable) {
        auto* button = new QToolButton;
        button->setIcon(Theme::instance().icon(icon, Theme::instance().textDim));
        button->setIconSize(QSize(20, 20));
        button->setToolTip(toolTip);
        button->setCheckable(checkable);
        QObject::connect(button, &QToolButton::clicked, button, std::move(action));
        layout->addWidget(button);
        return button;
    };
    // The view buttons do exactly what their commands do; the commands exist once clicked.
    const auto command = [this](const char* id) {
        return [this, id] { actions.value(QLatin1String(id))->trigger(); };
    };

    makeOverlayButton(QStringLiteral("fit"), QStringLiteral("Alles zeigen (F)"), command("fit"),
                      false);
    layout->addWidget(makeSeparator());
    makeOverlayButton(QStringLiteral("view_iso"), QStringLiteral("Isometrisch (0)"),
                      command("view_iso"), false);
    makeOverlayButton(QStringLiteral("view_front"), QStringLiteral("Vorne (1)"),
                      command("view_front"), false);
    makeOverlayButton(QStringLiteral("view_top"), QStringLiteral("Oben (7)"), command("view_top"),
                      false);
    makeOverlayButton(QStringLiteral("view_right"), QStringLiteral("Rechts (3)"),
                      command("view_right"), false);
    makeOverlayButton(
        QStringLiteral("look_at"), QStringLiteral("Senkrecht auf Auswahl / Skizze"),
        [this] { lookAtSelection(); }, false);
    layout->addWidget(makeSeparator());

    QToolButton* display
        = makeMenuButton(QStringLiteral("display_shaded"), QStringLiteral("Darstellung"));
    static constexpr std::pair<const char*, const char*> styles[] = {
        {"display_shaded", "Schattiert mit Kanten"},
        {"body", "Schattiert"},
        {"display_wire", "Drahtmodell"},
    };
    for (int style = 0; style < 3; ++style) {
        QAction* entry = display->menu()->addAction(
            Theme::instance().icon(QString::fromLatin1(styles[style].first)),
            QString::fromUtf8(styles[style].second));
        connect(entry, &QAction::triggered, this, [this, style] { scene->setDisplayStyle(style); });
    }
    display->menu()->addSeparator();
    QAction* perspective = display->menu()->addAction(
        Theme::instance().icon(QStringLiteral("perspective")), QStringLiteral("Perspektive"));
    perspective->setCheckable(true);
    connect(perspective, &QAction::toggled, this, [this](bool on) { viewer->setPerspective(on); });
    layout->addWidget(display);
    sectionButton = makeOverlayButton(
        QStringLiteral("section"), QStringLiteral("Schnittansicht"), [this] { toggleSection(); },
        true);
    measureButton = makeOverlayButton(
        QStringLiteral("measure"), QStringLiteral("Messen (M)"), [this] { toggleMeasure(); },
        false);
    layout->addWidget(makeSeparator());

    orbitButton = makeOverlayButton(
        QStringLiteral("orbit"),
        QStringLiteral("Drehen mit linker Maustaste (für Touchpads)\nImmer möglich: rechte "
                       "Maustaste ziehen, Zwei-Finger-Wischen, Pfeiltasten"),
        [this] { viewer->setLeftButtonOrbit(orbitButton->isChecked()); }, true);
    QToolButton* views
        = makeMenuButton(QStringLiteral("views"), QStringLiteral("Gespeicherte Ansichten"));
    connect(views->menu(), &QMenu::aboutToShow, this,
            [this, views] { showViewsMenu(views->menu()); });
    layout->addWidget(views);
    viewsButton = views;
    floatingBar = bar;

    buildSketchHud(host);
    buildToast(host);
    layoutOverlay();
    return bar;
}

void MainWindow::buildSketchHud(QWidget* host)
{
    sketchHud = new QFrame(host);
    sketchHud->setObjectName(QStringLiteral("Hud"));
    auto* layout = new QHBoxLayout(sketchHud);
    layout->setContentsMargins(12, 8, 8, 8);
    layout->setSpacing(10);
    auto* icon = new QLabel;
    icon->setPixmap(
        Theme::instance().iconPixmap(QStringLiteral("sketch"), 18, Theme::instance().accent));
    layout->addWidget(icon);
    hudLabel = new QLabel;
    hudLabel->setTextFormat(Qt::RichText);
    layout->addWidget(hudLabel);
    auto* finish = new QToolButton;
    finish->setObjectName(QStringLiteral("FinishSketch"));
    finish->setText(QStringLiteral("SKIZZE BEENDEN"));
    finish->setIcon(Theme::instance().icon(QStringLiteral("finish"), Theme::instance().bg0));
    finish->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(finish, &QToolButton::clicked, this, [this] { finishSketch(true); });
    layout->addWidget(finish);
    sketchHud->hide();
}

void MainWindow::buildToast(QWidget* host)
{
    toast = new QFrame(host);
    toast->setObjectName(QStringLiteral("Toast"));
    auto* layout = new QHBoxLayout(toast);
    layout->setContentsMargins(14, 9, 14, 9);
    auto* text = new QLabel;
    text->setObjectName(QStringLiteral("ToastText"));
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* action = new QToolButton;
    action->setObjectName(QStringLiteral("ToastAction"));
    action->setToolButtonStyle(Qt::ToolButtonTextOnly);
    action->hide();
    // What the button offers is done: the note goes with it.
    connect(action, &QToolButton::clicked, toast, &QWidget::hide);
    layout->addWidget(action);
    toast->hide();
}

void MainWindow::showToast(const QString& text, bool error)
{
    showNote(text, error, nullptr);
}

void MainWindow::showToastOffering(const QString& text, QAction* action)
{
    showNote(text, false, action);
}

void MainWindow::showNote(const QString& text, bool error, QAction* action)
{
    auto* button = toast->findChild<QToolButton*>(QStringLiteral("ToastAction"));
    // A button keeps the action it last showed until it is given another.
    button->setDefaultAction(action);
    button->setVisible(action != nullptr);
    auto* label = toast->findChild<QLabel*>(QStringLiteral("ToastText"));
    label->setText(text);
    label->setToolTip(QString()); // a detail belongs to the toast it came with
    const Theme& theme = Theme::instance();
    toast->setStyleSheet(QStringLiteral("QFrame#Toast { border-color: %1; } QLabel { color: %2; }")
                             .arg((error ? theme.danger : theme.accent).name(), theme.text.name()));
    label->setMaximumWidth(toastTextWidth);
    // A word-wrapping label guesses a narrow width and breaks even short texts; it gets the
    // width of its longest line, up to the limit, beyond which it wraps.
    label->ensurePolished();
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
    label->setMinimumWidth(std::min(widest + 1, toastTextWidth));
    toast->show();
    layoutOverlay();
    if (toastTimer == nullptr) {
        toastTimer = new QTimer(this);
        toastTimer->setSingleShot(true);
        connect(toastTimer, &QTimer::timeout, toast, &QWidget::hide);
    }
    toastTimer->start(error || action ? errorToastMs : toastMs);
}

} // namespace qor::app
