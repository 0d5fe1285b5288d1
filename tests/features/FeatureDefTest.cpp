#include "model/FeatureDef.h"

#include "expr/Expression.h"

#include <gtest/gtest.h>

#include <QJsonArray>

#include <cmath>
#include <set>

using namespace qor::model;

namespace {

const FeatureDef& def(const char* id)
{
    const FeatureDef* found = findFeatureDef(QString::fromLatin1(id));
    if (!found)
        throw std::runtime_error(std::string("type not registered: ") + id);
    return *found;
}

const ParamDef& param(const char* type, const char* key)
{
    const ParamDef* found = def(type).findParam(QString::fromLatin1(key));
    if (!found)
        throw std::runtime_error(std::string("no parameter ") + key + " in " + type);
    return *found;
}

// The parameter object a new feature of the type starts with.
QJsonObject defaultsOf(const FeatureDef& type)
{
    QJsonObject params;
    for (const ParamDef& p : type.params) {
        if (!p.defaultValue.isNull() && !p.defaultValue.isUndefined())
            params.insert(p.key, p.defaultValue);
    }
    return params;
}

// Keys of the parameters the panel shows for the given values, in schema order.
QStringList visibleKeys(const FeatureDef& type, const QJsonObject& params)
{
    QStringList keys;
    for (const ParamDef& p : type.params) {
        if (p.isVisible(params))
            keys << p.key;
    }
    return keys;
}

QStringList optionValues(const ParamDef& p)
{
    QStringList values;
    for (const QString& option : p.options)
        values << option.section(QLatin1Char('='), 0, 0);
    return values;
}

bool isSelection(ParamKind kind)
{
    return int(kind) >= int(ParamKind::Profile);
}

bool isOriginRef(const QJsonValue& value, std::initializer_list<int> ids)
{
    const QJsonObject ref = value.toObject();
    if (ref.size() != 2 || ref.value(QStringLiteral("kind")) != QStringLiteral("origin"))
        return false;
    const QJsonValue id = ref.value(QStringLiteral("id"));
    for (int candidate : ids) {
        if (id.isDouble() && id.toDouble() == candidate)
            return true;
    }
    return false;
}

ParamDef conditional(const char* condition)
{
    return ParamDef(QStringLiteral("k"), QStringLiteral("K"), ParamKind::Length, QJsonValue(),
                    QString::fromUtf8(condition));
}

} // namespace

TEST(FeatureRegistry, TypesInRibbonOrderAndExactLookup)
{
    const QStringList order = {
        "sketch",  "extrude",      "revolve",      "sweep",       "loft",         "hole",
        "thread",  "rib",          "text",         "coil",        "box",          "cylinder",
        "sphere",  "torus",        "fillet",       "chamfer",     "shell",        "draft",
        "thicken", "delete_faces", "offset_faces", "scale",       "combine",      "split",
        "move",    "pattern_rect", "pattern_circ", "pattern_path", "mirror",      "plane",
        "axis",    "import"};
    const std::vector<FeatureDef>& defs = featureDefs();
    ASSERT_EQ(defs.size(), std::size_t(order.size()));
    for (std::size_t i = 0; i < defs.size(); ++i) {
        const FeatureDef& d = defs[i];
        const std::string id = d.id.toStdString();
        EXPECT_EQ(d.id, order[qsizetype(i)]) << i;
        EXPECT_FALSE(d.title.isEmpty() || d.group.isEmpty()) << id;
        EXPECT_EQ(d.icon, d.id);
        // Recompute calls the executor of every registered type.
        EXPECT_TRUE(bool(d.exec)) << id;
        EXPECT_EQ(d.bodyFeature, id != "sketch" && id != "plane" && id != "axis") << id;
        EXPECT_EQ(findFeatureDef(d.id), &d) << id;
    }
    EXPECT_EQ(def("delete_faces").title, "Flächen löschen");
    EXPECT_EQ(def("pattern_path").title, "Muster entlang Pfad");
    EXPECT_EQ(def("box").group, "Grundkörper");
    EXPECT_EQ(def("import").group, "Einfügen");
    for (const char* near : {"Extrude", "extrude ", "extrud", "", "Extrusion"})
        EXPECT_EQ(findFeatureDef(QString::fromUtf8(near)), nullptr) << near;
}

