#include "model/Document.h"
#include "model/ExecContext.h"
#include "sketch/ClosedOutlines.h"
#include "sketch/Regions.h"

#include <QJsonArray>
#include <QJsonObject>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// 20 x 10 circles of radius 10; at a spacing below 20 neighbours overlap.
qor::sketch::Sketch circleGrid(double spacing)
{
    qor::sketch::Sketch s;
    for (int i = 0; i < 20; ++i) {
        for (int j = 0; j < 10; ++j)
            s.addCircleAt(false, i * spacing, j * spacing, 10);
    }
    return s;
}

void separateCircles(benchmark::State& state)
{
    const qor::sketch::Sketch sketch = circleGrid(25);
    const gp_Ax3 plane;
    for (auto _ : state)
        benchmark::DoNotOptimize(qor::sketch::buildRegions(sketch, plane));
}

void overlappingCircles(benchmark::State& state)
{
    const qor::sketch::Sketch sketch = circleGrid(15);
    const gp_Ax3 plane;
    for (auto _ : state)
        benchmark::DoNotOptimize(qor::sketch::buildRegions(sketch, plane));
}

// Holes on a square grid of 6 mm pitch inside a rectangle with a 6 mm margin.
constexpr double pitch = 6.0;

using Hole = void (*)(qor::sketch::Sketch&, double x, double y);

void circleHole(qor::sketch::Sketch& s, double x, double y)
{
    s.addCircleAt(false, x, y, 2.0);
}

// A rounded slot 5 mm long and 3 mm wide: two lines and two half circles.
void slotHole(qor::sketch::Sketch& s, double x, double y)
{
    s.addLineAt(false, x - 1, y - 1.5, x + 1, y - 1.5);
    s.addArcAt(false, x + 1, y, x + 1, y - 1.5, x + 1, y + 1.5);
    s.addLineAt(false, x + 1, y + 1.5, x - 1, y + 1.5);
    s.addArcAt(false, x - 1, y, x - 1, y + 1.5, x - 1, y - 1.5);
}

