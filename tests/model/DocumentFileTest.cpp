#include "model/Document.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/resource.h>

using namespace qor::model;
using namespace qor::test;

namespace {

const QString notADocument = QStringLiteral("Keine QorCAD-Bauteildatei");
const QString newerVersion = QStringLiteral("Die Datei stammt aus einer neueren QorCAD-Version");
const QString damaged = QStringLiteral("Datei beschädigt: ");

QJsonObject header()
{
    return QJsonObject{{"format", "QorCAD-Bauteil"}, {"version", 1}};
}

QJsonObject with(QJsonObject json, const QString& key, const QJsonValue& value)
{
    json.insert(key, value);
    return json;
}

std::unique_ptr<Feature> sketchFeature(int id)
{
    auto f = std::make_unique<Feature>();
    f->id = id;
    f->type = QStringLiteral("sketch");
    f->name = QStringLiteral("Skizze%1").arg(id);
    f->params = QJsonObject{{"plane", QJsonObject{{"kind", "origin"}, {"id", -1}}}, {"offset", "0"}};
    f->sketch = std::make_unique<qor::sketch::Sketch>();
    const auto circle = f->sketch->addCircleAt(false, 1.5, -2.25, 12.5);
    f->sketch->addLineAt(true, 0, 0, 10, 0.1);
    f->sketch->addDimension(qor::sketch::ConstraintType::Radius, int(circle), -1, -1);
    f->sketch->constraints.back().name = "d1";
    f->sketch->constraints.back().expression = "breite / 3,2";
    return f;
}

// A document that uses every stored member.
Document richDocument()
{
    Document doc;
    doc.features.push_back(sketchFeature(1));

    auto extrude = std::make_unique<Feature>();
    extrude->id = 2;
    extrude->type = QStringLiteral("extrude");
    extrude->name = QStringLiteral("Extrusion1");
    extrude->suppressed = true;
    extrude->params = QJsonObject{
        {"profile", QJsonArray{QJsonObject{{"kind", "region"}, {"sketch", 1}, {"pt", QJsonArray{0.1, 0.2}}}}},
        {"distance", "2,5 mm + breite/3"},
        {"taper", 0.1 + 0.2},
        {"op", "new"},
        {"targets", QJsonArray{300, QJsonObject{{"kind", "body"}, {"id", 100}}}},
    };
    doc.features.push_back(std::move(extrude));

    auto fillet = std::make_unique<Feature>();
    fillet->id = 5;
    fillet->type = QStringLiteral("fillet");
    fillet->name = QStringLiteral("Verrundung1");
    fillet->params = QJsonObject{{"radius", "1.0"}, {"big", 1e300}, {"tiny", -4.9e-324}};
    fillet->error = QStringLiteral("Geometriefehler: x");
    fillet->warning = QStringLiteral("Kein Körper im Wirkbereich");
    doc.features.push_back(std::move(fillet));

    doc.parameters.push_back(Parameter{QStringLiteral("breite"), QStringLiteral("40 mm + 0,5"),
                                       QStringLiteral("mm"), QStringLiteral("Gesamtbreite „außen“"),
                                       40.5, QString()});
    doc.parameters.push_back(Parameter{QStringLiteral("winkel"), QStringLiteral("30.000"),
                                       QStringLiteral("°"), QString(), 30.0, QStringLiteral("alt")});
    doc.appearance[300] = BodyAppearance{QStringLiteral("Messing"), 0.86, 0.72, 0.38, 8.5};
    doc.appearance[100] = BodyAppearance{QStringLiteral("Eigenes"), 0.1, 0.2 + 0.1, 1.0 / 3.0, 7.0};
    doc.bodyNames[100] = QStringLiteral("Grundplatte");
    doc.bodyNames[300] = QString();
    doc.hidden[100] = true;
    doc.hidden[300] = true;
    doc.rollback = 2;
    doc.nextId = 9;

    Component shaft;
    shaft.id = 6;
    shaft.name = QStringLiteral("Welle");
    shaft.path = QStringLiteral("teile/welle.qcpart");
    shaft.m = {0, -1, 0, 12.5, 1, 0, 0, -3, 0, 0, 1, 1.0 / 3.0};
    Component block;
    block.id = 7;
    block.name = QStringLiteral("Block");
    block.embedded = QStringLiteral("eJzLSM3JyVcozy/KSQEAGgQEXQ==");
    block.grounded = true;
    block.hidden = true;
    doc.components = {shaft, block};
    Mate mate;
    mate.id = 8;
    mate.name = QStringLiteral("Planar (gegenüber) 1");
    mate.a.comp = 6;
    mate.a.sig.geometry = 1;
    mate.a.sig.point = {1, 2, 3.25};
    mate.b.comp = 7;
    mate.b.sig.kind = ShapeSignature::Kind::Edge;
    mate.b.sig.size = 12.0;
    mate.value = QStringLiteral("breite/2");
    mate.flip = true;
    doc.mates = {mate};

    qor::app::Drawing sheet;
    sheet.format = QStringLiteral("A2");
    sheet.scale = 0.5;
    sheet.title["Benennung"] = QStringLiteral("Lagerbock");
    qor::app::Drawing::View view;
    view.id = 1;
    view.type = 3;
    view.x = 100.25;
    view.y = 80;
    view.label = QStringLiteral("Seite");
    sheet.views.push_back(view);
    qor::app::Drawing::Dim dim;
    dim.id = 2;
    dim.view = 1;
    dim.b[0] = 40;
    dim.text = QStringLiteral("40 h7");
    sheet.dims.push_back(dim);
    sheet.nextId = 3;
    doc.drawings.push_back(sheet);

    doc.views = QJsonArray{QJsonObject{{"name", "Vorne"}, {"eye", QJsonArray{0, -1, 0}}, {"fov", 45.5}}};
    doc.meta = QJsonObject{{"author", "Jörg"},
                           {"nested", QJsonObject{{"a", QJsonArray{1, 2.5, QJsonValue(), true}}}}};
    return doc;
}

// Everything a failed load must leave alone.
struct Observed {
    QJsonObject json;
    QString folder;
    std::size_t cacheSize;

