#include "io/sab/SabGeometry.h"

#include "io/SaneNumbers.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <GeomAPI_ProjectPointOnCurve.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_Circle.hxx>
#include <Geom_ConicalSurface.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Geom_Ellipse.hxx>
#include <Geom_Line.hxx>
#include <Geom_Plane.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <TopoDS.hxx>
#include <gp_Ax2.hxx>
#include <gp_Ax3.hxx>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qor::io {

namespace {

constexpr double zeroLength = 1e-12;
constexpr double edgeTolerance = 1e-7;

// NaN slips through gp_Dir's zero check, infinities poison every later algorithm
// and absurd magnitudes keep healing busy for ever, so numbers from the file are
// checked (in file units, which healing works in) before OpenCASCADE sees them.
double sane(double value)
{
    if (!isSaneNumber(value, maxModelMillimetres))
        throw SabAbort(sabInvalidNumberMessage());
    return value;
}

gp_Pnt point(const SabValue& value)
{
    return gp_Pnt(sane(value.reals[0]), sane(value.reals[1]), sane(value.reals[2]));
}

gp_Vec vec(const SabValue& value)
{
    return gp_Vec(point(value).XYZ());
}

double number(const SabValue& value)
{
    return sane(value.number());
}

SabFieldCursor cursorAt(const SabRecord& record, int field)
{
    return SabFieldCursor{&record, field};
}

// The axes of a sphere or torus: the X direction is the origin direction made
// perpendicular to the main axis, or OpenCASCADE's choice when they are parallel.
gp_Ax3 revolvedAxes(const gp_Pnt& centre, const gp_Vec& axis, const gp_Vec& origin)
{
    const gp_Dir main(axis);
    const gp_Vec u = origin - gp_Vec(main) * origin.Dot(gp_Vec(main));
    if (u.Magnitude() <= zeroLength)
        return gp_Ax3(centre, main);
    return gp_Ax3(centre, main, gp_Dir(u));
}

Handle(Geom_Curve) ellipseCurve(const SabRecord& record)
{
    SabFieldCursor cursor = cursorAt(record, 3);
    const gp_Pnt centre = point(cursor.take());
    const gp_Vec normal = vec(cursor.take());
    const gp_Vec major = vec(cursor.take());
    const double ratio = number(cursor.take());
    const double radius = major.Magnitude();
    gp_Ax2 axes(centre, gp_Dir(normal), gp_Dir(major));
    if (std::abs(ratio - 1.0) < zeroLength)
        return new Geom_Circle(axes, radius);
    if (ratio < 1.0)
        return new Geom_Ellipse(axes, radius, ratio * radius);
    // OpenCASCADE wants the major radius first: turn the X axis onto the long one.
    axes.Rotate(axes.Axis(), std::numbers::pi / 2);
    return new Geom_Ellipse(axes, ratio * radius, radius);
}

// A B-spline stored after a "nubs" or "nurbs" marker: degree, a skipped field,
// the count of distinct knots, knot and multiplicity pairs, then the poles (with
// a weight each for "nurbs"). The stated counts come from the file, so the
// record's own length bounds them before anything is read or allocated.
Handle(Geom_Curve) intcurveSpline(const SabRecord& record)
{
    const QString incompleteSpline = QStringLiteral("Schnittkurve: B-Spline-Daten unvollständig");
    const QString invalidSpline = QStringLiteral("Ungültige B-Spline-Daten");
    const std::vector<SabValue>& fields = record.fields;
    const auto marker = std::find_if(fields.begin(), fields.end(), [](const SabValue& v) {
        return v.kind == SabValueKind::Ident && (v.text == "nubs" || v.text == "nurbs");
    });
    if (marker == fields.end())
        throw SabError(QStringLiteral("Schnittkurve ohne B-Spline-Näherung"));
    const bool rational = marker->text == "nurbs";
    const auto j = std::int64_t(marker - fields.begin());
    const auto size = std::int64_t(fields.size());
    if (j + 4 > size)
        throw SabError(incompleteSpline);
    const std::int64_t degree = fields[std::size_t(j + 1)].integer;
    const std::int64_t knotCount = fields[std::size_t(j + 3)].integer;
    if (degree < 1 || knotCount < 2)
        throw SabError(invalidSpline);
    if (knotCount > (size - (j + 4)) / 2)
        throw SabError(incompleteSpline);
    const std::int64_t polesAt = j + 4 + 2 * knotCount;
    std::int64_t multiplicitySum = 0;
    for (std::int64_t k = 0; k < knotCount; ++k) {
        const std::int64_t m = fields[std::size_t(j + 5 + 2 * k)].integer;
        if (m < 1 || __builtin_add_overflow(multiplicitySum, m, &multiplicitySum))
            throw SabError(invalidSpline);
    }
    std::int64_t poleCount = 0;
    if (__builtin_sub_overflow(multiplicitySum, degree - 1, &poleCount) || poleCount < 2)
        throw SabError(invalidSpline);
    const int stride = rational ? 4 : 3;
    if (poleCount > (size - polesAt) / stride)
        throw SabError(incompleteSpline);
    if (degree > Geom_BSplineCurve::MaxDegree())
        throw SabError(invalidSpline);

    // Every count is now below the record's field count and fits an int.
    const int d = int(degree);
    const int nk = int(knotCount);
    const int n = int(poleCount);
    TColStd_Array1OfReal knots(1, nk);
    TColStd_Array1OfInteger mults(1, nk);
    for (int k = 0; k < nk; ++k) {
        knots(k + 1) = sane(fields[std::size_t(j + 4 + 2 * k)].reals[0]);
        const std::int64_t stored = fields[std::size_t(j + 5 + 2 * k)].integer;
        // The file leaves the end knots one short of clamping.
        const std::int64_t handed = stored + (k == 0 || k == nk - 1 ? 1 : 0);
        mults(k + 1) = int(std::min<std::int64_t>(handed, d + 1));
    }
    TColgp_Array1OfPnt poles(1, n);
    TColStd_Array1OfReal weights(1, n);
    for (int i = 0; i < n; ++i) {
        const std::size_t at = std::size_t(polesAt + std::int64_t(i) * stride);
        poles(i + 1) = gp_Pnt(number(fields[at]), number(fields[at + 1]), number(fields[at + 2]));
        weights(i + 1) = rational ? number(fields[at + 3]) : 1.0;
    }
    if (rational)
        return new Geom_BSplineCurve(poles, weights, knots, mults, d, false, true);
    return new Geom_BSplineCurve(poles, knots, mults, d, false);
}

Handle(Geom_Curve) makeCurve(const SabRecord& record)
{
    if (record.type == "straight-curve") {
        SabFieldCursor cursor = cursorAt(record, 3);
        const gp_Pnt root = point(cursor.take());
        return new Geom_Line(root, gp_Dir(vec(cursor.take())));
    }
    if (record.type == "ellipse-curve")
        return ellipseCurve(record);
    if (record.type == "intcurve-curve") {
        Handle(Geom_Curve) curve = intcurveSpline(record);
        if (record.fields.size() >= 4 && record.fields[3].kind == SabValueKind::True)
            curve = curve->Reversed();
        return curve;
    }
    throw SabError(
        QStringLiteral("Kurventyp %1 nicht unterstützt").arg(QString::fromStdString(record.type)));
}

bool isReversed(const SabValue& sense)
{
    return sense.kind == SabValueKind::True;
}

// The edge between two vertices that MakeEdge refused (they miss the curve by
// more than its tolerance): bounded by the projections, with the vertex
// tolerances widened to cover the gap.
TopoDS_Edge edgeByProjection(const Handle(Geom_Curve)& curve, const TopoDS_Vertex& v1,
                             const TopoDS_Vertex& v2)
{
    GeomAPI_ProjectPointOnCurve first(BRep_Tool::Pnt(v1), curve);
    GeomAPI_ProjectPointOnCurve second(BRep_Tool::Pnt(v2), curve);
    if (first.NbPoints() == 0 || second.NbPoints() == 0)
        throw SabError(QStringLiteral("Kante: Ecken nicht auf der Kurve"));
    const double t1 = first.LowerDistanceParameter();
    double t2 = second.LowerDistanceParameter();
    if (curve->IsPeriodic() && t2 <= t1)
        t2 += curve->Period();
    BRep_Builder builder;
    TopoDS_Edge edge;
    builder.MakeEdge(edge);
    builder.UpdateEdge(edge, curve, TopLoc_Location(), edgeTolerance);
    builder.Add(edge, v1.Oriented(TopAbs_FORWARD));
    builder.Add(edge, v2.Oriented(TopAbs_REVERSED));
    builder.Range(edge, std::min(t1, t2), std::max(t1, t2), false);
    builder.UpdateVertex(v1, std::max(1.5 * first.LowerDistance(), edgeTolerance));
    builder.UpdateVertex(v2, std::max(1.5 * second.LowerDistance(), edgeTolerance));
    return edge;
}

} // namespace

