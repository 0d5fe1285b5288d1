#include "io/SharedFaces.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_BoundSortBox.hxx>
#include <Bnd_HArray1OfBox.hxx>
#include <Extrema_ExtPC.hxx>
#include <GCPnts_AbscissaPoint.hxx>
#include <GProp_GProps.hxx>
#include <Geom2d_Curve.hxx>
#include <Precision.hxx>
#include <TColStd_ListOfInteger.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <gp_Pnt.hxx>
#include <gp_Vec.hxx>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>
#include <utility>

namespace qor::io {

namespace {

// More faces at one edge than this are not paired by trying each pairing: they are paired
// by their order around the edge.
constexpr std::size_t maxPairedAtEdge = 8;
// Faces around an edge at angles closer than this lie on one another (copies of a face).
constexpr double sameAngle = 1e-7;
// Copies of a face have the same area within this part of it.
constexpr double twinAreaSlack = 1e-6;

struct Sets {
    std::vector<std::size_t> root;

    explicit Sets(std::size_t n)
        : root(n)
    {
        std::iota(root.begin(), root.end(), std::size_t(0));
    }
    std::size_t find(std::size_t x)
    {
        while (root[x] != x) {
            root[x] = root[root[x]];
            x = root[x];
        }
        return x;
    }
    void unite(std::size_t a, std::size_t b) { root[find(a)] = find(b); }
};

// A face running along one of its edges: the edge's middle by length, the direction the
// face's boundary takes there, the direction from there into the face, and the ends in that
// direction.
struct EdgeUse {
    int face = 0;
    TopoDS_Edge edge;
    gp_Pnt middle;
    gp_Vec along;
    gp_Vec into;
    gp_Vec outward; // the face's normal, away from the solid it bounds
    gp_Pnt first;
    gp_Pnt last;
    double reach = 0.0; // how far a partner may lie
};

// The face's normal at a parameter of one of its edges and the direction into the face
// there: the boundary of a face runs with the face on its left, seen from its normal.
void sidesAt(EdgeUse& use, const TopoDS_Face& face, double at)
{
    double first = 0.0;
    double last = 0.0;
    const Handle(Geom2d_Curve) onFace = BRep_Tool::CurveOnSurface(use.edge, face, first, last);
    if (onFace.IsNull())
        return;
    const gp_Pnt2d uv = onFace->Value(at);
    gp_Pnt point;
    gp_Vec du;
    gp_Vec dv;
    BRepAdaptor_Surface(face, false).D1(uv.X(), uv.Y(), point, du, dv);
    use.outward = du.Crossed(dv);
    if (face.Orientation() == TopAbs_REVERSED)
        use.outward.Reverse();
    use.into = use.outward.Crossed(use.along);
}

std::optional<EdgeUse> edgeUse(int face, const TopoDS_Face& shape, const TopoDS_Edge& edge,
                               double tolerance)
{
    const TopAbs_Orientation way = edge.Orientation();
    if ((way != TopAbs_FORWARD && way != TopAbs_REVERSED) || BRep_Tool::Degenerated(edge)
        || !BRep_Tool::IsGeometric(edge))
        return std::nullopt;
    BRepAdaptor_Curve curve(edge);
    const double length = GCPnts_AbscissaPoint::Length(curve);
    if (!(length > tolerance))
        return std::nullopt;
    const GCPnts_AbscissaPoint half(curve, 0.5 * length, curve.FirstParameter());
    if (!half.IsDone())
        return std::nullopt;
    EdgeUse use;
    use.face = face;
    use.edge = edge;
    curve.D1(half.Parameter(), use.middle, use.along);
    use.first = curve.Value(curve.FirstParameter());
    use.last = curve.Value(curve.LastParameter());
    if (way == TopAbs_REVERSED) {
        use.along.Reverse();
        std::swap(use.first, use.last);
    }
    use.reach = std::max(tolerance, BRep_Tool::Tolerance(edge));
    sidesAt(use, shape, half.Parameter());
    return use;
}

bool sameEdge(const EdgeUse& a, const EdgeUse& b)
{
    const double reach = a.reach + b.reach;
    if (a.middle.Distance(b.middle) > reach)
        return false;
    return (a.first.Distance(b.first) <= reach && a.last.Distance(b.last) <= reach)
           || (a.first.Distance(b.last) <= reach && a.last.Distance(b.first) <= reach);
}

std::vector<EdgeUse> edgeUses(const std::vector<TopoDS_Face>& faces, double tolerance)
{
    std::vector<EdgeUse> uses;
    for (int f = 0; f < int(faces.size()); ++f) {
        for (TopExp_Explorer it(faces[std::size_t(f)], TopAbs_EDGE); it.More(); it.Next()) {
            if (const std::optional<EdgeUse> use
                = edgeUse(f, faces[std::size_t(f)], TopoDS::Edge(it.Current()), tolerance))
                uses.push_back(*use);
        }
    }
    return uses;
}

// The uses that lie on one edge, by position in uses.
std::vector<std::vector<std::size_t>> edgesOfUses(const std::vector<EdgeUse>& uses)
{
    std::vector<std::size_t> order(uses.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return uses[a].middle.X() < uses[b].middle.X();
    });
    double window = 0.0;
    for (const EdgeUse& use : uses)
        window = std::max(window, 2.0 * use.reach);
    Sets same(uses.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        const EdgeUse& a = uses[order[i]];
        for (std::size_t j = i + 1;
             j < order.size() && uses[order[j]].middle.X() - a.middle.X() <= window; ++j) {
            if (sameEdge(a, uses[order[j]]))
                same.unite(order[i], order[j]);
        }
    }
    std::map<std::size_t, std::vector<std::size_t>> byRoot;
    for (std::size_t i = 0; i < uses.size(); ++i)
        byRoot[same.find(i)].push_back(i);
    std::vector<std::vector<std::size_t>> edges;
    for (auto& [root, members] : byRoot)
        edges.push_back(std::move(members));
    return edges;
}

// For each face, a number it shares with its copies only: faces on the same edges with the
// same area.
std::vector<int> twinClasses(const std::vector<TopoDS_Face>& faces,
                             const std::vector<EdgeUse>& uses,
                             const std::vector<std::vector<std::size_t>>& edges)
{
    std::vector<std::vector<std::size_t>> edgesOfFace(faces.size());
    for (std::size_t e = 0; e < edges.size(); ++e) {
        for (const std::size_t use : edges[e])
            edgesOfFace[std::size_t(uses[use].face)].push_back(e);
    }
    std::map<std::vector<std::size_t>, std::vector<int>> byEdges;
    for (int f = 0; f < int(faces.size()); ++f) {
        std::vector<std::size_t>& own = edgesOfFace[std::size_t(f)];
        std::sort(own.begin(), own.end());
        own.erase(std::unique(own.begin(), own.end()), own.end());
        if (!own.empty())
            byEdges[own].push_back(f);
    }
    std::vector<int> twins(faces.size());
    std::iota(twins.begin(), twins.end(), 0);
    const auto area = [&](int f) {
        GProp_GProps props;
        BRepGProp::SurfaceProperties(faces[std::size_t(f)], props);
        return props.Mass();
    };
    for (const auto& [edgeSet, members] : byEdges) {
        if (members.size() < 2)
            continue;
        std::vector<double> areas;
        for (const int member : members)
            areas.push_back(area(member));
        for (std::size_t i = 0; i < members.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                if (std::abs(areas[i] - areas[j]) <= twinAreaSlack * std::max(areas[i], areas[j])) {
                    twins[std::size_t(members[i])] = twins[std::size_t(members[j])];
                    break;
                }
            }
        }
    }
    return twins;
}

