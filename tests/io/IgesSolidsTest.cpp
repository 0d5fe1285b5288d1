// IGES bodies written as trimmed faces come back as the solids they enclose; faces that do
// not close stay as read, and real files keep what the plain reading gives.

#include "io/Import.h"
#include "io/XcafBodies.h"
#include "tests/fixtures/IgesFaceBodies.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"

#include <IGESCAFControl_Reader.hxx>
#include <IGESControl_Controller.hxx>
#include <TopExp_Explorer.hxx>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qor {
namespace {

QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("koerper.igs"));
    QFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

QString wave8Folder()
{
    return QDir(test::readerFilesFolder()).filePath(QStringLiteral("../wave8"));
}

// The bodies as the kernel's reader and the document walk give them, faces unsewn.
io::ImportResult plainBodies(const QString& path)
{
    IGESControl_Controller::Init();
    io::XcafDocumentScope scope;
    IGESCAFControl_Reader reader;
    io::ImportResult result;
    if (reader.ReadFile(path.toLocal8Bit().constData()) != IFSelect_RetDone)
        return result;
    reader.Transfer(scope.document());
    io::collectXcafBodies(scope.document(), result);
    return result;
}

TEST(IgesSolids, FaceBodiesReadBackAsClosedBodiesWithTheirVolumes)
{
    const std::vector<fixtures::MeasuredBody> written = fixtures::boxWithHoleAndBall();
    std::vector<TopoDS_Shape> shapes;
    for (const fixtures::MeasuredBody& body : written)
        shapes.push_back(body.shape);
    QTemporaryDir dir;
    const QString path = writeFile(dir, fixtures::igesFaceBodies(shapes));
    ASSERT_FALSE(path.isEmpty());
    const io::ImportResult read = io::importFile(path, {});
    ASSERT_TRUE(read.ok) << read.error.toStdString();
    ASSERT_EQ(read.bodies.size(), written.size());
    EXPECT_TRUE(read.warning.isEmpty()) << read.warning.toStdString();
    for (std::size_t i = 0; i < written.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "body " << i);
        const io::ImportedBody& body = read.bodies[i];
        EXPECT_EQ(test::countOf(body.shape, TopAbs_SOLID), 1);
        EXPECT_EQ(test::countOf(body.shape, TopAbs_FACE),
                  test::countOf(written[i].shape, TopAbs_FACE));
        EXPECT_NEAR(test::volumeOf(body.shape), written[i].volume, 1e-6 * written[i].volume);
        // Unnamed in the file: no kernel type name ("COMPOUND", "FACE") stands in.
        EXPECT_TRUE(body.name.isEmpty()) << body.name.toStdString();
    }
}

// A ball of diameter 40 exported by the program in face form.
TEST(IgesSolids, ExportedBallReadsBackWithItsVolume)
{
    const QString path = QDir(wave8Folder()).filePath(QStringLiteral("kugel50.igs"));
    if (!QFileInfo::exists(path))
        GTEST_SKIP() << "kugel50.igs is not at hand";
    const io::ImportResult read = io::importFile(path, {});
    ASSERT_TRUE(read.ok) << read.error.toStdString();
    ASSERT_EQ(read.bodies.size(), 1u);
    EXPECT_EQ(test::countOf(read.bodies[0].shape, TopAbs_SOLID), 1);
    EXPECT_NEAR(test::volumeOf(read.bodies[0].shape), 4.0 / 3.0 * M_PI * 8000.0, 0.05);
    EXPECT_TRUE(read.warning.isEmpty()) << read.warning.toStdString();
}

TEST(IgesSolids, FacesThatDoNotCloseStayAsReadWithANote)
{
    const struct {
        std::vector<TopoDS_Shape> shapes;
        std::vector<int> solids; // per body
        const char* note;
    } cases[] = {
        {{fixtures::openBox()},
         {0},
         "Der Körper hat kein geschlossenes Volumen: seine Flächen schließen sich nicht zu "
         "einer Hülle"},
        {{fixtures::openBox(), fixtures::boxWithHoleAndBall()[1].shape},
         {0, 1},
         "1 von 2 Körpern hat kein geschlossenes Volumen: seine Flächen schließen sich nicht zu "
         "einer Hülle"},
        {{fixtures::openBox(), fixtures::openBox(), fixtures::boxWithHoleAndBall()[0].shape},
         {0, 0, 1},
         "2 von 3 Körpern haben kein geschlossenes Volumen: ihre Flächen schließen sich nicht "
         "zu einer Hülle"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.note);
        QTemporaryDir dir;
        const QString path = writeFile(dir, fixtures::igesFaceBodies(c.shapes));
        ASSERT_FALSE(path.isEmpty());
        const io::ImportResult read = io::importFile(path, {});
        ASSERT_TRUE(read.ok) << read.error.toStdString();
        ASSERT_EQ(read.bodies.size(), c.shapes.size());
        for (std::size_t i = 0; i < c.shapes.size(); ++i) {
            EXPECT_EQ(test::countOf(read.bodies[i].shape, TopAbs_SOLID), c.solids[i]);
            EXPECT_EQ(test::countOf(read.bodies[i].shape, TopAbs_FACE),
                      test::countOf(c.shapes[i], TopAbs_FACE));
        }
        EXPECT_EQ(read.warning.toStdString(), c.note);
        EXPECT_TRUE(read.notes.contains(QString::fromUtf8(c.note)));
    }
}

// Every real IGES file at hand: the bodies, their face areas and colours as the plain reading
// gives them.
TEST(IgesSolids, RealFilesKeepTheirBodiesAreasAndColours)
{
    QStringList files;
    for (const QString& folder :
         {test::readerFilesFolder(), wave8Folder(), QStringLiteral(QOR_WAVE9_FILES),
          QStringLiteral("/usr/share/opencascade/data")}) {
        QDirIterator it(folder, {QStringLiteral("*.igs"), QStringLiteral("*.iges")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    if (files.isEmpty())
        GTEST_SKIP() << "no IGES files at hand";
    for (const QString& path : files) {
        SCOPED_TRACE(path.toStdString());
        const io::ImportResult plain = plainBodies(path);
        const io::ImportResult read = io::importFile(path, {});
        ASSERT_EQ(read.ok, plain.ok);
        ASSERT_EQ(read.bodies.size(), plain.bodies.size());
        for (std::size_t i = 0; i < plain.bodies.size(); ++i) {
            const io::ImportedBody& a = plain.bodies[i];
            const io::ImportedBody& b = read.bodies[i];
            SCOPED_TRACE(testing::Message() << "body " << i);
            EXPECT_EQ(a.name, b.name);
            EXPECT_EQ(test::countOf(a.shape, TopAbs_FACE), test::countOf(b.shape, TopAbs_FACE));
            EXPECT_NEAR(test::areaOf(b.shape), test::areaOf(a.shape), 1e-4 * test::areaOf(a.shape));
            EXPECT_EQ(a.hasColor, b.hasColor);
            EXPECT_EQ(a.r, b.r);
            EXPECT_EQ(a.g, b.g);
            EXPECT_EQ(a.b, b.b);
        }
    }
}

} // namespace
} // namespace qor
