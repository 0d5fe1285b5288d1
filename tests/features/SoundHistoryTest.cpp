#include "model/Document.h"
#include "model/ExecContext.h"
#include "tests/common/CpuBudget.h"
#include "tests/common/Seeds.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/MixedHistory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace qor::model;

namespace {

std::string featureName(const Document& doc, std::size_t index)
{
    return "feature " + std::to_string(index) + " (" + doc.features[index]->type.toStdString()
           + ")";
}

const ModelState& stateAfter(Document& doc, std::size_t index)
{
    return index + 1 < doc.features.size() ? doc.stateBefore(index + 1) : doc.current;
}

// Features that failed while the state before them held an invalid body.
std::string failuresOnInvalidBodies(Document& doc, qor::test::ValidityMemo& validity)
{
    std::string found;
    for (std::size_t i = 0; i < doc.features.size(); ++i) {
        if (doc.features[i]->error.isEmpty())
            continue;
        for (const auto& [id, body] : doc.stateBefore(i).bodies) {
            if (!validity.valid(body.shape))
                found += featureName(doc, i) + " failed with \""
                         + doc.features[i]->error.toStdString() + "\" beside invalid body "
                         + std::to_string(id) + "; ";
        }
    }
    return found;
}

// Features that turned a valid body invalid. A body broken once stays broken
// (every boolean on it fails), so only the bodies invalid at the end are
// followed back to the feature that broke them.
std::string invalidatingFeatures(Document& doc, qor::test::ValidityMemo& validity)
{
    std::string found;
    for (const auto& [id, body] : doc.current.bodies) {
        if (validity.valid(body.shape))
            continue;
        for (std::size_t i = 0; i < doc.features.size(); ++i) {
            const auto before = doc.stateBefore(i).bodies.find(id);
            const auto& bodiesAfter = stateAfter(doc, i).bodies;
            const auto after = bodiesAfter.find(id);
            if (before != doc.stateBefore(i).bodies.end() && after != bodiesAfter.end()
                && validity.valid(before->second.shape) && !validity.valid(after->second.shape))
                found += featureName(doc, i) + " turned body " + std::to_string(id) + " invalid; ";
        }
    }
    return found;
}

// Cuts after which a body holds more volume than before.
std::string growingCuts(Document& doc)
{
    std::string found;
    for (std::size_t i = 0; i < doc.features.size(); ++i) {
        if (doc.features[i]->params.value(QLatin1String("op")).toString() != QLatin1String("cut"))
            continue;
        const ModelState& before = doc.stateBefore(i);
        for (const auto& [id, body] : stateAfter(doc, i).bodies) {
            const auto old = before.bodies.find(id);
            if (old == before.bodies.end() || old->second.shape.IsSame(body.shape))
                continue;
            const double was = shapeVolume(old->second.shape);
            if (shapeVolume(body.shape) > was + 1e-7 * std::max(1.0, was))
                found += featureName(doc, i) + " grew body " + std::to_string(id) + "; ";
        }
    }
    return found;
}

struct History {
    unsigned seed;
    int features;
};

// Histories that once broke the plate, as long as it takes (114: a joined
// sphere left it invalid and the joins after it failed; 209: a cutting box grew
// it; 7102: a cutting sphere left a shell open and grew it, and two fillets
// after it failed; 7108: a pocket left a shell open and the cuts after it
// failed), the other seeds from 7100 to 7111 and more short ones. History 209
// stops at 86 features: the twenty after them (among them two mirrors refused
// in every way the kernel is asked) cost as much processor time again as all
// before them. For a long run by hand, QOR_SOUND_SEEDS=N runs N histories of
// 120 features from seed QOR_SOUND_FIRST instead.
std::vector<History> histories()
{
    std::vector<History> list;
    const int first = qEnvironmentVariableIntValue("QOR_SOUND_FIRST");
    const int count = qEnvironmentVariableIntValue("QOR_SOUND_SEEDS");
    for (int k = 0; k < count; ++k)
        list.push_back({unsigned(first + k), 120});
    if (!list.empty())
        return list;
    list = {{114, 98}, {209, 86}, {7102, 108}, {7108, 63}};
    for (unsigned seed = 7100; seed < 7112; ++seed) {
        if (seed != 7102 && seed != 7108)
            list.push_back({seed, 30});
    }
    for (unsigned seed = 5000; seed < 5048; ++seed)
        list.push_back({seed, 30});
    return list;
}

class SoundHistory : public testing::TestWithParam<History> { };

} // namespace

// Random histories on the plain plate: a boolean or the merge of faces after
// it may not hand later features an invalid body, nor may a cut grow one. One
// case per history, so that each stays well within a minute of processor time.
TEST_P(SoundHistory, NoFeatureSpoilsAValidBodyForTheFeaturesAfterIt)
{
    const History history = GetParam();
    qor::test::allowCpuSeconds(4 * history.features);
    Document doc;
    qor::fixtures::MixedHistory(qor::test::seed(history.seed)).build(doc, history.features);
    doc.recompute();
    qor::test::ValidityMemo validity;
    EXPECT_EQ(failuresOnInvalidBodies(doc, validity), "");
    EXPECT_EQ(invalidatingFeatures(doc, validity), "");
    EXPECT_EQ(growingCuts(doc), "");
}

INSTANTIATE_TEST_SUITE_P(Seeds, SoundHistory, testing::ValuesIn(histories()),
                         [](const testing::TestParamInfo<History>& info) {
                             return "Seed" + std::to_string(info.param.seed) + "With"
                                    + std::to_string(info.param.features) + "Features";
                         });
