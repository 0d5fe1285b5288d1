#include "model/FaceDomain.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>

#include <algorithm>
#include <optional>

namespace qor::model {
namespace {

// Fewer holes than this cost the plain classifier less than the choosing.
constexpr std::size_t narrowedFromHoles = 4;

// How far beyond its box a hole may still decide a point. The classifier
// tests a point against each wire's polygon (points of its curves, inside the
// curves' box) and calls it on the boundary within the polygon's sag or the
// tolerance: both are far below a quarter of the wire's size, which a
// polygon of more than four points on a circle keeps below.
double reach(double size, double tolerance)
{
    return 0.25 * size + 2.0 * tolerance + 1e-9;
}

} // namespace

FaceDomain::FaceDomain(const TopoDS_Face& face)
    : face_(face)
    , curves_(FaceCurves::of(face))
{
}

bool FaceDomain::narrowed() const
{
    if (!looked_) {
        looked_ = true;
        narrow();
    }
    return !wires_.empty();
}

// Looked at on the first point the curves leave to the classifier: most
// faces never have one.
void FaceDomain::narrow() const
{
    const TopoDS_Face face = face_;
    // Planes only: on periodic surfaces the classifier moves points by periods
    // and a wire's box says less.
    if (std::size_t(face.NbChildren()) < narrowedFromHoles + 1
        || BRepAdaptor_Surface(face, Standard_False).GetType() != GeomAbs_Plane)
        return;
    // The face's own wires, as a face turned forward holds them: the
    // classifier turns the face forward, and the wires of a narrowed face
    // are put into a face copied from this one.
    const TopoDS_Face forward = TopoDS::Face(face.Oriented(TopAbs_FORWARD));
    const TopoDS_Wire outer = BRepTools::OuterWire(forward);
    if (outer.IsNull())
        return;
    std::vector<Wire> wires;
    // Corners each wire holds alone: wires meeting at a corner (two holes
    // touching there) the classifier may tell apart only together.
    TopTools_MapOfShape corners;
    for (TopoDS_Iterator child(forward); child.More(); child.Next()) {
        if (child.Value().ShapeType() != TopAbs_WIRE)
            return;
        TopTools_MapOfShape own;
        for (TopExp_Explorer corner(child.Value(), TopAbs_VERTEX); corner.More(); corner.Next()) {
            if (own.Add(corner.Current()) && !corners.Add(corner.Current()))
                return;
        }
        Wire wire{TopoDS::Wire(child.Value()), child.Value().IsSame(outer), Bnd_Box2d(), 0.0};
        const WireTurn turn = wireTurn(forward, wire.wire);
        if (turn == WireTurn::Broken)
            return;
        // A wire that bounds no hole (one turning as the rim does, or
        // enclosing next to nothing) rules points far from it too: it is
        // asked of every point.
        wire.outer = wire.outer || turn != WireTurn::Hole;
        if (!wire.outer) {
            double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
            BRepTools::UVBounds(forward, wire.wire, u0, u1, v0, v1);
            wire.box.Update(u0, v0, u1, v1);
            wire.size = std::max(u1 - u0, v1 - v0);
        }
        wires.push_back(wire);
    }
    if (wires.size() < narrowedFromHoles + 1)
        return;
    face_ = forward;
    wires_ = std::move(wires);
}

std::optional<TopAbs_State> FaceDomain::clearOfEdges(const gp_Pnt2d& uv, double tolerance) const
{
    return curves_ ? curves_->state(uv, tolerance) : std::nullopt;
}

TopAbs_State FaceDomain::state(const gp_Pnt2d& uv, double tolerance) const
{
    if (curves_) {
        if (const std::optional<TopAbs_State> told = curves_->state(uv, tolerance))
            return *told;
    }
    if (!narrowed())
        return classifierOf(tolerance, {}).Perform(uv);
    // The face's wires in their order, the outer one always: the classifier
    // takes the first wire that decides.
    std::vector<int> asked;
    for (std::size_t i = 0; i < wires_.size(); ++i) {
        const Wire& wire = wires_[i];
        if (wire.outer) {
            asked.push_back(int(i));
            continue;
        }
        Bnd_Box2d near = wire.box;
        near.Enlarge(reach(wire.size, tolerance));
        if (!near.IsOut(uv))
            asked.push_back(int(i));
    }
    return classifierOf(tolerance, asked).Perform(uv);
}

const BRepTopAdaptor_FClass2d& FaceDomain::classifierOf(double tolerance,
                                                        const std::vector<int>& wires) const
{
    std::unique_ptr<BRepTopAdaptor_FClass2d>& known = classifiers_[{tolerance, wires}];
    if (known)
        return *known;
    if (wires.empty()) {
        known = std::make_unique<BRepTopAdaptor_FClass2d>(face_, tolerance);
        return *known;
    }
    // The same surface, place and tolerance with fewer wires; the builder
    // stores each wire relative to the face, as the face holds it.
    TopoDS_Face part = TopoDS::Face(face_.EmptyCopied());
    BRep_Builder builder;
    for (const int i : wires)
        builder.Add(part, wires_[std::size_t(i)].wire);
    known = std::make_unique<BRepTopAdaptor_FClass2d>(part, tolerance);
    return *known;
}

} // namespace qor::model
