#include "model/ComponentGeometry.h"
#include "io/ShapeText.h"
#include "model/Document.h"
#include "model/ExecContext.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <STEPControl_Writer.hxx>
#include <gp_Ax1.hxx>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "tests/common/CpuTime.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/HostileAssemblies.h"
#include "tests/fixtures/SolidEdgeAssemblyFile.h"
#include "tests/fixtures/SpecialFiles.h"
#include "tests/fixtures/XtDamagedFixtures.h"

#include <gtest/gtest.h>

#include <limits>
#include <numbers>

#include <sys/stat.h>

using namespace qor::model;
using namespace qor::test;

namespace {

const QString invalidNumbers
    = QStringLiteral("Geometriefehler: Platzierung enthält ungültige Zahlen");

QString mm(double value)
{
    return QString::number(value) + QStringLiteral(" mm");
}

// A box feature: length along x centred on x0, width along y centred on 0,
// height along z from 0.
void addBox(Document& doc, double length, double width, double height, double x0 = 0.0)
{
    doc.addFeature(QStringLiteral("box"), QJsonObject{{"length", mm(length)},
                                                      {"width", mm(width)},
                                                      {"height", mm(height)},
                                                      {"x", mm(x0)}});
}

gp_Trsf moved(double x, double y, double z)
{
    gp_Trsf t;
    t.SetTranslation(gp_Vec(x, y, z));
    return t;
}

Component fileComponent(int id, const QString& name, const QString& path,
                        const gp_Trsf& placement = gp_Trsf())
{
    Component c;
    c.id = id;
    c.name = name;
    c.path = path;
    c.setPlacement(placement);
    return c;
}

Component embedded(int id, const QString& name, const QString& text,
                   const gp_Trsf& placement = gp_Trsf())
{
    Component c = fileComponent(id, name, {}, placement);
    c.embedded = text;
    return c;
}

// An assembly document in folder holding the given components, recomputed.
void assemble(Document& doc, const QString& folder, std::vector<Component> components)
{
    doc.folder = folder;
    doc.components = std::move(components);
    doc.recompute();
}

const Body* body(const Document& doc, int id)
{
    const auto it = doc.current.bodies.find(id);
    return it == doc.current.bodies.end() ? nullptr : &it->second;
}

const QString cubeText = qor::io::shapeToBase64(BRepPrimAPI_MakeBox(10, 10, 10).Shape());

class ComponentFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;

    QString path(const QString& name) const { return dir.filePath(name); }

    void save(const Document& doc, const QString& name)
    {
        QString error;
        ASSERT_TRUE(doc.save(path(name), &error)) << error.toStdString();
    }

    // A document holding one box and the components, saved under name.
    void saveBoxAssembly(const QString& name, std::vector<Component> components)
    {
        Document doc;
        addBox(doc, 10, 10, 10);
        doc.components = std::move(components);
        doc.nextId = 2;
        save(doc, name);
    }

    void load(Document& doc, const QString& name)
    {
        QString error;
        ASSERT_TRUE(doc.load(path(name), &error)) << error.toStdString();
        doc.recompute();
    }
};

} // namespace