    explicit Observed(const Document& doc)
        : json(doc.toJson()), folder(doc.folder), cacheSize(doc.cache.size())
    {
    }
    bool operator==(const Observed&) const = default;
};

Document openDocument()
{
    Document doc = richDocument();
    doc.folder = QStringLiteral("/home/u/bg");
    doc.cache[42] = RecomputeCacheEntry{};
    doc.cacheOrder.push_back(42);
    return doc;
}

} // namespace

TEST(DocumentFileWriter, KeysThatAreAlwaysOrOnlySometimesWritten)
{
    Document doc;
    QJsonObject json = doc.toJson();
    EXPECT_EQ(sortedKeys(json),
              (QStringList{"appearance", "bodyNames", "features", "format", "hidden", "meta",
                           "nextId", "parameters", "rollback", "units", "version"}));
    EXPECT_EQ(json.value("format").toString(), QStringLiteral("QorCAD-Bauteil"));
    EXPECT_TRUE(json.value("version").isDouble());
    EXPECT_EQ(json.value("version").toInt(), 1);
    EXPECT_EQ(json.value("units").toString(), QStringLiteral("mm"));
    EXPECT_EQ(json.value("rollback").toInt(), -1);

    // Mates without components are not written and so are gone after reading.
    Mate mate;
    mate.id = 3;
    doc.mates.push_back(mate);
    json = doc.toJson();
    EXPECT_FALSE(json.contains("mates"));
    EXPECT_FALSE(json.contains("components"));
    Document back;
    ASSERT_TRUE(back.fromJson(json));
    EXPECT_TRUE(back.mates.empty());

    doc.mates.clear();
    doc.components.push_back(Component{});
    json = doc.toJson();
    ASSERT_TRUE(json.value("mates").isArray());
    EXPECT_TRUE(json.value("mates").toArray().isEmpty());

    const QJsonObject rich = richDocument().toJson();
    EXPECT_TRUE(rich.contains("drawings"));
    EXPECT_TRUE(rich.contains("views"));
    const QJsonArray features = rich.value("features").toArray();
    EXPECT_EQ(sortedKeys(features[0].toObject()), (QStringList{"id", "name", "params", "sketch", "type"}));
    EXPECT_EQ(sortedKeys(features[1].toObject()),
              (QStringList{"id", "name", "params", "suppressed", "type"}));
    EXPECT_EQ(sortedKeys(features[2].toObject()), (QStringList{"id", "name", "params", "type"}));
    EXPECT_EQ(sortedKeys(rich.value("parameters").toArray()[1].toObject()),
              (QStringList{"comment", "expr", "name", "unit"}));
    const QJsonArray appearance = rich.value("appearance").toArray();
    ASSERT_EQ(appearance.size(), 2);
    EXPECT_EQ(appearance[0].toObject().value("body").toInt(), 100); // ascending ids
    EXPECT_EQ(appearance[1].toObject().value("material").toString(), QStringLiteral("Messing"));
    EXPECT_EQ(appearance[1].toObject().value("color").toArray(), (QJsonArray{0.86, 0.72, 0.38}));
    EXPECT_EQ(rich.value("bodyNames").toObject(),
              (QJsonObject{{"100", "Grundplatte"}, {"300", ""}}));
}

