#include "model/RightResult.h"

#include "model/BoxIndex.h"
#include "model/EnclosedVolume.h"
#include "model/EnclosingShells.h"
#include "model/ExecContext.h"
#include "model/FaceDomain.h"
#include "model/FaceRays.h"
#include "model/RayClassifier.h"

#include "sketch/Plane.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepClass3d.hxx>
#include <BRepClass3d_SolidClassifier.hxx>
#include <BRepGProp_Face.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <ElSLib.hxx>
#include <Geom_Surface.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <TopoDS_Vertex.hxx>
#include <gp_Pln.hxx>
#include <gp_Pnt2d.hxx>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <unordered_map>
#include <vector>

namespace qor::model {
namespace {

// How deep below a face a sample point lies, at most: far above the kernel's
// tolerances and the fuzzy values the booleans run with, far below the
// 0.5 mm steps modelling works in.
constexpr double sampleDepth = 0.01;
// How many points each side (tools, body) may sample, and per face.
constexpr std::size_t pointsEach = 12;
constexpr std::size_t pointsPerFace = 3;
// Result solids compared pairwise for shared material, at most, and the
// points each of them offers the others.
constexpr std::size_t overlapSolids = 32;
constexpr std::size_t overlapPoints = 8;
constexpr std::size_t overlapGridPoints = 243;
// Faces of the result near the tools that are probed, at most, and the grid
// of points on each, over the part of a plane within the tools' reach: a
// face may lie only a little inside a tool (seen: 3 of 45 points of a
// sphere's face, 7 of 49 of a plane's).
constexpr std::size_t probedFaces = 64;
constexpr int faceGrid = 9;

// The solids of a shape, each with its box and a classifier made on first use.
class SolidSet {
public:
    // `probing`: Kernel asks only the kernel's classifier.
    SolidSet(const TopoDS_Shape& shape, Probing probing)
        : probing_(probing)
    {
        if (shape.IsNull())
            return;
        std::vector<Bnd_Box> boxes;
        for (TopExp_Explorer solid(shape, TopAbs_SOLID); solid.More(); solid.Next()) {
            solids_.push_back(solid.Current());
            boxes.push_back(shapeBox(solid.Current()));
        }
        boxes_ = BoxIndex(std::move(boxes));
        classifiers_.resize(solids_.size());
        rays_.resize(solids_.size());
    }

    std::size_t size() const { return solids_.size(); }
    Probing probing() const { return probing_; }

    // Whether the box of some solid but `without` (or -1) meets the box.
    bool meets(const Bnd_Box& box, int without = -1) const
    {
        boxes_.kept([&box](const Bnd_Box& solid) { return solid.IsOut(box); }, near_);
        return std::any_of(near_.begin(), near_.end(), [without](int i) { return i != without; });
    }
    const TopoDS_Shape& solid(std::size_t i) const { return solids_[i]; }
    const Bnd_Box& box(std::size_t i) const { return boxes_.box(i); }

    Bnd_Box box() const
    {
        Bnd_Box all;
        for (std::size_t i = 0; i < boxes_.size(); ++i)
            all.Add(boxes_.box(i));
        return all;
    }

    // The faces of every solid, as the solid holds them.
    std::vector<TopoDS_Face> faces() const
    {
        std::vector<TopoDS_Face> all;
        for (const TopoDS_Shape& solid : solids_) {
            for (TopExp_Explorer face(solid, TopAbs_FACE); face.More(); face.Next())
                all.push_back(TopoDS::Face(face.Current()));
        }
        return all;
    }

    // Whether every face lies on an elementary surface: then a point is
    // classified in closed form, where free forms (a modelled thread, a
    // lofted or swept body) cost the classifier milliseconds a point.
    bool elementary() const
    {
        if (!elementary_) {
            elementary_ = std::all_of(solids_.begin(), solids_.end(), [](const TopoDS_Shape& s) {
                for (TopExp_Explorer face(s, TopAbs_FACE); face.More(); face.Next()) {
                    if (!isElementarySurface(
                            BRepAdaptor_Surface(TopoDS::Face(face.Current()), false).GetType()))
                        return false;
                }
                return true;
            });
        }
        return *elementary_;
    }

    const RayClassifier& ray(std::size_t i) const
    {
        if (!rays_[i])
            rays_[i] = std::make_unique<RayClassifier>(solids_[i]);
        return *rays_[i];
    }

    BRepClass3d_SolidClassifier& classifier(std::size_t i) const
    {
        if (!classifiers_[i])
            classifiers_[i] = std::make_unique<BRepClass3d_SolidClassifier>(solids_[i]);
        return *classifiers_[i];
    }

    TopAbs_State stateIn(std::size_t i, const gp_Pnt& point, double tolerance) const
    {
        Bnd_Box near = boxes_.box(i);
        near.Enlarge(tolerance);
        if (near.IsOut(point))
            return TopAbs_OUT;
        if (probing_ == Probing::Rays && elementary()) {
            if (const std::optional<TopAbs_State> told = ray(i).state(point, tolerance))
                return *told;
        }
        BRepClass3d_SolidClassifier& where = classifier(i);
        where.Perform(point, tolerance);
        return where.State();
    }

