#include "io/sab/SabReader.h"
#include "tests/fixtures/SabBodyFixtures.h"

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepPrimAPI_MakePrism.hxx>

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

// Faces on surfaces without an exact conversion are rebuilt by filling their
// boundary, the slow part of reading Fusion bodies with many fillets. A prism
// over a regular polygon whose side faces all take that path: the time per
// filled face is the figure to watch.

namespace {

QByteArray prismWithFilledSides(int sides)
{
    BRepBuilderAPI_MakePolygon polygon;
    for (int i = 0; i < sides; ++i) {
        const double angle = 2 * std::numbers::pi * i / sides;
        polygon.Add(gp_Pnt(10 * std::cos(angle), 10 * std::sin(angle), 0));
    }
    polygon.Close();
    const TopoDS_Shape prism
        = BRepPrimAPI_MakePrism(BRepBuilderAPI_MakeFace(polygon.Wire()).Face(), gp_Vec(0, 0, 5));
    qor::test::SabBodyOptions options;
    // The explorer meets the side faces first, the two caps last.
    for (int i = 0; i < sides; ++i)
        options.unsupportedFaces.push_back(i);
    return qor::test::sabFromShape(prism, options);
}

void filledFaces(benchmark::State& state)
{
    const int sides = int(state.range(0));
    const QByteArray data = prismWithFilledSides(sides);
    for (auto _ : state) {
        QString message;
        const auto bodies = qor::io::readSab(data, &message);
        if (bodies.size() != 1) {
            state.SkipWithError("the generated body did not come back");
            return;
        }
        benchmark::DoNotOptimize(bodies);
    }
    state.counters["faces"] = sides;
    state.counters["per_face"] = benchmark::Counter(
        double(sides), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(filledFaces)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);