TEST(DocumentFileWriter, HiddenFalseEntriesAndBodyIdKeys)
{
    Document doc;
    doc.hidden = {{5, false}, {6, true}, {-2, true}};
    EXPECT_EQ(doc.toJson().value("hidden").toObject(), (QJsonObject{{"6", true}, {"-2", true}}));

    const QJsonObject hidden{{"5", false}, {"8", "ja"}, {"9", true}};
    ASSERT_TRUE(doc.fromJson(with(header(), "hidden", hidden)));
    EXPECT_EQ(doc.hidden, (std::map<int, bool>{{5, false}, {8, false}, {9, true}}));

    const QJsonObject names{{"007", "a"}, {"-3", "b"}, {"99999999999", "c"}, {" 4", "d"}, {"12", 5}};
    ASSERT_TRUE(doc.fromJson(with(header(), "bodyNames", names)));
    EXPECT_EQ(doc.bodyNames.at(7), QStringLiteral("a"));
    EXPECT_EQ(doc.bodyNames.at(-3), QStringLiteral("b"));
    EXPECT_EQ(doc.bodyNames.at(12), QString());
    // Keys that are no 32-bit decimal number read as body 0; the last such key wins.
    EXPECT_EQ(doc.bodyNames.count(0), 1u);
    EXPECT_EQ(doc.bodyNames.size(), 4u);
}

TEST(DocumentFileReader, FormatAndVersionChecks)
{
    Document doc = openDocument();
    const Observed before(doc);
    QString error;

    for (const QJsonObject& bad : {QJsonObject{}, with(header(), "format", "qorcad-bauteil"),
                                   with(header(), "format", 5), with(header(), "format", "QorCAD-Baugruppe")}) {
        error.clear();
        EXPECT_FALSE(doc.fromJson(bad, &error));
        EXPECT_EQ(error, notADocument);
        EXPECT_EQ(Observed(doc), before);
    }
    for (const QJsonValue version : {QJsonValue(2), QJsonValue(1.5), QJsonValue(1e308), QJsonValue(3e9)}) {
        error.clear();
        EXPECT_FALSE(doc.fromJson(with(header(), "version", version), &error));
        EXPECT_EQ(error, newerVersion);
        EXPECT_EQ(Observed(doc), before);
    }
    EXPECT_FALSE(doc.fromJson(with(header(), "format", 1))); // no error text wanted: no crash

    QJsonObject noVersion = header();
    noVersion.remove("version");
    for (const QJsonObject& good : {noVersion, with(header(), "version", 1.0), with(header(), "version", 0),
                                    with(header(), "version", -4), with(header(), "version", "7")}) {
        Document fresh;
        EXPECT_TRUE(fresh.fromJson(good, &error));
    }
}

