#include "model/Document.h"
#include "model/ExecContext.h"

#include <QJsonArray>
#include <QJsonObject>

#include <benchmark/benchmark.h>

namespace {

using namespace qor::model;

// A 220 x 220 x 10 plate with one through hole of radius 3 at a corner, cut
// by an extrusion, and a 20 x 20 pattern of that cut at the given spacing.
struct HolePlate {
    Document doc;
    ModelState state;
    Feature* pattern = nullptr;

    explicit HolePlate(double spacing)
    {
        doc.executeFeature(
            *doc.addFeature("box", {{"length", 220}, {"width", 220}, {"height", 10}}), state);
        Feature* sketch = doc.addSketch(QJsonObject{});
        sketch->sketch->addCircleAt(false, -100, -100, 3);
        state.sketches[sketch->id] = SketchResult{gp_Ax3(), sketch->sketch.get(), sketch->id};
        const QJsonArray profile{QJsonObject{{"kind", "sketch"}, {"id", sketch->id}}};
        Feature* hole =
            doc.addFeature("extrude", {{"profile", profile}, {"extent", "all"}, {"op", "cut"}});
        doc.executeFeature(*hole, state);
        pattern = doc.addFeature("pattern_rect", {{"features", QJsonArray{hole->id}},
                                                  {"count1", 20},
                                                  {"spacing1", spacing},
                                                  {"count2", 20},
                                                  {"spacing2", spacing}});
    }

    void run(benchmark::State& bench)
    {
        double volume = 0.0;
        for (auto _ : bench) {
            ModelState result = state;
            doc.executeFeature(*pattern, result);
            volume = shapeVolume(result.bodies.begin()->second.shape);
        }
        bench.counters["volume"] = volume;
    }
};

void separateHoles(benchmark::State& bench)
{
    HolePlate(10).run(bench);
}

// Holes 5 mm apart overlap their neighbours, so the copies are fused first.
void overlappingHoles(benchmark::State& bench)
{
    HolePlate(5).run(bench);
}

} // namespace

BENCHMARK(separateHoles)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(overlappingHoles)->Unit(benchmark::kMillisecond)->Iterations(3);