    // Where a point at infinity lies: IN for a solid turned inside out.
    // `tolerance`: that the solid's other points are asked with.
    TopAbs_State stateFromAfar(std::size_t i, double tolerance) const
    {
        if (probing_ == Probing::Rays && elementary()) {
            if (const std::optional<TopAbs_State> told = ray(i).stateFromAfar(tolerance))
                return *told;
        }
        BRepClass3d_SolidClassifier& where = classifier(i);
        where.PerformInfinitePoint(1e-7);
        return where.State();
    }

    // IN inside some solid, ON on one and inside none, else OUT; UNKNOWN when
    // the classifier cannot tell. Only the solids whose boxes come near are
    // asked: a group of a hundred holes is a hundred tools. `without`: a
    // solid not asked, or -1.
    TopAbs_State state(const gp_Pnt& point, double tolerance, int without = -1) const
    {
        TopAbs_State found = TopAbs_OUT;
        boxes_.near(point, tolerance, near_);
        // In the solids' order, as the last unsure one found is told.
        std::sort(near_.begin(), near_.end());
        for (const int i : near_) {
            if (i == without)
                continue;
            const TopAbs_State here = stateIn(std::size_t(i), point, tolerance);
            if (here == TopAbs_IN)
                return TopAbs_IN;
            if (here != TopAbs_OUT)
                found = here;
        }
        return found;
    }

private:
    std::vector<TopoDS_Shape> solids_;
    BoxIndex boxes_;
    mutable std::vector<int> near_;
    Probing probing_;
    mutable std::vector<std::unique_ptr<BRepClass3d_SolidClassifier>> classifiers_;
    mutable std::vector<std::unique_ptr<RayClassifier>> rays_;
    mutable std::optional<bool> elementary_;
};

// How inexact a result may be where the boolean made it, at least.
constexpr double looseTolerance = 0.05;

// The largest tolerance of the faces, their edges and their corners.
double largestTolerance(const TopTools_ListOfShape& faces)
{
    double largest = 0.0;
    for (const TopoDS_Shape& face : faces) {
        largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Face(face)));
        for (TopExp_Explorer edge(face, TopAbs_EDGE); edge.More(); edge.Next())
            largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Edge(edge.Current())));
        for (TopExp_Explorer vertex(face, TopAbs_VERTEX); vertex.More(); vertex.Next())
            largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Vertex(vertex.Current())));
    }
    return largest;
}

// Whether the faces the boolean made are far less exact than those they replaced.
bool loose(const ChangedFaces& changed)
{
    const double allowed = std::max(looseTolerance, 10.0 * largestTolerance(changed.replaced));
    return largestTolerance(changed.made) > allowed;
}

double solidVolume(const TopoDS_Shape& solid)
{
    return std::abs(enclosedVolume(solid));
}

double smallestSide(const Bnd_Box& box)
{
    const std::array<double, 3> sides = boxSides(box);
    return *std::min_element(sides.begin(), sides.end());
}

Bnd_Box enlarged(Bnd_Box box, double by)
{
    box.Enlarge(by);
    return box;
}

// The depth of sample points behind the faces of a shape with this box: thin
// shapes get shallower points.
double depthFor(const Bnd_Box& box)
{
    return std::min(sampleDepth, 0.05 * smallestSide(box));
}

// Whether the point of the face's surface at these parameters lies on the
// face, as the kernel's face classifier tells at a tolerance far below
// modelling sizes: never where the point lies outside the face's box. The
// face's domain is kept with its record, so a face that passes through many
// booleans unchanged is measured once. Where the face's curves tell points,
// one they leave unsure lies within the sag of the kernel's polygon of an
// edge (0.05 mm about a hole of 10 mm), too near it to witness anything,
// and is taken as off the face: a grid over a hole's box put eight points
// that near every round hole, each costing the kernel's classifier more
// than the rest of the grid.
bool onFace(FaceRays& rays, const gp_Pnt2d& uv, const gp_Pnt& point)
{
    if (rays.box().IsOut(point))
        return false;
    const FaceDomain& domain = rays.domain();
    if (domain.toldByCurves())
        return domain.clearOfEdges(uv, 1e-9) == TopAbs_IN;
    return domain.state(uv, 1e-9) == TopAbs_IN;
}

// Up to `perFace` points just behind the face, on its material side: the
// face as its solid holds it, so its normal points out of the material.
void addPointsBehind(const TopoDS_Face& face, double depth, std::size_t perFace,
                     std::vector<gp_Pnt>& points)
{
    static constexpr std::array<std::array<double, 2>, 5> fractions{
        {{0.5, 0.5}, {0.31, 0.29}, {0.69, 0.71}, {0.27, 0.73}, {0.72, 0.26}}};
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
    BRepTools::UVBounds(face, u0, u1, v0, v1);
    const BRepGProp_Face surface(face);
    const std::shared_ptr<FaceRays> rays = faceRays(face);
    std::size_t added = 0;
    for (const auto& [fu, fv] : fractions) {
        if (added == perFace)
            return;
        const gp_Pnt2d uv(u0 + fu * (u1 - u0), v0 + fv * (v1 - v0));
        gp_Pnt onSurface;
        gp_Vec normal;
        surface.Normal(uv.X(), uv.Y(), onSurface, normal);
        if (!onFace(*rays, uv, onSurface))
            continue;
        if (normal.Magnitude() < 1e-12)
            continue;
        points.push_back(onSurface.Translated(-depth * normal.Normalized()));
        ++added;
    }
}