TEST(DocumentFileReader, DefaultsForMissingMembers)
{
    const QJsonObject json = with(
        with(with(header(), "parameters",
                  QJsonArray{QJsonObject{{"name", "a"}, {"expr", "1"}},
                             QJsonObject{{"name", "b"}, {"expr", 2.5}, {"unit", 3}, {"comment", true}}}),
             "appearance",
             QJsonArray{QJsonObject{{"body", 4}}, QJsonObject{{"body", 5}, {"color", QJsonArray{0.5, "x"}}},
                        QJsonObject{{"body", 4}, {"material", "Glas"}}}),
        "features",
        QJsonArray{QJsonObject{{"id", 3}, {"type", "extrude"}, {"sketch", QJsonObject{{"next", 4}}}},
                   QJsonObject{{"id", 4}, {"type", "sketch"}}});
    Document doc;
    ASSERT_TRUE(doc.fromJson(json));

    ASSERT_EQ(doc.parameters.size(), 2u);
    EXPECT_TRUE(doc.parameters[0].unit.isEmpty()); // not "mm"
    EXPECT_TRUE(doc.parameters[0].comment.isEmpty());
    EXPECT_EQ(doc.parameters[1].expr, QStringLiteral("2.5"));
    EXPECT_TRUE(doc.parameters[1].unit.isEmpty());

    ASSERT_EQ(doc.appearance.size(), 2u);
    const BodyAppearance& glass = doc.appearance.at(4); // the later entry replaced the first
    EXPECT_EQ(glass, (BodyAppearance{QStringLiteral("Glas"), 0, 0, 0, 7.85}));
    EXPECT_EQ(doc.appearance.at(5), (BodyAppearance{QString(), 0.5, 0, 0, 7.85}));

    ASSERT_EQ(doc.features.size(), 2u);
    EXPECT_EQ(doc.features[0]->sketch, nullptr);
    ASSERT_NE(doc.features[1]->sketch, nullptr);
    EXPECT_TRUE(doc.features[1]->sketch->entities.empty());
    ASSERT_TRUE(bool(doc.features[1]->sketch->dimensionNamer));
    EXPECT_EQ(doc.features[1]->sketch->dimensionNamer(), "d1");
    EXPECT_EQ(doc.rollback, -1);
    EXPECT_EQ(doc.nextId, 4);
    EXPECT_TRUE(doc.meta.isEmpty());
}

TEST(DocumentFileReader, NextIdCoversEveryStoredId)
{
    QJsonObject json = with(header(), "nextId", 2);
    json.insert("features", QJsonArray{QJsonObject{{"id", 5}}, QJsonObject{{"id", 3}}});
    json.insert("components", QJsonArray{QJsonObject{{"id", 11}}});
    json.insert("mates", QJsonArray{QJsonObject{{"id", 9}}});
    Document doc;
    ASSERT_TRUE(doc.fromJson(json));
    EXPECT_EQ(doc.nextId, 11);
    json.insert("mates", QJsonArray{QJsonObject{{"id", 40}}});
    ASSERT_TRUE(doc.fromJson(json));
    EXPECT_EQ(doc.nextId, 40);
    json.insert("nextId", 100);
    ASSERT_TRUE(doc.fromJson(json));
    EXPECT_EQ(doc.nextId, 100);

    // A negative counter would hand out the origin plane ids -3 … -1.
    ASSERT_TRUE(doc.fromJson(with(header(), "nextId", -5)));
    EXPECT_EQ(doc.nextId, 0);
    ASSERT_TRUE(doc.fromJson(with(header(), "nextId", 3e9)));
    EXPECT_EQ(doc.nextId, 0);
}

