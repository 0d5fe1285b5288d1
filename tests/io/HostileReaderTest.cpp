#include "io/FusionArchive.h"
#include "io/Import.h"
#include "io/SolidEdgePart.h"
#include "io/sab/SabReader.h"
#include "io/xt/ParasolidReader.h"
#include "tests/common/ProcessMemory.h"
#include "tests/common/TempFiles.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/CompoundFileBuilder.h"
#include "tests/fixtures/SabBodyFixtures.h"
#include "tests/fixtures/XtDamagedFixtures.h"
#include "tests/fixtures/XtShapeWriter.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS_Compound.hxx>

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace qor;

using qor::test::writeFile;

namespace {

const QString xtNumberMessage = QStringLiteral("Ungültige Zahl in den Parasolid-Geometriedaten");
const QString sabNumberMessage = QStringLiteral("Ungültige Zahl in den SAB-Geometriedaten");

// A cancellation that answers true from its `from`-th question on (never for 0) and counts
// the questions.
struct CountingCancel {
    int from = 0;
    int asked = 0;

    io::CancelCheck check()
    {
        return [this] { return ++asked >= from && from > 0; };
    }
};

} // namespace

// NaN, infinities and absurd magnitudes in every kind of real the kernel receives never
// reach it: the faces that hold the number are left out with the reader's note, and every
// other face and body of the transmission is kept.
TEST(HostileReader, DamagedRealsCostOnlyTheirFaces)
{
    using fixtures::XtRealKind;
    const double side = fixtures::xtCubeSide * 1000;
    const double cubeVolume = side * side * side;
    const TopoDS_Shape cube
        = BRepPrimAPI_MakeBox(fixtures::xtCubeSide, fixtures::xtCubeSide, fixtures::xtCubeSide)
              .Shape();
    // The undamaged cubes, plain and as B-splines, read as solids of the right volume.
    for (const QByteArray& sound :
         {fixtures::xtFromShape(cube), fixtures::xtCubeWithReal(XtRealKind::BSplineVertex, 0.0)}) {
        const auto bodies = io::readParasolid(sound, nullptr);
        ASSERT_EQ(bodies.size(), 1u);
        EXPECT_NEAR(test::volumeOf(bodies[0].shape), cubeVolume, 1.0);
    }

    // Two cubes side by side, each a body of its own; the damaged real lies in one of them.
    TopoDS_Compound pair;
    BRep_Builder builder;
    builder.MakeCompound(pair);
    builder.Add(pair, cube);
    builder.Add(pair, BRepPrimAPI_MakeBox(gp_Pnt(0.05, 0, 0), fixtures::xtCubeSide,
                                          fixtures::xtCubeSide, fixtures::xtCubeSide)
                          .Shape());

    const double values[] = {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), 1e300, -6.15e261};
    struct Case {
        XtRealKind kind;
        double value;
        QString reason;
    };
    std::vector<Case> cases;
    for (const XtRealKind kind : {XtRealKind::PlaneNormal, XtRealKind::PointPosition,
                                  XtRealKind::BSplineVertex, XtRealKind::LineDirection}) {
        for (const double value : values)
            cases.push_back({kind, value, xtNumberMessage});
    }
    // A finite number in a direction leaves it no longer a unit vector: the plane or line would
    // tilt off its edges.
    for (const XtRealKind kind : {XtRealKind::PlaneNormal, XtRealKind::LineDirection})
        cases.push_back(
            {kind, 9e5, QStringLiteral("Ungültige Richtung in den Parasolid-Geometriedaten")});

    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << int(c.kind) << ", value " << c.value);
        QString message;
        const auto one = io::readParasolid(fixtures::xtCubeWithReal(c.kind, c.value), &message);
        ASSERT_EQ(one.size(), 1u);
        const int kept = test::countOf(one[0].shape, TopAbs_FACE);
        EXPECT_GE(kept, 1);
        EXPECT_LT(kept, 6);
        EXPECT_EQ(message.toStdString(), QStringLiteral("%1 von 6 Flächen ausgelassen (%1× %2)")
                                             .arg(6 - kept)
                                             .arg(c.reason)
                                             .toStdString());

        const auto two
            = io::readParasolid(fixtures::xtShapeWithReal(pair, c.kind, c.value), &message);
        ASSERT_EQ(two.size(), 2u);
        int whole = 0;
        for (const io::ImportedBody& body : two) {
            if (test::countOf(body.shape, TopAbs_FACE) == 6) {
                ++whole;
                EXPECT_NEAR(test::volumeOf(body.shape), cubeVolume, 1.0);
                // Still a solid: only the body that lost faces is sewn.
                EXPECT_EQ(test::countOf(body.shape, TopAbs_SOLID), 1);
            }
        }
        EXPECT_EQ(whole, 1);
        EXPECT_TRUE(message.contains(QStringLiteral(" von 12 Flächen ausgelassen")))
            << message.toStdString();
    }

    // The same through the import of a file and of a Solid Edge part holding it: the bodies
    // come with the note as the import's warning.
    const QByteArray damaged
        = fixtures::xtShapeWithReal(pair, XtRealKind::PlaneNormal, std::nan(""));
    const std::string note
        = QStringLiteral("1 von 12 Flächen ausgelassen (1× %1)").arg(xtNumberMessage).toStdString();
    QTemporaryDir dir;
    const io::ImportResult direct
        = io::importFile(writeFile(dir, QStringLiteral("wuerfel.x_b"), damaged), {});
    ASSERT_TRUE(direct.ok) << direct.error.toStdString();
    EXPECT_EQ(direct.bodies.size(), 2u);
    EXPECT_EQ(direct.warning.toStdString(), note);
    test::CompoundFileBuilder part;
    part.addStream(QStringLiteral("Geometrie"), damaged);
    const io::ImportResult solidEdge
        = io::importFile(writeFile(dir, QStringLiteral("wuerfel.par"), part.build()), {});
    ASSERT_TRUE(solidEdge.ok) << solidEdge.error.toStdString();
    EXPECT_EQ(solidEdge.bodies.size(), 2u);
    EXPECT_EQ(solidEdge.warning.toStdString(), note);
}

