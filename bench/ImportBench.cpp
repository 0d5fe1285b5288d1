#include "io/Import.h"
#include "io/KernelMessage.h"
#include "io/XcafBodies.h"

#include <STEPCAFControl_Reader.hxx>
#include <STEPControl_Controller.hxx>

#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

// The front end against the bare kernel reader on the same file: the collection
// of bodies and colours should add only a few percent.

namespace {

const char* const sampleFile = "/usr/share/opencascade/data/step/linkrods.step";

bool prepare(benchmark::State& state)
{
    if (!QFileInfo::exists(QString::fromLatin1(sampleFile))) {
        state.SkipWithError("occt-misc is not installed");
        return false;
    }
    qor::io::keepOnlyKernelFailures();
    return true;
}

void BM_ImportFileStep(benchmark::State& state)
{
    if (!prepare(state))
        return;
    for (auto _ : state) {
        const qor::io::ImportResult result
            = qor::io::importFile(QString::fromLatin1(sampleFile), {});
        if (!result.ok)
            state.SkipWithError("import failed");
        benchmark::DoNotOptimize(result.bodies.data());
    }
}

void BM_BareStepReader(benchmark::State& state)
{
    if (!prepare(state))
        return;
    for (auto _ : state) {
        STEPControl_Controller::Init();
        Handle(TDocStd_Document) document = qor::io::newXcafDocument();
        STEPCAFControl_Reader reader;
        reader.SetColorMode(true);
        reader.SetNameMode(true);
        reader.SetLayerMode(true);
        if (reader.ReadFile(sampleFile) != IFSelect_RetDone || !reader.Transfer(document))
            state.SkipWithError("read failed");
        qor::io::closeXcafDocument(document);
    }
}

// On a busy machine the fastest repetition says more than the mean; run with
// --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true.
double fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

} // namespace

BENCHMARK(BM_BareStepReader)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_ImportFileStep)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->ComputeStatistics("min", fastest);