TEST(DocumentFileReader, WrongTypesEverywhere)
{
    const QJsonObject json{
        {"format", "QorCAD-Bauteil"}, {"version", QJsonArray{}}, {"units", 3},
        {"features", "x"},            {"parameters", 5},        {"appearance", QJsonObject{}},
        {"bodyNames", QJsonArray{1}}, {"hidden", "a"},          {"rollback", "1"},
        {"nextId", true},             {"meta", QJsonArray{}},   {"drawings", QJsonObject{}},
        {"views", QJsonObject{}},     {"components", 3},        {"mates", "m"},
    };
    Document doc = openDocument();
    ASSERT_TRUE(doc.fromJson(json));
    EXPECT_TRUE(doc.features.empty());
    EXPECT_TRUE(doc.parameters.empty());
    EXPECT_TRUE(doc.appearance.empty());
    EXPECT_TRUE(doc.bodyNames.empty());
    EXPECT_TRUE(doc.hidden.empty());
    EXPECT_EQ(doc.rollback, -1);
    EXPECT_EQ(doc.nextId, 0);
    EXPECT_TRUE(doc.meta.isEmpty());
    EXPECT_TRUE(doc.drawings.empty());
    EXPECT_TRUE(doc.views.isEmpty());
    EXPECT_TRUE(doc.components.empty());
    EXPECT_TRUE(doc.mates.empty());
    // Derived and file-less members are not the reader's business.
    EXPECT_EQ(doc.folder, QStringLiteral("/home/u/bg"));
    EXPECT_EQ(doc.cache.size(), 1u);

    // Elements of the wrong type read as empty objects.
    const QJsonArray junk{1, "a", QJsonValue(), QJsonArray{}, true};
    QJsonObject elements = header();
    for (const char* key : {"features", "parameters", "appearance", "drawings", "components", "mates"})
        elements.insert(key, junk);
    ASSERT_TRUE(doc.fromJson(elements));
    ASSERT_EQ(doc.features.size(), 5u);
    EXPECT_EQ(doc.features[0]->id, 0);
    EXPECT_TRUE(doc.features[0]->type.isEmpty());
    EXPECT_EQ(doc.features[0]->sketch, nullptr);
    EXPECT_EQ(doc.parameters.size(), 5u);
    EXPECT_EQ(doc.appearance.size(), 1u); // all for body 0
    EXPECT_EQ(doc.appearance.at(0).density, 7.85);
    ASSERT_EQ(doc.drawings.size(), 5u);
    EXPECT_EQ(doc.drawings[2], qor::app::Drawing{});
    EXPECT_EQ(doc.components.size(), 5u);
    EXPECT_EQ(doc.components[4].m, Component{}.m);
    EXPECT_EQ(doc.mates.size(), 5u);

    // Members of features of the wrong type.
    const QJsonObject feature{{"id", "5"},          {"type", 7},      {"name", QJsonArray{}},
                              {"suppressed", "ja"}, {"params", "x"}, {"sketch", 4}};
    ASSERT_TRUE(doc.fromJson(with(header(), "features", QJsonArray{feature})));
    EXPECT_EQ(doc.features[0]->id, 0);
    EXPECT_TRUE(doc.features[0]->type.isEmpty());
    EXPECT_FALSE(doc.features[0]->suppressed);
    EXPECT_TRUE(doc.features[0]->params.isEmpty());
    const QJsonObject badSketch{{"id", 1}, {"type", "sketch"}, {"sketch", QJsonArray{1, 2}}};
    ASSERT_TRUE(doc.fromJson(with(header(), "features", QJsonArray{badSketch})));
    ASSERT_NE(doc.features[0]->sketch, nullptr);
    EXPECT_TRUE(doc.features[0]->sketch->entities.empty());
}

