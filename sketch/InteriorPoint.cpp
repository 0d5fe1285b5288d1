#include "sketch/InteriorPoint.h"

#include "sketch/LooseEdges.h"
#include "sketch/Plane.h"
#include "sketch/PlaneCurves.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepClass_FaceClassifier.hxx>
#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qor::sketch {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;
// Lines laid through a face: enough that a narrow first choice has better ones
// beside it, few enough that a face costs a small multiple of its edges.
constexpr std::size_t scanLines = 8;
// Heights to avoid looked at between two of the face's own: past them the
// widest free gap found so far serves.
constexpr std::size_t avoidScan = 64;
// Heights this close, relative to the largest, are one.
constexpr double sameHeight = 1e-9;
// Pieces a curve other than a line or circle is measured in.
constexpr int samplesPerCurve = 64;

double angleOf(Vec2 p, Vec2 centre)
{
    return std::atan2(p.y - centre.y, p.x - centre.x);
}

// The edge in sketch coordinates, appended as one or more plane curves.
void addEdgeCurves(const TopoDS_Edge& edge, const gp_Ax3& plane, std::vector<PlaneCurve>& curves)
{
    const BRepAdaptor_Curve curve(edge);
    const double first = curve.FirstParameter();
    const double last = curve.LastParameter();
    const auto at = [&](double t) { return toPlane(plane, curve.Value(t)); };
    if (curve.GetType() == GeomAbs_Line) {
        curves.push_back({EntityType::Line, at(first), at(last)});
        return;
    }
    if (curve.GetType() == GeomAbs_Circle) {
        PlaneCurve arc{EntityType::Arc, toPlane(plane, curve.Circle().Location()), {}};
        arc.r = curve.Circle().Radius();
        const double start = angleOf(at(first), arc.a);
        if (last - first >= twoPi - 1e-12) {
            arc.type = EntityType::Circle;
            curves.push_back(arc);
            return;
        }
        // The plane may see the circle either way round; the middle tells.
        const double end = angleOf(at(last), arc.a);
        const double middle = angleOf(at(0.5 * (first + last)), arc.a);
        const bool forward = wrapAngle(middle - start) <= wrapAngle(end - start);
        arc.a0 = forward ? start : end;
        arc.span = forward ? wrapAngle(end - start) : wrapAngle(start - end);
        curves.push_back(arc);
        return;
    }
    Vec2 previous = at(first);
    for (int k = 1; k <= samplesPerCurve; ++k) {
        const Vec2 next = at(first + (last - first) * k / samplesPerCurve);
        curves.push_back({EntityType::Line, previous, next});
        previous = next;
    }
}

// A height strictly between lo and hi, as far as may be from the heights to
// avoid between them.
double freeHeight(double lo, double hi, const std::vector<double>& avoid)
{
    double bestLo = lo;
    double bestHi = lo;
    double below = lo;
    std::size_t scanned = 0;
    for (auto it = std::upper_bound(avoid.begin(), avoid.end(), lo);; ++it) {
        const bool end = it == avoid.end() || !(*it < hi);
        const double above = end ? hi : *it;
        if (above - below > bestHi - bestLo) {
            bestLo = below;
            bestHi = above;
        }
        if (end || ++scanned == avoidScan)
            break;
        below = above;
    }
    return 0.5 * (bestLo + bestHi);
}

struct Candidate {
    Vec2 point;
    double clearance = -1.0;
};

