#include "io/FusionArchive.h"
#include "io/Import.h"
#include "io/SolidEdgePart.h"
#include "io/sab/SabReader.h"
#include "io/xt/ParasolidReader.h"
#include "tests/common/TempFiles.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/CompoundFileBuilder.h"
#include "tests/fixtures/SabBodyFixtures.h"
#include "tests/fixtures/XtDamagedFixtures.h"
#include "tests/fixtures/XtShapeWriter.h"

#include <BRepPrimAPI_MakeBox.hxx>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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

// A field of this process's memory status in kilobytes: "VmRSS:" now, "VmHWM:" the peak
// since resetPeak.
long statusKilobytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').front().toLong();
    }
    return -1;
}

bool resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace

// NaN, infinities and absurd magnitudes in every kind of real the kernel receives refuse the
// whole transmission with the reader's message; a body with the face left out would pass
// for sound with the wrong volume.
TEST(HostileReader, DamagedRealsRefuseTheParasolidTransmission)
{
    using fixtures::XtRealKind;
    const double side = fixtures::xtCubeSide * 1000;
    const TopoDS_Shape cube
        = BRepPrimAPI_MakeBox(fixtures::xtCubeSide, fixtures::xtCubeSide, fixtures::xtCubeSide)
              .Shape();
    // The undamaged cubes, plain and as B-splines, read as solids of the right volume.
    for (const QByteArray& sound :
         {fixtures::xtFromShape(cube), fixtures::xtCubeWithReal(XtRealKind::BSplineVertex, 0.0)}) {
        const auto bodies = io::readParasolid(sound, nullptr);
        ASSERT_EQ(bodies.size(), 1u);
        EXPECT_NEAR(test::volumeOf(bodies[0].shape), side * side * side, 1.0);
    }

    const double values[] = {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), 1e300, -6.15e261};
    for (const XtRealKind kind : {XtRealKind::PlaneNormal, XtRealKind::PointPosition,
                                  XtRealKind::BSplineVertex, XtRealKind::LineDirection}) {
        for (const double value : values) {
            SCOPED_TRACE(testing::Message() << "kind " << int(kind) << ", value " << value);
            QString message;
            const auto bodies = io::readParasolid(fixtures::xtCubeWithReal(kind, value), &message);
            EXPECT_TRUE(bodies.empty());
            EXPECT_EQ(message.toStdString(), xtNumberMessage.toStdString());
        }
    }
    // A finite number in a direction leaves it no longer a unit vector: the plane or line would
    // tilt off its edges and the cube lose volume.
    for (const XtRealKind kind : {XtRealKind::PlaneNormal, XtRealKind::LineDirection}) {
        QString message;
        const auto bodies = io::readParasolid(fixtures::xtCubeWithReal(kind, 9e5), &message);
        EXPECT_TRUE(bodies.empty()) << int(kind);
        EXPECT_EQ(message, QStringLiteral("Ungültige Richtung in den Parasolid-Geometriedaten"));
    }

    // The same refusal through the import of a file and of a Solid Edge part holding it.
    const QByteArray damaged = fixtures::xtCubeWithReal(XtRealKind::PlaneNormal, std::nan(""));
    QTemporaryDir dir;
    const io::ImportResult direct
        = io::importFile(writeFile(dir, QStringLiteral("wuerfel.x_b"), damaged), {});
    EXPECT_FALSE(direct.ok);
    EXPECT_EQ(direct.error.toStdString(), xtNumberMessage.toStdString());
    test::CompoundFileBuilder part;
    part.addStream(QStringLiteral("Geometrie"), damaged);
    const io::ImportResult solidEdge
        = io::importFile(writeFile(dir, QStringLiteral("wuerfel.par"), part.build()), {});
    EXPECT_FALSE(solidEdge.ok);
    EXPECT_TRUE(solidEdge.error.contains(xtNumberMessage)) << solidEdge.error.toStdString();
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

// 2,000 directory entries on one sector chain of about 1 MB: each reads a different prefix
// of the same transmission. Only what fits into the file's own size is kept, so the read
// stays small and gives the cube once.
TEST(HostileReader, SolidEdgeEntriesSharingOneChainStayWithinTheBudget)
{
    QByteArray chain = fixtures::xtFromShape(BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape());
    chain.append(QByteArray((1 << 20) - chain.size(), '\0'));
    QTemporaryDir dir;
    const QString path
        = writeFile(dir, QStringLiteral("Kette.par"), test::cfbSharedChainFile(2000, chain));
    ASSERT_LT(QFileInfo(path).size(), 2 << 20);

    ASSERT_TRUE(resetPeak());
    const long before = statusKilobytes("VmRSS:");
    const io::ImportResult result = io::readSolidEdge(path, {});
    const long growth = statusKilobytes("VmHWM:") - before;
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    ASSERT_EQ(result.bodies.size(), 1u);
    EXPECT_NEAR(test::volumeOf(result.bodies[0].shape), 1000.0, 1e-6);
    EXPECT_TRUE(result.warning.contains(QStringLiteral("teilen sich Sektoren")));
    EXPECT_LT(growth, 200L * 1024) << "kilobytes";
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
