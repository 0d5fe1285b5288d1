#include "ui/theme/Theme.h"
#include "model/DocumentController.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <benchmark/benchmark.h>

// Run under Xvfb: the 3D view needs an OpenGL surface.
namespace {

using qor::app::DocumentController;
using qor::app::Scene;
using qor::app::Viewer;

QApplication& application()
{
    static int argc = 1;
    static char name[] = "SceneBench";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

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

    QApplication& app = application(); // before any widget
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
        scene.rebuild();
        view.viewer.fitAll(false);
        view.frame();
        state.PauseTiming();
        view.viewer.context()->RemoveAll(false);
        view.viewer.setViewCubeVisible(true);
        state.ResumeTiming();
    }
}

void rebuildAfterOneBodyChanged(benchmark::State& state)
{
    View view;
    view.controller.open(view.path);
    Scene scene(&view.viewer, &view.controller);
    scene.rebuild();
    view.viewer.fitAll(false);
    view.frame();
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
    scene.rebuild();
    view.viewer.fitAll(false);
    view.frame();
    for (auto _ : state) {
        view.viewer.orbit(4, 1);
        view.frame();
    }
}

} // namespace

BENCHMARK(firstFrameAfterLoading)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(rebuildAfterOneBodyChanged)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(orbitStep)->Unit(benchmark::kMillisecond)->Iterations(50);