TEST_F(ComponentFiles, PartDocumentComponentsArePlaced)
{
    Document part;
    addBox(part, 50, 30, 20);
    save(part, "teil.qcpart");

    // Rotated a quarter turn about z, then moved 100 along x.
    gp_Trsf placement;
    placement.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), std::numbers::pi / 2);
    placement.SetTranslationPart(gp_Vec(100, 0, 5));
    Document written;
    written.components.push_back(fileComponent(4, "Lager", "teil.qcpart", placement));
    written.nextId = 4;
    save(written, "baugruppe.qcasm");
    Document assembly;
    load(assembly, "baugruppe.qcasm");
    ASSERT_EQ(assembly.current.bodies.size(), 1u);
    const Body* placed = body(assembly, 100004000);
    ASSERT_NE(placed, nullptr);
    EXPECT_EQ(placed->name, "Lager");
    EXPECT_EQ(placed->featureId, -4);
    EXPECT_TRUE(extentIs(placed->shape, {85, -25, 5, 115, 25, 25}));
    EXPECT_TRUE(assembly.components[0].status.isEmpty());
    EXPECT_TRUE(assembly.assemblyError.isEmpty());

    // A nested assembly resolves its paths against its own folder.
    QDir(dir.path()).mkdir("unter");
    Document sub;
    sub.components.push_back(fileComponent(1, "Teil", "../teil.qcpart", moved(100, 0, 0)));
    save(sub, "unter/gruppe.qcasm");
    assemble(assembly, dir.path(),
             {fileComponent(5, "Gruppe", "unter/gruppe.qcasm", moved(0, 50, 0))});
    ASSERT_NE(body(assembly, 100005000), nullptr);
    EXPECT_EQ(body(assembly, 100005000)->name, "Gruppe");
    EXPECT_TRUE(extentIs(body(assembly, 100005000)->shape, {75, 35, 0, 125, 65, 20}));

    // A suffix in capitals still names a part document.
    ASSERT_TRUE(QFile::copy(path("teil.qcpart"), path("TEIL.QCPART")));
    QString message = "alt";
    EXPECT_EQ(loadComponentFile(path("TEIL.QCPART"), &message).size(), 1u);
    EXPECT_TRUE(message.isEmpty());

    // A missing file names only the file; hidden, it has nothing to report.
    assemble(assembly, dir.path(), {fileComponent(4, "Lager", "fehlt/nicht.qcpart")});
    EXPECT_TRUE(assembly.current.bodies.empty());
    EXPECT_EQ(assembly.components[0].status, "Datei nicht gefunden: „nicht.qcpart“");
    assembly.components[0].hidden = true;
    assembly.recompute();
    EXPECT_TRUE(assembly.current.bodies.empty());
    EXPECT_TRUE(assembly.components[0].status.isEmpty());
}

TEST_F(ComponentFiles, PartBodiesSkipHiddenOnesAndTakeDisplayNames)
{
    Document part;
    for (const double x : {0, 100, 200})
        addBox(part, 10, 10, 10, x);
    ASSERT_EQ(part.recompute(), 0);
    ASSERT_EQ(part.current.bodies.size(), 3u);
    auto it = part.current.bodies.begin();
    const int first = it->first;
    part.hidden[(++it)->first] = true;
    part.bodyNames[(++it)->first] = "Deckel";
    save(part, "gruppe.qcpart");

    Document assembly;
    assemble(assembly, dir.path(), {fileComponent(3, "Gruppe", "gruppe.qcpart")});
    ASSERT_EQ(assembly.current.bodies.size(), 2u);
    const Body* a = body(assembly, 100003000);
    const Body* b = body(assembly, 100003001);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->name, "Gruppe / " + part.bodyName(first));
    EXPECT_EQ(b->name, "Gruppe / Deckel");
    EXPECT_TRUE(extentIs(b->shape, {195, -5, 0, 205, 5, 10}));
}

TEST_F(ComponentFiles, FileCacheRereadsOnlyAChangedFile)
{
    const QString file = path("welle.qcpart");
    const auto length = [&] {
        const std::vector<ComponentBody> bodies = loadComponentFile(file);
        return bodies.size() == 1 ? extent(bodies[0].shape)[3] * 2 : -1.0;
    };
    const auto stamp = [&](const QDateTime& time) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(time, QFileDevice::FileModificationTime));
    };
    Document small;
    addBox(small, 50, 10, 10);
    save(small, "welle.qcpart");
    const QDateTime time = QFileInfo(file).lastModified();
    const qint64 size = QFileInfo(file).size();
    EXPECT_NEAR(length(), 50.0, 1e-6);

    // Same size and time: the old read stands; a new time reads the file again.
    Document large;
    addBox(large, 60, 10, 10);
    save(large, "welle.qcpart");
    ASSERT_EQ(QFileInfo(file).size(), size);
    stamp(time);
    EXPECT_NEAR(length(), 50.0, 1e-6);
    stamp(time.addSecs(10));
    EXPECT_NEAR(length(), 60.0, 1e-6);

    // A file without bodies reports that, and a damaged document its loader's text.
    save(Document(), "leer.qcpart");
    QString message;
    EXPECT_TRUE(loadComponentFile(path("leer.qcpart"), &message).empty());
    EXPECT_EQ(message, "Keine Geometrie");
    writeFile(path("kaputt.qcpart"), "{ kein JSON");
    EXPECT_TRUE(loadComponentFile(path("kaputt.qcpart"), &message).empty());
    EXPECT_TRUE(message.startsWith("Datei beschädigt")) << message.toStdString();
}

