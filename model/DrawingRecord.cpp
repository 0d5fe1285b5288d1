#include "model/DrawingRecord.h"

#include <QJsonArray>

namespace qor::app {

QList<QString> defaultTitleOrder()
{
    return {QStringLiteral("Benennung"),  QStringLiteral("Zeichnungsnummer"),
            QStringLiteral("Werkstoff"),  QStringLiteral("Maßstab"),
            QStringLiteral("Gezeichnet"), QStringLiteral("Datum"),
            QStringLiteral("Firma")};
}

namespace {

QJsonObject viewToJson(const Drawing::View& view)
{
    return QJsonObject{
        {QStringLiteral("id"), view.id},
        {QStringLiteral("type"), view.type},
        {QStringLiteral("x"), view.x},
        {QStringLiteral("y"), view.y},
        {QStringLiteral("hidden"), view.hidden},
        {QStringLiteral("center"), view.center},
        {QStringLiteral("label"), view.label},
        {QStringLiteral("mul"), view.mul},
        {QStringLiteral("section"), view.section},
    };
}

Drawing::View viewFromJson(const QJsonObject& json)
{
    Drawing::View view;
    view.id = json.value(QStringLiteral("id")).toInt(0);
    view.type = json.value(QStringLiteral("type")).toInt(0);
    view.x = json.value(QStringLiteral("x")).toDouble(0.0);
    view.y = json.value(QStringLiteral("y")).toDouble(0.0);
    view.hidden = json.value(QStringLiteral("hidden")).toBool(true);
    view.center = json.value(QStringLiteral("center")).toBool(true);
    view.label = json.value(QStringLiteral("label")).toString();
    view.mul = json.value(QStringLiteral("mul")).toDouble(1.0);
    view.section = json.value(QStringLiteral("section")).toBool(false);
    return view;
}

QJsonArray pointToJson(const double (&p)[2])
{
    return QJsonArray{p[0], p[1]};
}

void pointFromJson(const QJsonValue& value, double (&p)[2])
{
    const QJsonArray array = value.toArray();
    p[0] = array.at(0).toDouble(0.0);
    p[1] = array.at(1).toDouble(0.0);
}

QJsonObject dimToJson(const Drawing::Dim& dim)
{
    return QJsonObject{
        {QStringLiteral("id"), dim.id},
        {QStringLiteral("view"), dim.view},
        {QStringLiteral("kind"), dim.kind},
        {QStringLiteral("a"), pointToJson(dim.a)},
        {QStringLiteral("b"), pointToJson(dim.b)},
        {QStringLiteral("offset"), dim.offset},
        {QStringLiteral("text"), dim.text},
    };
}

Drawing::Dim dimFromJson(const QJsonObject& json)
{
    Drawing::Dim dim;
    dim.id = json.value(QStringLiteral("id")).toInt(0);
    dim.view = json.value(QStringLiteral("view")).toInt(0);
    dim.kind = json.value(QStringLiteral("kind")).toInt(0);
    pointFromJson(json.value(QStringLiteral("a")), dim.a);
    pointFromJson(json.value(QStringLiteral("b")), dim.b);
    dim.offset = json.value(QStringLiteral("offset")).toDouble(10.0);
    dim.text = json.value(QStringLiteral("text")).toString();
    return dim;
}

} // namespace

QString titleValue(const Drawing& drawing, const QString& field)
{
    const auto entry = drawing.title.find(field);
    return entry == drawing.title.end() ? QString() : entry->second;
}

QJsonObject drawingToJson(const Drawing& drawing)
{
    QJsonArray views;
    for (const Drawing::View& view : drawing.views)
        views.append(viewToJson(view));
    QJsonArray dims;
    for (const Drawing::Dim& dim : drawing.dims)
        dims.append(dimToJson(dim));
    QJsonObject title;
    for (const auto& [key, text] : drawing.title)
        title.insert(key, text);
    return QJsonObject{
        {QStringLiteral("format"), drawing.format}, {QStringLiteral("scale"), drawing.scale},
        {QStringLiteral("views"), views},           {QStringLiteral("dims"), dims},
        {QStringLiteral("title"), title},           {QStringLiteral("next"), drawing.nextId},
    };
}

Drawing drawingFromJson(const QJsonObject& json)
{
    Drawing drawing;
    const QJsonValue format = json.value(QStringLiteral("format"));
    if (format.isString())
        drawing.format = format.toString();
    drawing.scale = json.value(QStringLiteral("scale")).toDouble(1.0);
    for (const QJsonValue& view : json.value(QStringLiteral("views")).toArray())
        drawing.views.push_back(viewFromJson(view.toObject()));
    for (const QJsonValue& dim : json.value(QStringLiteral("dims")).toArray())
        drawing.dims.push_back(dimFromJson(dim.toObject()));
    const QJsonObject title = json.value(QStringLiteral("title")).toObject();
    for (auto it = title.begin(); it != title.end(); ++it)
        drawing.title[it.key()] = it.value().toString();
    drawing.nextId = json.value(QStringLiteral("next")).toInt(1);
    return drawing;
}

} // namespace qor::app
