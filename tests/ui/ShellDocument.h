#pragma once

#include "model/DocumentController.h"
#include "sketch/Sketch.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QWidget>

namespace qor::test {

inline qor::model::Feature* addRectangleSketch(qor::model::Document& doc, int plane, double w,
                                               double h)
{
    qor::model::Feature* f = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", plane}});
    const double xs[4] = {0, w, w, 0};
    const double ys[4] = {0, 0, h, h};
    for (int i = 0; i < 4; ++i)
        f->sketch->addLineAt(false, xs[i], ys[i], xs[(i + 1) % 4], ys[(i + 1) % 4]);
    return f;
}

// A recomputed part of a dozen features as a user builds one: sketches, extrusions,
// primitives, a work plane and axis, a fillet without edges (an error) and a suppressed
// sphere, with two parameters.
inline void buildShellPart(qor::app::DocumentController& controller)
{
    qor::model::Document& doc = *controller.document;
    doc.name = QStringLiteral("Lagerbock");
    doc.parameters.push_back({QStringLiteral("breite"), QStringLiteral("40 mm")});
    doc.parameters.push_back({QStringLiteral("höhe"), QStringLiteral("30 mm")});
    const int base = addRectangleSketch(doc, -1, 40, 30)->id;
    doc.addFeature(QStringLiteral("extrude"),
                   {{"profile", QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", base}}}},
                    {"extent", "dist"},
                    {"distance", "12 mm"},
                    {"op", "new"}});
    doc.addFeature(QStringLiteral("plane"));
    doc.addFeature(QStringLiteral("axis"));
    addRectangleSketch(doc, -2, 10, 10);
    doc.addFeature(QStringLiteral("cylinder"));
    doc.addFeature(QStringLiteral("fillet"));
    doc.addFeature(QStringLiteral("sphere"))->suppressed = true;
    doc.addFeature(QStringLiteral("box"));
    doc.addFeature(QStringLiteral("chamfer"));
    doc.addFeature(QStringLiteral("torus"));
    doc.addFeature(QStringLiteral("pattern_circ"));
    controller.recompute();
}

// Widgets rendered for people to look at land in the build folder's ui-shots.
inline bool saveShot(QWidget& widget, const QString& name)
{
    const QString folder = QStringLiteral(QOR_TEST_OUTPUT "/ui-shots");
    QDir().mkpath(folder);
    return widget.grab().save(folder + QLatin1Char('/') + name);
}

} // namespace qor::test
