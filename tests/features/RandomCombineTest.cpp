#include "TestPart.h"

#include "tests/common/CpuTime.h"
#include "tests/fixtures/BoxCells.h"
#include "tests/common/Seeds.h"

#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeBox.hxx>

#include <QtGlobal>

#include <gtest/gtest.h>

#include <sstream>

using namespace qor::model;
using qor::fixtures::AxisBox;
using qor::fixtures::BoxCombine;

namespace {

// Combines each case runs: about 8 s of processor time.
constexpr int combinesPerCase = 80;

// Seeds from QOR_COMBINE_FIRST on, QOR_COMBINE_SEEDS of them; by default 1 to
// 240, of which 94 were refused or wrong while the tools went to the kernel
// as one compound (joins of tools overlapping each other as solids sharing
// material, intersections as no common part).
std::vector<unsigned> combineSeeds()
{
    std::vector<unsigned> list;
    const int first = qEnvironmentVariableIntValue("QOR_COMBINE_FIRST");
    const int count = qEnvironmentVariableIntValue("QOR_COMBINE_SEEDS");
    for (int k = 0; k < count; ++k)
        list.push_back(unsigned(first + k));
    if (list.empty()) {
        for (unsigned seed = 1; seed <= 240; ++seed)
            list.push_back(qor::test::seed(seed));
    }
    return list;
}

int caseCount()
{
    return int((combineSeeds().size() + combinesPerCase - 1) / combinesPerCase);
}

int addBox(TestPart& part, const AxisBox& box)
{
    return part.addBody(BRepPrimAPI_MakeBox(gp_Pnt(box.low[0], box.low[1], box.low[2]),
                                            gp_Pnt(box.high[0], box.high[1], box.high[2]))
                            .Shape());
}

// What is wrong with the combine's outcome, empty when it is right: a right
// result that is empty must be refused in German and change nothing; any
// other must be a valid body of the cells' volume holding exactly the cells
// the operation keeps, with the tools kept or gone as asked.
std::string fault(const BoxCombine& combine)
{
    TestPart part;
    const int target = addBox(part, combine.target);
    QJsonArray tools;
    for (const AxisBox& tool : combine.tools)
        tools.append(addBox(part, tool));
    const QString error = part.run("combine", {{"target", QJsonArray{target}},
                                               {"tools", tools},
                                               {"op", QString::fromStdString(combine.op)},
                                               {"keepTools", combine.keepTools}});
    const std::vector<qor::fixtures::BoxCell> cells = qor::fixtures::boxCells(combine.boxes());
    const auto holds = [&combine](const std::vector<bool>& in) { return combine.holds(in); };
    const double expected = qor::fixtures::cellVolume(cells, holds);
    std::ostringstream text;
    if (expected < 1e-9) {
        if (error.isEmpty())
            text << "an empty result was accepted";
        else if (part.state.bodies.size() != combine.tools.size() + 1)
            text << "refused, yet bodies changed";
        return text.str();
    }
    if (!error.isEmpty())
        return "refused: " + error.toStdString();
    const TopoDS_Shape& result = part.shape(target);
    const double volume = shapeVolume(result);
    if (std::abs(volume - expected) > 1e-6 * std::max(1.0, expected))
        text << "volume " << volume << " instead of " << expected << "; ";
    if (!BRepCheck_Analyzer(result).IsValid())
        text << "not valid; ";
    int misplaced = 0;
    for (const qor::fixtures::BoxCell& cell : cells) {
        const gp_Pnt centre(cell.centre[0], cell.centre[1], cell.centre[2]);
        if (TestPart::inside(result, centre) != holds(cell.inside))
            ++misplaced;
    }
    if (misplaced > 0)
        text << misplaced << " of " << cells.size() << " cells misplaced in "
             << countOf(result, TopAbs_SOLID) << " solids; ";
    const std::size_t bodies = combine.keepTools ? combine.tools.size() + 1 : 1;
    if (part.state.bodies.size() != bodies)
        text << part.state.bodies.size() << " bodies instead of " << bodies << "; ";
    return text.str();
}

class RandomCombine : public testing::TestWithParam<int> { };

} // namespace

// Random combines of boxes (targets and two to four tools that overlap each
// other, touch or keep apart; join, cut and intersect; tools kept or not),
// judged by the exact volume and the cells of the boxes: none refused where
// the right result is not empty, none wrong.
TEST_P(RandomCombine, BoxesGiveTheCellsResult)
{
    const std::vector<unsigned> seeds = combineSeeds();
    const std::size_t from = std::size_t(GetParam()) * combinesPerCase;
    const std::size_t to = std::min(seeds.size(), from + combinesPerCase);
    const double start = qor::test::cpuSeconds();
    int overlappingTools = 0;
    std::vector<std::string> faults;
    for (std::size_t i = from; i < to; ++i) {
        std::mt19937 random(seeds[i]);
        const BoxCombine combine = qor::fixtures::randomBoxCombine(random);
        const std::vector<AxisBox> toolBoxes = combine.tools;
        const auto cells = qor::fixtures::boxCells(toolBoxes);
        overlappingTools
            += qor::fixtures::cellVolume(cells,
                                         [](const std::vector<bool>& in) {
                                             return std::count(in.begin(), in.end(), true) > 1;
                                         })
               > 0;
        const std::string found = fault(combine);
        if (!found.empty())
            faults.push_back("seed " + std::to_string(seeds[i]) + ": " + found + " ("
                             + combine.describe() + ")");
    }
    for (const std::string& found : faults)
        ADD_FAILURE() << found;
    EXPECT_TRUE(faults.empty()) << faults.size() << " of " << to - from << " combines wrong";
    std::printf("%zu combines, %d with tools overlapping each other, %.1f s\n", to - from,
                overlappingTools, qor::test::cpuSeconds() - start);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomCombine, testing::Range(0, caseCount()));
