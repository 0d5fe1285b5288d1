#include "model/ShapeSignature.h"
#include "sketch/Plane.h"

#include <QJsonArray>

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRepLProp_SLProps.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GCPnts_AbscissaPoint.hxx>
#include <GProp_GProps.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>

#include <algorithm>
#include <cmath>

namespace qor::model {

double roundToDecimals(double x, int decimals)
{
    const double factor = std::pow(10.0, decimals);
    const double scaled = x * factor;
    // Beyond 2^53 a double has no fractional digits left to round away, and the
    // scaled value may even have overflowed.
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9007199254740992.0)
        return x;
    return std::round(scaled) / factor;
}

namespace {

QJsonArray roundedTriple(const std::array<double, 3>& v)
{
    return QJsonArray{roundToDecimals(v[0], 6), roundToDecimals(v[1], 6), roundToDecimals(v[2], 6)};
}

std::array<double, 3> readTriple(const QJsonValue& value)
{
    const QJsonArray array = value.toArray();
    return {array.at(0).toDouble(0.0), array.at(1).toDouble(0.0), array.at(2).toDouble(0.0)};
}

std::array<double, 3> triple(const gp_XYZ& v)
{
    return {v.X(), v.Y(), v.Z()};
}

void describeEdge(const TopoDS_Edge& edge, ShapeSignature& sig)
{
    sig.kind = ShapeSignature::Kind::Edge;
    const BRepAdaptor_Curve curve(edge);
    sig.geometry = std::int32_t(curve.GetType());
    gp_Pnt p;
    gp_Vec v;
    curve.D1((curve.FirstParameter() + curve.LastParameter()) / 2.0, p, v);
    sig.point = triple(p.XYZ());
    if (v.Magnitude() > 1e-12)
        sig.direction = triple(v.Normalized().XYZ());
    sig.size = GCPnts_AbscissaPoint::Length(curve);
}

void describeFace(const TopoDS_Face& face, ShapeSignature& sig)
{
    sig.kind = ShapeSignature::Kind::Face;
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props);
    sig.size = props.Mass();
    sig.point = triple(props.CentreOfMass().XYZ());
    sig.direction = {0.0, 0.0, 1.0};
    // A face read from a mesh file is only triangles: its area and centre come from
    // them, and it has no surface to take a kind or a direction from.
    TopLoc_Location location;
    if (BRep_Tool::Surface(face, location).IsNull()) {
        sig.geometry = std::int32_t(GeomAbs_OtherSurface);
        return;
    }
    const BRepAdaptor_Surface surface(face, true);
    sig.geometry = std::int32_t(surface.GetType());
    switch (surface.GetType()) {
    case GeomAbs_Plane: {
        // Outward for a face of a solid, so that the two sides of a thin wall differ.
        sig.direction = triple(qor::planarFaceNormal(face).XYZ());
        break;
    }
    case GeomAbs_Cylinder:
        sig.direction = triple(surface.Cylinder().Axis().Direction().XYZ());
        break;
    case GeomAbs_Cone: sig.direction = triple(surface.Cone().Axis().Direction().XYZ()); break;
    default: {
        const double u = (surface.FirstUParameter() + surface.LastUParameter()) / 2.0;
        const double v = (surface.FirstVParameter() + surface.LastVParameter()) / 2.0;
        BRepLProp_SLProps local(surface, u, v, 1, 1e-6);
        if (local.IsNormalDefined())
            sig.direction = triple(local.Normal().XYZ());
        break;
    }
    }
}

TopAbs_ShapeEnum shapeType(ShapeSignature::Kind kind)
{
    switch (kind) {
    case ShapeSignature::Kind::Edge: return TopAbs_EDGE;
    case ShapeSignature::Kind::Vertex: return TopAbs_VERTEX;
    case ShapeSignature::Kind::Face: break;
    }
    return TopAbs_FACE;
}

double boxDiagonal(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box, true);
    return box.IsVoid() ? 1.0 : std::sqrt(box.SquareExtent());
}

QJsonObject subShapeRef(const char* kind, int bodyId, const TopoDS_Shape& shape)
{
    return QJsonObject{
        {QStringLiteral("kind"), QString::fromLatin1(kind)},
        {QStringLiteral("body"), bodyId},
        {QStringLiteral("sig"), describeShape(shape).toJson()},
    };
}

} // namespace

