#include "model/Document.h"
#include "model/ExecContext.h"
#include "model/FeatureDef.h"
#include "tests/common/Seeds.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <Standard_Failure.hxx>

#include "tests/common/RectangleChain.h"
#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

using namespace qor::model;
using namespace qor::test;

namespace {

// A feature whose type no executor handles: it fails at every run, and failed
// runs are cached like any other.
Feature* addUnknown(Document& doc, const QString& type = QStringLiteral("unbekannt"))
{
    return doc.addFeature(type);
}

// Marks a cache entry with a body that no executor makes: a state that carries
// it afterwards came out of that entry.
void markCacheEntry(Document& doc, std::uint64_t key, int bodyId)
{
    Body marker;
    marker.id = bodyId;
    marker.name = QStringLiteral("Marke");
    doc.cache.at(key).state.bodies[bodyId] = marker;
}

// Chain keys of the active features in history order, as the recompute forms them.
std::vector<std::uint64_t> chainKeys(const Document& doc)
{
    std::vector<std::uint64_t> keys;
    std::uint64_t key = 0x51ED270B;
    const int stop = doc.rollback < 0 ? int(doc.features.size())
                                      : std::min(int(doc.features.size()), doc.rollback);
    for (int i = 0; i < stop; ++i) {
        const Feature& f = *doc.features[std::size_t(i)];
        if (f.suppressed)
            continue;
        key = doc.featureKey(f, key);
        keys.push_back(key);
    }
    return keys;
}

} // namespace

TEST(Recompute, RollbackAndSuppression)
{
    Document doc;
    for (int i = 0; i < 3; ++i)
        addUnknown(doc);
    doc.features[2]->warning = QStringLiteral("alte Warnung");

    doc.rollback = 0;
    for (const auto& f : doc.features)
        f->error = QStringLiteral("alt");
    EXPECT_EQ(doc.recompute(), 0);
    EXPECT_EQ(doc.snapshots.size(), 3u);
    for (const auto& f : doc.features)
        EXPECT_TRUE(f->error.isEmpty());
    EXPECT_EQ(doc.features[2]->warning, "alte Warnung"); // rolled back: kept
    EXPECT_TRUE(doc.cache.empty());

    doc.rollback = 2;
    EXPECT_EQ(doc.recompute(), 2);
    EXPECT_TRUE(doc.features[2]->error.isEmpty());
    EXPECT_EQ(doc.cache.size(), 2u);

    doc.rollback = 17; // beyond the end: everything runs
    EXPECT_EQ(doc.recompute(), 3);

    // A suppressed feature has no error or warning and leaves the chain, so
    // the keys of the features after it change.
    doc.rollback = -1;
    const std::vector<std::uint64_t> before = chainKeys(doc);
    doc.features[1]->suppressed = true;
    doc.features[1]->warning = QStringLiteral("alt");
    EXPECT_EQ(doc.recompute(), 2);
    EXPECT_TRUE(doc.features[1]->error.isEmpty());
    EXPECT_TRUE(doc.features[1]->warning.isEmpty());
    const std::vector<std::uint64_t> after = chainKeys(doc);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_NE(after[1], before[2]);
}

