#include "model/FaceCurves.h"

#include <BRepAdaptor_Curve2d.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepTools.hxx>
#include <BRepTools_WireExplorer.hxx>
#include <BRep_Tool.hxx>
#include <ElCLib.hxx>
#include <Geom2dInt_Geom2dCurveTool.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>
#include <TopoDS_Vertex.hxx>

#include <algorithm>
#include <array>
#include <cmath>

namespace qor::model {

WireTurn wireTurn(const TopoDS_Face& forward, const TopoDS_Wire& wire)
{
    // The shoelace over points of each curve, as the classifier sums it over
    // its polygon; a turn below a thousandth of the wire's box is no turn.
    constexpr int samples = 16;
    int edges = 0;
    for (TopExp_Explorer edge(wire, TopAbs_EDGE); edge.More(); edge.Next())
        ++edges;
    int walked = 0;
    double area = 0.0;
    for (BRepTools_WireExplorer edge(wire, forward); edge.More(); edge.Next()) {
        ++walked;
        const TopAbs_Orientation turn = edge.Current().Orientation();
        if (turn != TopAbs_FORWARD && turn != TopAbs_REVERSED)
            continue;
        const BRepAdaptor_Curve2d curve(edge.Current(), forward);
        const double first = curve.FirstParameter();
        const double step = (curve.LastParameter() - first) / samples;
        const bool backwards = turn == TopAbs_REVERSED;
        gp_Pnt2d from = curve.Value(backwards ? first + samples * step : first);
        for (int k = 1; k <= samples; ++k) {
            const gp_Pnt2d to = curve.Value(first + (backwards ? samples - k : k) * step);
            area += 0.5 * (from.X() * to.Y() - to.X() * from.Y());
            from = to;
        }
    }
    if (walked != edges)
        return WireTurn::Broken;
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
    BRepTools::UVBounds(forward, wire, u0, u1, v0, v1);
    const double least = 1e-3 * (u1 - u0) * (v1 - v0);
    if (area > least)
        return WireTurn::Rim;
    return area < -least ? WireTurn::Hole : WireTurn::Flat;
}

namespace {

constexpr double fullTurn = 2.0 * M_PI;

// The parameter of a point of the circle within [first, first + 2π).
double angleOn(const gp_Circ2d& circle, double first, const gp_Pnt2d& point)
{
    return ElCLib::InPeriod(ElCLib::Parameter(circle, point), first, first + fullTurn);
}

double segmentDistance(const gp_Pnt2d& a, const gp_Pnt2d& b, const gp_Pnt2d& p)
{
    const gp_XY along = b.XY() - a.XY();
    const double length2 = along.SquareModulus();
    const double t
        = length2 > 0.0 ? std::clamp((p.XY() - a.XY()).Dot(along) / length2, 0.0, 1.0) : 0.0;
    return (a.XY() + t * along - p.XY()).Modulus();
}

// The box of an arc: its ends and the points where it runs along u or v.
Bnd_Box arcBox(const gp_Circ2d& circle, double first, double last, const gp_Pnt2d& from,
               const gp_Pnt2d& to)
{
    Bnd_Box box;
    box.Add(gp_Pnt(from.X(), from.Y(), 0.0));
    box.Add(gp_Pnt(to.X(), to.Y(), 0.0));
    const gp_Pnt2d& c = circle.Location();
    const double r = circle.Radius();
    for (const gp_Pnt2d& extreme : {gp_Pnt2d(c.X() + r, c.Y()), gp_Pnt2d(c.X() - r, c.Y()),
                                    gp_Pnt2d(c.X(), c.Y() + r), gp_Pnt2d(c.X(), c.Y() - r)}) {
        if (angleOn(circle, first, extreme) <= last)
            box.Add(gp_Pnt(extreme.X(), extreme.Y(), 0.0));
    }
    return box;
}

// The largest corner tolerance of the face, twice: how far the ends of
// following edges may lie apart.
double cornerGap(const TopoDS_Face& face)
{
    double largest = 0.0;
    for (TopExp_Explorer corner(face, TopAbs_VERTEX); corner.More(); corner.Next())
        largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Vertex(corner.Current())));
    return 2.0 * largest + 1e-7;
}

} // namespace

