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
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

using qor::test::addOutline;
using qor::test::countOf;
using qor::test::errorOf;
using qor::test::extentIs;

// The document written to a part file and read back into a new document (not
// yet recomputed).
inline qor::model::Document reloaded(const qor::model::Document& doc)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("teil.qcpart"));
    QString error;
    qor::model::Document loaded;
    if (!doc.save(path, &error) || !loaded.load(path, &error))
        ADD_FAILURE() << "save or load failed: " << error.toStdString();
    return loaded;
}

// The same body ids with the same names, volumes (relative tolerance) and
// bounding boxes: a setting lost on the way shows even where volumes agree.
inline ::testing::AssertionResult sameBodies(const qor::model::ModelState& a,
                                             const qor::model::ModelState& b, double tol = 1e-9)
{
    if (a.bodies.size() != b.bodies.size())
        return ::testing::AssertionFailure()
               << a.bodies.size() << " bodies against " << b.bodies.size();
    for (const auto& [id, body] : a.bodies) {
        const auto other = b.bodies.find(id);
        if (other == b.bodies.end())
            return ::testing::AssertionFailure() << "body " << id << " missing";
        const double va = qor::model::shapeVolume(body.shape);
        const double vb = qor::model::shapeVolume(other->second.shape);
        if (body.name != other->second.name || std::abs(va - vb) > tol * std::max(1.0, va))
            return ::testing::AssertionFailure()
                   << "body " << id << ": " << body.name.toStdString() << " " << va << " against "
                   << other->second.name.toStdString() << " " << vb;
        Bnd_Box ba, bb;
        BRepBndLib::AddOptimal(body.shape, ba, false, false);
        BRepBndLib::AddOptimal(other->second.shape, bb, false, false);
        const double shift
            = ba.CornerMin().Distance(bb.CornerMin()) + ba.CornerMax().Distance(bb.CornerMax());
        if (shift > 1e-6 * std::max(1.0, std::sqrt(ba.SquareExtent())))
            return ::testing::AssertionFailure() << "body " << id << " moved by " << shift;
    }
    return ::testing::AssertionSuccess();
}

// The document through a part file and recomputed there gives the same bodies.
inline void expectSameAfterReload(const qor::model::Document& doc)
{
    qor::model::Document loaded = reloaded(doc);
    ASSERT_EQ(loaded.recompute(), 0);
    EXPECT_TRUE(sameBodies(doc.current, loaded.current, 1e-7));
}

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
                state.sketches[f->id]
                    = qor::model::SketchResult{sketchPlanes.at(f->id), f->sketch.get(), f->id};
                continue;
            }
            const QString error = rerun(*f);
            if (!error.isEmpty())
                return error;
        }
        return {};
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

    // This part after its document went through a part file: loaded into loaded
    // and replayed there on this part's sketch planes.
    void reloadInto(TestPart& loaded) const
    {
        loaded.doc = reloaded(doc);
        loaded.sketchPlanes = sketchPlanes;
        EXPECT_EQ(loaded.replay(), QString());
    }
};
