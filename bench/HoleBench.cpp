#include "model/Document.h"
#include "model/ExecContext.h"

#include <benchmark/benchmark.h>

namespace {

using namespace qor::model;

// An M6 tapped hole through a 40 x 40 x 10 plate: a 10 mm thread.
void tappedHole(benchmark::State& bench, const char* threadModel)
{
    Document doc;
    Feature* box = doc.addFeature("box", {{"length", "40"}, {"width", "40"}, {"height", "10"}});
    Feature* sketch = doc.addSketch(QJsonObject{});
    sketch->sketch->addPoint(false, 0, 0);
    Feature* hole = doc.addFeature("hole", {{"points", QJsonObject{{"id", sketch->id}}},
                                            {"thread", "M6"},
                                            {"fit", "threaded"},
                                            {"extent", "all"},
                                            {"threadModel", threadModel}});
    ModelState plate;
    doc.executeFeature(*box, plate);
    plate.sketches[sketch->id]
        = SketchResult{gp_Ax3(gp_Pnt(0, 0, 10), gp_Dir(0, 0, 1), gp_Dir(1, 0, 0)),
                       sketch->sketch.get(), sketch->id};
    for (auto _ : bench) {
        ModelState state = plate;
        doc.executeFeature(*hole, state);
        benchmark::DoNotOptimize(state.bodies);
    }
}

void modelledM6Thread(benchmark::State& bench)
{
    tappedHole(bench, "modeled");
}

void cosmeticM6Thread(benchmark::State& bench)
{
    tappedHole(bench, "cosmetic");
}

} // namespace

BENCHMARK(modelledM6Thread)->Unit(benchmark::kMillisecond);
BENCHMARK(cosmeticM6Thread)->Unit(benchmark::kMillisecond);
