#include "model/PartSnapshot.h"

#include <BRepTools_ReShape.hxx>
#include <BRep_Builder.hxx>
#include <BRep_GCurve.hxx>
#include <BRep_PointOnCurve.hxx>
#include <BRep_PointOnCurveOnSurface.hxx>
#include <BRep_PointOnSurface.hxx>
#include <BRep_TEdge.hxx>
#include <BRep_TFace.hxx>
#include <BRep_TVertex.hxx>
#include <TopoDS_Iterator.hxx>

#include <unordered_set>

namespace qor::model {
namespace {

Handle(BRep_PointRepresentation) pointCopy(const Handle(BRep_PointRepresentation)& point)
{
    if (point->IsPointOnCurve())
        return new BRep_PointOnCurve(point->Parameter(), point->Curve(), point->Location());
    if (point->IsPointOnCurveOnSurface())
        return new BRep_PointOnCurveOnSurface(point->Parameter(), point->PCurve(), point->Surface(),
                                              point->Location());
    return new BRep_PointOnSurface(point->Parameter(), point->Parameter2(), point->Surface(),
                                   point->Location());
}

// A part of its own as the part is now, holding the same sub-parts: the
// kernel's empty copy keeps an edge's curves and a face's surface, but no
// sub-parts and no parameters of a vertex on curves and surfaces.
TopoDS_Shape partCopy(const TopoDS_Shape& part)
{
    TopoDS_Shape copy = part.EmptyCopied();
    if (const auto vertex = Handle(BRep_TVertex)::DownCast(part.TShape())) {
        auto& points = Handle(BRep_TVertex)::DownCast(copy.TShape())->ChangePoints();
        for (const Handle(BRep_PointRepresentation)& point : vertex->Points())
            points.Append(pointCopy(point));
        return copy;
    }
    copy.Orientation(TopAbs_FORWARD);
    BRep_Builder builder;
    for (TopoDS_Iterator it(part.Oriented(TopAbs_FORWARD), false, false); it.More(); it.Next())
        builder.Add(copy, it.Value());
    copy.Closed(part.Closed());
    return copy.Oriented(part.Orientation());
}

} // namespace

PartSnapshot::Curve PartSnapshot::curveOf(const Handle(BRep_CurveRepresentation)& r)
{
    Curve c;
    c.representation = r;
    if (const auto g = Handle(BRep_GCurve)::DownCast(r)) {
        c.first = g->First();
        c.last = g->Last();
        if (r->IsCurve3D())
            c.curve = r->Curve3D();
        if (r->IsCurveOnSurface())
            c.pcurve = r->PCurve();
        if (r->IsCurveOnClosedSurface())
            c.pcurve2 = r->PCurve2();
    }
    return c;
}

PartSnapshot::Point PartSnapshot::pointOf(const Handle(BRep_PointRepresentation)& p)
{
    return {p, p->Parameter(), p->IsPointOnSurface() ? p->Parameter2() : 0.0};
}

PartSnapshot::Edge PartSnapshot::take(const TopoDS_Shape& edge)
{
    const auto t = Handle(BRep_TEdge)::DownCast(edge.TShape());
    Edge e{edge,
           t->Tolerance(),
           bool(t->SameParameter()),
           bool(t->SameRange()),
           bool(t->Degenerated()),
           {}};
    for (const Handle(BRep_CurveRepresentation)& r : t->Curves())
        e.curves.push_back(curveOf(r));
    return e;
}

PartSnapshot::Vertex PartSnapshot::takeVertex(const TopoDS_Shape& vertex)
{
    const auto t = Handle(BRep_TVertex)::DownCast(vertex.TShape());
    Vertex v{vertex, t->Tolerance(), t->Pnt(), {}};
    for (const Handle(BRep_PointRepresentation)& p : t->Points())
        v.points.push_back(pointOf(p));
    return v;
}

PartSnapshot::Face PartSnapshot::takeFace(const TopoDS_Shape& face)
{
    const auto t = Handle(BRep_TFace)::DownCast(face.TShape());
    return {face, t->Surface(), t->Location(), t->Tolerance(), bool(t->NaturalRestriction())};
}

bool PartSnapshot::same(const Curve& x, const Curve& y)
{
    return x.representation == y.representation && x.first == y.first && x.last == y.last
           && x.curve == y.curve && x.pcurve == y.pcurve && x.pcurve2 == y.pcurve2;
}

bool PartSnapshot::same(const Point& x, const Point& y)
{
    return x.representation == y.representation && x.parameter == y.parameter
           && x.parameter2 == y.parameter2;
}

// Whether the part's list of representations is still the one taken, entry by entry.
template <typename List, typename Record, typename Of>
bool PartSnapshot::sameAsTaken(const List& now, const std::vector<Record>& taken, Of of)
{
    std::size_t k = 0;
    for (const auto& representation : now) {
        if (k == taken.size() || !same(of(representation), taken[k]))
            return false;
        ++k;
    }
    return k == taken.size();
}

// Compared in place: a second record of every part would cost as much as the first.
bool PartSnapshot::unchanged(const Edge& e)
{
    const auto t = Handle(BRep_TEdge)::DownCast(e.edge.TShape());
    if (t->Tolerance() != e.tolerance || bool(t->SameParameter()) != e.sameParameter
        || bool(t->SameRange()) != e.sameRange || bool(t->Degenerated()) != e.degenerated)
        return false;
    return sameAsTaken(t->Curves(), e.curves, &PartSnapshot::curveOf);
}

bool PartSnapshot::unchanged(const Vertex& v)
{
    const auto t = Handle(BRep_TVertex)::DownCast(v.vertex.TShape());
    if (t->Tolerance() != v.tolerance || !t->Pnt().IsEqual(v.point, 0.0))
        return false;
    return sameAsTaken(t->Points(), v.points, &PartSnapshot::pointOf);
}

bool PartSnapshot::unchanged(const Face& f)
{
    const auto t = Handle(BRep_TFace)::DownCast(f.face.TShape());
    return t->Surface() == f.surface && t->Location() == f.location && t->Tolerance() == f.tolerance
           && bool(t->NaturalRestriction()) == f.naturalRestriction;
}

void PartSnapshot::restore(const Edge& e)
{
    const auto t = Handle(BRep_TEdge)::DownCast(e.edge.TShape());
    t->Tolerance(e.tolerance);
    t->SameParameter(e.sameParameter);
    t->SameRange(e.sameRange);
    t->Degenerated(e.degenerated);
    BRep_ListOfCurveRepresentation& curves = t->ChangeCurves();
    curves.Clear();
    for (const Curve& c : e.curves) {
        if (const auto g = Handle(BRep_GCurve)::DownCast(c.representation)) {
            if (!c.curve.IsNull())
                g->Curve3D(c.curve);
            if (!c.pcurve.IsNull())
                g->PCurve(c.pcurve);
            if (!c.pcurve2.IsNull())
                g->PCurve2(c.pcurve2);
            g->SetRange(c.first, c.last);
        }
        curves.Append(c.representation);
    }
}

void PartSnapshot::restore(const Vertex& v)
{
    const auto t = Handle(BRep_TVertex)::DownCast(v.vertex.TShape());
    t->Tolerance(v.tolerance);
    t->Pnt(v.point);
    BRep_ListOfPointRepresentation& points = t->ChangePoints();
    points.Clear();
    for (const Point& p : v.points) {
        p.representation->Parameter(p.parameter);
        if (p.representation->IsPointOnSurface())
            p.representation->Parameter2(p.parameter2);
        points.Append(p.representation);
    }
}

void PartSnapshot::restore(const Face& f)
{
    const auto t = Handle(BRep_TFace)::DownCast(f.face.TShape());
    t->Surface(f.surface);
    t->Location(f.location);
    t->Tolerance(f.tolerance);
    t->NaturalRestriction(f.naturalRestriction);
}

PartSnapshot::PartSnapshot(const TopoDS_Shape& shape)
{
    std::unordered_set<const void*> taken;
    takeAll(shape, taken);
}

// Each part once, however often and wherever it is placed: the parts below a
// part already taken are taken already too.
void PartSnapshot::takeAll(const TopoDS_Shape& shape, std::unordered_set<const void*>& taken)
{
    if (shape.IsNull() || !taken.insert(shape.TShape().get()).second)
        return;
    switch (shape.ShapeType()) {
    case TopAbs_VERTEX: vertices_.push_back(takeVertex(shape)); return;
    case TopAbs_EDGE: edges_.push_back(take(shape)); break;
    case TopAbs_FACE: faces_.push_back(takeFace(shape)); break;
    default: break;
    }
    for (TopoDS_Iterator it(shape, false, false); it.More(); it.Next())
        takeAll(it.Value(), taken);
}

TopoDS_Shape PartSnapshot::putBack(const TopoDS_Shape& result)
{
    BRepTools_ReShape copies;
    // The copy takes the part's place at every location it is placed at.
    copies.ModeConsiderLocation() = Standard_True;
    written_ = 0;
    const auto moveWrites = [&](const auto& records, auto part) {
        for (const auto& record : records) {
            if (unchanged(record))
                continue;
            ++written_;
            copies.Replace(record.*part, partCopy(record.*part));
            restore(record);
        }
    };
    moveWrites(vertices_, &Vertex::vertex);
    moveWrites(edges_, &Edge::edge);
    moveWrites(faces_, &Face::face);
    return written_ == 0 ? result : copies.Apply(result);
}

void PartSnapshot::putBack()
{
    for (const Vertex& v : vertices_)
        restore(v);
    for (const Edge& e : edges_)
        restore(e);
    for (const Face& f : faces_)
        restore(f);
}

} // namespace qor::model