TEST(FeatureRegistry, ChoiceOptionsAndDefaults)
{
    const ParamDef& extent = param("extrude", "extent");
    EXPECT_EQ(extent.options,
              QStringList({"dist=Abstand", "sym=Symmetrisch", "two=Zwei Seiten",
                           "all=Durch alles", "allboth=Durch alles (beidseitig)"}));
    EXPECT_EQ(param("text", "op").options,
              QStringList({"join=Prägen (erhaben)", "cut=Gravieren (vertieft)",
                           "new=Neuer Körper"}));
    EXPECT_EQ(param("thicken", "op").options,
              QStringList({"new=Neuer Körper", "join=Verbinden", "cut=Ausschneiden"}));
    EXPECT_EQ(param("combine", "op").defaultValue, QJsonValue("join"));
    EXPECT_EQ(def("combine").findParam(QStringLiteral("targets")), nullptr);
    EXPECT_EQ(param("fillet", "mode").options.back(), "var=Variabel (Anfang → Ende)");
    EXPECT_EQ(param("hole", "tip").label, "Bohrspitze 118°");
    EXPECT_EQ(param("offset_faces", "distance").label, "Abstand (− = nach innen)");

    EXPECT_EQ(booleanOpChoices, QStringList({"new=Neuer Körper", "join=Verbinden",
                                             "cut=Ausschneiden", "intersect=Schneiden"}));
    for (const char* type :
         {"extrude", "revolve", "sweep", "loft", "coil", "box", "cylinder", "sphere", "torus"}) {
        EXPECT_EQ(param(type, "op").options, booleanOpChoices) << type;
        EXPECT_EQ(param(type, "op").defaultValue, QJsonValue("new")) << type;
        const ParamDef& last = def(type).params.back();
        EXPECT_EQ(last.key, "targets") << type;
        EXPECT_EQ(last.label, "Zielkörper") << type;
        EXPECT_EQ(last.visibleIf, "op!=new") << type;
        EXPECT_TRUE(last.optional) << type;
    }
    for (const char* type : {"text", "thicken"})
        EXPECT_EQ(def(type).params.back().visibleIf, "op!=new") << type;
    EXPECT_TRUE(param("hole", "targets").visibleIf.isEmpty());
}

TEST(FeatureRegistry, OptionalFlags)
{
    std::set<std::string> optionalParams;
    for (const FeatureDef& d : featureDefs()) {
        for (const ParamDef& p : d.params) {
            if (p.optional)
                optionalParams.insert((d.id + '.' + p.key).toStdString());
        }
    }
    const std::set<std::string> expected = {
        "sketch.offset",   "extrude.targets", "revolve.targets",        "sweep.targets",
        "loft.targets",    "hole.targets",    "rib.targets",            "text.targets",
        "coil.targets",    "box.targets",     "cylinder.targets",       "sphere.targets",
        "torus.targets",   "shell.bodies",    "thicken.targets",        "move.axis",
        "pattern_rect.direction2"};
    EXPECT_EQ(optionalParams, expected);
}