std::unique_ptr<FaceCurves> FaceCurves::of(const TopoDS_Face& face)
{
    const BRepAdaptor_Surface surface(face, Standard_False);
    const GeomAbs_SurfaceType type = surface.GetType();
    const bool round = type == GeomAbs_Cylinder || type == GeomAbs_Cone;
    if (type != GeomAbs_Plane && !round)
        return nullptr;
    const TopoDS_Face forward = TopoDS::Face(face.Oriented(TopAbs_FORWARD));
    std::unique_ptr<FaceCurves> made(new FaceCurves);
    made->period_ = round ? surface.UPeriod() : 0.0;
    made->gap_ = cornerGap(forward);
    std::vector<Bnd_Box> boxes;
    std::vector<double> sags; // per curve: how far the polygon's chords stray from it
    int wire = 0;
    for (TopoDS_Iterator child(forward); child.More(); child.Next(), ++wire) {
        if (child.Value().ShapeType() != TopAbs_WIRE)
            return nullptr;
        const TopoDS_Wire& loop = TopoDS::Wire(child.Value());
        const std::size_t firstOfWire = made->curves_.size();
        int edges = 0;
        for (TopExp_Explorer edge(loop, TopAbs_EDGE); edge.More(); edge.Next())
            ++edges;
        int walked = 0;
        // The area the wire encloses (Green's formula over each curve) and its box.
        double area = 0.0;
        Bnd_Box wireBox;
        // The largest sag the classifier may measure on the wire, which it
        // shifts each point by (at least the tolerance, added when asked).
        double shift = 0.0;
        for (BRepTools_WireExplorer edge(loop, forward); edge.More(); edge.Next()) {
            ++walked;
            const TopoDS_Edge& e = edge.Current();
            const TopAbs_Orientation orientation = e.Orientation();
            // A seam bounds a face on a round surface twice, once on either side.
            if ((orientation != TopAbs_FORWARD && orientation != TopAbs_REVERSED)
                || BRep_Tool::Degenerated(e) || (!round && BRep_Tool::IsClosed(e, forward)))
                return nullptr;
            const BRepAdaptor_Curve2d curve(e, forward);
            Curve c;
            c.wire = wire;
            c.first = curve.FirstParameter();
            c.last = curve.LastParameter();
            // The classifier leaves such edges out; the gap check below holds
            // its neighbours together.
            if (std::abs(c.last - c.first) < 1e-9)
                continue;
            c.from = curve.Value(orientation == TopAbs_FORWARD ? c.first : c.last);
            c.to = curve.Value(orientation == TopAbs_FORWARD ? c.last : c.first);
            double sag = 0.0;
            area += 0.5 * (c.from.XY() ^ c.to.XY());
            if (curve.GetType() == GeomAbs_Line) {
                Bnd_Box box;
                box.Add(gp_Pnt(c.from.X(), c.from.Y(), 0.0));
                box.Add(gp_Pnt(c.to.X(), c.to.Y(), 0.0));
                boxes.push_back(box);
            } else if (curve.GetType() == GeomAbs_Circle && !round) {
                c.arc = true;
                c.circle = curve.Circle();
                // Beyond the chord: the sector less its triangle, turned as the arc runs.
                const double r = c.circle.Radius();
                const double swept = (c.last - c.first) * (orientation == TopAbs_FORWARD ? 1 : -1)
                                     * (c.circle.IsDirect() ? 1 : -1);
                area += 0.5 * r * r * (swept - std::sin(swept));
                // The classifier's polygon takes its points evenly over the
                // curve's parameters, four times the intersector's samples.
                int samples = Geom2dInt_Geom2dCurveTool::NbSamples(curve);
                if (samples > 2)
                    samples *= 4;
                const double step = (c.last - c.first) / std::max(1, samples - 1);
                sag = r * (1.0 - std::cos(0.5 * step));
                shift = std::max(shift, r * (1.0 - std::cos(step)));
                boxes.push_back(
                    arcBox(c.circle, c.first, c.last, curve.Value(c.first), curve.Value(c.last)));
            } else {
                return nullptr;
            }
            wireBox.Add(boxes.back());
            made->curves_.push_back(c);
            sags.push_back(sag);
        }
        if (walked != edges || made->curves_.size() == firstOfWire)
            return nullptr;
        // A turn the classifier's polygon may sum to either sign is no turn.
        const gp_Pnt low = wireBox.CornerMin();
        const gp_Pnt high = wireBox.CornerMax();
        const double least = 1e-3 * (high.X() - low.X()) * (high.Y() - low.Y());
        if (std::abs(area) <= least)
            return nullptr;
        made->rim_.push_back(area > 0.0);
        // Each edge starts where the one before ends, and the last closes the wire.
        for (std::size_t i = firstOfWire; i < made->curves_.size(); ++i) {
            const std::size_t next = i + 1 < made->curves_.size() ? i + 1 : firstOfWire;
            if (made->curves_[i].to.Distance(made->curves_[next].from) > made->gap_)
                return nullptr;
        }
        // Twice the polygon's sag, its shifts (a corner shift is √2 of a
        // side's) and the gaps between edges.
        for (std::size_t i = firstOfWire; i < made->curves_.size(); ++i) {
            made->curves_[i].margin = 2.0 * sags[i] + 3.0 * shift + 2.0 * made->gap_;
            boxes[i].Enlarge(made->curves_[i].margin);
        }
    }
    if (made->curves_.empty())
        return nullptr;
    Bnd_Box all;
    for (const Bnd_Box& box : boxes)
        all.Add(box);
    made->uLow_ = all.CornerMin().X();
    made->uHigh_ = all.CornerMax().X();
    made->boxes_ = BoxIndex(std::move(boxes));
    return made;
}

