#pragma once

#include "model/Document.h"
#include "model/ExecContext.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

// A document with a running modelling state in which single features are executed
// the way the recompute runs them, without needing the sketch executor: sketch
// results are placed into the state directly.
struct TestPart {
    qor::model::Document doc;
    qor::model::ModelState state;
    std::map<int, gp_Ax3> sketchPlanes; // by sketch feature id, for replay

    // A sketch feature drawn by draw and placed on plane; returns its id.
    int sketch(const gp_Ax3& plane, const std::function<void(qor::sketch::Sketch&)>& draw)
    {
        qor::model::Feature* f = doc.addSketch(QJsonObject{});
        draw(*f->sketch);
        state.sketches[f->id] = qor::model::SketchResult{plane, f->sketch.get(), f->id};
        sketchPlanes[f->id] = plane;
        return f->id;
    }

    // Runs the whole history again into a fresh state, sketches placed on the planes
    // recorded in sketchPlanes (for a loaded document: copied from the saving part).
    // Returns the first error text, empty when every feature ran.
    QString replay()
    {
        state = qor::model::ModelState();
        for (const auto& f : doc.features) {
            if (f->sketch) {
                state.sketches[f->id] =
                    qor::model::SketchResult{sketchPlanes.at(f->id), f->sketch.get(), f->id};
                continue;
            }
            const QString error = rerun(*f);
            if (!error.isEmpty())
                return error;
        }
        return {};
    }

    static void rectangle(qor::sketch::Sketch& s, double u0, double v0, double u1, double v1)
    {
        s.addLineAt(false, u0, v0, u1, v0);
        s.addLineAt(false, u1, v0, u1, v1);
        s.addLineAt(false, u1, v1, u0, v1);
        s.addLineAt(false, u0, v1, u0, v0);
    }

    static QJsonArray wholeSketch(int sketchId)
    {
        return {QJsonObject{{"kind", "sketch"}, {"id", sketchId}}};
    }

    static QJsonArray region(int sketchId, double u, double v)
    {
        return {QJsonObject{{"kind", "region"}, {"sketch", sketchId}, {"pt", QJsonArray{u, v}}}};
    }

    // Adds the feature with its schema defaults overridden by params and runs it.
    // Returns the error text, empty on success.
    QString run(const QString& type, const QJsonObject& params, qor::model::Feature** out = nullptr)
    {
        qor::model::Feature* f = doc.addFeature(type, params);
        if (out)
            *out = f;
        return rerun(*f);
    }

    QString rerun(qor::model::Feature& f)
    {
        f.error.clear();
        f.warning.clear();
        try {
            doc.executeFeature(f, state);
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        }
        return {};
    }

    double volume(int bodyId) const
    {
        return qor::model::shapeVolume(state.bodies.at(bodyId).shape);
    }

    double totalVolume() const
    {
        double sum = 0.0;
        for (const auto& [id, body] : state.bodies)
            sum += qor::model::shapeVolume(body.shape);
        return sum;
    }

    static Bnd_Box box(const TopoDS_Shape& shape)
    {
        Bnd_Box b;
        BRepBndLib::AddOptimal(shape, b, false, false);
        return b;
    }

    Bnd_Box box(int bodyId) const { return box(state.bodies.at(bodyId).shape); }

    static int count(const TopoDS_Shape& shape, TopAbs_ShapeEnum type)
    {
        TopTools_IndexedMapOfShape map;
        TopExp::MapShapes(shape, type, map);
        return map.Extent();
    }
};

// Bounding box equality within tol, as one readable assertion.
inline ::testing::AssertionResult boxIs(const Bnd_Box& b, double x0, double y0, double z0,
                                        double x1, double y1, double z1, double tol = 1e-6)
{
    double a0, b0, c0, a1, b1, c1;
    b.Get(a0, b0, c0, a1, b1, c1);
    const double got[6] = {a0, b0, c0, a1, b1, c1};
    const double want[6] = {x0, y0, z0, x1, y1, z1};
    for (int i = 0; i < 6; ++i) {
        if (std::abs(got[i] - want[i]) > tol)
            return ::testing::AssertionFailure()
                   << "box (" << a0 << ", " << b0 << ", " << c0 << ") .. (" << a1 << ", " << b1
                   << ", " << c1 << ")";
    }
    return ::testing::AssertionSuccess();
}
