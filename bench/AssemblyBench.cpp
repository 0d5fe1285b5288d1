#include "model/MateSolver.h"
#include "tests/fixtures/MateScenes.h"

#include <benchmark/benchmark.h>

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