TEST(Recompute, CacheServesUnchangedFeatures)
{
    Document doc;
    doc.parameters.push_back({QStringLiteral("breite"), QStringLiteral("12.5")});
    for (int i = 0; i < 3; ++i)
        addUnknown(doc);
    EXPECT_EQ(doc.recompute(), 3);
    std::vector<std::uint64_t> keys = chainKeys(doc);
    ASSERT_EQ(doc.cache.size(), 3u);
    EXPECT_EQ(doc.cacheOrder, keys);

    // The second run takes every feature from the cache: nothing is stored
    // anew, and marks put into the entries reach the states after them.
    markCacheEntry(doc, keys[1], 4242);
    markCacheEntry(doc, keys[2], 4343);
    EXPECT_EQ(doc.recompute(), 3);
    EXPECT_EQ(doc.cache.size(), 3u);
    EXPECT_EQ(doc.cacheOrder.size(), 3u);
    EXPECT_EQ(doc.current.bodies.count(4343), 1u);
    EXPECT_EQ(doc.current.bodies.count(4242), 0u);
    EXPECT_EQ(doc.snapshots[2].bodies.count(4242), 1u);
    EXPECT_EQ(doc.snapshots[1].bodies.count(4242), 0u);
    EXPECT_EQ(doc.features[1]->error, "Unbekannter Feature-Typ unbekannt");

    // An edit of the last feature runs only that feature again, on the state
    // the cache gives for the features before it.
    doc.features[2]->params.insert(QStringLiteral("distance"), QStringLiteral("7 mm"));
    doc.recompute();
    EXPECT_EQ(doc.cache.size(), 4u);
    EXPECT_EQ(doc.current.bodies.count(4242), 1u);
    EXPECT_EQ(doc.current.bodies.count(4343), 0u);

    // Another parameter value changes every key: all run again.
    doc.parameters[0].expr = QStringLiteral("13");
    doc.recompute();
    EXPECT_EQ(doc.cache.size(), 7u);
    EXPECT_TRUE(doc.current.bodies.empty());

    // Appearance and components do not enter the key.
    keys = chainKeys(doc);
    doc.appearance[100].material = QStringLiteral("Messing");
    EXPECT_EQ(chainKeys(doc), keys);

    doc.clearRecomputeCache();
    EXPECT_TRUE(doc.cache.empty());
    EXPECT_TRUE(doc.cacheOrder.empty());
}

TEST(Recompute, CacheKeepsFourHundredEntries)
{
    Document doc;
    for (int i = 0; i < 401; ++i)
        addUnknown(doc);
    EXPECT_EQ(doc.recompute(), 401);
    const std::vector<std::uint64_t> keys = chainKeys(doc);
    EXPECT_EQ(doc.cache.size(), 400u);
    EXPECT_EQ(doc.cacheOrder.size(), 400u);
    EXPECT_EQ(doc.cache.count(keys.front()), 0u);
    EXPECT_EQ(doc.cache.count(keys[1]), 1u);
    EXPECT_EQ(doc.cacheOrder.front(), keys[1]);
    EXPECT_EQ(doc.cacheOrder.back(), keys.back());
}

TEST(Recompute, AssemblyPassCannotTakeRecomputeDown)
{
    Document doc;
    addUnknown(doc);
    int runs = 0;
    doc.assemblyPass = [&runs](Document&, ModelState& state) {
        ++runs;
        Body placed;
        placed.id = 900001;
        placed.shape = box(10, 10, 10);
        state.bodies[placed.id] = placed;
    };

    // Without components the pass does not run.
    doc.recompute();
    EXPECT_EQ(runs, 0);
    doc.components.push_back(Component{});
    doc.recompute();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(doc.current.bodies.count(900001), 1u);
    EXPECT_TRUE(doc.assemblyError.isEmpty());

    // A pass that throws halfway leaves the features' results and its message.
    doc.assemblyPass = [&runs](Document&, ModelState& state) {
        ++runs;
        state.bodies[900002] = Body{};
        throw std::runtime_error("Baugruppe kaputt");
    };
    int failed = -1;
    EXPECT_NO_THROW(failed = doc.recompute());
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(doc.assemblyError, "Baugruppe kaputt");
    EXPECT_EQ(doc.current.bodies.count(900002), 0u);
    EXPECT_EQ(doc.features[0]->error, "Unbekannter Feature-Typ unbekannt");

    doc.assemblyPass = [](Document&, ModelState&) { throw Standard_Failure("Kein Schnitt"); };
    EXPECT_NO_THROW(doc.recompute());
    EXPECT_EQ(doc.assemblyError, "Geometriefehler: Kein Schnitt");
    doc.assemblyPass = [](Document&, ModelState&) { throw 42; };
    EXPECT_NO_THROW(doc.recompute());
    EXPECT_EQ(doc.assemblyError, "Unbekannter Fehler");

    doc.assemblyPass = nullptr;
    doc.recompute();
    EXPECT_TRUE(doc.assemblyError.isEmpty());
}

