#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace qor::model {

class ExecContext;

// What a parameter value is and how the panel edits it. 0 to 3 are evaluated as
// expressions at every recompute; 7 to 17 hold selection references.
enum class ParamKind : std::int32_t {
    Length = 0,
    Angle = 1,
    Number = 2,
    Integer = 3,
    Bool = 4,
    Choice = 5,
    Text = 6,
    Profile = 7,
    Faces = 8,
    Edges = 9,
    Bodies = 10,
    Plane = 11,
    Axis = 12,
    Path = 13,
    Features = 14,
    SketchPoints = 15,
    SketchLine = 16,
    Vertices = 17,
};

// One parameter of a feature type's schema.
struct ParamDef {
    QString key;
    QString label;
    ParamKind kind = ParamKind::Length;
    QJsonValue defaultValue; // null: a new feature gets no value for the key
    // Choice only: "value=Label" entries in display order.
    QStringList options;
    // Clauses "key=value" or "key!=value" joined by "|" (or); empty: always shown.
    QString visibleIf;
    // A selection the panel does not ask for first when the feature opens.
    bool optional = false;

    ParamDef(QString key, QString label, ParamKind kind, QJsonValue defaultValue = QJsonValue(),
             QString visibleIf = QString());

    static ParamDef choice(QString key, QString label, QStringList options, QString defaultValue,
                           QString visibleIf = QString());

    // Presentation only: decides whether the panel shows the field, never
    // touches the stored value.
    bool isVisible(const QJsonObject& params) const;
};

using FeatureExecutor = std::function<void(ExecContext&)>;

// One feature type of the registry.
struct FeatureDef {
    QString id; // stored in documents; never changes
    QString title;
    QString icon;
    QString group;
    std::vector<ParamDef> params;
    FeatureExecutor exec;
    bool bodyFeature = true;

    const ParamDef* findParam(const QString& key) const;
};

// The four boolean operations shared by the body-making types.
extern const QStringList booleanOpChoices;

// The 32 feature types in ribbon order with their executors. Defined by the
// feature layer, which binds the executors; the registry below calls it once.
std::vector<FeatureDef> buildFeatureDefs();

// The registry, built once on first use and never changed afterwards, so
// pointers into it stay valid for the life of the process.
const std::vector<FeatureDef>& featureDefs();

// Exact, case-sensitive lookup by type id; null for an unregistered type.
const FeatureDef* findFeatureDef(const QString& type);

} // namespace qor::model
