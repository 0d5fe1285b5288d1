#include "../io/CompoundFileWriter.h"
#include "io/ShapeText.h"
#include "model/ComponentGeometry.h"
#include "model/Document.h"
#include "model/ExecContext.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <STEPControl_Writer.hxx>
#include <gp_Ax1.hxx>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>

#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

using namespace qor::model;
using namespace qor::test;

namespace {

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

Component embeddedComponent(int id, const QString& name, const QString& text,
                            const gp_Trsf& placement = gp_Trsf())
{
    Component c = fileComponent(id, name, {}, placement);
    c.embedded = text;
    return c;
}

gp_Trsf moved(double x, double y, double z)
{
    gp_Trsf t;
    t.SetTranslation(gp_Vec(x, y, z));
    return t;
}

void save(const Document& doc, const QString& path)
{
    QString error;
    ASSERT_TRUE(doc.save(path, &error)) << error.toStdString();
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

// A Solid Edge assembly in folder whose attachments place the given parts: per
// part its stored path, its 4 x 4 column-major matrix in metres and its name.
struct Occurrence {
    QString storedPath;
    std::array<double, 16> matrix;
    QString name;
};

QByteArray utf16(const QString& text)
{
    QByteArray out;
    for (QChar c : text)
        qor::test::appendU16(out, c.unicode());
    return out;
}

void writeSolidEdgeAssembly(const QString& path, const std::vector<Occurrence>& occurrences)
{
    const QByteArray gap(3, char(0xFF));
    QByteArray stream(10, char(0xFF));
    for (const Occurrence& o : occurrences) {
        stream += utf16(o.storedPath) + gap;
        for (double v : o.matrix)
            qor::test::appendU64(stream, std::bit_cast<std::uint64_t>(v));
        stream += gap + utf16(o.name) + gap;
    }
    qor::test::CompoundFileWriter writer;
    writer.addStream("Attachments", stream);
    writeFile(path, writer.build());
}

constexpr std::array<double, 16> shifted{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.1, 0, 0, 1};
constexpr std::array<double, 16> mirrored{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};

} // namespace

TEST(ComponentGeometry, BodyIdsNameTheirComponent)
{
    EXPECT_EQ(assemblyBodyId(7, 0), 100007000);
    EXPECT_EQ(assemblyBodyId(7, 998), 100007998);
    EXPECT_TRUE(isComponentBodyId(100000000));
    EXPECT_FALSE(isComponentBodyId(99999999));
    EXPECT_EQ(componentOfBody(100007998), 7);
    EXPECT_EQ(componentOfBody(100008000), 8);
    EXPECT_TRUE(Document().assemblyPass) << "documents place their components by default";
}

TEST(ComponentGeometry, PartDocumentComponentIsPlaced)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Document part;
    addBox(part, 50, 30, 20);
    save(part, dir.filePath("teil.qcpart"));

    // Rotated a quarter turn about z, then moved 100 along x.
    gp_Trsf placement;
    placement.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), std::numbers::pi / 2);
    placement.SetTranslationPart(gp_Vec(100, 0, 5));
    Document written;
    written.components.push_back(fileComponent(4, "Lager", "teil.qcpart", placement));
    written.nextId = 4;
    save(written, dir.filePath("baugruppe.qcasm"));
    Document assembly;
    QString error;
    ASSERT_TRUE(assembly.load(dir.filePath("baugruppe.qcasm"), &error)) << error.toStdString();
    EXPECT_EQ(assembly.recompute(), 0);

    const Body* placed = body(assembly, 100004000);
    ASSERT_NE(placed, nullptr);
    EXPECT_EQ(assembly.current.bodies.size(), 1u);
    EXPECT_EQ(placed->name, "Lager");
    EXPECT_EQ(placed->featureId, -4);
    EXPECT_TRUE(extentIs(placed->shape, {85, -25, 5, 115, 25, 25}));
    EXPECT_NEAR(shapeVolume(placed->shape), 50.0 * 30 * 20, 1e-6);
    EXPECT_TRUE(assembly.components[0].status.isEmpty());
    EXPECT_TRUE(assembly.assemblyError.isEmpty());

    // A suffix in capitals still names a part document.
    ASSERT_TRUE(QFile::copy(dir.filePath("teil.qcpart"), dir.filePath("TEIL.QCPART")));
    QString message = "alt";
    EXPECT_EQ(loadComponentFile(dir.filePath("TEIL.QCPART"), &message).size(), 1u);
    EXPECT_TRUE(message.isEmpty());

    // A missing file names only the file.
    assemble(assembly, dir.path(), {fileComponent(4, "Lager", "fehlt/nicht.qcpart")});
    EXPECT_TRUE(assembly.current.bodies.empty());
    EXPECT_EQ(assembly.components[0].status, "Datei nicht gefunden: nicht.qcpart");

    // A hidden component gives nothing and has nothing to report.
    assembly.components[0].hidden = true;
    assembly.recompute();
    EXPECT_TRUE(assembly.current.bodies.empty());
    EXPECT_TRUE(assembly.components[0].status.isEmpty());
}