TEST(Recompute, NoStateKeepsPointersToRemovedSketches)
{
    Document doc;
    Feature* first = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", -1}});
    Feature* second = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", -2}});
    addUnknown(doc);
    const int firstId = first->id;
    const int secondId = second->id;
    const QJsonObject saved = doc.toJson();

    // Placed sketches as a sketch executor leaves them, in every kind of state.
    auto place = [&](ModelState& state) {
        for (const auto& f : doc.features) {
            if (f->sketch)
                state.sketches[f->id] = SketchResult{gp_Ax3(), f->sketch.get(), f->id};
        }
    };
    place(doc.current);
    doc.snapshots.assign(3, ModelState{});
    place(doc.snapshots[2]);
    const std::uint64_t key = chainKeys(doc).back();
    doc.cache[key] = RecomputeCacheEntry{};
    place(doc.cache[key].state);
    doc.cacheOrder.push_back(key);

    doc.removeFeature(firstId);
    EXPECT_EQ(doc.current.sketches.count(firstId), 0u);
    EXPECT_EQ(doc.snapshots[2].sketches.count(firstId), 0u);
    EXPECT_EQ(doc.current.sketches.at(secondId).sketch, second->sketch.get());
    // The cache keeps the entry for an undo but no longer points at the sketch.
    EXPECT_EQ(doc.cache.at(key).state.sketches.at(firstId).sketch, nullptr);
    EXPECT_EQ(doc.cache.at(key).state.sketches.at(secondId).sketch, second->sketch.get());

    // Loading a snapshot (undo) replaces every sketch object: the states point
    // at the new ones at once.
    ASSERT_TRUE(doc.fromJson(saved));
    const Feature* restored = doc.feature(firstId);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(doc.current.sketches.at(secondId).sketch, doc.feature(secondId)->sketch.get());
    EXPECT_EQ(doc.cache.at(key).state.sketches.at(firstId).sketch, restored->sketch.get());

    ModelState stale;
    stale.sketches[secondId] = SketchResult{gp_Ax3(), nullptr, secondId};
    stale.sketches[777] = SketchResult{gp_Ax3(), nullptr, 777};
    doc.pruneSketchResults(stale);
    EXPECT_EQ(stale.sketches.size(), 1u);
    EXPECT_EQ(stale.sketches.at(secondId).sketch, doc.feature(secondId)->sketch.get());
}

TEST(Recompute, SketchRegionsAreBuiltOncePerSketchAndPlane)
{
    Document doc;
    Feature* f = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", -1}});
    f->sketch->addCircleAt(false, 0, 0, 10);
    f->sketch->addCircleAt(false, 0, 0, 4);

    std::vector<qor::sketch::ProfileRegion>& regions = doc.sketchRegions(*f, gp_Ax3());
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_EQ(&regions, &f->regions);
    const std::uint64_t key = f->regionsKey;
    EXPECT_NE(key, 0u);

    // A second call hands the kept list back: a list shortened by hand stays short.
    f->regions.pop_back();
    EXPECT_EQ(doc.sketchRegions(*f, gp_Ax3()).size(), 1u);

    // Moving the plane builds the regions again.
    gp_Ax3 moved;
    moved.SetLocation(gp_Pnt(1, 0, 0));
    EXPECT_EQ(doc.sketchRegions(*f, moved).size(), 2u);
    EXPECT_NE(f->regionsKey, key);

    // Planes whose coordinates would balance out in a weighted sum, and a frame
    // that differs only in the sense of its Y direction, are other planes too.
    gp_Ax3 alongX;
    alongX.SetLocation(gp_Pnt(7.1, 0, 0));
    gp_Ax3 alongY;
    alongY.SetLocation(gp_Pnt(0, 1.3, 0));
    doc.sketchRegions(*f, alongX);
    const std::uint64_t alongXKey = f->regionsKey;
    const std::array<double, 6> onY = extent(doc.sketchRegions(*f, alongY).front().face);
    EXPECT_NE(f->regionsKey, alongXKey);
    EXPECT_NEAR(0.5 * (onY[1] + onY[4]), 1.3, 1e-6);
    gp_Ax3 flipped;
    flipped.YReverse();
    doc.sketchRegions(*f, gp_Ax3());
    const std::uint64_t rightHanded = f->regionsKey;
    doc.sketchRegions(*f, flipped);
    EXPECT_NE(f->regionsKey, rightHanded);

    // So does a change of the sketch.
    const std::uint64_t movedKey = f->regionsKey;
    f->sketch->addCircleAt(false, 30, 0, 2);
    EXPECT_EQ(doc.sketchRegions(*f, moved).size(), 3u);
    EXPECT_NE(f->regionsKey, movedKey);
}

