#include "io/Export.h"
#include "io/NameLinks.h"
#include "model/Document.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <BRepPrimAPI_MakeBox.hxx>

#include "tests/common/CpuTime.h"
#include "tests/common/ShapeChecks.h"
#include "tests/common/SmallFileSystem.h"
#include "tests/fixtures/Bytes.h"
#include "tests/fixtures/SpecialFiles.h"
#include "tests/fixtures/StagingThief.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qor::model;
using namespace qor::test;

namespace {

const QString notADocument = QStringLiteral("Keine QorCAD-Bauteildatei");
const QString newerVersion = QStringLiteral("Die Datei stammt aus einer neueren QorCAD-Version");
const QString damaged = QStringLiteral("Datei beschädigt: ");

QJsonObject header(const QString& key = {}, const QJsonValue& value = {})
{
    QJsonObject json{{"format", "QorCAD-Bauteil"}, {"version", 1}};
    if (!key.isEmpty())
        json.insert(key, value);
    return json;
}

std::unique_ptr<Feature> feature(int id, const char* type, const QJsonObject& params)
{
    auto f = std::make_unique<Feature>();
    f->id = id;
    f->type = QString::fromUtf8(type);
    f->name = f->type + QString::number(id);
    f->params = params;
    return f;
}

// A document that uses every stored member, with texts and numbers that do not
// survive careless handling.
Document richDocument()
{
    Document doc;
    doc.features.push_back(feature(1, "sketch", {{"plane", QJsonObject{{"kind", "origin"}}}}));
    qor::sketch::Sketch& sketch
        = *(doc.features[0]->sketch = std::make_unique<qor::sketch::Sketch>());
    const auto circle = sketch.addCircleAt(false, 1.5, -2.25, 12.5);
    sketch.addLineAt(true, 0, 0, 10, 0.1);
    sketch.addDimension(qor::sketch::ConstraintType::Radius, int(circle), -1, -1);
    sketch.constraints.back().name = "d1";
    sketch.constraints.back().expression = "breite / 3,2";
    doc.features.push_back(feature(2, "extrude",
                                   {{"distance", "2,5 mm + breite/3"},
                                    {"taper", 0.1 + 0.2},
                                    {"targets", QJsonArray{300, QJsonObject{}}}}));
    doc.features[1]->suppressed = true;
    doc.features.push_back(feature(5, "fillet", {{"big", 1e300}, {"tiny", -4.9e-324}}));
    doc.features[2]->error = QStringLiteral("Geometriefehler: x");
    doc.features[2]->warning = QStringLiteral("Kein Körper im Wirkbereich");

    doc.parameters.push_back(Parameter{QStringLiteral("breite"), QStringLiteral("40 mm + 0,5"),
                                       QStringLiteral("mm"), QStringLiteral("Gesamtbreite „außen“"),
                                       40.5, QString()});
    doc.parameters.push_back(Parameter{QStringLiteral("winkel"), QStringLiteral("30.000"),
                                       QStringLiteral("°"), QString(), 30.0,
                                       QStringLiteral("alt")});
    doc.appearance[300] = BodyAppearance{QStringLiteral("Messing"), 0.86, 0.72, 0.38, 8.5};
    doc.appearance[100] = BodyAppearance{QStringLiteral("Eigenes"), 0.1, 0.2 + 0.1, 1.0 / 3.0, 7.0};
    doc.bodyNames[100] = QStringLiteral("Grundplatte");
    doc.bodyNames[300] = QString();
    doc.hidden = {{100, true}, {300, true}};
    doc.rollback = 2;
    doc.nextId = 9;

    Component shaft;
    shaft.id = 6;
    shaft.path = QStringLiteral("teile/welle.qcpart");
    shaft.m = {0, -1, 0, 12.5, 1, 0, 0, -3, 0, 0, 1, 1.0 / 3.0};
    Component block;
    block.id = 7;
    block.embedded = QStringLiteral("eJzLSM3JyVcozy/KSQEAGgQEXQ==");
    block.grounded = true;
    doc.components = {shaft, block};
    Mate mate;
    mate.id = 8;
    mate.a.comp = 6;
    mate.a.sig.point = {1, 2, 3.25};
    mate.value = QStringLiteral("breite/2");
    doc.mates = {mate};

    qor::app::Drawing sheet;
    sheet.format = QStringLiteral("A2");
    sheet.title["Benennung"] = QStringLiteral("Lagerbock");
    sheet.views.push_back(qor::app::Drawing::View{});
    sheet.views[0].x = 100.25;
    doc.drawings.push_back(sheet);
    doc.views = QJsonArray{QJsonObject{{"name", "Vorne"}, {"fov", 45.5}}};
    doc.meta = QJsonObject{{"author", "Jörg"}, {"a", QJsonArray{1, 2.5, QJsonValue(), true}}};
    return doc;
}

// Everything a failed load must leave alone.
struct Observed {
    QJsonObject json;
    QString folder;
    std::size_t cacheSize;

