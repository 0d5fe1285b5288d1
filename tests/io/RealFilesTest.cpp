#include "io/Import.h"

#include "IoTestSupport.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cmath>

// Sample files of Debian's occt-misc and assimp-testmodels packages, and the
// small files kept beside these tests.

using namespace qor::io;
using qor::test::findBody;
using qor::test::readerFilesFolder;
using qor::test::volumeOf;

namespace {

const QString occtData = QStringLiteral("/usr/share/opencascade/data");
const QString assimpModels = QStringLiteral("/usr/share/assimp/models");

QStringList importableFiles(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isImportable(path))
            files << path;
    }
    files.sort();
    return files;
}

bool isKnownError(const QString& error)
{
    static const QStringList known
        = {"STEP-Datei konnte nicht gelesen werden", "STEP-Daten konnten nicht übertragen werden",
           "IGES-Datei konnte nicht gelesen werden", "STL-Datei enthält keine Dreiecke",
           "OBJ-Datei konnte nicht gelesen werden",  "glTF-Datei konnte nicht gelesen werden",
           "BREP-Datei konnte nicht gelesen werden", "Die Datei enthält keine Geometrie"};
    return known.contains(error) || error.startsWith("Fehler beim Lesen: ");
}

} // namespace

TEST(RealFilesTest, EverySampleReadsOrFailsWithAGermanError)
{
    const QStringList files = importableFiles(occtData) + importableFiles(assimpModels)
                              + importableFiles(QStringLiteral(QOR_TEST_DATA));
    if (files.size() < 20)
        GTEST_SKIP() << "occt-misc and assimp-testmodels are not installed";

    int read = 0;
    int coloured = 0;
    for (const QString& path : files) {
        SCOPED_TRACE(path.toStdString());
        const ImportResult result = importFile(path, {});
        EXPECT_FALSE(result.format.isEmpty());
        if (!result.ok) {
            EXPECT_TRUE(isKnownError(result.error)) << result.error.toStdString();
            continue;
        }
        ++read;
        EXPECT_TRUE(result.error.isEmpty());
        ASSERT_FALSE(result.bodies.empty());
        for (const ImportedBody& body : result.bodies) {
            EXPECT_FALSE(body.shape.IsNull());
            EXPECT_GE(body.r, 0.0);
            EXPECT_LE(body.r, 1.0);
            coloured += body.hasColor;
        }
    }
    // Most samples are sound; the broken ones are a minority.
    EXPECT_GT(read, files.size() * 3 / 4);
    EXPECT_GT(coloured, 50);
}

TEST(RealFilesTest, KnownSamplesGiveTheirBodies)
{
    if (!QFileInfo::exists(occtData + "/step/screw.step")
        || !QFileInfo::exists(assimpModels + "/OBJ/spider.obj"))
        GTEST_SKIP() << "occt-misc and assimp-testmodels are not installed";

    const ImportResult screw = importFile(occtData + "/step/screw.step", {});
    ASSERT_TRUE(screw.ok);
    ASSERT_EQ(screw.bodies.size(), 1u);
    EXPECT_FALSE(screw.bodies[0].name.isEmpty());
    EXPECT_NEAR(volumeOf(screw.bodies[0].shape), 3788.27, 0.05);

    const ImportResult bottle = importFile(occtData + "/occ/bottle.brep", {});
    ASSERT_TRUE(bottle.ok);
    EXPECT_EQ(bottle.bodies[0].name, "bottle");
    EXPECT_NEAR(volumeOf(bottle.bodies[0].shape), 6962.86, 0.05);

    // The same spider as ASCII and as binary STL.
    const ImportResult ascii = importFile(assimpModels + "/STL/Spider_ascii.stl", {});
    const ImportResult binary = importFile(assimpModels + "/STL/Spider_binary.stl", {});
    ASSERT_TRUE(ascii.ok && binary.ok);
    EXPECT_NEAR(volumeOf(ascii.bodies[0].shape), volumeOf(binary.bodies[0].shape), 1e-3);
    EXPECT_GT(volumeOf(ascii.bodies[0].shape), 0.0);

    const ImportResult spider = importFile(assimpModels + "/OBJ/spider.obj", {});
    ASSERT_TRUE(spider.ok);
    EXPECT_TRUE(spider.meshBodies);
    EXPECT_EQ(spider.bodies.size(), 19u);
    const ImportedBody* leg = findBody(spider, "Bein1Li");
    ASSERT_TRUE(leg);
    EXPECT_TRUE(leg->hasColor);
    EXPECT_NEAR(leg->r, 0.8, 0.01);

    EXPECT_EQ(importFile(assimpModels + "/glTF2/MissingBin/BoxTextured.gltf", {}).error,
              "glTF-Datei konnte nicht gelesen werden");
    // Draco-compressed buffers make the kernel's reader throw: reported, format kept.
    const ImportResult draco = importFile(assimpModels + "/glTF2/draco/2CylinderEngine.gltf", {});
    EXPECT_FALSE(draco.ok);
    EXPECT_TRUE(draco.error.startsWith("Fehler beim Lesen: ")) << draco.error.toStdString();
    EXPECT_EQ(draco.format, "glTF");
    EXPECT_TRUE(draco.meshBodies);
    // Scaled nodes throughout.
    const ImportResult engine
        = importFile(assimpModels + "/glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb", {});
    EXPECT_TRUE(engine.ok) << engine.error.toStdString();
    EXPECT_GT(engine.bodies.size(), 50u);
}