// A point of a face's surface with its outward normal, as the face's solid
// holds it, and its parameters.
struct FacePoint {
    gp_Pnt point;
    gp_Dir normal;
    gp_Pnt2d uv;
};

// The parameters of a plane face that can lie within the box, narrowed from
// the face's own: the box's corners projected onto the plane.
void narrowToBox(const TopoDS_Face& face, const Bnd_Box& box, double& u0, double& u1, double& v0,
                 double& v1)
{
    const BRepAdaptor_Surface surface(face, false);
    if (surface.GetType() != GeomAbs_Plane || box.IsVoid())
        return;
    double xmin = 0, ymin = 0, zmin = 0, xmax = 0, ymax = 0, zmax = 0;
    box.Get(xmin, ymin, zmin, xmax, ymax, zmax);
    const gp_Pln plane = surface.Plane();
    double bu0 = 1e300, bu1 = -1e300, bv0 = 1e300, bv1 = -1e300;
    for (const double x : {xmin, xmax}) {
        for (const double y : {ymin, ymax}) {
            for (const double z : {zmin, zmax}) {
                double u = 0, v = 0;
                ElSLib::Parameters(plane, gp_Pnt(x, y, z), u, v);
                bu0 = std::min(bu0, u);
                bu1 = std::max(bu1, u);
                bv0 = std::min(bv0, v);
                bv1 = std::max(bv1, v);
            }
        }
    }
    u0 = std::max(u0, bu0);
    u1 = std::min(u1, bu1);
    v0 = std::max(v0, bv0);
    v1 = std::min(v1, bv1);
}

// The points of a grid over the face's parameters whose surface points lie
// in the box; whether they lie on the face itself is asked later, of the few
// that matter, as that costs most.
std::vector<FacePoint> gridNear(const TopoDS_Face& face, const Bnd_Box& box)
{
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
    BRepTools::UVBounds(face, u0, u1, v0, v1);
    narrowToBox(face, box, u0, u1, v0, v1);
    std::vector<FacePoint> points;
    if (!(u1 >= u0) || !(v1 >= v0))
        return points;
    const BRepGProp_Face surface(face);
    for (int i = 0; i < faceGrid; ++i) {
        for (int j = 0; j < faceGrid; ++j) {
            const gp_Pnt2d uv(u0 + (i + 0.5) / faceGrid * (u1 - u0),
                              v0 + (j + 0.5) / faceGrid * (v1 - v0));
            gp_Pnt onSurface;
            gp_Vec normal;
            surface.Normal(uv.X(), uv.Y(), onSurface, normal);
            if (!box.IsOut(onSurface) && normal.Magnitude() > 1e-12)
                points.push_back({onSurface, gp_Dir(normal), uv});
        }
    }
    return points;
}

// Points just inside the solids of the faces, spread over them: every
// `stride`-th face first, so that a long list is sampled along its length.
std::vector<gp_Pnt> pointsBehind(const std::vector<TopoDS_Face>& faces, double depth)
{
    std::vector<gp_Pnt> points;
    if (faces.empty() || !(depth > 0.0))
        return points;
    const std::size_t perFace = faces.size() * pointsPerFace <= pointsEach ? pointsPerFace : 1;
    const std::size_t stride = std::max<std::size_t>(1, faces.size() / pointsEach);
    for (std::size_t start = 0; start < stride && points.size() < pointsEach; ++start) {
        for (std::size_t i = start; i < faces.size() && points.size() < pointsEach; i += stride)
            addPointsBehind(faces[i], depth, perFace, points);
    }
    return points;
}

// The body's faces that the boolean replaced, as the body holds them.
std::vector<TopoDS_Face> replacedBodyFaces(const TopoDS_Shape& body, const ChangedFaces& changed)
{
    TopTools_IndexedMapOfShape gone;
    for (const TopoDS_Shape& face : changed.replaced)
        gone.Add(face);
    std::vector<TopoDS_Face> faces;
    for (TopExp_Explorer face(body, TopAbs_FACE); face.More(); face.Next()) {
        if (gone.Contains(face.Current()))
            faces.push_back(TopoDS::Face(face.Current()));
    }
    return faces;
}

// The faces of the tools by the surface they lie on. A boolean splits a
// tool's face into faces on the same surface, placed alike, turned as the
// result's material lies: away from the tool for a cut, into it for a
// union. A face of the result so split from one tool's face, and turned so,
// has outside that tool just behind it (a cut) or in front of it (a union):
// only the other tools can hold those points. A hundred holes cut at once
// are a hundred such walls, each out of reach of the other tools.
class ToolSurfaces {
public:
    // `slack`: how far beyond a tool's face, at most, a face split from it
    // reaches: the boolean's new edges carry tolerances of their own.
    ToolSurfaces(const SolidSet& tools, double slack)
    {
        for (std::size_t i = 0; i < tools.size(); ++i) {
            for (TopExp_Explorer face(tools.solid(i), TopAbs_FACE); face.More(); face.Next()) {
                const TopoDS_Face& f = TopoDS::Face(face.Current());
                TopLoc_Location where;
                const Handle(Geom_Surface)& surface = BRep_Tool::Surface(f, where);
                faces_.emplace(surface.get(), Face{where, enlarged(faceRays(f)->box(), slack),
                                                   f.Orientation(), int(i)});
            }
        }
    }