    explicit Observed(const Document& doc)
        : json(doc.toJson())
        , folder(doc.folder)
        , cacheSize(doc.cache.size())
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

TEST(DocumentFileWriter, OnlyMeaningfulEntriesAreWritten)
{
    // Mates without components are not written and so are gone after reading.
    Document doc;
    doc.mates.push_back(Mate{});
    EXPECT_FALSE(doc.toJson().contains("mates"));
    doc.mates.clear();
    doc.components.push_back(Component{});
    EXPECT_EQ(doc.toJson().value("mates"), QJsonValue(QJsonArray{}));

    doc.hidden = {{5, false}, {6, true}, {-2, true}};
    EXPECT_EQ(doc.toJson().value("hidden").toObject(), (QJsonObject{{"6", true}, {"-2", true}}));

    ASSERT_TRUE(
        doc.fromJson(header("hidden", QJsonObject{{"5", false}, {"8", "ja"}, {"9", true}})));
    EXPECT_EQ(doc.hidden, (std::map<int, bool>{{5, false}, {8, false}, {9, true}}));

    const QJsonObject names{
        {"007", "a"}, {"-3", "b"}, {"99999999999", "c"}, {" 4", "d"}, {"12", 5}};
    ASSERT_TRUE(doc.fromJson(header("bodyNames", names)));
    EXPECT_EQ(doc.bodyNames.at(7), QStringLiteral("a"));
    EXPECT_EQ(doc.bodyNames.at(-3), QStringLiteral("b"));
    EXPECT_EQ(doc.bodyNames.at(12), QString());
    // Keys that are no 32-bit decimal number read as body 0; the last such key wins.
    EXPECT_EQ(doc.bodyNames.count(0), 1u);
    EXPECT_EQ(doc.bodyNames.size(), 4u);
}

// Body ids are feature id x 100 + k: from 100 features on, body 205 and sketch 205 both exist.
TEST(DocumentFileHidden, FeatureAndBodyEntriesKeptApart)
{
    Document doc;
    for (auto [id, type] : {std::pair{2, "box"}, {7, "sketch"}, {9, "plane"}, {205, "sketch"}})
        doc.features.push_back(feature(id, type, {}));
    doc.hidden = {{205, true}, {-205, false}, {-7, true}, {-9, false}, {300, false}};
    const QJsonObject saved = doc.toJson();
    // False entries are written for sketches only.
    EXPECT_EQ(saved.value("hidden").toObject(),
              (QJsonObject{{"205", true}, {"-205", false}, {"-7", true}}));
    Document reread;
    ASSERT_TRUE(reread.fromJson(saved));
    EXPECT_EQ(reread.hidden, (std::map<int, bool>{{205, true}, {-205, false}, {-7, true}}));

    // Files without the marker keyed features by their id: such keys move to the negative id,
    // and one that can also be a body (205 of feature 2) keeps hiding that body as it did.
    QJsonObject old = saved;
    old.remove("hiddenKeys");
    old.insert("hidden", QJsonObject{{"7", true}, {"9", true}, {"205", false}, {"300", true}});
    ASSERT_TRUE(reread.fromJson(old));
    const std::map<int, bool> moved{
        {-205, false}, {-9, true}, {-7, true}, {205, false}, {300, true}};
    EXPECT_EQ(reread.hidden, moved);
}

TEST(DocumentFileReader, FormatAndVersionChecks)
{
    Document doc = openDocument();
    const Observed before(doc);
    const std::pair<QJsonObject, QString> refused[] = {
        {QJsonObject{}, notADocument},
        {header("format", "qorcad-bauteil"), notADocument},
        {header("format", 5), notADocument},
        {header("format", "QorCAD-Baugruppe"), notADocument},
        {header("version", 3), newerVersion},
        {header("version", 2.5), newerVersion},
        {header("version", 1e308), newerVersion},
        {header("version", 3e9), newerVersion},
    };
    for (const auto& [json, message] : refused) {
        QString error;
        EXPECT_FALSE(doc.fromJson(json, &error));
        EXPECT_EQ(error, message);
        EXPECT_EQ(Observed(doc), before);
    }
    EXPECT_FALSE(doc.fromJson(header("format", 1))); // no error text wanted: no crash

    QJsonObject noVersion = header();
    noVersion.remove("version");
    for (const QJsonObject& good : {noVersion, header("version", 1.0), header("version", 0),
                                    header("version", -4), header("version", "7")})
        EXPECT_TRUE(Document().fromJson(good));
}

TEST(DocumentFileReader, MissingAndMistypedMembers)
{
    QJsonObject json = header(
        "parameters", QJsonArray{QJsonObject{{"name", "a"}, {"expr", "1"}},
                                 QJsonObject{{"expr", 2.5}, {"unit", 3}, {"comment", true}}});
    json.insert("appearance", QJsonArray{QJsonObject{{"body", 4}},
                                         QJsonObject{{"body", 5}, {"color", QJsonArray{0.5, "x"}}},
                                         QJsonObject{{"body", 4}, {"material", "Glas"}}});
    json.insert(
        "features",
        QJsonArray{QJsonObject{{"id", 3}, {"sketch", QJsonObject{}}},
                   QJsonObject{{"id", 4}, {"type", "sketch"}},
                   QJsonObject{{"id", "5"}, {"type", 7}, {"suppressed", "ja"}, {"params", "x"}},
                   QJsonObject{{"type", "sketch"}, {"sketch", QJsonArray{1}}}});
    Document doc;
    ASSERT_TRUE(doc.fromJson(json));
    EXPECT_TRUE(doc.parameters[0].unit.isEmpty()); // not "mm"
    EXPECT_EQ(doc.parameters[1].expr, QStringLiteral("2.5"));
    ASSERT_EQ(doc.appearance.size(), 2u);
    // The later entry replaces the first.
    EXPECT_EQ(doc.appearance.at(4), (BodyAppearance{QStringLiteral("Glas"), 0, 0, 0, 7.85}));
    EXPECT_EQ(doc.appearance.at(5), (BodyAppearance{QString(), 0.5, 0, 0, 7.85}));
    ASSERT_EQ(doc.features.size(), 4u);
    EXPECT_EQ(doc.features[0]->sketch, nullptr); // only sketches have one
    ASSERT_NE(doc.features[1]->sketch, nullptr);
    ASSERT_TRUE(bool(doc.features[1]->sketch->dimensionNamer));
    EXPECT_EQ(doc.features[1]->sketch->dimensionNamer(), "d1");
    EXPECT_EQ(doc.features[2]->id, 0);
    EXPECT_FALSE(doc.features[2]->suppressed);
    ASSERT_NE(doc.features[3]->sketch, nullptr);
    EXPECT_TRUE(doc.features[3]->sketch->entities.empty());
    EXPECT_EQ(doc.nextId, 4);

    // Members of the wrong type read as empty; the reader leaves the folder and
    // the cache alone.
    doc = openDocument();
    QJsonObject wrong = header("version", QJsonArray{});
    for (const char* key :
         {"units", "features", "parameters", "appearance", "bodyNames", "hidden", "rollback",
          "nextId", "meta", "drawings", "views", "components", "mates"})
        wrong.insert(key, "x");
    ASSERT_TRUE(doc.fromJson(wrong));
    EXPECT_EQ(doc.toJson(), Document().toJson());
    EXPECT_TRUE(doc.drawings.empty() && doc.components.empty() && doc.mates.empty());
    EXPECT_EQ(doc.folder, QStringLiteral("/home/u/bg"));
    EXPECT_EQ(doc.cache.size(), 1u);

    // Elements of the wrong type read as empty objects.
    const QJsonArray junk{1, "a", QJsonValue(), QJsonArray{}, true};
    QJsonObject elements = header();
    for (const char* key :
         {"features", "parameters", "appearance", "drawings", "components", "mates"})
        elements.insert(key, junk);
    ASSERT_TRUE(doc.fromJson(elements));
    ASSERT_EQ(doc.features.size(), 5u);
    EXPECT_EQ(doc.parameters.size(), 5u);
    EXPECT_EQ(doc.appearance.size(), 1u); // all for body 0
    EXPECT_EQ(doc.drawings[2], qor::app::Drawing{});
    EXPECT_EQ(doc.components[4].m, Component{}.m);
    EXPECT_EQ(doc.mates.size(), 5u);
}

TEST(DocumentFileReader, NextIdCoversEveryStoredId)
{
    QJsonObject json = header("nextId", 2);
    json.insert("features", QJsonArray{QJsonObject{{"id", 5}}, QJsonObject{{"id", 3}}});
    json.insert("components", QJsonArray{QJsonObject{{"id", 11}}});
    json.insert("mates", QJsonArray{QJsonObject{{"id", 9}}});
    Document doc;
    ASSERT_TRUE(doc.fromJson(json));
    EXPECT_EQ(doc.nextId, 11);
    json.insert("mates", QJsonArray{QJsonObject{{"id", 40}}});
    ASSERT_TRUE(doc.fromJson(json));
    EXPECT_EQ(doc.nextId, 40);

    // A negative counter would hand out the origin plane ids -3 … -1.
    for (const double stored : {-5.0, 3e9}) {
        ASSERT_TRUE(doc.fromJson(header("nextId", stored)));
        EXPECT_EQ(doc.nextId, 0) << stored;
    }
}

TEST(DocumentFileReader, NumbersAtTheEdges)
{
    QJsonObject json = header("rollback", 1e308);
    json.insert("nextId", 1e10);
    json.insert("features", QJsonArray{QJsonObject{{"id", 3e9}, {"type", "box"}},
                                       QJsonObject{{"id", -2147483648.0}, {"type", "box"}},
                                       QJsonObject{{"id", 999999}, {"type", "box"}}});
    json.insert("appearance", QJsonArray{QJsonObject{{"body", 1e20},
                                                     {"density", 1e308},
                                                     {"color", QJsonArray{-1e308, 5e-324, 1.5}}}});
    json.insert("components", QJsonArray{QJsonObject{{"id", 12345678901.0}}});
    Document doc;
    ASSERT_TRUE(doc.fromJson(json));
    EXPECT_EQ(doc.rollback, -1);
    EXPECT_EQ(doc.features[0]->id, 0);
    EXPECT_EQ(doc.features[1]->id, -2147483647 - 1);
    EXPECT_EQ(doc.features[2]->id, 999999);
    EXPECT_EQ(doc.nextId, 999999);
    EXPECT_EQ(doc.components[0].id, 0);
    EXPECT_EQ(doc.appearance.at(0), (BodyAppearance{QString(), -1e308, 5e-324, 1.5, 1e308}));

    // Extreme values are written so that they read back unchanged.
    Document back;
    ASSERT_TRUE(
        back.fromJson(QJsonDocument::fromJson(QJsonDocument(doc.toJson()).toJson()).object()));
    EXPECT_EQ(back.toJson(), doc.toJson());
    EXPECT_EQ(back.appearance.at(0).g, 5e-324);
}

TEST(DocumentFileRoundTrip, ObjectAndBytesSurviveExactly)
{
    const Document original = richDocument();
    QTemporaryDir dir;
    const QString path = dir.filePath("lagerbock.qcpart");
    QString error;
    ASSERT_TRUE(original.save(path, &error)) << error.toStdString();
    const QByteArray bytes = readFile(path);
    EXPECT_TRUE(bytes.startsWith("{\n    \"appearance\": [\n        {\n"));

    Document loaded;
    ASSERT_TRUE(loaded.load(path, &error)) << error.toStdString();
    EXPECT_EQ(loaded.toJson(), original.toJson());
    ASSERT_TRUE(loaded.save(path, &error));
    EXPECT_EQ(readFile(path), bytes);

    EXPECT_EQ(loaded.drawings, original.drawings);
    EXPECT_EQ(loaded.components[0].m[11], 0.333333333); // stored to nine decimals
    // Derived members are not stored.
    EXPECT_EQ(loaded.parameters[0].value, 0.0);
    EXPECT_TRUE(loaded.features[2]->error.isEmpty());
    EXPECT_TRUE(loaded.features[2]->warning.isEmpty());
    EXPECT_EQ(loaded.features[0]->sketch->dimensionNamer(), "d2");

    // Deep but legal nesting inside the free-form members.
    QJsonValue nested = QJsonValue(1);
    for (int i = 0; i < 500; ++i)
        nested = QJsonArray{nested};
    loaded.meta = QJsonObject{{"deep", nested}};
    ASSERT_TRUE(loaded.save(path));
    Document deep;
    ASSERT_TRUE(deep.load(path, &error)) << error.toStdString();
    EXPECT_EQ(deep.meta, loaded.meta);
}

TEST(DocumentFileLoad, SuccessSetsFolderAndEmptiesCache)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("bg"));
    const QString path = dir.filePath("bg/haupt.qcasm");
    ASSERT_TRUE(richDocument().save(path));
    const QString folder = QDir(dir.path()).absoluteFilePath("bg");