TEST_F(ComponentFiles, ForeignFileComponent)
{
    STEPControl_Writer writer;
    ASSERT_EQ(writer.Transfer(box(40, 20, 5), STEPControl_AsIs), IFSelect_RetDone);
    ASSERT_EQ(writer.Write(path("platte.step").toLocal8Bit().constData()), IFSelect_RetDone);

    Document assembly;
    assemble(assembly, dir.path(),
             {fileComponent(9, "Platte", path("platte.step"), moved(-10, 0, 100))});
    const Body* placed = body(assembly, 100009000);
    ASSERT_NE(placed, nullptr);
    EXPECT_TRUE(extentIs(placed->shape, {-10, 0, 100, 30, 20, 105}, 1e-4));
    EXPECT_TRUE(assembly.components[0].status.isEmpty());

    // The importer's refusal becomes the component's status.
    writeFile(path("notiz.xyz"), "nichts");
    assemble(assembly, dir.path(), {fileComponent(9, "Notiz", "notiz.xyz")});
    EXPECT_TRUE(assembly.current.bodies.empty());
    EXPECT_EQ(assembly.components[0].status, "Unbekanntes Dateiformat .xyz");
}

TEST(ComponentGeometry, EmbeddedGeometryAndItsFaults)
{
    const QString text = qor::io::shapeToBase64(box(10, 20, 30));
    const QString damaged = QString::fromLatin1(qCompress(QByteArray("keine Form"), 6).toBase64());
    Document assembly;
    assemble(assembly, {},
             {embedded(1, "Block", text, moved(100, 0, 0)),
              embedded(2, "Zwilling", text, moved(0, 100, 0)), embedded(3, "Kaputt", damaged),
              embedded(4, "Unsinn", QStringLiteral("%%% kein Base64 %%%"))});
    const Body* a = body(assembly, 100001000);
    const Body* b = body(assembly, 100002000);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(extentIs(a->shape, {100, 0, 0, 110, 20, 30}));
    EXPECT_TRUE(extentIs(b->shape, {0, 100, 0, 10, 120, 30}));
    // The same text is decoded once: both components share the decoded geometry.
    EXPECT_EQ(a->shape.TShape(), b->shape.TShape());
    EXPECT_EQ(assembly.current.bodies.size(), 2u);
    EXPECT_EQ(assembly.components[2].status, "Eingebettete Geometrie beschädigt");
    EXPECT_EQ(assembly.components[3].status, "Eingebettete Geometrie beschädigt");

    // Embedded text wins over a path.
    assembly.components[0].path = QStringLiteral("gibt/es/nicht.qcpart");
    assembly.recompute();
    EXPECT_TRUE(assembly.components[0].status.isEmpty());
    EXPECT_NE(body(assembly, 100001000), nullptr);
}

TEST(ComponentGeometry, PlacementsTheKernelCannotApplyAreReported)
{
    Component mirrored = embedded(1, "Spiegel", cubeText);
    mirrored.m = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    Component notANumber = embedded(2, "NaN", cubeText);
    notANumber.m[7] = std::numeric_limits<double>::quiet_NaN();
    // A scaled matrix is read as its rotation: the body keeps its size.
    Component scaled = embedded(3, "Skaliert", cubeText);
    scaled.m = {2, 0, 0, 50, 0, 2, 0, 0, 0, 0, 2, 0};

    Document assembly;
    EXPECT_NO_THROW(assemble(assembly, {}, {mirrored, notANumber, scaled}));
    EXPECT_TRUE(assembly.assemblyError.isEmpty());
    EXPECT_EQ(assembly.components[0].status,
              "Geometriefehler: Platzierung ist gespiegelt oder skaliert");
    EXPECT_EQ(assembly.components[1].status, invalidNumbers);
    ASSERT_EQ(assembly.current.bodies.size(), 1u);
    EXPECT_TRUE(extentIs(body(assembly, 100003000)->shape, {50, 0, 0, 60, 10, 10}));
}

TEST(ComponentGeometry, ComponentIdsOutsideTheBodyIdRangeGetNoBodies)
{
    // Ids from a damaged file: body ids must neither wrap nor look like feature bodies.
    EXPECT_FALSE(isComponentBodyId(99999999));
    EXPECT_EQ(componentOfBody(assemblyBodyId(maxComponentId, maxBodiesPerComponent - 1)),
              maxComponentId);
    Document assembly;
    assemble(assembly, {},
             {embedded(maxComponentId, "Letzte", cubeText),
              embedded(maxComponentId + 1, "Zu groß", cubeText),
              embedded(2147483647, "Viel zu groß", cubeText), embedded(-1, "Negativ", cubeText)});
    ASSERT_EQ(assembly.current.bodies.size(), 1u);
    EXPECT_NE(body(assembly, assemblyBodyId(maxComponentId, 0)), nullptr);
    EXPECT_TRUE(assembly.components[0].status.isEmpty());
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(assembly.components[i].status,
                  "Komponentennummer außerhalb des zulässigen Bereichs")
            << i;
}

