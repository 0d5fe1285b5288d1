#include "drawing/Projection.h"

#include "drawing/CoveredStretches.h"
#include "drawing/Section.h"
#include "io/ShapeMeshing.h"
#include "model/Document.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <GCPnts_TangentialDeflection.hxx>
#include <HLRAlgo_Projector.hxx>
#include <HLRBRep_Algo.hxx>
#include <HLRBRep_HLRToShape.hxx>
#include <HLRBRep_PolyAlgo.hxx>
#include <HLRBRep_PolyHLRToShape.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <gp_Circ.hxx>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace qor::app {

namespace {

constexpr int isometricKind = static_cast<int>(ViewKind::Isometric);

gp_Pnt2d flat(const gp_Pnt& p)
{
    return {p.X(), p.Y()};
}

double degrees(double radians)
{
    return radians * 180.0 / std::numbers::pi;
}

void extendBounds(ProjectedView& pv, double x, double y)
{
    pv.minX = std::min(pv.minX, x);
    pv.minY = std::min(pv.minY, y);
    pv.maxX = std::max(pv.maxX, x);
    pv.maxY = std::max(pv.maxY, y);
}

// Circle fields of a primitive from a projected circular edge; the centre is a snap point.
void describeCircle(const BRepAdaptor_Curve& curve, double first, double last, ViewPrimitive& prim,
                    ProjectedView& out)
{
    const gp_Circ circle = curve.Circle();
    prim.circular = true;
    prim.cx = circle.Location().X();
    prim.cy = circle.Location().Y();
    prim.radius = circle.Radius();
    if (std::abs(last - first - 2.0 * std::numbers::pi) < 1e-6) {
        prim.startDeg = 0.0;
        prim.endDeg = 360.0;
        if (prim.kind == LineKind::Visible || prim.kind == LineKind::Outline)
            out.circles.push_back({prim.cx, prim.cy, prim.radius});
    } else {
        const gp_Pnt a = curve.Value(first);
        const gp_Pnt b = curve.Value(last);
        const double a1 = degrees(std::atan2(a.Y() - prim.cy, a.X() - prim.cx));
        const double a2 = degrees(std::atan2(b.Y() - prim.cy, b.X() - prim.cx));
        const bool upward = circle.Axis().Direction().Z() > 0.0;
        prim.startDeg = upward ? a1 : a2;
        prim.endDeg = upward ? a2 : a1;
    }
    out.snapPoints.emplace_back(prim.cx, prim.cy);
}

void appendEdge(const TopoDS_Edge& edge, LineKind kind, ProjectedView& out)
{
    const BRepAdaptor_Curve curve(edge);
    const double first = curve.FirstParameter();
    const double last = curve.LastParameter();
    ViewPrimitive prim;
    prim.kind = kind;
    if (curve.GetType() == GeomAbs_Line) {
        prim.points = {flat(curve.Value(first)), flat(curve.Value(last))};
    } else {
        if (curve.GetType() == GeomAbs_Circle)
            describeCircle(curve, first, last, prim, out);
        const GCPnts_TangentialDeflection sampler(curve, first, last, 0.08, 0.05, 2, 1e-9, 1e-7);
        for (int i = 1; i <= sampler.NbPoints(); ++i)
            prim.points.push_back(flat(sampler.Value(i)));
    }
    if (prim.points.size() < 2)
        return;
    if (prim.circular && prim.endDeg - prim.startDeg >= 359.999) {
        extendBounds(out, prim.cx - prim.radius, prim.cy - prim.radius);
        extendBounds(out, prim.cx + prim.radius, prim.cy + prim.radius);
    }
    for (const gp_Pnt2d& p : prim.points)
        extendBounds(out, p.X(), p.Y());
    if (kind == LineKind::Visible || kind == LineKind::Outline) {
        out.snapPoints.push_back(prim.points.front());
        out.snapPoints.push_back(prim.points.back());
    }
    out.primitives.push_back(std::move(prim));
}

void projectExact(const TopoDS_Shape& shape, const gp_Ax2& axes, int viewKind, bool hidden,
                  ExactCheck check, ProjectedView& out)
{
    Handle(HLRBRep_Algo) algo = new HLRBRep_Algo();
    algo->Add(shape, 0);
    algo->Projector(HLRAlgo_Projector(axes));
    algo->Update();
    algo->Hide();
    if (check == ExactCheck::CoveredStretches) {
        try {
            OCC_CATCH_SIGNALS
            hideCoveredStretches(*algo->DataStructure(), shape, axes.Direction());
        } catch (const Standard_Failure&) {
            // The kernel's lines stand where the check could not look.
        }
    }
    HLRBRep_HLRToShape result(algo);
    edgeToPrimitives(result.VCompound(), LineKind::Visible, out);
    edgeToPrimitives(result.OutLineVCompound(), LineKind::Outline, out);
    if (viewKind == isometricKind) {
        edgeToPrimitives(result.Rg1LineVCompound(), LineKind::Visible, out);
    } else if (hidden) {
        edgeToPrimitives(result.HCompound(), LineKind::Hidden, out);
        edgeToPrimitives(result.OutLineHCompound(), LineKind::Hidden, out);
    }
}

void projectPolygonal(const TopoDS_Shape& shape, const HLRAlgo_Projector& projector, int viewKind,
                      bool hidden, ProjectedView& out)
{
    qor::io::meshShape(shape, 0.05, 0.3);
    Handle(HLRBRep_PolyAlgo) algo = new HLRBRep_PolyAlgo(shape);
    algo->Projector(projector);
    algo->Update();
    HLRBRep_PolyHLRToShape result;
    result.Update(algo);
    edgeToPrimitives(result.VCompound(), LineKind::Visible, out);
    edgeToPrimitives(result.OutLineVCompound(), LineKind::Outline, out);
    if (viewKind != isometricKind && hidden) {
        edgeToPrimitives(result.HCompound(), LineKind::Hidden, out);
        edgeToPrimitives(result.OutLineHCompound(), LineKind::Hidden, out);
    }
}

// The axis segment of a cylindrical or conical face; false for other faces.
bool faceAxisSegment(const TopoDS_Face& face, gp_Pnt& a, gp_Pnt& b, gp_Dir& direction)
{
    const BRepAdaptor_Surface surface(face);
    const GeomAbs_SurfaceType type = surface.GetType();
    if (type != GeomAbs_Cylinder && type != GeomAbs_Cone)
        return false;
    const gp_Ax1 axis
        = type == GeomAbs_Cylinder ? surface.Cylinder().Axis() : surface.Cone().Axis();
    double umin = 0.0, umax = 0.0, vmin = 0.0, vmax = 0.0;
    BRepTools::UVBounds(face, umin, umax, vmin, vmax);
    const gp_XYZ l = axis.Location().XYZ();
    const gp_XYZ d = axis.Direction().XYZ();
    direction = axis.Direction();
    if (type == GeomAbs_Cylinder) {
        a = gp_Pnt(l + vmin * d);
        b = gp_Pnt(l + vmax * d);
    } else {
        const gp_XYZ s1 = surface.Value(umin, vmin).XYZ();
        const gp_XYZ s2 = surface.Value(umin, vmax).XYZ();
        a = gp_Pnt(l + ((s1 - l) * d) * d);
        b = gp_Pnt(l + ((s2 - l) * d) * d);
    }
    return true;
}

ViewPrimitive centreLine(double x1, double y1, double x2, double y2)
{
    ViewPrimitive prim;
    prim.kind = LineKind::Centre;
    prim.points = {gp_Pnt2d(x1, y1), gp_Pnt2d(x2, y2)};
    return prim;
}

// Centre lines of cylinders and cones lying parallel to the paper.
void addAxisLines(const TopoDS_Shape& shape, const gp_Ax2& axes, ProjectedView& pv)
{
    const gp_XYZ n = axes.Direction().XYZ();
    const gp_XYZ x = axes.XDirection().XYZ();
    const gp_XYZ y = n.Crossed(x).Normalized();
    std::vector<std::pair<gp_Pnt2d, gp_Pnt2d>> accepted;
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
        gp_Pnt a3, b3;
        gp_Dir d;
        if (!faceAxisSegment(TopoDS::Face(it.Current()), a3, b3, d)
            || std::abs(n * d.XYZ()) >= 0.01)
            continue;
        const gp_Pnt2d a(a3.XYZ() * x, a3.XYZ() * y);
        const gp_Pnt2d b(b3.XYZ() * x, b3.XYZ() * y);
        const double length = a.Distance(b);
        if (length < 1e-6)
            continue;
        const double e = std::min(0.15 * length, 3.0);
        const gp_XY u = (b.XY() - a.XY()) / length;
        const gp_Pnt2d start(a.XY() - e * u);
        const gp_Pnt2d end(b.XY() + e * u);
        const bool seen = std::any_of(accepted.begin(), accepted.end(), [&](const auto& line) {
            return start.Distance(line.first) + end.Distance(line.second) < 0.001;
        });
        if (seen)
            continue;
        accepted.emplace_back(start, end);
        pv.primitives.push_back(centreLine(start.X(), start.Y(), end.X(), end.Y()));
    }
}

