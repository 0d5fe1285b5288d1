#include "bench/BareStepWrite.h"
#include "io/Export.h"
#include "io/Import.h"
#include "io/KernelMessage.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

// STEP export with its read-back check against the bare kernel writer on the
// same bodies: the check should cost at most half the write.
// Run with --benchmark_repetitions=5 and compare the medians. Further files are
// measured the same way when QOR_EXPORT_BENCH_FILES lists them (separated by
// colons), each under its own name.

namespace {

const char* const sampleFile = "/usr/share/opencascade/data/step/linkrods.step";

// A plate of pins: 24 bodies, each a block drilled through by a cylinder, as
// the connectors of a board come.
std::vector<qor::io::ExportBody> pinBodies()
{
    std::vector<qor::io::ExportBody> bodies;
    for (int i = 0; i < 24; ++i) {
        const gp_Pnt corner(12.0 * (i % 6), 12.0 * (i / 6), 0);
        const TopoDS_Shape block = BRepPrimAPI_MakeBox(corner, 10, 10, 10).Shape();
        const TopoDS_Shape drill
            = BRepPrimAPI_MakeCylinder(gp_Ax2(corner.Translated(gp_Vec(5, 5, -1)), gp_Dir(0, 0, 1)),
                                       2.0 + 0.05 * i, 12)
                  .Shape();
        bodies.push_back({QStringLiteral("Pin %1").arg(i + 1),
                          BRepAlgoAPI_Cut(block, drill).Shape(), 0.8, 0.6, 0.2});
    }
    return bodies;
}

// An assembly of 4,096 placements of one cube, 16 to a row, as a read STEP
// assembly gives them: every body the same shape at its own location.
std::vector<qor::io::ExportBody> placedCubes()
{
    const TopoDS_Shape cube = BRepPrimAPI_MakeBox(10, 10, 10).Shape();
    std::vector<qor::io::ExportBody> bodies;
    for (int i = 0; i < 4096; ++i) {
        gp_Trsf shift;
        shift.SetTranslation(gp_Vec(20.0 * (i % 16), 20.0 * (i / 16 % 16), 20.0 * (i / 256)));
        bodies.push_back(
            {QStringLiteral("Würfel %1").arg(i + 1), cube.Moved(shift), 0.3, 0.5, 0.8});
    }
    return bodies;
}

std::vector<qor::io::ExportBody> bodiesOf(const QString& path)
{
    std::vector<qor::io::ExportBody> bodies;
    for (const qor::io::ImportedBody& body : qor::io::importFile(path, {}).bodies)
        bodies.push_back({body.name, body.shape, body.r, body.g, body.b});
    return bodies;
}

std::vector<qor::io::ExportBody> sampleBodies()
{
    return bodiesOf(QString::fromLatin1(sampleFile));
}

// The bodies to write, with the kernel's statistics kept off the output; none,
// with the benchmark skipped, when the sample is missing.
template <typename Bodies>
std::vector<qor::io::ExportBody> benchBodies(benchmark::State& state, Bodies make)
{
    qor::io::keepOnlyKernelFailures();
    std::vector<qor::io::ExportBody> bodies = make();
    if (bodies.empty())
        state.SkipWithError("no bodies (occt-misc missing?)");
    return bodies;
}

template <typename Bodies> void BM_BareStepWrite(benchmark::State& state, Bodies make)
{
    const std::vector<qor::io::ExportBody> bodies = benchBodies(state, make);
    if (bodies.empty())
        return;
    QTemporaryDir dir;
    const QByteArray file = QFile::encodeName(dir.filePath(QStringLiteral("bare.step")));
    for (auto _ : state)
        qor::bench::bareStepWrite(bodies, file);
}

template <typename Bodies> void BM_CheckedStepExport(benchmark::State& state, Bodies make)
{
    const std::vector<qor::io::ExportBody> bodies = benchBodies(state, make);
    if (bodies.empty())
        return;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("geprueft.step"));
    for (auto _ : state) {
        if (!qor::io::exportFile(path, bodies, qor::io::ExportOptions()))
            state.SkipWithError("export failed");
    }
}

// Both benchmarks for every file the environment lists.
bool registerListedFiles()
{
    const QStringList files = QString::fromLocal8Bit(qgetenv("QOR_EXPORT_BENCH_FILES"))
                                  .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& file : files) {
        // Imported once: every repetition calls the benchmark again.
        const auto cache = std::make_shared<std::vector<qor::io::ExportBody>>();
        const auto make = [file, cache] {
            if (cache->empty())
                *cache = bodiesOf(file);
            return *cache;
        };
        const std::string name = QFileInfo(file).fileName().toStdString();
        benchmark::RegisterBenchmark(
            ("BM_BareStepWrite/" + name).c_str(),
            [make](benchmark::State& state) { BM_BareStepWrite(state, make); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            ("BM_CheckedStepExport/" + name).c_str(),
            [make](benchmark::State& state) { BM_CheckedStepExport(state, make); })
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}

const bool listedFilesRegistered = registerListedFiles();

} // namespace

BENCHMARK_CAPTURE(BM_BareStepWrite, pins, pinBodies)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CheckedStepExport, pins, pinBodies)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareStepWrite, placedCubes, placedCubes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CheckedStepExport, placedCubes, placedCubes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareStepWrite, linkrods, sampleBodies)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CheckedStepExport, linkrods, sampleBodies)->Unit(benchmark::kMillisecond);
