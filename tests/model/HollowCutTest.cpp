#include "model/BooleanGroup.h"
#include "model/BooleanWays.h"
#include "model/Document.h"
#include "model/EnclosingShells.h"
#include "tests/common/CpuBudget.h"
#include "tests/common/Seeds.h"
#include "tests/fixtures/HollowCuts.h"

#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace qor::model;
using qor::fixtures::HollowCut;

namespace {

// Seeds from QOR_HOLLOW_FIRST on, QOR_HOLLOW_SEEDS of them; by default 0 to
// 59 and cuts the kernel once answered with a solid that kept a hollow's walls
// as faces turned INTERNAL, the hollow filled (their seeds follow).
std::vector<unsigned> hollowSeeds()
{
    std::vector<unsigned> list;
    const int first = qEnvironmentVariableIntValue("QOR_HOLLOW_FIRST");
    const int count = qEnvironmentVariableIntValue("QOR_HOLLOW_SEEDS");
    for (int k = 0; k < count; ++k)
        list.push_back(unsigned(first + k));
    if (!list.empty())
        return list;
    for (unsigned k = 0; k < 60; ++k)
        list.push_back(qor::test::seed(k));
    return list;
}

struct Tally {
    std::map<std::string, int> cuts; // by kind
    int refused = 0;
    int judgedPoints = 0;
    std::string failures;
};

std::string where(unsigned seed, const HollowCut& cut)
{
    return "seed " + std::to_string(seed) + " (" + cut.kind + ")";
}

void judge(unsigned seed, const HollowCut& cut, Tally& tally)
{
    Body body;
    body.shape = cut.body;
    TopTools_ListOfShape tools;
    addCutTools(cut.tool, tools);
    TopoDS_Shape result;
    try {
        result
            = soundBoolean(BOPAlgo_CUT, body, tools, QStringLiteral("Ausschneiden fehlgeschlagen"))
                  .shape;
    } catch (const FeatureError& error) {
        ++tally.refused;
        tally.failures += where(seed, cut) + " refused: " + error.what() + "\n";
        return;
    } catch (const Standard_Failure& failure) {
        // The recompute tells the user of these as geometry errors.
        ++tally.refused;
        tally.failures
            += where(seed, cut) + " failed in the kernel: " + failure.GetMessageString() + "\n";
        return;
    }
    ++tally.cuts[cut.kind];
    const qor::fixtures::PointCount count
        = qor::fixtures::countPoints(result, cut.after, cut.primitives, cut.box, 3000, seed);
    tally.judgedPoints += count.judged;
    if (count.disagreeing > 0)
        tally.failures += where(seed, cut) + ": " + std::to_string(count.disagreeing) + " of "
                          + std::to_string(count.judged) + " points placed otherwise\n";
    if (!qor::fixtures::everyShellCloses(result))
        tally.failures += where(seed, cut) + ": a shell does not close\n";
}

} // namespace

// Cuts that open hollows, cuts of bodies of several solids and cuts through
// faces of tori, spheres and cones: each accepted cut leaves material exactly
// where the primitives do, at points away from their surfaces, and every shell
// of its solids closes; a cut is seldom refused.
TEST(HollowCuts, AcceptedCutsLeaveWhatThePrimitivesSay)
{
    qor::test::allowCpuSeconds(240);
    Tally tally;
    int drawn = 0;
    for (const unsigned seed : hollowSeeds()) {
        const std::optional<HollowCut> cut = qor::fixtures::hollowCut(seed);
        if (!cut)
            continue;
        ++drawn;
        judge(seed, *cut, tally);
    }
    std::printf("%d cuts drawn: %d opening hollows, %d of several solids, %d through curved "
                "faces accepted, %d refused; %d points judged\n%s",
                drawn, tally.cuts["hollow"], tally.cuts["solids"], tally.cuts["curved"],
                tally.refused, tally.judgedPoints, tally.failures.c_str());
    EXPECT_EQ(tally.failures.find("placed otherwise"), std::string::npos);
    EXPECT_EQ(tally.failures.find("does not close"), std::string::npos);
    EXPECT_LE(20 * tally.refused, drawn);
    // The generator must make cuts of every kind, or it judges less than it says.
    EXPECT_GT(drawn, int(hollowSeeds().size()) / 2);
    for (const char* kind : {"hollow", "solids", "curved"})
        EXPECT_GT(tally.cuts[kind], 0) << kind;
}