    Document doc = openDocument();
    doc.name = QStringLiteral("Flansch");
    ASSERT_TRUE(doc.load(path));
    EXPECT_EQ(doc.folder, folder);
    EXPECT_TRUE(doc.cache.empty());
    EXPECT_TRUE(doc.cacheOrder.empty());
    EXPECT_EQ(doc.name, QStringLiteral("Flansch"));
    EXPECT_EQ(doc.resolvePath(doc.components[0].path), folder + "/teile/welle.qcpart");

    // A relative path gives an absolute folder.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    Document relative;
    const bool ok = relative.load("bg/haupt.qcasm");
    QDir::setCurrent(previous);
    ASSERT_TRUE(ok);
    EXPECT_EQ(relative.folder, folder);
}

TEST(DocumentFileLoad, DamagedOrForeignFilesLeaveTheDocumentAlone)
{
    QTemporaryDir dir;
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

    for (qsizetype length = 0; length < bytes.size() - 2; length += 97)
        expectRejected(bytes.left(length), damaged);
    expectRejected(QByteArray(10000, '[') + QByteArray(10000, ']'), damaged);
    expectRejected(QByteArray("{\"format\": \"QorCAD-Bauteil\", \"nextId\": 1e400}"), damaged);
    expectRejected(QByteArray("\xff\xfe{\x00\"\x00"), damaged);
    expectRejected(QByteArray("null"), damaged); // the parser takes only objects and arrays
    // Ids near the top of the int range would overflow the next added feature.
    expectRejected(QByteArray("{\"format\": \"QorCAD-Bauteil\", \"version\": 1, "
                              "\"nextId\": 2147483647}"),
                   damaged);
    expectRejected(QByteArray("{\"format\": \"QorCAD-Bauteil\", \"version\": 1, "
                              "\"features\": [{\"id\": 1000000, \"type\": \"box\"}]}"),
                   damaged);
    // Well-formed, but not a document of this program or this version.
    expectRejected(QByteArray("[]"), notADocument);
    expectRejected(QByteArray("{\"format\": \"QorCAD-Bauteil\", \"version\": 2}"), newerVersion);
    expectRejected(QByteArray("{\"features\": []}"), notADocument);

    for (unsigned seed = 0; seed < 60; ++seed) {
        writeFile(path, randomBytes(qsizetype(1 + seed * 50), seed));
        EXPECT_FALSE(doc.load(path, &error));
        EXPECT_TRUE(error.startsWith(damaged) || error == notADocument) << error.toStdString();
    }

    // Files that cannot be read at all get a German text of their own.
    EXPECT_FALSE(doc.load(dir.filePath("fehlt.qcpart"), &error));
    EXPECT_EQ(error,
              QStringLiteral("Die Datei „%1“ existiert nicht").arg(dir.filePath("fehlt.qcpart")));
    EXPECT_FALSE(doc.load(dir.path(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("ist ein Ordner"))) << error.toStdString();
    EXPECT_TRUE(Observed(doc) == before);
    EXPECT_TRUE(doc.load(good, &error));
}

// The parser's findings in German, with the byte where it stopped.
TEST(DocumentFileLoad, DamagedFilesAreNamedInGerman)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("kaputt.qcpart");
    const std::pair<QByteArray, const char*> cases[] = {
        {"{", "Objekt nicht abgeschlossen (bei Byte 1)"},
        {"{\"a\" 1}", "Doppelpunkt nach einem Namen fehlt (bei Byte 6)"},
        {"[1 2]", "Komma zwischen zwei Werten fehlt (bei Byte 4)"},
        {"[nul]", "ungültiger Wert (bei Byte 2)"},
        {"", "ungültiger Wert (bei Byte 0)"},
        {"[12", "Datei endet mitten in einer Zahl (bei Byte 3)"},
        {"[1e400]", "ungültige Zahl (bei Byte 6)"},
        {"[\"\xff\"]", "ungültige UTF-8-Zeichen in einem Text (bei Byte 2)"},
        {"[\"abc", "Text nicht abgeschlossen (bei Byte 6)"},
        {"[1,]", "Wert nach einem Komma fehlt (bei Byte 4)"},
        {QByteArray(10000, '[') + QByteArray(10000, ']'), "zu tief verschachtelt (bei Byte 1025)"},
        {"{} x", "weitere Zeichen nach dem Ende des Dokuments (bei Byte 3)"},
    };
    for (const auto& [content, text] : cases) {
        writeFile(path, content);
        Document doc;
        QString error;
        EXPECT_FALSE(doc.load(path, &error));
        EXPECT_EQ(error, damaged + QString::fromUtf8(text)) << content.left(20).toStdString();
    }
}

