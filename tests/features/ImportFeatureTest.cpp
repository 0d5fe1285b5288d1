#include "TestPart.h"

#include "io/Import.h"
#include "io/MeshFaces.h"
#include "io/ShapeText.h"
#include "sketch/Plane.h"
#include "tests/common/TempFiles.h"
#include "tests/fixtures/StlFixtures.h"

#include <BRepPrimAPI_MakeBox.hxx>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

using namespace qor::model;

namespace {

// Three unit-height boxes of volume 1, 8 and 27 side by side.
TopoDS_Shape threeSolids()
{
    return qor::compoundOf({BRepPrimAPI_MakeBox(1, 1, 1).Shape(),
                            BRepPrimAPI_MakeBox(gp_Pnt(10, 0, 0), 2, 2, 2).Shape(),
                            BRepPrimAPI_MakeBox(gp_Pnt(20, 0, 0), 3, 3, 3).Shape()});
}

QJsonObject importParams(const TopoDS_Shape& shape, bool split)
{
    return {{"file", "/tmp/teile.step"},
            {"brep", qor::io::shapeToBase64(shape)},
            {"names", QJsonArray{"A", "B"}},
            {"colors", QJsonArray{QJsonArray{1, 0, 0}, QJsonValue(), QJsonArray{0, 0, 1}}},
            {"split", split}};
}

} // namespace

TEST(ImportFeature, SplitCompoundGivesNamedColouredBodies)
{
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("import", importParams(threeSolids(), true), &f), QString());
    const int first = f->id * 100;
    ASSERT_EQ(part.state.bodies.size(), 3u);
    EXPECT_EQ(part.state.bodies.at(first).name, QStringLiteral("A"));
    EXPECT_EQ(part.state.bodies.at(first + 1).name, QStringLiteral("B"));
    EXPECT_EQ(part.state.bodies.at(first + 2).name, QStringLiteral("Körper 1"));
    for (const int k : {0, 1, 2})
        EXPECT_NEAR(part.volume(first + k), (k + 1) * (k + 1) * (k + 1), 1e-9) << k;

    ASSERT_EQ(part.doc.appearance.count(first), 1u);
    const BodyAppearance red = part.doc.appearance.at(first);
    EXPECT_EQ(red.material, QStringLiteral("Stahl"));
    EXPECT_EQ(std::tuple(red.r, red.g, red.b, red.density), std::tuple(1.0, 0.0, 0.0, 7.85));
    EXPECT_EQ(part.doc.appearance.count(first + 1), 0u);
    ASSERT_EQ(part.doc.appearance.count(first + 2), 1u);
    EXPECT_EQ(part.doc.appearance.at(first + 2).b, 1.0);

    // A colour the user changed survives the next recompute of the feature.
    part.doc.appearance[first].g = 0.5;
    part.state = ModelState();
    ASSERT_EQ(part.rerun(*f), QString());
    EXPECT_EQ(part.state.bodies.size(), 3u);
    EXPECT_EQ(part.doc.appearance.at(first).g, 0.5);
    EXPECT_EQ(part.doc.appearance.at(first).r, 1.0);
}

TEST(ImportFeature, WholeShapeAsOneBody)
{
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("import", importParams(threeSolids(), false), &f), QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_EQ(part.state.bodies.at(f->id * 100).name, QStringLiteral("A"));
    EXPECT_EQ(countOf(part.state.bodies.at(f->id * 100).shape, TopAbs_SOLID), 3);
    EXPECT_NEAR(part.volume(f->id * 100), 36.0, 1e-9);
    EXPECT_EQ(part.doc.appearance.at(f->id * 100).r, 1.0);

    // "split" does not break up a shape that is no compound.
    TestPart single;
    ASSERT_EQ(single.run("import", importParams(BRepPrimAPI_MakeBox(4, 5, 6).Shape(), true), &f),
              QString());
    ASSERT_EQ(single.state.bodies.size(), 1u);
    EXPECT_NEAR(single.volume(f->id * 100), 120.0, 1e-9);

    // Entries of the wrong type: no name, colour components that read as 0.
    TestPart odd;
    QJsonObject params = importParams(threeSolids(), true);
    params["names"] = QJsonArray{7, "Zwei"};
    params["colors"] = QJsonArray{QJsonArray{0.25, "x", true}, QJsonArray{1, 1}, "rot"};
    ASSERT_EQ(odd.run("import", params, &f), QString());
    EXPECT_EQ(odd.state.bodies.at(f->id * 100).name, QStringLiteral("Körper 1"));
    EXPECT_EQ(odd.state.bodies.at(f->id * 100 + 1).name, QStringLiteral("Zwei"));
    EXPECT_EQ(odd.state.bodies.at(f->id * 100 + 2).name, QStringLiteral("Körper 2"));
    const BodyAppearance look = odd.doc.appearance.at(f->id * 100);
    EXPECT_EQ(std::tuple(look.r, look.g, look.b), std::tuple(0.25, 0.0, 0.0));
    EXPECT_EQ(odd.doc.appearance.count(f->id * 100 + 1), 0u);
    EXPECT_EQ(odd.doc.appearance.count(f->id * 100 + 2), 0u);
}

