#include "io/KernelAllocator.h"
#include "model/Document.h"
#include "tests/fixtures/MixedHistory.h"

#include <QDir>
#include <QJsonArray>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

// Parts of 100, 200 and 400 features: a plate from a dimensioned sketch, rounds
// of a hole (sketch and cutting extrusion), a boss (box joined to the plate) and
// a construction plane, and a last sketch with a joined extrusion along the top
// edge. The part of each size is built once and shared by the cases in the
// order they are registered.

namespace {

using qor::model::Document;
using qor::model::Feature;
using qor::model::Parameter;
using qor::sketch::ConstraintType;

constexpr int holesPerRow = 8;
constexpr double rowPitch = 40.0;

QJsonObject xyPlane()
{
    return {{"kind", "origin"}, {"id", -1}};
}

QJsonObject extrusion(int sketchId, const QString& distance, const QString& op)
{
    return {{"profile", QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", sketchId}}}},
            {"distance", distance},
            {"op", op}};
}

// A rectangle from (u, v) with two length dimensions, fully held.
Feature* rectangleSketch(Document& doc, double u, double v, double w, double h)
{
    Feature* f = doc.addSketch(xyPlane());
    qor::sketch::Sketch& s = *f->sketch;
    const int bottom = int(s.addLineAt(false, u, v, u + w, v));
    const int right = int(s.addLineAt(false, u + w, v, u + w, v + h));
    const int top = int(s.addLineAt(false, u + w, v + h, u, v + h));
    const int left = int(s.addLineAt(false, u, v + h, u, v));
    s.addConstraint(ConstraintType::Coincident, s.endPoint(bottom), s.startPoint(right), -1, 0);
    s.addConstraint(ConstraintType::Coincident, s.endPoint(right), s.startPoint(top), -1, 0);
    s.addConstraint(ConstraintType::Coincident, s.endPoint(top), s.startPoint(left), -1, 0);
    s.addConstraint(ConstraintType::Coincident, s.endPoint(left), s.startPoint(bottom), -1, 0);
    s.addConstraint(ConstraintType::Horizontal, bottom, -1, -1, 0);
    s.addConstraint(ConstraintType::Horizontal, top, -1, -1, 0);
    s.addConstraint(ConstraintType::Vertical, left, -1, -1, 0);
    s.addConstraint(ConstraintType::Vertical, right, -1, -1, 0);
    s.addConstraint(ConstraintType::Fixed, s.startPoint(bottom), -1, -1, 0);
    s.addDimension(ConstraintType::Distance, bottom, -1, -1);
    s.addDimension(ConstraintType::Distance, left, -1, -1);
    return f;
}

Feature* circleSketch(Document& doc, double u, double v, double r)
{
    Feature* f = doc.addSketch(xyPlane());
    qor::sketch::Sketch& s = *f->sketch;
    const int circle = int(s.addCircleAt(false, u, v, r));
    s.addConstraint(ConstraintType::Fixed, s.findEntity(circle)->a, -1, -1, 0);
    s.addDimension(ConstraintType::Diameter, circle, -1, -1);
    return f;
}

Document buildPart(int featureCount)
{
    const int rounds = (featureCount - 4) / 4;
    const double height = rowPitch * ((rounds + holesPerRow - 1) / holesPerRow);
    Document doc;
    Feature* plate = rectangleSketch(doc, 0, 0, 240, height);
    doc.addFeature("extrude", extrusion(plate->id, "10 mm", "new"));
    for (int i = 0; i < rounds; ++i) {
        const double u = 15 + (i % holesPerRow) * 30;
        const double v = 20 + (i / holesPerRow) * rowPitch;
        Feature* hole = circleSketch(doc, u, v, 5);
        doc.addFeature("extrude", extrusion(hole->id, "12 mm", "cut"));
        doc.addFeature("box", {{"x", QString::number(u)},
                               {"y", QString::number(v + 15)},
                               {"length", "8"},
                               {"width", "8"},
                               {"height", "15"},
                               {"op", "join"}});
        doc.addFeature("plane", {{"offset", QString::number(i + 1)}});
    }
    Feature* rib = rectangleSketch(doc, 0, height - 2, 240, 2);
    doc.addFeature("extrude", extrusion(rib->id, "20 mm", "join"));
    if (int(doc.features.size()) != featureCount)
        throw std::logic_error("the benchmark part has the wrong number of features");
    if (doc.recompute() != 0)
        throw std::logic_error("the benchmark part must recompute without errors");
    return doc;
}

Document& part(int featureCount)
{
    static std::map<int, Document> parts;
    auto it = parts.find(featureCount);
    if (it == parts.end())
        it = parts.emplace(featureCount, buildPart(featureCount)).first;
    return it->second;
}

// How many non-sketch features one recompute ran: the keys it added to the cache.
std::size_t executedFeatures(Document& doc)
{
    const std::set<std::uint64_t> known(doc.cacheOrder.begin(), doc.cacheOrder.end());
    doc.recompute();
    return std::size_t(std::count_if(doc.cacheOrder.begin(), doc.cacheOrder.end(),
                                     [&](std::uint64_t key) { return !known.count(key); }));
}

// Distances not used before, so that the edited feature never comes from the cache.
void editDistance(Feature& feature)
{
    static int step = 0;
    feature.params.insert("distance", QString::number(20.0 + 0.001 * ++step) + " mm");
}

void nothingChanged(benchmark::State& state)
{
    Document& doc = part(int(state.range(0)));
    doc.recompute();
    for (auto _ : state)
        benchmark::DoNotOptimize(doc.recompute());
    state.counters["executed"] = double(executedFeatures(doc));
}

void editLast(benchmark::State& state)
{
    Document& doc = part(int(state.range(0)));
    Feature& last = *doc.features.back();
    for (auto _ : state) {
        editDistance(last);
        benchmark::DoNotOptimize(doc.recompute());
    }
    editDistance(last);
    state.counters["executed"] = double(executedFeatures(doc));
}

// The executor of the last feature on the state before it, without the recompute.
void lastAlone(benchmark::State& state)
{
    Document& doc = part(int(state.range(0)));
    doc.recompute();
    Feature& last = *doc.features.back();
    const qor::model::ModelState before = doc.stateBefore(doc.snapshots.size() - 1);
    for (auto _ : state) {
        qor::model::ModelState running = before;
        doc.executeFeature(last, running);
        benchmark::DoNotOptimize(running.bodies.size());
    }
}

// 400 edits of the last feature in a row: every edit must run that feature only.
void editsInARow(benchmark::State& state)
{
    Document& doc = part(int(state.range(0)));
    Feature& last = *doc.features.back();
    std::size_t executed = 0;
    for (auto _ : state) {
        executed = 0;
        for (int i = 0; i < 400; ++i) {
            editDistance(last);
            executed += executedFeatures(doc);
        }
    }
    state.counters["executed"] = double(executed);
}

// The box of the middle round grows: it and everything after it run again.
void editMidBox(benchmark::State& state)
{
    Document& doc = part(int(state.range(0)));
    const int rounds = (int(state.range(0)) - 4) / 4;
    Feature& box = *doc.features[std::size_t(4 + 4 * (rounds / 2))];
    if (box.type != QLatin1String("box"))
        throw std::logic_error("the middle feature must be a box");
    static int step = 0;
    for (auto _ : state) {
        box.params.insert("height", QString::number(15.0 + 0.001 * ++step));
        benchmark::DoNotOptimize(doc.recompute());
    }
    box.params.insert("height", QString::number(15.0 + 0.001 * ++step));
    state.counters["executed"] = double(executedFeatures(doc));
}

void fullRecompute(benchmark::State& state)
{
    Document& doc = part(int(state.range(0)));
    for (auto _ : state) {
        doc.clearRecomputeCache();
        benchmark::DoNotOptimize(doc.recompute());
    }
}

// The same without grouping: every boolean on its own right after its feature.
void fullRecomputeOneByOne(benchmark::State& state)
{
    Document& doc = part(int(state.range(0)));
    doc.groupBooleans = false;
    for (auto _ : state) {
        doc.clearRecomputeCache();
        benchmark::DoNotOptimize(doc.recompute());
    }
    doc.groupBooleans = true;
}

void editFirstSketchDimension(benchmark::State& state)
{
    Document& doc = part(int(state.range(0)));
    qor::sketch::Constraint& width = doc.features.front()->sketch->constraints[9];
    static int step = 0;
    auto edit = [&] {
        width.expression = (QString::number(240.0 + 0.01 * ++step) + " mm").toStdString();
    };
    for (auto _ : state) {
        edit();
        benchmark::DoNotOptimize(doc.recompute());
    }
    edit();
    state.counters["executed"] = double(executedFeatures(doc));
}

// A random history of 120 features that mixes what users mix (rings, tori,
// patterns of patterns, mirrors, fillets, intersects), the same every run.
// Argument 1 groups booleans, 0 runs each on its own.
void mixedHistory(benchmark::State& state)
{
    Document doc;
    qor::fixtures::MixedHistory(8).build(doc, 120);
    doc.groupBooleans = state.range(0) != 0;
    int failed = 0;
    for (auto _ : state) {
        doc.clearRecomputeCache();
        failed = doc.recompute();
    }
    state.counters["failed"] = failed;
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Arg(100)->Arg(200)->Arg(400)->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(nothingChanged)->Apply(sizes);
BENCHMARK(editLast)->Apply(sizes);
BENCHMARK(lastAlone)->Apply(sizes);
BENCHMARK(editsInARow)->Apply(sizes)->Iterations(1);
BENCHMARK(editMidBox)->Apply(sizes);
BENCHMARK(fullRecompute)->Apply(sizes);
BENCHMARK(editFirstSketchDimension)->Apply(sizes);
BENCHMARK(fullRecomputeOneByOne)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(mixedHistory)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Writing the 100-feature part; the file stays for bench/StartupBench.sh, which opens it.
// Parameters that each add to the one before, and the same names in one cycle.
void parameterChain(benchmark::State& state)
{
    const int count = int(state.range(0));
    const bool cycle = state.range(1) != 0;
    Document doc;
    for (int i = 0; i < count; ++i) {
        const int used = cycle ? (i + 1) % count : i - 1;
        doc.parameters.push_back(
            {QStringLiteral("p%1").arg(i),
             used < 0 ? QStringLiteral("1 mm") : QStringLiteral("p%1 + 0.001 mm").arg(used)});
    }
    for (auto _ : state) {
        for (Parameter& p : doc.parameters)
            p.value = 0.0;
        doc.evaluateParameters();
    }
}
BENCHMARK(parameterChain)
    ->Args({2000, 0})
    ->Args({10000, 0})
    ->Args({100000, 1})
    ->Unit(benchmark::kMillisecond);

void saveHundredFeaturePart(benchmark::State& state)
{
    const QString path = qEnvironmentVariable("QORCAD_BENCH_PART",
                                              QDir::temp().filePath("qorcad-bench-100.qcpart"));
    Document& doc = part(100);
    for (auto _ : state) {
        if (!doc.save(path))
            state.SkipWithError("the part could not be written");
    }
}
BENCHMARK(saveHundredFeaturePart)->Unit(benchmark::kMillisecond);

// The kernel's allocator as the program window has it, chosen before the first allocation.
int main(int argc, char** argv)
{
    qor::io::usePooledKernelAllocator(argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