TEST(DocumentFileReader, NumbersAtTheEdges)
{
    QJsonObject json = header();
    json.insert("rollback", 1e308);
    json.insert("nextId", 1e10);
    json.insert("features", QJsonArray{QJsonObject{{"id", 3e9}, {"type", "box"}},
                                       QJsonObject{{"id", -2147483648.0}, {"type", "box"}},
                                       QJsonObject{{"id", 2147483647.0}, {"type", "box"}}});
    json.insert("appearance", QJsonArray{QJsonObject{{"body", 1e20}, {"density", 1e308},
                                                     {"color", QJsonArray{-1e308, 5e-324, 1.5}}}});
    json.insert("components", QJsonArray{QJsonObject{{"id", 12345678901.0}}});
    Document doc;
    ASSERT_TRUE(doc.fromJson(json));
    EXPECT_EQ(doc.rollback, -1);
    EXPECT_EQ(doc.features[0]->id, 0);
    EXPECT_EQ(doc.features[1]->id, -2147483647 - 1);
    EXPECT_EQ(doc.features[2]->id, 2147483647);
    EXPECT_EQ(doc.nextId, 2147483647);
    EXPECT_EQ(doc.components[0].id, 0);
    const BodyAppearance& a = doc.appearance.at(0);
    EXPECT_EQ(a.density, 1e308);
    EXPECT_EQ(a.r, -1e308);
    EXPECT_EQ(a.g, 5e-324);

    // Extreme values are written so that they read back unchanged.
    Document back;
    ASSERT_TRUE(back.fromJson(QJsonDocument::fromJson(QJsonDocument(doc.toJson()).toJson()).object()));
    EXPECT_EQ(back.toJson(), doc.toJson());
    EXPECT_EQ(back.appearance.at(0).g, 5e-324);
}

TEST(DocumentFileRoundTrip, ObjectAndBytesSurviveExactly)
{
    const Document original = richDocument();
    const QJsonObject first = original.toJson();
    Document copy;
    ASSERT_TRUE(copy.fromJson(first));
    EXPECT_EQ(copy.toJson(), first);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("lagerbock.qcpart");
    QString error;
    ASSERT_TRUE(original.save(path, &error)) << error.toStdString();
    const QByteArray bytes = readFile(path);
    EXPECT_TRUE(bytes.startsWith("{\n    \"appearance\": [\n        {\n"));

    Document loaded;
    ASSERT_TRUE(loaded.load(path, &error)) << error.toStdString();
    ASSERT_TRUE(loaded.save(path, &error));
    EXPECT_EQ(readFile(path), bytes);

    // Texts and numbers exactly as typed or stored.
    EXPECT_EQ(loaded.parameters[0].expr, QStringLiteral("40 mm + 0,5"));
    EXPECT_EQ(loaded.parameters[1].expr, QStringLiteral("30.000"));
    EXPECT_EQ(loaded.parameters[1].unit, QStringLiteral("°"));
    EXPECT_EQ(loaded.parameters[0].comment, QStringLiteral("Gesamtbreite „außen“"));
    EXPECT_EQ(loaded.parameters[0].value, 0.0); // derived, not stored
    EXPECT_TRUE(loaded.parameters[1].error.isEmpty());
    EXPECT_EQ(loaded.features[1]->params, original.features[1]->params);
    EXPECT_EQ(loaded.features[1]->params.value("taper").toDouble(), 0.1 + 0.2);
    EXPECT_EQ(loaded.features[2]->params.value("tiny").toDouble(), -4.9e-324);
    EXPECT_TRUE(loaded.features[2]->error.isEmpty());
    EXPECT_TRUE(loaded.features[2]->warning.isEmpty());
    EXPECT_TRUE(loaded.features[1]->suppressed);
    EXPECT_EQ(loaded.appearance.at(100), original.appearance.at(100));
    EXPECT_EQ(loaded.bodyName(300), QString());
    EXPECT_EQ(loaded.hidden, (std::map<int, bool>{{100, true}, {300, true}}));
    EXPECT_EQ(loaded.rollback, 2);
    EXPECT_EQ(loaded.nextId, 9);
    EXPECT_EQ(loaded.views, original.views);
    EXPECT_EQ(loaded.meta, original.meta);
    EXPECT_EQ(loaded.drawings, original.drawings);
    EXPECT_EQ(loaded.mates.size(), 1u);
    EXPECT_EQ(loaded.mates[0].value, QStringLiteral("breite/2"));
    EXPECT_EQ(loaded.components[1], original.components[1]);
    EXPECT_EQ(loaded.components[0].m[11], 0.333333333); // stored to nine decimals

    const qor::sketch::Sketch& sketch = *loaded.features[0]->sketch;
    ASSERT_EQ(sketch.constraints.size(), 1u);
    EXPECT_EQ(sketch.constraints[0].expression, "breite / 3,2");
    EXPECT_EQ(sketch.constraints[0].name, "d1");
    EXPECT_EQ(sketch.entities.size(), original.features[0]->sketch->entities.size());
    EXPECT_EQ(sketch.dimensionNamer(), "d2");
}

