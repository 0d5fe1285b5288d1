#include "model/EnclosedVolume.h"

#include <BRepGProp_Domain.hxx>
#include <BRepGProp_Face.hxx>
#include <BRepGProp_Vinert.hxx>
#include <BRep_Tool.hxx>
#include <Geom2dAdaptor_Curve.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Geom_Plane.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Ax3.hxx>
#include <gp_Circ2d.hxx>

#include <cmath>
#include <optional>

namespace qor::model {
namespace {

double cross(const gp_XY& a, const gp_XY& b)
{
    return a.X() * b.Y() - a.Y() * b.X();
}

// The integral of u dv - v du along a curve of the plane, from its first
// parameter to its last: twice the area it sweeps about the plane's origin.
// None for other curves than lines and circles.
std::optional<double> sweptTwice(const Geom2dAdaptor_Curve& curve)
{
    const double first = curve.FirstParameter();
    const double last = curve.LastParameter();
    if (curve.GetType() == GeomAbs_Line)
        return cross(curve.Value(first).XY(), curve.Value(last).XY());
    if (curve.GetType() != GeomAbs_Circle)
        return std::nullopt;
    // Along centre + r (cos t X + sin t Y): the centre's share is the centre
    // across the chord, the radius sweeps r² per radian, turning the way X
    // turns into Y.
    const gp_Circ2d circle = curve.Circle();
    const gp_XY centre = circle.Location().XY();
    const gp_XY chord = curve.Value(last).XY() - curve.Value(first).XY();
    const double turn = cross(circle.XAxis().Direction().XY(), circle.YAxis().Direction().XY());
    return cross(centre, chord) + circle.Radius() * circle.Radius() * turn * (last - first);
}

// The sum of `along` over the curves of the face's boundary in its parameter
// plane, each taken the way the face runs it. Explored from the face, the
// edges come turned with it, so the sum flips with the face, as its outward
// normal does. An edge inside the face is run both ways and adds nothing.
// None when `along` has none for a curve, or an edge has no curve there.
template <typename Along>
std::optional<double> aroundBoundary(const TopoDS_Face& face, const Along& along)
{
    double sum = 0.0;
    for (TopExp_Explorer it(face, TopAbs_EDGE); it.More(); it.Next()) {
        const TopoDS_Edge& edge = TopoDS::Edge(it.Current());
        if (BRep_Tool::Degenerated(edge)
            || (edge.Orientation() != TopAbs_FORWARD && edge.Orientation() != TopAbs_REVERSED))
            continue;
        double first = 0.0;
        double last = 0.0;
        const Handle(Geom2d_Curve) curve = BRep_Tool::CurveOnSurface(edge, face, first, last);
        if (curve.IsNull())
            return std::nullopt;
        const std::optional<double> share = along(Geom2dAdaptor_Curve(curve, first, last));
        if (!share)
            return std::nullopt;
        sum += edge.Orientation() == TopAbs_REVERSED ? -*share : *share;
    }
    return sum;
}

// A plane face's share about `about`: a third of its area times the distance
// of its plane from that point along its outward normal. None when a curve of
// its boundary is neither line nor circle.
std::optional<double> planeFaceVolume(const TopoDS_Face& face, const gp_Pnt& about)
{
    TopLoc_Location location;
    const Handle(Geom_Plane) plane
        = Handle(Geom_Plane)::DownCast(BRep_Tool::Surface(face, location));
    if (plane.IsNull() || face.NbChildren() == 0)
        return std::nullopt;
    const std::optional<double> areaTwice = aroundBoundary(face, sweptTwice);
    if (!areaTwice)
        return std::nullopt;
    const gp_Ax3 axes = plane->Position().Transformed(location.Transformation());
    const gp_XYZ normal = axes.XDirection().XYZ().Crossed(axes.YDirection().XYZ());
    const double height = (axes.Location().XYZ() - about.XYZ()).Dot(normal);
    return height * *areaTwice / 6.0;
}

// A cylinder face's share about `about`. With the surface at
// A + R(cos u X + sin u Y) + v Z, the point's distance along the unit normal
// is R + a·(cos u X + sin u Y) for a = A - about, and the area element R du dv:
// the share is a third of the integral of R(R + a_x cos u + a_y sin u) over
// the face's domain, which Green's theorem turns into the integral of
// F(u) = R(R u + a_x sin u - a_y cos u) dv around its boundary. Along a line in
// the parameter plane that integral has a closed form. None when a curve of
// its boundary is not a line there (a cylinder cut by another cylinder).
std::optional<double> cylinderFaceVolume(const TopoDS_Face& face, const gp_Pnt& about)
{
    TopLoc_Location location;
    const Handle(Geom_CylindricalSurface) cylinder
        = Handle(Geom_CylindricalSurface)::DownCast(BRep_Tool::Surface(face, location));
    if (cylinder.IsNull() || face.NbChildren() == 0)
        return std::nullopt;
    const gp_Ax3 axes = cylinder->Position().Transformed(location.Transformation());
    const double r = cylinder->Radius();
    const gp_XYZ a = axes.Location().XYZ() - about.XYZ();
    const double ax = a.Dot(axes.XDirection().XYZ());
    const double ay = a.Dot(axes.YDirection().XYZ());
    // The antiderivative of F along u, for lines that run across the axis.
    const auto integralOfF
        = [&](double u) { return r * (r * u * u / 2.0 - ax * std::cos(u) - ay * std::sin(u)); };
    const auto valueOfF
        = [&](double u) { return r * (r * u + ax * std::sin(u) - ay * std::cos(u)); };
    const std::optional<double> boundary
        = aroundBoundary(face, [&](const Geom2dAdaptor_Curve& curve) -> std::optional<double> {
              if (curve.GetType() != GeomAbs_Line)
                  return std::nullopt;
              const gp_Pnt2d start = curve.Value(curve.FirstParameter());
              const gp_Pnt2d end = curve.Value(curve.LastParameter());
              const double du = end.X() - start.X();
              const double dv = end.Y() - start.Y();
              // Across the axis dv is a fixed share of du. Nearly along it the
              // antiderivatives cancel, and Simpson's rule is exact to far below
              // rounding (exactly F dv along the axis).
              if (std::abs(du) < 1e-3)
                  return dv / 6.0
                         * (valueOfF(start.X()) + 4.0 * valueOfF(start.X() + du / 2.0)
                            + valueOfF(end.X()));
              return dv / du * (integralOfF(end.X()) - integralOfF(start.X()));
          });
    if (!boundary)
        return std::nullopt;
    // A left-handed frame turns the surface's normal inwards.
    return axes.Direct() ? *boundary / 3.0 : -*boundary / 3.0;
}

// The kernel's share of a face about `about`, as its volume properties take it.
double integratedFaceVolume(const TopoDS_Face& face, const gp_Pnt& about)
{
    BRepGProp_Face surface(face);
    BRepGProp_Vinert integral;
    integral.SetLocation(about);
    if (face.NbChildren() == 0) {
        integral.Perform(surface);
    } else {
        BRepGProp_Domain domain(face);
        integral.Perform(surface, domain);
    }
    return integral.Mass();
}

// Faces whose share the kernel integrates are measured precisely to this
// part of their share: far below the rounding a change of volume is allowed,
// and reached in a few steps on tori and cones.
constexpr double preciseShare = 1e-9;

// The kernel's share of a face about `about` by its adaptive integration,
// with the bound of its error.
BoundedVolume adaptiveFaceVolume(const TopoDS_Face& face, const gp_Pnt& about)
{
    BRepGProp_Face surface(face);
    BRepGProp_Vinert integral;
    integral.SetLocation(about);
    double relative = 0.0;
    if (face.NbChildren() == 0) {
        relative = integral.Perform(surface, preciseShare);
    } else {
        BRepGProp_Domain domain(face);
        relative = integral.Perform(surface, domain, preciseShare);
    }
    return {integral.Mass(), std::abs(relative * integral.Mass())};
}

// The mean of the vertices, about which the kernel measures too: near the
// faces, so that the shares stay small beside the volume they add up to.
gp_Pnt meanVertex(const TopoDS_Shape& shape)
{
    gp_XYZ sum(0, 0, 0);
    int count = 0;
    for (TopExp_Explorer it(shape, TopAbs_VERTEX); it.More(); it.Next(), ++count)
        sum += BRep_Tool::Pnt(TopoDS::Vertex(it.Current())).XYZ();
    return gp_Pnt(count > 0 ? sum / count : sum);
}

// The sum of the faces' shares about their mean vertex: in closed form where
// there is one, else as `integrated`(face, point) gives it.
template <typename Integrated>
double sumOfShares(const TopoDS_Shape& faces, const Integrated& integrated)
{
    const gp_Pnt about = meanVertex(faces);
    double volume = 0.0;
    for (TopExp_Explorer it(faces, TopAbs_FACE); it.More(); it.Next()) {
        const TopoDS_Face& face = TopoDS::Face(it.Current());
        // Faces inside or outside the material bound nothing.
        if (face.Orientation() != TopAbs_FORWARD && face.Orientation() != TopAbs_REVERSED)
            continue;
        std::optional<double> share = planeFaceVolume(face, about);
        if (!share)
            share = cylinderFaceVolume(face, about);
        volume += share ? *share : integrated(face, about);
    }
    return volume;
}

} // namespace

double enclosedVolume(const TopoDS_Shape& faces)
{
    return sumOfShares(faces, integratedFaceVolume);
}

BoundedVolume preciselyEnclosedVolume(const TopoDS_Shape& faces)
{
    BoundedVolume measured;
    measured.volume = sumOfShares(faces, [&measured](const TopoDS_Face& face, const gp_Pnt& about) {
        const BoundedVolume share = adaptiveFaceVolume(face, about);
        measured.error += share.error;
        return share.volume;
    });
    return measured;
}

} // namespace qor::model
