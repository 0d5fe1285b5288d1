// Placements of STEP assemblies transferred from indexes (placeByIndex) against the kernel's
// own transfer, and the work a large flat assembly costs. Seeds: QOR_PLACEMENT_SEED (first)
// and QOR_PLACEMENT_SEEDS (count).

#include "io/Import.h"
#include "io/StepPlacementActor.h"
#include "io/XcafBodies.h"
#include "tests/common/CpuTime.h"
#include "tests/fixtures/HostileAssemblies.h"
#include "tests/fixtures/RandomStepAssemblies.h"

#include <BRep_Tool.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPControl_Controller.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

namespace qor {
namespace {

QString writeStep(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("baugruppe.step"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

// The bodies of the file as the program collects them, transferred by the kernel alone or
// with the placements from indexes.
io::ImportResult readBodies(const QString& path, bool indexed)
{
    STEPControl_Controller::Init();
    io::XcafDocumentScope scope;
    STEPCAFControl_Reader reader;
    reader.SetColorMode(true);
    reader.SetNameMode(true);
    reader.SetLayerMode(true);
    io::ImportResult result;
    if (reader.ReadFile(path.toLocal8Bit().constData()) != IFSelect_RetDone)
        return result;
    if (indexed)
        io::placeByIndex(reader);
    // A transfer the kernel gives up on fails the same way on both paths.
    try {
        if (reader.Transfer(scope.document()))
            io::collectXcafBodies(scope.document(), result);
    } catch (const Standard_Failure& failure) {
        result.error = QString::fromUtf8(failure.GetMessageString());
    }
    return result;
}

// The first seed and how many: 24 for each of QOR_PLACEMENT_SEEDS (1 unless set).
std::pair<unsigned, int> placementSeeds()
{
    return {unsigned(qEnvironmentVariableIntValue("QOR_PLACEMENT_SEED")),
            std::max(1, qEnvironmentVariableIntValue("QOR_PLACEMENT_SEEDS")) * 24};
}

// The placed corners of a body, summed: a body moved, turned or swapped for another moves it.
gp_XYZ cornerSum(const TopoDS_Shape& shape)
{
    gp_XYZ sum;
    for (TopExp_Explorer it(shape, TopAbs_VERTEX); it.More(); it.Next())
        sum += BRep_Tool::Pnt(TopoDS::Vertex(it.Current())).XYZ();
    return sum;
}

// For each body the first body showing the same geometry: which placements share a part.
std::vector<int> sharing(const io::ImportResult& result)
{
    std::map<const TopoDS_TShape*, int> first;
    std::vector<int> of;
    for (const io::ImportedBody& body : result.bodies)
        of.push_back(first.try_emplace(body.shape.TShape().get(), int(of.size())).first->second);
    return of;
}

void expectSameBodies(const io::ImportResult& plain, const io::ImportResult& indexed)
{
    ASSERT_EQ(plain.bodies.size(), indexed.bodies.size());
    EXPECT_EQ(sharing(plain), sharing(indexed));
    for (std::size_t i = 0; i < plain.bodies.size(); ++i) {
        const io::ImportedBody& a = plain.bodies[i];
        const io::ImportedBody& b = indexed.bodies[i];
        SCOPED_TRACE(testing::Message() << "body " << i);
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.hasColor, b.hasColor);
        EXPECT_EQ(a.r, b.r);
        EXPECT_EQ(a.g, b.g);
        EXPECT_EQ(a.b, b.b);
        EXPECT_EQ(a.shape.Orientation(), b.shape.Orientation());
        const gp_Trsf ta = a.shape.Location().Transformation();
        const gp_Trsf tb = b.shape.Location().Transformation();
        for (int row = 1; row <= 3; ++row) {
            for (int column = 1; column <= 4; ++column)
                EXPECT_NEAR(ta.Value(row, column), tb.Value(row, column), 1e-12);
        }
        EXPECT_LT((cornerSum(a.shape) - cornerSum(b.shape)).Modulus(), 1e-7);
    }
}

TEST(StepPlacement, IndexedPlacementsGiveTheKernelsBodiesNamesColoursAndPlacements)
{
    const auto [first, count] = placementSeeds();
    QTemporaryDir dir;
    int coloured = 0;
    int named = 0;
    for (unsigned seed = first; seed < first + unsigned(count); ++seed) {
        const QString path = writeStep(dir, fixtures::randomStepAssembly(seed, 5 + int(seed % 40)));
        ASSERT_FALSE(path.isEmpty());
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        const io::ImportResult plain = readBodies(path, false);
        ASSERT_TRUE(plain.ok);
        expectSameBodies(plain, readBodies(path, true));
        coloured += int(std::count_if(plain.bodies.begin(), plain.bodies.end(),
                                      [](const io::ImportedBody& b) { return b.hasColor; }));
        named += int(std::count_if(plain.bodies.begin(), plain.bodies.end(),
                                   [](const io::ImportedBody& b) { return !b.name.isEmpty(); }));
    }
    // The comparison covers what it is meant to.
    EXPECT_GT(coloured, count);
    EXPECT_GT(named, count);
}

// Placements with two shape links, one, or none, flat and nested: the kernel takes the part of
// the first link and the transformation of the last.
TEST(StepPlacement, IndexedPlacementsOfSeveralShapeLinksGiveTheKernelsBodies)
{
    const auto [first, count] = placementSeeds();
    QTemporaryDir dir;
    int moved = 0;
    int read = 0;
    for (unsigned seed = first; seed < first + unsigned(count); ++seed) {
        const QByteArray step = fixtures::randomStepAssembly(seed, 5 + int(seed % 40));
        const QString path = writeStep(dir, fixtures::withRedrawnShapeLinks(step, seed));
        ASSERT_FALSE(path.isEmpty());
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        const io::ImportResult plain = readBodies(path, false);
        const io::ImportResult indexed = readBodies(path, true);
        ASSERT_EQ(plain.ok, indexed.ok);
        EXPECT_EQ(plain.error, indexed.error);
        expectSameBodies(plain, indexed);
        read += int(plain.ok);
        // The redrawn links change where the kernel places bodies: the comparison covers them.
        const io::ImportResult before = readBodies(writeStep(dir, step), false);
        moved += int(before.bodies.size() != plain.bodies.size());
        for (std::size_t i = 0; i < std::min(before.bodies.size(), plain.bodies.size()); ++i)
            moved += int(
                !before.bodies[i].shape.Location().IsEqual(plain.bodies[i].shape.Location()));
    }
    EXPECT_GT(moved, count);
    // Links to another assembly's relationship can make the kernel give up on a file.
    EXPECT_GT(read, count / 2);
}

// The same flat assembly with two links on every third placement, against the kernel's own
// transfer (at 1,500 placements: the kernel takes minutes for 10,000).
TEST(StepPlacement, IndexedTwoLinkGridGivesTheKernelsBodies)
{
    QTemporaryDir dir;
    const QString path = writeStep(dir, fixtures::stepBoxGrid(1, 1500, 3));
    ASSERT_FALSE(path.isEmpty());
    const io::ImportResult plain = readBodies(path, false);
    ASSERT_EQ(plain.bodies.size(), 1500u);
    expectSameBodies(plain, readBodies(path, true));
}

// Every 250th of KiCad's models, parts and assemblies written by many exporters.
TEST(StepPlacement, IndexedPlacementsGiveTheKernelsBodiesOfRealFiles)
{
    QStringList models;
    QDirIterator it(QStringLiteral(QOR_KICAD_MODELS), {QStringLiteral("*.step")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        models << it.next();
    if (models.isEmpty())
        GTEST_SKIP() << "KiCad's models are not installed";
    models.sort();
    for (qsizetype i = 0; i < models.size(); i += 250) {
        SCOPED_TRACE(models[i].toStdString());
        expectSameBodies(readBodies(models[i], false), readBodies(models[i], true));
    }
}

// A flat assembly read through the program's import, against the grid
// the generator placed them on (boxes 40 mm apart along x, then y, then z): with one shape
// link per placement, or two on every third.
class FlatAssembly : public testing::TestWithParam<int> { };

TEST_P(FlatAssembly, OfTenThousandPlacementsReadsInLittleWork)
{
    QTemporaryDir dir;
    constexpr int count = 10000;
    const QString path = writeStep(dir, fixtures::stepBoxGrid(1, count, GetParam()));
    ASSERT_FALSE(path.isEmpty());
    const double before = test::workCpuSeconds();
    const io::ImportResult result = io::importFile(path, {});
    const double work = test::workCpuSeconds() - before;
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    ASSERT_EQ(result.bodies.size(), std::size_t(count));
    for (int i = 0; i < count; ++i) {
        const gp_XYZ shift
            = result.bodies[std::size_t(i)].shape.Location().Transformation().TranslationPart();
        ASSERT_LT((shift - gp_XYZ(40.0 * i, 0, 0)).Modulus(), 1e-9) << "placement " << i;
    }
    // The kernel's own transfer took about 50 s of processor time, and minutes with two links.
    EXPECT_LT(work, 10.0);
}

INSTANTIATE_TEST_SUITE_P(StepPlacement, FlatAssembly, testing::Values(0, 3),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == 0 ? std::string("OneLinkEach")
                                                    : std::string("TwoLinksOnEveryThird");
                         });

} // namespace
} // namespace qor
