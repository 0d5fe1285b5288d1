#pragma once

// Measurements and small builders shared by the sketch, model and app tests.

#include "model/Document.h"
#include "sketch/Sketch.h"

#include <BRepBndLib.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Compound.hxx>

#include <QFile>
#include <QJsonObject>
#include <QStringList>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <vector>

namespace qor::test {

// Validity of each shape measured once: consecutive states share most bodies.
class ValidityMemo {
public:
    bool valid(const TopoDS_Shape& shape)
    {
        const void* key = shape.TShape().get();
        const auto known = memo_.find(key);
        if (known != memo_.end())
            return known->second;
        const bool ok = BRepCheck_Analyzer(shape).IsValid();
        memo_.emplace(key, ok);
        return ok;
    }

private:
    std::map<const void*, bool> memo_;
};

inline TopoDS_Shape box(double dx, double dy, double dz, gp_Pnt corner = gp_Pnt(0, 0, 0))
{
    return BRepPrimAPI_MakeBox(corner, dx, dy, dz).Shape();
}

// The summed volume of every body of a modelling state.
// The shapes in one compound, in order.
template <typename Shape = TopoDS_Shape>
TopoDS_Compound compoundOf(const std::vector<Shape>& shapes)
{
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    for (const Shape& shape : shapes)
        builder.Add(compound, shape);
    return compound;
}

inline double totalVolume(const model::ModelState& state)
{
    double sum = 0.0;
    for (const auto& [id, body] : state.bodies) {
        GProp_GProps props;
        BRepGProp::VolumeProperties(body.shape, props);
        sum += props.Mass();
    }
    return sum;
}

inline double areaOf(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(shape, props);
    return std::fabs(props.Mass());
}

// Distinct sub-shapes of the type.
inline int countOf(const TopoDS_Shape& shape, TopAbs_ShapeEnum type)
{
    TopTools_IndexedMapOfShape map;
    TopExp::MapShapes(shape, type, map);
    return map.Extent();
}

// The tight bounding box as (xmin, ymin, zmin, xmax, ymax, zmax).
inline std::array<double, 6> extent(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::AddOptimal(shape, box, false, false);
    std::array<double, 6> e{};
    box.Get(e[0], e[1], e[2], e[3], e[4], e[5]);
    return e;
}

inline ::testing::AssertionResult extentIs(const TopoDS_Shape& shape, std::array<double, 6> want,
                                           double tol = 1e-6)
{
    const std::array<double, 6> got = extent(shape);
    for (int i = 0; i < 6; ++i) {
        if (std::abs(got[i] - want[i]) > tol)
            return ::testing::AssertionFailure()
                   << "box (" << got[0] << ", " << got[1] << ", " << got[2] << ") .. (" << got[3]
                   << ", " << got[4] << ", " << got[5] << ")";
    }
    return ::testing::AssertionSuccess();
}

// The message of the FeatureError that call throws; empty when none is thrown.
template <typename Call> QString errorOf(Call&& call)
{
    try {
        call();
    } catch (const qor::model::FeatureError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

inline QStringList sortedKeys(const QJsonObject& json)
{
    QStringList keys = json.keys();
    keys.sort();
    return keys;
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(bytes) == bytes.size();
}

// Four loose lines around the rectangle (u0, v0)-(u1, v1), counter-clockwise.
inline void addOutline(qor::sketch::Sketch& s, double u0, double v0, double u1, double v1)
{
    s.addLineAt(false, u0, v0, u1, v0);
    s.addLineAt(false, u1, v0, u1, v1);
    s.addLineAt(false, u1, v1, u0, v1);
    s.addLineAt(false, u0, v1, u0, v0);
}

inline qor::sketch::Constraint constraintOf(qor::sketch::ConstraintType type, int a, int b = -1,
                                            int c = -1, double value = 0.0)
{
    qor::sketch::Constraint k;
    k.type = type;
    k.a = a;
    k.b = b;
    k.c = c;
    k.value = value;
    return k;
}

} // namespace qor::test
