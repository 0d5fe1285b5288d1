#include "features/ImportFeature.h"

#include "io/ShapeText.h"
#include "model/ExecContext.h"

#include <QJsonArray>

#include <TopoDS_Iterator.hxx>

namespace qor::model {

namespace {

// A colour is applied only to a body that has no appearance yet, so a colour the
// user chose later survives every recompute.
void addImportedBody(ExecContext& context, const TopoDS_Shape& shape, qsizetype index,
                     const QJsonArray& names, const QJsonArray& colors)
{
    const QString name = index < names.size() ? names.at(index).toString() : QString();
    const int id = addNewBody(context, shape, name);
    if (index >= colors.size() || context.document.appearance.count(id) > 0)
        return;
    const QJsonValue entry = colors.at(index);
    if (!entry.isArray() || entry.toArray().size() != 3)
        return;
    const QJsonArray rgb = entry.toArray();
    BodyAppearance look;
    look.material = QStringLiteral("Stahl");
    look.r = rgb.at(0).toDouble(0.0);
    look.g = rgb.at(1).toDouble(0.0);
    look.b = rgb.at(2).toDouble(0.0);
    look.density = 7.85;
    context.document.appearance[id] = look;
}

} // namespace

void execImport(ExecContext& context)
{
    const QByteArray data = qor::io::shapeTextBytes(context.stringParam(QStringLiteral("brep")));
    if (data.isEmpty())
        throw FeatureError(QStringLiteral("Importdaten fehlen oder sind beschädigt"));
    const TopoDS_Shape shape = qor::io::readShapeBytes(data);
    if (shape.IsNull())
        throw FeatureError(QStringLiteral("Importdaten konnten nicht gelesen werden"));

    const QJsonArray names = context.arrayParam(QStringLiteral("names"));
    const QJsonArray colors = context.arrayParam(QStringLiteral("colors"));
    qsizetype index = 0;
    if (shape.ShapeType() == TopAbs_COMPOUND && context.boolParam(QStringLiteral("split"))) {
        for (TopoDS_Iterator it(shape); it.More(); it.Next())
            addImportedBody(context, it.Value(), index++, names, colors);
    } else {
        addImportedBody(context, shape, index, names, colors);
    }
}

} // namespace qor::model
