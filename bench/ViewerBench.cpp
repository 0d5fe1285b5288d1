#include "view/Viewer.h"

#include <AIS_Shape.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

// Frame costs of the 3D view; needs a display: run under xvfb-run.
namespace {

// A shown 800 x 600 view with a box that has a hole through it.
struct ShownView {
    ShownView()
    {
        viewer.resize(800, 600);
        viewer.show();
        QElapsedTimer waited;
        waited.start();
        while (!viewer.firstFrameDrawn() && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const TopoDS_Shape body = BRepAlgoAPI_Cut(
            BRepPrimAPI_MakeBox(80, 60, 30).Shape(),
            BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(40, 30, -1), gp::DZ()), 12, 32).Shape());
        viewer.context()->Display(new AIS_Shape(body), AIS_Shaded, 0, false);
        viewer.setViewOrientation(V3d_XposYnegZpos, false);
    }
    qor::app::Viewer viewer;
};

// One arrow-key orbit step and the frame that shows it.
void orbitStep(benchmark::State& state)
{
    ShownView shown;
    for (auto _ : state) {
        shown.viewer.orbit(5, 0);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(orbitStep)->Unit(benchmark::kMillisecond);

void rasterCapture(benchmark::State& state)
{
    ShownView shown;
    for (auto _ : state)
        benchmark::DoNotOptimize(shown.viewer.grabImage(1920, 1080));
}
BENCHMARK(rasterCapture)->Unit(benchmark::kMillisecond);

} // namespace

// The application lives on main's stack: as a function-local static it would outlive the
// toolkit's thread storage and crash the exit.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