// One face at an edge where more than two meet, and whether it runs the way of the first.
struct Side {
    int face = 0;
    bool forward = true;
    std::size_t use = 0;
};

using Pairing = std::vector<std::pair<int, int>>;

void collectPairings(std::vector<Side>& left, const std::vector<int>& twins, Pairing& pairs,
                     std::vector<Pairing>& found)
{
    if (left.empty()) {
        found.push_back(pairs);
        return;
    }
    const Side first = left.front();
    for (std::size_t k = 1; k < left.size(); ++k) {
        const Side other = left[k];
        if (other.forward == first.forward
            || twins[std::size_t(other.face)] == twins[std::size_t(first.face)])
            continue;
        std::vector<Side> rest;
        for (std::size_t i = 1; i < left.size(); ++i) {
            if (i != k)
                rest.push_back(left[i]);
        }
        pairs.emplace_back(first.face, other.face);
        collectPairings(rest, twins, pairs, found);
        pairs.pop_back();
    }
}

// The faces at one edge, a face that runs along it both ways (the seam of a ball's face)
// left out: it meets only itself there.
std::vector<Side> sidesOf(const std::vector<std::size_t>& edge, const std::vector<EdgeUse>& uses)
{
    std::map<int, int> count;
    for (const std::size_t use : edge)
        ++count[uses[use].face];
    std::vector<Side> sides;
    const gp_Vec& reference = uses[edge.front()].along;
    for (const std::size_t use : edge) {
        if (count[uses[use].face] == 1)
            sides.push_back({uses[use].face, uses[use].along.Dot(reference) > 0.0, use});
    }
    return sides;
}

