#pragma once

#include <BRepAdaptor_Surface.hxx>
#include <Bnd_Box.hxx>
#include <IntCurvesFace_Intersector.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Lin.hxx>
#include <gp_Pnt2d.hxx>

#include <array>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace qor::model {

class FaceDomain;

// A place where a ray meets a face: along the ray, on the surface, whether
// within the tolerance of the face's boundary rather than inside, and whether
// the ray touches the surface there rather than crossing it.
struct RayMeeting {
    double w = 0.0;
    gp_Pnt2d uv;
    bool onBoundary = false;
    bool tangent = false;
};

// What the rule's probes need of one face as a solid holds it (the same
// face, placed and turned alike): its box, its surface and, for each
// tolerance asked, the intersector a ray meets it with. A boolean passes
// most faces of a long history's body through unchanged, and its result is
// the next boolean's body, so a face's record serves many judgements; built
// anew for each, the boxes and intersectors of the body's faces cost more
// than the points they answered.
class FaceRays {
public:
    explicit FaceRays(const TopoDS_Face& face);
    ~FaceRays();
    FaceRays(const FaceRays&) = delete;
    FaceRays& operator=(const FaceRays&) = delete;

    const TopoDS_Face& face() const { return face_; }
    const Bnd_Box& box() const { return box_; }
    const BRepAdaptor_Surface& surface() const { return surface_; }
    // Where the ray meets the face between -tolerance and length along it,
    // as the kernel's intersector made for this tolerance reports: false when
    // it cannot tell. A plane, a cylinder and a sphere are met in closed form
    // and the place told by the face's domain at the tolerance the
    // intersector would classify with, which on a face of many holes asks
    // only the holes near the place.
    bool meet(const gp_Lin& ray, double tolerance, double length,
              std::vector<RayMeeting>& meetings);
    // Built on first use; see FaceDomain.
    const FaceDomain& domain();
    // Whether the point lies beside a plane face, farther than `reach` from
    // it however near its plane: its foot on the plane lies off the face by
    // more than that. False for other surfaces.
    bool besidePlaneFace(const gp_Pnt& point, double reach);
    // The distance of the point from the whole surface the face lies on, a
    // plane, cylinder, cone, sphere or torus, in closed form: never more than
    // its distance from the face. None for other surfaces. It holds on the
    // surface's axis and at its centre too, where the nearest point is no
    // single one (the kernel's extrema find none there: a probe in the middle
    // of a drilled hole went to the kernel's classifier for that).
    std::optional<double> surfaceDistance(const gp_Pnt& point) const;
    // How far the point lies outside a sphere or a torus (negative inside):
    // its distance from the centre, or from the tube's central circle, less
    // the radius. None for other surfaces.
    std::optional<double> beyondRound(const gp_Pnt& point) const;

private:
    IntCurvesFace_Intersector& intersector(double tolerance);
    bool offBox(const gp_Pnt& place, double tolerance) const;
    void keepOnFace(double w, const gp_Pnt2d& uv, double tolerance,
                    std::vector<RayMeeting>& meetings);
    bool meetPlane(const gp_Lin& ray, double tolerance, double length,
                   std::vector<RayMeeting>& meetings);
    bool meetRound(const gp_Lin& ray, double tolerance, double length,
                   std::vector<RayMeeting>& meetings);
    bool meetCone(const gp_Lin& ray, double tolerance, double length,
                  std::vector<RayMeeting>& meetings);

    TopoDS_Face face_;
    Bnd_Box box_;
    BRepAdaptor_Surface surface_;
    double boundaryTolerance_ = 0.0; // of the face, its edges
    std::vector<std::pair<double, std::unique_ptr<IntCurvesFace_Intersector>>> intersectors_;
    std::unique_ptr<FaceDomain> domain_;
};

// The record of the face, kept per thread for the faces asked last.
std::shared_ptr<FaceRays> faceRays(const TopoDS_Face& face);

// The box of a shape without its triangulation, as BRepBndLib::Add gives it,
// from the boxes of its faces when every edge and corner lies on one of them.
Bnd_Box shapeBox(const TopoDS_Shape& shape);

// The box's sides along x, y and z; all 0 for a void box.
std::array<double, 3> boxSides(const Bnd_Box& box);

// Drops the kept records, so that every face is measured afresh.
void forgetFaceRays();

} // namespace qor::model
