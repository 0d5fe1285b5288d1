#pragma once

#include "model/BoxIndex.h"

#include <Bnd_Box.hxx>
#include <TopAbs_State.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Lin.hxx>
#include <gp_Pnt.hxx>

#include <memory>
#include <optional>
#include <vector>

namespace qor::model {

class FaceRays;

// Whether a point lies inside a solid whose faces all lie on planes,
// cylinders, cones, spheres or tori, told by the first face a ray from the
// point meets: the ray leaves the material there when the point is inside.
// Only the faces whose boxes the ray crosses are intersected, each by an
// intersector built when the ray first meets its box, where the kernel's
// solid classifier builds one for every face and picks its ray by looking
// for points inside faces, which for a long history's body costs more than
// the boolean. None where the answer could differ from the kernel's
// classifier: a face's surface lies within the tolerance of the point, or the
// ray meets a face near its edges, along it, or two faces at once. What it
// knows of each face is kept for the next classifiers (see FaceRays). The
// faces of a solid with many of them are found by a tree of their boxes: a
// long history's body has hundreds, and a ray or a point meets few.
class RayClassifier {
public:
    explicit RayClassifier(const TopoDS_Shape& solid);
    ~RayClassifier();
    RayClassifier(const RayClassifier&) = delete;
    RayClassifier& operator=(const RayClassifier&) = delete;

    std::optional<TopAbs_State> state(const gp_Pnt& point, double tolerance) const;

    // The state of a point beyond the solid's box, told by a ray that meets
    // one of its faces: OUT for a solid turned outward, IN for one turned
    // inside out. None when the ray meets no face or the answer is unsure.
    // `tolerance`: that of the places the ray meets faces at, best the one
    // the other points are asked with, so that the faces' records serve both.
    std::optional<TopAbs_State> stateFromAfar(double tolerance) const;

private:
    // A solid bounded by one whole sphere or torus (a ball, a ring) in closed
    // form: inside where nearer the centre, or the tube's central circle,
    // than the radius, turned as its face points. Whether that face points
    // away from the centre or the circle, or none for any other solid.
    std::optional<bool> roundOutward() const;
    std::optional<TopAbs_State> roundState(const gp_Pnt& point, double tolerance) const;

    std::optional<TopAbs_State> cast(const gp_Pnt& point, double tolerance, bool mustMeet) const;
    bool nearSurface(const gp_Pnt& point, double tolerance) const;
    // The indexes of the faces whose boxes the ray crosses, or which lie
    // within `reach` of the point, in scratch_.
    const std::vector<int>& facesCrossed(const gp_Lin& ray) const;
    const std::vector<int>& facesNear(const gp_Pnt& point, double reach) const;

    // Shared with the classifiers of other solids that hold the same faces.
    std::vector<std::shared_ptr<FaceRays>> faces_;
    Bnd_Box box_;
    std::optional<bool> roundOutward_;
    BoxIndex faceBoxes_;
    mutable std::vector<int> scratch_;
};

} // namespace qor::model