// Whether the point lies within the margin of some curve, the tolerance
// added three times: the classifier's shifts are at least the tolerance.
bool FaceCurves::near(const gp_Pnt2d& uv, double tolerance) const
{
    const double extra = 3.0 * tolerance;
    boxes_.near(gp_Pnt(uv.X(), uv.Y(), 0.0), extra, found_);
    for (const int i : found_) {
        const Curve& c = curves_[std::size_t(i)];
        double distance = 0.0;
        const double fromCentre = c.arc ? uv.Distance(c.circle.Location()) : 0.0;
        if (!c.arc) {
            distance = segmentDistance(c.from, c.to, uv);
        } else if (fromCentre < 1e-9 * c.circle.Radius()) {
            // Every point of the arc is as far; the centre has no angle.
            distance = c.circle.Radius();
        } else if (angleOn(c.circle, c.first, uv) <= c.last) {
            distance = std::abs(fromCentre - c.circle.Radius());
        } else {
            distance = std::min(uv.Distance(c.from), uv.Distance(c.to));
        }
        if (distance <= c.margin + extra)
            return true;
    }
    return false;
}

// How often a ray from the point crosses each wire, odd or even, in odd_:
// along u (`axis` 0) or v (1), forward (`sign` 1) or back (-1). False when
// it passes within the gap of an edge's end, where the edges' ends do not
// meet exactly and a crossing could count twice or not at all.
bool FaceCurves::crossings(const gp_Pnt2d& uv, int axis, double sign) const
{
    // Coordinates along the ray and across it.
    const auto along = [axis, sign](double u, double v) { return sign * (axis == 0 ? u : v); };
    const auto across = [axis](double u, double v) { return axis == 0 ? v : u; };
    const double a = along(uv.X(), uv.Y());
    const double b = across(uv.X(), uv.Y());
    const double g = gap_;
    boxes_.kept(
        [&](const Bnd_Box& box) {
            const gp_Pnt low = box.CornerMin();
            const gp_Pnt high = box.CornerMax();
            const double farthest = std::max(along(low.X(), low.Y()), along(high.X(), high.Y()));
            return farthest < a - g || across(low.X(), low.Y()) > b + g
                   || across(high.X(), high.Y()) < b - g;
        },
        found_);
    odd_.assign(rim_.size(), 0);
    for (const int i : found_) {
        const Curve& c = curves_[std::size_t(i)];
        for (const gp_Pnt2d& end : {c.from, c.to}) {
            if (std::abs(across(end.X(), end.Y()) - b) <= g && along(end.X(), end.Y()) >= a - g)
                return false;
        }
        if (!c.arc) {
            const double fromAcross = across(c.from.X(), c.from.Y());
            const double toAcross = across(c.to.X(), c.to.Y());
            if ((fromAcross > b) != (toAcross > b)) {
                const double fromAlong = along(c.from.X(), c.from.Y());
                const double toAlong = along(c.to.X(), c.to.Y());
                const double x
                    = fromAlong
                      + (b - fromAcross) / (toAcross - fromAcross) * (toAlong - fromAlong);
                if (x > a)
                    odd_[std::size_t(c.wire)] ^= 1;
            }
            continue;
        }
        const gp_Pnt2d& centre = c.circle.Location();
        const double r = c.circle.Radius();
        const double d = b - across(centre.X(), centre.Y());
        if (std::abs(d) >= r)
            continue;
        const double h = std::sqrt(r * r - d * d);
        for (const double side : {-h, h}) {
            const gp_Pnt2d at
                = axis == 0 ? gp_Pnt2d(centre.X() + side, b) : gp_Pnt2d(b, centre.Y() + side);
            if (along(at.X(), at.Y()) > a && angleOn(c.circle, c.first, at) <= c.last)
                odd_[std::size_t(c.wire)] ^= 1;
        }
    }
    return true;
}