// Paths that name no ordinary file are refused by their status or size before
// anything is read, and a file that yields more than its size said is cut off:
// none of them blocks or fills the memory.
TEST(DocumentFileLoad, DocumentsThatAreNoOrdinaryFilesAreRefusedBeforeReading)
{
    QTemporaryDir dir;
    const auto at = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    for (const char* pipe : {"rohr.qcpart", "rohr.qcasm"})
        ASSERT_TRUE(qor::test::makePipe(at(pipe)));
    ASSERT_TRUE(qor::test::makeSparseFile(at("riesig.qcpart"), qint64(64) << 30));
    for (const auto& [name, target] : {std::pair{"null.qcpart", "/dev/zero"},
                                       {"seiten.qcpart", "/proc/self/pagemap"},
                                       {"schleife.qcpart", "schleife.qcpart"}})
        ASSERT_TRUE(qor::test::makeLink(at(name), QString::fromLatin1(target)));

    const std::pair<const char*, const char*> cases[] = {
        {"rohr.qcpart", "„rohr.qcpart“ ist eine benannte Pipe und wird nicht gelesen"},
        {"rohr.qcasm", "„rohr.qcasm“ ist eine benannte Pipe und wird nicht gelesen"},
        {"riesig.qcpart", "„riesig.qcpart“ ist mit 68,7 GB zu groß (höchstens 1,0 GB)"},
        {"null.qcpart", "„null.qcpart“ ist eine Gerätedatei und wird nicht gelesen"},
        {"seiten.qcpart",
         "„seiten.qcpart“ liefert mehr Daten, als seine Größe angibt, und wird nicht gelesen"},
        {"schleife.qcpart",
         "„schleife.qcpart“ ist ein Verweis, der im Kreis auf sich selbst zeigt"},
    };
    Document doc = openDocument();
    const Observed before(doc);
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        const double cpuBefore = qor::test::cpuSeconds();
        QString error;
        EXPECT_FALSE(doc.load(at(name), &error));
        EXPECT_EQ(error, QString::fromUtf8(text));
        EXPECT_LT(qor::test::cpuSeconds() - cpuBefore, 2.0);
        EXPECT_TRUE(Observed(doc) == before);
    }
}