// The same for ACIS data: a coordinate of 6.15e261 once kept healing busy for ever.
TEST(HostileReader, AbsurdAcisNumbersRefuseTheBody)
{
    const TopoDS_Shape cube = BRepPrimAPI_MakeBox(10, 10, 10).Shape();
    QString message;
    const auto sound = io::readSab(test::sabFromShape(cube), &message);
    ASSERT_EQ(sound.size(), 1u);
    EXPECT_NEAR(test::volumeOf(sound[0].shape), 1000.0, 1e-6);

    struct Case {
        const char* name;
        test::SabBodyOptions options;
    };
    std::vector<Case> cases(5);
    cases[0] = {"point at 6.15e261", {}};
    cases[0].options.firstPoint = gp_XYZ(6.15e261, 0, 0);
    cases[1] = {"point at 2e9", {}};
    cases[1].options.firstPoint = gp_XYZ(0, 2e9, 0);
    cases[2] = {"NaN point", {}};
    cases[2].options.firstPoint = gp_XYZ(0, 0, std::nan(""));
    cases[3] = {"translation 6e261", {}};
    cases[3].options.translation = gp_XYZ(6e261, 0, 0);
    // The translation is not scaled, so a tiny scale must not hide a huge one.
    cases[4] = {"translation 1e20 at scale 1e-12", {}};
    cases[4].options.translation = gp_XYZ(0, 0, 1e20);
    cases[4].options.scale = 1e-12;
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray body = test::sabFromShape(cube, c.options);
        const auto bodies = io::readSab(body, &message);
        EXPECT_TRUE(bodies.empty());
        EXPECT_EQ(message.toStdString(), sabNumberMessage.toStdString());
        const io::ImportResult fusion = io::readFusion(
            writeFile(dir, QStringLiteral("Halter.f3d"),
                      test::zipArchive({{QStringLiteral("Breps/body.smb"), body}})),
            {});
        EXPECT_FALSE(fusion.ok);
        EXPECT_TRUE(fusion.error.contains(sabNumberMessage)) << fusion.error.toStdString();
    }
}

