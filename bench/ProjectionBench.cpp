#include "app/Examples.h"
#include "drawing/Projection.h"
#include "model/DocumentController.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Builder.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Compound.hxx>

#include <benchmark/benchmark.h>

#include <array>

namespace {

using qor::app::Drawing;

// The views of the standard arrangement: front, top and left with hidden lines,
// the isometric view without.
constexpr std::array<std::pair<int, bool>, 4> standardViews{
    {{0, true}, {1, true}, {3, true}, {6, false}}};

TopoDS_Compound exampleBodies(const QString& kind)
{
    qor::app::DocumentController controller;
    qor::app::buildExample(controller, kind);
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    for (const auto& [id, body] : controller.document->current.bodies)
        builder.Add(compound, body.shape);
    return compound;
}

// A 250 × 240 × 12 plate with 25 × 24 holes counterbored from both sides: 3,006 faces.
TopoDS_Shape counterboredPlate()
{
    TopTools_ListOfShape tools;
    for (int i = 0; i < 25; ++i) {
        for (int j = 0; j < 24; ++j) {
            const double x = 5 + 10 * i;
            const double y = 5 + 10 * j;
            tools.Append(BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x, y, -1), gp::DZ()), 2, 14));
            tools.Append(BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x, y, -1), gp::DZ()), 4, 4));
            tools.Append(BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x, y, 9), gp::DZ()), 4, 4));
        }
    }
    TopTools_ListOfShape arguments;
    arguments.Append(BRepPrimAPI_MakeBox(250, 240, 12).Shape());
    BRepAlgoAPI_Cut cut;
    cut.SetArguments(arguments);
    cut.SetTools(tools);
    cut.Build();
    return cut.Shape();
}

void projectStandardViews(benchmark::State& bench, const TopoDS_Shape& shape, bool exact)
{
    std::size_t primitives = 0;
    for (auto _ : bench) {
        primitives = 0;
        for (const auto& [kind, hidden] : standardViews)
            primitives += qor::app::projectView(shape, kind, hidden, exact).primitives.size();
    }
    bench.counters["faces"] = qor::app::countFaces(shape, 1 << 30);
    bench.counters["primitives"] = static_cast<double>(primitives);
}

void examplePart(benchmark::State& bench, const char* kind, bool exact)
{
    projectStandardViews(bench, exampleBodies(QString::fromLatin1(kind)), exact);
}

void platePart(benchmark::State& bench, bool exact)
{
    static const TopoDS_Shape plate = counterboredPlate();
    projectStandardViews(bench, plate, exact);
}

// A repaint of the bracket's four views with an unchanged model.
void cachedRepaint(benchmark::State& bench)
{
    qor::app::DocumentController controller;
    qor::app::buildExample(controller, QStringLiteral("bracket"));
    const Drawing sheet;
    qor::app::ProjectionCache cache;
    for (auto _ : bench) {
        for (const auto& [kind, hidden] : standardViews) {
            const Drawing::View view{.type = kind, .hidden = hidden};
            benchmark::DoNotOptimize(cache.projectedView(*controller.document, sheet, view));
        }
    }
}

} // namespace

BENCHMARK_CAPTURE(examplePart, bracket_exact, "bracket", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(examplePart, bracket_poly, "bracket", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(examplePart, flange_exact, "flange", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(examplePart, flange_poly, "flange", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(examplePart, housing_exact, "housing", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(examplePart, housing_poly, "housing", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(platePart, plate3006_exact, true)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(platePart, plate3006_poly, false)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(cachedRepaint)->Unit(benchmark::kMicrosecond);