// The middle of the widest stretch of the line at height v inside the face,
// whose boundary is `boundary`; its clearance from all the face's edges,
// `curves`. No candidate when the crossings do not pair up.
Candidate scan(const std::vector<PlaneCurve>& boundary, const std::vector<PlaneCurve>& curves,
               double v)
{
    std::vector<double> us;
    for (const PlaneCurve& curve : boundary) {
        double at[2];
        const int n = crossings(curve, v, at);
        us.insert(us.end(), at, at + n);
    }
    if (us.empty() || us.size() % 2 != 0)
        return {};
    std::sort(us.begin(), us.end());
    std::size_t widest = 0;
    for (std::size_t k = 2; k < us.size(); k += 2) {
        if (us[k + 1] - us[k] > us[widest + 1] - us[widest])
            widest = k;
    }
    Candidate candidate;
    candidate.point = {0.5 * (us[widest] + us[widest + 1]), v};
    candidate.clearance = us[widest + 1] - us[widest];
    for (const PlaneCurve& curve : curves)
        candidate.clearance = std::min(candidate.clearance, distanceTo(curve, candidate.point));
    return candidate;
}

// Inside the face as the kernel's classifiers judge it, on the face's own
// parameters (the sketch coordinates) and on the point placed on the plane.
bool kernelFindsInside(const TopoDS_Face& face, const gp_Ax3& plane, Vec2 p)
{
    return BRepClass_FaceClassifier(face, gp_Pnt2d(p.x, p.y), 1e-7).State() == TopAbs_IN
           && faceContainsPoint(face, plane, p.x, p.y);
}

} // namespace

Vec2 interiorPoint(const TopoDS_Face& face, const gp_Ax3& plane, const std::vector<double>& avoid)
{
    const std::vector<char> bounding = boundingEdges(face);
    std::vector<PlaneCurve> boundary;
    std::vector<PlaneCurve> curves;
    std::size_t k = 0;
    for (TopExp_Explorer x(face, TopAbs_EDGE); x.More(); x.Next(), ++k) {
        addEdgeCurves(TopoDS::Edge(x.Current()), plane, curves);
        if (bounding[k])
            addEdgeCurves(TopoDS::Edge(x.Current()), plane, boundary);
    }
    std::vector<double> heights;
    for (const PlaneCurve& curve : curves)
        addTurningHeights(curve, heights);
    std::sort(heights.begin(), heights.end());
    if (heights.empty())
        heights.push_back(0.0);
    // Ends of a horizontal edge, mapped into the plane, may differ in their last
    // bits: the gap between them is no place for a line, which would run along
    // the edge.
    const double tolerance
        = sameHeight * std::max({1.0, std::fabs(heights.front()), std::fabs(heights.back())});
    heights.erase(std::unique(heights.begin(), heights.end(),
                              [&](double a, double b) { return b - a <= tolerance; }),
                  heights.end());

    // The widest gaps between the heights, by their lower end.
    std::vector<std::size_t> gaps(heights.size() < 2 ? 0 : heights.size() - 1);
    for (std::size_t k = 0; k < gaps.size(); ++k)
        gaps[k] = k;
    const auto wider = [&](std::size_t a, std::size_t b) {
        return heights[a + 1] - heights[a] > heights[b + 1] - heights[b];
    };
    const std::size_t lines = std::min(scanLines, gaps.size());
    std::partial_sort(gaps.begin(), gaps.begin() + std::ptrdiff_t(lines), gaps.end(), wider);

    std::vector<Candidate> candidates;
    for (std::size_t k = 0; k < lines; ++k) {
        const double v = freeHeight(heights[gaps[k]], heights[gaps[k] + 1], avoid);
        const Candidate candidate = scan(boundary, curves, v);
        if (candidate.clearance > 0.0)
            candidates.push_back(candidate);
    }
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [](const Candidate& a, const Candidate& b) { return a.clearance > b.clearance; });
    // The kernel has the last word: in a sliver a few thousandths of a
    // millimetre wide it may find a point clear of every edge on the boundary,
    // and a region whose point it does not place inside is never found again.
    for (const Candidate& candidate : candidates) {
        if (kernelFindsInside(face, plane, candidate.point))
            return candidate.point;
    }
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props, false, false);
    const Vec2 centre = toPlane(plane, props.CentreOfMass());
    if (candidates.empty() || kernelFindsInside(face, plane, centre))
        return centre;
    return candidates.front().point;
}

} // namespace qor::sketch
