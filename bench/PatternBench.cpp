#include "model/Document.h"
#include "model/ExecContext.h"

#include <QJsonArray>
#include <QJsonObject>

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

using namespace qor::model;

// A 220 x 220 x 10 plate with one 6 mm through hole at a corner and a 20 x 20
// pattern of that hole at the given spacing.
struct HolePlate {
    Document doc;
    ModelState state;
    Feature* pattern = nullptr;

    explicit HolePlate(double spacing)
    {
        doc.executeFeature(
            *doc.addFeature("box", {{"length", 220}, {"width", 220}, {"height", 10}}), state);
        Feature* sketch = doc.addSketch(QJsonObject{});
        sketch->sketch->addPoint(false, -100, -100);
        const gp_Ax3 top(gp_Pnt(0, 0, 10), gp::DZ(), gp::DX());
        state.sketches[sketch->id] = SketchResult{top, sketch->sketch.get(), sketch->id};
        Feature* hole = doc.addFeature("hole", {{"points", QJsonObject{{"kind", "sketch"},
                                                                       {"id", sketch->id}}},
                                                {"diameter", "6 mm"},
                                                {"extent", "all"},
                                                {"tip", false}});
        doc.executeFeature(*hole, state);
        if (!hole->warning.isEmpty() || state.tools.count(hole->id) == 0)
            throw std::runtime_error("the hole to pattern was not cut");
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
