#include "drawing/Section.h"

#include "expr/Format.h"
#include "model/ExecContext.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBndLib.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepTools_WireExplorer.hxx>
#include <Bnd_Box.hxx>
#include <GCPnts_TangentialDeflection.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <optional>
#include <set>

namespace qor::app {

namespace {

using Polygon = std::vector<gp_Pnt2d>;

// Level along the view direction of a planar face facing the viewer; nothing for other faces.
std::optional<double> facingLevel(const TopoDS_Face& face, const gp_XYZ& n)
{
    const BRepAdaptor_Surface surface(face);
    if (surface.GetType() != GeomAbs_Plane)
        return std::nullopt;
    const gp_Pln plane = surface.Plane();
    if (std::abs(n * plane.Axis().Direction().XYZ()) < 0.9999)
        return std::nullopt;
    return n * plane.Location().XYZ();
}

// The wire's edges sampled in connection order, each without the point the next one starts with.
Polygon wirePolygon(const TopoDS_Wire& wire, const TopoDS_Face& face, const gp_XYZ& x,
                    const gp_XYZ& y)
{
    Polygon polygon;
    for (BRepTools_WireExplorer it(wire, face); it.More(); it.Next()) {
        const BRepAdaptor_Curve curve(it.Current());
        const GCPnts_TangentialDeflection sampler(curve, 0.2, 0.02, 2, 1e-9, 1e-7);
        const int n = sampler.NbPoints();
        const bool reversed = it.Current().Orientation() == TopAbs_REVERSED;
        for (int k = 1; k <= n - 1; ++k) {
            const gp_XYZ p = sampler.Value(reversed ? n + 1 - k : k).XYZ();
            polygon.emplace_back(p * x, p * y);
        }
    }
    return polygon;
}

// Outlines of the cut faces: the facing planar faces nearest to the viewer.
std::vector<Polygon> cutPolygons(const TopoDS_Shape& shape, const gp_Ax2& axes)
{
    const gp_XYZ n = axes.Direction().XYZ();
    const gp_XYZ x = axes.XDirection().XYZ();
    const gp_XYZ y = axes.YDirection().XYZ();
    double level = -1e18;
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
        if (const auto l = facingLevel(TopoDS::Face(it.Current()), n))
            level = std::max(level, *l);
    }
    std::vector<Polygon> polygons;
    if (level < -1e17)
        return polygons;
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
        const TopoDS_Face& face = TopoDS::Face(it.Current());
        const auto l = facingLevel(face, n);
        if (!l || std::abs(*l - level) > 1e-4)
            continue;
        for (TopExp_Explorer w(face, TopAbs_WIRE); w.More(); w.Next()) {
            Polygon polygon = wirePolygon(TopoDS::Wire(w.Current()), face, x, y);
            if (polygon.size() > 2)
                polygons.push_back(std::move(polygon));
        }
    }
    return polygons;
}

// Positions s = x + y where the line x − y = c crosses the polygons' edges, sorted.
std::vector<double> crossings(const std::vector<Polygon>& polygons, double c)
{
    std::vector<double> result;
    for (const Polygon& polygon : polygons) {
        for (std::size_t i = 0; i < polygon.size(); ++i) {
            const gp_Pnt2d& p = polygon[i];
            const gp_Pnt2d& q = polygon[(i + 1) % polygon.size()];
            const double fp = p.X() - p.Y() - c;
            const double fq = q.X() - q.Y() - c;
            if ((fp > 0) == (fq > 0) || std::abs(fp - fq) < 1e-12)
                continue;
            const double t = fp / (fp - fq);
            result.push_back(p.X() + t * (q.X() - p.X()) + p.Y() + t * (q.Y() - p.Y()));
        }
    }
    std::sort(result.begin(), result.end());
    return result;
}

ViewPrimitive line(LineKind kind, const gp_XY& a, const gp_XY& b)
{
    ViewPrimitive prim;
    prim.kind = kind;
    prim.points = {gp_Pnt2d(a), gp_Pnt2d(b)};
    return prim;
}