// A cross over every distinct circle centre, reaching past the largest circle there.
void addCentreMarks(ProjectedView& pv)
{
    std::vector<gp_Pnt2d> marked;
    for (const ProjectedCircle& circle : pv.circles) {
        const gp_Pnt2d centre(circle.cx, circle.cy);
        const auto near = [&](const gp_Pnt2d& p) { return p.Distance(centre) < 0.001; };
        if (std::any_of(marked.begin(), marked.end(), near))
            continue;
        marked.push_back(centre);
        double radius = 0.0;
        for (const ProjectedCircle& other : pv.circles) {
            if (near(gp_Pnt2d(other.cx, other.cy)))
                radius = std::max(radius, other.radius);
        }
        const double arm = radius + std::min(0.3 * radius + 1.0, 3.0);
        pv.primitives.push_back(centreLine(circle.cx - arm, circle.cy, circle.cx + arm, circle.cy));
        pv.primitives.push_back(centreLine(circle.cx, circle.cy - arm, circle.cx, circle.cy + arm));
    }
}

void hashInto(std::uint64_t& h, std::uint64_t value)
{
    h = h * 31 + value;
}

} // namespace

int countFaces(const TopoDS_Shape& shape, int limit)
{
    int count = 0;
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More() && count < limit; it.Next())
        ++count;
    return count;
}

