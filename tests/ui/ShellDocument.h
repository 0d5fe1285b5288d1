#pragma once

#include "model/DocumentController.h"
#include "sketch/Sketch.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QWidget>

namespace qor::test {

inline int addRectangleSketch(qor::model::Document& doc, int plane, double w, double h)
{
    qor::model::Feature* f = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", plane}});
    f->sketch->addLineAt(false, 0, 0, w, 0);
    f->sketch->addLineAt(false, w, 0, w, h);
    f->sketch->addLineAt(false, w, h, 0, h);
    f->sketch->addLineAt(false, 0, h, 0, 0);
    return f->id;
}

// A recomputed part of a dozen features: sketches, an extrusion, primitives, a work plane
// and axis, features without input (errors) and a suppressed sphere; two parameters.
inline void buildShellPart(qor::app::DocumentController& controller)
{
    qor::model::Document& doc = *controller.document;
    doc.name = QStringLiteral("Lagerbock");
    doc.parameters.push_back({QStringLiteral("breite"), QStringLiteral("40 mm")});
    doc.parameters.push_back({QStringLiteral("höhe"), QStringLiteral("30 mm")});
    const int base = addRectangleSketch(doc, -1, 40, 30);
    doc.addFeature(QStringLiteral("extrude"),
                   {{"profile", QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", base}}}},
                    {"distance", "12 mm"}});
    for (const char* type : {"plane", "axis", "", "cylinder", "fillet", "sphere", "box", "chamfer",
                             "torus", "pattern_circ"}) {
        if (*type == 0)
            addRectangleSketch(doc, -2, 10, 10);
        else
            doc.addFeature(QString::fromLatin1(type));
    }
    doc.features[7]->suppressed = true;
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
