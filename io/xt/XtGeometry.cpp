#include "io/xt/XtGeometry.h"

#include "io/SaneNumbers.h"

#include <GeomAPI_Interpolate.hxx>
#include <GeomAPI_PointsToBSpline.hxx>
#include <Geom_Line.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <Standard_Failure.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <TColgp_Array2OfPnt.hxx>
#include <TColgp_HArray1OfPnt.hxx>
#include <cmath>

namespace qor::io {

namespace {

constexpr double maxModelMetres = maxModelMillimetres / 1000;

qint64 firstInt(const XtNode& node, const std::string& name)
{
    const XtFieldValue* value = node.field(name);
    return value && !value->ints.empty() ? value->ints.front() : 0;
}

const std::vector<double>* realsOf(const XtNode* node, const char* name)
{
    const XtFieldValue* value = node ? node->field(name) : nullptr;
    return value ? &value->reals : nullptr;
}

const std::vector<qint64>* intsOf(const XtNode* node, const char* name)
{
    const XtFieldValue* value = node ? node->field(name) : nullptr;
    return value ? &value->ints : nullptr;
}

// Knots and multiplicities of one parameter direction: at least two knots, multiplicities
// covering every knot and adding up to poles + degree + 1, summed in 64 bits. Knots of
// multiplicity 0 add nothing to the knot vector and are left out: real files pad their
// knot arrays with such entries holding the null value, which the kernel would refuse as
// knots out of order.
void fillKnots(const std::vector<double>& knotValues, const std::vector<qint64>& multValues,
               qint64 poles, qint64 degree, TColStd_Array1OfReal& knots,
               TColStd_Array1OfInteger& mults, const QString& mismatch)
{
    if (multValues.size() < knotValues.size())
        throw XtError(mismatch);
    const qint64 total = poles + degree + 1;
    std::vector<std::size_t> used;
    qint64 sum = 0;
    for (std::size_t i = 0; i < knotValues.size(); ++i) {
        if (multValues[i] < 0 || multValues[i] > total)
            throw XtError(mismatch);
        if (multValues[i] == 0)
            continue;
        used.push_back(i);
        sum += multValues[i];
    }
    if (used.size() < 2 || sum != total)
        throw XtError(mismatch);
    knots.Resize(1, int(used.size()), false);
    mults.Resize(1, int(used.size()), false);
    for (std::size_t k = 0; k < used.size(); ++k) {
        knots.SetValue(int(k) + 1, checkedXtNumber(knotValues[used[k]]));
        mults.SetValue(int(k) + 1, int(multValues[used[k]]));
    }
}

// Control point number k of vertex_dim reals; the third coordinate is 0 for planar data,
// rational points are divided by their weight (the last coordinate).
gp_Pnt pole(const std::vector<double>& vertices, qint64 k, qint64 vertexDim, int dim, bool rational,
            double& weight)
{
    const double* v = vertices.data() + k * vertexDim;
    for (qint64 i = 0; i < vertexDim; ++i)
        checkedXtNumber(v[i]);
    weight = rational ? v[vertexDim - 1] : 1.0;
    const double z = dim > 2 ? v[2] : 0.0;
    if (!rational)
        return gp_Pnt(v[0], v[1], z);
    // A tiny weight scales a sound coordinate out of range.
    return gp_Pnt(checkedXtNumber(v[0] / weight), checkedXtNumber(v[1] / weight),
                  checkedXtNumber(z / weight));
}

} // namespace

double checkedXtNumber(double value)
{
    if (!isSaneNumber(value, maxModelMetres))
        throw XtError(QStringLiteral("Ungültige Zahl in den Parasolid-Geometriedaten"));
    return value;
}

gp_XYZ checkedXtVector(const XtNode& node, const std::string& name)
{
    const gp_XYZ v = xtVector(node, name);
    return gp_XYZ(checkedXtNumber(v.X()), checkedXtNumber(v.Y()), checkedXtNumber(v.Z()));
}

gp_XYZ checkedXtDirection(const XtNode& node, const std::string& name)
{
    const gp_XYZ v = checkedXtVector(node, name);
    const double length = v.Modulus();
    if (length > 1e-15 && std::abs(length - 1.0) > 1e-6)
        throw XtError(QStringLiteral("Ungültige Richtung in den Parasolid-Geometriedaten"));
    return v;
}

double checkedXtReal(const XtNode& node, const std::string& name, int i)
{
    return checkedXtNumber(xtReal(node, name, i));
}

Handle(Geom_BSplineCurve) readXtNurbs(const XtModel& model, const XtNode& curve, int& dim)
{
    const XtNode* nurbs = xtPointer(model, &curve, "nurbs");
    if (!nurbs)
        throw XtError(QStringLiteral("B-Kurve ohne NURBS-Daten"));
    const qint64 degree = firstInt(*nurbs, "degree");
    const qint64 count = firstInt(*nurbs, "n_vertices");
    const qint64 vertexDim = firstInt(*nurbs, "vertex_dim");
    const bool rational = firstInt(*nurbs, "rational") != 0;

    const auto* vertices = realsOf(xtPointer(model, nurbs, "bspline_vertices"), "vertices");
    const auto* multValues = intsOf(xtPointer(model, nurbs, "knot_mult"), "mult");
    const auto* knotValues = realsOf(xtPointer(model, nurbs, "knots"), "knots");
    if (!vertices || !multValues || !knotValues)
        throw XtError(QStringLiteral("B-Kurve unvollständig"));

    dim = int(rational ? vertexDim - 1 : vertexDim);
    // A rational point needs room for its weight beside at least two coordinates.
    const QString tooFew = QStringLiteral("B-Kurve: zu wenige Kontrollpunkte");
    if (vertexDim < 2 || vertexDim > 4 || dim < 2 || count < 1)
        throw XtError(tooFew);
    if (count * vertexDim > qint64(vertices->size()))
        throw XtError(tooFew);

    TColStd_Array1OfReal knots(1, 1);
    TColStd_Array1OfInteger mults(1, 1);
    fillKnots(*knotValues, *multValues, count, degree, knots, mults,
              QStringLiteral("B-Kurve: Knotenvektor passt nicht"));

    TColgp_Array1OfPnt poles(1, int(count));
    TColStd_Array1OfReal weights(1, int(count));
    for (qint64 i = 0; i < count; ++i) {
        double weight = 1.0;
        poles.SetValue(int(i) + 1, pole(*vertices, i, vertexDim, dim, rational, weight));
        weights.SetValue(int(i) + 1, weight);
    }
    if (rational)
        return new Geom_BSplineCurve(poles, weights, knots, mults, int(degree), false, true);
    return new Geom_BSplineCurve(poles, knots, mults, int(degree), false);
}

Handle(Geom_BSplineSurface) readXtNurbsSurface(const XtModel& model, const XtNode& surface)
{
    const XtNode* nurbs = xtPointer(model, &surface, "nurbs");
    if (!nurbs)
        throw XtError(QStringLiteral("B-Fläche ohne NURBS-Daten"));
    const qint64 uDegree = firstInt(*nurbs, "u_degree");
    const qint64 vDegree = firstInt(*nurbs, "v_degree");
    const qint64 nu = firstInt(*nurbs, "n_u_vertices");
    const qint64 nv = firstInt(*nurbs, "n_v_vertices");
    const qint64 vertexDim = firstInt(*nurbs, "vertex_dim");
    const bool rational = firstInt(*nurbs, "rational") != 0;

    const auto* vertices = realsOf(xtPointer(model, nurbs, "bspline_vertices"), "vertices");
    const auto* uMultValues = intsOf(xtPointer(model, nurbs, "u_knot_mult"), "mult");
    const auto* vMultValues = intsOf(xtPointer(model, nurbs, "v_knot_mult"), "mult");
    const auto* uKnotValues = realsOf(xtPointer(model, nurbs, "u_knots"), "knots");
    const auto* vKnotValues = realsOf(xtPointer(model, nurbs, "v_knots"), "knots");
    if (!vertices || !uMultValues || !vMultValues || !uKnotValues || !vKnotValues)
        throw XtError(QStringLiteral("B-Fläche unvollständig"));

    // Surfaces live in space: three coordinates, a rational one a fourth for its weight.
    const QString tooFew = QStringLiteral("B-Fläche: zu wenige Kontrollpunkte");
    if (vertexDim < 3 || vertexDim > 4 || (rational && vertexDim != 4))
        throw XtError(tooFew);
    // Two 32-bit counts could overflow even 64 bits once multiplied by the dimension, so
    // each is checked against what the array holds before they are multiplied.
    const qint64 available = qint64(vertices->size()) / vertexDim;
    if (nu < 1 || nv < 1 || nu > available || nv > available / nu)
        throw XtError(tooFew);

    const QString mismatch = QStringLiteral("B-Fläche: Knotenvektor passt nicht");
    TColStd_Array1OfReal uKnots(1, 1), vKnots(1, 1);
    TColStd_Array1OfInteger uMults(1, 1), vMults(1, 1);
    fillKnots(*uKnotValues, *uMultValues, nu, uDegree, uKnots, uMults, mismatch);
    fillKnots(*vKnotValues, *vMultValues, nv, vDegree, vKnots, vMults, mismatch);

    TColgp_Array2OfPnt poles(1, int(nu), 1, int(nv));
    TColStd_Array2OfReal weights(1, int(nu), 1, int(nv));
    for (qint64 i = 0; i < nu; ++i) {
        for (qint64 j = 0; j < nv; ++j) {
            double weight = 1.0;
            poles.SetValue(int(i) + 1, int(j) + 1,
                           pole(*vertices, i * nv + j, vertexDim, 3, rational, weight));
            weights.SetValue(int(i) + 1, int(j) + 1, weight);
        }
    }
    if (rational) {
        return new Geom_BSplineSurface(poles, weights, uKnots, vKnots, uMults, vMults, int(uDegree),
                                       int(vDegree), false, false);
    }
    return new Geom_BSplineSurface(poles, uKnots, vKnots, uMults, vMults, int(uDegree),
                                   int(vDegree), false, false);
}

gp_Dir safeXtDir(const gp_XYZ& v, const gp_XYZ& fallback)
{
    return gp_Dir(v.Modulus() < 1e-15 ? fallback : v);
}

gp_Ax3 makeXtAxes(const gp_XYZ& origin, const gp_XYZ& axis, const gp_XYZ& xDir)
{
    const gp_Dir z = safeXtDir(axis, gp_XYZ(0, 0, 1));
    const gp_XYZ x = xDir - z.XYZ() * xDir.Dot(z.XYZ());
    if (x.Modulus() >= 1e-12)
        return gp_Ax3(gp_Pnt(origin), z, gp_Dir(x));
    return gp_Ax3(gp_Pnt(origin), z);
}

Handle(Geom_Curve) curveThroughXtPoints(const std::vector<gp_Pnt>& points)
{
    if (points.size() < 2)
        throw XtError(QStringLiteral("Schnittkurve nicht interpolierbar"));
    if (points.size() == 2) {
        const gp_Vec span(points[0], points[1]);
        Handle(Geom_Line) line = new Geom_Line(points[0], gp_Dir(span));
        return new Geom_TrimmedCurve(line, 0.0, span.Magnitude(), true, true);
    }
    const int n = int(points.size());
    Handle(TColgp_HArray1OfPnt) array = new TColgp_HArray1OfPnt(1, n);
    for (int i = 0; i < n; ++i)
        array->SetValue(i + 1, points[std::size_t(i)]);
    try {
        GeomAPI_Interpolate interpolate(array, false, 1e-12);
        interpolate.Perform();
        if (interpolate.IsDone())
            return Handle(Geom_Curve)(interpolate.Curve());
    } catch (const Standard_Failure&) {
        // Coincident or otherwise unsuitable points: the approximation below copes.
    }
    GeomAPI_PointsToBSpline approximate(array->Array1(), 3, 8, GeomAbs_C2, 1e-7);
    if (!approximate.IsDone())
        throw XtError(QStringLiteral("Schnittkurve nicht interpolierbar"));
    return Handle(Geom_Curve)(approximate.Curve());
}

void addXtLimitPoint(std::vector<gp_Pnt>& points, const XtNode* limit, bool atFront)
{
    if (!limit)
        return;
    const int type = xtCharCode(*limit, "type", 0);
    if (type != 'L' && type != 'T')
        return;
    const XtFieldValue* hvec = limit->field("hvec");
    if (!hvec || hvec->reals.size() < 3)
        return;
    const gp_Pnt p(checkedXtNumber(hvec->reals[0]), checkedXtNumber(hvec->reals[1]),
                   checkedXtNumber(hvec->reals[2]));
    if (points.empty())
        points.push_back(p);
    else if (atFront && p.Distance(points.front()) > 1e-9)
        points.insert(points.begin(), p);
    else if (!atFront && p.Distance(points.back()) > 1e-9)
        points.push_back(p);
}

} // namespace qor::io