    // The tool the face was split from, turned as the operation turns the
    // tool's faces, or -1 for a face of no tool, of several, or turned otherwise.
    int splitFrom(const TopoDS_Face& face, BOPAlgo_Operation operation) const
    {
        if (operation != BOPAlgo_CUT && operation != BOPAlgo_FUSE)
            return -1;
        TopLoc_Location where;
        const Handle(Geom_Surface)& surface = BRep_Tool::Surface(face, where);
        const Bnd_Box& box = faceRays(face)->box();
        int tool = -1;
        const auto [first, last] = faces_.equal_range(surface.get());
        for (auto it = first; it != last; ++it) {
            const Face& of = it->second;
            // Another face of the surface, elsewhere.
            if (!of.where.IsEqual(where) || !within(box, of.box))
                continue;
            const bool turned
                = (of.orientation == face.Orientation()) == (operation == BOPAlgo_FUSE);
            if (!turned || (tool >= 0 && tool != of.tool))
                return -1;
            tool = of.tool;
        }
        return tool;
    }

private:
    struct Face {
        TopLoc_Location where;
        Bnd_Box box; // enlarged by the slack
        TopAbs_Orientation orientation;
        int tool;
    };

    static bool within(const Bnd_Box& inner, const Bnd_Box& outer)
    {
        if (inner.IsVoid() || outer.IsVoid())
            return false;
        return !outer.IsOut(inner.CornerMin()) && !outer.IsOut(inner.CornerMax());
    }

    std::unordered_multimap<const Geom_Surface*, Face> faces_;
};

enum class Side { Body, Tools };

// The witnesses of one boolean: inputs and result as solids.
class Evidence {
public:
    Evidence(BOPAlgo_Operation operation, const TopoDS_Shape& body,
             const TopTools_ListOfShape& tools, const TopoDS_Shape& result, Probing probing)
        : operation_(operation)
        , bodyShape_(body)
        , resultShape_(result)
        , body_(body, probing)
        , tools_(qor::compoundOf(std::vector<TopoDS_Shape>(tools.begin(), tools.end())), probing)
        , result_(result, probing)
    {
    }

    bool judgeable() const { return body_.size() > 0 && tools_.size() > 0; }
    const SolidSet& body() const { return body_; }
    const SolidSet& tools() const { return tools_; }
    const SolidSet& result() const { return result_; }

    // Whether the volume moved by no more than the tools hold. The quick
    // measures misjudge faces of tori and cones (seen: a box cut from a
    // body's face next to a turned ring measured 0.33 mm³ more than the box
    // holds, in every way), so a change they find beyond the tools is
    // measured again precisely, tools and all, before it refuses.
    std::optional<WrongResult> volumeBound(double change) const
    {
        if (operation_ == BOPAlgo_COMMON)
            return std::nullopt;
        const auto quick = [](const TopoDS_Shape& solid) {
            return BoundedVolume{solidVolume(solid), 0.0};
        };
        if (toolsHoldMoved({change, 0.0}, quick))
            return std::nullopt;
        const auto precise = [](const TopoDS_Shape& solid) {
            const BoundedVolume measured = preciselyEnclosedVolume(solid);
            return BoundedVolume{std::abs(measured.volume), measured.error};
        };
        if (toolsHoldMoved(preciseVolumeChange(bodyShape_, resultShape_), precise))
            return std::nullopt;
        return result_.size() == 0 ? WrongResult::Emptied : WrongResult::BeyondTools;
    }

    // The tools are measured one by one until they hold what moved: a
    // through hole's tool holds more than it removes, and a hundred holes
    // cut at once cost more to measure than to judge otherwise.
    template <typename Measure>
    bool toolsHoldMoved(const BoundedVolume& change, const Measure& measure) const
    {
        const double moved = operation_ == BOPAlgo_FUSE ? change.volume : -change.volume;
        double slack = changeMeasureSlack(body_.box()) + change.error;
        double toolsHold = 0.0;
        for (std::size_t i = 0; i < tools_.size(); ++i) {
            const BoundedVolume tool = measure(tools_.solid(i));
            toolsHold += tool.volume;
            slack += tool.error;
            if (moved
                <= toolsHold + 1e-6 * std::max({1.0, toolsHold, std::abs(change.volume)}) + slack)
                return true;
        }
        return false;
    }

    // A solid of the result that no input holds and that holds the points at infinity.
    std::optional<WrongResult> insideOut(const TopTools_IndexedMapOfShape& inputSolids) const
    {
        for (std::size_t i = 0; i < result_.size(); ++i) {
            if (inputSolids.Contains(result_.solid(i)))
                continue;
            if (result_.stateFromAfar(i, depthFor(result_.box(i)) / 4) == TopAbs_IN)
                return WrongResult::InsideOut;
        }
        return std::nullopt;
    }