TEST(DocumentFileRoundTrip, DeepButLegalNestingInsideMeta)
{
    QJsonValue nested = QJsonValue(1);
    for (int i = 0; i < 500; ++i)
        nested = QJsonArray{nested};
    Document doc;
    doc.meta = QJsonObject{{"deep", nested}};
    QTemporaryDir dir;
    const QString path = dir.filePath("tief.qcpart");
    ASSERT_TRUE(doc.save(path));
    Document loaded;
    QString error;
    ASSERT_TRUE(loaded.load(path, &error)) << error.toStdString();
    EXPECT_EQ(loaded.meta, doc.meta);
}

TEST(DocumentFileLoad, SuccessSetsFolderAndEmptiesCache)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("bg"));
    const QString path = dir.filePath("bg/haupt.qcasm");
    ASSERT_TRUE(richDocument().save(path));

    Document doc = openDocument();
    doc.name = QStringLiteral("Flansch");
    ASSERT_TRUE(doc.load(path));
    EXPECT_EQ(doc.folder, QDir(dir.path()).absoluteFilePath("bg"));
    EXPECT_TRUE(doc.cache.empty());
    EXPECT_TRUE(doc.cacheOrder.empty());
    EXPECT_EQ(doc.name, QStringLiteral("Flansch"));
    EXPECT_EQ(doc.resolvePath(doc.components[0].path),
              QDir(dir.path()).absoluteFilePath("bg/teile/welle.qcpart"));

    // A relative path gives an absolute folder.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    Document relative;
    const bool ok = relative.load("bg/haupt.qcasm");
    QDir::setCurrent(previous);
    ASSERT_TRUE(ok);
    EXPECT_EQ(relative.folder, QDir(dir.path()).absoluteFilePath("bg"));
}