// True when two uses of a face run along one curve in opposite ways, as the two sides of its
// seam do: on the curve itself, not only within the sewing's reach (a band of a face narrower
// than that has its borders there too).
bool seamSides(const EdgeUse& a, const EdgeUse& b)
{
    const double reach
        = Precision::Confusion() + BRep_Tool::Tolerance(a.edge) + BRep_Tool::Tolerance(b.edge);
    return a.along.Dot(b.along) < 0.0 && a.middle.Distance(b.middle) <= reach
           && a.first.Distance(b.last) <= reach && a.last.Distance(b.first) <= reach;
}

// The faces' seams: one use of each face that runs along an edge both ways.
std::vector<std::size_t> seamsOf(const std::vector<std::vector<std::size_t>>& edges,
                                 const std::vector<EdgeUse>& uses)
{
    std::vector<std::size_t> seams;
    for (const std::vector<std::size_t>& edge : edges) {
        std::map<int, std::size_t> firstUse;
        for (const std::size_t use : edge) {
            const auto [at, first] = firstUse.emplace(uses[use].face, use);
            if (!first && seamSides(uses[at->second], uses[use]))
                seams.push_back(use);
        }
    }
    return seams;
}

// True when the point lies on the use's edge between its ends.
bool liesOn(const gp_Pnt& point, const EdgeUse& use, double reach)
{
    if (point.Distance(use.first) <= reach || point.Distance(use.last) <= reach)
        return true;
    const BRepAdaptor_Curve curve(use.edge);
    const Extrema_ExtPC nearest(point, curve, curve.FirstParameter(), curve.LastParameter());
    if (!nearest.IsDone())
        return false;
    for (int i = 1; i <= nearest.NbExt(); ++i) {
        if (nearest.SquareDistance(i) <= reach * reach)
            return true;
    }
    return false;
}

// True when two uses run along one another for more than a point: two points apart among
// the ends and middles of each that lie on the other. Edges that only meet, end to end or
// where one ends on the other, have one such point.
bool runAlong(const EdgeUse& a, const EdgeUse& b)
{
    const double reach = a.reach + b.reach;
    std::vector<gp_Pnt> common;
    for (const auto& [from, on] : {std::pair(&a, &b), std::pair(&b, &a)}) {
        for (const gp_Pnt& point : {from->first, from->middle, from->last}) {
            if (liesOn(point, *on, reach))
                common.push_back(point);
        }
    }
    for (std::size_t i = 0; i < common.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (common[i].Distance(common[j]) > 2.0 * reach)
                return true;
        }
    }
    return false;
}

// The boxes of the uses' edges, widened by their reach, to find the uses near one.
struct NearUses {
    Handle(Bnd_HArray1OfBox) boxes;
    Bnd_BoundSortBox near;