// A thread seen along its axis: three-quarter arc at the open end, hidden circle otherwise.
ViewPrimitive endOnMark(double u, double v, double r, bool openEnd)
{
    ViewPrimitive prim;
    prim.kind = openEnd ? LineKind::Thread : LineKind::Hidden;
    prim.circular = true;
    prim.cx = u;
    prim.cy = v;
    prim.radius = r;
    prim.startDeg = openEnd ? 90.0 : 0.0;
    prim.endDeg = 360.0;
    const double sweep = (prim.endDeg - prim.startDeg) * std::numbers::pi / 180.0;
    const double start = prim.startDeg * std::numbers::pi / 180.0;
    for (int i = 0; i <= 64; ++i) {
        const double theta = start + i * sweep / 64.0;
        prim.points.emplace_back(u + r * std::cos(theta), v + r * std::sin(theta));
    }
    return prim;
}

// Leader direction of an end-on callout: away from the view's centre, turned by 25°.
double calloutAngle(const ProjectedView& pv, double u, double v)
{
    const double dx = u - (pv.minX + pv.maxX) / 2.0;
    const double dy = v - (pv.minY + pv.maxY) / 2.0;
    if (std::hypot(dx, dy) < 1e-6)
        return -160.0 * std::numbers::pi / 180.0;
    const double a = std::atan2(dy, dx);
    const double turn = 25.0 * std::numbers::pi / 180.0;
    return std::cos(a) >= 0.0 ? a + turn : a - turn;
}

QString calloutText(const QString& designation, int count)
{
    if (count > 1)
        return QStringLiteral("%1× %2").arg(germanCount(std::uint64_t(count))).arg(designation);
    return designation;
}

// Two side lines and the limit line of a thread seen from the side, with its callout.
void addSideMarks(ProjectedView& pv, const qor::model::ThreadMark& t, const gp_XY& start,
                  const gp_XY& end, bool section)
{
    const double length = (end - start).Modulus();
    if (length < 1e-9)
        return;
    const gp_XY a = (end - start) / length;
    const gp_XY p(-a.Y(), a.X());
    const double r = (t.internal ? t.majorDiameter : t.minorDiameter) / 2.0;
    const double major = t.majorDiameter / 2.0;
    const LineKind side = t.internal && !section ? LineKind::Hidden : LineKind::Thread;
    const LineKind limit = t.internal && !section ? LineKind::Hidden : LineKind::Visible;
    for (const double sign : {1.0, -1.0})
        pv.primitives.push_back(line(side, start + sign * r * p, end + sign * r * p));
    pv.primitives.push_back(line(limit, end + major * p, end - major * p));
    if (t.internal || t.designation.isEmpty())
        return;
    pv.callouts.push_back({gp_Pnt2d((start + end) / 2.0 + major * p),
                           gp_Vec2d(0.7 * (a.X() - a.Y()), 0.7 * (a.X() + a.Y())), t.designation});
}

} // namespace

TopoDS_Shape sectionCut(const TopoDS_Shape& shape, int viewKind)
{
    if (shape.IsNull())
        return shape;
    try {
        OCC_CATCH_SIGNALS
        Bnd_Box box;
        BRepBndLib::Add(shape, box, true);
        if (box.IsVoid())
            return shape;
        const gp_XYZ c = (box.CornerMin().XYZ() + box.CornerMax().XYZ()) / 2.0;
        const double s = std::sqrt(box.SquareExtent()) + 10.0;
        const gp_Ax2 axes = viewAxes(viewKind);
        const gp_Pnt origin(c - s * axes.XDirection().XYZ() - s * axes.YDirection().XYZ());
        BRepPrimAPI_MakeBox slab(gp_Ax2(origin, axes.Direction(), axes.XDirection()), 2.0 * s,
                                 2.0 * s, s);
        BRepAlgoAPI_Cut cut;
        qor::model::buildKeepingInputs(cut, shape, slab.Shape());
        if (cut.IsDone())
            return cut.Shape();
    } catch (const Standard_Failure&) {
        // The view shows the uncut shape.
    }
    return shape;
}

