#pragma once

#include "features/BodyEditing.h"
#include "model/Document.h"
#include "model/ExecContext.h"
#include "model/ShapeSignature.h"
#include "tests/common/ShapeChecks.h"

#include <BRepBndLib.hxx>
#include <BRepClass3d_SolidClassifier.hxx>
#include <BRepGProp.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

using qor::test::addOutline;
using qor::test::countOf;
using qor::test::errorOf;
using qor::test::extentIs;

// A document with a running modelling state in which single features are executed
// the way the recompute runs them, without needing the sketch executor: sketch
// results are placed into the state directly.
struct TestPart {
    qor::model::Document doc;
    qor::model::ModelState state;

    // A sketch feature drawn by draw and placed on plane; returns its id.
    int sketch(const gp_Ax3& plane, const std::function<void(qor::sketch::Sketch&)>& draw)
    {
        qor::model::Feature* f = doc.addSketch(QJsonObject{});
        draw(*f->sketch);
        state.sketches[f->id] = qor::model::SketchResult{plane, f->sketch.get(), f->id};
        return f->id;
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

    // Runs a feature that must succeed; returns the id of the body it makes.
    int body(const QString& type, const QJsonObject& params = {},
             qor::model::Feature** out = nullptr)
    {
        qor::model::Feature* f = nullptr;
        EXPECT_EQ(run(type, params, &f), QString()) << type.toStdString();
        if (out)
            *out = f;
        return f->id * 100;
    }

    const TopoDS_Shape& shape(int bodyId) const { return state.bodies.at(bodyId).shape; }

    // A box feature of edge length size centred on (x, y) of the XY plane, standing
    // on it; returns its body id.
    int cube(double size, double x = 0.0, double y = 0.0)
    {
        return body("box",
                    {{"length", size}, {"width", size}, {"height", size}, {"x", x}, {"y", y}});
    }

    static QJsonObject origin(int id) { return {{"kind", "origin"}, {"id", id}}; }
    static QJsonObject featureRef(int id) { return {{"kind", "feature"}, {"id", id}}; }

    static bool inside(const TopoDS_Shape& solid, const gp_Pnt& p)
    {
        return BRepClass3d_SolidClassifier(solid, p, 1e-7).State() == TopAbs_IN;
    }

    static bool hasVertexNear(const TopoDS_Shape& shape, const gp_Pnt& p)
    {
        for (TopExp_Explorer e(shape, TopAbs_VERTEX); e.More(); e.Next()) {
            if (BRep_Tool::Pnt(TopoDS::Vertex(e.Current())).Distance(p) < 1e-4)
                return true;
        }
        return false;
    }

    // A body put straight into the state, for shapes no executor here makes.
    int addBody(const TopoDS_Shape& shape)
    {
        int id = 90000;
        while (state.bodies.count(id))
            ++id;
        qor::model::Body body;
        body.id = id;
        body.shape = shape;
        state.bodies[id] = body;
        return id;
    }

    // The face or edge whose signature point (its centre of mass) is p.
    static TopoDS_Shape subShapeAt(const TopoDS_Shape& body, TopAbs_ShapeEnum type, const gp_Pnt& p)
    {
        for (TopExp_Explorer e(body, type); e.More(); e.Next()) {
            const auto point = qor::model::describeShape(e.Current()).point;
            if (p.Distance(gp_Pnt(point[0], point[1], point[2])) < 1e-6)
                return e.Current();
        }
        ADD_FAILURE() << "nothing at (" << p.X() << ", " << p.Y() << ", " << p.Z() << ")";
        return {};
    }

    QJsonObject faceAt(int bodyId, const gp_Pnt& p) const
    {
        const TopoDS_Shape& body = state.bodies.at(bodyId).shape;
        return qor::model::faceRef(bodyId, subShapeAt(body, TopAbs_FACE, p));
    }

    QJsonObject edgeAt(int bodyId, const gp_Pnt& p) const
    {
        const TopoDS_Shape& body = state.bodies.at(bodyId).shape;
        return qor::model::edgeRef(bodyId, subShapeAt(body, TopAbs_EDGE, p));
    }

    // Adaptive integration: the default rule misjudges booleans of swept BSpline
    // faces by more than 1 %, and scaled splines by about 1e-3.
    static double preciseVolume(const TopoDS_Shape& shape, double eps = 1e-7)
    {
        GProp_GProps props;
        BRepGProp::VolumeProperties(shape, props, eps);
        return std::abs(props.Mass());
    }
};
