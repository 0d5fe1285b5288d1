#include "sketch/Regions.h"

#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK(separateCircles)->Unit(benchmark::kMillisecond);
BENCHMARK(overlappingCircles)->Unit(benchmark::kMillisecond);
