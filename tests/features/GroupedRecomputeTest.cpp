#include "tests/fixtures/MixedHistory.h"

#include "model/Document.h"
#include "model/ExecContext.h"
#include "tests/common/CpuBudget.h"
#include "tests/common/Seeds.h"

#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

using namespace qor::model;

namespace {

constexpr double plateLength = 200.0;
constexpr double plateWidth = 120.0;

QJsonObject origin(int id)
{
    return {{"kind", "origin"}, {"id", id}};
}

QJsonObject featureRef(int id)
{
    return {{"kind", "feature"}, {"id", id}};
}

QJsonObject extrusion(int sketchId, const QString& distance, const QString& op)
{
    return {{"profile", QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", sketchId}}}},
            {"distance", distance},
            {"op", op}};
}

QJsonObject box(double x, double y, double length, double width, double height, const QString& op)
{
    return {{"x", QString::number(x)},           {"y", QString::number(y)},
            {"length", QString::number(length)}, {"width", QString::number(width)},
            {"height", QString::number(height)}, {"op", op}};
}

// Through cuts, pockets and side slots that have to turn round, holes (some
// into bores that exist), bosses (some far off, making bodies of their own),
// cutting boxes, patterns and mirrors of earlier tools, fillets of the plate's
// corners and planes: the kinds whose booleans run in groups, drawn often.
std::vector<qor::fixtures::MixedHistory::Share> groupedMix()
{
    using Step = qor::fixtures::MixedHistory::Step;
    return {{Step::ThroughCut, 20}, {Step::Pocket, 10},    {Step::Hole, 15},
            {Step::Boss, 15},       {Step::CuttingBox, 7}, {Step::RectangularPattern, 8},
            {Step::Mirror, 7},      {Step::Fillet, 4},     {Step::SideSlot, 7},
            {Step::Plane, 7}};
}

int faceCount(const TopoDS_Shape& shape)
{
    TopTools_IndexedMapOfShape faces;
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    return faces.Extent();
}

// Bodies, tool records and thread marks agree; volumes to 1e-6 of the larger.
void expectSameState(const ModelState& grouped, const ModelState& oneByOne,
                     const std::string& where)
{
    SCOPED_TRACE(where);
    ASSERT_EQ(grouped.bodies.size(), oneByOne.bodies.size());
    auto g = grouped.bodies.begin();
    for (const auto& [id, body] : oneByOne.bodies) {
        const Body& other = (g++)->second;
        ASSERT_EQ(other.id, id);
        EXPECT_EQ(other.name, body.name);
        EXPECT_EQ(other.featureId, body.featureId);
        const double a = shapeVolume(other.shape);
        const double b = shapeVolume(body.shape);
        EXPECT_NEAR(a, b, 1e-6 * std::max({1.0, a, b})) << "body " << id;
        EXPECT_EQ(faceCount(other.shape), faceCount(body.shape)) << "body " << id;
    }
    ASSERT_EQ(grouped.tools.size(), oneByOne.tools.size());
    auto t = grouped.tools.begin();
    for (const auto& [id, record] : oneByOne.tools) {
        EXPECT_EQ(t->first, id);
        EXPECT_EQ(t->second.op, record.op);
        EXPECT_EQ(t->second.targets, record.targets) << "tool of feature " << id;
        ++t;
    }
    EXPECT_EQ(grouped.threads.size(), oneByOne.threads.size());
    EXPECT_EQ(grouped.bodyCounter, oneByOne.bodyCounter);
}

void expectSameMessages(const Document& grouped, const Document& oneByOne)
{
    for (std::size_t i = 0; i < oneByOne.features.size(); ++i) {
        EXPECT_EQ(grouped.features[i]->error, oneByOne.features[i]->error)
            << "feature " << i << " (" << oneByOne.features[i]->type.toStdString() << ")";
        EXPECT_EQ(grouped.features[i]->warning, oneByOne.features[i]->warning)
            << "feature " << i << " (" << oneByOne.features[i]->type.toStdString() << ")";
    }
}

bool anyGroupWaiting(const Document& doc)
{
    for (const ModelState& snapshot : doc.snapshots) {
        if (snapshot.group)
            return true;
    }
    return false;
}

struct Twins {
    Document grouped;
    Document oneByOne;

    Twins(unsigned seed, int featureCount)
    {
        qor::fixtures::MixedHistory(qor::test::seed(seed), groupedMix())
            .build(grouped, featureCount);
        qor::fixtures::MixedHistory(qor::test::seed(seed), groupedMix())
            .build(oneByOne, featureCount);
        oneByOne.groupBooleans = false;
    }

    void recompute()
    {
        EXPECT_EQ(grouped.recompute(), oneByOne.recompute());
        expectSameMessages(grouped, oneByOne);
        expectSameState(grouped.current, oneByOne.current, "current");
    }

    template <class Change> void change(std::size_t index, Change&& apply)
    {
        apply(*grouped.features[index]);
        apply(*oneByOne.features[index]);
        recompute();
    }
};

struct HistoryCase {
    unsigned seed;
    int features;
};

// What is done to a history after its first run; each a case of its own, so
// that the longest history stays within its budget of processor time.
enum class Changes { RolledBack, SuppressedEarly, SuppressedLate, EditedEarly, EditedLate };

// A suppression at a quarter or three quarters of the history.
void suppress(Twins& twins, int count, int quarter)
{
    const std::size_t at = std::size_t(count * quarter / 4);
    SCOPED_TRACE("suppressed " + std::to_string(at));
    twins.change(at, [](Feature& f) { f.suppressed = true; });
}

// An edit of the first box from a fifth or three fifths of the history on.
void edit(Twins& twins, int count, int fifth)
{
    std::size_t at = std::size_t(count * fifth / 5);
    while (at < std::size_t(count) && twins.oneByOne.features[at]->type != "box")
        ++at;
    if (at == std::size_t(count))
        return;
    SCOPED_TRACE("box edited " + std::to_string(at));
    twins.change(at, [](Feature& f) { f.params.insert("height", "3.5"); });
}

std::string changesName(Changes changes)
{
    switch (changes) {
    case Changes::RolledBack: return "RolledBack";
    case Changes::SuppressedEarly: return "SuppressedEarly";
    case Changes::SuppressedLate: return "SuppressedLate";
    case Changes::EditedEarly: return "EditedEarly";
    case Changes::EditedLate: return "EditedLate";
    }
    return "";
}

class GroupedRecompute : public testing::TestWithParam<std::tuple<HistoryCase, Changes>> { };

} // namespace

TEST_P(GroupedRecompute, RandomHistoryMatchesRunningEachBooleanAlone)
{
    const auto [c, changes] = GetParam();
    // A 200-feature case takes up to 45 s of processor time with nine others of
    // its kind running beside it; twice that, for a machine busier still.
    qor::test::allowCpuSeconds(c.features / 2);
    Twins twins(c.seed, c.features);
    twins.recompute();
    // The grouped run did group: some snapshots still wait for their booleans.
    EXPECT_TRUE(anyGroupWaiting(twins.grouped));
    EXPECT_FALSE(anyGroupWaiting(twins.oneByOne));
    EXPECT_FALSE(twins.grouped.current.group);

    const int count = int(twins.oneByOne.features.size());
    switch (changes) {
    case Changes::SuppressedEarly: return suppress(twins, count, 1);
    case Changes::SuppressedLate: return suppress(twins, count, 3);
    case Changes::EditedEarly: return edit(twins, count, 1);
    case Changes::EditedLate: return edit(twins, count, 3);
    case Changes::RolledBack: break;
    }

    // The state before every feature, evaluated on demand.
    for (std::size_t i = 0; i < std::size_t(count); ++i)
        expectSameState(twins.grouped.stateBefore(i), twins.oneByOne.stateBefore(i),
                        "before feature " + std::to_string(i));

    // Rolled back into the middle of the history and forward again.
    for (const int at : {count / 3, count / 2 + 1, count - 2, -1}) {
        SCOPED_TRACE("rollback " + std::to_string(at));
        twins.grouped.rollback = at;
        twins.oneByOne.rollback = at;
        twins.recompute();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, GroupedRecompute,
    testing::Combine(
        testing::Values(HistoryCase{11, 50}, HistoryCase{23, 120}, HistoryCase{37, 200}),
        testing::Values(Changes::RolledBack, Changes::SuppressedEarly, Changes::SuppressedLate,
                        Changes::EditedEarly, Changes::EditedLate)),
    [](const testing::TestParamInfo<std::tuple<HistoryCase, Changes>>& info) {
        return std::to_string(std::get<0>(info.param).features) + "Features"
               + changesName(std::get<1>(info.param));
    });

namespace {

struct MessageCase {
    const char* what;
    // Adds the features to a plate whose sketch, extrusion and top plane exist;
    // the last one added is the feature the case is about.
    void (*add)(Document& doc, int plateSketch, int top);
    const char* warning;
    const char* error;
};

void farCut(Document& doc, int, int)
{
    Feature* sketch = doc.addSketch(origin(-1));
    sketch->sketch->addCircleAt(false, 400, 400, 5);
    doc.addFeature("extrude", extrusion(sketch->id, "12 mm", "cut"));
}

void holeIntoBore(Document& doc, int, int top)
{
    Feature* sketch = doc.addSketch(featureRef(top));
    sketch->sketch->addPoint(false, 60, 60);
    const QJsonObject params{{"points", QJsonObject{{"id", sketch->id}}},
                             {"diameter", "6 mm"},
                             {"depth", "8 mm"},
                             {"tip", false}};
    doc.addFeature("hole", params);
    doc.addFeature("box", box(150, 60, 6, 6, 15, "join"));
    doc.addFeature("hole", params);
}

void cutInsidePocket(Document& doc, int, int)
{
    doc.addFeature("box", box(100, 60, 30, 30, 6, "cut"));
    doc.addFeature("box", box(20, 20, 6, 6, 15, "join"));
    doc.addFeature("box", box(100, 60, 10, 10, 3, "cut"));
}

void zeroDepthHole(Document& doc, int, int top)
{
    Feature* sketch = doc.addSketch(featureRef(top));
    sketch->sketch->addPoint(false, 60, 60);
    doc.addFeature("box", box(150, 60, 6, 6, 15, "join"));
    doc.addFeature("hole", {{"points", QJsonObject{{"id", sketch->id}}}, {"depth", "0 mm"}});
}

void intersectMissingItsTarget(Document& doc, int, int)
{
    doc.addFeature("box", box(20, 20, 6, 6, 15, "join"));
    doc.addFeature("box", box(500, 500, 5, 5, 5, "intersect"))
        ->params.insert("targets", QJsonArray{QJsonObject{{"kind", "body"}, {"id", 200}}});
}

} // namespace

TEST(GroupedBooleans, WarningsAndErrorsStayOnTheFeatureThatCausedThem)
{
    const MessageCase cases[] = {
        {"cut reaching no body", farCut, "Kein Körper im Wirkbereich", ""},
        {"hole into a bore of its size", holeIntoBore, "Kein Körper im Wirkbereich", ""},
        {"cut inside an existing pocket", cutInsidePocket, "Kein Körper im Wirkbereich", ""},
        {"hole without depth", zeroDepthHole, "", "Tiefe muss größer als 0 sein"},
        {"intersect missing its body", intersectMissingItsTarget, "",
         "Kein gemeinsamer Bereich – das Ergebnis wäre leer"},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (const bool grouped : {true, false}) {
            Document doc;
            doc.groupBooleans = grouped;
            Feature* plate = doc.addSketch(origin(-1));
            plate->sketch->addLineAt(false, 0, 0, plateLength, 0);
            plate->sketch->addLineAt(false, plateLength, 0, plateLength, plateWidth);
            plate->sketch->addLineAt(false, plateLength, plateWidth, 0, plateWidth);
            plate->sketch->addLineAt(false, 0, plateWidth, 0, 0);
            ASSERT_EQ(doc.addFeature("extrude", extrusion(plate->id, "10 mm", "new"))->id, 2);
            const int top = doc.addFeature("plane", {{"offset", "10 mm"}})->id;
            c.add(doc, plate->id, top);
            // Something after the feature keeps it inside a group.
            doc.addFeature("box", box(180, 100, 6, 6, 15, "join"));
            doc.recompute();
            const Feature& feature = *doc.features[doc.features.size() - 2];
            EXPECT_EQ(feature.warning, QString::fromUtf8(c.warning)) << "grouped " << grouped;
            EXPECT_EQ(feature.error, QString::fromUtf8(c.error)) << "grouped " << grouped;
            for (std::size_t i = 0; i + 2 < doc.features.size(); ++i) {
                EXPECT_EQ(doc.features[i]->warning, QString()) << i;
                EXPECT_EQ(doc.features[i]->error, QString()) << i;
            }
        }
    }
}

// A cut takes the top off the only tall boss; a box floating where only the
// boss's height reached then meets no body any more and becomes one of its own.
TEST(GroupedBooleans, AJoinBeyondWhatACutLeftMakesANewBody)
{
    for (const bool grouped : {true, false}) {
        SCOPED_TRACE(grouped ? "grouped" : "one by one");
        Document doc;
        doc.groupBooleans = grouped;
        doc.addFeature("box", box(100, 60, 200, 120, 10, "new"));
        doc.addFeature("box", box(100, 60, 6, 6, 25, "join"));
        const int high = doc.addFeature("plane", {{"offset", "15 mm"}})->id;
        QJsonObject cut = box(100, 60, 10, 10, 15, "cut");
        cut.insert("plane", featureRef(high));
        doc.addFeature("box", cut);
        const int higher = doc.addFeature("plane", {{"offset", "20 mm"}})->id;
        QJsonObject floating = box(30, 30, 4, 4, 5, "join");
        floating.insert("plane", featureRef(higher));
        doc.addFeature("box", floating);
        doc.addFeature("box", box(180, 100, 6, 6, 12, "join"));
        ASSERT_EQ(doc.recompute(), 0);
        ASSERT_EQ(doc.current.bodies.size(), 2u);
        const Body& made = std::prev(doc.current.bodies.end())->second;
        EXPECT_EQ(made.featureId, doc.features[5]->id);
        EXPECT_EQ(made.name, "Körper 2");
        EXPECT_NEAR(shapeVolume(made.shape), 80.0, 1e-6);
        EXPECT_NEAR(shapeVolume(doc.current.bodies.begin()->second.shape),
                    200 * 120 * 10 + 36 * 5 + 36 * 2, 1e-6);
    }
}