TEST(ComponentGeometry, PartBodiesSkipHiddenOnesAndTakeDisplayNames)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Document part;
    addBox(part, 10, 10, 10, 0);
    addBox(part, 10, 10, 10, 100);
    addBox(part, 10, 10, 10, 200);
    ASSERT_EQ(part.recompute(), 0);
    ASSERT_EQ(part.current.bodies.size(), 3u);
    auto it = part.current.bodies.begin();
    const int first = it->first;
    const int second = (++it)->first;
    const int third = (++it)->first;
    part.hidden[second] = true;
    part.bodyNames[third] = "Deckel";
    save(part, dir.filePath("gruppe.qcpart"));

    Document assembly;
    assemble(assembly, dir.path(), {fileComponent(3, "Gruppe", "gruppe.qcpart")});
    ASSERT_EQ(assembly.current.bodies.size(), 2u);
    const Body* a = body(assembly, 100003000);
    const Body* b = body(assembly, 100003001);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->name, "Gruppe / " + part.bodyName(first));
    EXPECT_EQ(b->name, "Gruppe / Deckel");
    EXPECT_TRUE(extentIs(a->shape, {-5, -5, 0, 5, 5, 10}));
    EXPECT_TRUE(extentIs(b->shape, {195, -5, 0, 205, 5, 10}));
}

TEST(ComponentGeometry, FileCacheRereadsOnlyAChangedFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("welle.qcpart");
    Document small;
    addBox(small, 50, 10, 10);
    save(small, path);
    const QDateTime stamp = QFileInfo(path).lastModified();
    const qint64 size = QFileInfo(path).size();

    std::vector<ComponentBody> bodies = loadComponentFile(path);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_NEAR(extent(bodies[0].shape)[3], 25.0, 1e-6);

    // Same size and time: the old read stands.
    Document large;
    addBox(large, 60, 10, 10);
    save(large, path);
    ASSERT_EQ(QFileInfo(path).size(), size);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    ASSERT_EQ(QFileInfo(path).lastModified(), stamp);
    bodies = loadComponentFile(path);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_NEAR(extent(bodies[0].shape)[3], 25.0, 1e-6);

    // A new time reads the file again.
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(stamp.addSecs(10), QFileDevice::FileModificationTime));
    }
    bodies = loadComponentFile(path);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_NEAR(extent(bodies[0].shape)[3], 30.0, 1e-6);

    // A file without bodies reports that, and a damaged document its loader's text.
    Document empty;
    save(empty, dir.filePath("leer.qcpart"));
    QString message;
    EXPECT_TRUE(loadComponentFile(dir.filePath("leer.qcpart"), &message).empty());
    EXPECT_EQ(message, "Keine Geometrie");
    writeFile(dir.filePath("kaputt.qcpart"), "{ kein JSON");
    EXPECT_TRUE(loadComponentFile(dir.filePath("kaputt.qcpart"), &message).empty());
    EXPECT_TRUE(message.startsWith("Datei beschädigt")) << message.toStdString();
}

TEST(ComponentGeometry, ForeignFileComponent)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("platte.step");
    STEPControl_Writer writer;
    ASSERT_EQ(writer.Transfer(BRepPrimAPI_MakeBox(gp_Pnt(0, 0, 0), 40, 20, 5).Shape(),
                              STEPControl_AsIs),
              IFSelect_RetDone);
    ASSERT_EQ(writer.Write(path.toLocal8Bit().constData()), IFSelect_RetDone);

    Document assembly;
    assemble(assembly, dir.path(), {fileComponent(9, "Platte", path, moved(-10, 0, 100))});
    const Body* placed = body(assembly, 100009000);
    ASSERT_NE(placed, nullptr);
    EXPECT_EQ(placed->name, "Platte");
    EXPECT_TRUE(extentIs(placed->shape, {-10, 0, 100, 30, 20, 105}, 1e-4));
    EXPECT_TRUE(assembly.components[0].status.isEmpty());

    // The importer's refusal becomes the component's status.
    writeFile(dir.filePath("notiz.xyz"), "nichts");
    assemble(assembly, dir.path(), {fileComponent(9, "Notiz", "notiz.xyz")});
    EXPECT_TRUE(assembly.current.bodies.empty());
    EXPECT_EQ(assembly.components[0].status, "Unbekanntes Dateiformat .xyz");
}

