#include "model/Document.h"
#include "model/ExecContext.h"
#include "tests/fixtures/BodyHistory.h"

#include <BRepClass3d_SolidClassifier.hxx>

#include <QJsonObject>

#include <gtest/gtest.h>

#include <string>

using namespace qor::model;
using qor::fixtures::cornerBox;

namespace {

// A body of planes, tori and a free form left by a random history: the
// kernel's fuse of the box below with it is broken in every way it is run,
// while the same box fused together with the joins after it came out whole.
constexpr const char* bodyFile = QOR_WAVE9_FILES "/ohne-zuwachs-body.brep";
constexpr double bodyVolume = 51928.914;
// The box holds 855 mm³, 339.074 of them inside the body.
constexpr double joinedVolume = bodyVolume + 855.0 - 339.074;
// A point of the box outside the body.
const gp_Pnt boxOnly(-39.5, -30.5, 16.5);

constexpr std::size_t boxIndex = qor::fixtures::refusedBoxIndex;

void build(Document& doc, const TopoDS_Shape& body)
{
    qor::fixtures::buildRefusedBoxHistory(doc, body);
}

int bodyId(const Document& doc)
{
    return doc.features.front()->id * 100;
}

// The state right after the box's join against the one before it: the box
// joined (no error), or the body as it was and the refusal on the feature.
void expectJoinedOrRefused(Document& doc, const ModelState& after, const std::string& where)
{
    SCOPED_TRACE(where);
    const Feature& box = *doc.features[boxIndex];
    ASSERT_EQ(after.bodies.count(bodyId(doc)), 1u);
    const double volume = shapeVolume(after.bodies.at(bodyId(doc)).shape);
    const double before = shapeVolume(doc.stateBefore(boxIndex).bodies.at(bodyId(doc)).shape);
    if (box.error.isEmpty()) {
        EXPECT_NEAR(volume - before, joinedVolume - bodyVolume, 1.0);
        return;
    }
    EXPECT_TRUE(box.error.startsWith(QStringLiteral("Verbinden fehlgeschlagen")))
        << box.error.toStdString();
    EXPECT_NEAR(volume, before, 1e-6 * before);
}

// At the end the box's material is in the body exactly when its join was accepted.
void expectFinalAgrees(const Document& doc, const std::string& where)
{
    SCOPED_TRACE(where);
    const TopoDS_Shape& body = doc.current.bodies.at(bodyId(doc)).shape;
    BRepClass3d_SolidClassifier inside(body, boxOnly, 1e-7);
    EXPECT_EQ(inside.State() == TopAbs_IN, doc.features[boxIndex]->error.isEmpty());
}

class RefusedJoinStates : public testing::TestWithParam<bool> { };

} // namespace

TEST_P(RefusedJoinStates, EveryStateAfterTheJoinAgreesWithItsMessage)
{
    const TopoDS_Shape body = qor::fixtures::readBrepFile(bodyFile);
    ASSERT_FALSE(body.IsNull());
    ASSERT_NEAR(shapeVolume(body), bodyVolume, 1e-3);
    Document doc;
    doc.groupBooleans = GetParam();
    build(doc, body);
    doc.recompute();
    expectFinalAgrees(doc, "at the end");
    expectJoinedOrRefused(doc, doc.stateBefore(boxIndex + 1), "before the next feature");
    expectFinalAgrees(doc, "at the end, its states read");
    doc.rollback = int(boxIndex + 1);
    doc.recompute();
    expectJoinedOrRefused(doc, doc.current, "rolled back to it");
    doc.rollback = -1;
    doc.recompute();
    expectFinalAgrees(doc, "rolled forward");
    expectJoinedOrRefused(doc, doc.stateBefore(boxIndex + 1), "rolled forward, before the next");
}

INSTANTIATE_TEST_SUITE_P(Recompute, RefusedJoinStates, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Grouped" : "OneByOne");
                         });

// Grouped, every feature says what it says when each boolean runs on its own,
// and the states after each feature hold the same volumes.
TEST(RefusedJoinStates, GroupedJoinsSayWhatEachSaysAlone)
{
    const TopoDS_Shape body = qor::fixtures::readBrepFile(bodyFile);
    ASSERT_FALSE(body.IsNull());
    Document grouped;
    Document alone;
    alone.groupBooleans = false;
    build(grouped, body);
    build(alone, body);
    EXPECT_EQ(grouped.recompute(), alone.recompute());
    for (std::size_t i = 1; i < alone.features.size(); ++i) {
        const double g = shapeVolume(grouped.stateBefore(i).bodies.at(bodyId(grouped)).shape);
        const double a = shapeVolume(alone.stateBefore(i).bodies.at(bodyId(alone)).shape);
        EXPECT_NEAR(g, a, 1e-6 * a) << "before feature " << i;
    }
    for (std::size_t i = 0; i < alone.features.size(); ++i)
        EXPECT_EQ(grouped.features[i]->error.toStdString(), alone.features[i]->error.toStdString())
            << "feature " << i;
}