void addWarningOnce(QStringList& list, const QString& text)
{
    if (!list.contains(text))
        list.append(text);
}

SabBuilder::SabBuilder(SabReader& source)
    : reader(&source)
    , unitScale(source.unitScale)
    , byIndex(buildSabIndex(source.records))
{
}

const SabRecord* SabBuilder::resolve(const SabValue& field) const
{
    if (field.integer < 0)
        return nullptr;
    const auto found = byIndex.find(field.integer);
    return found == byIndex.end() ? nullptr : found->second;
}

TopoDS_Vertex SabBuilder::vertexFor(const SabRecord& vertex)
{
    if (const auto cached = vertices.find(&vertex); cached != vertices.end())
        return TopoDS::Vertex(cached->second);
    SabFieldCursor cursor = cursorAt(vertex, 5);
    const SabRecord* pointRecord = resolve(cursor.take());
    if (!pointRecord || pointRecord->type != "point")
        throw SabError(QStringLiteral("Ecke ohne Punkt"));
    const gp_Pnt p = point(cursorAt(*pointRecord, 3).take());
    const TopoDS_Vertex made = BRepBuilderAPI_MakeVertex(p);
    vertices.emplace(&vertex, made);
    return made;
}

Handle(Geom_Curve) SabBuilder::curveFor(const SabRecord& curve)
{
    if (const auto cached = curves.find(&curve); cached != curves.end())
        return cached->second;
    Handle(Geom_Curve) made = makeCurve(curve);
    curves.emplace(&curve, made);
    return made;
}