    // A void of a solid the boolean made that reaches out of the solid's outer
    // shell: the solid would measure less than the material it bounds (seen:
    // a cut kept a whole sphere as a void where it stood out of the body).
    // The void is sampled on its own side of its faces: the material behind
    // them is thin wherever the void touches the outer shell by a face or a
    // tangency, and a point there lies outside a right body too (seen: a
    // cylinder cut whose side touched a hollow).
    std::optional<WrongResult> looseVoid(const TopTools_IndexedMapOfShape& inputSolids) const
    {
        for (std::size_t i = 0; i < result_.size(); ++i) {
            const TopoDS_Solid& solid = TopoDS::Solid(result_.solid(i));
            if (inputSolids.Contains(solid) || solid.NbChildren() < 2)
                continue;
            const TopoDS_Shell outer = BRepClass3d::OuterShell(solid);
            if (outer.IsNull())
                continue;
            TopoDS_Solid hull;
            BRep_Builder builder;
            builder.MakeSolid(hull);
            builder.Add(hull, outer);
            const SolidSet within(hull, result_.probing());
            const double depth = depthFor(result_.box(i));
            for (TopoDS_Iterator shell(solid); shell.More(); shell.Next()) {
                if (shell.Value().IsSame(outer))
                    continue;
                std::vector<gp_Pnt> points;
                for (TopExp_Explorer face(shell.Value(), TopAbs_FACE);
                     face.More() && points.size() < overlapPoints; face.Next())
                    addPointsBehind(TopoDS::Face(face.Current().Reversed()), depth, pointsPerFace,
                                    points);
                for (const gp_Pnt& point : points) {
                    if (around(within, point, depth, TopAbs_OUT))
                        return WrongResult::LooseVoid;
                }
            }
        }
        return std::nullopt;
    }

    // Two solids of the result whose boxes meet and one of which holds points
    // just inside the other.
    std::optional<WrongResult> overlapping() const
    {
        const std::size_t count = std::min(result_.size(), overlapSolids);
        if (count < 2)
            return std::nullopt;
        for (std::size_t i = 0; i < count; ++i) {
            std::vector<gp_Pnt> points;
            const double depth = depthFor(result_.box(i));
            for (TopExp_Explorer face(result_.solid(i), TopAbs_FACE);
                 face.More() && points.size() < overlapPoints; face.Next())
                addPointsBehind(TopoDS::Face(face.Current()), depth, pointsPerFace, points);
            for (std::size_t j = 0; j < count; ++j) {
                if (j == i || result_.box(i).IsOut(result_.box(j)))
                    continue;
                for (const gp_Pnt& point : points) {
                    if (sharedBy(i, j, point, depth))
                        return WrongResult::Overlapping;
                }
                if (gridShared(i, j, depth))
                    return WrongResult::Overlapping;
            }
        }
        return std::nullopt;
    }

    // The first point of the side whose place in the result contradicts the
    // operation, and what that means.
    std::optional<WrongResult> misplaced(Side side, const std::vector<gp_Pnt>& points,
                                         double depth) const
    {
        for (const gp_Pnt& point : points) {
            // The result, often the largest solid, only where the inputs tell.
            const TopAbs_State expected = expectedState(side, point, depth);
            if (!decided(expected))
                continue;
            const TopAbs_State observed = result_.state(point, depth / 4);
            if (!decided(observed) || expected == observed)
                continue;
            if (confirmed(side, point, depth, expected, observed))
                return meaning(side, expected);
        }
        return std::nullopt;
    }

    // A face of the result near the tools where the right result has no
    // boundary: inside a tool for a cut (it kept material there) or a union
    // (it left material out there), outside a tool or the body for a common
    // part. The points just behind and in front of the face tell, each with
    // its six neighbours. A face the result kept from an input lies on that
    // input's boundary. Seen: a cut that kept a block of the body inside the
    // tool and a cone joined short of its tip, each too small for the points
    // behind the inputs' faces to meet. Only inputs of elementary faces are
    // asked, and the body only for a common part, which lies within the
    // tools, and for a union, in front of the faces near the tools that it did
    // not keep from the body: classifying the many points in a long history's
    // body, or in a modelled thread, cost more than the boolean.
    std::optional<WrongResult> strayFace(const TopoDS_Shape& body,
                                         const TopTools_ListOfShape& tools) const
    {
        const double depth = std::min(depthFor(body_.box()), depthFor(tools_.box()));
        if (!(depth > 0.0) || !tools_.elementary())
            return std::nullopt;
        TopTools_IndexedMapOfShape toolFaces;
        for (const TopoDS_Shape& tool : tools)
            TopExp::MapShapes(tool, TopAbs_FACE, toolFaces);
        TopTools_IndexedMapOfShape bodyFaces;
        const bool askBody
            = (operation_ == BOPAlgo_COMMON || operation_ == BOPAlgo_FUSE) && body_.elementary();
        if (askBody)
            TopExp::MapShapes(body, TopAbs_FACE, bodyFaces);
        const Bnd_Box reach = enlarged(tools_.box(), 2 * depth);
        const std::vector<TopoDS_Face> faces = facesNear(result_.faces(), reach, depth);
        // The plain rule asks every tool of every face.
        const std::optional<ToolSurfaces> split
            = tools_.probing() == Probing::Rays
                  ? std::make_optional<ToolSurfaces>(tools_, 2 * depth)
                  : std::nullopt;
        const std::size_t stride = std::max<std::size_t>(1, faces.size() / probedFaces);
        for (std::size_t i = 0; i < faces.size(); i += stride) {
            const bool ofTools = toolFaces.Contains(faces[i]);
            const bool ofBody = !askBody || bodyFaces.Contains(faces[i]);
            if (ofTools && ofBody)
                continue;
            const int tool = split ? split->splitFrom(faces[i], operation_) : -1;
            // In front of a face a union split from one tool only the other tools and the
            // body can hold material.
            const bool bodyInFront = operation_ == BOPAlgo_FUSE && !ofBody;
            if (tool >= 0 && !bodyInFront
                && !tools_.meets(enlarged(faceRays(faces[i])->box(), 2 * depth), tool))
                continue;
            const std::shared_ptr<FaceRays> rays = faceRays(faces[i]);
            for (const FacePoint& on : gridNear(faces[i], reach)) {
                if (const auto wrong = strayAt(*rays, on, depth, !ofTools, !ofBody, askBody, tool))
                    return wrong;
            }
        }
        return std::nullopt;
    }

private:
    static bool decided(TopAbs_State state) { return state == TopAbs_IN || state == TopAbs_OUT; }

