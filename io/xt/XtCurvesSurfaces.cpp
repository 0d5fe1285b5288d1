#include "io/xt/XtCurvesSurfaces.h"

#include "io/NoteKind.h"
#include "io/xt/XtGeometry.h"

#include <GeomAPI_PointsToBSplineSurface.hxx>
#include <GeomAPI_ProjectPointOnSurf.hxx>
#include <Geom_Circle.hxx>
#include <Geom_ConicalSurface.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Geom_Ellipse.hxx>
#include <Geom_Line.hxx>
#include <Geom_OffsetSurface.hxx>
#include <Geom_Plane.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_SurfaceOfLinearExtrusion.hxx>
#include <Geom_SurfaceOfRevolution.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <TColgp_Array2OfPnt.hxx>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace qor::io {

namespace {

// Counts one level of nesting for as long as it lives.
class DepthGuard {
public:
    explicit DepthGuard(XtReadContext& context)
        : context_(context)
    {
        if (++context_.geometryDepth > xtMaxGeometryDepth) {
            --context_.geometryDepth;
            throw XtError(QStringLiteral("Geometrie zu tief verschachtelt"));
        }
    }
    ~DepthGuard() { --context_.geometryDepth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    XtReadContext& context_;
};

QString typeName(int code)
{
    const auto& names = xtNodeTypeName();
    const auto it = names.find(code);
    return it == names.end() ? QStringLiteral("#%1").arg(code) : QString::fromStdString(it->second);
}

gp_Ax3 axesOf(const XtNode& node, const char* origin, const char* axis)
{
    return makeXtAxes(checkedXtVector(node, origin), checkedXtDirection(node, axis),
                      checkedXtDirection(node, "x_axis"));
}

Handle(Geom_Surface) makeCone(const XtNode& node)
{
    const double halfAngle
        = std::atan2(checkedXtReal(node, "sin_half_angle"), checkedXtReal(node, "cos_half_angle"));
    const double radius = checkedXtReal(node, "radius");
    if (std::abs(halfAngle) < 1e-12)
        return new Geom_CylindricalSurface(axesOf(node, "pvec", "axis"), radius);
    return new Geom_ConicalSurface(axesOf(node, "pvec", "axis"), halfAngle, radius);
}

Handle(Geom_Surface) makeTorus(XtReadContext& context, const XtNode& node)
{
    double major = checkedXtReal(node, "major_radius");
    if (major < 0) {
        major = -major;
        addXtWarning(context, approximationNote(Approximation::lemonTorus));
    }
    return new Geom_ToroidalSurface(axesOf(node, "centre", "axis"), major,
                                    checkedXtReal(node, "minor_radius"));
}

Handle(Geom_Surface) makeOffset(XtReadContext& context, const XtNode& node)
{
    const XtNode* base = xtPointer(*context.model, &node, "surface");
    if (!base)
        throw XtError(QStringLiteral("Versatzfläche ohne Grundfläche"));
    Handle(Geom_Surface) surface = cachedXtSurface(context, *base);
    const double offset = checkedXtReal(node, "offset");
    return new Geom_OffsetSurface(surface, xtSense(*base) == '+' ? offset : -offset, false);
}

Handle(Geom_Surface) makeSwept(XtReadContext& context, const XtNode& node)
{
    const XtNode* section = xtPointer(*context.model, &node, "section");
    if (!section)
        throw XtError(QStringLiteral("Extrusionsfläche ohne Querschnitt"));
    bool sameSense = true;
    bool approximated = false;
    Handle(Geom_Curve) curve = makeXtCurve(context, *section, sameSense, approximated);
    return new Geom_SurfaceOfLinearExtrusion(
        curve, safeXtDir(checkedXtVector(node, "sweep"), gp_XYZ(0, 0, 1)));
}

Handle(Geom_Surface) makeSpun(XtReadContext& context, const XtNode& node)
{
    const XtNode* profile = xtPointer(*context.model, &node, "profile");
    if (!profile)
        throw XtError(QStringLiteral("Rotationsfläche ohne Profil"));
    bool sameSense = true;
    bool approximated = false;
    Handle(Geom_Curve) curve = makeXtCurve(context, *profile, sameSense, approximated);
    const gp_Ax1 axis(gp_Pnt(checkedXtVector(node, "base")),
                      safeXtDir(checkedXtDirection(node, "axis"), gp_XYZ(0, 0, 1)));
    return new Geom_SurfaceOfRevolution(curve, axis);
}

// The part of a blend's spine to sample: a trimmed curve's own bounds, which the file gives
// for it (the curve comes back whole, to be bounded by an edge's vertices, which a spine has
// none of), else the whole curve.
std::pair<double, double> spineRange(const XtNode& spine, const Handle(Geom_Curve)& curve)
{
    if (spine.type == 133) {
        const double a = checkedXtReal(spine, "parm_1");
        const double b = checkedXtReal(spine, "parm_2");
        if (a != b)
            return {std::min(a, b), std::max(a, b)};
    }
    return {curve->FirstParameter(), curve->LastParameter()};
}

// A rolling-ball blend between two supports, approximated by circular cross sections that
// run from the foot point on the first support to the one on the second around the spine.
Handle(Geom_Surface) makeBlend(XtReadContext& context, const XtNode& node)
{
    const XtModel& model = *context.model;
    const XtNode* spine = xtPointer(model, &node, "spine");
    const XtNode* first = xtPointer(model, &node, "surface");
    const XtFieldValue* supports = node.field("surface");
    const XtNode* second = nullptr;
    if (supports && supports->ints.size() >= 2 && supports->ints[1] != 0) {
        const auto it = model.nodes.find(static_cast<quint32>(supports->ints[1]));
        second = it == model.nodes.end() ? nullptr : &it->second;
    }
    if (!spine || !first || !second)
        throw XtError(QStringLiteral("Verrundungsfläche unvollständig"));

    bool sameSense = true;
    bool approximated = false;
    Handle(Geom_Curve) curve = makeXtCurve(context, *spine, sameSense, approximated);
    Handle(Geom_Surface) s1 = cachedXtSurface(context, *first);
    Handle(Geom_Surface) s2 = cachedXtSurface(context, *second);
    const double r1 = std::abs(checkedXtReal(node, "range", 0));
    const double r2 = std::abs(checkedXtReal(node, "range", 1));
    const auto [f, l] = spineRange(*spine, curve);
    if (std::abs(f) >= 1e100 || std::abs(l) >= 1e100)
        throw XtError(QStringLiteral("Verrundung mit unbegrenzter Leitkurve"));

    constexpr int rows = 24;
    constexpr int columns = 9;
    TColgp_Array2OfPnt grid(1, rows, 1, columns);
    for (int i = 1; i <= rows; ++i) {
        const gp_Pnt p = curve->Value(f + (i - 1) * (l - f) / (rows - 1));
        GeomAPI_ProjectPointOnSurf onFirst(p, s1);
        GeomAPI_ProjectPointOnSurf onSecond(p, s2);
        if (onFirst.NbPoints() == 0 || onSecond.NbPoints() == 0)
            throw XtError(QStringLiteral("Verrundung: Fußpunkte nicht gefunden"));
        const gp_Vec toFirst(p, onFirst.NearestPoint());
        const gp_Vec toSecond(p, onSecond.NearestPoint());
        if (toFirst.Magnitude() < 1e-12 || toSecond.Magnitude() < 1e-12)
            throw XtError(QStringLiteral("Verrundung entartet"));
        const double radius = std::max(r1, r2) > 0
                                  ? (r1 + r2) / 2
                                  : (toFirst.Magnitude() + toSecond.Magnitude()) / 2;
        const gp_Vec d1 = toFirst.Normalized();
        const gp_Vec d2 = toSecond.Normalized();
        const gp_Vec normal = d1.Crossed(d2);
        if (normal.Magnitude() < 1e-12)
            throw XtError(QStringLiteral("Verrundung: Fußpunkte gegenüber"));
        const double angle = d1.Angle(d2);
        const gp_Ax1 axis(p, gp_Dir(normal));
        for (int j = 1; j <= columns; ++j)
            grid.SetValue(i, j, p.Translated(radius * d1.Rotated(axis, (j - 1) * angle / 8)));
    }
    GeomAPI_PointsToBSplineSurface fit(grid, 3, 8, GeomAbs_C2, 1e-7);
    if (!fit.IsDone())
        throw XtError(QStringLiteral("Verrundungsfläche nicht berechenbar"));
    addXtWarning(context, approximationNote(Approximation::rollingBallBlends));
    return Handle(Geom_Surface)(fit.Surface());
}

Handle(Geom_Curve) makeEllipse(XtReadContext& context, const XtNode& node)
{
    gp_Ax2 axes(gp_Pnt(checkedXtVector(node, "centre")),
                safeXtDir(checkedXtDirection(node, "normal"), gp_XYZ(0, 0, 1)),
                safeXtDir(checkedXtDirection(node, "x_axis"), gp_XYZ(1, 0, 0)));
    double major = checkedXtReal(node, "major_radius");
    double minor = checkedXtReal(node, "minor_radius");
    if (minor > major) {
        axes.Rotate(axes.Axis(), std::numbers::pi / 2);
        std::swap(major, minor);
        addXtWarning(context, approximationNote(Approximation::swappedEllipseAxes));
    }
    return new Geom_Ellipse(axes, major, minor);
}

Handle(Geom_Curve) makeIntersection(XtReadContext& context, const XtNode& node)
{
    addXtWarning(context, approximationNote(Approximation::intersectionCurves));
    const XtModel& model = *context.model;
    const XtNode* chart = xtPointer(model, &node, "chart");
    if (!chart)
        throw XtError(QStringLiteral("Schnittkurve ohne Stützpunkte"));
    std::vector<gp_Pnt> points;
    if (const XtFieldValue* hvec = chart->field("hvec")) {
        for (std::size_t i = 0; i + 2 < hvec->reals.size(); i += 3)
            points.emplace_back(checkedXtNumber(hvec->reals[i]),
                                checkedXtNumber(hvec->reals[i + 1]),
                                checkedXtNumber(hvec->reals[i + 2]));
    }
    addXtLimitPoint(points, xtPointer(model, &node, "start"), true);
    addXtLimitPoint(points, xtPointer(model, &node, "end"), false);
    std::vector<gp_Pnt> kept;
    for (const gp_Pnt& p : points) {
        if (kept.empty() || p.Distance(kept.back()) > 1e-10)
            kept.push_back(p);
    }
    if (kept.size() < 2)
        throw XtError(QStringLiteral("Schnittkurve mit zu wenigen Punkten"));
    return curveThroughXtPoints(kept);
}

Handle(Geom_Curve) makeTrimmed(XtReadContext& context, const XtNode& node, bool& sameSense,
                               bool& approximated)
{
    const XtNode* basis = xtPointer(*context.model, &node, "basis_curve");
    if (!basis)
        throw XtError(QStringLiteral("Getrimmte Kurve ohne Basis"));
    bool basisSense = true;
    Handle(Geom_Curve) curve = makeXtCurve(context, *basis, basisSense, approximated);
    // Only compared, never handed to the kernel: the edge's vertices bound the curve.
    const bool rising = xtReal(node, "parm_2") > xtReal(node, "parm_1");
    const bool s = xtSense(node) == '+' ? rising : !rising;
    sameSense = basisSense ? s : !s;
    // The edge's vertices bound the curve; trimming it here would only add a parameter
    // range that real files do not always keep consistent with those vertices.
    return curve;
}

// A curve in a surface's parameter plane, sampled on the surface and interpolated in space.
Handle(Geom_Curve) makeSurfaceCurve(XtReadContext& context, const XtNode& node)
{
    const XtModel& model = *context.model;
    const XtNode* surfaceNode = xtPointer(model, &node, "surface");
    const XtNode* bCurve = xtPointer(model, &node, "b_curve");
    if (!surfaceNode || !bCurve)
        throw XtError(QStringLiteral("Flächenkurve unvollständig"));
    int dim = 0;
    Handle(Geom_BSplineCurve) planar = readXtNurbs(model, *bCurve, dim);
    Handle(Geom_Surface) surface = cachedXtSurface(context, *surfaceNode);
    const int n = std::max(4 * planar->NbPoles(), 16);
    const double f = planar->FirstParameter();
    const double l = planar->LastParameter();
    std::vector<gp_Pnt> points;
    points.reserve(std::size_t(n) + 1);
    for (int i = 0; i <= n; ++i) {
        const gp_Pnt q = planar->Value(f + i * (l - f) / n);
        points.push_back(surface->Value(q.X(), q.Y()));
    }
    addXtWarning(context, approximationNote(Approximation::surfaceParameterCurves));
    return curveThroughXtPoints(points);
}

} // namespace

Handle(Geom_Surface) makeXtSurface(XtReadContext& context, const XtNode& node)
{
    const DepthGuard depth(context);
    switch (node.type) {
    case 50: return new Geom_Plane(axesOf(node, "pvec", "normal"));
    case 51:
        return new Geom_CylindricalSurface(axesOf(node, "pvec", "axis"),
                                           checkedXtReal(node, "radius"));
    case 52: return makeCone(node);
    case 53:
        return new Geom_SphericalSurface(axesOf(node, "centre", "axis"),
                                         checkedXtReal(node, "radius"));
    case 54: return makeTorus(context, node);
    case 56: return makeBlend(context, node);
    case 60: return makeOffset(context, node);
    case 67: return makeSwept(context, node);
    case 68: return makeSpun(context, node);
    case 124: return readXtNurbsSurface(*context.model, node);
    default:
        throw XtError(QStringLiteral("Flächentyp %1 nicht unterstützt").arg(typeName(node.type)));
    }
}

Handle(Geom_Surface) cachedXtSurface(XtReadContext& context, const XtNode& node)
{
    const auto it = context.surfaceCache.find(node.index);
    if (it != context.surfaceCache.end())
        return it->second;
    Handle(Geom_Surface) surface = makeXtSurface(context, node);
    context.surfaceCache.emplace(node.index, surface);
    return surface;
}

Handle(Geom_Curve) makeXtCurve(XtReadContext& context, const XtNode& node, bool& sameSense,
                               bool& approximated)
{
    const DepthGuard depth(context);
    sameSense = xtSense(node) == '+';
    approximated = false;
    switch (node.type) {
    case 30:
        return new Geom_Line(gp_Pnt(checkedXtVector(node, "pvec")),
                             safeXtDir(checkedXtDirection(node, "direction"), gp_XYZ(0, 0, 1)));
    case 31:
        return new Geom_Circle(
            gp_Ax2(gp_Pnt(checkedXtVector(node, "centre")),
                   safeXtDir(checkedXtDirection(node, "normal"), gp_XYZ(0, 0, 1)),
                   safeXtDir(checkedXtDirection(node, "x_axis"), gp_XYZ(1, 0, 0))),
            checkedXtReal(node, "radius"));
    case 32: return makeEllipse(context, node);
    case 38: approximated = true; return makeIntersection(context, node);
    case 133: return makeTrimmed(context, node, sameSense, approximated);
    case 134: {
        int dim = 0;
        Handle(Geom_Curve) curve = readXtNurbs(*context.model, node, dim);
        if (dim != 3)
            throw XtError(QStringLiteral("2D-B-Kurve direkt an einer Kante"));
        return curve;
    }
    case 137: approximated = true; return makeSurfaceCurve(context, node);
    default:
        throw XtError(QStringLiteral("Kurventyp %1 nicht unterstützt").arg(typeName(node.type)));
    }
}

} // namespace qor::io