TEST(Recompute, ConstructionPlanesThroughTheHistory)
{
    Document doc;
    doc.parameters.push_back({QStringLiteral("h"), QStringLiteral("5 mm")});
    Feature* p1 = doc.addFeature(QStringLiteral("plane"), {{"offset", "10 mm"}});
    Feature* p2 = doc.addFeature(
        QStringLiteral("plane"),
        {{"base", QJsonObject{{"kind", "feature"}, {"id", p1->id}}}, {"offset", "2 * h"}});
    Feature* broken = doc.addFeature(QStringLiteral("plane"),
                                     {{"base", QJsonObject{{"kind", "feature"}, {"id", 99}}}});
    Feature* infinite = doc.addFeature(QStringLiteral("plane"), {{"offset", "5 % 0"}});
    ASSERT_NE(infinite, nullptr);

    EXPECT_EQ(doc.recompute(), 2);
    EXPECT_TRUE(p1->error.isEmpty());
    EXPECT_TRUE(p2->error.isEmpty());
    EXPECT_EQ(broken->error, "Bezugsebene existiert nicht mehr");
    EXPECT_EQ(infinite->error, "offset: Ergebnis ist keine endliche Zahl");
    // Failed features leave nothing behind.
    EXPECT_EQ(doc.current.planes.size(), 2u);
    EXPECT_NEAR(doc.current.planes.at(p2->id).Location().Z(), 20.0, 1e-12);
    ASSERT_EQ(doc.snapshots.size(), 4u);
    EXPECT_EQ(doc.snapshots[1].planes.size(), 1u);

    // A parameter edit runs everything again with the new value.
    doc.parameters[0].expr = QStringLiteral("1 cm");
    EXPECT_EQ(doc.recompute(), 2);
    EXPECT_NEAR(doc.current.planes.at(p2->id).Location().Z(), 30.0, 1e-12);

    // Rolled back before the second plane: only the first is there, and the
    // rolled-back features show no error.
    doc.rollback = 1;
    EXPECT_EQ(doc.recompute(), 0);
    EXPECT_EQ(doc.current.planes.size(), 1u);
    EXPECT_TRUE(broken->error.isEmpty());

    // Removing the first plane makes the second fail; the failure is cached
    // and served again with its text.
    doc.rollback = -1;
    doc.removeFeature(p1->id);
    EXPECT_EQ(doc.recompute(), 3);
    EXPECT_EQ(p2->error, "Bezugsebene existiert nicht mehr");
    const std::size_t cached = doc.cache.size();
    EXPECT_EQ(doc.recompute(), 3);
    EXPECT_EQ(p2->error, "Bezugsebene existiert nicht mehr");
    EXPECT_EQ(doc.cache.size(), cached);
    EXPECT_TRUE(doc.current.planes.empty());
}