TEST(ComponentGeometry, EmbeddedGeometryAndItsFaults)
{
    const QString text = qor::io::shapeToBase64(BRepPrimAPI_MakeBox(10, 20, 30).Shape());
    const QString damaged = QString::fromLatin1(qCompress(QByteArray("keine Form"), 6).toBase64());

    Document assembly;
    assemble(assembly, {},
             {embeddedComponent(1, "Block", text, moved(100, 0, 0)),
              embeddedComponent(2, "Zwilling", text, moved(0, 100, 0)),
              embeddedComponent(3, "Kaputt", damaged),
              embeddedComponent(4, "Unsinn", QStringLiteral("%%% kein Base64 %%%"))});

    const Body* a = body(assembly, 100001000);
    const Body* b = body(assembly, 100002000);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->name, "Block");
    EXPECT_TRUE(extentIs(a->shape, {100, 0, 0, 110, 20, 30}));
    EXPECT_TRUE(extentIs(b->shape, {0, 100, 0, 10, 120, 30}));
    // The same text is decoded once: both components share the decoded geometry.
    EXPECT_EQ(a->shape.TShape(), b->shape.TShape());
    EXPECT_EQ(assembly.current.bodies.size(), 2u);
    EXPECT_EQ(assembly.components[2].status, "Eingebettete Geometrie beschädigt");
    EXPECT_EQ(assembly.components[3].status, "Eingebettete Geometrie beschädigt");
    EXPECT_TRUE(assembly.components[0].status.isEmpty());

    // Embedded text wins over a path.
    assembly.components[0].path = QStringLiteral("gibt/es/nicht.qcpart");
    assembly.recompute();
    EXPECT_TRUE(assembly.components[0].status.isEmpty());
    EXPECT_NE(body(assembly, 100001000), nullptr);
}

TEST(ComponentGeometry, PlacementsTheKernelCannotApplyAreReported)
{
    const QString text = qor::io::shapeToBase64(BRepPrimAPI_MakeBox(10, 10, 10).Shape());
    Component mirrored = embeddedComponent(1, "Spiegel", text);
    mirrored.m = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    Component notANumber = embeddedComponent(2, "NaN", text);
    notANumber.m[7] = std::numeric_limits<double>::quiet_NaN();
    Component infinite = embeddedComponent(3, "Unendlich", text);
    infinite.m[0] = std::numeric_limits<double>::infinity();
    // A scaled matrix is read as its rotation: the body keeps its size.
    Component scaled = embeddedComponent(4, "Skaliert", text);
    scaled.m = {2, 0, 0, 50, 0, 2, 0, 0, 0, 0, 2, 0};

    Document assembly;
    EXPECT_NO_THROW(assemble(assembly, {}, {mirrored, notANumber, infinite, scaled}));
    EXPECT_TRUE(assembly.assemblyError.isEmpty());
    EXPECT_EQ(assembly.components[0].status,
              "Geometriefehler: Platzierung ist gespiegelt oder skaliert");
    EXPECT_EQ(assembly.components[1].status,
              "Geometriefehler: Platzierung enthält ungültige Zahlen");
    EXPECT_EQ(assembly.components[2].status,
              "Geometriefehler: Platzierung enthält ungültige Zahlen");
    ASSERT_EQ(assembly.current.bodies.size(), 1u);
    const Body* placed = body(assembly, 100004000);
    ASSERT_NE(placed, nullptr);
    EXPECT_TRUE(extentIs(placed->shape, {50, 0, 0, 60, 10, 10}));
}