    // The faces whose boxes meet the box, and for a cut or a union, whose
    // boxes twice the depth larger meet a tool's: only points within a tool
    // testify there, where a common part also lacks material outside all
    // tools. The faces a long history's body holds between a group's tools
    // are many and far from each.
    std::vector<TopoDS_Face> facesNear(const std::vector<TopoDS_Face>& faces, const Bnd_Box& reach,
                                       double depth) const
    {
        const bool withinTools = operation_ == BOPAlgo_CUT || operation_ == BOPAlgo_FUSE;
        std::vector<TopoDS_Face> near;
        for (const TopoDS_Face& face : faces) {
            const Bnd_Box& box = faceRays(face)->box();
            if (!reach.IsOut(box) && (!withinTools || tools_.meets(enlarged(box, 2 * depth))))
                near.push_back(face);
        }
        return near;
    }

    // Whether the point and its six neighbours lie in `state` of the solids.
    static bool around(const SolidSet& solids, const gp_Pnt& point, double depth,
                       TopAbs_State state)
    {
        return solids.state(point, depth / 4) == state && neighboursIn(solids, point, depth, state);
    }

    // Whether the six neighbours of a point lie in `state` of the solids but `without`.
    static bool neighboursIn(const SolidSet& solids, const gp_Pnt& point, double depth,
                             TopAbs_State state, int without = -1)
    {
        const std::array<gp_Pnt, 6> near = neighbours(point, depth);
        return std::all_of(near.begin(), near.end(), [&](const gp_Pnt& q) {
            return solids.state(q, depth / 4, without) == state;
        });
    }

    // What the point of a face of the result shows wrong; `tools`, `body`:
    // whether the face is held to lie off that input's inside (cut, union)
    // or outside (common part); `askBody`: whether the body may be asked
    // where a common part lacks material. Every finding is a conjunction of
    // answers that do not depend on each other, so the cheap ones come
    // first: the point in the tools, whether it lies on the face, the point
    // in the body, and only then the neighbours, each point once. A common
    // part with a box holding the whole body asked seven points in the box
    // of every grid point in front of the body's faces before the one point
    // that fails, outside the body. `splitFrom`: the tool the face was split
    // from, which is not asked, or -1.
    std::optional<WrongResult> strayAt(FaceRays& face, const FacePoint& on, double depth,
                                       bool tools, bool body, bool askBody, int splitFrom) const
    {
        const gp_Pnt behind = on.point.Translated(-depth * gp_Vec(on.normal));
        const gp_Pnt front = on.point.Translated(depth * gp_Vec(on.normal));
        const auto without
            = [&](const SolidSet& solids) { return &solids == &tools_ ? splitFrom : -1; };
        const auto in = [&](const SolidSet& solids, const gp_Pnt& point, TopAbs_State state) {
            return solids.state(point, depth / 4, without(solids)) == state;
        };
        const auto near = [&](const SolidSet& solids, const gp_Pnt& point, TopAbs_State state) {
            return neighboursIn(solids, point, depth, state, without(solids));
        };
        const auto flagged = [&](const SolidSet& solids, const gp_Pnt& point, TopAbs_State state) {
            return in(solids, point, state) && onFace(face, on.uv, on.point)
                   && near(solids, point, state);
        };
        switch (operation_) {
        case BOPAlgo_CUT:
            if (tools && flagged(tools_, behind, TopAbs_IN)
                && around(result_, behind, depth, TopAbs_IN))
                return WrongResult::KeptToolMaterial;
            return std::nullopt;
        case BOPAlgo_FUSE:
            if (tools && flagged(tools_, front, TopAbs_IN)
                && around(result_, front, depth, TopAbs_OUT))
                return WrongResult::MissedTools;
            // The body's material in front of a face the union did not keep from the body:
            // the union dropped it (seen: a body's material inside the hole of a ring
            // joined to it, every point of the ring kept).
            if (askBody && body && flagged(body_, front, TopAbs_IN)
                && around(result_, front, depth, TopAbs_OUT))
                return WrongResult::LostMaterial;
            return std::nullopt;
        default: {
            const bool outside = (tools && flagged(tools_, behind, TopAbs_OUT))
                                 || (body && flagged(body_, behind, TopAbs_OUT));
            if (outside && around(result_, behind, depth, TopAbs_IN))
                return WrongResult::NotCommon;
            // Material of the body inside any tool in front of a face: the
            // common part stopped at a face of one tool inside another.
            if (askBody && in(tools_, front, TopAbs_IN) && onFace(face, on.uv, on.point)
                && in(body_, front, TopAbs_IN) && near(tools_, front, TopAbs_IN)
                && near(body_, front, TopAbs_IN) && around(result_, front, depth, TopAbs_OUT))
                return WrongResult::NotCommon;
            return std::nullopt;
        }
        }
    }