namespace {

// A fixed rectangle with its corner at the origin, sized by the two expressions.
Feature* rectangleSketch(Document& doc, const QString& width, const QString& height)
{
    Feature* f = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", -1}});
    qor::sketch::Sketch& s = *f->sketch;
    const auto r = qor::sketch::fixtures::addRectangle(s, 0, 0, 8, 6);
    s.addConstraint(qor::sketch::ConstraintType::Fixed, r.corners[0], -1, -1, 0);
    const std::size_t n = s.constraints.size();
    s.constraints[n - 3].expression = width.toStdString();
    s.constraints[n - 2].expression = height.toStdString();
    return f;
}

QJsonObject extrusion(int sketchId, const QString& distance, const QString& op)
{
    return {{"profile", QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", sketchId}}}},
            {"distance", distance},
            {"op", op}};
}

} // namespace

TEST(Recompute, SketchesExtrusionsAndBoxesIntoSolids)
{
    Document doc;
    doc.parameters.push_back({QStringLiteral("b"), QStringLiteral("40 mm")});
    Feature* base = rectangleSketch(doc, QStringLiteral("b"), QStringLiteral("30 mm"));
    Feature* pad = doc.addFeature(QStringLiteral("extrude"), extrusion(base->id, "10 mm", "new"));
    Feature* pocket = doc.addFeature(QStringLiteral("box"), {{"x", "20 mm"},
                                                             {"y", "15 mm"},
                                                             {"length", "10"},
                                                             {"width", "10"},
                                                             {"height", "4"},
                                                             {"op", "cut"}});
    ASSERT_TRUE(base && pad && pocket);

    EXPECT_EQ(doc.recompute(), 0);
    ASSERT_EQ(doc.current.bodies.size(), 1u);
    const Body& body = doc.current.bodies.begin()->second;
    EXPECT_EQ(body.id, pad->id * 100);
    EXPECT_EQ(body.name, "Körper 1");
    EXPECT_NEAR(shapeVolume(body.shape), 40 * 30 * 10 - 10 * 10 * 4, 1e-6);
    EXPECT_TRUE(extentIs(body.shape, {0, 0, 0, 40, 30, 10}));
    EXPECT_EQ(doc.current.tools.at(pocket->id).targets, std::vector<int>({body.id}));
    EXPECT_EQ(doc.current.sketches.at(base->id).sketch, base->sketch.get());
    EXPECT_NEAR(shapeVolume(doc.stateBefore(2).bodies.at(body.id).shape), 12000.0, 1e-6);

    // The parameter drives the sketch dimension, the sketch the extrusion.
    doc.parameters[0].expr = QStringLiteral("50 mm");
    EXPECT_EQ(doc.recompute(), 0);
    EXPECT_NEAR(totalVolume(doc.current), 50 * 30 * 10 - 400, 1e-6);

    // A cut that reaches no body warns; the warning is kept with the cache entry.
    Feature* far = doc.addFeature(QStringLiteral("box"), {{"x", "500"}, {"op", "cut"}});
    EXPECT_EQ(doc.recompute(), 0);
    EXPECT_EQ(far->warning, "Kein Körper im Wirkbereich");
    EXPECT_TRUE(far->error.isEmpty());
    far->warning.clear();
    const std::size_t cached = doc.cache.size();
    EXPECT_EQ(doc.recompute(), 0);
    EXPECT_EQ(doc.cache.size(), cached);
    EXPECT_EQ(far->warning, "Kein Körper im Wirkbereich");

    // A failing feature in the middle: German error, the features after it
    // work on the state before it.
    Feature* bad = doc.addFeature(QStringLiteral("box"), {{"length", "0"}}, 2);
    EXPECT_EQ(doc.recompute(), 1);
    EXPECT_EQ(bad->error, "Maße müssen größer als 0 sein");
    EXPECT_EQ(doc.current.bodies.size(), 1u);
    EXPECT_NEAR(totalVolume(doc.current), 50 * 30 * 10 - 400, 1e-6);
    Feature* nan = doc.addFeature(QStringLiteral("extrude"), extrusion(base->id, "10^400", "new"));
    EXPECT_EQ(doc.recompute(), 2);
    EXPECT_EQ(nan->error, "distance: Ergebnis ist keine endliche Zahl");
    EXPECT_EQ(doc.current.bodies.size(), 1u);

    // Suppressing the pad leaves the pocket with nothing to cut.
    pad->suppressed = true;
    doc.recompute();
    EXPECT_TRUE(doc.current.bodies.empty());
    EXPECT_EQ(pocket->warning, "Kein Körper im Wirkbereich");
}

namespace {

// A random change to a feature of the kind edits make: a number nudged by a
// hair, a text, a flag, a list grown or reordered, a nested reference, the
// name, or a point of its sketch moved.
void mutate(Feature& feature, std::mt19937& random)
{
    std::uniform_int_distribution<int> kind(0, 6);
    std::uniform_real_distribution<double> value(-50.0, 50.0);
    switch (kind(random)) {
    case 0:
        feature.params.insert(QStringLiteral("angle"),
                              feature.params.value(QStringLiteral("angle")).toDouble()
                                  * (1.0 + 1e-12));
        break;
    case 1:
        feature.params.insert(QStringLiteral("distance"),
                              QStringLiteral("%1 mm").arg(value(random), 0, 'g', 17));
        break;
    case 2:
        feature.params.insert(QStringLiteral("flip"),
                              !feature.params.value(QStringLiteral("flip")).toBool());
        break;
    case 3: {
        QJsonArray list = feature.params.value(QStringLiteral("targets")).toArray();
        if (list.size() > 1 && value(random) > 0) {
            const QJsonValue first = list.takeAt(0);
            list.insert(1, first);
        } else
            list.append(int(value(random)));
        feature.params.insert(QStringLiteral("targets"), list);
        break;
    }
    case 4:
        feature.params.insert(
            QStringLiteral("profile"),
            QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", int(value(random))}}});
        break;
    case 5: feature.name += QLatin1Char('x'); break;
    default:
        feature.sketch->addLineAt(false, value(random), value(random), value(random),
                                  value(random));
        break;
    }
}

} // namespace

// The cache finds a feature's earlier result by its key: features whose saved
// form differs in any way get different keys, and a feature as it was gets the
// key it had. Random edits of every kind, each compared with all others.
TEST(Recompute, KeysTellApartEveryFeatureTheSavedFormTellsApart)
{
    Document doc;
    Feature* feature = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", -1}});
    feature->params.insert(QStringLiteral("angle"), 30.0);
    feature->sketch->addCircleAt(false, 1.0, 2.0, 3.0);
    std::mt19937 random(qor::test::seed(4711));
    std::vector<std::pair<QByteArray, std::uint64_t>> seen;
    for (int i = 0; i < 300; ++i) {
        const QByteArray text = QJsonDocument(feature->toJson()).toJson(QJsonDocument::Compact);
        seen.emplace_back(text, doc.featureKey(*feature, 0x51ED270B));
        mutate(*feature, random);
    }
    int distinct = 0;
    for (std::size_t a = 0; a < seen.size(); ++a) {
        for (std::size_t b = a + 1; b < seen.size(); ++b) {
            if (seen[a].first == seen[b].first)
                EXPECT_EQ(seen[a].second, seen[b].second) << a << " and " << b;
            else
                EXPECT_NE(seen[a].second, seen[b].second) << a << " and " << b;
            distinct += seen[a].first != seen[b].first;
        }
    }
    EXPECT_GT(distinct, 40000);
    // A copy read back from its saved form has the key of the feature.
    const QJsonObject saved = feature->toJson();
    auto copy = Feature::fromJson(saved);
    EXPECT_EQ(doc.featureKey(*copy, 7), doc.featureKey(*feature, 7));
}
