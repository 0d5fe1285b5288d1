#include "io/Import.h"
#include "io/SolidEdgePart.h"
#include "io/xt/ParasolidReader.h"
#include "io/xt/XtCurvesSurfaces.h"
#include "tests/common/CpuTime.h"
#include "tests/fixtures/CompoundFileBuilder.h"
#include "tests/fixtures/XtFixtures.h"
#include "tests/fixtures/XtShapeWriter.h"
#include "tests/io/IoTestSupport.h"
#include "tests/common/Seeds.h"

#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <numbers>
#include <random>

using namespace qor;
using fixtures::XtFileWriter;
using fixtures::xtFromShape;

namespace {

int countOf(const TopoDS_Shape& shape, TopAbs_ShapeEnum type)
{
    TopTools_IndexedMapOfShape map;
    TopExp::MapShapes(shape, type, map);
    return map.Extent();
}

// Every edge bounds exactly two face sides (a seam counts for both of its sides).
bool edgesShared(const TopoDS_Shape& shape)
{
    TopTools_IndexedDataMapOfShapeListOfShape faces;
    TopExp::MapShapesAndAncestors(shape, TopAbs_EDGE, TopAbs_FACE, faces);
    for (int i = 1; i <= faces.Extent(); ++i) {
        const TopoDS_Edge& edge = TopoDS::Edge(faces.FindKey(i));
        if (BRep_Tool::Degenerated(edge))
            continue;
        const int sides
            = faces(i).Extent() == 1 && BRep_Tool::IsClosed(edge, TopoDS::Face(faces(i).First()))
                  ? 2
                  : faces(i).Extent();
        if (sides != 2)
            return false;
    }
    return true;
}

// Adaptive integration: the fixed Gauss rule is off by 1e-5 on B-spline faces.
double preciseVolume(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props, 1e-9, true);
    return std::abs(props.Mass());
}

TopoDS_Shape moved(const TopoDS_Shape& shape, double x)
{
    gp_Trsf shift;
    shift.SetTranslation(gp_Vec(x, 0, 0));
    return BRepBuilderAPI_Transform(shape, shift, true).Shape();
}

QByteArray zlibStream(const QByteArray& data)
{
    return qCompress(data).mid(4); // without Qt's four-byte length
}

} // namespace

// Solids written in metres come back in millimetres with their volume, faces, closed
// shells and shared edges.
TEST(ParasolidTest, RoundTripsKeepVolumeAndTopology)
{
    const double pi = std::numbers::pi;
    struct Case {
        const char* name;
        TopoDS_Shape shape;
        int faces;
    };
    const Case cases[] = {
        {"cube", BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape(), 6},
        {"cylinder", BRepPrimAPI_MakeCylinder(0.01, 0.02).Shape(), 3},
        {"cone", BRepPrimAPI_MakeCone(0.01, 0.004, 0.02).Shape(), 3},
        {"sphere", BRepPrimAPI_MakeSphere(0.01).Shape(), 1},
        {"torus", BRepPrimAPI_MakeTorus(0.02, 0.005).Shape(), 1},
        {"B-spline box",
         BRepBuilderAPI_NurbsConvert(BRepPrimAPI_MakeBox(0.01, 0.02, 0.03).Shape()).Shape(), 6},
        // Rational surfaces and curves; the half cylinder has two side faces in one plane.
        {"rational cylinder",
         BRepBuilderAPI_NurbsConvert(BRepPrimAPI_MakeCylinder(0.01, 0.02, pi).Shape()).Shape(), 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString message;
        const auto bodies = io::readParasolid(xtFromShape(c.shape), &message);
        ASSERT_EQ(bodies.size(), 1u) << message.toStdString();
        const TopoDS_Shape& shape = bodies[0].shape;
        EXPECT_TRUE(bodies[0].name.isEmpty());
        const double expected = preciseVolume(c.shape) * 1e9;
        EXPECT_NEAR(preciseVolume(shape), expected, 1e-6 * expected);
        EXPECT_EQ(countOf(shape, TopAbs_FACE), c.faces);
        EXPECT_EQ(countOf(shape, TopAbs_SOLID), 1);
        for (TopExp_Explorer shell(shape, TopAbs_SHELL); shell.More(); shell.Next())
            EXPECT_TRUE(BRep_Tool::IsClosed(shell.Current()));
        EXPECT_TRUE(edgesShared(shape));
        EXPECT_TRUE(BRepCheck_Analyzer(shape).IsValid());
    }
    const auto cube = io::readParasolid(xtFromShape(cases[0].shape), nullptr);
    EXPECT_NEAR(test::volumeOf(cube[0].shape), 1000.0, 1e-6);
    EXPECT_EQ(countOf(cube[0].shape, TopAbs_EDGE), 12);
}

// Bodies come in ascending node index: the first unnamed, later ones numbered.
TEST(ParasolidTest, NamesBodiesInNodeOrder)
{
    TopoDS_Compound three;
    BRep_Builder builder;
    builder.MakeCompound(three);
    for (int i = 1; i <= 3; ++i)
        builder.Add(three, moved(BRepPrimAPI_MakeBox(0.01 * i, 0.01, 0.01).Shape(), 0.1 * i));
    const auto bodies = io::readParasolid(xtFromShape(three), nullptr);
    ASSERT_EQ(bodies.size(), 3u);
    const QString names[] = {QString(), QStringLiteral("Körper 2"), QStringLiteral("Körper 3")};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bodies[i].name, names[i]);
        EXPECT_NEAR(test::volumeOf(bodies[i].shape), 1000.0 * (i + 1), 1e-6);
    }
}

