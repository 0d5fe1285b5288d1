#include "model/FaceDomain.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>

#include <algorithm>

namespace qor::model {
namespace {

// Fewer holes than this cost the plain classifier less than the choosing.
constexpr std::size_t narrowedFromHoles = 4;

// How far beyond its box a hole may still decide a point. The classifier
// tests a point against each wire's polygon (points of its curves, inside the
// curves' box) and calls it on the boundary within the polygon's sag or the
// tolerance: both are far below a quarter of the wire's size, which a
// polygon of more than four points on a circle keeps below.
double reach(const Bnd_Box2d& box, double tolerance)
{
    double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
    box.Get(u0, v0, u1, v1);
    return 0.25 * std::max(u1 - u0, v1 - v0) + 2.0 * tolerance + 1e-9;
}

// Whether the classifier takes the wire for a hole: on the face with that
// wire alone, a point far outside the wire lies on the face.
bool boundsAHole(const TopoDS_Face& face, const TopoDS_Wire& wire, double tolerance)
{
    TopoDS_Face alone = TopoDS::Face(face.EmptyCopied());
    BRep_Builder().Add(alone, wire);
    return BRepTopAdaptor_FClass2d(alone, tolerance).PerformInfinitePoint() == TopAbs_IN;
}

} // namespace

FaceDomain::FaceDomain(const TopoDS_Face& face, double tolerance)
    : face_(face)
    , tolerance_(tolerance)
{
    // Planes only: on periodic surfaces the classifier moves points by periods
    // and a wire's box says less.
    if (BRepAdaptor_Surface(face, Standard_False).GetType() != GeomAbs_Plane)
        return;
    const TopoDS_Wire outer = BRepTools::OuterWire(face);
    if (outer.IsNull())
        return;
    std::vector<Wire> wires;
    for (TopoDS_Iterator child(face); child.More(); child.Next()) {
        if (child.Value().ShapeType() != TopAbs_WIRE)
            return;
        Wire wire{TopoDS::Wire(child.Value()), child.Value().IsSame(outer), Bnd_Box2d()};
        // A wire that does not bound a hole (one turning as the rim does)
        // rules points far from it too: it is asked of every point.
        wire.outer = wire.outer || !boundsAHole(face, wire.wire, tolerance);
        if (!wire.outer) {
            double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
            BRepTools::UVBounds(face, wire.wire, u0, u1, v0, v1);
            wire.box.Update(u0, v0, u1, v1);
            wire.box.Enlarge(reach(wire.box, tolerance));
        }
        wires.push_back(wire);
    }
    if (wires.size() < narrowedFromHoles + 1)
        return;
    wires_ = std::move(wires);
}

TopAbs_State FaceDomain::state(const gp_Pnt2d& uv) const
{
    // The face's wires in their order, the outer one always: the classifier
    // takes the first wire that decides.
    std::vector<int> asked;
    for (std::size_t i = 0; i < wires_.size(); ++i) {
        if (wires_[i].outer || !wires_[i].box.IsOut(uv))
            asked.push_back(int(i));
    }
    return classifierOf(asked).Perform(uv);
}

const BRepTopAdaptor_FClass2d& FaceDomain::classifierOf(const std::vector<int>& wires) const
{
    std::unique_ptr<BRepTopAdaptor_FClass2d>& known = classifiers_[wires];
    if (known)
        return *known;
    if (wires_.empty()) {
        known = std::make_unique<BRepTopAdaptor_FClass2d>(face_, tolerance_);
        return *known;
    }
    // The same surface, place and tolerance with fewer wires; the builder
    // stores each wire relative to the face, as the face holds it.
    TopoDS_Face part = TopoDS::Face(face_.EmptyCopied());
    BRep_Builder builder;
    for (const int i : wires)
        builder.Add(part, wires_[std::size_t(i)].wire);
    known = std::make_unique<BRepTopAdaptor_FClass2d>(part, tolerance_);
    return *known;
}

} // namespace qor::model
