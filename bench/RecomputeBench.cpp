#include "model/Document.h"

#include <QJsonArray>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <set>
#include <stdexcept>

// A part of 100 features: a plate from a dimensioned sketch, 24 rounds of a
// hole (sketch and cutting extrusion), a boss (box joined to the plate) and a
// construction plane, and a last sketch with a joined extrusion.

namespace {

using qor::model::Document;
using qor::model::Feature;
using qor::sketch::ConstraintType;

constexpr int rounds = 24;

QJsonObject xyPlane()
{
    return {{"kind", "origin"}, {"id", -1}};
}

QJsonObject extrusion(int sketchId, const QString& distance, const QString& op)
{
    return {{"profile", QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", sketchId}}}},
            {"distance", distance},
            {"op", op}};
}

// A rectangle from (u, v) with two length dimensions, fully held.
Feature* rectangleSketch(Document& doc, double u, double v, double w, double h)
{
    Feature* f = doc.addSketch(xyPlane());
    qor::sketch::Sketch& s = *f->sketch;
    const int bottom = int(s.addLineAt(false, u, v, u + w, v));
    const int right = int(s.addLineAt(false, u + w, v, u + w, v + h));
    const int top = int(s.addLineAt(false, u + w, v + h, u, v + h));
    const int left = int(s.addLineAt(false, u, v + h, u, v));
    s.addConstraint(ConstraintType::Coincident, s.endPoint(bottom), s.startPoint(right), -1, 0);
    s.addConstraint(ConstraintType::Coincident, s.endPoint(right), s.startPoint(top), -1, 0);
    s.addConstraint(ConstraintType::Coincident, s.endPoint(top), s.startPoint(left), -1, 0);
    s.addConstraint(ConstraintType::Coincident, s.endPoint(left), s.startPoint(bottom), -1, 0);
    s.addConstraint(ConstraintType::Horizontal, bottom, -1, -1, 0);
    s.addConstraint(ConstraintType::Horizontal, top, -1, -1, 0);
    s.addConstraint(ConstraintType::Vertical, left, -1, -1, 0);
    s.addConstraint(ConstraintType::Vertical, right, -1, -1, 0);
    s.addConstraint(ConstraintType::Fixed, s.startPoint(bottom), -1, -1, 0);
    s.addDimension(ConstraintType::Distance, bottom, -1, -1);
    s.addDimension(ConstraintType::Distance, left, -1, -1);
    return f;
}

Feature* circleSketch(Document& doc, double u, double v, double r)
{
    Feature* f = doc.addSketch(xyPlane());
    qor::sketch::Sketch& s = *f->sketch;
    const int circle = int(s.addCircleAt(false, u, v, r));
    s.addConstraint(ConstraintType::Fixed, s.findEntity(circle)->a, -1, -1, 0);
    s.addDimension(ConstraintType::Diameter, circle, -1, -1);
    return f;
}

Document buildPart()
{
    Document doc;
    Feature* plate = rectangleSketch(doc, 0, 0, 240, 120);
    doc.addFeature("extrude", extrusion(plate->id, "10 mm", "new"));
    for (int i = 0; i < rounds; ++i) {
        const double u = 15 + (i % 8) * 30;
        const double v = 20 + (i / 8) * 40;
        Feature* hole = circleSketch(doc, u, v, 5);
        doc.addFeature("extrude", extrusion(hole->id, "12 mm", "cut"));
        doc.addFeature("box", {{"x", QString::number(u)},
                               {"y", QString::number(v + 15)},
                               {"length", "8"},
                               {"width", "8"},
                               {"height", "15"},
                               {"op", "join"}});
        doc.addFeature("plane", {{"offset", QString::number(i + 1)}});
    }
    Feature* rib = rectangleSketch(doc, 0, 118, 240, 2);
    doc.addFeature("extrude", extrusion(rib->id, "20 mm", "join"));
    if (doc.features.size() != 100)
        throw std::logic_error("the benchmark part must have 100 features");
    if (doc.recompute() != 0)
        throw std::logic_error("the benchmark part must recompute without errors");
    return doc;
}

// How many non-sketch features one recompute ran: the keys it added to the cache.
std::size_t executedFeatures(Document& doc)
{
    const std::set<std::uint64_t> known(doc.cacheOrder.begin(), doc.cacheOrder.end());
    doc.recompute();
    return std::size_t(std::count_if(doc.cacheOrder.begin(), doc.cacheOrder.end(),
                                     [&](std::uint64_t key) { return !known.count(key); }));
}

void fullRecompute(benchmark::State& state)
{
    Document doc = buildPart();
    for (auto _ : state) {
        doc.clearRecomputeCache();
        benchmark::DoNotOptimize(doc.recompute());
    }
    doc.clearRecomputeCache();
    state.counters["executed"] = double(executedFeatures(doc));
}

// Values not seen before, so that the edited feature never comes from the cache.
void editLastDistance(benchmark::State& state)
{
    Document doc = buildPart();
    Feature& last = *doc.features.back();
    int step = 0;
    auto edit = [&] {
        last.params.insert("distance", QString::number(20.0 + 0.001 * ++step) + " mm");
    };
    for (auto _ : state) {
        edit();
        benchmark::DoNotOptimize(doc.recompute());
    }
    edit();
    state.counters["executed"] = double(executedFeatures(doc));
}

void editFirstSketchDimension(benchmark::State& state)
{
    Document doc = buildPart();
    qor::sketch::Constraint& width = doc.features.front()->sketch->constraints[9];
    int step = 0;
    auto edit = [&] {
        width.expression = (QString::number(240.0 + 0.01 * ++step) + " mm").toStdString();
    };
    for (auto _ : state) {
        edit();
        benchmark::DoNotOptimize(doc.recompute());
    }
    edit();
    state.counters["executed"] = double(executedFeatures(doc));
}

} // namespace

BENCHMARK(fullRecompute)->Unit(benchmark::kMillisecond);
BENCHMARK(editLastDistance)->Unit(benchmark::kMillisecond);
BENCHMARK(editFirstSketchDimension)->Unit(benchmark::kMillisecond);