TEST(ComponentGeometry, RigidTransformAcceptsOnlyRotations)
{
    QString error;
    // A rotation with rounding noise, as files store it.
    const double c = std::cos(0.3);
    const double s = std::sin(0.3);
    const auto noisy = rigidTransform({c + 1e-9, -s, 0, 1, s, c, 0, 2, 0, 0, 1 - 1e-9, 3}, &error);
    ASSERT_TRUE(noisy.has_value()) << error.toStdString();
    EXPECT_NO_THROW(box(1, 1, 1).Moved(TopLoc_Location(*noisy)));
    EXPECT_LT(gp_Pnt(1, 0, 0).Transformed(*noisy).Distance(gp_Pnt(1 + c, 2 + s, 3)), 1e-8);

    const double inf = std::numeric_limits<double>::infinity();
    const QString noRotation
        = QStringLiteral("Geometriefehler: Platzierung ist keine reine Drehung");
    const std::pair<std::array<double, 12>, QString> refused[] = {
        {{0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}, noRotation},
        {{-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}, noRotation},
        {{2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0}, noRotation},
        {{1, 0.5, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}, noRotation},
        {{1, 0, 0, inf, 0, 1, 0, 0, 0, 0, 1, 0}, invalidNumbers},
    };
    for (const auto& [m, message] : refused) {
        EXPECT_FALSE(rigidTransform(m, &error));
        EXPECT_EQ(error, message);
    }
}

// Every way an assembly can lead back to a file that is already being loaded:
// the file is loaded once, its own box is the only copy, and the component
// that contains the circle names the file.
TEST_F(ComponentFiles, AssembliesLeadingBackToThemselvesNestNothingTwice)
{
    const auto link = [&](const QString& target, const QString& name) {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(),
                            QFile::encodeName(path(name)).constData()),
                  0);
    };
    // Contains itself.
    saveBoxAssembly("selbst.qcasm", {fileComponent(2, "Selbst", "selbst.qcasm", moved(20, 0, 0))});
    // A contains B contains A.
    saveBoxAssembly("a.qcasm", {fileComponent(2, "B", "b.qcasm", moved(20, 0, 0))});
    saveBoxAssembly("b.qcasm", {fileComponent(2, "A", "a.qcasm", moved(20, 0, 0))});
    // Contains a link to itself.
    link("verweis.qcasm", "ziel.qcasm");
    saveBoxAssembly("verweis.qcasm", {fileComponent(2, "Ziel", "ziel.qcasm", moved(20, 0, 0))});
    // Reaches itself through three folder links to ".": the paths all differ.
    QDir(dir.path()).mkdir("ordner");
    for (const char* name : {"ordner/x", "ordner/y", "ordner/z"})
        link(QStringLiteral("."), QString::fromLatin1(name));
    saveBoxAssembly("ordner/gruppe.qcasm", {fileComponent(2, "X", "x/gruppe.qcasm"),
                                            fileComponent(3, "Y", "y/./gruppe.qcasm"),
                                            fileComponent(4, "Z", "z/y/x/gruppe.qcasm")});
    // Contains nothing but itself.
    Document only;
    only.components.push_back(fileComponent(1, "Nur", "nur.qcasm"));
    save(only, "nur.qcasm");

    const auto circle = [](const char* file) {
        return QStringLiteral("Kreisbezug: „%1“ enthält sich selbst; die innere Kopie wird "
                              "weggelassen")
            .arg(QLatin1String(file));
    };
    const struct {
        const char* opened;
        std::size_t bodies;
        std::vector<QString> statuses;
    } cases[] = {
        {"selbst.qcasm", 1, {circle("selbst.qcasm")}},
        {"a.qcasm", 2, {circle("a.qcasm")}},
        {"b.qcasm", 2, {circle("b.qcasm")}},
        {"verweis.qcasm", 1, {circle("verweis.qcasm")}},
        {"ordner/gruppe.qcasm",
         1,
         {circle("gruppe.qcasm"), circle("gruppe.qcasm"), circle("gruppe.qcasm")}},
        {"nur.qcasm", 0, {circle("nur.qcasm")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opened);
        Document top;
        load(top, QString::fromLatin1(c.opened));
        EXPECT_EQ(top.current.bodies.size(), c.bodies);
        std::vector<QString> statuses;
        for (const Component& component : top.components)
            statuses.push_back(component.status);
        EXPECT_EQ(statuses, c.statuses);
    }

    // Without a file of its own, the outermost document nests the circle once:
    // A with its B, whose A is left out.
    Document unsaved;
    assemble(unsaved, dir.path(), {fileComponent(7, "A", "a.qcasm")});
    EXPECT_EQ(unsaved.current.bodies.size(), 2u);
    ASSERT_NE(body(unsaved, assemblyBodyId(7, 1)), nullptr);
    EXPECT_NEAR(extent(body(unsaved, assemblyBodyId(7, 1))->shape)[3], 20 + 5, 1e-6);
    EXPECT_EQ(unsaved.components[0].status, circle("a.qcasm"));
    // Opened on its own afterwards, B is complete again: what was left out in
    // one context is not reused in another.
    Document b;
    load(b, "b.qcasm");
    EXPECT_EQ(b.current.bodies.size(), 2u);

    // A link that points at itself is no file to load.
    link("schleife.qcasm", "schleife.qcasm");
    QString message;
    EXPECT_TRUE(loadComponentFile(path("schleife.qcasm"), &message).empty());
    EXPECT_EQ(message, "„schleife.qcasm“ ist ein Verweis, der im Kreis auf sich selbst zeigt");

    // The load stack is empty again: a plain part still loads.
    Document plain;
    addBox(plain, 10, 10, 10);
    save(plain, "teil.qcpart");
    EXPECT_EQ(loadComponentFile(path("teil.qcpart")).size(), 1u);
}

