#include "app/BodyClipboard.h"

#include "expr/Format.h"
#include "io/ShapeText.h"
#include "model/DocumentController.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>

#include <BRep_Builder.hxx>
#include <Standard_Failure.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>

namespace qor::app {

namespace {

const QString mimeType = QString::fromLatin1(bodiesMimeType);

PastedBodies pasteError(const QString& message)
{
    return {0, 0, message, true};
}

// How many bodies the import feature makes of the shape: a compound splits into its direct
// children, anything else is one body.
int bodyCount(const TopoDS_Shape& shape)
{
    if (shape.IsNull())
        return 0;
    if (shape.ShapeType() != TopAbs_COMPOUND)
        return 1;
    int count = 0;
    for (TopoDS_Iterator it(shape); it.More(); it.Next())
        ++count;
    return count;
}

} // namespace

std::set<int> pickedBodyIds(const std::vector<PickInfo>& picks)
{
    std::set<int> ids;
    for (const PickInfo& pick : picks) {
        if (pick.kind >= 1 && pick.kind <= 4)
            ids.insert(pick.id);
    }
    return ids;
}

CopiedBodies copyBodies(const qor::model::Document& document, const std::set<int>& bodyIds)
{
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    QJsonArray names;
    QJsonArray colors;
    for (int id : bodyIds) {
        const auto body = document.current.bodies.find(id);
        if (body == document.current.bodies.end())
            continue;
        builder.Add(compound, body->second.shape);
        names.append(document.bodyName(id));
        const qor::model::BodyAppearance look = document.bodyAppearance(id);
        colors.append(QJsonArray{look.r, look.g, look.b});
    }
    CopiedBodies result;
    if (names.isEmpty()) {
        result.message = QStringLiteral("Zuerst einen Körper auswählen");
        result.error = true;
        return result;
    }

    QString brep;
    try {
        brep = qor::io::shapeToBase64(compound);
    } catch (const Standard_Failure&) {
        result.message = QStringLiteral("Die Körper konnten nicht kopiert werden");
        result.error = true;
        return result;
    }
    const QJsonObject payload{{QStringLiteral("brep"), brep},
                              {QStringLiteral("names"), names},
                              {QStringLiteral("colors"), colors}};
    result.count = int(names.size());
    result.data = std::make_unique<QMimeData>();
    result.data->setData(mimeType, QJsonDocument(payload).toJson(QJsonDocument::Compact));
    result.data->setText(
        QStringLiteral("QorCAD: %1 Körper").arg(germanCount(std::uint64_t(result.count))));
    result.message = QStringLiteral("%1 Körper kopiert – mit Strg+V einfügen")
                         .arg(germanCount(std::uint64_t(result.count)));
    return result;
}

PastedBodies pasteBodies(DocumentController& controller, const QMimeData* data)
{
    const QString noBodies = QStringLiteral("Die Zwischenablage enthält keine QorCAD-Körper");
    if (!data || !data->hasFormat(mimeType))
        return pasteError(noBodies);
    const QJsonObject payload = QJsonDocument::fromJson(data->data(mimeType)).object();
    const QString brep = payload.value(QStringLiteral("brep")).toString();
    if (brep.isEmpty())
        return pasteError(noBodies);
    // Decoded here as well as by the feature, so that damaged data never becomes an undo step
    // holding a failed feature.
    const int count = bodyCount(qor::io::shapeFromBase64(brep));
    if (count == 0)
        return pasteError(QStringLiteral("Die Körper in der Zwischenablage sind beschädigt"));

    qor::model::Document& document = *controller.document;
    qor::model::Feature* feature = document.addFeature(
        QStringLiteral("import"),
        {{QStringLiteral("file"), QStringLiteral("Zwischenablage")},
         {QStringLiteral("brep"), brep},
         {QStringLiteral("names"), payload.value(QStringLiteral("names")).toArray()},
         {QStringLiteral("colors"), payload.value(QStringLiteral("colors")).toArray()},
         {QStringLiteral("split"), true}});
    feature->name = QStringLiteral("Eingefügt");
    const int featureId = feature->id;
    controller.commit(QStringLiteral("Einfügen"));
    return {featureId, count,
            QStringLiteral("%1 Körper eingefügt – mit „Verschieben“ positionieren")
                .arg(germanCount(std::uint64_t(count))),
            false};
}

} // namespace qor::app
