#include "app/MainWindow.h"
#include "io/Import.h"
#include "io/ShapeText.h"
#include "model/DocumentController.h"
#include "tests/common/CpuTime.h"
#include "tests/fixtures/HoledPlatePart.h"
#include "tests/fixtures/HostileAssemblies.h"
#include "tests/fixtures/InstancedAssembly.h"
#include "tests/fixtures/StlFixtures.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Run under Xvfb: the 3D view needs an OpenGL surface.
// "SceneBench --write-assembly FOLDER COUNT" writes the instanced assembly of the assembly
// cases and exits, for measuring the whole program on it; "SceneBench --write-box-grid FILE
// LEVELS PERLEVEL" writes a STEP file placing one box PERLEVEL^LEVELS times; "SceneBench
// --open-in-window FILE IMAGE" opens a file in the main window as the user does, saves the
// window once it shows and prints the time and memory it took.
namespace {

using qor::app::DocumentController;
using qor::app::Scene;
using qor::app::Viewer;

// A part of 100 cylinders on a 10 x 10 grid, each its own body.
QString hundredBodyPart(const QTemporaryDir& folder)
{
    qor::model::Document doc;
    for (int i = 0; i < 100; ++i) {
        doc.addFeature(
            QStringLiteral("cylinder"),
            {{"x", (i % 10) * 40}, {"y", (i / 10) * 40}, {"diameter", 30}, {"op", "new"}});
    }
    const QString path = folder.filePath(QStringLiteral("teile.qorcad"));
    doc.save(path);
    return path;
}

struct View {
    View()
    {
        viewer.resize(800, 600);
        viewer.show();
        QTest::qWaitForWindowExposed(&viewer);
        QTest::qWait(50);
    }
    // One finished frame: paints through the view and reads the frame back.
    void frame() { benchmark::DoNotOptimize(viewer.grabFramebuffer()); }
    // The scene built from the open document, fitted and shown in one frame.
    void showAll(Scene& scene)
    {
        scene.rebuild();
        viewer.fitAll(false);
        frame();
    }
    // Empties the view again (the view cube included) so the next round starts clean.
    void clear()
    {
        viewer.context()->RemoveAll(false);
        viewer.setViewCubeVisible(true);
    }

    Viewer viewer;
    DocumentController controller;
    QTemporaryDir folder;
    QString path = hundredBodyPart(folder);
};

void firstFrameAfterLoading(benchmark::State& state)
{
    View view;
    for (auto _ : state) {
        state.PauseTiming();
        view.controller.open(view.path); // new shapes: nothing is tessellated yet
        Scene scene(&view.viewer, &view.controller);
        state.ResumeTiming();
        view.showAll(scene);
        state.PauseTiming();
        view.clear();
        state.ResumeTiming();
    }
}

void rebuildAfterOneBodyChanged(benchmark::State& state)
{
    View view;
    view.controller.open(view.path);
    Scene scene(&view.viewer, &view.controller);
    view.showAll(scene);
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        view.controller.document->features.back()->params["height"] = 30 + (++step % 7);
        view.controller.recompute();
        state.ResumeTiming();
        scene.rebuild();
        view.frame();
    }
}

void orbitStep(benchmark::State& state)
{
    View view;
    view.controller.open(view.path);
    Scene scene(&view.viewer, &view.controller);
    view.showAll(scene);
    for (auto _ : state) {
        view.viewer.orbit(4, 1);
        view.frame();
    }
}

// Showing a body read from an STL file: state.range(0) perforated plates (2,220 triangles
// each) side by side in one file, creased and shaded in one frame.
void showMeshBody(benchmark::State& state)
{
    View view;
    const std::vector<qor::fixtures::Triangle> plate
        = qor::fixtures::meshedTriangles(qor::fixtures::perforatedPlate(), 0.002);
    std::vector<qor::fixtures::Triangle> triangles;
    // Off the round millimetres: the kernel's reader takes a binary file for text when its
    // first 134 bytes are all below 127, as a blank header, a round count and round
    // coordinates can be.
    for (int i = 0; i < state.range(0); ++i) {
        const auto copy = qor::fixtures::moved(plate, 0.3f + float(90 * (i % 10)),
                                               0.3f + float(50 * (i / 10)), 0.3f);
        triangles.insert(triangles.end(), copy.begin(), copy.end());
    }
    QFile file(view.folder.filePath(QStringLiteral("teil.stl")));
    file.open(QIODevice::WriteOnly);
    file.write(qor::fixtures::binaryStl(triangles, std::uint32_t(triangles.size())));
    file.close();
    const qor::io::ImportResult read = qor::io::readInThisProcess(file.fileName(), {}, {});
    view.controller.document->addFeature(
        QStringLiteral("import"),
        {{"file", file.fileName()}, {"brep", qor::io::shapeToBase64(read.bodies.front().shape)}});
    view.controller.recompute();
    for (auto _ : state) {
        Scene scene(&view.viewer, &view.controller);
        view.showAll(scene);
        state.PauseTiming();
        view.clear();
        state.ResumeTiming();
    }
    state.counters["triangles"] = double(triangles.size());
}

