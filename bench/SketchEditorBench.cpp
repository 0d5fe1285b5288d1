// The sketch editor's drag step and overlay painting on the 100-rectangle chain (under Xvfb).
#include "model/DocumentController.h"
#include "model/ShapeSignature.h"
#include "tests/common/RectangleChain.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"
#include "view/sketch/SketchOverlay.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

#include <benchmark/benchmark.h>

namespace {

struct Setup {
    qor::app::DocumentController controller;
    qor::app::Viewer viewer;
    std::unique_ptr<qor::app::SketchEditor> editor;
    int corner = -1;

    Setup()
    {
        viewer.resize(1280, 800);
        viewer.show();
        (void)QTest::qWaitForWindowExposed(&viewer);
        QTest::qWait(300); // the view gets its window at the first paint
        auto* feature = controller.document->addSketch(qor::model::datumReferenceJson(-1));
        const auto chain = qor::sketch::fixtures::addRectangleChain(*feature->sketch, 100, true);
        corner = chain.front().corners[2]; // within the default view field
        controller.recompute();
        editor = std::make_unique<qor::app::SketchEditor>(controller, viewer, nullptr, feature->id);
        viewer.fitAll(false);
        viewer.zoom(8.0); // points well apart from the labels
    }
};

std::unique_ptr<Setup> instance;

Setup& setup()
{
    if (!instance)
        instance = std::make_unique<Setup>();
    return *instance;
}

// Press on the last corner, then one mouse move per iteration through the editor's mouse path.
void dragStep(benchmark::State& state)
{
    Setup& s = setup();
    // Drop the chain's Fixiert (its last constraint) so that the drag can move it.
    auto& sketch = s.editor->sketch();
    sketch.constraints.pop_back();
    s.editor->commitChange();
    const auto& mapper = s.editor->mapper();
    const QPointF from = mapper.toPixel(sketch.pointPosition(s.corner));
    QMouseEvent press(QEvent::MouseButtonPress, from, from, Qt::LeftButton, Qt::LeftButton, {});
    s.editor->mousePress(&press);
    int i = 0;
    for (auto _ : state) {
        const QPointF at = from + QPointF(0, 5 + (i++ % 20));
        QMouseEvent move(QEvent::MouseMove, at, at, Qt::NoButton, Qt::LeftButton, {});
        s.editor->mouseMove(&move);
    }
    if ((mapper.toPixel(sketch.pointPosition(s.corner)) - from).manhattanLength() < 4.0)
        state.SkipWithError("the corner did not follow the mouse");
    QMouseEvent release(QEvent::MouseButtonRelease, from, from, Qt::LeftButton, {}, {});
    s.editor->mouseRelease(&release);
}

void paintFrames(benchmark::State& state, Setup& s)
{
    QImage image(1280, 800, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        s.editor->paintOverlay(painter);
    }
}

void paintOverlay(benchmark::State& state)
{
    paintFrames(state, setup());
}

// All 100 rectangles in view: every curve, point and label is painted.
void paintWholeSketch(benchmark::State& state)
{
    Setup& s = setup();
    s.viewer.fitAll(false);
    paintFrames(state, s);
    s.viewer.zoom(8.0);
}

} // namespace

BENCHMARK(dragStep)->Unit(benchmark::kMillisecond);
BENCHMARK(paintOverlay)->Unit(benchmark::kMillisecond);
BENCHMARK(paintWholeSketch)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    instance.reset();
    return 0;
}