    // Whether points of a grid just behind the faces of solid i within solid
    // j's box lie inside j: a ball kept whole beside the plate it was joined
    // to, with its equator on the plate's face, offered the few points behind
    // its one face nowhere inside the plate. At most overlapGridPoints are
    // asked, as j may be a long history's body.
    bool gridShared(std::size_t i, std::size_t j, double depth) const
    {
        Bnd_Box reach = result_.box(j);
        reach.Enlarge(depth);
        std::size_t asked = 0;
        for (TopExp_Explorer explorer(result_.solid(i), TopAbs_FACE); explorer.More();
             explorer.Next()) {
            const TopoDS_Face& face = TopoDS::Face(explorer.Current());
            const std::shared_ptr<FaceRays> rays = faceRays(face);
            for (const FacePoint& on : gridNear(face, reach)) {
                if (asked++ == overlapGridPoints)
                    return false;
                const gp_Pnt behind = on.point.Translated(-depth * gp_Vec(on.normal));
                if (result_.stateIn(j, behind, depth / 4) == TopAbs_IN
                    && onFace(*rays, on.uv, on.point) && sharedBy(i, j, behind, depth))
                    return true;
            }
        }
        return false;
    }

    bool sharedBy(std::size_t i, std::size_t j, const gp_Pnt& point, double depth) const
    {
        if (result_.stateIn(j, point, depth / 4) != TopAbs_IN)
            return false;
        for (const gp_Pnt& near : neighbours(point, depth)) {
            if (result_.stateIn(i, near, depth / 4) != TopAbs_IN
                || result_.stateIn(j, near, depth / 4) != TopAbs_IN)
                return false;
        }
        return true;
    }

    // Where the operation puts a point from inside the side's solids.
    TopAbs_State expectedState(Side side, const gp_Pnt& point, double depth) const
    {
        if (operation_ == BOPAlgo_FUSE)
            return TopAbs_IN;
        if (side == Side::Tools && operation_ == BOPAlgo_CUT)
            return TopAbs_OUT;
        const TopAbs_State other = (side == Side::Body ? tools_ : body_).state(point, depth / 4);
        if (!decided(other))
            return TopAbs_UNKNOWN;
        if (operation_ == BOPAlgo_CUT)
            return other == TopAbs_IN ? TopAbs_OUT : TopAbs_IN;
        return other;
    }

    // Whether the point lies well inside its side's solids and its six
    // neighbours half its depth away do too and are placed alike.
    bool confirmed(Side side, const gp_Pnt& point, double depth, TopAbs_State expected,
                   TopAbs_State observed) const
    {
        const SolidSet& source = side == Side::Body ? body_ : tools_;
        if (source.state(point, depth / 4) != TopAbs_IN)
            return false;
        for (const gp_Pnt& near : neighbours(point, depth)) {
            if (source.state(near, depth / 4) != TopAbs_IN
                || expectedState(side, near, depth) != expected
                || result_.state(near, depth / 4) != observed)
                return false;
        }
        return true;
    }

    static std::array<gp_Pnt, 6> neighbours(const gp_Pnt& point, double depth)
    {
        const double step = depth / 2;
        return {point.Translated(gp_Vec(step, 0, 0)), point.Translated(gp_Vec(-step, 0, 0)),
                point.Translated(gp_Vec(0, step, 0)), point.Translated(gp_Vec(0, -step, 0)),
                point.Translated(gp_Vec(0, 0, step)), point.Translated(gp_Vec(0, 0, -step))};
    }

    WrongResult meaning(Side side, TopAbs_State expected) const
    {
        if (operation_ == BOPAlgo_COMMON)
            return WrongResult::NotCommon;
        if (expected == TopAbs_OUT)
            return WrongResult::KeptToolMaterial;
        if (side == Side::Tools)
            return WrongResult::MissedTools;
        return result_.size() == 0 ? WrongResult::Emptied : WrongResult::LostMaterial;
    }

    BOPAlgo_Operation operation_;
    TopoDS_Shape bodyShape_;
    TopoDS_Shape resultShape_;
    SolidSet body_;
    SolidSet tools_;
    SolidSet result_;
};

TopTools_IndexedMapOfShape solidsOf(const TopoDS_Shape& body, const TopTools_ListOfShape& tools)
{
    TopTools_IndexedMapOfShape solids;
    TopExp::MapShapes(body, TopAbs_SOLID, solids);
    for (const TopoDS_Shape& tool : tools)
        TopExp::MapShapes(tool, TopAbs_SOLID, solids);
    return solids;
}

