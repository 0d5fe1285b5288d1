#include "io/ShapeText.h"

#include "IoTestSupport.h"
#include "tests/common/CpuTime.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/Bytes.h"
#include "tests/common/Seeds.h"

#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Tool.hxx>
#include <BinTools.hxx>
#include <Poly_Triangulation.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sstream>

using namespace qor::io;
using namespace qor::test;

namespace {

int triangles(const TopoDS_Shape& shape)
{
    int total = 0;
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
        TopLoc_Location loc;
        const auto tri = BRep_Tool::Triangulation(TopoDS::Face(it.Current()), loc);
        total += tri.IsNull() ? 0 : tri->NbTriangles();
    }
    return total;
}

// A block with a boss, moved by a location, meshed.
TopoDS_Shape sample()
{
    const TopoDS_Shape boss
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(10, 5, 5), gp::DZ()), 3, 4).Shape();
    TopoDS_Shape fused = BRepAlgoAPI_Fuse(box(20, 10, 5), boss).Shape();
    gp_Trsf move;
    move.SetTranslation(gp_Vec(100, -50, 7));
    fused.Move(TopLoc_Location(move));
    BRepMesh_IncrementalMesh(fused, 0.1);
    return fused;
}

QString base64Of(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

QByteArray binaryOf(const TopoDS_Shape& shape)
{
    std::ostringstream out;
    BinTools::Write(shape, out);
    return QByteArray::fromStdString(out.str());
}

void expectSameShape(const TopoDS_Shape& back, const TopoDS_Shape& shape)
{
    ASSERT_FALSE(back.IsNull());
    for (TopAbs_ShapeEnum type : {TopAbs_SOLID, TopAbs_FACE, TopAbs_EDGE, TopAbs_VERTEX})
        EXPECT_EQ(countOf(back, type), countOf(shape, type)) << type;
    EXPECT_NEAR(volumeOf(back), volumeOf(shape), 1e-6);
    EXPECT_TRUE(extentIs(back, extent(shape), 1e-9));
    EXPECT_EQ(triangles(back), triangles(shape));
}

} // namespace

TEST(ShapeText, RoundTripKeepsTopologyGeometryLocationAndMesh)
{
    const TopoDS_Shape shape = sample();
    const QString text = shapeToBase64(shape);
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9+/=]+$").match(text).hasMatch());
    const TopoDS_Shape back = shapeFromBase64(text);
    expectSameShape(back, shape);
    EXPECT_GT(triangles(shape), 0);
    EXPECT_TRUE(
        back.Location().Transformation().TranslationPart().IsEqual(gp_XYZ(100, -50, 7), 1e-12));
    // The same bytes that Qt's own decompression gives.
    EXPECT_EQ(shapeTextBytes(text), qUncompress(QByteArray::fromBase64(text.toLatin1())));
    EXPECT_EQ(shapeTextBytes(text), binaryOf(shape));

    // Blanks and line breaks inside the text are skipped.
    QString broken = text;
    for (qsizetype i = broken.size() - 7; i > 0; i -= 61)
        broken.insert(i, (i / 61) % 2 ? QStringLiteral("\n") : QStringLiteral(" \r\n "));
    expectSameShape(shapeFromBase64(broken), shape);
}

TEST(ShapeText, DamagedOrHostileInputGivesNullShapes)
{
    EXPECT_TRUE(shapeFromBase64(QString()).IsNull());
    EXPECT_TRUE(shapeFromBase64(QStringLiteral("not base64 at all!!")).IsNull());
    EXPECT_TRUE(shapeTextBytes(QString()).isEmpty());
    QRandomGenerator rng(qor::test::seed(20240611));
    for (int i = 0; i < 200; ++i) {
        const QByteArray junk = randomBytes(1 + rng.bounded(4000), rng.generate());
        EXPECT_TRUE(shapeFromBase64(base64Of(junk)).IsNull());
    }

    // A header that claims four gigabytes for a few bytes of stream, and one that
    // claims 1000 bytes for a stream that inflates to ten megabytes.
    const double before = qor::test::cpuSeconds();
    QByteArray huge = qCompress(QByteArray(100, 'x'));
    huge.replace(0, 4, QByteArray(4, '\xFF'));
    EXPECT_TRUE(shapeTextBytes(base64Of(huge)).isEmpty());
    QByteArray bomb = qCompress(QByteArray(10 * 1024 * 1024, '\0'), 9);
    bomb.replace(0, 4, QByteArray("\x00\x00\x03\xE8", 4));
    EXPECT_TRUE(shapeTextBytes(base64Of(bomb)).isEmpty());
    EXPECT_LT(qor::test::cpuSeconds() - before, 2.0);

    // Every truncation of a valid text and of a shape stream; data that
    // decompresses but is no shape.
    const QString text = shapeToBase64(sample());
    for (qsizetype cut = 0; cut < text.size(); cut += 1 + cut / 8)
        EXPECT_TRUE(shapeFromBase64(text.left(cut)).IsNull()) << "cut at " << cut;
    EXPECT_TRUE(
        shapeFromBase64(base64Of(qCompress(QByteArray("Open CASCADE Topology V3")))).IsNull());
    const QByteArray binary = binaryOf(sample());
    for (qsizetype cut = 1; cut < binary.size(); cut += 1 + cut / 4)
        EXPECT_TRUE(readShapeBytes(binary.left(cut)).IsNull()) << "cut at " << cut;
    EXPECT_FALSE(readShapeBytes(binary).IsNull());

    // Bytes changed at random never make the reader throw.
    for (int round = 0; round < 300; ++round) {
        QByteArray damaged = binary;
        for (int k = 0; k < 1 + round % 5; ++k)
            damaged[qsizetype(rng.bounded(quint32(damaged.size())))] = char(rng.bounded(256));
        EXPECT_NO_THROW(readShapeBytes(damaged)) << "round " << round;
    }
}