std::optional<TopAbs_State> FaceCurves::stateAt(const gp_Pnt2d& uv, double tolerance) const
{
    if (near(uv, tolerance))
        return std::nullopt;
    // Any ray tells the same: a grid's row through a circle's seam, or
    // through the ends of edges on holes in a row, tries the next.
    static constexpr std::array<std::pair<int, double>, 4> rays{
        {{0, 1.0}, {0, -1.0}, {1, 1.0}, {1, -1.0}}};
    if (std::none_of(rays.begin(), rays.end(),
                     [&](const auto& ray) { return crossings(uv, ray.first, ray.second); }))
        return std::nullopt;
    for (std::size_t w = 0; w < rim_.size(); ++w) {
        if (rim_[w] != (odd_[w] != 0))
            return TopAbs_OUT;
    }
    return TopAbs_IN;
}

// On a round surface the classifier tries the point as given and then moved
// by whole turns into and across the face's span of u, and takes the first
// place inside. Every turn that can fall inside the curves is asked here
// (they lie within that span): inside at one of them is inside, and any
// unclear one leaves the point to the classifier.
std::optional<TopAbs_State> FaceCurves::state(const gp_Pnt2d& uv, double tolerance) const
{
    std::optional<TopAbs_State> told = stateAt(uv, tolerance);
    if (!told || period_ <= 0.0)
        return told;
    // The boxes hold the curves' margins; a point within the tolerance's
    // share beyond them is near a curve too.
    const double slack = 3.0 * tolerance;
    const double u = uv.X();
    const double first = std::ceil((uLow_ - slack - u) / period_);
    const double last = std::floor((uHigh_ + slack - u) / period_);
    for (double k = first; k <= last && *told == TopAbs_OUT; ++k) {
        if (k == 0.0)
            continue;
        told = stateAt(gp_Pnt2d(u + k * period_, uv.Y()), tolerance);
        if (!told)
            return std::nullopt;
    }
    return told;
}

} // namespace qor::model
