#include "io/Import.h"
#include "io/KernelMessage.h"
#include "io/ReaderProcess.h"
#include "io/ReaderServer.h"
#include "io/XcafBodies.h"
#include "tests/common/CpuTime.h"
#include "tests/fixtures/HostileAssemblies.h"
#include "tests/fixtures/ManyBoxes.h"

#include <STEPCAFControl_Reader.hxx>
#include <STEPControl_Controller.hxx>

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

// The front end, which reads in a reader process of its own, against the bare kernel reader
// in this process, on the largest real STEP files at hand: the process, the collection of
// bodies and colours and the way back should add only a few percent. Besides the wall time
// each run reports the processor time of this process, of the reader processes it waited
// for and of the reader server with the readers it forked ("cpu_all", seconds per read).
// The reader server is started before the first timed read, as the program starts it.
// Readers run with the kernel's pooled allocator and this process with the system's; with
// MMGT_OPT=2 in the environment both use the pooled one, which leaves the cost of the
// reader process itself.

namespace {

const char* const folders[]
    = {"/usr/share/opencascade", "/work/shared/files", "/work/kicad/root/usr/share/kicad/3dmodels"};

// The three largest STEP files under the folders, largest first.
const std::vector<QString>& largestStepFiles()
{
    static const std::vector<QString> files = [] {
        std::vector<QFileInfo> found;
        for (const char* folder : folders) {
            QDirIterator it(QString::fromLatin1(folder),
                            {QStringLiteral("*.step"), QStringLiteral("*.stp")}, QDir::Files,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                found.emplace_back(it.next());
        }
        std::sort(found.begin(), found.end(),
                  [](const QFileInfo& a, const QFileInfo& b) { return a.size() > b.size(); });
        std::vector<QString> largest;
        for (std::size_t i = 0; i < std::min<std::size_t>(3, found.size()); ++i)
            largest.push_back(found[i].absoluteFilePath());
        return largest;
    }();
    return files;
}

const QString* prepare(benchmark::State& state)
{
    const auto& files = largestStepFiles();
    if (std::size_t(state.range(0)) >= files.size()) {
        state.SkipWithError("no such STEP file here");
        return nullptr;
    }
    qor::io::keepOnlyKernelFailures();
    qor::io::startReaderServer(qor::io::readerProgram());
    state.SetLabel(QFileInfo(files[std::size_t(state.range(0))]).fileName().toStdString());
    return &files[std::size_t(state.range(0))];
}

void readBare(benchmark::State& state, const QByteArray& name)
{
    STEPControl_Controller::Init();
    Handle(TDocStd_Document) document = qor::io::newXcafDocument();
    STEPCAFControl_Reader reader;
    reader.SetColorMode(true);
    reader.SetNameMode(true);
    reader.SetLayerMode(true);
    if (reader.ReadFile(name.constData()) != IFSelect_RetDone || !reader.Transfer(document))
        state.SkipWithError("read failed");
    qor::io::closeXcafDocument(document);
}

template <typename Read> void timed(benchmark::State& state, Read read)
{
    const double start = qor::test::workCpuSeconds();
    for (auto _ : state)
        read();
    state.counters["cpu_all"] = (qor::test::workCpuSeconds() - start) / double(state.iterations());
}

// Reads the largest STEP file of the state's number through `import` at each iteration.
template <typename Import> void timedImports(benchmark::State& state, Import import)
{
    const QString* file = prepare(state);
    if (!file)
        return;
    timed(state, [&] {
        const qor::io::ImportResult result = import(*file);
        if (!result.ok)
            state.SkipWithError("import failed");
        benchmark::DoNotOptimize(result.bodies.data());
    });
}

void BM_ImportFileStep(benchmark::State& state)
{
    timedImports(state, [](const QString& file) { return qor::io::importFile(file, {}); });
}

// The same through a reader process started afresh for each read, as without the server.
void BM_FreshReaderStep(benchmark::State& state)
{
    const QString program = qor::io::readerProgram();
    timedImports(state, [&program](const QString& file) {
        qor::io::ImportResult result;
        qor::io::readInReaderProcess(program, file, {}, {}, result, qor::io::ReaderStart::fresh);
        return result;
    });
}

void BM_BareStepReader(benchmark::State& state)
{
    const QString* file = prepare(state);
    if (!file)
        return;
    const QByteArray name = file->toLocal8Bit();
    timed(state, [&] { readBare(state, name); });
}

// Both readers on the same file in turns, the order alternating, so that a busy machine
// weighs on both alike: the counters give each one's wall and processor time per read and
// the front end's share of the bare reader's, over the repetition.
void BM_FrontEndBesideBare(benchmark::State& state)
{
    const QString* file = prepare(state);
    if (!file)
        return;
    const QByteArray name = file->toLocal8Bit();
    double wall[2] = {0, 0};
    double cpu[2] = {0, 0};
    const auto measure = [&](int which) {
        const double cpuStart = qor::test::workCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        if (which == 0) {
            readBare(state, name);
        } else {
            const qor::io::ImportResult result = qor::io::importFile(*file, {});
            if (!result.ok)
                state.SkipWithError("import failed");
        }
        wall[which] += double(clock.nsecsElapsed()) / 1e9;
        cpu[which] += qor::test::workCpuSeconds() - cpuStart;
    };
    std::int64_t turn = 0;
    for (auto _ : state) {
        const int first = int(turn++ % 2);
        measure(first);
        measure(1 - first);
    }
    const double reads = double(state.iterations());
    state.counters["bare_wall"] = wall[0] / reads;
    state.counters["bare_cpu"] = cpu[0] / reads;
    state.counters["front_wall"] = wall[1] / reads;
    state.counters["front_cpu"] = cpu[1] / reads;
    state.counters["wall_ratio"] = wall[1] / wall[0];
    state.counters["cpu_ratio"] = cpu[1] / cpu[0];
}

// A STEP file of 1,100 uncoloured boxes, each a part of its own, written once per run.
const QString& manyBoxesFile()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString name = dir.filePath(QStringLiteral("kisten.step"));
        QFile file(name);
        const QByteArray step = qor::fixtures::stepManyBoxes(1100);
        return file.open(QIODevice::WriteOnly) && file.write(step) == step.size() ? name
                                                                                  : QString();
    }();
    return path;
}

