#include "io/ShapeText.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/Bytes.h"

#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBndLib.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Tool.hxx>
#include <BinTools.hxx>
#include <Bnd_Box.hxx>
#include <Poly_Triangulation.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <gp_Trsf.hxx>

#include <QByteArray>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace qor::io;

namespace {

int count(const TopoDS_Shape& shape, TopAbs_ShapeEnum type)
{
    TopTools_IndexedMapOfShape map;
    TopExp::MapShapes(shape, type, map);
    return map.Extent();
}

int triangles(const TopoDS_Shape& shape)
{
    int total = 0;
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
        TopLoc_Location loc;
        const Handle(Poly_Triangulation) tri =
            BRep_Tool::Triangulation(TopoDS::Face(it.Current()), loc);
        if (!tri.IsNull())
            total += tri->NbTriangles();
    }
    return total;
}

// A block with a boss, moved by a location, meshed.
TopoDS_Shape sample()
{
    const TopoDS_Shape block = BRepPrimAPI_MakeBox(20, 10, 5).Shape();
    const TopoDS_Shape boss =
        BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(10, 5, 5), gp::DZ()), 3, 4).Shape();
    TopoDS_Shape fused = BRepAlgoAPI_Fuse(block, boss).Shape();
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
    const std::string s = out.str();
    return QByteArray(s.data(), qsizetype(s.size()));
}

} // namespace

TEST(ShapeText, RoundTripKeepsTopologyGeometryLocationAndMesh)
{
    const TopoDS_Shape shape = sample();
    const QString text = shapeToBase64(shape);
    ASSERT_FALSE(text.isEmpty());
    for (const QChar c : text) {
        const char ch = c.toLatin1();
        const bool alphabet = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z')
                              || (ch >= '0' && ch <= '9') || ch == '+' || ch == '/' || ch == '=';
        ASSERT_TRUE(alphabet) << "unexpected character " << int(c.unicode());
    }

    const TopoDS_Shape back = shapeFromBase64(text);
    ASSERT_FALSE(back.IsNull());
    EXPECT_EQ(count(back, TopAbs_SOLID), count(shape, TopAbs_SOLID));
    EXPECT_EQ(count(back, TopAbs_FACE), count(shape, TopAbs_FACE));
    EXPECT_EQ(count(back, TopAbs_EDGE), count(shape, TopAbs_EDGE));
    EXPECT_EQ(count(back, TopAbs_VERTEX), count(shape, TopAbs_VERTEX));
    EXPECT_NEAR(qor::test::volumeOf(back), qor::test::volumeOf(shape), 1e-6);
    EXPECT_TRUE(
        back.Location().Transformation().TranslationPart().IsEqual(gp_XYZ(100, -50, 7), 1e-12));
    EXPECT_GT(triangles(shape), 0);
    EXPECT_EQ(triangles(back), triangles(shape));

    Bnd_Box a, b;
    BRepBndLib::Add(shape, a, false);
    BRepBndLib::Add(back, b, false);
    EXPECT_NEAR(a.CornerMin().Distance(b.CornerMin()), 0.0, 1e-9);
    EXPECT_NEAR(a.CornerMax().Distance(b.CornerMax()), 0.0, 1e-9);
    EXPECT_NEAR(b.CornerMin().X(), 100.0, 1e-6);

    // The same bytes that Qt's own decompression gives.
    EXPECT_EQ(shapeTextBytes(text), qUncompress(QByteArray::fromBase64(text.toLatin1())));
    EXPECT_EQ(shapeTextBytes(text), binaryOf(shape));

    // Blanks and line breaks inside the text are skipped.
    QString broken = text;
    for (qsizetype i = broken.size() - 7; i > 0; i -= 61)
        broken.insert(i, (i / 61) % 2 ? QStringLiteral("\n") : QStringLiteral(" \r\n "));
    const TopoDS_Shape spaced = shapeFromBase64(broken);
    ASSERT_FALSE(spaced.IsNull());
    EXPECT_EQ(count(spaced, TopAbs_FACE), count(shape, TopAbs_FACE));
    EXPECT_NEAR(qor::test::volumeOf(spaced), qor::test::volumeOf(shape), 1e-6);
}

TEST(ShapeText, DamagedOrHostileInputGivesNullShapes)
{
    EXPECT_TRUE(shapeFromBase64(QString()).IsNull());
    EXPECT_TRUE(shapeFromBase64(QStringLiteral("not base64 at all!!")).IsNull());
    EXPECT_TRUE(shapeTextBytes(QString()).isEmpty());

    QRandomGenerator rng(20240611);
    for (int i = 0; i < 200; ++i) {
        const QByteArray junk = qor::test::randomBytes(1 + rng.bounded(4000), rng.generate());
        EXPECT_TRUE(shapeFromBase64(base64Of(junk)).IsNull());
    }

    // A header that claims four gigabytes for a few bytes of stream, and one that
    // claims 1000 bytes for a stream that inflates to ten megabytes.
    QElapsedTimer clock;
    clock.start();
    QByteArray huge = qCompress(QByteArray(100, 'x'));
    huge[0] = char(0xff), huge[1] = char(0xff), huge[2] = char(0xff), huge[3] = char(0xff);
    EXPECT_TRUE(shapeTextBytes(base64Of(huge)).isEmpty());
    QByteArray bomb = qCompress(QByteArray(10 * 1024 * 1024, '\0'), 9);
    bomb[0] = 0, bomb[1] = 0, bomb[2] = char(0x03), bomb[3] = char(0xe8);
    EXPECT_TRUE(shapeTextBytes(base64Of(bomb)).isEmpty());
    EXPECT_LT(clock.elapsed(), 2000);

    // Every truncation of a valid text.
    const QString text = shapeToBase64(sample());
    for (qsizetype cut = 0; cut < text.size(); cut += 1 + cut / 8)
        EXPECT_TRUE(shapeFromBase64(text.left(cut)).IsNull()) << "cut at " << cut;

    // Data that decompresses but is no shape, or a shape stream cut short.
    EXPECT_TRUE(
        shapeFromBase64(base64Of(qCompress(QByteArray("Open CASCADE Topology V3")))).IsNull());
    const QByteArray binary = binaryOf(sample());
    for (qsizetype cut = 1; cut < binary.size(); cut += 1 + cut / 4) {
        EXPECT_TRUE(readShapeBytes(binary.left(cut)).IsNull()) << "cut at " << cut;
    }
    EXPECT_FALSE(readShapeBytes(binary).IsNull());
}

TEST(ShapeText, CorruptedShapeStreamsNeverThrow)
{
    const QByteArray binary = binaryOf(sample());
    QRandomGenerator rng(7);
    for (int round = 0; round < 300; ++round) {
        QByteArray damaged = binary;
        for (int k = 0; k < 1 + round % 5; ++k)
            damaged[qsizetype(rng.bounded(quint32(damaged.size())))] = char(rng.bounded(256));
        EXPECT_NO_THROW(readShapeBytes(damaged)) << "round " << round;
    }
}