QJsonObject ShapeSignature::toJson() const
{
    const char* letter = kind == Kind::Edge ? "e" : kind == Kind::Vertex ? "v" : "f";
    return QJsonObject{
        {QStringLiteral("k"), QString::fromLatin1(letter)},
        {QStringLiteral("g"), geometry},
        {QStringLiteral("p"), roundedTriple(point)},
        {QStringLiteral("d"), roundedTriple(direction)},
        {QStringLiteral("s"), roundToDecimals(size, 6)},
    };
}

ShapeSignature ShapeSignature::fromJson(const QJsonObject& json)
{
    ShapeSignature sig;
    const QString k = json.value(QStringLiteral("k")).toString();
    if (k == QLatin1String("e"))
        sig.kind = Kind::Edge;
    else if (k == QLatin1String("v"))
        sig.kind = Kind::Vertex;
    sig.geometry = json.value(QStringLiteral("g")).toInt(0);
    sig.point = readTriple(json.value(QStringLiteral("p")));
    sig.direction = readTriple(json.value(QStringLiteral("d")));
    sig.size = json.value(QStringLiteral("s")).toDouble(0.0);
    return sig;
}

double ShapeSignature::matchDistance(const ShapeSignature& a, const ShapeSignature& b, double scale)
{
    if (a.kind != b.kind)
        return 1e9;
    const double dist
        = std::sqrt(std::pow(a.point[0] - b.point[0], 2) + std::pow(a.point[1] - b.point[1], 2)
                    + std::pow(a.point[2] - b.point[2], 2))
          / std::max(scale, 1e-6);
    if (a.kind == Kind::Vertex)
        return dist;
    const double dot = a.direction[0] * b.direction[0] + a.direction[1] * b.direction[1]
                       + a.direction[2] * b.direction[2];
    // Plane normals are outward, so a flipped one is a different face; the axes of
    // lines, cylinders and cones have no sense worth comparing.
    const bool bothPlanes = a.kind == Kind::Face && a.geometry == 0 && b.geometry == 0;
    const double dirTerm = bothPlanes ? (1.0 - dot) / 2.0 : 1.0 - std::fabs(dot);
    const double sizeTerm
        = std::fabs(a.size - b.size) / std::max({std::fabs(a.size), std::fabs(b.size), 1e-9});
    double score = 2.0 * dirTerm + dist + 0.5 * sizeTerm;
    if (a.geometry != b.geometry)
        score += 3.0;
    return score;
}

ShapeSignature describeShape(const TopoDS_Shape& shape)
{
    ShapeSignature sig;
    if (shape.IsNull())
        return sig;
    switch (shape.ShapeType()) {
    case TopAbs_VERTEX:
        sig.kind = ShapeSignature::Kind::Vertex;
        sig.point = triple(BRep_Tool::Pnt(TopoDS::Vertex(shape)).XYZ());
        break;
    case TopAbs_EDGE: describeEdge(TopoDS::Edge(shape), sig); break;
    case TopAbs_FACE: describeFace(TopoDS::Face(shape), sig); break;
    default: break;
    }
    return sig;
}

TopoDS_Shape findClosestSubShape(const TopoDS_Shape& body, const ShapeSignature& signature,
                                 double* bestScore)
{
    if (body.IsNull())
        return {};
    TopTools_IndexedMapOfShape candidates;
    TopExp::MapShapes(body, shapeType(signature.kind), candidates);
    const double scale = boxDiagonal(body);
    double best = 1e18;
    TopoDS_Shape result;
    for (int i = 1; i <= candidates.Extent(); ++i) {
        const double s
            = ShapeSignature::matchDistance(signature, describeShape(candidates(i)), scale);
        if (s < best) {
            best = s;
            result = candidates(i);
        }
    }
    if (bestScore)
        *bestScore = best;
    return best > 1.5 ? TopoDS_Shape() : result;
}

QJsonObject faceRef(int bodyId, const TopoDS_Shape& face)
{
    return subShapeRef("face", bodyId, face);
}

QJsonObject edgeRef(int bodyId, const TopoDS_Shape& edge)
{
    return subShapeRef("edge", bodyId, edge);
}

QJsonObject datumReferenceJson(int id)
{
    return QJsonObject{
        {QStringLiteral("kind"), id < 0 ? QStringLiteral("origin") : QStringLiteral("feature")},
        {QStringLiteral("id"), id},
    };
}

} // namespace qor::model
