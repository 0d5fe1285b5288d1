#include "app/MainWindow.h"

#include "model/DocumentController.h"
#include "model/ShapeSignature.h"
#include "model/SketchVisibility.h"
#include "panels/CommandPanel.h"
#include "panels/dialogs/QorDialog.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/sketch/SketchEditor.h"

#include <QAction>
#include <QMenu>

#include <algorithm>

namespace qor::app {

namespace {

enum class Tone { Text, Danger, Success };

QAction* addEntry(QMenu* menu, const QString& text, const QString& icon, Tone tone,
                  std::function<void()> action)
{
    const Theme& theme = Theme::instance();
    const QColor colour = tone == Tone::Danger    ? theme.danger
                          : tone == Tone::Success ? theme.success
                                                  : theme.text;
    QAction* entry = menu->addAction(theme.icon(icon, colour), text);
    QObject::connect(entry, &QAction::triggered, menu, std::move(action));
    return entry;
}

// A direct edit of the document: shown disabled while a sketch or panel owns the model.
QAction* addEdit(QMenu* menu, bool blocked, const QString& text, const QString& icon, Tone tone,
                 std::function<void()> action)
{
    QAction* entry = addEntry(menu, text, icon, tone, std::move(action));
    entry->setEnabled(!blocked);
    return entry;
}

void addCommands(QMenu* menu, const QMap<QString, QAction*>& actions,
                 std::initializer_list<const char*> ids)
{
    for (const char* id : ids) {
        if (QAction* action = actions.value(QString::fromLatin1(id)))
            menu->addAction(action);
    }
}

// The entries of a feature's menu on the timeline, which the browser's items of features share.
void addFeatureEntries(MainWindow* window, QMenu* menu, const qor::model::Feature& feature,
                       bool blocked)
{
    const int featureId = feature.id;
    const bool sketch = feature.type == QStringLiteral("sketch");
    addEdit(menu, blocked,
            sketch ? QStringLiteral("Skizze bearbeiten") : QStringLiteral("Feature bearbeiten"),
            QStringLiteral("edit"), Tone::Text,
            [window, featureId] { window->editFeature(featureId); });
    addEdit(menu, blocked, QStringLiteral("Zeitachse hierher zurückrollen"),
            QStringLiteral("rollback"), Tone::Text,
            [window, featureId] { window->rollbackToFeature(featureId); });
    const bool suppressed = feature.suppressed;
    addEdit(menu, blocked,
            suppressed ? QStringLiteral("Unterdrückung aufheben") : QStringLiteral("Unterdrücken"),
            suppressed ? QStringLiteral("eye") : QStringLiteral("eye_off"), Tone::Text,
            [window, featureId] { window->toggleSuppress(featureId); });
    addEdit(menu, blocked, QStringLiteral("Umbenennen …"), QStringLiteral("edit"), Tone::Text,
            [window, featureId] { window->renameFeature(featureId); });
    menu->addSeparator();
    addEdit(menu, blocked, QStringLiteral("Löschen"), QStringLiteral("delete"), Tone::Danger,
            [window, featureId] { window->deleteFeature(featureId); });
}

} // namespace

QMenu* MainWindow::timelineMenu(int featureId)
{
    const qor::model::Feature* feature = controller->document->feature(featureId);
    if (feature == nullptr)
        return nullptr;
    auto* menu = new QMenu(this);
    addFeatureEntries(this, menu, *feature, editingBlocked());
    return menu;
}

// A work plane carries a sketch as an origin plane does, above the entries of its feature;
// one that has no plane now (its feature failed or lies past the rollback) carries none.
QMenu* MainWindow::workPlaneMenu(int featureId)
{
    const qor::model::Feature* feature = controller->document->feature(featureId);
    if (feature == nullptr)
        return nullptr;
    const bool blocked = editingBlocked();
    const bool hasPlane = controller->document->current.planes.get().count(featureId) > 0;
    auto* menu = new QMenu(this);
    addEdit(menu, blocked || !hasPlane, QStringLiteral("Skizze auf dieser Ebene"),
            QStringLiteral("sketch"), Tone::Text, [this, featureId] {
                sketchOn(QJsonObject{{QStringLiteral("kind"), QStringLiteral("feature")},
                                     {QStringLiteral("id"), featureId}});
            });
    menu->addSeparator();
    addFeatureEntries(this, menu, *feature, blocked);
    return menu;
}

QMenu* MainWindow::browserMenu(int kind, int id)
{
    if (kind == 9)
        return workPlaneMenu(id);
    if (kind == 7 || kind == 10)
        return timelineMenu(id);
    const bool blocked = editingBlocked();
    auto* menu = new QMenu(this);
    switch (kind) {
    case 3:
        addEntry(menu, QStringLiteral("Parameter bearbeiten …"), QStringLiteral("parameters"),
                 Tone::Text, [this] { showParameters(); });
        return menu;
    case 5: {
        const auto trigger = [this](const QString& command) {
            if (QAction* action = actions.value(command))
                action->trigger();
        };
        addEntry(menu, QStringLiteral("Material und Farbe …"), QStringLiteral("appearance"),
                 Tone::Text, [this, id] { showAppearance(id); });
        addEdit(menu, blocked, QStringLiteral("Umbenennen …"), QStringLiteral("edit"), Tone::Text,
                [this, id] { renameBody(id); });
        addEntry(menu, QStringLiteral("Als STEP/STL exportieren …"), QStringLiteral("export"),
                 Tone::Text,
                 [this, trigger, id] {
                     setProperty("exportBody", id);
                     trigger(QStringLiteral("export"));
                     setProperty("exportBody", 0);
                 })
            ->setEnabled(actions.value(QStringLiteral("export"))->isEnabled());
        addEntry(menu, QStringLiteral("Masseeigenschaften"), QStringLiteral("mass"), Tone::Text,
                 [trigger] { trigger(QStringLiteral("mass")); })
            ->setEnabled(actions.value(QStringLiteral("mass"))->isEnabled());
        return menu;
    }
    case 11:
        addEdit(menu, blocked, QStringLiteral("Skizze auf dieser Ebene"), QStringLiteral("sketch"),
                Tone::Text, [this, id] { sketchOn(qor::model::datumReferenceJson(id)); });
        return menu;
    case 14: {
        const qor::model::Component* component = controller->document->component(id);
        if (component == nullptr)
            break;
        const QString ground
            = component->grounded ? QStringLiteral("Fixierung lösen") : QStringLiteral("Fixieren");
        addEdit(menu, blocked, ground, QStringLiteral("ground"), Tone::Text,
                [this, id] { toggleGround(id); });
        addEdit(menu, blocked, QStringLiteral("Bewegen …"), QStringLiteral("move"), Tone::Text,
                [this, id] { moveComponent(id); });
        addEdit(menu, blocked,
                component->hidden ? QStringLiteral("Einblenden") : QStringLiteral("Ausblenden"),
                component->hidden ? QStringLiteral("eye") : QStringLiteral("eye_off"), Tone::Text,
                [this, id] { toggleComponentVisible(id); });
        if (!component->path.isEmpty())
            addEntry(menu, QStringLiteral("In neuem Fenster öffnen"), QStringLiteral("open"),
                     Tone::Text, [this, id] { openComponentInNewWindow(id); });
        menu->addSeparator();
        addEdit(menu, blocked, QStringLiteral("Entfernen"), QStringLiteral("delete"), Tone::Danger,
                [this, id] { removeComponent(id); });
        return menu;
    }
    case 16:
        addEdit(menu, blocked, QStringLiteral("Unterdrücken / aktivieren"),
                QStringLiteral("eye_off"), Tone::Text, [this, id] { toggleMateSuppressed(id); });
        addEdit(menu, blocked, QStringLiteral("Löschen"), QStringLiteral("delete"), Tone::Danger,
                [this, id] { deleteMate(id); });
        return menu;
    default: break;
    }
    delete menu;
    return nullptr;
}

QMenu* MainWindow::viewportMenu(const PickInfo& underMouse)
{
    auto* menu = new QMenu(this);
    if (sketchEditor) {
        addEntry(menu, QStringLiteral("Skizze beenden"), QStringLiteral("finish"), Tone::Success,
                 [this] { finishSketch(true); });
        menu->addSeparator();
        addCommands(menu, actions,
                    {"sk_line", "sk_rect", "sk_circle", "sk_arc3", "sk_dimension", "sk_trim"});
        menu->addSeparator();
        const SketchEditState& state = sketchEditor->state;
        if (!state.selectedEntities.empty() || !state.selectedConstraints.empty()) {
            addCommands(menu, actions, {"sk_construction"});
            addEntry(menu, QStringLiteral("Löschen"), QStringLiteral("delete"), Tone::Danger,
                     [this] {
                         if (sketchEditor)
                             sketchEditor->deleteSelection();
                     });
        }
        addEntry(menu, QStringLiteral("Skizze verwerfen"), QStringLiteral("cancel"), Tone::Text,
                 [this] { finishSketch(false); });
        return menu;
    }
    if (commandPanel->featureId() != 0) {
        addEntry(menu, QStringLiteral("OK"), QStringLiteral("finish"), Tone::Success,
                 [this] { commandPanel->accept(); });
        addEntry(menu, QStringLiteral("Abbrechen"), QStringLiteral("cancel"), Tone::Text,
                 [this] { commandPanel->cancel(); });
        return menu;
    }
    const bool blocked = editingBlocked();
    const QJsonObject plane = sketchPlaneOf(underMouse);
    if (underMouse.kind == 1 && !plane.isEmpty())
        addEdit(menu, blocked, QStringLiteral("Skizze auf Fläche"), QStringLiteral("sketch"),
                Tone::Text, [this, plane] { sketchOn(plane); });
    if (underMouse.kind == 1 || underMouse.kind == 2) {
        const int body = underMouse.id;
        addEntry(menu, QStringLiteral("Material und Farbe …"), QStringLiteral("appearance"),
                 Tone::Text, [this, body] { showAppearance(body); });
        addEdit(menu, blocked, QStringLiteral("Körper ausblenden"), QStringLiteral("eye_off"),
                Tone::Text, [this, body] { toggleVisible(body); });
        menu->addSeparator();
    }
    if (underMouse.kind == 5) {
        addEdit(menu, blocked,
                QStringLiteral("Skizze auf ") + qor::model::Document::datumName(underMouse.id),
                QStringLiteral("sketch"), Tone::Text, [this, plane] { sketchOn(plane); });
        menu->addSeparator();
    }
    addCommands(menu, actions, {"sketch", "f_extrude", "f_fillet"});
    menu->addSeparator();
    // While a cancelled display leaves bodies out, the way back stays at hand here.
    if (scene->buildCancelled())
        addCommands(menu, actions, {"showrest"});
    addCommands(menu, actions, {"fit", "view_iso", "measure"});
    return menu;
}

void MainWindow::showTimelineMenu(int featureId, QPoint global)
{
    if (QMenu* menu = timelineMenu(featureId)) {
        menu->exec(global);
        delete menu;
    }
}

void MainWindow::showBrowserMenu(int kind, int id, QPoint global)
{
    if (QMenu* menu = browserMenu(kind, id)) {
        menu->exec(global);
        delete menu;
    }
}

void MainWindow::showViewportMenu(QPoint global)
{
    QMenu* menu = viewportMenu(scene->detectedPick());
    menu->exec(global);
    delete menu;
}

void MainWindow::askSketchFilletRadius()
{
    if (!sketchEditor)
        return;
    bool ok = false;
    const QString text
        = QorDialog::getText(this, QStringLiteral("Skizzenverrundung"), QStringLiteral("Radius"),
                             QString::number(sketchEditor->filletRadius, 'g', 6), &ok);
    // The dialog ran its own event loop, in which the sketch may have been closed.
    if (!ok || !sketchEditor)
        return;
    // A text that gives no positive length keeps the old radius; the tool starts either way.
    const qor::EvalResult radius = controller->document->tryEval(text);
    if (radius.ok && radius.value > 0.0)
        sketchEditor->filletRadius = radius.value;
    sketchEditor->setTool(12);
}

void MainWindow::rollTimelineTo(int count)
{
    if (scene->editingSketch != 0 || commandPanel->featureId() != 0)
        return;
    controller->document->rollback = count;
    controller->commit(QStringLiteral("Zeitachse verschieben"));
}

void MainWindow::rollbackToFeature(int featureId)
{
    const int index = controller->document->featureIndex(featureId);
    if (index >= 0)
        rollTimelineTo(index + 1);
}

void MainWindow::toggleSuppress(int featureId)
{
    qor::model::Feature* feature = controller->document->feature(featureId);
    if (feature == nullptr || editingBlocked())
        return;
    feature->suppressed = !feature->suppressed;
    controller->commit(feature->suppressed ? QStringLiteral("Unterdrücken")
                                           : QStringLiteral("Unterdrückung aufheben"));
}

void MainWindow::renameFeature(int featureId)
{
    qor::model::Feature* feature = controller->document->feature(featureId);
    if (feature == nullptr || editingBlocked())
        return;
    bool ok = false;
    const QString name = QorDialog::getText(this, QStringLiteral("Umbenennen"),
                                            QStringLiteral("Name"), feature->name, &ok)
                             .trimmed();
    if (!ok || name.isEmpty())
        return;
    // The dialog ran its own event loop: look the feature up again.
    feature = controller->document->feature(featureId);
    if (feature == nullptr || editingBlocked())
        return;
    feature->name = name;
    controller->commit(QStringLiteral("Umbenennen"));
}

void MainWindow::toggleVisible(int key)
{
    if (editingBlocked())
        return;
    const qor::model::Document& document = *controller->document;
    const qor::model::Feature* feature = key < 0 ? document.feature(-key) : nullptr;
    const auto found = document.hidden.find(key);
    bool wasHidden = found != document.hidden.end() && found->second;
    if (feature != nullptr && feature->type == QLatin1String("sketch"))
        wasHidden = !qor::model::sketchShown(document, feature->id,
                                             qor::model::consumedSketches(document));
    controller->document->hidden[key] = !wasHidden;
    controller->commit(wasHidden ? QStringLiteral("Einblenden") : QStringLiteral("Ausblenden"));
}

void MainWindow::onBrowserToggleVisible(int kind, int id)
{
    // The eye of a body the cancelled display left out offers the way back, which leaves the
    // document as it is.
    if (kind == 5 && scene->leftOutBodies().count(id) > 0)
        showRemainingBodies();
    else if (kind == 14)
        toggleComponentVisible(id);
    else if (kind == 7 || kind == 9 || kind == 10)
        toggleVisible(-id);
    else
        toggleVisible(id);
}

void MainWindow::toggleComponentVisible(int componentId)
{
    if (editingBlocked())
        return;
    if (qor::model::Component* component = controller->document->component(componentId))
        component->hidden = !component->hidden;
    controller->commit(QStringLiteral("Komponente ein-/ausblenden"));
}

void MainWindow::toggleMateSuppressed(int mateId)
{
    if (editingBlocked())
        return;
    for (qor::model::Mate& mate : controller->document->mates) {
        if (mate.id == mateId)
            mate.suppressed = !mate.suppressed;
    }
    controller->commit(QStringLiteral("Beziehung unterdrücken"));
}

void MainWindow::deleteMate(int mateId)
{
    if (editingBlocked())
        return;
    std::erase_if(controller->document->mates,
                  [mateId](const qor::model::Mate& mate) { return mate.id == mateId; });
    controller->commit(QStringLiteral("Beziehung löschen"));
}

void MainWindow::removeComponent(int componentId)
{
    if (editingBlocked())
        return;
    std::erase_if(controller->document->mates, [componentId](const qor::model::Mate& mate) {
        return mate.a.comp == componentId || mate.b.comp == componentId;
    });
    std::erase_if(controller->document->components,
                  [componentId](const qor::model::Component& c) { return c.id == componentId; });
    controller->commit(QStringLiteral("Komponente entfernen"));
}

} // namespace qor::app