// Nested assemblies that refer to nothing twice load in full up to a hundred
// levels; deeper levels are left out, and the outermost component says so.
TEST_F(ComponentFiles, DeepChainsLoadUpToTheNestingLimit)
{
    const struct {
        int levels;
        std::size_t bodies;
        QString status;
    } cases[] = {
        {40, 40, {}},
        {100, 100, {}},
        {150, 100,
         QStringLiteral("Baugruppe zu tief verschachtelt: mehr als 100 Ebenen, tiefere werden "
                        "weggelassen")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.levels);
        const QString folder = QStringLiteral("kette%1").arg(c.levels);
        QDir(dir.path()).mkdir(folder);
        const auto name
            = [&](int level) { return folder + QStringLiteral("/stufe%1.qcasm").arg(level); };
        for (int level = 0; level < c.levels; ++level) {
            std::vector<Component> next;
            if (level + 1 < c.levels)
                next.push_back(fileComponent(
                    2, "Stufe", QStringLiteral("stufe%1.qcasm").arg(level + 1), moved(20, 0, 0)));
            saveBoxAssembly(name(level), std::move(next));
        }
        Document top;
        load(top, name(0));
        EXPECT_EQ(top.current.bodies.size(), c.bodies);
        ASSERT_EQ(top.components.size(), 1u);
        EXPECT_EQ(top.components[0].status, c.status);
    }
}

TEST_F(ComponentFiles, AtMost999BodiesPerComponent)
{
    Document part;
    for (int i = 0; i < 1000; ++i)
        addBox(part, 1, 1, 1, 2.0 * i);
    save(part, "viele.qcpart");

    Document assembly;
    assemble(
        assembly, dir.path(),
        {fileComponent(1, "Viele", "viele.qcpart"), fileComponent(2, "Nachbar", "viele.qcpart")});
    EXPECT_EQ(assembly.current.bodies.size(), 2u * 999);
    for (const Component& c : assembly.components)
        EXPECT_EQ(c.status, "999 von 1.000 Körpern übernommen");
    ASSERT_NE(body(assembly, assemblyBodyId(1, 998)), nullptr);
    EXPECT_EQ(body(assembly, assemblyBodyId(1, 999)), nullptr);
    EXPECT_NE(body(assembly, assemblyBodyId(2, 0)), nullptr);
    EXPECT_NEAR(extent(body(assembly, assemblyBodyId(1, 998))->shape)[0], 2.0 * 998 - 0.5, 1e-6);
}

