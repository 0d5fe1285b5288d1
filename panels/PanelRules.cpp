#include "panels/PanelRules.h"

#include "expr/Format.h"
#include "model/ShapeSignature.h"

#include <QJsonObject>

#include <algorithm>
#include <initializer_list>

namespace qor::app {

using qor::model::ParamKind;

namespace {

bool kindIn(int pickKind, std::initializer_list<int> kinds)
{
    return std::find(kinds.begin(), kinds.end(), pickKind) != kinds.end();
}

QString countNoun(ParamKind kind)
{
    switch (kind) {
    case ParamKind::Profile: return QStringLiteral("Profile");
    case ParamKind::Faces: return QStringLiteral("Flächen");
    case ParamKind::Edges: return QStringLiteral("Kanten");
    case ParamKind::Bodies: return QStringLiteral("Körper");
    case ParamKind::Features: return QStringLiteral("Features");
    default: return QStringLiteral("Elemente");
    }
}

QString singleSummary(const qor::model::Document& doc, ParamKind kind, const QJsonValue& element)
{
    if (kind == ParamKind::Features) {
        const qor::model::Feature* f = doc.feature(element.toInt());
        return f ? f->name : QStringLiteral("1 Feature");
    }
    if (kind == ParamKind::Bodies)
        return doc.bodyName(element.isObject() ? element.toObject().value(u"id").toInt()
                                               : element.toInt());
    return doc.describeReference(element.toObject());
}

} // namespace

bool isFilled(const QJsonValue& value)
{
    if (value.isUndefined() || value.isNull())
        return false;
    if (value.isArray())
        return !value.toArray().isEmpty();
    if (value.isObject())
        return !value.toObject().isEmpty();
    return true;
}

bool isSelectionKind(ParamKind kind)
{
    return kind >= ParamKind::Profile && kind <= ParamKind::Vertices;
}

bool isArrayKind(ParamKind kind)
{
    switch (kind) {
    case ParamKind::Profile:
    case ParamKind::Faces:
    case ParamKind::Edges:
    case ParamKind::Bodies:
    case ParamKind::Path:
    case ParamKind::Features: return true;
    default: return false;
    }
}

int selectionMaskForKind(ParamKind kind)
{
    switch (kind) {
    case ParamKind::Profile: return mask::regions | mask::faces;
    case ParamKind::Faces: return mask::faces;
    case ParamKind::Edges: return mask::faces | mask::edges;
    case ParamKind::Bodies: return mask::bodies;
    case ParamKind::Plane: return mask::planes | mask::faces;
    case ParamKind::Axis: return mask::axes | mask::faces | mask::edges;
    case ParamKind::Path: return mask::curves | mask::edges;
    case ParamKind::SketchPoints:
    case ParamKind::SketchLine: return mask::curves | mask::points;
    case ParamKind::Vertices: return mask::vertices;
    default: return 0;
    }
}

const qor::model::ParamDef* nextEmptySelection(const qor::model::FeatureDef& def,
                                               const QJsonObject& params,
                                               const qor::model::ParamDef* after)
{
    bool passed = after == nullptr;
    for (const qor::model::ParamDef& p : def.params) {
        if (!passed) {
            passed = &p == after;
            continue;
        }
        if (isSelectionKind(p.kind) && !p.optional && p.isVisible(params)
            && !isFilled(params.value(p.key)))
            return &p;
    }
    return nullptr;
}

QString valueFieldText(const QJsonValue& value)
{
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 6);
    return value.isString() ? value.toString() : QString();
}

ValueCheck checkValueText(const qor::model::Document& doc, const QString& text)
{
    QString error;
    const qor::EvalResult result = doc.tryEval(text, &error);
    if (!result.ok)
        return {false, error};
    return {true, QStringLiteral("= %1").arg(result.value, 0, 'g', -1)};
}

QString selectionSummary(const qor::model::Document& doc, const qor::model::ParamDef& def,
                         const QJsonValue& value, bool active)
{
    if (value.isArray() && value.toArray().size() == 1)
        return singleSummary(doc, def.kind, value.toArray().first());
    if (value.isArray() && value.toArray().size() > 1)
        return QStringLiteral("%1 %2")
            .arg(germanCount(std::uint64_t(value.toArray().size())))
            .arg(countNoun(def.kind));
    if (value.isObject() && !value.toObject().isEmpty())
        return doc.describeReference(value.toObject());
    return active ? QStringLiteral("Im Modell wählen …") : QStringLiteral("Auswählen");
}

bool fieldTakesPick(ParamKind fieldKind, int pickKind)
{
    switch (fieldKind) {
    case ParamKind::Profile: return kindIn(pickKind, {1, 9});
    case ParamKind::Faces: return pickKind == 1;
    case ParamKind::Edges: return kindIn(pickKind, {1, 2});
    case ParamKind::Plane: return kindIn(pickKind, {1, 5, 7});
    case ParamKind::Axis: return kindIn(pickKind, {1, 2, 6, 8, 10});
    case ParamKind::SketchPoints:
    case ParamKind::SketchLine: return kindIn(pickKind, {10, 11});
    case ParamKind::Bodies:
    case ParamKind::Path:
    case ParamKind::Vertices: return pickKind >= 1 && pickKind <= 11;
    default: return false;
    }
}

QJsonValue pickToReference(ParamKind fieldKind, const PickInfo& pick)
{
    if (!fieldTakesPick(fieldKind, pick.kind))
        return QJsonValue();
    const int kind = fieldKind == ParamKind::Bodies && pick.kind <= 3 ? 4 : pick.kind;
    switch (kind) {
    case 1: return qor::model::faceRef(pick.id, pick.shape);
    case 2: return qor::model::edgeRef(pick.id, pick.shape);
    case 3:
        return QJsonObject{{"kind", "vertex"},
                           {"body", pick.id},
                           {"sig", qor::model::describeShape(pick.shape).toJson()}};
    case 4:
        if (fieldKind == ParamKind::Bodies)
            return pick.id;
        return QJsonObject{{"kind", "body"}, {"id", pick.id}};
    case 5:
    case 6: return QJsonObject{{"kind", "origin"}, {"id", pick.id}};
    case 7:
    case 8: return QJsonObject{{"kind", "feature"}, {"id", pick.id}};
    case 9:
        return QJsonObject{
            {"kind", "region"}, {"sketch", pick.id}, {"pt", QJsonArray{pick.u, pick.v}}};
    case 10:
        if (fieldKind == ParamKind::Axis)
            return QJsonObject{{"kind", "sketchline"}, {"sketch", pick.id}, {"entity", pick.sub}};
        return QJsonObject{{"kind", "sketch"}, {"id", pick.id}};
    default: return QJsonObject{{"kind", "sketch"}, {"id", pick.id}}; // 11, a sketch point
    }
}

QJsonArray toggleReferences(const QJsonValue& stored, const std::vector<QJsonValue>& picked)
{
    QJsonArray list = stored.toArray();
    for (const QJsonValue& reference : picked) {
        qsizetype found = -1;
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (list.at(i) == reference)
                found = i;
        }
        if (found >= 0)
            list.removeAt(found);
        else
            list.append(reference);
    }
    return list;
}

int rollbackIncluding(int savedRollback, int featureIndex, int featureCount)
{
    if (savedRollback < 0)
        return -1;
    const int r = std::max(featureIndex + 1, savedRollback);
    return r < featureCount ? r : -1;
}

} // namespace qor::app
