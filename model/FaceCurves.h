#pragma once

#include "model/BoxIndex.h"

#include <TopAbs_State.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Circ2d.hxx>
#include <gp_Pnt2d.hxx>

#include <memory>
#include <optional>
#include <vector>

namespace qor::model {

// How a wire turns, walked as a face turned forward holds it: as the rim of
// a face, as a hole, or too little to tell (a bow-tie, a sliver); Broken when
// its edges do not follow one another.
enum class WireTurn { Rim, Hole, Flat, Broken };
WireTurn wireTurn(const TopoDS_Face& forward, const TopoDS_Wire& wire);

// Where parameters lie on a plane face whose edges are lines and arcs of
// circles, or on a face of a cylinder or cone whose edges are lines of its
// parameters (its circles, seams and straight sides), told from the curves
// themselves for a point clearly away from every edge. The kernel's face classifier walks a polygon
// of each wire five times for every point (the point and four points shifted by its polygon's sag)
// and makes a surface for it: on the top of a part with a long outline that cost 28,000
// instructions a point, the most of the rule's price.
//
// Away from the curves by more than the kernel's polygon can stray from
// them, plus its shifts and the gaps between edges, the polygon and the
// curves put the point on the same side of each wire, and the classifier
// tells IN or OUT as the curves do: inside every wire that turns as a rim
// and outside every hole. Nearer, or where rays along u and v both ways all
// pass the ends of edges, the answer is left to the classifier (none).
class FaceCurves {
public:
    // None for faces not on a plane, cylinder or cone, with other curves,
    // internal or degenerate edges, closed edges on a plane, open wires or a
    // wire whose turn is unclear.
    static std::unique_ptr<FaceCurves> of(const TopoDS_Face& face);

    std::optional<TopAbs_State> state(const gp_Pnt2d& uv, double tolerance) const;

private:
    struct Curve {
        int wire = 0;
        bool arc = false;
        gp_Pnt2d from; // the ends as the curve's parameters give them
        gp_Pnt2d to;
        gp_Circ2d circle; // of an arc, over [first, last]
        double first = 0.0;
        double last = 0.0;
        double margin = 0.0; // before the tolerance; see the source
    };

    FaceCurves() = default;
    std::optional<TopAbs_State> stateAt(const gp_Pnt2d& uv, double tolerance) const;
    bool near(const gp_Pnt2d& uv, double tolerance) const;
    bool crossings(const gp_Pnt2d& uv, int axis, double sign) const;

    std::vector<Curve> curves_;
    BoxIndex boxes_; // of the curves, each enlarged by its margin
    std::vector<bool> rim_; // per wire: turns as a rim rather than as a hole
    double gap_ = 0.0; // between the ends of following edges, at most
    double period_ = 0.0; // of u on a round surface, else 0
    double uLow_ = 0.0; // the span of u the curves' boxes cover
    double uHigh_ = 0.0;
    mutable std::vector<int> found_;
    mutable std::vector<char> odd_; // per wire: crossed an odd number of times
};

} // namespace qor::model