TEST(FeatureRegistry, EveryDefaultFitsItsKind)
{
    for (const FeatureDef& d : featureDefs()) {
        std::set<QString> keys;
        for (const ParamDef& p : d.params) {
            const std::string where = (d.id + '.' + p.key).toStdString();
            EXPECT_TRUE(keys.insert(p.key).second) << "duplicate key " << where;
            EXPECT_FALSE(p.label.isEmpty()) << where;
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
                if (p.kind == ParamKind::Length)
                    EXPECT_TRUE(text == "0" || text.ends_with(" mm")) << where;
                if (p.kind == ParamKind::Angle)
                    EXPECT_TRUE(text.ends_with(" deg")) << where;
                if (p.kind == ParamKind::Number || p.kind == ParamKind::Integer)
                    EXPECT_EQ(text.find_first_not_of("0123456789"), std::string::npos) << where;
                if (p.kind == ParamKind::Integer)
                    EXPECT_EQ(result.value, std::round(result.value)) << where;
                break;
            }
            case ParamKind::Bool:
                EXPECT_TRUE(value.isBool()) << where;
                break;
            case ParamKind::Choice:
                ASSERT_TRUE(value.isString()) << where;
                EXPECT_TRUE(optionValues(p).contains(value.toString())) << where;
                for (const QString& option : p.options)
                    EXPECT_GT(option.indexOf(QLatin1Char('=')), 0) << where;
                break;
            case ParamKind::Text:
                EXPECT_TRUE(value.isString()) << where;
                break;
            case ParamKind::Plane:
                EXPECT_TRUE(value.isNull() || isOriginRef(value, {-1, -2, -3})) << where;
                break;
            case ParamKind::Axis:
                EXPECT_TRUE(value.isNull() || isOriginRef(value, {-11, -12, -13})) << where;
                break;
            default:
                EXPECT_TRUE(isSelection(p.kind)) << where;
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
    const QJsonObject any{{"extent", "all"}, {"op", "new"}};
    EXPECT_TRUE(conditional("").isVisible(any));
    EXPECT_TRUE(conditional("").isVisible(QJsonObject()));

    const ParamDef distance = conditional("extent=dist|extent=sym|extent=two");
    for (const char* shown : {"dist", "sym", "two"})
        EXPECT_TRUE(distance.isVisible({{"extent", shown}})) << shown;
    for (const char* hidden : {"all", "allboth", "Dist", "dist "})
        EXPECT_FALSE(distance.isVisible({{"extent", hidden}})) << hidden;
    EXPECT_FALSE(distance.isVisible(QJsonObject()));

    const ParamDef targets = conditional("op!=new");
    for (const char* shown : {"join", "cut", "intersect"})
        EXPECT_TRUE(targets.isVisible({{"op", shown}})) << shown;
    EXPECT_FALSE(targets.isVisible({{"op", "new"}}));
    EXPECT_TRUE(targets.isVisible(QJsonObject()));

    const ParamDef flipped = conditional("flip=1");
    EXPECT_TRUE(flipped.isVisible({{"flip", true}}));
    EXPECT_FALSE(flipped.isVisible({{"flip", false}}));
    EXPECT_FALSE(flipped.isVisible({{"flip", "true"}}));
    EXPECT_TRUE(conditional("flip=0").isVisible({{"flip", false}}));

    EXPECT_TRUE(conditional("count=3").isVisible({{"count", 3}}));
    EXPECT_TRUE(conditional("count=2.5").isVisible({{"count", 2.5}}));
    EXPECT_FALSE(conditional("count=3").isVisible({{"count", 3.5}}));

    EXPECT_FALSE(conditional("a=b=c").isVisible({{"a", "b=c"}}));
    EXPECT_FALSE(conditional("a=b=c").isVisible({{"a", "b"}}));
    EXPECT_FALSE(conditional("extent").isVisible({{"extent", ""}}));

    const ParamDef empty = conditional("name=");
    EXPECT_TRUE(empty.isVisible(QJsonObject()));
    EXPECT_TRUE(empty.isVisible({{"name", QJsonValue()}}));
    EXPECT_TRUE(empty.isVisible({{"name", ""}}));
    EXPECT_TRUE(empty.isVisible({{"name", QJsonArray{1, 2}}}));
    EXPECT_FALSE(empty.isVisible({{"name", "x"}}));

    // Keys are taken as written: no trimming, case-sensitive.
    EXPECT_FALSE(conditional(" op=new").isVisible({{"op", "new"}}));
    EXPECT_FALSE(conditional("Op=new").isVisible({{"op", "new"}}));
    // An empty clause never matches but does not spoil the others.
    EXPECT_TRUE(conditional("|op=new").isVisible({{"op", "new"}}));
}

TEST(ParamVisibility, CatalogueDefaults)
{
    const FeatureDef& extrude = def("extrude");
    const QJsonObject extrudeDefaults = defaultsOf(extrude);
    EXPECT_EQ(extrudeDefaults, QJsonObject({{"extent", "dist"},
                                            {"distance", "20 mm"},
                                            {"distance2", "10 mm"},
                                            {"flip", false},
                                            {"taper", "0 deg"},
                                            {"op", "new"}}));
    EXPECT_EQ(visibleKeys(extrude, extrudeDefaults),
              QStringList({"profile", "extent", "distance", "flip", "taper", "op"}));

    const FeatureDef& hole = def("hole");
    QJsonObject holeParams = defaultsOf(hole);
    QStringList shown = visibleKeys(hole, holeParams);
    EXPECT_TRUE(shown.contains("diameter"));
    EXPECT_FALSE(shown.contains("fit"));
    EXPECT_FALSE(shown.contains("threadDepth"));
    holeParams["thread"] = "M8";
    shown = visibleKeys(hole, holeParams);
    EXPECT_FALSE(shown.contains("diameter"));
    EXPECT_TRUE(shown.contains("fit"));
    EXPECT_FALSE(shown.contains("threadExtent"));
    holeParams["fit"] = "threaded";
    holeParams["thread"] = "none";
    shown = visibleKeys(hole, holeParams);
    for (const char* key : {"threadExtent", "threadDepth", "threadModel", "leftHand", "diameter"})
        EXPECT_TRUE(shown.contains(key)) << key;
    EXPECT_FALSE(shown.contains("fit"));

    EXPECT_EQ(visibleKeys(def("plane"), defaultsOf(def("plane"))),
              QStringList({"base", "mode", "offset", "flip"}));
    const QStringList rectShown = visibleKeys(def("pattern_rect"), defaultsOf(def("pattern_rect")));
    EXPECT_TRUE(rectShown.contains("features"));
    EXPECT_FALSE(rectShown.contains("bodies"));

    const QJsonObject sketchDefaults = defaultsOf(def("sketch"));
    EXPECT_EQ(sketchDefaults, QJsonObject({{"plane", QJsonObject({{"kind", "origin"}, {"id", -1}})},
                                           {"offset", "0"}}));
    EXPECT_FALSE(defaultsOf(def("revolve")).contains("axis"));
    EXPECT_EQ(defaultsOf(def("split")).value("plane").toObject().value("id"), QJsonValue(-3));
}
