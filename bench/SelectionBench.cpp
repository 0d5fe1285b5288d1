#include "model/DocumentController.h"
#include "model/ExecContext.h"
#include "tests/common/CpuTime.h"
#include "tests/common/ProcessMemory.h"
#include "tests/fixtures/InstancedAssembly.h"
#include "tests/gl/ViewPointer.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <benchmark/benchmark.h>

#include <malloc.h>

// Rectangle selections in the 3D view; run under Xvfb, the view needs an OpenGL surface.
namespace {

using qor::app::DocumentController;
using qor::app::Scene;
using qor::app::Viewer;

// Resident size now, after handing freed memory back to the system.
double rssMB()
{
    malloc_trim(0);
    return double(qor::test::statusKilobytes("VmRSS:")) / 1024.0;
}

// The view of an assembly of count placements of one part, seen from above.
struct AssemblyView {
    explicit AssemblyView(int count)
    {
        viewer.resize(1280, 800);
        viewer.show();
        QTest::qWaitForWindowExposed(&viewer);
        QTest::qWait(50);
        controller.open(qor::test::writeInstancedAssembly(folder.path(), count));
        scene.rebuild();
        viewer.setViewOrientation(V3d_Zpos, false);
        viewer.fitAll(false);
        frame();
    }
    void frame() { benchmark::DoNotOptimize(viewer.grabFramebuffer()); }
    // The renderer makes what it needs to draw a highlight once: a click on one placement and
    // its clearing, so that this is not counted as the rectangle's.
    void highlightOnce()
    {
        const QPoint at = viewer.toScreen(gp_Pnt(10.0, 8.0, 20.0));
        qor::test::sendMouse(viewer, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
        qor::test::sendMouse(viewer, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        qor::test::sendMouse(viewer, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
        if (scene.selectedPicks().empty())
            std::abort(); // the click missed the first placement
        scene.clearSelection();
        frame();
    }
    // Three redrawn frames; the CPU time of one.
    double redrawMs()
    {
        const double start = qor::test::cpuSeconds() * 1e3;
        for (int i = 0; i < 3; ++i) {
            viewer.requestRedraw();
            frame();
        }
        return (qor::test::cpuSeconds() * 1e3 - start) / 3.0;
    }
    QRect around() const
    {
        return viewer.screenBox(qor::model::modelBox(controller.document->current))
            .adjusted(-8, -8, 8, 8);
    }

    QTemporaryDir folder;
    Viewer viewer;
    DocumentController controller;
    Scene scene{&viewer, &controller};
};

// A rectangle dragged around every placement, as the user selects them all, then three
// redrawn frames and the selection cleared as Esc clears it. The time is the process's CPU
// time (the software rasteriser draws in threads of its own) of those steps; the counters
// give each step's CPU time (the selection's from the button's release to its first frame;
// a frame also without the selection), the resident size before, its growth with the
// selection, what is left of that growth after the clearing, and the picks reported.
void selectPlacements(benchmark::State& state)
{
    AssemblyView view(int(state.range(0)));
    view.highlightOnce();
    const double plainFrameMs = view.redrawMs();
    const double before = rssMB();
    double selectMs = 0.0;
    double frameMs = 0.0;
    double clearMs = 0.0;
    double selected = 0.0;
    double cleared = 0.0;
    std::size_t picks = 0;
    for (auto _ : state) {
        qor::test::startDrag(view.viewer, view.around());
        double start = qor::test::cpuSeconds() * 1e3;
        qor::test::endDrag(view.viewer, view.around());
        selectMs = qor::test::cpuSeconds() * 1e3 - start;
        picks = view.scene.selectedPicks().size();
        frameMs = view.redrawMs();
        state.PauseTiming();
        selected = rssMB();
        state.ResumeTiming();
        start = qor::test::cpuSeconds() * 1e3;
        view.scene.clearSelection();
        view.frame();
        clearMs = qor::test::cpuSeconds() * 1e3 - start;
        state.PauseTiming();
        cleared = rssMB();
        state.ResumeTiming();
    }
    state.counters["selectCpuMs"] = selectMs;
    state.counters["plainFrameCpuMs"] = plainFrameMs;
    state.counters["frameCpuMs"] = frameMs;
    state.counters["clearCpuMs"] = clearMs;
    state.counters["rssBeforeMB"] = before;
    state.counters["rssAddedMB"] = selected - before;
    state.counters["rssKeptMB"] = cleared - before;
    state.counters["picks"] = double(picks);
}

} // namespace

BENCHMARK(selectPlacements)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime();

// The application lives on main's stack: as a function-local static it would outlive the
// toolkit's thread storage and crash the exit.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