TEST(ImportFeature, MissingOrDamagedData)
{
    const QString missing = QStringLiteral("Importdaten fehlen oder sind beschädigt");
    const QString unreadable = QStringLiteral("Importdaten konnten nicht gelesen werden");
    TestPart part;
    EXPECT_EQ(part.run("import", {}), missing);
    EXPECT_EQ(part.run("import", {{"brep", ""}}), missing);
    EXPECT_EQ(part.run("import", {{"brep", 42}}), missing);
    EXPECT_EQ(part.run("import", {{"brep", "@@@@"}}), missing);

    QByteArray hugeSize = qCompress(QByteArray("x"));
    hugeSize[0] = char(0x7f);
    EXPECT_EQ(part.run("import", {{"brep", QString::fromLatin1(hugeSize.toBase64())}}), missing);

    const QString text = qor::io::shapeToBase64(threeSolids());
    EXPECT_EQ(part.run("import", {{"brep", text.left(text.size() / 2)}}), missing);

    const QByteArray noShape = qCompress(QByteArray("this is not a shape"));
    EXPECT_EQ(part.run("import", {{"brep", QString::fromLatin1(noShape.toBase64())}}), unreadable);
    EXPECT_TRUE(part.state.bodies.empty());
}

namespace {

// The body an STL file of a tetrahedron with 20 mm legs gives: triangles only.
TopoDS_Shape stlBody()
{
    const QTemporaryDir dir;
    const QString path
        = qor::test::writeFile(dir, QStringLiteral("teil.stl"),
                               qor::fixtures::binaryStl(qor::fixtures::tetrahedron(20), 4));
    const qor::io::ImportResult read = qor::io::readInThisProcess(path, {}, {});
    EXPECT_TRUE(read.ok) << read.error.toStdString();
    return read.ok ? read.bodies.front().shape : TopoDS_Shape();
}

QJsonObject meshImport(const TopoDS_Shape& mesh)
{
    return {{"file", "/tmp/teil.stl"},
            {"brep", qor::io::shapeToBase64(mesh)},
            {"names", QJsonArray{"teil"}}};
}

QJsonObject boxAt(double x, double y, const char* op)
{
    return {{"x", x}, {"y", y}, {"length", 4}, {"width", 4}, {"height", 4}, {"op", op}};
}

QString meshRefusal(const char* failure)
{
    return QStringLiteral("%1: „teil“ ist ein Netzkörper aus einem Import (nur Dreiecke) und "
                          "lässt sich weder verbinden noch ausschneiden noch verschneiden")
        .arg(QString::fromUtf8(failure));
}

} // namespace

// A body read from a mesh file has faces without surfaces: a cutting and a
// joined box over it are refused with the boolean's own text, which names the
// body, and leave it as it was, whether the recompute lets their booleans wait
// in a group or runs them one by one.
TEST(ImportFeature, MeshBodyRefusesCutsAndJoins)
{
    const TopoDS_Shape mesh = stlBody();
    ASSERT_TRUE(qor::io::isMeshOnly(mesh));

    Document doc;
    doc.addFeature("import", meshImport(mesh));
    Feature* cut = doc.addFeature("box", boxAt(3, 3, "cut"));
    Feature* join = doc.addFeature("box", boxAt(4, 4, "join"));
    doc.recompute();
    EXPECT_EQ(cut->error.toStdString(), meshRefusal("Ausschneiden fehlgeschlagen").toStdString());
    EXPECT_EQ(join->error.toStdString(), meshRefusal("Verbinden fehlgeschlagen").toStdString());
    ASSERT_EQ(doc.current.bodies.size(), 1u);
    EXPECT_TRUE(qor::io::isMeshOnly(doc.current.bodies.begin()->second.shape));

    TestPart part;
    ASSERT_EQ(part.run("import", meshImport(mesh)), QString());
    EXPECT_EQ(part.run("box", boxAt(3, 3, "cut")).toStdString(),
              meshRefusal("Ausschneiden fehlgeschlagen").toStdString());
    EXPECT_EQ(part.run("box", boxAt(4, 4, "join")).toStdString(),
              meshRefusal("Verbinden fehlgeschlagen").toStdString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_TRUE(qor::io::isMeshOnly(part.state.bodies.begin()->second.shape));
}