    explicit NearUses(const std::vector<EdgeUse>& uses)
        : boxes(new Bnd_HArray1OfBox(1, int(uses.size())))
    {
        for (std::size_t i = 0; i < uses.size(); ++i) {
            Bnd_Box box;
            BRepBndLib::Add(uses[i].edge, box, false);
            box.Enlarge(uses[i].reach);
            boxes->SetValue(int(i) + 1, box);
        }
        near.Initialize(boxes);
    }
    // The positions of the uses whose boxes meet the one's, itself among them.
    std::vector<std::size_t> of(std::size_t use)
    {
        std::vector<std::size_t> found;
        for (const int other : near.Compare(boxes->Value(int(use) + 1)))
            found.push_back(std::size_t(other - 1));
        return found;
    }
};

// True when an edge of another face runs along a seam, wholly or in part (a pin in a hole of
// its size, both turned alike): the sewing cuts the edges there to the same length and joins
// each side of the seam to the other face, so that the solids merge.
bool seamMeetsAnotherFace(const std::vector<EdgeUse>& uses, const std::vector<std::size_t>& seams)
{
    if (seams.empty())
        return false;
    NearUses near(uses);
    for (const std::size_t seam : seams) {
        for (const std::size_t other : near.of(seam)) {
            if (uses[other].face != uses[seam].face && runAlong(uses[seam], uses[other]))
                return true;
        }
    }
    return false;
}

// True when edges of two faces run along one another only in part (a small box against a
// large one, a box inside another touching its walls): the sewing cuts them there to the same
// length and joins the faces across the solids.
bool edgesMeetInPart(const std::vector<EdgeUse>& uses,
                     const std::vector<std::vector<std::size_t>>& edges)
{
    std::vector<std::size_t> edgeOf(uses.size());
    for (std::size_t e = 0; e < edges.size(); ++e) {
        for (const std::size_t use : edges[e])
            edgeOf[use] = e;
    }
    NearUses near(uses);
    for (std::size_t use = 0; use < uses.size(); ++use) {
        for (const std::size_t other : near.of(use)) {
            if (other > use && edgeOf[other] != edgeOf[use] && uses[other].face != uses[use].face
                && runAlong(uses[use], uses[other]))
                return true;
        }
    }
    return false;
}

// A face at an edge seen along the edge: its angle around it, and whether the solid it bounds
// lies on the side of larger angles.
struct AroundEdge {
    int face = 0;
    double angle = 0.0;
    bool opens = false;
};

// The faces at an edge paired by their order around it: each solid fills the turn from a
// face that opens it to the next face, which closes it. Empty where the faces do not follow
// one another so (a face without a normal, faces turned inconsistently).
Pairing pairingAround(const std::vector<Side>& sides, const std::vector<EdgeUse>& uses)
{
    const gp_Vec axis = uses[sides.front().use].along;
    const gp_Vec& start = uses[sides.front().use].into;
    if (axis.Magnitude() <= gp::Resolution() || start.Magnitude() <= gp::Resolution())
        return {};
    const gp_Dir a(axis);
    const gp_Vec e1 = start - gp_Vec(a) * start.Dot(gp_Vec(a));
    if (e1.Magnitude() <= gp::Resolution())
        return {};
    const gp_Vec e2 = gp_Vec(a).Crossed(e1);
    std::vector<AroundEdge> around;
    for (const Side& side : sides) {
        const EdgeUse& use = uses[side.use];
        if (use.into.Magnitude() <= gp::Resolution() || use.outward.Magnitude() <= gp::Resolution())
            return {};
        double angle = std::atan2(use.into.Dot(e2), use.into.Dot(e1));
        if (angle < 0.0)
            angle += 2.0 * M_PI;
        // Turning the face about the edge towards larger angles leads away from its normal.
        const bool opens = gp_Vec(a).Crossed(use.into).Dot(use.outward) < 0.0;
        around.push_back({side.face, angle, opens});
    }
    std::sort(around.begin(), around.end(),
              [](const AroundEdge& x, const AroundEdge& y) { return x.angle < y.angle; });
    // Of two copies of a face at one angle, the one that closes a solid comes first.
    for (std::size_t i = 0; i + 1 < around.size(); ++i) {
        if (around[i + 1].angle - around[i].angle < sameAngle && around[i].opens
            && !around[i + 1].opens)
            std::swap(around[i], around[i + 1]);
    }
    const std::size_t n = around.size();
    for (std::size_t from = 0; from < 2; ++from) {
        Pairing pairs;
        for (std::size_t k = from; k < n + from; k += 2) {
            const AroundEdge& opening = around[k % n];
            const AroundEdge& closing = around[(k + 1) % n];
            if (!opening.opens || closing.opens)
                break;
            pairs.emplace_back(opening.face, closing.face);
        }
        if (pairs.size() * 2 == n)
            return pairs;
    }
    return {};
}

