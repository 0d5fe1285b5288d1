#include "model/Document.h"
#include "model/ExecContext.h"
#include "tests/fixtures/MixedHistory.h"

#include <BRepCheck_Analyzer.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace qor::model;

namespace {

struct EarlierState {
    unsigned seed;
    int features;
    int suppressed; // -1: none
    int position;   // the state before this feature is compared
};

// The later features of a recompute must leave the bodies of the states
// before them as they were made: the undo history, the rollback bar and the
// recompute cache show those states. The kernel shares edges between a body
// and the bodies made from it, so a step that writes into the edges it was
// given changes earlier bodies too.
void expectStateAsRolledBack(const EarlierState& c)
{
    Document full;
    qor::fixtures::MixedHistory(c.seed).build(full, c.features);
    Document rolledBack;
    qor::fixtures::MixedHistory(c.seed).build(rolledBack, c.features);
    for (Document* doc : {&full, &rolledBack}) {
        doc->groupBooleans = false;
        if (c.suppressed >= 0)
            doc->features[std::size_t(c.suppressed)]->suppressed = true;
    }
    rolledBack.rollback = c.position;
    full.recompute();
    rolledBack.recompute();

    const ModelState& earlier = full.stateBefore(std::size_t(c.position));
    ASSERT_EQ(earlier.bodies.size(), rolledBack.current.bodies.size());
    for (const auto& [id, body] : rolledBack.current.bodies) {
        SCOPED_TRACE("body " + std::to_string(id));
        ASSERT_TRUE(earlier.bodies.count(id));
        const TopoDS_Shape& kept = earlier.bodies.at(id).shape;
        const double expected = shapeVolume(body.shape);
        EXPECT_NEAR(shapeVolume(kept), expected, 1e-7 * std::max(1.0, expected));
        EXPECT_EQ(BRepCheck_Analyzer(kept).IsValid(), BRepCheck_Analyzer(body.shape).IsValid());
    }
}

} // namespace

TEST(EarlierStates, LaterFeaturesLeaveTheBodiesOfEarlierStatesAlone)
{
    // The first position lies before a revolved cut whose merge of faces once
    // rewrote a curve of an edge the earlier body shares; the others watch
    // histories of every kind.
    const EarlierState cases[] = {{1008, 96, 50, 53}, {1008, 96, 50, 62}, {1009, 42, -1, 30},
                                  {42, 70, -1, 35}};
    for (const EarlierState& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed) + " at " + std::to_string(c.position));
        expectStateAsRolledBack(c);
    }
}
