// Mesh bodies read and named truly: a binary STL whose bytes all look like text is
// told by its size, each closed part of a mesh body is judged on its own (volumes
// from the cubes' sizes), and a read's processor budget follows the data a file
// holds, not the comments padding it.

#include "io/MeshParts.h"
#include "IoTestSupport.h"
#include "io/Export.h"
#include "io/Import.h"
#include "io/MeshFaces.h"
#include "tests/common/CpuTime.h"

#include "tests/fixtures/CommentedIges.h"
#include "tests/fixtures/StlFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <BRepPrimAPI_MakeBox.hxx>

#include <algorithm>
#include <optional>

using namespace qor::fixtures;

namespace {

std::vector<Triangle> joined(std::vector<Triangle> a, const std::vector<Triangle>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<Triangle> insideOut(std::vector<Triangle> triangles)
{
    for (Triangle& t : triangles)
        t = turned(t);
    return triangles;
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

} // namespace

// A cube at 0 and 10 with zero normals: every byte lies below 0x80, yet the file is
// 84 + 50 × 12 bytes and its count says 12.
TEST(MeshParts, BinaryStlWhoseBytesLookLikeTextIsReadAsBinary)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wuerfel.stl"));
    const QByteArray bytes = binaryStl(cube(10.0f, 0.0f), 12);
    ASSERT_TRUE(std::all_of(bytes.begin(), bytes.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    write(path, bytes);
    const qor::io::ImportResult imported = qor::io::importFile(path, {});
    ASSERT_TRUE(imported.ok) << imported.error.toStdString();
    ASSERT_EQ(imported.bodies.size(), 1U);
    const qor::io::IndexedMesh mesh = qor::io::mergedMesh(imported.bodies[0].shape);
    EXPECT_EQ(mesh.triangles.size(), 12U);
    EXPECT_EQ(mesh.vertices.size(), 8U);
    EXPECT_NEAR(qor::io::sixfoldVolume(mesh) / 6.0, 1000.0, 1e-6);
}

// Each closed part is judged by the volume its own triangles enclose.
TEST(MeshParts, EachClosedPartIsJudgedOnItsOwn)
{
    const std::vector<Triangle> big = cube(10.0f, 0.0f);
    const struct {
        const char* what;
        std::vector<Triangle> triangles;
        int parts;
        std::vector<double> insideOut;
        std::optional<double> volume; // where every part closes
    } cases[] = {
        {"a cube and a smaller one inside out apart",
         joined(big, insideOut(cube(5.0f, 20.0f))),
         2,
         {-125.0},
         875.0},
        {"a cube and an inside-out copy of itself", joined(big, insideOut(big)), 2, {-1000.0}, 0.0},
        {"two inside-out cubes on one edge",
         joined(insideOut(big), insideOut(moved(big, 10.0f, 10.0f, 0.0f))),
         2,
         {-1000.0, -1000.0},
         -2000.0},
        {"two cubes on one edge", joined(big, moved(big, 10.0f, 10.0f, 0.0f)), 2, {}, 2000.0},
        {"one cube inside out", insideOut(big), 1, {-1000.0}, -1000.0},
        {"a cube and an open one",
         joined(big, moved(faultyCubes().missing, 30.0f, 0.0f, 0.0f)),
         2,
         {},
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const qor::io::MeshParts parts
            = qor::io::meshParts(qor::io::mergedMesh(meshBody(c.triangles)));
        EXPECT_EQ(parts.count, c.parts);
        const std::vector<double> found = parts.insideOut();
        ASSERT_EQ(found.size(), c.insideOut.size());
        for (std::size_t i = 0; i < found.size(); ++i)
            EXPECT_NEAR(found[i], c.insideOut[i], 1e-6);
        EXPECT_EQ(parts.measurable(), c.volume.has_value());
        if (c.volume)
            EXPECT_NEAR(parts.volume(), *c.volume, 1e-6);
    }
}

// The inside-out part is named in the note of every format, with its volume.
TEST(MeshParts, InsideOutPartIsNamedInEveryFormat)
{
    const std::vector<Triangle> triangles = joined(cube(10.0f, 0.0f), insideOut(cube(5.0f, 20.0f)));
    const std::vector<qor::io::ExportBody> bodies{{QStringLiteral("Netz"), meshBody(triangles)}};
    QTemporaryDir dir;
    for (const char* suffix : {"stl", "obj", "ply", "glb", "gltf", "3mf", "step", "igs", "brep"}) {
        SCOPED_TRACE(suffix);
        QString note;
        QString error;
        ASSERT_TRUE(qor::io::exportFile(dir.filePath(QStringLiteral("aus.") + suffix), bodies,
                                        qor::io::ExportOptions(), &error, &note))
            << error.toStdString();
        EXPECT_TRUE(note.contains(QStringLiteral(
            "„Netz“ hat 1 von 2 geschlossenen Teilen nach innen gekehrt (-125,0 mm³)")))
            << note.toStdString();
    }
}

// The two files of another program: a binary cube whose normals are zero, and a
// cube beside a smaller one turned inside out.
TEST(MeshParts, RealFilesReadAsTheirCubes)
{
    const QDir files(qor::test::readerFilesFolder() + QStringLiteral("/../wave12"));
    const QString binary = files.filePath(QStringLiteral("wuerfel-binaer-ohne-normalen.stl"));
    const QString turned
        = files.filePath(QStringLiteral("netz-wuerfel-und-verkehrter-wuerfel.stl"));
    if (!QFile::exists(binary) || !QFile::exists(turned))
        GTEST_SKIP() << "the files of wave12 are not at hand";
    const qor::io::ImportResult cube = qor::io::importFile(binary, {});
    ASSERT_TRUE(cube.ok) << cube.error.toStdString();
    EXPECT_NEAR(qor::io::signedMeshVolume(cube.bodies[0].shape), 1000.0, 1e-3);

    const qor::io::ImportResult pair = qor::io::importFile(turned, {});
    ASSERT_TRUE(pair.ok) << pair.error.toStdString();
    const qor::io::MeshParts parts = qor::io::meshParts(qor::io::mergedMesh(pair.bodies[0].shape));
    ASSERT_EQ(parts.insideOut().size(), 1U);
    EXPECT_NEAR(parts.insideOut()[0], -125.0, 1e-3);
    EXPECT_NEAR(parts.volume(), 875.0, 1e-3);
}

// 20 MB of comment lines in an IGES start section buy no processor time: the budget is
// that of the box's own records, and the read stays within a few seconds of work.
TEST(MeshParts, CommentsBuyNoProcessorTime)
{
    QTemporaryDir dir;
    const QString sound = dir.filePath(QStringLiteral("kasten.igs"));
    ASSERT_TRUE(qor::io::exportFile(
        sound, {{QStringLiteral("Kasten"), BRepPrimAPI_MakeBox(10.0, 20.0, 30.0).Shape()}},
        qor::io::ExportOptions(), nullptr));
    QFile file(sound);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray iges = file.readAll();
    const QString padded = dir.filePath(QStringLiteral("kommentiert.igs"));
    write(padded, withStartSection(iges, 250000));
    ASSERT_GT(QFileInfo(padded).size(), 20'000'000);
    EXPECT_EQ(qor::io::importBudgetMs(padded), qor::io::importBudgetMs(sound))
        << qor::io::importBudgetMs(padded);
    const double before = qor::test::cpuSeconds();
    const qor::io::ImportResult imported = qor::io::readInThisProcess(padded, {}, {});
    EXPECT_LT(qor::test::cpuSeconds() - before, 15.0);
    ASSERT_TRUE(imported.ok) << imported.error.toStdString();
}