// The collection of the bodies and their colours from the kernel's document of the boxes,
// beside the kernel's read into that document: "collect_cpu" and "read_cpu" are seconds
// per read.
void BM_CollectManyBoxes(benchmark::State& state)
{
    const QByteArray name = manyBoxesFile().toLocal8Bit();
    STEPControl_Controller::Init();
    double read = 0;
    double collect = 0;
    for (auto _ : state) {
        const double start = qor::test::cpuSeconds();
        Handle(TDocStd_Document) document = qor::io::newXcafDocument();
        STEPCAFControl_Reader reader;
        reader.SetColorMode(true);
        reader.SetNameMode(true);
        if (reader.ReadFile(name.constData()) != IFSelect_RetDone || !reader.Transfer(document))
            state.SkipWithError("read failed");
        const double transferred = qor::test::cpuSeconds();
        qor::io::ImportResult result;
        qor::io::collectXcafBodies(document, result);
        if (result.bodies.size() != 1100)
            state.SkipWithError("not one body per box");
        collect += qor::test::cpuSeconds() - transferred;
        read += transferred - start;
        qor::io::closeXcafDocument(document);
    }
    state.counters["read_cpu"] = read / double(state.iterations());
    state.counters["collect_cpu"] = collect / double(state.iterations());
}

// The same file through the program's import, reader process included ("cpu_all").
void BM_ImportManyBoxes(benchmark::State& state)
{
    qor::io::keepOnlyKernelFailures();
    qor::io::startReaderServer(qor::io::readerProgram());
    const QString& file = manyBoxesFile();
    timed(state, [&] {
        const qor::io::ImportResult result = qor::io::importFile(file, {});
        if (result.bodies.size() != 1100)
            state.SkipWithError("not one body per box");
    });
}

// One assembly placing a box range(0) times side by side (range(1) = 1), or range(1) levels
// each placing the next range(0) times, with two shape links on every range(2)-th placement
// (0: one link each): the program's import, reader process included, with "cpu_all" its
// processor seconds per read.
void BM_ImportPlacedBoxes(benchmark::State& state)
{
    qor::io::keepOnlyKernelFailures();
    qor::io::startReaderServer(qor::io::readerProgram());
    const int perLevel = int(state.range(0));
    const int levels = int(state.range(1));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("reihe.step"));
    QFile file(path);
    const QByteArray step = qor::fixtures::stepBoxGrid(levels, perLevel, int(state.range(2)));
    if (!file.open(QIODevice::WriteOnly) || file.write(step) != step.size()) {
        state.SkipWithError("file not written");
        return;
    }
    file.close();
    std::size_t expected = 1;
    for (int level = 0; level < levels; ++level)
        expected *= std::size_t(perLevel);
    timed(state, [&] {
        const qor::io::ImportResult result = qor::io::importFile(path, {});
        if (result.bodies.size() != expected)
            state.SkipWithError("not one body per placement");
    });
}

// On a busy machine the fastest repetition says more than the mean; run with
// --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true.
double fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

} // namespace

BENCHMARK(BM_BareStepReader)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_ImportFileStep)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_FreshReaderStep)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_FrontEndBesideBare)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_CollectManyBoxes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_ImportPlacedBoxes)
    ->Args({2000, 1, 0})
    ->Args({5000, 1, 0})
    ->Args({10000, 1, 0})
    ->Args({20000, 1, 0})
    ->Args({6, 6, 0})
    ->Args({2000, 1, 3})
    ->Args({5000, 1, 3})
    ->Args({10000, 1, 3})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_ImportManyBoxes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