TopoDS_Edge SabBuilder::edgeFor(const SabRecord& edge)
{
    if (const auto cached = edges.find(&edge); cached != edges.end())
        return TopoDS::Edge(cached->second);
    SabFieldCursor cursor = cursorAt(edge, 3);
    const SabRecord* startRecord = resolve(cursor.take());
    cursor.skip();
    const SabRecord* endRecord = resolve(cursor.take());
    cursor.skip(2);
    const SabRecord* curveRecord = resolve(cursor.take());
    const bool reversed = isReversed(cursor.take());
    if (!curveRecord)
        throw SabError(QStringLiteral("Kante ohne Kurve"));
    Handle(Geom_Curve) curve = curveFor(*curveRecord);
    if (reversed)
        curve = curve->Reversed();

    TopoDS_Edge made;
    if (!startRecord || !endRecord) {
        made = BRepBuilderAPI_MakeEdge(curve).Edge();
    } else {
        const TopoDS_Vertex v1 = vertexFor(*startRecord);
        const TopoDS_Vertex v2 = vertexFor(*endRecord);
        BRepBuilderAPI_MakeEdge bounded(curve, v1, v2);
        made = bounded.IsDone() ? bounded.Edge() : edgeByProjection(curve, v1, v2);
    }
    made.Orientation(TopAbs_FORWARD);
    edges.emplace(&edge, made);
    return made;
}

void SabBuilder::checkCancelled() const
{
    if (cancelRequested(cancelled))
        throw SabAbort(readCancelledMessage());
}

SabSurface SabBuilder::surfaceFor(const SabRecord& surface) const
{
    SabFieldCursor cursor = cursorAt(surface, 3);
    SabSurface result;
    if (surface.type == "plane-surface") {
        const gp_Pnt root = point(cursor.take());
        const gp_Dir normal(vec(cursor.take()));
        const gp_Vec u = vec(cursor.take());
        const gp_Vec inPlane = u - gp_Vec(normal) * u.Dot(gp_Vec(normal));
        if (inPlane.Magnitude() >= zeroLength)
            result.surface = new Geom_Plane(gp_Ax3(root, normal, gp_Dir(inPlane)));
        else
            result.surface = new Geom_Plane(root, normal);
    } else if (surface.type == "cone-surface") {
        const gp_Pnt centre = point(cursor.take());
        const gp_Vec axis = vec(cursor.take());
        const gp_Vec major = vec(cursor.take());
        cursor.take();
        cursor.skip(2);
        const double sine = number(cursor.take());
        const double cosine = number(cursor.take());
        const gp_Ax3 axes(centre, gp_Dir(axis), gp_Dir(major));
        const double radius = major.Magnitude();
        result.reversed = cosine < 0.0;
        if (std::abs(sine) < zeroLength)
            result.surface = new Geom_CylindricalSurface(axes, radius);
        else
            result.surface
                = new Geom_ConicalSurface(axes, std::atan2(sine, std::abs(cosine)), radius);
    } else if (surface.type == "sphere-surface") {
        const gp_Pnt centre = point(cursor.take());
        double radius = number(cursor.take());
        const gp_Vec origin = vec(cursor.take());
        const gp_Vec pole = vec(cursor.take());
        result.reversed = radius < 0.0;
        radius = std::abs(radius);
        result.surface = new Geom_SphericalSurface(revolvedAxes(centre, pole, origin), radius);
    } else if (surface.type == "torus-surface") {
        const gp_Pnt centre = point(cursor.take());
        const gp_Vec axis = vec(cursor.take());
        const double major = number(cursor.take());
        double minor = number(cursor.take());
        const gp_Vec origin = vec(cursor.take());
        result.reversed = minor < 0.0;
        minor = std::abs(minor);
        result.surface
            = new Geom_ToroidalSurface(revolvedAxes(centre, axis, origin), std::abs(major), minor);
    }
    return result;
}

} // namespace qor::io
