#pragma once

#include "model/FaceCurves.h"

#include <BRepTopAdaptor_FClass2d.hxx>
#include <Bnd_Box2d.hxx>
#include <TopAbs_State.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Pnt2d.hxx>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace qor::model {

// Where parameters lie on a face (IN, ON or OUT), as the kernel's
// BRepTopAdaptor_FClass2d made on the face with the same tolerance tells.
// That classifier measures every wire of the face for every point: on a plate
// with a thousand holes, each hole a wire of its top face, a point cost a
// thousand polygon tests, and each boolean that cut one more hole made a new
// classifier for the new face. A hole of a plane face whose box does not reach
// a point can neither hold the point nor put it on its boundary, so a plane
// face with holes answers a point by a classifier of the face with its outer
// wire and only the holes whose boxes reach the point; those classifiers are
// made on first use and kept by the tolerance and the holes they hold. The
// wires are looked at once for every tolerance asked. A point clearly away
// from the edges of a plane face of lines and arcs is told from the curves
// themselves (see FaceCurves).
class FaceDomain {
public:
    explicit FaceDomain(const TopoDS_Face& face);
    FaceDomain(const FaceDomain&) = delete;
    FaceDomain& operator=(const FaceDomain&) = delete;

    TopAbs_State state(const gp_Pnt2d& uv, double tolerance) const;

    // Whether the face's curves tell points clear of its edges (see FaceCurves).
    bool toldByCurves() const { return bool(curves_); }
    // IN or OUT as the curves tell a point clear of the edges, else none.
    std::optional<TopAbs_State> clearOfEdges(const gp_Pnt2d& uv, double tolerance) const;

    // Whether points are asked of the outer wire and the holes near them only.
    bool narrowed() const;

private:
    struct Wire {
        TopoDS_Wire wire;
        bool outer = false;
        Bnd_Box2d box; // a hole's
        double size = 0.0; // the larger side of its box
    };

    // The classifier of the face with the wires of these indexes (all of
    // them when none are given).
    const BRepTopAdaptor_FClass2d& classifierOf(double tolerance,
                                                const std::vector<int>& wires) const;
    void narrow() const;

    mutable TopoDS_Face face_;
    std::unique_ptr<FaceCurves> curves_;
    mutable bool looked_ = false; // at the wires, for narrowing
    // Every wire of a narrowed face in the face's order; empty for any other face.
    mutable std::vector<Wire> wires_;
    mutable std::map<std::pair<double, std::vector<int>>, std::unique_ptr<BRepTopAdaptor_FClass2d>>
        classifiers_;
};

} // namespace qor::model