TEST(ParasolidTest, RefusesTextFormAndDamagedStreams)
{
    const QByteArray cube = xtFromShape(BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape());
    const struct {
        QByteArray data;
        QString message;
    } cases[] = {
        {"**ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789**\nT51 : TRANSMIT FILE",
         QStringLiteral("Parasolid-Textformat (.x_t) wird noch nicht gelesen – bitte als .x_b "
                        "oder STEP speichern")},
        {"**ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789**\n**END_OF_HEADER**"
         "\nB3\0\0\0: TRANSMIT FILE",
         QStringLiteral("Parasolid-Binärformat ohne neutrale Kodierung wird nicht gelesen – bitte "
                        "als neutrales .x_b oder STEP speichern")},
        {cube.left(cube.size() / 2), QStringLiteral("Datenstrom endet vorzeitig")},
        {XtFileWriter().node(12, 1, {{"body_type", {{2}}}}).finish(),
         QStringLiteral("Die Datei enthält nur Kurven (Drahtkörper), keinen Volumen- oder "
                        "Flächenkörper")},
    };
    for (const auto& c : cases) {
        QString message;
        EXPECT_TRUE(io::readParasolid(c.data, &message).empty());
        EXPECT_EQ(message, c.message);
    }
}

// Geometry that refers to itself ends at the depth limit instead of the stack's end.
TEST(ParasolidTest, SelfReferringGeometryFailsWithItsMessage)
{
    const io::XtModel model
        = io::parseXtBinary(XtFileWriter()
                                .node(60, 10, {{"surface", {{10}}}, {"offset", {{}, {0.001}}}})
                                .node(133, 11, {{"basis_curve", {{11}}}})
                                .finish());
    io::XtReadContext context;
    context.model = &model;
    try {
        io::makeXtSurface(context, model.nodes.at(10));
        ADD_FAILURE() << "offset surface on itself was built";
    } catch (const io::XtError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Geometrie zu tief verschachtelt"));
    }
    bool sameSense = true;
    bool approximated = false;
    EXPECT_THROW(io::makeXtCurve(context, model.nodes.at(11), sameSense, approximated),
                 io::XtError);
    EXPECT_EQ(context.geometryDepth, 0);
}

TEST(ParasolidTest, ImportNamesBodiesAfterTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Würfel.x_b"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(xtFromShape(BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape()));
    file.close();
    const io::ImportResult result = io::importFile(path, {});
    EXPECT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.format, QStringLiteral("Parasolid"));
    ASSERT_EQ(result.bodies.size(), 1u);
    EXPECT_EQ(result.bodies[0].name, QStringLiteral("Würfel"));

    const io::ImportResult missing = io::importFile(dir.filePath(QStringLiteral("x.x_b")), {});
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.format, QStringLiteral("Parasolid"));
    EXPECT_FALSE(missing.error.isEmpty());
}

