#include "model/Document.h"
#include "model/ExecContext.h"
#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <set>

using namespace qor::model;

using qor::test::totalVolume;

namespace {

constexpr int planeCount = 420; // more cacheable features than the cache keeps

QJsonObject boxParams(double height, const QString& op)
{
    return {{"x", "0"},
            {"y", "0"},
            {"length", "10"},
            {"width", "10"},
            {"height", QString::number(height)},
            {"op", op}};
}

// A box, a joined box in the middle of 420 planes and a cutting box at the end.
Document planeHeavyPart()
{
    Document doc;
    doc.addFeature(QStringLiteral("box"), boxParams(10, QStringLiteral("new")));
    for (int i = 0; i < planeCount; ++i) {
        if (i == planeCount / 2)
            doc.addFeature(QStringLiteral("box"), boxParams(20, QStringLiteral("join")));
        doc.addFeature(QStringLiteral("plane"), {{"offset", QString::number(i + 1)}});
    }
    doc.addFeature(QStringLiteral("box"), boxParams(5, QStringLiteral("cut")));
    return doc;
}

double coldVolume(const QJsonObject& json)
{
    Document cold;
    EXPECT_TRUE(cold.fromJson(json));
    EXPECT_EQ(cold.recompute(), 0);
    return totalVolume(cold.current);
}

// Features the recompute ran: each stores a key the cache did not list before.
int executed(Document& doc)
{
    const std::set<std::uint64_t> known(doc.cacheOrder.begin(), doc.cacheOrder.end());
    doc.recompute();
    int count = 0;
    for (const std::uint64_t key : doc.cacheOrder)
        count += known.count(key) ? 0 : 1;
    return count;
}

void setHeight(Feature& box, double height)
{
    box.params.insert(QStringLiteral("height"), QString::number(height));
}

} // namespace

TEST(RecomputeCache, EditsOfTheLastFeatureRunOnlyIt)
{
    Document doc = planeHeavyPart();
    ASSERT_EQ(doc.recompute(), 0);
    EXPECT_EQ(executed(doc), 0);
    Feature& last = *doc.features.back();
    int reruns = 0;
    for (int i = 1; i <= 30; ++i) {
        setHeight(last, 5 + 0.01 * i);
        reruns += executed(doc) - 1;
    }
    EXPECT_EQ(reruns, 0);
    EXPECT_EQ(executed(doc), 0);
    EXPECT_NEAR(totalVolume(doc.current), 10 * 10 * 20 - 10 * 10 * 5.3, 1e-6);
}

TEST(RecomputeCache, UndoAndRedoAcrossEvictionMatchColdRecompute)
{
    Document doc = planeHeavyPart();
    ASSERT_EQ(doc.recompute(), 0);
    const QJsonObject original = doc.toJson();
    Feature& middle = *doc.features[std::size_t(planeCount / 2 + 1)];
    ASSERT_EQ(middle.type, "box");
    setHeight(middle, 30);
    ASSERT_EQ(doc.recompute(), 0);
    const QJsonObject edited = doc.toJson();
    // Enough other results to push every entry of both histories out of the cache.
    Feature& last = *doc.features.back();
    for (int i = 1; i <= 410; ++i) {
        setHeight(last, 5 + 0.001 * i);
        doc.recompute();
    }

    const double originalVolume = coldVolume(original);
    const double editedVolume = coldVolume(edited);
    EXPECT_NEAR(originalVolume, 10 * 10 * 20 - 10 * 10 * 5, 1e-6);
    EXPECT_NEAR(editedVolume, 10 * 10 * 30 - 10 * 10 * 5, 1e-6);
    for (const QJsonObject* step : {&original, &edited, &original, &edited}) {
        ASSERT_TRUE(doc.fromJson(*step));
        ASSERT_EQ(doc.recompute(), 0);
        EXPECT_NEAR(totalVolume(doc.current), step == &original ? originalVolume : editedVolume,
                    1e-6);
    }
}

// A sketch is solved again exactly when what drives it changed, including a
// dimension of a later sketch that one of its dimensions names (read as the
// last recompute left it, so a change arrives one recompute later).
TEST(RecomputeCache, SketchesSolveAgainOnlyWhenTheirInputsChange)
{
    using qor::sketch::ConstraintType;
    Document doc;
    std::vector<int> lines;
    for (int k = 0; k < 2; ++k) {
        qor::sketch::Sketch& s = *doc.addSketch({{"kind", "origin"}, {"id", -1}})->sketch;
        lines.push_back(int(s.addLineAt(false, 0, 0, 10, 0)));
        s.addConstraint(ConstraintType::Fixed, s.startPoint(lines.back()), -1, -1, 0);
        s.addConstraint(ConstraintType::Horizontal, lines.back(), -1, -1, 0);
        s.addDimension(ConstraintType::Distance, lines.back(), -1, -1);
    }
    qor::sketch::Sketch& first = *doc.features[0]->sketch;
    qor::sketch::Constraint& later = doc.features[1]->sketch->constraints.back();
    first.constraints.back().expression = later.name + " * 2";
    const auto firstLength = [&] {
        return first.pointPosition(first.endPoint(lines[0])).x
               - first.pointPosition(first.startPoint(lines[0])).x;
    };

    later.expression = "6 mm";
    ASSERT_EQ(doc.recompute(), 0);
    ASSERT_EQ(doc.recompute(), 0);
    EXPECT_NEAR(firstLength(), 12.0, 1e-9);
    // Held, so that a new solve cannot be allocated where the old one was.
    const auto kept = doc.current.sketches;
    const auto* solved = &kept.get();
    ASSERT_EQ(doc.recompute(), 0);
    EXPECT_EQ(&doc.current.sketches.get(), solved); // both taken from the last run

    later.expression = "7 mm";
    ASSERT_EQ(doc.recompute(), 0);
    ASSERT_EQ(doc.recompute(), 0);
    EXPECT_NEAR(firstLength(), 14.0, 1e-9);
    EXPECT_NE(&doc.current.sketches.get(), solved);
}

// A box whose length names a dimension of a sketch after it: changing the dimension runs the box
// again on the next recompute, and the session agrees with a cold recompute of the file.
TEST(RecomputeCache, FeaturesFollowDimensionsOfLaterSketches)
{
    using qor::sketch::ConstraintType;
    Document doc;
    QJsonObject params = boxParams(10, QStringLiteral("new"));
    params.insert(QStringLiteral("length"), QStringLiteral("d5"));
    doc.addFeature(QStringLiteral("box"), params);
    qor::sketch::Sketch& sketch = *doc.addSketch({{"kind", "origin"}, {"id", -1}})->sketch;
    const int line = int(sketch.addLineAt(false, 0, 0, 12, 0));
    sketch.addDimension(ConstraintType::Distance, line, -1, -1);
    sketch.constraints.back().name = "d5";
    ASSERT_EQ(doc.recompute(), 0);
    EXPECT_NEAR(totalVolume(doc.current), 12 * 10 * 10, 1e-6);

    for (const double length : {20.0, 7.5, 20.0}) {
        doc.features[1]->sketch->constraints.back().value = length;
        ASSERT_EQ(doc.recompute(), 0);
        EXPECT_NEAR(totalVolume(doc.current), length * 10 * 10, 1e-6);
        EXPECT_NEAR(totalVolume(doc.current), coldVolume(doc.toJson()), 1e-6);
    }
}