// A rectangle with `count` holes drawn in the same sketch, extruded 2 mm from
// scratch: the sketch's regions, the profile and the pad in one recompute.
// On a block, the pad goes down from the block's underside and joins it: the
// faces of the plate's rim merge with the block's sides. Peak memory is the
// process's, so run one case per process to read it.
void perforatedPlate(benchmark::State& state, Hole hole, bool onBlock)
{
    const int count = int(state.range(0));
    const int columns = int(std::ceil(std::sqrt(double(count))));
    const int rows = (count + columns - 1) / columns;
    double volume = 0.0;
    for (auto _ : state) {
        qor::model::Document doc;
        qor::model::Feature* sketch = doc.addSketch({{"kind", "origin"}, {"id", -1}});
        qor::sketch::Sketch& s = *sketch->sketch;
        const double w = pitch * (columns + 1);
        const double h = pitch * (rows + 1);
        s.addLineAt(false, 0, 0, w, 0);
        s.addLineAt(false, w, 0, w, h);
        s.addLineAt(false, w, h, 0, h);
        s.addLineAt(false, 0, h, 0, 0);
        for (int k = 0; k < count; ++k)
            hole(s, pitch * (1 + k % columns), pitch * (1 + k / columns));
        if (onBlock) {
            doc.addFeature("box", {{"length", w},
                                   {"width", h},
                                   {"height", 5.0},
                                   {"x", w / 2},
                                   {"y", h / 2},
                                   {"op", "new"}});
        }
        doc.addFeature(
            "extrude",
            {{"profile", QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", sketch->id}}}},
             {"distance", "2 mm"},
             {"flip", onBlock},
             {"op", onBlock ? "join" : "new"}});
        if (doc.recompute() != 0 || doc.current.bodies.size() != 1)
            throw std::runtime_error("the perforated plate did not recompute");
        volume = qor::model::shapeVolume(doc.current.bodies.begin()->second.shape);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["volume"] = volume;
    state.counters["peakMB"] = double(usage.ru_maxrss) / 1024.0;
}

// The outline of a plate that holds `count` features on a square grid of the
// pitch, one pitch from its sides; returns the grid's columns.
int addPlateFrame(qor::sketch::Sketch& s, int count)
{
    const int columns = int(std::ceil(std::sqrt(double(count))));
    const int rows = (count + columns - 1) / columns;
    const double w = pitch * (columns + 1);
    const double h = pitch * (rows + 1);
    s.addLineAt(false, 0, 0, w, 0);
    s.addLineAt(false, w, 0, w, h);
    s.addLineAt(false, w, h, 0, h);
    s.addLineAt(false, 0, h, 0, 0);
    return columns;
}

// The regions alone of a rectangle with `count` holes and, when `strays`, a
// stray line beside every tenth hole, which sends the sketch down the
// splitter's path.
void holedPlateRegions(benchmark::State& state, Hole hole, bool strays)
{
    const int count = int(state.range(0));
    qor::sketch::Sketch s;
    const int columns = addPlateFrame(s, count);
    for (int k = 0; k < count; ++k) {
        const double x = pitch * (1 + k % columns);
        const double y = pitch * (1 + k / columns);
        hole(s, x, y);
        if (strays && k % 10 == 0)
            s.addLineAt(false, x + 2.6, y - 1, x + 2.6, y + 1);
    }
    const gp_Ax3 plane;
    std::size_t regions = 0;
    for (auto _ : state)
        regions = qor::sketch::buildRegions(s, plane).size();
    state.counters["regions"] = double(regions);
}

// A plate with `count` rectangles 3 x 2 mm whose sides overshoot their corners
// by 0.3 mm: every line is free and the loops close where lines cross.
qor::sketch::Sketch overshootingPlate(int count)
{
    qor::sketch::Sketch s;
    const int columns = addPlateFrame(s, count);
    for (int k = 0; k < count; ++k) {
        const double x = pitch * (1 + k % columns);
        const double y = pitch * (1 + k / columns);
        s.addLineAt(false, x - 1.8, y - 1, x + 1.8, y - 1);
        s.addLineAt(false, x + 1.5, y - 1.3, x + 1.5, y + 1.3);
        s.addLineAt(false, x + 1.8, y + 1, x - 1.8, y + 1);
        s.addLineAt(false, x - 1.5, y + 1.3, x - 1.5, y - 1.3);
    }
    return s;
}

void overshootingRectangles(benchmark::State& state)
{
    const qor::sketch::Sketch s = overshootingPlate(int(state.range(0)));
    const gp_Ax3 plane;
    std::vector<qor::sketch::ProfileRegion> regions;
    for (auto _ : state)
        regions = qor::sketch::buildRegions(s, plane);
    state.counters["regions"] = double(regions.size());
    state.counters["holes"] = double(
        std::count_if(regions.begin(), regions.end(), [](const auto& r) { return !r.outer; }));
}

// The outlines alone of the same plate: the share of telling material from holes.
void overshootingOutlines(benchmark::State& state)
{
    const qor::sketch::Sketch s = overshootingPlate(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(qor::sketch::closedOutlines(s));
}

} // namespace

BENCHMARK(separateCircles)->Unit(benchmark::kMillisecond);
BENCHMARK(overlappingCircles)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(perforatedPlate, circles, circleHole, false)
    ->Arg(100)
    ->Arg(300)
    ->Arg(1000)
    ->Arg(4000)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(perforatedPlate, slots, slotHole, false)
    ->Arg(999)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(perforatedPlate, circlesOnBlock, circleHole, true)
    ->Arg(1000)
    ->Arg(4000)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(holedPlateRegions, circles, circleHole, false)
    ->Arg(4000)
    ->Arg(11000)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(holedPlateRegions, slotsAndStrays, slotHole, true)
    ->Arg(900)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(overshootingRectangles)
    ->Arg(900)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(overshootingOutlines)->Arg(900)->Unit(benchmark::kMillisecond);
