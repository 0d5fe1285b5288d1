#include "model/BooleanGroup.h"
#include "model/Document.h"
#include "model/ExecContext.h"
#include "tests/common/CpuBudget.h"
#include "tests/common/Seeds.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/MixedHistory.h"

#include <BRepAlgoAPI_BooleanOperation.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace qor::model;

namespace {

struct History {
    unsigned seed;
    int features;
    // A cut that the usual ways, on copies and fuzzy, all broke the body with,
    // and that a later way (a geometry copy, another fuzzy value, spline or
    // larger tools) makes whole.
    int mended = -1;
};

// Two histories in which the kernel's usual cut broke the plate at the level
// of its shell while each face it made passed its checks (7102, feature 93: a
// sphere, which another way of running the cut makes whole; 7108, feature 58:
// a pocket, which only the later ways make whole), then short ones. QOR_WHOLE_SEEDS=N runs
// N histories of 120 features from seed QOR_WHOLE_FIRST instead.
std::vector<History> histories()
{
    std::vector<History> list;
    const int first = qEnvironmentVariableIntValue("QOR_WHOLE_FIRST");
    const int count = qEnvironmentVariableIntValue("QOR_WHOLE_SEEDS");
    for (int k = 0; k < count; ++k)
        list.push_back({unsigned(first + k), 120});
    if (!list.empty())
        return list;
    list = {{7102, 94}, {7108, 59, 58}};
    for (unsigned seed = 7300; seed < 7306; ++seed)
        list.push_back({seed, 30});
    return list;
}

const ModelState& stateAfter(Document& doc, std::size_t index)
{
    return index + 1 < doc.features.size() ? doc.stateBefore(index + 1) : doc.current;
}

// The tool the feature handed to the boolean: from the state after it, or,
// where the boolean refused its result, from running it again on the state
// before it (the tool is recorded before the boolean runs).
std::optional<ToolRecord> toolOf(Document& doc, std::size_t index)
{
    Feature& feature = *doc.features[index];
    const ModelState& after = stateAfter(doc, index);
    if (const auto it = after.tools.find(feature.id); it != after.tools.end())
        return it->second;
    if (feature.error.isEmpty())
        return std::nullopt;
    ModelState again = doc.stateBefore(index);
    const QString error = feature.error;
    const QString warning = feature.warning;
    try {
        doc.executeFeature(feature, again);
    } catch (...) {
    }
    feature.error = error;
    feature.warning = warning;
    const auto it = again.tools.find(feature.id);
    return it == again.tools.end() ? std::nullopt : std::optional<ToolRecord>(it->second);
}

std::optional<BOPAlgo_Operation> operationOf(const QString& op)
{
    if (op == QLatin1String("join"))
        return BOPAlgo_FUSE;
    if (op == QLatin1String("cut"))
        return BOPAlgo_CUT;
    if (op.isEmpty() || op == QLatin1String("new"))
        return std::nullopt;
    return BOPAlgo_COMMON;
}

struct Tally {
    int results = 0;
    int broken = 0; // results the analyzer rejects
    std::string disagreements;
};

// The kernel's boolean of the body with the tool as the model runs it, and the
// cheap verdict on it beside the analyzer's on the whole result.
void compareOn(BOPAlgo_Operation operation, const TopoDS_Shape& body, const TopoDS_Shape& tool,
               const std::string& where, Tally& tally)
{
    TopTools_ListOfShape tools;
    if (operation == BOPAlgo_CUT)
        addCutTools(tool, tools);
    else
        tools.Append(tool);
    TopoDS_Shape result;
    try {
        OCC_CATCH_SIGNALS
        BRepAlgoAPI_BooleanOperation op;
        op.SetOperation(operation);
        buildKeepingInputs(op, body, tools);
        if (!op.IsDone() || isEmptyShape(op.Shape()))
            return;
        result = op.Shape();
    } catch (const Standard_Failure&) {
        return;
    }
    TopTools_ListOfShape inputs = tools;
    inputs.Prepend(body);
    const bool full = BRepCheck_Analyzer(result, Standard_True).IsValid();
    const bool cheap = wholeResult(result, inputs);
    ++tally.results;
    tally.broken += full ? 0 : 1;
    if (cheap != full)
        tally.disagreements
            += where + (full ? " whole, cheap check refuses; " : " broken, cheap check passes; ");
}

} // namespace

// The cheap verdict on a boolean's result (changed faces, shells and solids)
// against the analyzer on the whole result, for every join, cut and intersect
// of random histories on their valid bodies and tools: through cuts, pockets,
// holes, bosses, spheres, tori, rings, boxes, patterns and mirrors of them.
TEST(WholeResult, AgreesWithTheAnalyzerOnTheWholeResult)
{
    // Seeds never seen took 124 s of processor time.
    qor::test::allowCpuSeconds(300);
    Tally tally;
    for (const History& history : histories()) {
        Document doc;
        qor::fixtures::MixedHistory(qor::test::seed(history.seed)).build(doc, history.features);
        doc.recompute();
        qor::test::ValidityMemo validity;
        if (history.mended >= 0) {
            const std::size_t mended = std::size_t(history.mended);
            EXPECT_EQ(doc.features[mended]->error.toStdString(), "") << "seed " << history.seed;
            for (const auto& [id, body] : stateAfter(doc, mended).bodies)
                EXPECT_TRUE(validity.valid(body.shape)) << "seed " << history.seed;
        }
        for (std::size_t i = 0; i < doc.features.size(); ++i) {
            const std::optional<ToolRecord> record = toolOf(doc, i);
            if (!record || record->shape.IsNull() || !validity.valid(record->shape))
                continue;
            const std::optional<BOPAlgo_Operation> operation = operationOf(record->op);
            if (!operation)
                continue;
            const ModelState& before = doc.stateBefore(i);
            for (const int id : record->targets) {
                const auto body = before.bodies.find(id);
                if (body == before.bodies.end() || !validity.valid(body->second.shape))
                    continue;
                compareOn(*operation, body->second.shape, record->shape,
                          "seed " + std::to_string(history.seed) + " feature " + std::to_string(i)
                              + " body " + std::to_string(id),
                          tally);
            }
        }
    }
    EXPECT_EQ(tally.disagreements, "");
    // Without broken results the comparison would prove nothing: the fixed seeds hold some.
    // A range chosen by hand or shifted may hold none, which is no fault of the check.
    if (qEnvironmentVariableIntValue("QOR_WHOLE_SEEDS") == 0 && !qor::test::seedsShifted())
        EXPECT_GT(tally.broken, 0);
    std::printf("%d results, %d broken\n", tally.results, tally.broken);
}