TEST(DocumentFileLoad, DamagedOrForeignFilesLeaveTheDocumentAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath("gut.qcpart");
    ASSERT_TRUE(richDocument().save(good));
    const QByteArray bytes = readFile(good);

    Document doc = openDocument();
    const Observed before(doc);
    const QString path = dir.filePath("kaputt.qcpart");
    QString error;

    auto expectRejected = [&](const QByteArray& content, const QString& expectedPrefix) {
        writeFile(path, content);
        error.clear();
        EXPECT_FALSE(doc.load(path, &error)) << content.left(60).toStdString();
        EXPECT_TRUE(error.startsWith(expectedPrefix)) << error.toStdString();
        EXPECT_TRUE(Observed(doc) == before);
    };

    expectRejected(QByteArray(), damaged);
    for (qsizetype length = 1; length < bytes.size() - 2; length += 97)
        expectRejected(bytes.left(length), damaged);
    expectRejected(bytes.left(bytes.size() - 3), damaged);
    expectRejected(QByteArray(10000, '[') + QByteArray(10000, ']'), damaged);
    expectRejected(QByteArray("{\"format\": \"QorCAD-Bauteil\", \"nextId\": 1e400}"), damaged);
    expectRejected(QByteArray("\xff\xfe{\x00\"\x00"), damaged);

    // Well-formed, but not a document of this program or this version.
    expectRejected(QByteArray("[1, 2, 3]"), notADocument);
    expectRejected(QByteArray("[]"), notADocument);
    expectRejected(QByteArray("null"), damaged); // the parser takes only objects and arrays
    expectRejected(QByteArray("{\"format\": \"QorCAD-Bauteil\", \"version\": 2}"), newerVersion);
    expectRejected(QByteArray("{\"features\": []}"), notADocument);

    std::mt19937 random(20240611u);
    for (int round = 0; round < 60; ++round) {
        QByteArray noise(qsizetype(1 + random() % 3000), '\0');
        for (char& c : noise)
            c = char(random() & 0xff);
        writeFile(path, noise);
        EXPECT_FALSE(doc.load(path, &error));
        EXPECT_TRUE(error.startsWith(damaged) || error == notADocument) << error.toStdString();
        EXPECT_TRUE(Observed(doc) == before);
    }

    // Files that cannot be read at all keep the file library's or our own text.
    EXPECT_FALSE(doc.load(dir.filePath("fehlt.qcpart"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(doc.load(dir.path(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("ist ein Ordner"))) << error.toStdString();
    EXPECT_TRUE(Observed(doc) == before);

    // The file is fine after all of this.
    EXPECT_TRUE(doc.load(good, &error));
}

TEST(DocumentFileSave, FailuresKeepTheOldFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Document doc = richDocument();
    QString error;

    // A directory where the file should go stays a directory.
    const QString folderPath = dir.filePath("ordner.qcpart");
    ASSERT_TRUE(QDir(dir.path()).mkdir("ordner.qcpart"));
    writeFile(folderPath + "/inhalt.txt", "Inhalt");
    EXPECT_FALSE(doc.save(folderPath, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("ist ein Ordner"))) << error.toStdString();
    EXPECT_TRUE(QFileInfo(folderPath).isDir());
    EXPECT_EQ(readFile(folderPath + "/inhalt.txt"), QByteArray("Inhalt"));

    error.clear();
    EXPECT_FALSE(doc.save(dir.filePath("fehlt/teil.qcpart"), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Der Ordner „"))) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("fehlt")));

    // A folder that takes no files, whoever asks.
    error.clear();
    EXPECT_FALSE(doc.save(QStringLiteral("/proc/qorcad-test.qcpart"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_NE(error, QStringLiteral("Unknown error"));

    // A write that runs out of room (here: the process's file size limit, which
    // binds root as well) fails at commit and leaves the old content.
    const QString path = dir.filePath("alt.qcpart");
    Document small;
    ASSERT_TRUE(small.save(path));
    const QByteArray old = readFile(path);
    ASSERT_LT(old.size(), 1000);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    error.clear();
    const bool saved_ok = doc.save(path, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(error, QStringLiteral("Die Datei „%1“ konnte nicht vollständig geschrieben werden").arg(path));
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"alt.qcpart"}));

    // And with room it works.
    EXPECT_TRUE(doc.save(path, &error)) << error.toStdString();
    EXPECT_NE(readFile(path), old);
}

TEST(DocumentFileSave, MissingWritePermission)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("teil.qcpart");
    Document small;
    ASSERT_TRUE(small.save(path));
    const QByteArray old = readFile(path);

    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile probe(dir.filePath("probe"));
    if (probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        GTEST_SKIP() << "file permissions do not bind this user";
    }
    QString error;
    const bool ok = richDocument().save(path, &error);
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(path), old);
}
