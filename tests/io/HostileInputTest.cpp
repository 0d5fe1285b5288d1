#include "io/BinaryShapeCheck.h"
#include "io/Import.h"
#include "io/ShapeText.h"
#include "io/TextShapeCheck.h"
#include "tests/common/TempFiles.h"

#include "IoTestSupport.h"
#include "tests/common/CpuTime.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/DamagedFaces.h"
#include "tests/fixtures/ShapeTextFixtures.h"
#include "tests/fixtures/StlFixtures.h"
#include "tests/fixtures/TextBrepFixtures.h"

#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <TopoDS.hxx>

#include <TopoDS_Iterator.hxx>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <sstream>

using namespace qor;

using qor::test::writeFile;

namespace {

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
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
        bool soundAsAnswer; // with any triangle corners, as a reader's answer may hold them
    };
    const Case cases[] = {
        {"two billion curves", fixtures::hugeCurveCount(), false, false},
        {"a billion poles", fixtures::hugeBSplinePoleCount(), false, false},
        {"200 million triangles", fixtures::hugeTriangulation(), false, false},
        {"location power overflow", fixtures::locationPowerOverflow(), false, false},
        {"NaN trim bounds", fixtures::nanTrimmedCurve(), false, false},
        {"trimmed 3 deep", fixtures::nestedTrimmedCurve(3), true, true},
        {"trimmed 100000 deep", fixtures::nestedTrimmedCurve(100000), false, false},
        {"compounds 10 deep", fixtures::deepCompoundChain(10), true, true},
        {"compounds 5000 deep", fixtures::deepCompoundChain(5000), false, false},
        {"a corner naming node 100000000", fixtures::binaryShape(fixtures::triangleNamingAMissingNode()),
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(io::isSoundBinaryShape(view(c.data)), c.sound);
        EXPECT_EQ(io::isSoundBinaryShape(view(c.data), io::TriangleCorners::any), c.soundAsAnswer);
        const double before = test::cpuSeconds();
        const TopoDS_Shape shape
            = io::shapeFromBase64(QString::fromLatin1(qCompress(c.data).toBase64()));
        EXPECT_LT(test::cpuSeconds() - before, 2.0);
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

TEST(HostileInput, MeshAndBrepFilesThatLieAreRefusedWithAGermanError)
{
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    // Negative corners put bytes above '~' into the head, which makes the file binary.
    const std::vector<fixtures::Triangle> sound = fixtures::tetrahedron(-10.0f);
    std::vector<fixtures::Triangle> withNan = sound;
    withNan[2][1][0] = nan;
    std::vector<fixtures::Triangle> withInf = sound;
    withInf[3][2][2] = -inf;
    // A plane line trimmed between a bad bound and 1.
    const QByteArray trimmed = "\nCASCADE Topology V1, (c) Matra-Datavision\nLocations 0\n"
                               "Curve2ds 1\n8 %1 1\n1 0 0 1 0\n";
    const QByteArray nanBound = QByteArray(trimmed).replace("%1", "nan");
    const QByteArray hugeBound = QByteArray(trimmed).replace("%1", "-1e999");
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* error;
    };
    const Case cases[] = {
        {"teile.stl", fixtures::binaryStl(sound, 4), nullptr},
        {"zaehler.stl", fixtures::binaryStl(sound, 1u << 28), "STL-Datei ist beschädigt"},
        {"kurz.stl", fixtures::binaryStl(sound, 3), "STL-Datei ist beschädigt"},
        {"nan.stl", fixtures::binaryStl(withNan, 4), "STL-Datei enthält ungültige Koordinaten"},
        {"inf.stl", fixtures::binaryStl(withInf, 4), "STL-Datei enthält ungültige Koordinaten"},
        {"teile.obj", fixtures::objText(sound), nullptr},
        {"nan.obj", fixtures::objText(withNan), "OBJ-Datei enthält ungültige Koordinaten"},
        {"inf.obj", fixtures::objText(withInf), "OBJ-Datei enthält ungültige Koordinaten"},
        {"nan.brep", nanBound, "BREP-Datei enthält ungültige Zahlen"},
        {"unendlich.brep", hugeBound, "BREP-Datei enthält ungültige Zahlen"},
    };
    const QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const double before = test::workCpuSeconds();
        const io::ImportResult result = io::importFile(writeFile(dir, c.name, c.bytes), {});
        EXPECT_LT(test::workCpuSeconds() - before, 2.0);
        if (!c.error) {
            ASSERT_TRUE(result.ok) << result.error.toStdString();
            ASSERT_EQ(result.bodies.size(), 1u);
            EXPECT_NEAR(test::areaOf(result.bodies.front().shape), 150 + 50 * std::sqrt(3.0), 1e-3);
            continue;
        }
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.bodies.empty());
        EXPECT_TRUE(result.error.startsWith(QStringLiteral("Fehler beim Lesen: ")
                                            + QString::fromUtf8(c.error)))
            << result.error.toStdString();
    }
}