// Opening a plate with state.range(0) holes as the window does: the recompute, then its
// one body meshed and shown in a frame. The counters give the processor time of each.
void openHoledPlate(benchmark::State& state)
{
    View view;
    const QString path = qor::test::writeHoledPlatePart(view.folder.path(), int(state.range(0)));
    double recompute = 0.0;
    double shown = 0.0;
    for (auto _ : state) {
        const double start = qor::test::cpuSeconds(RUSAGE_SELF);
        view.controller.open(path);
        const double opened = qor::test::cpuSeconds(RUSAGE_SELF);
        Scene scene(&view.viewer, &view.controller);
        view.showAll(scene);
        const double end = qor::test::cpuSeconds(RUSAGE_SELF);
        recompute += opened - start;
        shown += end - opened;
        state.PauseTiming();
        if (view.controller.document->current.bodies.get().size() != 1
            || scene.bodyObject(view.controller.document->current.bodies.get().begin()->first)
                   .IsNull())
            state.SkipWithError("the plate was not shown");
        view.clear();
        state.ResumeTiming();
    }
    state.counters["recomputeCpuS"]
        = benchmark::Counter(recompute, benchmark::Counter::kAvgIterations);
    state.counters["showCpuS"] = benchmark::Counter(shown, benchmark::Counter::kAvgIterations);
}

double peakRssMB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

int openInWindow(const QString& file, const QString& image)
{
    qor::app::Theme::instance().apply(*qApp);
    qor::app::MainWindow window;
    window.resize(1600, 980);
    window.show();
    QTest::qWaitForWindowExposed(&window);
    QTest::qWait(200);
    const double cpuBefore = qor::test::cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    window.openFile(file);
    window.viewer->grabFramebuffer();
    const qint64 wall = clock.elapsed();
    const double cpu = qor::test::cpuSeconds(RUSAGE_SELF) - cpuBefore;
    std::printf("%s: %lld ms wall, %.1f s CPU (window), %.1f s CPU (readers), peak %.0f MB\n",
                file.toLocal8Bit().constData(), static_cast<long long>(wall), cpu,
                qor::test::cpuSeconds(RUSAGE_CHILDREN), peakRssMB());
    QTest::qWait(500);
    return window.grabWindowImage(&window).save(image) ? 0 : 1;
}

// Opening an assembly of many placements of one part and showing its first frame; the
// counter peakRssMB is the process's peak resident size afterwards.
void openInstancedAssembly(benchmark::State& state)
{
    View view;
    const QString path = qor::test::writeInstancedAssembly(view.folder.path(), int(state.range(0)));
    for (auto _ : state) {
        view.controller.open(path);
        Scene scene(&view.viewer, &view.controller);
        view.showAll(scene);
        state.PauseTiming();
        view.clear();
        state.ResumeTiming();
    }
    state.counters["peakRssMB"] = peakRssMB();
}

// One orbit step with every placement in view.
void orbitInstancedAssembly(benchmark::State& state)
{
    View view;
    view.controller.open(
        qor::test::writeInstancedAssembly(view.folder.path(), int(state.range(0))));
    Scene scene(&view.viewer, &view.controller);
    view.showAll(scene);
    for (auto _ : state) {
        view.viewer.orbit(4, 1);
        view.frame();
    }
}

// A rebuild that changes nothing, as after a selection-mask change, and one that hides a
// single placement.
void rebuildInstancedAssembly(benchmark::State& state)
{
    View view;
    view.controller.open(
        qor::test::writeInstancedAssembly(view.folder.path(), int(state.range(0))));
    Scene scene(&view.viewer, &view.controller);
    view.showAll(scene);
    auto& hidden = view.controller.document->hidden;
    const int someBody = view.controller.document->current.bodies.rbegin()->first;
    for (auto _ : state) {
        hidden[someBody] = !hidden[someBody];
        scene.rebuild();
    }
}

} // namespace

BENCHMARK(rebuildInstancedAssembly)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4);
BENCHMARK(openInstancedAssembly)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(orbitInstancedAssembly)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(firstFrameAfterLoading)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(rebuildAfterOneBodyChanged)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(showMeshBody)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(openHoledPlate)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(orbitStep)->Unit(benchmark::kMillisecond)->Iterations(50);

// The application lives on main's stack: as a function-local static it would outlive the
// toolkit's thread storage and crash the exit.
int main(int argc, char** argv)
{
    if (argc == 4 && std::string_view(argv[1]) == "--write-assembly") {
        const QString path = qor::test::writeInstancedAssembly(QString::fromLocal8Bit(argv[2]),
                                                               std::atoi(argv[3]));
        std::puts(path.toLocal8Bit().constData());
        return path.isEmpty() ? 1 : 0;
    }
    if (argc == 4 && std::string_view(argv[1]) == "--write-holed-plate") {
        const QString path = qor::test::writeHoledPlatePart(QString::fromLocal8Bit(argv[2]),
                                                            std::atoi(argv[3]));
        std::puts(path.toLocal8Bit().constData());
        return QFileInfo::exists(path) ? 0 : 1;
    }
    if (argc == 5 && std::string_view(argv[1]) == "--write-box-grid") {
        QFile file(QString::fromLocal8Bit(argv[2]));
        const QByteArray step = qor::fixtures::stepBoxGrid(std::atoi(argv[3]), std::atoi(argv[4]));
        return file.open(QIODevice::WriteOnly) && file.write(step) == step.size() ? 0 : 1;
    }
    QApplication app(argc, argv);
    if (argc == 4 && std::string_view(argv[1]) == "--open-in-window")
        return openInWindow(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
