#include "model/FeatureDef.h"

#include "expr/Expression.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <set>

using namespace qor::model;

namespace {

QStringList optionValues(const ParamDef& p)
{
    QStringList values;
    for (const QString& option : p.options)
        values << option.section(QLatin1Char('='), 0, 0);
    return values;
}

bool isOriginRef(const QJsonValue& value, int firstId)
{
    const QJsonObject ref = value.toObject();
    const double id = ref.value(QStringLiteral("id")).toDouble(0);
    return ref.size() == 2 && ref.value(QStringLiteral("kind")) == QStringLiteral("origin")
           && id <= firstId && id >= firstId - 2;
}

} // namespace

// Recompute calls the executor of every registered type, and documents find
// their types by exact id only.
TEST(FeatureRegistry, EveryTypeHasAnExecutorAndIsFoundByItsExactId)
{
    std::set<QString> ids;
    for (const FeatureDef& d : featureDefs()) {
        const std::string id = d.id.toStdString();
        EXPECT_TRUE(ids.insert(d.id).second) << "duplicate " << id;
        EXPECT_TRUE(bool(d.exec)) << id;
        EXPECT_FALSE(d.title.isEmpty() || d.group.isEmpty()) << id;
        EXPECT_EQ(findFeatureDef(d.id), &d) << id;
    }
    for (const char* near : {"Extrude", "extrude ", "extrud", ""})
        EXPECT_EQ(findFeatureDef(QString::fromUtf8(near)), nullptr) << near;
}

// A new feature starts with the defaults: each must evaluate and suit its field.
TEST(FeatureRegistry, EveryDefaultFitsItsKind)
{
    for (const FeatureDef& d : featureDefs()) {
        std::set<QString> keys;
        for (const ParamDef& p : d.params) {
            const std::string where = (d.id + '.' + p.key).toStdString();
            EXPECT_TRUE(keys.insert(p.key).second) << "duplicate key " << where;
            EXPECT_EQ(p.kind == ParamKind::Choice, !p.options.isEmpty()) << where;
            const QJsonValue& value = p.defaultValue;
            switch (p.kind) {
            case ParamKind::Length:
            case ParamKind::Angle:
            case ParamKind::Number:
            case ParamKind::Integer: {
                ASSERT_TRUE(value.isString()) << where;
                const std::string text = value.toString().toStdString();
                const qor::EvalResult result = qor::tryEvaluateExpression(text);
                ASSERT_TRUE(result.ok) << where << " " << text;
                EXPECT_TRUE(std::isfinite(result.value)) << where;
                if (p.kind == ParamKind::Integer)
                    EXPECT_EQ(result.value, std::round(result.value)) << where;
                break;
            }
            case ParamKind::Bool: EXPECT_TRUE(value.isBool()) << where; break;
            case ParamKind::Choice:
                EXPECT_TRUE(optionValues(p).contains(value.toString())) << where;
                break;
            case ParamKind::Text: EXPECT_TRUE(value.isString()) << where; break;
            case ParamKind::Plane:
                EXPECT_TRUE(value.isNull() || isOriginRef(value, -1)) << where;
                break;
            case ParamKind::Axis:
                EXPECT_TRUE(value.isNull() || isOriginRef(value, -11)) << where;
                break;
            default: // selections start empty
                EXPECT_GE(int(p.kind), int(ParamKind::Profile)) << where;
                EXPECT_TRUE(value.isNull()) << where;
                break;
            }
        }
    }
}

// A condition that names a missing key or an impossible value hides a field
// for good; check every clause against the schema it belongs to.
TEST(FeatureRegistry, ConditionsReferToRealKeysAndValues)
{
    for (const FeatureDef& d : featureDefs()) {
        for (const ParamDef& p : d.params) {
            if (p.visibleIf.isEmpty())
                continue;
            for (const QString& clause : p.visibleIf.split(QLatin1Char('|'))) {
                const std::string where = (d.id + '.' + p.key + ": " + clause).toStdString();
                const QString sep = clause.contains(QLatin1String("!=")) ? "!=" : "=";
                const QStringList parts = clause.split(sep);
                ASSERT_EQ(parts.size(), 2) << where;
                const ParamDef* subject = d.findParam(parts[0]);
                ASSERT_NE(subject, nullptr) << where;
                EXPECT_NE(subject, &p) << where;
                if (subject->kind == ParamKind::Choice)
                    EXPECT_TRUE(optionValues(*subject).contains(parts[1])) << where;
            }
        }
    }
}

TEST(ParamVisibility, ConditionRules)
{
    struct Case {
        const char* condition;
        QJsonObject params;
        bool visible;
    };
    const std::vector<Case> cases = {
        {"", {}, true},
        {"extent=dist|extent=sym", {{"extent", "sym"}}, true},
        {"extent=dist|extent=sym", {{"extent", "all"}}, false},
        {"extent=dist", {{"extent", "Dist"}}, false},
        {"extent=dist", {{"extent", "dist "}}, false},
        {"extent=dist", {}, false},
        {"op!=new", {{"op", "join"}}, true},
        {"op!=new", {{"op", "new"}}, false},
        {"op!=new", {}, true},
        {"flip=1", {{"flip", true}}, true},
        {"flip=1", {{"flip", false}}, false},
        {"flip=1", {{"flip", "true"}}, false},
        {"flip=0", {{"flip", false}}, true},
        {"count=2.5", {{"count", 2.5}}, true},
        {"count=3", {{"count", 3.5}}, false},
        {"a=b=c", {{"a", "b=c"}}, false},
        {"a=b=c", {{"a", "b"}}, false},
        {"extent", {{"extent", ""}}, false},
        {"name=", {}, true},
        {"name=", {{"name", QJsonArray{1, 2}}}, true},
        {"name=", {{"name", "x"}}, false},
        // Keys are taken as written: no trimming, case-sensitive.
        {" op=new", {{"op", "new"}}, false},
        {"Op=new", {{"op", "new"}}, false},
        // An empty clause never matches but does not spoil the others.
        {"|op=new", {{"op", "new"}}, true},
    };
    for (const Case& c : cases) {
        const ParamDef p(QStringLiteral("k"), QStringLiteral("K"), ParamKind::Length, QJsonValue(),
                         QString::fromUtf8(c.condition));
        EXPECT_EQ(p.isVisible(c.params), c.visible)
            << "'" << c.condition << "' with " << QJsonDocument(c.params).toJson().data();
    }
}
