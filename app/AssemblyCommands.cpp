#include "app/AssemblyCommands.h"

#include "app/shell/Browser.h"
#include "io/NoteKind.h"
#include "model/DocumentController.h"
#include "model/ExecContext.h"

#include <BRepBndLib.hxx>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTreeWidgetItem>

#include <algorithm>

namespace qor::app {

using qor::model::Component;
using qor::model::Document;

namespace {

QString baseOf(const QString& componentName)
{
    return componentName.section(QLatin1Char(':'), 0, 0);
}

Bnd_Box componentBodiesBox(const Document& doc)
{
    Bnd_Box box;
    for (const auto& [id, body] : doc.current.bodies.get()) {
        if (qor::model::isComponentBodyId(id))
            box.Add(qor::model::bodyBox(body));
    }
    return box;
}

Bnd_Box loadedBox(const std::vector<qor::model::ComponentBody>& bodies)
{
    Bnd_Box box;
    for (const qor::model::ComponentBody& body : bodies)
        BRepBndLib::Add(body.shape, box, Standard_True);
    return box;
}

} // namespace

QString newComponentName(const Document& doc, const QString& base)
{
    int n = 1;
    for (const Component& c : doc.components)
        n += baseOf(c.name) == base ? 1 : 0;
    const auto taken = [&doc](const QString& name) {
        return std::any_of(doc.components.begin(), doc.components.end(),
                           [&name](const Component& c) { return c.name == name; });
    };
    while (taken(QStringLiteral("%1:%2").arg(base).arg(n)))
        ++n;
    return QStringLiteral("%1:%2").arg(base).arg(n);
}

gp_Trsf insertPlacement(const Bnd_Box& existing, const Bnd_Box& added)
{
    gp_Trsf placement;
    if (existing.IsVoid() || added.IsVoid())
        return placement;
    double axMin, ayMin, azMin, axMax, ayMax, azMax;
    existing.Get(axMin, ayMin, azMin, axMax, ayMax, azMax);
    double bxMin, byMin, bzMin, bxMax, byMax, bzMax;
    added.Get(bxMin, byMin, bzMin, bxMax, byMax, bzMax);
    placement.SetTranslation(gp_Vec((axMax - axMin) * 0.15 + (axMax - bxMin) + 10.0, 0.0, 0.0));
    return placement;
}

InsertResult insertComponentFile(DocumentController& controller, const QString& path)
{
    Document& doc = *controller.document;
    const QFileInfo file(path);
    Component component;
    component.name = newComponentName(doc, file.completeBaseName());
    component.path = doc.folder.isEmpty()
                         ? file.absoluteFilePath()
                         : QDir(doc.folder).relativeFilePath(file.absoluteFilePath());
    component.grounded = doc.components.empty();

    QString error;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<qor::model::ComponentBody> bodies = doc.componentShape(component, &error);
    QGuiApplication::restoreOverrideCursor();
    if (bodies.empty())
        return {false, 0,
                QStringLiteral("Die Datei enthält keine verwendbare Geometrie:\n") + error};

    if (!doc.components.empty())
        component.setPlacement(insertPlacement(componentBodiesBox(doc), loadedBox(bodies)));
    component.id = ++doc.nextId;
    doc.components.push_back(component);
    controller.commit(QStringLiteral("Komponente einfügen"));
    const QString suffix = component.grounded ? QStringLiteral(" und fixiert")
                                              : QStringLiteral(" – mit Beziehungen ausrichten");
    InsertResult result{true, component.id,
                        QStringLiteral("„%1“ eingefügt%2").arg(component.name, suffix)};
    // The build of the assembly says what the component could not take (bodies beyond its
    // limit, faces the reader left out): the user hears it with the insertion, not only on
    // hovering the component's row.
    const Component* inserted = doc.component(component.id);
    if (inserted && io::tellsOfLoss(inserted->status)) {
        result.message += QLatin1Char('\n') + inserted->status;
        result.incomplete = true;
    }
    return result;
}

QString toggleGround(DocumentController& controller, int componentId)
{
    Component* component = controller.document->component(componentId);
    if (!component)
        return {};
    component->grounded = !component->grounded;
    const bool grounded = component->grounded;
    const QString name = component->name;
    controller.commit(grounded ? QStringLiteral("Komponente fixieren")
                               : QStringLiteral("Fixierung lösen"));
    return name
           + (grounded ? QStringLiteral(" ist fixiert") : QStringLiteral(" ist frei beweglich"));
}

int componentOfPicks(const std::vector<PickInfo>& picks)
{
    for (const PickInfo& pick : picks) {
        if (qor::model::isComponentBodyId(pick.id))
            return qor::model::componentOfBody(pick.id);
    }
    return 0;
}

int selectedComponent(const std::vector<PickInfo>& picks,
                      const QList<QTreeWidgetItem*>& browserItems)
{
    if (const int fromPicks = componentOfPicks(picks))
        return fromPicks;
    for (const QTreeWidgetItem* item : browserItems) {
        if (item->data(0, Qt::UserRole).toInt() == browserKind::component)
            return item->data(0, Qt::UserRole + 1).toInt();
    }
    return 0;
}

QString moveRefusal(const Document& doc, int componentId)
{
    if (componentId == 0)
        return QStringLiteral("Zuerst eine Komponente im Modell oder Browser wählen");
    const Component* component = doc.component(componentId);
    if (component && component->grounded)
        return QStringLiteral("Die Komponente ist fixiert – zuerst lösen");
    return {};
}

} // namespace qor::app