void uniteAll(Sets& shells, const std::vector<Side>& sides)
{
    for (const Side& side : sides)
        shells.unite(std::size_t(side.face), std::size_t(sides.front().face));
}

// Joins the faces of one edge where more than two meet by the pairing that joins most faces
// already together; true when it was the only one that fits, or none fits.
bool pairAtEdge(Sets& shells, const std::vector<Side>& sides, const std::vector<int>& twins,
                const std::vector<EdgeUse>& uses, bool onlyWhenSure)
{
    std::vector<Pairing> found;
    if (sides.size() % 2 == 0) {
        if (sides.size() <= maxPairedAtEdge) {
            std::vector<Side> left = sides;
            Pairing pairs;
            collectPairings(left, twins, pairs, found);
        } else if (Pairing pairs = pairingAround(sides, uses); !pairs.empty()) {
            found.push_back(std::move(pairs));
        }
    }
    if (found.empty()) {
        uniteAll(shells, sides);
        return true;
    }
    if (onlyWhenSure && found.size() > 1)
        return false;
    const auto together = [&](const Pairing& pairing) {
        return std::count_if(pairing.begin(), pairing.end(), [&](const std::pair<int, int>& p) {
            return shells.find(std::size_t(p.first)) == shells.find(std::size_t(p.second));
        });
    };
    const Pairing* best = &found.front();
    for (const Pairing& pairing : found) {
        if (together(pairing) > together(*best))
            best = &pairing;
    }
    for (const auto& [a, b] : *best)
        shells.unite(std::size_t(a), std::size_t(b));
    return true;
}

} // namespace

std::vector<std::vector<int>> shellsOfSharedFaces(const std::vector<TopoDS_Face>& faces,
                                                  double tolerance)
{
    const std::vector<EdgeUse> uses = edgeUses(faces, tolerance);
    const std::vector<std::vector<std::size_t>> edges = edgesOfUses(uses);
    Sets shells(faces.size());
    std::vector<std::vector<Side>> junctions;
    for (const std::vector<std::size_t>& edge : edges) {
        std::vector<Side> sides = sidesOf(edge, uses);
        if (sides.size() == 2)
            shells.unite(std::size_t(sides[0].face), std::size_t(sides[1].face));
        else if (sides.size() > 2)
            junctions.push_back(std::move(sides));
    }
    if (junctions.empty() && !seamMeetsAnotherFace(uses, seamsOf(edges, uses))
        && !edgesMeetInPart(uses, edges))
        return {};
    const std::vector<int> twins = twinClasses(faces, uses, edges);
    // Edges with one pairing first, so that the choice at the others sees what they joined.
    std::vector<bool> paired(junctions.size(), false);
    for (std::size_t j = 0; j < junctions.size(); ++j)
        paired[j] = pairAtEdge(shells, junctions[j], twins, uses, true);
    for (std::size_t j = 0; j < junctions.size(); ++j) {
        if (!paired[j])
            pairAtEdge(shells, junctions[j], twins, uses, false);
    }
    std::map<std::size_t, std::vector<int>> byShell;
    for (int f = 0; f < int(faces.size()); ++f)
        byShell[shells.find(std::size_t(f))].push_back(f);
    std::vector<std::vector<int>> groups;
    for (auto& [root, members] : byShell)
        groups.push_back(std::move(members));
    return groups;
}

} // namespace qor::io
