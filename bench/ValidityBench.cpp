#include "model/ShapeValidity.h"
#include "tests/fixtures/PerforatedFaces.h"

#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakePrism.hxx>

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

// A plate of the given holes, mixed circles, slots, arc triangles and
// polygons, pushed 2 mm: its two holed faces are what the check splits.
TopoDS_Shape perforatedPrism(int holes)
{
    std::mt19937 random(55);
    const TopoDS_Face face = qor::test::perforatedFace(random, holes, qor::test::HoleFlaw::None);
    return BRepPrimAPI_MakePrism(face, gp_Vec(0, 0, 2)).Shape();
}

void plainCheck(benchmark::State& state)
{
    const TopoDS_Shape plate = perforatedPrism(int(state.range(0)));
    for (auto _ : state) {
        if (!BRepCheck_Analyzer(plate, Standard_True).IsValid())
            throw std::runtime_error("the plate should be valid");
    }
}

void checkInParts(benchmark::State& state)
{
    const TopoDS_Shape plate = perforatedPrism(int(state.range(0)));
    for (auto _ : state) {
        if (!qor::model::validShape(plate))
            throw std::runtime_error("the plate should be valid");
    }
}

} // namespace

BENCHMARK(plainCheck)->Arg(250)->Arg(1000)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(checkInParts)
    ->Arg(250)
    ->Arg(1000)
    ->Arg(4000)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