// A save or an export aimed at a pipe, a socket, a device or a folder refuses by name and
// leaves the node as it was: neither written into (a pipe would block, a device would take
// the bytes) nor replaced by a regular file.
TEST(DocumentFileSave, SaveAndExportLeaveNodesThatAreNoOrdinaryFilesInPlace)
{
    QTemporaryDir dir;
    const Document doc = richDocument();
    const std::vector<qor::io::ExportBody> bodies{
        {QStringLiteral("Quader"), BRepPrimAPI_MakeBox(10, 20, 30).Shape()}};
    const auto save = [&](const QString& path, QString* error) { return doc.save(path, error); };
    const auto exportTo = [&](const QString& path, QString* error) {
        return qor::io::exportFile(path, bodies, {}, error);
    };
    const struct {
        const char* suffix;
        std::function<bool(const QString&, QString*)> write;
    } writers[] = {{"qcpart", save}, {"qcasm", save}, {"step", exportTo}, {"stl", exportTo}};
    const struct {
        const char* name;
        std::function<bool(const QString&)> make;
        const char* text;
        bool rootOnly;
    } nodes[] = {
        {"rohr", qor::test::makePipe, "eine benannte Pipe", false},
        {"sockel", qor::test::makeSocket, "ein Socket", false},
        {"ordner", [](const QString& path) { return QDir().mkdir(path); }, "ein Ordner", false},
        // Without root the pipe and the socket stand in for it.
        {"geraet", qor::test::makeNullDevice, "eine Gerätedatei", true},
    };
    QStringList made;
    for (const auto& node : nodes) {
        for (const auto& writer : writers) {
            const QString name = QStringLiteral("%1.%2").arg(node.name, writer.suffix);
            SCOPED_TRACE(name.toStdString());
            const QString path = dir.filePath(name);
            if (!node.make(path)) {
                EXPECT_TRUE(node.rootOnly && ::geteuid() != 0) << "could not make the node";
                continue;
            }
            made << name;
            const auto before = qor::test::nodeOf(path);
            QString error;
            EXPECT_FALSE(writer.write(path, &error));
            EXPECT_EQ(error, QStringLiteral("„%1“ ist %2 und wird nicht überschrieben")
                                 .arg(name, QString::fromUtf8(node.text)));
            EXPECT_EQ(qor::test::nodeOf(path), before);
        }
    }
    // No save file, staging folder or side file was left beside them.
    made.sort();
    EXPECT_EQ(QDir(dir.path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDir::Name),
              made);
}