void edgeToPrimitives(const TopoDS_Shape& edges, LineKind kind, ProjectedView& out)
{
    if (edges.IsNull())
        return;
    TopTools_IndexedMapOfShape map;
    TopExp::MapShapes(edges, TopAbs_EDGE, map);
    for (int i = 1; i <= map.Extent(); ++i) {
        const TopoDS_Edge& edge = TopoDS::Edge(map(i));
        if (!BRep_Tool::Degenerated(edge))
            appendEdge(edge, kind, out);
    }
}

ProjectedView projectView(const TopoDS_Shape& shape, int viewKind, bool hidden, bool exact,
                          ExactCheck check)
{
    ProjectedView pv;
    if (shape.IsNull()) {
        pv.minX = pv.minY = pv.maxX = pv.maxY = 0.0;
        return pv;
    }
    const gp_Ax2 axes = viewAxes(viewKind);
    const HLRAlgo_Projector projector(axes);
    try {
        OCC_CATCH_SIGNALS
        if (exact)
            projectExact(shape, axes, viewKind, hidden, check, pv);
        else
            projectPolygonal(shape, projector, viewKind, hidden, pv);
    } catch (const Standard_Failure&) {
        // Bounds, snap points and circles must describe what is drawn.
        pv = ProjectedView();
    }
    if (viewKind != isometricKind) {
        try {
            OCC_CATCH_SIGNALS
            addAxisLines(shape, axes, pv);
        } catch (const Standard_Failure&) {
            // Centre lines are an aid: the view stands without those of a broken face.
        }
        addCentreMarks(pv);
    }
    if (pv.minX > pv.maxX)
        pv.minX = pv.minY = pv.maxX = pv.maxY = 0.0;
    return pv;
}

double viewFactor(const Drawing& sheet, const Drawing::View& view)
{
    const double scale = sheet.scale > 0.0 && std::isfinite(sheet.scale) ? sheet.scale : 1.0;
    const double mul = view.mul > 0.0 && std::isfinite(view.mul) ? view.mul : 1.0;
    return scale * mul;
}

QPointF viewToSheet(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                    double x, double y)
{
    const double s = viewFactor(sheet, view);
    const QPointF centre((pv.minX + pv.maxX) / 2.0, (pv.minY + pv.maxY) / 2.0);
    return (QPointF(x, y) - centre) * s + QPointF(view.x, view.y);
}

QPointF sheetToView(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                    double x, double y)
{
    const double s = viewFactor(sheet, view);
    const QPointF centre((pv.minX + pv.maxX) / 2.0, (pv.minY + pv.maxY) / 2.0);
    return (QPointF(x, y) - QPointF(view.x, view.y)) / s + centre;
}

QPointF labelOutsideView(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                         QPointF start, QPointF dir)
{
    const QPointF a = viewToSheet(sheet, view, pv, pv.minX, pv.minY);
    const QPointF b = viewToSheet(sheet, view, pv, pv.maxX, pv.maxY);
    const auto inside = [&](QPointF p) {
        return p.x() >= std::min(a.x(), b.x()) && p.x() <= std::max(a.x(), b.x())
               && p.y() >= std::min(a.y(), b.y()) && p.y() <= std::max(a.y(), b.y());
    };
    double t = 0.0;
    for (int step = 0; step < 400 && inside(start + t * dir); ++step)
        t += 0.5;
    return start + (t + 6.0) * dir;
}