TEST(RealFilesTest, ScaledGltfNodeKeepsItsScale)
{
    // Two unit boxes in a glTF 1.0 file, the upper one scaled by one half.
    const ImportResult boxes = importFile(QStringLiteral(QOR_TEST_DATA "/TwoBoxes.gltf"), {});
    ASSERT_TRUE(boxes.ok) << boxes.error.toStdString();
    ASSERT_EQ(boxes.bodies.size(), 2u);
    const ImportedBody* bottom = findBody(boxes, "BottomBox");
    const ImportedBody* top = findBody(boxes, "TopBox");
    ASSERT_TRUE(bottom && top);
    // Metres become millimetres.
    EXPECT_NEAR(volumeOf(bottom->shape), 1e9, 1.0);
    EXPECT_NEAR(volumeOf(top->shape), 1e9 / 8, 1.0);
    EXPECT_TRUE(top->hasColor);
    EXPECT_NEAR(top->r, 0.8, 0.01);
    EXPECT_NEAR(top->g, 0.0, 0.01);
    Bnd_Box bottomBox, topBox;
    BRepBndLib::Add(bottom->shape, bottomBox);
    BRepBndLib::Add(top->shape, topBox);
    // The file's root turns its Z into glTF's Y up and places the half-size box one
    // metre above the other; read with Z up, that is 1000 mm along Z.
    EXPECT_NEAR(bottomBox.CornerMin().Z(), -500.0, 1e-3);
    EXPECT_NEAR(topBox.CornerMin().Z(), 750.0, 1e-3);
    EXPECT_NEAR(topBox.CornerMax().Z(), 1250.0, 1e-3);
    EXPECT_NEAR(topBox.CornerMax().X(), 250.0, 1e-3);
}

// A ball at x = 50 as the export wrote it: the reader places its face by the
// file's transformation and colours the placement. The body keeps the colour of
// the file's colour entity (72 %, 76 %, 82 %) and its name.
TEST(RealFilesTest, PlacedBallFromIgesKeepsItsColour)
{
    const QString path = QDir(readerFilesFolder()).filePath(QStringLiteral("../wave8/kugel50.igs"));
    if (!QFileInfo::exists(path))
        GTEST_SKIP() << "kugel50.igs is not at hand";
    const ImportResult ball = importFile(path, {});
    ASSERT_TRUE(ball.ok) << ball.error.toStdString();
    ASSERT_EQ(ball.bodies.size(), 1u);
    const ImportedBody& body = ball.bodies[0];
    EXPECT_EQ(body.name, QStringLiteral("Körper 1"));
    EXPECT_TRUE(body.hasColor);
    EXPECT_NEAR(body.r, 0.72, 0.005);
    EXPECT_NEAR(body.g, 0.76, 0.005);
    EXPECT_NEAR(body.b, 0.82, 0.005);
}
