// Memory of the model browser for an assembly of 10,000 components (offscreen): the counter
// peakRssMB is the process's peak resident size after the tree was built, baseRssMB the
// size before.
#include "app/shell/Browser.h"
#include "model/DocumentController.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

constexpr int componentCount = 10000;

double peakRssMB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

void fillAssembly(qor::model::Document& document)
{
    for (int i = 0; i < componentCount; ++i) {
        qor::model::Component c;
        c.id = i + 1;
        c.name = QStringLiteral("Teil %1").arg(i + 1);
        c.path = QStringLiteral("teile/teil%1.qcpart").arg(i % 50);
        c.m[3] = 10.0 * (i % 100);
        c.m[7] = 10.0 * (i / 100);
        c.grounded = i == 0;
        c.hidden = i % 7 == 0;
        document.components.push_back(c);
    }
}

void BM_BrowserTenThousandComponents(benchmark::State& state)
{
    const double base = peakRssMB();
    qor::app::DocumentController controller;
    fillAssembly(*controller.document);
    qor::app::Browser browser(&controller);
    for (auto _ : state) {
        browser.rebuild();
        benchmark::DoNotOptimize(browser.topLevelItemCount());
    }
    state.counters["baseRssMB"] = base;
    state.counters["peakRssMB"] = peakRssMB();
}
BENCHMARK(BM_BrowserTenThousandComponents)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