// Both readers ask their cancellation before every face and body and stop at the first yes,
// whether that comes before the first body or in the middle of one.
TEST(HostileReader, ReadersStopWhenCancelled)
{
    const QByteArray xt = fixtures::xtFromShape(BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape());
    const QByteArray sab = test::sabFromShape(BRepPrimAPI_MakeBox(10, 10, 10).Shape());
    for (const bool parasolid : {true, false}) {
        for (const int from : {0, 1, 4}) {
            SCOPED_TRACE(testing::Message() << (parasolid ? "Parasolid" : "ACIS") << ", " << from);
            CountingCancel cancel{from};
            QString message;
            const auto bodies = parasolid ? io::readParasolid(xt, &message, cancel.check())
                                          : io::readSab(sab, &message, cancel.check());
            if (from == 0) {
                EXPECT_EQ(bodies.size(), 1u);
                EXPECT_GE(cancel.asked, 7); // six faces and the body
            } else {
                EXPECT_TRUE(bodies.empty());
                EXPECT_EQ(message.toStdString(), io::readCancelledMessage().toStdString());
                EXPECT_EQ(cancel.asked, from);
            }
        }
    }
}

// Thousands of directory entries on one sector chain of megabytes: each would read a
// different prefix of the same transmission. The chain is read once, for the first entry;
// the others are skipped before any byte is copied, so the read stays small and quick and
// gives the cube once.
TEST(HostileReader, SolidEdgeEntriesSharingOneChainStayWithinTheBudget)
{
    const QByteArray cube = fixtures::xtFromShape(BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape());
    QTemporaryDir dir;
    for (const auto& [entries, megabytes] : {std::pair{2000, 1}, {7999, 5}}) {
        SCOPED_TRACE(entries);
        QByteArray chain = cube;
        chain.append(QByteArray((megabytes << 20) - chain.size(), '\0'));
        const QString path = writeFile(dir, QStringLiteral("Kette%1.par").arg(entries),
                                       test::cfbSharedChainFile(entries, chain));
        ASSERT_LT(QFileInfo(path).size(), (megabytes + 2) << 20);

        ASSERT_TRUE(test::resetMemoryPeak());
        const long before = test::statusKilobytes("VmRSS:");
        const io::ImportResult result = io::readSolidEdge(path, {});
        const long growth = test::statusKilobytes("VmHWM:") - before;
        ASSERT_TRUE(result.ok) << result.error.toStdString();
        ASSERT_EQ(result.bodies.size(), 1u);
        EXPECT_NEAR(test::volumeOf(result.bodies[0].shape), 1000.0, 1e-6);
        EXPECT_TRUE(result.warning.contains(QStringLiteral("teilen sich Sektoren")));
        EXPECT_LT(growth, 100L * 1024) << "kilobytes";
    }
}

// An edge without vertices on a line would span the whole unbounded line; the kernel's
// parameter-curve repair dereferences a null curve on it. The faces of such an edge are
// left out with a note instead.
TEST(HostileReader, EdgesWithoutVerticesOnLinesAreLeftOut)
{
    // Both halfedges of the first edge lose their vertices.
    qint64 edge = -1;
    const QByteArray cube = fixtures::xtFromShape(
        BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape(), fixtures::XtVariant::plain,
        [&edge](int code, fixtures::XtValues& values) {
            if (code != 17)
                return;
            const qint64 own = values["edge"].ints.at(0);
            if (edge < 0)
                edge = own;
            if (own == edge)
                values["vertex"] = fixtures::XtValue{{0}, {}, {}};
        });
    QString message;
    const auto bodies = io::readParasolid(cube, &message);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(test::countOf(bodies[0].shape, TopAbs_FACE), 4);
    EXPECT_TRUE(message.contains(QStringLiteral("2× Kante ohne Ecken auf unbegrenzter Kurve")))
        << message.toStdString();
}