// Transmissions stored plainly or zlib-compressed in a compound file; the summary
// properties become notes, the thumbnail the preview.
TEST(ParasolidTest, SolidEdgePartsCarryBodiesPropertiesAndPreview)
{
    const QByteArray cube = xtFromShape(BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape());
    const QByteArray prefix20(20, 'A');
    const QByteArray prefix64(64, 'A');
    const struct {
        const char* name;
        std::vector<QByteArray> streams;
        std::size_t bodies;
    } cases[] = {
        {"plain", {cube}, 1},
        {"zlib behind 20 bytes", {prefix20 + zlibStream(cube)}, 1},
        {"zlib behind 64 bytes", {prefix64 + zlibStream(cube)}, 0},
        {"plain and compressed copy", {cube, prefix20 + zlibStream(cube)}, 1},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::CompoundFileBuilder builder;
        for (std::size_t i = 0; i < c.streams.size(); ++i)
            builder.addStream(QStringLiteral("Daten%1").arg(i), c.streams[i]);
        const QString path = dir.filePath(QStringLiteral("Teil.par"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(builder.build());
        file.close();
        const io::ImportResult result = io::importFile(path, {});
        EXPECT_EQ(result.format, QStringLiteral("Solid Edge Bauteil"));
        ASSERT_EQ(result.bodies.size(), c.bodies) << result.error.toStdString();
        EXPECT_EQ(result.ok, c.bodies > 0);
        if (c.bodies > 0) {
            EXPECT_EQ(result.bodies[0].name, QStringLiteral("Teil"));
            EXPECT_NEAR(test::volumeOf(result.bodies[0].shape), 1000.0, 1e-6);
        } else {
            EXPECT_TRUE(result.error.startsWith(
                QStringLiteral("Diese Solid-Edge-Datei enthält keine lesbaren")));
        }
    }

    const auto le32 = [](std::uint32_t v) {
        QByteArray b(4, '\0');
        for (int i = 0; i < 4; ++i)
            b[i] = char(v >> (8 * i));
        return b;
    };
    // 5 March 2021, 14:22 UTC in 100-ns ticks since 1601.
    const std::uint64_t created
        = (std::uint64_t(QDateTime(QDate(2021, 3, 5), QTime(14, 22), Qt::UTC).toMSecsSinceEpoch())
           + 11644473600000ULL)
          * 10000;
    QByteArray dib(40, '\0');
    dib[0] = 40;
    dib[14] = 24;
    test::CompoundFileBuilder builder;
    builder.addStream(QChar(5) + QStringLiteral("SummaryInformation"),
                      test::cfbPropertySet({
                          {2, test::cfbTyped(30, le32(6) + QByteArray("Halter", 6))},
                          {12, test::cfbTyped(64, le32(std::uint32_t(created))
                                                      + le32(std::uint32_t(created >> 32)))},
                          {17, test::cfbTyped(71, le32(48) + le32(0xFFFFFFFF) + le32(8) + dib)},
                      }));
    const QString path = dir.filePath(QStringLiteral("Blech.PSM"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(builder.build());
    file.close();
    std::vector<int> steps;
    const io::ImportResult result = io::readSolidEdge(
        path, [&steps](int percent, const QString&) { steps.push_back(percent); });
    EXPECT_EQ(result.format, QStringLiteral("Solid Edge Blechteil"));
    EXPECT_EQ(result.notes, QStringList({QStringLiteral("Titel: Halter"),
                                         QStringLiteral("Erstellt: 05.03.2021 14:22")}));
    EXPECT_TRUE(result.preview.startsWith("BM"));
    EXPECT_EQ(steps, std::vector<int>({10, 30, 60}));
    EXPECT_FALSE(result.ok);
}

// Inflated candidates are bounded in all: beyond 512 MiB further streams are skipped
// with a note, and what was found before still counts.
TEST(ParasolidTest, SolidEdgeInflationBudgetSkipsLaterStreams)
{
    const QByteArray zeros = zlibStream(QByteArray(255 << 20, '\0'));
    test::CompoundFileBuilder builder;
    builder.addStream(QStringLiteral("A"),
                      xtFromShape(BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape()));
    for (int i = 0; i < 5; ++i)
        builder.addStream(QStringLiteral("B%1").arg(i), zeros);
    builder.addStream(QStringLiteral("C"),
                      zlibStream(xtFromShape(BRepPrimAPI_MakeBox(0.02, 0.01, 0.01).Shape())));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Gross.par"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(builder.build());
    file.close();
    const io::ImportResult result = io::readSolidEdge(path, {});
    ASSERT_EQ(result.bodies.size(), 1u);
    EXPECT_NEAR(test::volumeOf(result.bodies[0].shape), 1000.0, 1e-6);
    EXPECT_TRUE(result.warning.contains(QStringLiteral("mehr als 512 MiB entpackt")));
}

// Damaged transmissions end in bodies or a message, never in a crash or a long stall.
TEST(ParasolidTest, MutatedTransmissionsFailCleanly)
{
    const QByteArray original = xtFromShape(BRepPrimAPI_MakeCylinder(0.01, 0.02).Shape());
    std::mt19937 random(qor::test::seed(140));
    for (int run = 0; run < 300; ++run) {
        QByteArray bytes = original;
        const auto at = [&] { return qsizetype(random() % std::uint32_t(bytes.size())); };
        if (run % 3 == 0) {
            bytes.truncate(at());
        } else if (run % 3 == 1) {
            for (int flip = 0; flip < 4; ++flip)
                bytes[at()] ^= char(1 << (random() % 8));
        } else {
            // Two-byte values swapped: pointers end up at other nodes, often their own.
            const qsizetype a = at() & ~1, b = at() & ~1;
            for (int k = 0; k < 2 && a + k < bytes.size() && b + k < bytes.size(); ++k)
                std::swap(bytes[a + k], bytes[b + k]);
        }
        const double before = test::cpuSeconds();
        QString message;
        const auto bodies = io::readParasolid(bytes, &message);
        EXPECT_LT(test::cpuSeconds() - before, 2.0) << "run " << run;
        EXPECT_TRUE(!bodies.empty() || !message.isEmpty()) << "run " << run;
    }
}

// Real files from other programs: each gives plausible bodies or a German message.
TEST(ParasolidTest, RealFilesGiveBodiesOrAMessage)
{
    const QDir folder(test::readerFilesFolder());
    const QStringList files
        = folder.entryList({QStringLiteral("*.x_b"), QStringLiteral("*.x_t"),
                            QStringLiteral("*.xmt_txt"), QStringLiteral("*.par")},
                           QDir::Files, QDir::Name);
    if (files.isEmpty())
        GTEST_SKIP() << "no real reader files at " << folder.path().toStdString();
    for (const QString& name : files) {
        const io::ImportResult result = io::importFile(folder.filePath(name), {});
        QStringList outcome;
        for (const io::ImportedBody& body : result.bodies) {
            const double volume = test::volumeOf(body.shape);
            const int faces = countOf(body.shape, TopAbs_FACE);
            bool closed = true;
            for (TopExp_Explorer shell(body.shape, TopAbs_SHELL); shell.More(); shell.Next())
                closed = closed && BRep_Tool::IsClosed(shell.Current());
            outcome << QStringLiteral("%1 mm³, %2 Flächen, %3")
                           .arg(volume, 0, 'f', 1)
                           .arg(faces)
                           .arg(closed ? QStringLiteral("geschlossen") : QStringLiteral("offen"));
            EXPECT_GT(faces, 0) << name.toStdString();
            EXPECT_TRUE(closed && volume > 0) << name.toStdString();
        }
        std::printf("%s: %s %s\n", qPrintable(name), result.ok ? "ok" : "Fehler",
                    qPrintable(result.ok ? outcome.join(QStringLiteral("; ")) + QLatin1Char(' ')
                                               + result.warning
                                         : result.error.left(160)));
        EXPECT_TRUE(result.ok || !result.error.isEmpty()) << name.toStdString();
        // Every Solid Edge part of the folder carries a neutral transmission.
        if (name.endsWith(QStringLiteral(".par")))
            EXPECT_TRUE(result.ok) << name.toStdString();
    }
}