// A solid the boolean made whose shells do not all close and enclose what
// they should, or a face turned INTERNAL that no input had. Both are told by
// topology and one volume per shell, before any point is classified: a
// filled hollow's walls also spoil the volume every later check measures.
std::optional<WrongResult> unenclosing(const TopoDS_Shape& body, const TopTools_ListOfShape& tools,
                                       const TopoDS_Shape& result,
                                       const TopTools_IndexedMapOfShape& inputSolids)
{
    TopTools_ListOfShape inputs = tools;
    inputs.Prepend(body);
    if (strayInternalFaces(result, inputs))
        return WrongResult::InnerFaces;
    for (TopExp_Explorer solid(result, TopAbs_SOLID); solid.More(); solid.Next()) {
        if (inputSolids.Contains(solid.Current()))
            continue;
        // Whether the outer shell encloses material insideOut tells.
        if (const std::optional<ShellFault> fault = shellFault(solid.Current(), Measured::Voids))
            return *fault == ShellFault::Open ? WrongResult::OpenShell : WrongResult::EmptyShell;
    }
    return std::nullopt;
}

std::optional<WrongResult> judged(BOPAlgo_Operation operation, const TopoDS_Shape& body,
                                  const TopTools_ListOfShape& tools, const TopoDS_Shape& result,
                                  const ChangedFaces& changed, double change, Probing probing)
{
    const Evidence evidence(operation, body, tools, result, probing);
    if (!evidence.judgeable())
        return std::nullopt;
    const TopTools_IndexedMapOfShape inputSolids = solidsOf(body, tools);
    if (const auto wrong = unenclosing(body, tools, result, inputSolids))
        return wrong;
    if (const auto wrong = evidence.volumeBound(change))
        return wrong;
    if (loose(changed))
        return WrongResult::Loose;
    if (const auto wrong = evidence.insideOut(inputSolids))
        return wrong;
    if (const auto wrong = evidence.looseVoid(inputSolids))
        return wrong;
    if (const auto wrong = evidence.overlapping())
        return wrong;
    const double toolDepth = depthFor(evidence.tools().box());
    if (const auto wrong = evidence.misplaced(
            Side::Tools, pointsBehind(evidence.tools().faces(), toolDepth), toolDepth))
        return wrong;
    const double bodyDepth = depthFor(evidence.body().box());
    // A common part must drop the body's material outside the tools even
    // where it kept the body's faces.
    const std::vector<TopoDS_Face> bodyFaces
        = operation == BOPAlgo_COMMON ? evidence.body().faces() : replacedBodyFaces(body, changed);
    if (const auto wrong
        = evidence.misplaced(Side::Body, pointsBehind(bodyFaces, bodyDepth), bodyDepth))
        return wrong;
    return evidence.strayFace(body, tools);
}

} // namespace

std::optional<WrongResult> wrongResult(BOPAlgo_Operation operation, const TopoDS_Shape& body,
                                       const TopTools_ListOfShape& tools,
                                       const TopoDS_Shape& result, const ChangedFaces& changed,
                                       double change)
{
    return wrongResult(operation, body, tools, result, changed, change, Probing::Rays);
}

std::optional<WrongResult> wrongResult(BOPAlgo_Operation operation, const TopoDS_Shape& body,
                                       const TopTools_ListOfShape& tools,
                                       const TopoDS_Shape& result, const ChangedFaces& changed,
                                       double change, Probing probing)
{
    try {
        OCC_CATCH_SIGNALS
        return judged(operation, body, tools, result, changed, change, probing);
    } catch (const Standard_Failure&) {
        // Evidence the kernel cannot take is no evidence against the result.
        return std::nullopt;
    }
}

QString wrongResultText(WrongResult wrong)
{
    switch (wrong) {
    case WrongResult::InsideOut:
        return QStringLiteral("das Ergebnis enthielte einen nach innen gekehrten Körper");
    case WrongResult::LooseVoid:
        return QStringLiteral("das Ergebnis hätte einen Hohlraum, der aus dem Körper herausragt");
    case WrongResult::Overlapping:
        return QStringLiteral("das Ergebnis bestünde aus Körpern, die einander durchdringen");
    case WrongResult::BeyondTools:
        return QStringLiteral("das Ergebnis änderte das Volumen um mehr, als das Werkzeug enthält");
    case WrongResult::Emptied:
        return QStringLiteral(
            "das Ergebnis wäre leer, obwohl das Werkzeug den Körper nicht umschließt");
    case WrongResult::LostMaterial:
        return QStringLiteral("das Ergebnis verlöre Material außerhalb des Werkzeugs");
    case WrongResult::KeptToolMaterial:
        return QStringLiteral("das Ergebnis behielte Material innerhalb des Werkzeugs");
    case WrongResult::MissedTools:
        return QStringLiteral("das Ergebnis enthielte das Werkzeug nicht ganz");
    case WrongResult::NotCommon:
        return QStringLiteral("das Ergebnis wäre nicht der gemeinsame Bereich");
    case WrongResult::Loose:
        return QStringLiteral("das Ergebnis hätte Kanten oder Ecken, die um mehr als 0,05 mm "
                              "ungenau sind");
    case WrongResult::OpenShell:
        return QStringLiteral("das Ergebnis enthielte eine Hülle, die sich nicht schließt");
    case WrongResult::EmptyShell:
        return QStringLiteral("das Ergebnis enthielte eine Hülle, die kein Volumen umschließt");
    case WrongResult::InnerFaces:
        return QStringLiteral(
            "das Ergebnis enthielte innere Flächen, die keiner der beteiligten Körper hatte");
    }
    return {};
}

} // namespace qor::model
