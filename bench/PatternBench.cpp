#include "model/Document.h"
#include "model/ExecContext.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <TopTools_ListOfShape.hxx>
#include <gp_Ax2.hxx>

#include <QJsonArray>
#include <QJsonObject>

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

using namespace qor::model;

constexpr int perSide = 20;

// A 220 x 220 x 10 plate with one 6 mm through hole at a corner and a 20 x 20
// pattern of that hole at the given spacing.
struct HolePlate {
    Document doc;
    ModelState state;
    TopoDS_Shape plate;
    Feature* pattern = nullptr;

    explicit HolePlate(double spacing)
    {
        doc.executeFeature(
            *doc.addFeature("box", {{"length", 220}, {"width", 220}, {"height", 10}}), state);
        plate = state.bodies.begin()->second.shape;
        Feature* sketch = doc.addSketch(QJsonObject{});
        sketch->sketch->addPoint(false, -100, -100);
        const gp_Ax3 top(gp_Pnt(0, 0, 10), gp::DZ(), gp::DX());
        state.sketches[sketch->id] = SketchResult{top, sketch->sketch.get(), sketch->id};
        Feature* hole = doc.addFeature(
            "hole", {{"points", QJsonObject{{"kind", "sketch"}, {"id", sketch->id}}},
                     {"diameter", "6 mm"},
                     {"extent", "all"},
                     {"tip", false}});
        doc.executeFeature(*hole, state);
        if (!hole->warning.isEmpty() || state.tools.count(hole->id) == 0)
            throw std::runtime_error("the hole to pattern was not cut");
        pattern = doc.addFeature("pattern_rect", {{"features", QJsonArray{hole->id}},
                                                  {"count1", perSide},
                                                  {"spacing1", spacing},
                                                  {"count2", perSide},
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

// What the pattern is measured against: the kernel alone cutting the bare plate
// with the 400 cylinders as a list of tools.
void bareCut(benchmark::State& bench, double spacing)
{
    const HolePlate part(spacing);
    TopTools_ListOfShape arguments;
    arguments.Append(part.plate);
    TopTools_ListOfShape tools;
    for (int i = 0; i < perSide; ++i) {
        for (int j = 0; j < perSide; ++j) {
            const gp_Ax2 axis(gp_Pnt(-100 + i * spacing, -100 + j * spacing, -1), gp::DZ());
            tools.Append(BRepPrimAPI_MakeCylinder(axis, 3, 12).Shape());
        }
    }
    double volume = 0.0;
    for (auto _ : bench) {
        BRepAlgoAPI_Cut cut;
        cut.SetArguments(arguments);
        cut.SetTools(tools);
        cut.Build();
        volume = shapeVolume(cut.Shape());
    }
    bench.counters["volume"] = volume;
}

void separateHoles(benchmark::State& bench)
{
    HolePlate(10).run(bench);
}

// Holes 5 mm apart overlap their neighbours.
void overlappingHoles(benchmark::State& bench)
{
    HolePlate(5).run(bench);
}

// Spacing 0 stacks all 400 copies on the original hole: one place, one copy's work.
void stackedHoles(benchmark::State& bench)
{
    HolePlate(0).run(bench);
}

void separateBareCut(benchmark::State& bench)
{
    bareCut(bench, 10);
}

void overlappingBareCut(benchmark::State& bench)
{
    bareCut(bench, 5);
}

} // namespace

BENCHMARK(separateHoles)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(separateBareCut)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(overlappingHoles)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(overlappingBareCut)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(stackedHoles)->Unit(benchmark::kMillisecond)->Iterations(1);