std::optional<QPointF> snapPoint(const Drawing& sheet, const Drawing::View& view,
                                 const ProjectedView& pv, double x, double y, double tolerance,
                                 bool* circleHit, double* radius)
{
    const QPointF target(x, y);
    const auto distance = [&](double vx, double vy) {
        const QPointF d = viewToSheet(sheet, view, pv, vx, vy) - target;
        return std::hypot(d.x(), d.y());
    };
    const gp_Pnt2d* best = nullptr;
    double bestDistance = tolerance;
    for (const gp_Pnt2d& p : pv.snapPoints) {
        const double d = distance(p.X(), p.Y());
        if (d < bestDistance) {
            best = &p;
            bestDistance = d;
        }
    }
    if (best)
        return QPointF(best->X(), best->Y());
    if (!circleHit)
        return std::nullopt;
    const double s = viewFactor(sheet, view);
    for (const ProjectedCircle& circle : pv.circles) {
        if (std::abs(distance(circle.cx, circle.cy) - circle.radius * s) < tolerance) {
            *circleHit = true;
            if (radius)
                *radius = circle.radius;
            return QPointF(circle.cx, circle.cy);
        }
    }
    return std::nullopt;
}

int projectionKey(const Drawing::View& view)
{
    return 2 * view.type + (view.hidden ? 1 : 0) + (view.section ? 100 : 0);
}

bool ProjectionCache::BodyKey::operator==(const BodyKey& other) const
{
    return id == other.id && shape.TShape() == other.shape.TShape() && placement == other.placement
           && orientation == other.orientation;
}

TopoDS_Compound ProjectionCache::modelCompound(const qor::model::Document& document)
{
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    std::vector<BodyKey> bodies;
    std::uint64_t h = 0;
    for (const auto& [id, body] : document.current.bodies) {
        const auto hidden = document.hidden.find(id);
        if ((hidden != document.hidden.end() && hidden->second) || body.shape.IsNull())
            continue;
        builder.Add(compound, body.shape);
        BodyKey key{id, body.shape, {}, static_cast<int>(body.shape.Orientation())};
        const gp_Trsf trsf = body.shape.Location().Transformation();
        hashInto(h, static_cast<std::uint64_t>(id));
        hashInto(h, reinterpret_cast<std::uintptr_t>(body.shape.TShape().get()));
        hashInto(h, static_cast<std::uint64_t>(key.orientation));
        for (int row = 1; row <= 3; ++row) {
            for (int col = 1; col <= 4; ++col) {
                const double value = trsf.Value(row, col);
                key.placement[(row - 1) * 4 + col - 1] = value;
                hashInto(h, std::hash<double>{}(value));
            }
        }
        bodies.push_back(std::move(key));
    }
    // Cosmetic threads change the drawing without changing a body.
    for (const qor::model::ThreadMark& t : document.current.threads) {
        for (double value :
             {t.position.X(), t.position.Y(), t.position.Z(), t.direction.X(), t.direction.Y(),
              t.direction.Z(), t.majorDiameter, t.minorDiameter, t.length})
            hashInto(h, std::hash<double>{}(value));
        hashInto(h, t.internal ? 1 : 2);
        hashInto(h, qHash(t.designation));
    }
    if (h != modelHash_ || bodies != bodies_) {
        projections_.clear();
        bodies_ = std::move(bodies);
        modelHash_ = h;
    }
    return compound;
}

const ProjectedView& ProjectionCache::projectedView(const qor::model::Document& document,
                                                    const Drawing& sheet, const Drawing::View& view)
{
    const TopoDS_Compound compound = modelCompound(document);
    const int key = projectionKey(view);
    if (const auto found = projections_.find(key); found != projections_.end())
        return found->second;
    const bool exact = countFaces(compound) < exactFaceLimit;
    // Reports the end also when the projection throws.
    struct Working {
        const std::function<void(bool)>& report;
        explicit Working(const std::function<void(bool)>& r)
            : report(r)
        {
            if (report)
                report(true);
        }
        ~Working()
        {
            if (report)
                report(false);
        }
    } working(onProjecting);
    ProjectedView pv;
    if (view.section) {
        const TopoDS_Shape cut = sectionCut(compound, view.type);
        pv = projectView(cut, view.type, false, exact);
        const double s = viewFactor(sheet, view);
        sectionHatchOutlines(pv, cut, view.type, s > 1e-6 ? 3.0 / s : 3e6);
    } else {
        pv = projectView(compound, view.type, view.hidden, exact);
    }
    addThreadCallouts(pv, document.current.threads, view.type, view.section);
    return projections_[key] = std::move(pv);
}

Drawing::View* ProjectionCache::viewAt(const qor::model::Document& document, Drawing& sheet,
                                       double x, double y)
{
    for (Drawing::View& view : sheet.views) {
        const ProjectedView& pv = projectedView(document, sheet, view);
        const double s = viewFactor(sheet, view);
        if (std::abs(x - view.x) <= (pv.maxX - pv.minX) * s / 2.0 + 4.0
            && std::abs(y - view.y) <= (pv.maxY - pv.minY) * s / 2.0 + 4.0)
            return &view;
    }
    return nullptr;
}

void ProjectionCache::clear()
{
    projections_.clear();
}

} // namespace qor::app
