#include "sketch/Dof.h"
#include "sketch/Solver.h"

#include "tests/common/RectangleChain.h"

#include <benchmark/benchmark.h>

namespace {

using namespace qor::sketch;

// A row of N dimensioned rectangles, the first corner Fixiert, every point moved.
Sketch perturbedChain(int count)
{
    Sketch s;
    fixtures::addRectangleChain(s, count, true);
    fixtures::perturbPoints(s, 0.3);
    return s;
}

// One timed solve of a fresh copy of start; the copy is not timed.
SolveResult solveCopy(benchmark::State& state, const Sketch& start)
{
    state.PauseTiming();
    Sketch s = start;
    state.ResumeTiming();
    SolveResult result;
    solve(result, s, {});
    benchmark::DoNotOptimize(s.params.data());
    return result;
}

void solveChain(benchmark::State& state)
{
    const Sketch start = perturbedChain(int(state.range(0)));
    for (auto _ : state) {
        const SolveResult result = solveCopy(state, start);
        if (!result.ok || result.dof != 0)
            state.SkipWithError("chain did not solve");
    }
}

void analyzeChain(benchmark::State& state)
{
    Sketch s = perturbedChain(int(state.range(0)));
    SolveResult solved;
    solve(solved, s, {});
    std::vector<bool> determined;
    for (auto _ : state) {
        DofResult result;
        analyzeDof(result, s, &determined);
        if (result.dof != 0)
            state.SkipWithError("chain is not fully determined");
    }
}

// The same chain with one wrong diagonal in its middle rectangle: the solve fails
// and names the violated constraints.
void solveOverdeterminedChain(benchmark::State& state)
{
    const int count = int(state.range(0));
    Sketch start;
    const auto chain = fixtures::addRectangleChain(start, count, true);
    fixtures::perturbPoints(start, 0.3);
    const auto& middle = chain[std::size_t(count / 2)];
    start.addConstraint(ConstraintType::Distance, middle.corners[0], middle.corners[2], -1, 100.0);
    for (auto _ : state) {
        const SolveResult result = solveCopy(state, start);
        if (result.ok || result.failedIds.empty())
            state.SkipWithError("contradiction went unnoticed");
        benchmark::DoNotOptimize(result.failedIds.data());
    }
}

// A drag step: held solve of one corner moved a little, as at a mouse move.
void dragChain(benchmark::State& state)
{
    Sketch s;
    const auto chain = fixtures::addRectangleChain(s, int(state.range(0)), false);
    const auto corner = std::uint32_t(chain.back().corners[2]);
    double offset = 0.0;
    for (auto _ : state) {
        offset = offset > 1.0 ? 0.0 : offset + 0.1;
        const Vec2 at = s.pointPosition(int(corner));
        if (!dragPoint(s, corner, at.x + 0.1, at.y + offset * 0.01))
            state.SkipWithError("drag failed");
    }
}

} // namespace

BENCHMARK(solveChain)
    ->Arg(10)
    ->Arg(50)
    ->Arg(100)
    ->Arg(200)
    ->Arg(400)
    ->Arg(800)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(analyzeChain)
    ->Arg(10)
    ->Arg(50)
    ->Arg(100)
    ->Arg(200)
    ->Arg(400)
    ->Arg(800)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(solveOverdeterminedChain)
    ->Arg(10)
    ->Arg(50)
    ->Arg(100)
    ->Arg(200)
    ->Arg(400)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(dragChain)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
