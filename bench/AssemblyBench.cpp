#include "model/MateSolver.h"
#include "tests/fixtures/InstancedAssembly.h"
#include "tests/fixtures/MateScenes.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <string>

// One mate solve per case: a scene of the fixtures with its free part tilted about X or Y.
// Each case reports the accepted steps and the residual its solve ends with; "held" is 1 when
// the mate holds afterwards.

namespace {

void solveFromTilt(benchmark::State& state, const qor::fixtures::MateScene* scene, gp_Dir axis,
                   double degrees)
{
    qor::model::Document doc = qor::fixtures::mateAssembly(*scene, axis, degrees);
    const auto start = doc.components[1].m;
    qor::model::MateSolveStats stats;
    bool held = false;
    doc.solveMates(nullptr, &stats); // loads the parts' shapes once
    for (auto _ : state) {
        doc.components[1].m = start;
        held = doc.solveMates(nullptr, &stats);
        benchmark::DoNotOptimize(doc.components[1].m);
    }
    state.counters["steps"] = stats.steps;
    state.counters["residual"] = stats.residual;
    state.counters["held"] = held ? 1 : 0;
}

// Loading and recomputing an assembly of many placements of one part, without a window: the
// core's share of opening it. peakRssMB is the process's peak resident size afterwards.
void loadInstancedAssembly(benchmark::State& state)
{
    QTemporaryDir folder;
    const QString path = qor::test::writeInstancedAssembly(folder.path(), int(state.range(0)));
    for (auto _ : state) {
        qor::model::Document doc;
        doc.load(path);
        doc.recompute();
        benchmark::DoNotOptimize(doc.current.bodies.size());
        if (doc.current.bodies.size() != std::size_t(state.range(0)))
            state.SkipWithError("not every placement became a body");
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peakRssMB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(loadInstancedAssembly)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Registered from main: the scenes are shapes, built after the kernel's own start-up.
void registerSolves()
{
    for (const qor::fixtures::MateScene& scene : qor::fixtures::mateScenes()) {
        for (const auto& [axisName, axis] :
             {std::pair{"X", gp_Dir(1, 0, 0)}, std::pair{"Y", gp_Dir(0, 1, 0)}}) {
            for (const int tilt : {0, 10, 45, 90, 135, 179}) {
                const std::string name
                    = std::string(scene.name) + "/" + axisName + "/" + std::to_string(tilt);
                benchmark::RegisterBenchmark(name.c_str(), solveFromTilt, &scene, axis,
                                             double(tilt))
                    ->Unit(benchmark::kMicrosecond);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    registerSolves();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