TEST(ComponentGeometry, ComponentIdsOutsideTheBodyIdRangeGetNoBodies)
{
    // Ids from a damaged file: body ids must neither wrap nor look like feature bodies.
    const QString text = qor::io::shapeToBase64(BRepPrimAPI_MakeBox(10, 10, 10).Shape());
    Document assembly;
    assemble(assembly, {},
             {embeddedComponent(maxComponentId, "Letzte", text),
              embeddedComponent(maxComponentId + 1, "Zu groß", text),
              embeddedComponent(2147483647, "Viel zu groß", text),
              embeddedComponent(-1, "Negativ", text)});
    ASSERT_EQ(assembly.current.bodies.size(), 1u);
    const int lastId = assemblyBodyId(maxComponentId, 0);
    EXPECT_NE(body(assembly, lastId), nullptr);
    EXPECT_EQ(componentOfBody(assemblyBodyId(maxComponentId, maxBodiesPerComponent - 1)),
              maxComponentId);
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
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(1, 1, 1).Shape();
    EXPECT_NO_THROW(box.Moved(TopLoc_Location(*noisy)));
    const gp_Pnt p = gp_Pnt(1, 0, 0).Transformed(*noisy);
    EXPECT_NEAR(p.X(), 1 + c, 1e-8);
    EXPECT_NEAR(p.Y(), 2 + s, 1e-8);
    EXPECT_NEAR(p.Z(), 3, 1e-8);

    const QString notRotation = "Geometriefehler: Platzierung ist keine reine Drehung";
    EXPECT_FALSE(rigidTransform({0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}, &error));
    EXPECT_EQ(error, notRotation);
    EXPECT_FALSE(rigidTransform({-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}, &error));
    EXPECT_EQ(error, notRotation);
    EXPECT_FALSE(rigidTransform({2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0}, &error));
    EXPECT_EQ(error, notRotation);
    EXPECT_FALSE(rigidTransform({1, 0.5, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}, &error));
    EXPECT_EQ(error, notRotation);
    EXPECT_FALSE(rigidTransform({1, 0, 0, std::numeric_limits<double>::infinity(), 0, 1, 0, 0,
                                 0, 0, 1, 0},
                                &error));
    EXPECT_EQ(error, "Geometriefehler: Platzierung enthält ungültige Zahlen");
}

TEST(ComponentGeometry, NestedAssemblies)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Document part;
    addBox(part, 10, 10, 10);
    save(part, dir.filePath("teil.qcpart"));

    QDir(dir.path()).mkdir("unter");
    Document sub;
    sub.components.push_back(fileComponent(1, "Teil", "../teil.qcpart", moved(100, 0, 0)));
    sub.nextId = 1;
    save(sub, dir.filePath("unter/gruppe.qcasm"));

    // The inner assembly resolves its path against its own folder.
    Document top;
    assemble(top, dir.path(), {fileComponent(5, "Gruppe", "unter/gruppe.qcasm", moved(0, 50, 0))});
    const Body* placed = body(top, 100005000);
    ASSERT_NE(placed, nullptr);
    EXPECT_EQ(placed->name, "Gruppe");
    EXPECT_TRUE(extentIs(placed->shape, {95, 45, 0, 105, 55, 10}));
    EXPECT_TRUE(top.components[0].status.isEmpty());
}

