#include "model/EnclosingShells.h"

#include "model/EnclosedVolume.h"
#include "model/FaceRays.h"

#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <Geom_Surface.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Iterator.hxx>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

namespace qor::model {
namespace {

// Below this share of the cube of its longest side a shell encloses nothing:
// a closed shell of two coinciding faces measures the rounding of their
// integration. The kernel leaves slivers of voids far thinner than that
// where a join's faces nearly meet (seen: 9e-6 mm³ in a box of 5.9 mm, a
// cone joined to a plate) and the body's volume is right: they count.
constexpr double noVolumeShare = 1e-12;

double longestSide(const Bnd_Box& box)
{
    const std::array<double, 3> sides = boxSides(box);
    return *std::max_element(sides.begin(), sides.end());
}

bool holds(const Bnd_Box& outer, const Bnd_Box& inner)
{
    return !inner.IsVoid() && !outer.IsOut(inner.CornerMin()) && !outer.IsOut(inner.CornerMax());
}

// The shell whose box holds the box of every other shell: a lone shell, or
// the one a solid's voids lie in.
std::optional<std::size_t> outerByBox(const std::vector<TopoDS_Shape>& shells)
{
    if (shells.size() == 1)
        return 0;
    std::vector<Bnd_Box> boxes;
    std::size_t largest = 0;
    for (std::size_t i = 0; i < shells.size(); ++i) {
        boxes.push_back(shapeBox(shells[i]));
        if (boxes[i].SquareExtent() > boxes[largest].SquareExtent())
            largest = i;
    }
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (i != largest && !holds(boxes[largest], boxes[i]))
            return std::nullopt;
    }
    return largest;
}

// Up to this many faces an outer shell is measured all the same.
constexpr int fewFaces = 8;

int faceCount(const TopoDS_Shape& shell)
{
    int faces = 0;
    for (TopExp_Explorer face(shell, TopAbs_FACE); face.More(); face.Next())
        ++faces;
    return faces;
}

bool internal(const TopoDS_Shape& face)
{
    return face.Orientation() == TopAbs_INTERNAL;
}

// A face's surface as placed: the pieces a boolean cuts a face into share it.
using PlacedSurface = std::pair<const Geom_Surface*, TopLoc_Location>;

PlacedSurface placedSurface(const TopoDS_Shape& face)
{
    TopLoc_Location where;
    const Handle(Geom_Surface)& surface = BRep_Tool::Surface(TopoDS::Face(face), where);
    return {surface.get(), where};
}

} // namespace

std::optional<ShellFault> shellFault(const TopoDS_Shape& solid, Measured measured)
{
    std::vector<TopoDS_Shape> shells;
    for (TopoDS_Iterator child(solid); child.More(); child.Next()) {
        if (child.Value().ShapeType() != TopAbs_SHELL)
            continue;
        // The kernel's own closure test: every edge but degenerate and
        // INTERNAL ones bounds two of the shell's faces, and there is one.
        if (!BRep_Tool::IsClosed(child.Value()))
            return ShellFault::Open;
        shells.push_back(child.Value());
    }
    std::optional<std::size_t> outer
        = measured == Measured::Voids ? outerByBox(shells) : std::nullopt;
    // An outer shell of a few faces costs little to measure, and the point at
    // infinity misjudges one: the kernel's classifier calls a lone ball turned
    // inside out outward.
    if (outer && faceCount(shells[*outer]) <= fewFaces)
        outer.reset();
    // Without the outer shell known, the one enclosing material must enclose
    // the most: the voids lie inside it.
    std::optional<std::size_t> enclosingMaterial = outer;
    double largest = 0.0;
    std::size_t largestAt = 0;
    for (std::size_t i = 0; i < shells.size(); ++i) {
        if (outer && i == *outer)
            continue;
        const double volume = enclosedVolume(shells[i]);
        const double side = longestSide(shapeBox(shells[i]));
        if (std::abs(volume) <= noVolumeShare * side * side * side)
            return ShellFault::NoVolume;
        if (volume > 0.0) {
            if (enclosingMaterial)
                return ShellFault::NoVolume;
            enclosingMaterial = i;
        }
        if (std::abs(volume) > largest) {
            largest = std::abs(volume);
            largestAt = i;
        }
    }
    if (!enclosingMaterial || (!outer && *enclosingMaterial != largestAt))
        return ShellFault::NoVolume;
    return std::nullopt;
}

std::optional<ShellFault> shellFaultOfSolids(const TopoDS_Shape& shape)
{
    for (TopExp_Explorer solid(shape, TopAbs_SOLID); solid.More(); solid.Next()) {
        if (const std::optional<ShellFault> fault = shellFault(solid.Current()))
            return fault;
    }
    return std::nullopt;
}

bool strayInternalFaces(const TopoDS_Shape& result, const TopTools_ListOfShape& inputs)
{
    std::vector<TopoDS_Shape> found;
    for (TopExp_Explorer face(result, TopAbs_FACE); face.More(); face.Next()) {
        if (internal(face.Current()))
            found.push_back(face.Current());
    }
    if (found.empty())
        return false;
    TopTools_IndexedMapOfShape had;
    std::vector<PlacedSurface> surfaces;
    for (const TopoDS_Shape& input : inputs) {
        for (TopExp_Explorer face(input, TopAbs_FACE); face.More(); face.Next()) {
            if (!internal(face.Current()))
                continue;
            had.Add(face.Current());
            surfaces.push_back(placedSurface(face.Current()));
        }
    }
    return std::any_of(found.begin(), found.end(), [&](const TopoDS_Shape& face) {
        if (had.Contains(face))
            return false;
        const PlacedSurface surface = placedSurface(face);
        return std::none_of(surfaces.begin(), surfaces.end(), [&](const PlacedSurface& of) {
            return of.first == surface.first && of.second.IsEqual(surface.second);
        });
    });
}

} // namespace qor::model
