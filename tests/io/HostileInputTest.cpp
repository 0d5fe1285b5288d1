#include "io/BinaryShapeCheck.h"
#include "io/Import.h"
#include "io/ShapeText.h"

#include "IoTestSupport.h"
#include "tests/fixtures/ShapeTextFixtures.h"
#include "tests/fixtures/StlFixtures.h"

#include <TopoDS_Iterator.hxx>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

using namespace qor;

namespace {

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

} // namespace

TEST(HostileInput, EveryShapeTheKernelWritesPassesTheCheckUnchanged)
{
    for (const fixtures::NamedShape& sample : fixtures::kernelShapes()) {
        SCOPED_TRACE(sample.name.toStdString());
        for (int version = 1; version <= 4; ++version)
            EXPECT_TRUE(io::isSoundBinaryShape(view(fixtures::binaryShape(sample.shape, version))))
                << "version " << version;
        const TopoDS_Shape back = io::shapeFromBase64(io::shapeToBase64(sample.shape));
        ASSERT_FALSE(back.IsNull());
        for (const TopAbs_ShapeEnum type : {TopAbs_FACE, TopAbs_EDGE, TopAbs_VERTEX})
            EXPECT_EQ(test::countOf(back, type), test::countOf(sample.shape, type));
        EXPECT_NEAR(test::areaOf(back), test::areaOf(sample.shape), 1e-6);
        EXPECT_TRUE(back.Location().Transformation().TranslationPart().IsEqual(
            sample.shape.Location().Transformation().TranslationPart(), 1e-9));
    }
}

TEST(HostileInput, ShapeDataThatAsksTooMuchIsRefusedQuickly)
{
    struct Case {
        const char* name;
        QByteArray data;
        bool sound;
    };
    const Case cases[] = {
        {"two billion curves", fixtures::hugeCurveCount(), false},
        {"a billion poles", fixtures::hugeBSplinePoleCount(), false},
        {"200 million triangles", fixtures::hugeTriangulation(), false},
        {"location power overflow", fixtures::locationPowerOverflow(), false},
        {"trimmed 3 deep", fixtures::nestedTrimmedCurve(3), true},
        {"trimmed 100000 deep", fixtures::nestedTrimmedCurve(100000), false},
        {"compounds 10 deep", fixtures::deepCompoundChain(10), true},
        {"compounds 5000 deep", fixtures::deepCompoundChain(5000), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(io::isSoundBinaryShape(view(c.data)), c.sound);
        QElapsedTimer clock;
        clock.start();
        const TopoDS_Shape shape = io::shapeFromBase64(QString::fromLatin1(qCompress(c.data).toBase64()));
        EXPECT_LT(clock.elapsed(), 2000);
        if (!c.sound)
            EXPECT_TRUE(shape.IsNull());
    }
    // The sound chain reads as the vertex inside ten compounds.
    const TopoDS_Shape chain = io::readShapeBytes(fixtures::deepCompoundChain(10));
    ASSERT_FALSE(chain.IsNull());
    int depth = 0;
    TopoDS_Shape inner = chain;
    for (; inner.ShapeType() == TopAbs_COMPOUND; ++depth)
        inner = TopoDS_Iterator(inner).Value();
    EXPECT_EQ(depth, 10);
    EXPECT_EQ(inner.ShapeType(), TopAbs_VERTEX);
}