TEST(HostileInput, EveryTextShapeTheKernelWritesPassesTheCheck)
{
    for (const fixtures::NamedShape& sample : fixtures::kernelShapes()) {
        for (int version = 1; version <= 3; ++version) {
            std::ostringstream text;
            BRepTools::Write(sample.shape, text, true, version == 3,
                             TopTools_FormatVersion(version));
            EXPECT_TRUE(io::isSoundTextShape(text.str()))
                << sample.name.toStdString() << " version " << version;
        }
    }
}

TEST(HostileInput, TextBrepThatAsksTooMuchIsRefusedQuickly)
{
    using fixtures::textBrep;
    const QByteArray triangle = "0 0 0 1 0 0 0 1 0\n";
    const QByteArray longFlags
        = fixtures::textVertexShapes().replace("0101101", QByteArray(300, '1'));
    struct Case {
        const char* name;
        QByteArray text;
        bool sound;
    };
    const Case cases[] = {
        {"two billion curves", textBrep({{"Curves", 2000000000, "1 0 0 0 1 0 0\n"}}), false},
        {"B-spline of two poles", textBrep({{"Curves", 1, "7 0 0 1 2 2\n0 0 0 1 0 0\n0 2 1 2\n"}}),
         true},
        {"B-spline of two billion poles",
         textBrep({{"Curves", 1, "7 0 0 1 2000000000 2\n0 0 0 1 0 0\n0 2 1 2\n"}}), false},
        {"Bezier of degree 2^31 - 2", textBrep({{"Curve2ds", 1, "6 0 2147483646\n0 0 1 1\n"}}),
         false},
        {"B-spline surface of 50000 x 50000 poles",
         textBrep({{"Surfaces", 1, "9 0 0 0 0 1 1 50000 50000 2 2\n0 0 0\n0 2 1 2\n0 2 1 2\n"}}),
         false},
        {"one triangle", textBrep({{"Triangulations", 1, "3 1 0 0 0\n" + triangle + "1 2 3\n"}}),
         true},
        {"200 million triangles",
         textBrep({{"Triangulations", 1, "3 200000000 0 0 0\n" + triangle + "1 2 3\n"}}), false},
        {"polygon of a billion nodes", textBrep({{"Polygon3D", 1, "1000000000 0\n0\n0 0 0\n"}}),
         false},
        {"circle with a zero axis", textBrep({{"Curves", 1, "2 0 0 0 0 0 0 1 0 0 0 1 0 5\n"}}),
         false},
        {"location cubed", textBrep({fixtures::textLocations(1, 3)}, fixtures::textVertexShapes(3)),
         true},
        {"location power 2^31 - 1", textBrep({fixtures::textLocations(1, INT_MAX)}), false},
        {"location chain of 2000 items", textBrep({fixtures::textLocations(2000, 1)}), false},
        {"trimmed 3 deep", textBrep({{"Curves", 1, fixtures::textNestedTrimmedCurve(3)}}), true},
        {"trimmed 100000 deep", textBrep({{"Curves", 1, fixtures::textNestedTrimmedCurve(100000)}}),
         false},
        {"offset surfaces 100 deep",
         textBrep({{"Surfaces", 1, fixtures::textNestedOffsetSurface(100)}}), false},
        {"compounds 10 deep", textBrep({}, fixtures::textCompoundChain(10)), true},
        {"compounds 5000 deep", textBrep({}, fixtures::textCompoundChain(5000)), false},
        {"flags beyond the reader's buffer", textBrep({}, longFlags), false},
    };
    const QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(io::isSoundTextShape(view(c.text)), c.sound);
        const double before = test::workCpuSeconds();
        const io::ImportResult result = io::importFile(writeFile(dir, "teil.brep", c.text), {});
        EXPECT_LT(test::workCpuSeconds() - before, 2.0);
        EXPECT_EQ(result.ok, c.sound) << result.error.toStdString();
        if (!c.sound)
            EXPECT_EQ(result.error, QStringLiteral("BREP-Datei konnte nicht gelesen werden"));
    }
    // The cubed translation by 5 moves the vertex at (1, 2, 3) by 15.
    const io::ImportResult placed = io::importFile(
        writeFile(dir, "ort.brep",
                  textBrep({fixtures::textLocations(1, 3)}, fixtures::textVertexShapes(3))),
        {});
    ASSERT_TRUE(placed.ok);
    const gp_Pnt point = BRep_Tool::Pnt(TopoDS::Vertex(placed.bodies.front().shape));
    EXPECT_TRUE(point.IsEqual(gp_Pnt(16, 2, 3), 1e-9));
}