// What components further down left out counts: a component says how many bodies it
// took of how many its file holds in all, also through nested assemblies.
TEST_F(ComponentFiles, LeftOutBodiesAreCountedThroughNestedAssemblies)
{
    writeFile(path("viele.step"), qor::fixtures::stepDoublingAssembly(10)); // 1,024 boxes
    writeFile(path("wenige.step"), qor::fixtures::stepDoublingAssembly(3));
    const auto saveAssembly = [&](const char* name, std::vector<Component> components) {
        Document doc;
        doc.components = std::move(components);
        doc.nextId = int(doc.components.size());
        save(doc, name);
    };
    // 3 x 999 bodies taken of 3 x 1,024.
    saveAssembly("gruppe.qcasm", {fileComponent(1, "A", "viele.step"),
                                  fileComponent(2, "B", "viele.step", moved(0, 100, 0)),
                                  fileComponent(3, "C", "viele.step", moved(0, 200, 0))});
    saveAssembly("klein.qcasm", {fileComponent(1, "A", "wenige.step")});
    const struct {
        const char* file;
        std::size_t bodies;
        const char* status;
    } cases[] = {
        {"viele.step", 999, "999 von 1.024 Körpern übernommen"},
        {"wenige.step", 8, ""},
        {"klein.qcasm", 8, ""},
        {"gruppe.qcasm", 999, "999 von 3.072 Körpern übernommen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Document assembly;
        assemble(assembly, dir.path(), {fileComponent(1, "Oben", c.file)});
        EXPECT_EQ(assembly.current.bodies.size(), c.bodies);
        EXPECT_EQ(assembly.components[0].status.toStdString(), c.status);
    }
}

TEST_F(ComponentFiles, SolidEdgeAssemblies)
{
    const SolidEdgeMatrix shifted{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.1, 0, 0, 1};
    const SolidEdgeMatrix mirrored{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
    writeFile(path("Block.par"), "Teiledatei");
    const auto message = [&](const char* name, std::vector<SolidEdgeOccurrenceBytes> parts) {
        writeFile(path(name), solidEdgeAssemblyFile(parts));
        QString text;
        EXPECT_TRUE(loadComponentFile(path(name), &text).empty());
        return text;
    };

    // The first failing occurrence speaks for the assembly when nothing was found.
    EXPECT_EQ(message("Fehlend.asm", {{"C:\\Daten\\Fehlt.par", shifted, "Fehlt.par:1"},
                                      {"C:\\Daten\\Block.par", shifted, "Block.par:1"}}),
              "Datei nicht gefunden: „Fehlt.par“");
    EXPECT_EQ(message("Block.asm", {{"C:\\Daten\\Block.par", shifted, "Block.par:1"}}),
              "Keine gültige Solid-Edge-Datei: Kein OLE-Verbunddokument");
    // A mirrored occurrence is reported, not applied.
    EXPECT_EQ(message("Spiegel.asm", {{"C:\\Daten\\Block.par", mirrored, "Block.par:1"},
                                      {"C:\\Daten\\Block.par", shifted, "Block.par:2"}}),
              "Geometriefehler: Platzierung ist keine reine Drehung");
    EXPECT_EQ(message("Selbst.asm", {{"C:\\Daten\\Selbst.asm", shifted, "Selbst.asm:1"}}),
              "Kreisbezug: „Selbst.asm“ enthält sich selbst; die innere Kopie wird weggelassen");

    // The status of the component says the same.
    Document assembly;
    assemble(assembly, dir.path(), {fileComponent(1, "Gruppe", "Fehlend.asm")});
    EXPECT_TRUE(assembly.current.bodies.empty());
    EXPECT_EQ(assembly.components[0].status, "Datei nicht gefunden: „Fehlt.par“");
}

// A component path that names no regular file is refused by its status: a
// named pipe nobody writes to must not block the recompute.
TEST_F(ComponentFiles, PathsThatAreNoRegularFileAreRefusedWithoutOpening)
{
    ASSERT_TRUE(qor::test::makePipe(path("rohr.step")));
    ASSERT_TRUE(qor::test::makePipe(path("rohr.qcpart")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("ordner.qcpart"));
    const struct {
        QString file;
        const char* message;
    } cases[] = {
        {path("rohr.step"), "„rohr.step“ ist eine benannte Pipe und wird nicht gelesen"},
        {path("rohr.qcpart"), "„rohr.qcpart“ ist eine benannte Pipe und wird nicht gelesen"},
        {path("ordner.qcpart"), "„ordner.qcpart“ ist ein Ordner und wird nicht gelesen"},
        {QStringLiteral("/dev/null.stl"), "Datei nicht gefunden: „null.stl“"},
        {QStringLiteral("/dev/zero"), "„zero“ ist eine Gerätedatei und wird nicht gelesen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const double before = qor::test::workCpuSeconds();
        QString message;
        EXPECT_TRUE(loadComponentFile(c.file, &message).empty());
        EXPECT_EQ(message, QString::fromUtf8(c.message));
        EXPECT_LT(qor::test::workCpuSeconds() - before, 1.0);
    }
    Document assembly;
    assemble(assembly, dir.path(), {fileComponent(3, "Rohr", "rohr.step")});
    EXPECT_TRUE(assembly.current.bodies.empty());
    EXPECT_EQ(assembly.components[0].status,
              "„rohr.step“ ist eine benannte Pipe und wird nicht gelesen");
}

// A component file that crashes the kernel's readers or would keep them busy for ever costs
// the assembly that component only: the others are placed, and its status says in one
// line why it has no bodies.
TEST_F(ComponentFiles, HostileComponentFilesCostOnlyTheirComponent)
{
    STEPControl_Writer writer;
    ASSERT_EQ(writer.Transfer(box(40, 20, 5), STEPControl_AsIs), IFSelect_RetDone);
    ASSERT_EQ(writer.Write(path("platte.step").toLocal8Bit().constData()), IFSelect_RetDone);
    const std::pair<QString, QByteArray> files[] = {
        {"selbst.step", qor::fixtures::stepSelfPlacedAssembly()},
        {"verdoppelt.step", qor::fixtures::stepDoublingAssembly(40)},
        {"verdoppelt.igs", qor::fixtures::igesDoublingSubfigures(40)},
        {"verdoppelt.gltf", qor::fixtures::gltfDoublingNodes(40)},
    };
    const QString placed = QStringLiteral("Die Datei platziert 1.099.511.627.776 Körper");
    const QString statuses[] = {
        QStringLiteral("„selbst.step“ ließ sich nicht lesen: der Leseprozess wurde beendet "
                       "(Absturz)"),
        placed, placed, placed};
    for (std::size_t i = 0; i < std::size(files); ++i) {
        SCOPED_TRACE(files[i].first.toStdString());
        writeFile(path(files[i].first), files[i].second);
        const double before = qor::test::workCpuSeconds();
        Document assembly;
        assemble(assembly, dir.path(),
                 {fileComponent(1, "Platte", "platte.step"),
                  fileComponent(2, "Feind", files[i].first, moved(100, 0, 0))});
        EXPECT_LT(qor::test::workCpuSeconds() - before, 30.0);
        EXPECT_NE(body(assembly, 100001000), nullptr);
        EXPECT_EQ(body(assembly, 100002000), nullptr);
        EXPECT_TRUE(assembly.components[0].status.isEmpty());
        const QString status = assembly.components[1].status;
        EXPECT_TRUE(status.contains(statuses[i])) << status.toStdString();
        EXPECT_FALSE(status.contains(u'\n'));
    }
}

// Faces a reader had to leave out of a component file show in the component's status,
// beside its bodies, as they do after an import.
TEST_F(ComponentFiles, LeftOutFacesShowInTheComponentsStatus)
{
    writeFile(path("beschaedigt.x_b"),
              qor::fixtures::xtCubeWithReal(qor::fixtures::XtRealKind::PlaneNormal,
                                            std::numeric_limits<double>::quiet_NaN()));
    writeFile(path("heil.step"), qor::fixtures::stepOneBox());
    Document assembly;
    assemble(assembly, dir.path(),
             {fileComponent(1, "Beschädigt", "beschaedigt.x_b"),
              fileComponent(2, "Heil", "heil.step", moved(100, 0, 0))});
    EXPECT_NE(body(assembly, 100001000), nullptr);
    EXPECT_NE(body(assembly, 100002000), nullptr);
    EXPECT_TRUE(assembly.components[0].status.contains(QStringLiteral("von 6 Flächen ausgelassen")))
        << assembly.components[0].status.toStdString();
    EXPECT_TRUE(assembly.components[1].status.isEmpty())
        << assembly.components[1].status.toStdString();
}