TEST(DocumentFileSave, FailuresKeepTheOldFile)
{
    QTemporaryDir dir;
    const Document doc = richDocument();
    QString error;

    // A directory where the file should go stays a directory.
    const QString folderPath = dir.filePath("ordner.qcpart");
    ASSERT_TRUE(QDir(dir.path()).mkdir("ordner.qcpart"));
    writeFile(folderPath + "/inhalt.txt", "Inhalt");
    EXPECT_FALSE(doc.save(folderPath, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("ist ein Ordner"))) << error.toStdString();
    EXPECT_EQ(readFile(folderPath + "/inhalt.txt"), QByteArray("Inhalt"));

    EXPECT_FALSE(doc.save(dir.filePath("fehlt/teil.qcpart"), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Der Ordner „"))) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("fehlt")));

    // A folder that takes no files and a file that takes no writes, whoever asks:
    // in German like every other failure.
    for (const char* path : {"/proc/qorcad-test.qcpart", "/proc/version"}) {
        error.clear();
        EXPECT_FALSE(doc.save(QString::fromUtf8(path), &error));
        EXPECT_TRUE(error.startsWith(QStringLiteral("Die Datei „%1“ ").arg(path)))
            << error.toStdString();
    }

    // A write that runs out of room (here: the process's file size limit, which
    // binds root as well) fails at commit and leaves the old content.
    const QString path = dir.filePath("alt.qcpart");
    ASSERT_TRUE(Document().save(path));
    const QByteArray old = readFile(path);
    ASSERT_LT(old.size(), 1000);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    const bool savedOk = doc.save(path, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(savedOk);
    EXPECT_EQ(
        error,
        QStringLiteral("Die Datei „%1“ konnte nicht vollständig geschrieben werden").arg(path));
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"alt.qcpart"}));
    EXPECT_TRUE(doc.save(path, &error)) << error.toStdString();
    EXPECT_NE(readFile(path), old);
}

// Saving to a full disk says so and leaves the old file. The disk is a small
// memory file system of the test's own, mounted in a child process with a
// mount namespace of its own; where the system allows no such namespace the
// test is skipped.
TEST(DocumentFileSave, FullDiskIsNamed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("teil.qcpart"));
    const auto text = qor::test::onSmallFileSystem(dir.path(), 64, [&]() -> QByteArray {
        if (!Document().save(path))
            return "small save failed";
        const QByteArray old = readFile(path);
        Document large;
        for (int i = 0; i < 4000; ++i)
            large.parameters.push_back({QStringLiteral("p%1").arg(i), QStringLiteral("1 mm")});
        QString error;
        const bool saved = large.save(path, &error);
        return (saved ? "saved" : error.toUtf8()) + '\n'
               + (readFile(path) == old ? "old" : "changed");
    });
    if (!text)
        GTEST_SKIP() << "no mount namespace for a small file system here";
    EXPECT_EQ(text->toStdString(),
              QStringLiteral("Die Datei „%1“ konnte nicht vollständig geschrieben werden "
                             "(Datenträger voll)\nold")
                  .arg(path)
                  .toStdString());
}