void sectionHatchOutlines(ProjectedView& pv, const TopoDS_Shape& cutShape, int viewKind,
                          double spacing)
{
    if (cutShape.IsNull() || !(spacing > 0.0))
        return;
    std::vector<Polygon> polygons;
    try {
        OCC_CATCH_SIGNALS
        polygons = cutPolygons(cutShape, viewAxes(viewKind));
    } catch (const Standard_Failure&) {
        return;
    }
    if (polygons.empty())
        return;
    double wmin = 1e300;
    double wmax = -1e300;
    for (const Polygon& polygon : polygons) {
        for (const gp_Pnt2d& p : polygon) {
            wmin = std::min(wmin, p.X() - p.Y());
            wmax = std::max(wmax, p.X() - p.Y());
        }
    }
    const double step = spacing * std::numbers::sqrt2;
    for (double c = std::ceil(wmin / step) * step; c <= wmax; c += step) {
        const std::vector<double> s = crossings(polygons, c);
        for (std::size_t i = 0; i + 1 < s.size(); i += 2) {
            pv.primitives.push_back(line(LineKind::Hatch, gp_XY((c + s[i]) / 2, (s[i] - c) / 2),
                                         gp_XY((c + s[i + 1]) / 2, (s[i + 1] - c) / 2)));
        }
    }
}

bool coincidentCircle(const ProjectedCircle& circle, double u, double v, double minorDiameter)
{
    return std::hypot(circle.cx - u, circle.cy - v) < 1e-4
           && std::abs(2.0 * circle.radius - minorDiameter) < 0.05;
}

void addThreadCallouts(ProjectedView& pv, const std::vector<qor::model::ThreadMark>& threads,
                       int viewKind, bool section)
{
    if (viewKind == static_cast<int>(ViewKind::Isometric))
        return;
    const gp_Ax2 axes = viewAxes(viewKind);
    const gp_XYZ n = axes.Direction().XYZ();
    const gp_XYZ x = axes.XDirection().XYZ();
    const gp_XYZ y = axes.YDirection().XYZ();
    const auto facing = [&](const qor::model::ThreadMark& t) { return n * t.direction.XYZ(); };
    std::map<QString, int> counts;
    for (const qor::model::ThreadMark& t : threads) {
        if (facing(t) < -0.999)
            ++counts[t.designation];
    }
    std::set<QString> labelled;
    for (const qor::model::ThreadMark& t : threads) {
        const double d = facing(t);
        const gp_XY start(t.position.XYZ() * x, t.position.XYZ() * y);
        if (std::abs(d) > 0.999) {
            const double r = (t.internal ? t.majorDiameter : t.minorDiameter) / 2.0;
            pv.primitives.push_back(endOnMark(start.X(), start.Y(), r, d < 0.0));
            std::erase_if(pv.circles, [&](const ProjectedCircle& circle) {
                return coincidentCircle(circle, start.X(), start.Y(), t.minorDiameter);
            });
            if (d >= 0.0 || t.designation.isEmpty() || !labelled.insert(t.designation).second)
                continue;
            const double a = calloutAngle(pv, start.X(), start.Y());
            const gp_XY dir(std::cos(a), std::sin(a));
            pv.callouts.push_back({gp_Pnt2d(start + t.majorDiameter / 2.0 * dir), gp_Vec2d(dir),
                                   calloutText(t.designation, counts[t.designation])});
        } else if (std::abs(d) < 0.001) {
            const gp_XYZ e = t.position.XYZ() + t.length * t.direction.XYZ();
            addSideMarks(pv, t, start, gp_XY(e * x, e * y), section);
        }
    }
}

} // namespace qor::app
