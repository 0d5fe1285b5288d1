#include "io/xt/ParasolidReader.h"
#include "io/xt/XtModel.h"
#include "tests/fixtures/XtShapeWriter.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS_Compound.hxx>

#include <benchmark/benchmark.h>

// A transmission of about 10,000 faces (1,667 boxes, one body each): parsing the node
// graph should cost little next to building and healing the faces in the kernel.

namespace {

const QByteArray& transmission()
{
    static const QByteArray data = [] {
        BRep_Builder builder;
        TopoDS_Compound boxes;
        builder.MakeCompound(boxes);
        for (int i = 0; i < 1667; ++i) {
            const gp_Pnt corner(0.02 * (i % 41), 0.02 * (i / 41), 0);
            builder.Add(boxes, BRepPrimAPI_MakeBox(corner, 0.01, 0.01, 0.01).Shape());
        }
        return qor::fixtures::xtFromShape(boxes);
    }();
    return data;
}

void BM_ParseXt(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(qor::io::parseXtBinary(transmission()).nodes.size());
    state.counters["bytes"] = double(transmission().size());
}

void BM_ReadParasolid(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(qor::io::readParasolid(transmission(), nullptr).size());
}

} // namespace

BENCHMARK(BM_ParseXt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadParasolid)->Unit(benchmark::kMillisecond);