// A document whose name or folder name is not UTF-8 is opened through a link. Its
// components are looked up beside the real file, and its save replaces the real file and
// leaves nothing else in the folder.
TEST(DocumentFileSave, NamesThatAreNotUtf8AreSavedAndLookedUpBesideTheRealFile)
{
    const struct {
        const char* folder;
        const char* name;
    } cases[] = {
        {"teile", "gruppe.qcasm"},
        {"teile", "gr\xfcppe.qcasm"},
        {"ordner\xe9", "gruppe.qcasm"},
        {"ordner\xe9", "gr\xfcppe.qcasm"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + "/" + c.name);
        const QByteArray folder = QFile::encodeName(dir.path()) + '/' + c.folder;
        const QByteArray file = folder + '/' + c.name;
        ASSERT_TRUE(std::filesystem::create_directory(folder.toStdString()));
        // Written under text names, then given the bytes.
        Document part;
        part.addFeature(QStringLiteral("box"),
                        QJsonObject{{"length", "10 mm"}, {"width", "10 mm"}, {"height", "10 mm"}});
        ASSERT_TRUE(part.save(dir.filePath(QStringLiteral("teil"))));
        Document assembly;
        Component component;
        component.id = 1;
        component.name = QStringLiteral("H-box");
        component.path = QStringLiteral("H-box.qcpart");
        assembly.components.push_back(component);
        assembly.nextId = 2;
        ASSERT_TRUE(assembly.save(dir.filePath(QStringLiteral("gruppe"))));
        const auto move = [&](const char* from, const QByteArray& to) {
            return ::rename((QFile::encodeName(dir.path()) + '/' + from).constData(),
                            to.constData());
        };
        ASSERT_EQ(move("teil", folder + "/H-box.qcpart"), 0);
        ASSERT_EQ(move("gruppe", file), 0);

        qor::io::NameLinks links;
        QString error;
        const QString reached = links.reach(file, QFile::decodeName(file), error);
        ASSERT_FALSE(reached.isEmpty()) << error.toStdString();
        Document opened;
        ASSERT_TRUE(opened.load(reached, &error)) << error.toStdString();
        opened.recompute();
        ASSERT_EQ(opened.components.size(), 1u);
        EXPECT_EQ(opened.components.front().status, QString());
        EXPECT_EQ(opened.current.bodies.get().size(), 1u);

        opened.meta.insert(QStringLiteral("gespeichert"), true);
        ASSERT_TRUE(opened.save(reached, &error)) << error.toStdString();
        std::ifstream written(file.toStdString(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(written)),
                                std::istreambuf_iterator<char>());
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(bytes)).object();
        EXPECT_TRUE(json.value(QStringLiteral("meta")).toObject().value("gespeichert").toBool());
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString()))
            names.insert(entry.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"H-box.qcpart", c.name}));
        std::filesystem::remove_all(folder.toStdString());
    }
}

namespace {

std::string bytesOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> entriesOf(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// A document saved under a text name and then given the name's bytes.
void placeDocument(const QTemporaryDir& dir, const QByteArray& file)
{
    ASSERT_TRUE(Document().save(dir.filePath(QStringLiteral("platziert"))));
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath(QStringLiteral("platziert"))).constData(),
                       file.constData()),
              0);
}

} // namespace

// Whoever may write into a shared folder may plant links under the names a save could stage
// its file at (hidden names with the process number and a count). The save writes only the
// user's file: what the links lead to stays as it was, and the document stays a regular file.
TEST(DocumentFileSave, LinksPlantedBesideTheDocumentLeaveTheirTargetsAlone)
{
    for (const char* name : {"teil.qcpart", "caf\xe9.qcpart"}) {
        SCOPED_TRACE(name);
        QTemporaryDir dir;
        const std::string folder = QFile::encodeName(dir.path()).toStdString();
        const QByteArray file = QFile::encodeName(dir.path()) + '/' + name;
        const std::string victim = folder + "/fremd.txt";
        std::ofstream(victim) << "fremd";
        placeDocument(dir, file);
        std::set<std::string> expected{name, "fremd.txt"};
        for (int n = 0; n < 400; ++n) {
            const std::string planted = folder + "/.qorcad-" + std::to_string(::getpid()) + "-"
                                        + std::to_string(n) + ".qcpart";
            ASSERT_EQ(::symlink(victim.c_str(), planted.c_str()), 0);
            expected.insert(std::filesystem::path(planted).filename().string());
        }

        qor::io::NameLinks links;
        QString error;
        const QString reached = links.reach(file, QFile::decodeName(file), error);
        ASSERT_FALSE(reached.isEmpty()) << error.toStdString();
        Document opened;
        ASSERT_TRUE(opened.load(reached, &error)) << error.toStdString();
        opened.meta.insert(QStringLiteral("gespeichert"), true);
        ASSERT_TRUE(opened.save(reached, &error)) << error.toStdString();

        EXPECT_EQ(bytesOf(victim), "fremd");
        struct stat status { };
        ASSERT_EQ(::lstat(file.constData(), &status), 0);
        EXPECT_TRUE(S_ISREG(status.st_mode));
        const QJsonObject json
            = QJsonDocument::fromJson(QByteArray::fromStdString(bytesOf(file.toStdString())))
                  .object();
        EXPECT_TRUE(json.value(QStringLiteral("meta")).toObject().value("gespeichert").toBool());
        EXPECT_EQ(entriesOf(folder), expected);
        std::filesystem::remove_all(folder);
    }
}