TEST(ComponentGeometry, AssemblyContainingItselfStopsAtThirteenLoads)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    // Each load adds the box of its own level: 13 nested loads give 13 bodies.
    Document self;
    addBox(self, 10, 10, 10);
    self.components.push_back(fileComponent(2, "Selbst", "selbst.qcasm", moved(20, 0, 0)));
    self.nextId = 2;
    save(self, dir.filePath("selbst.qcasm"));
    Document top;
    QString error;
    ASSERT_TRUE(top.load(dir.filePath("selbst.qcasm"), &error)) << error.toStdString();
    top.recompute();
    EXPECT_EQ(top.current.bodies.size(), 14u);
    EXPECT_NE(body(top, assemblyBodyId(2, 12)), nullptr);
    EXPECT_EQ(body(top, assemblyBodyId(2, 13)), nullptr);
    EXPECT_TRUE(top.components[0].status.isEmpty());
    // The deepest copy sits 13 placements away.
    EXPECT_NEAR(extent(body(top, assemblyBodyId(2, 12))->shape)[3], 13 * 20 + 5, 1e-6);

    // A contains B contains A.
    Document a;
    addBox(a, 10, 10, 10);
    a.components.push_back(fileComponent(2, "B", "b.qcasm"));
    a.nextId = 2;
    save(a, dir.filePath("a.qcasm"));
    Document b;
    addBox(b, 10, 10, 10);
    b.components.push_back(fileComponent(2, "A", "a.qcasm"));
    b.nextId = 2;
    save(b, dir.filePath("b.qcasm"));
    Document outer;
    ASSERT_TRUE(outer.load(dir.filePath("a.qcasm"), &error)) << error.toStdString();
    outer.recompute();
    EXPECT_EQ(outer.current.bodies.size(), 14u);

    // Nothing but itself: the refusal comes back up to the outer level.
    Document only;
    only.components.push_back(fileComponent(1, "Nur", "nur.qcasm"));
    only.nextId = 1;
    save(only, dir.filePath("nur.qcasm"));
    Document loaded;
    ASSERT_TRUE(loaded.load(dir.filePath("nur.qcasm"), &error)) << error.toStdString();
    loaded.recompute();
    EXPECT_TRUE(loaded.current.bodies.empty());
    EXPECT_EQ(loaded.components[0].status, "Baugruppe verweist zu tief auf sich selbst");

    // The nesting count is back at zero: a plain part still loads.
    Document part;
    addBox(part, 10, 10, 10);
    save(part, dir.filePath("teil.qcpart"));
    EXPECT_EQ(loadComponentFile(dir.filePath("teil.qcpart")).size(), 1u);
}

TEST(ComponentGeometry, AtMost999BodiesPerComponent)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Document part;
    for (int i = 0; i < 1200; ++i)
        addBox(part, 1, 1, 1, 2.0 * i);
    save(part, dir.filePath("viele.qcpart"));

    Document assembly;
    assemble(assembly, dir.path(),
             {fileComponent(1, "Viele", "viele.qcpart"),
              fileComponent(2, "Nachbar", "viele.qcpart")});
    EXPECT_EQ(assembly.current.bodies.size(), 2u * 999);
    EXPECT_NE(body(assembly, assemblyBodyId(1, 998)), nullptr);
    EXPECT_EQ(body(assembly, assemblyBodyId(1, 999)), nullptr);
    EXPECT_NE(body(assembly, assemblyBodyId(2, 0)), nullptr);
    EXPECT_NEAR(extent(body(assembly, assemblyBodyId(1, 998))->shape)[0], 2.0 * 998 - 0.5, 1e-6);
}

TEST(ComponentGeometry, SolidEdgeAssemblies)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath("Block.par"), "Teiledatei");

    // The first failing occurrence speaks for the assembly when nothing was found.
    writeSolidEdgeAssembly(dir.filePath("Fehlend.asm"),
                           {{"C:\\Daten\\Fehlt.par", shifted, "Fehlt.par:1"},
                            {"C:\\Daten\\Block.par", shifted, "Block.par:1"}});
    Document assembly;
    assemble(assembly, dir.path(), {fileComponent(1, "Gruppe", "Fehlend.asm")});
    EXPECT_TRUE(assembly.current.bodies.empty());
    EXPECT_EQ(assembly.components[0].status, "Datei nicht gefunden: Fehlt.par");

    QString message;
    writeSolidEdgeAssembly(dir.filePath("Block.asm"),
                           {{"C:\\Daten\\Block.par", shifted, "Block.par:1"}});
    EXPECT_TRUE(loadComponentFile(dir.filePath("Block.asm"), &message).empty());
    EXPECT_EQ(message, "Das Format „Solid Edge Bauteil“ kann diese Version noch nicht lesen");

    // A mirrored occurrence is reported, not applied.
    writeSolidEdgeAssembly(dir.filePath("Spiegel.asm"),
                           {{"C:\\Daten\\Block.par", mirrored, "Block.par:1"},
                            {"C:\\Daten\\Block.par", shifted, "Block.par:2"}});
    EXPECT_TRUE(loadComponentFile(dir.filePath("Spiegel.asm"), &message).empty());
    EXPECT_EQ(message, "Geometriefehler: Platzierung ist keine reine Drehung");

    // An assembly that places itself ends at the nesting limit.
    writeSolidEdgeAssembly(dir.filePath("Selbst.asm"),
                           {{"C:\\Daten\\Selbst.asm", shifted, "Selbst.asm:1"}});
    EXPECT_TRUE(loadComponentFile(dir.filePath("Selbst.asm"), &message).empty());
    EXPECT_EQ(message, "Baugruppe verweist zu tief auf sich selbst");
}