// Someone who may write to the document's folder swaps the staging folder of a save for a
// link to another folder the moment it appears, while the save still writes: the save is
// refused in German and leaves the document as it was, and the linked folder keeps every
// file. Saves are repeated until one was refused.
TEST(DocumentFileSave, AStagingFolderSwappedForALinkLeavesTheLinkedFolderAlone)
{
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path());
    const auto [folder, victim, made] = qor::fixtures::makeSharedFolders(base);
    ASSERT_TRUE(made);
    const QByteArray file = folder + "/caf\xe9.qcpart";
    placeDocument(dir, file);
    qor::io::NameLinks links;
    QString error;
    const QString reached = links.reach(file, QFile::decodeName(file), error);
    Document opened;
    ASSERT_TRUE(opened.load(reached, &error)) << error.toStdString();

    int refused = 0;
    {
        qor::fixtures::StagingThief thief(folder, victim);
        ASSERT_TRUE(thief.watching());
        for (int attempt = 0; attempt < 200 && refused == 0; ++attempt) {
            SCOPED_TRACE(attempt);
            const std::string before = bytesOf(file.toStdString());
            opened.meta.insert(QStringLiteral("versuch"), attempt);
            error.clear();
            if (opened.save(reached, &error)) {
                Document back;
                ASSERT_TRUE(back.load(reached, &error)) << error.toStdString();
                EXPECT_EQ(back.meta.value(QStringLiteral("versuch")).toInt(), attempt);
            } else {
                ++refused;
                EXPECT_TRUE(error.startsWith(
                    QStringLiteral("Die Datei „%1/café.qcpart“ kann nicht geschrieben werden: Der "
                                   "Zwischenordner „")
                        .arg(QString::fromUtf8(folder))))
                    << error.toStdString();
                EXPECT_EQ(bytesOf(file.toStdString()), before);
            }
            ASSERT_TRUE(qor::fixtures::victimFolderWhole(victim));
        }
        EXPECT_GT(thief.finish(), 0);
    }
    EXPECT_GT(refused, 0);
    EXPECT_TRUE(qor::fixtures::victimFolderWhole(victim));
    std::filesystem::remove_all(base.toStdString());
}

// A save of a document whose name or folder is not UTF-8 that fails names the user's file
// as the user wrote it, never the link in the temporary folder that reaches it, and keeps
// the reason.
TEST(DocumentFileSave, FailuresOfNamesThatAreNotUtf8NameTheUsersFile)
{
    const struct {
        const char* folder;
        const char* name;
        const char* shownFolder;
        const char* shownName;
    } cases[] = {
        {"ordner", "caf\xe9.qcpart", "ordner", "café.qcpart"},
        {"ordner\xe9", "teil.qcpart", "ordneré", "teil.qcpart"},
        {"ordner\xe9", "caf\xe9.qcpart", "ordneré", "café.qcpart"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + "/" + c.name);
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()) + '/' + c.folder;
        const QByteArray file = folder + '/' + c.name;
        const QString shownFolder = dir.path() + u'/' + QString::fromUtf8(c.shownFolder);
        const QString shownFile = shownFolder + u'/' + QString::fromUtf8(c.shownName);
        ASSERT_TRUE(std::filesystem::create_directory(folder.toStdString()));
        placeDocument(dir, file);

        // The folder goes while the document is open.
        {
            qor::io::NameLinks links;
            QString error;
            const QString reached = links.reach(file, QFile::decodeName(file), error);
            Document opened;
            ASSERT_TRUE(opened.load(reached, &error)) << error.toStdString();
            std::filesystem::remove_all(folder.toStdString());
            EXPECT_FALSE(opened.save(reached, &error));
            EXPECT_EQ(
                error.toStdString(),
                QStringLiteral("Der Ordner „%1“ existiert nicht").arg(shownFolder).toStdString());
        }

        // The disk runs full.
        const auto text = qor::test::onSmallFileSystem(dir.path(), 64, [&]() -> QByteArray {
            if (::mkdir(folder.constData(), 0755) != 0)
                return "no folder";
            if (!Document().save(dir.filePath(QStringLiteral("klein")))
                || ::rename(QFile::encodeName(dir.filePath(QStringLiteral("klein"))).constData(),
                            file.constData())
                       != 0)
                return "small save failed";
            const std::string old = bytesOf(file.toStdString());
            qor::io::NameLinks links;
            QString error;
            const QString reached = links.reach(file, QFile::decodeName(file), error);
            Document large;
            if (!large.load(reached, &error))
                return error.toUtf8();
            for (int i = 0; i < 4000; ++i)
                large.parameters.push_back({QStringLiteral("p%1").arg(i), QStringLiteral("1 mm")});
            const bool saved = large.save(reached, &error);
            return (saved ? "saved" : error.toUtf8()) + '\n'
                   + (bytesOf(file.toStdString()) == old ? "old" : "changed");
        });
        if (!text)
            continue; // no mount namespace here: the first half has run
        EXPECT_EQ(text->toStdString(),
                  QStringLiteral("Die Datei „%1“ konnte nicht vollständig geschrieben werden "
                                 "(Datenträger voll)\nold")
                      .arg(shownFile)
                      .toStdString());
    }
}
