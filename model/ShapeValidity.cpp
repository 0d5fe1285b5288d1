#include "model/ShapeValidity.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepCheck_ListOfStatus.hxx>
#include <BRepCheck_Shell.hxx>
#include <BRepCheck_Solid.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box2d.hxx>
#include <BndLib_Add2dCurve.hxx>
#include <Geom2dAdaptor_Curve.hxx>
#include <Geom2d_Curve.hxx>
#include <NCollection_DataMap.hxx>
#include <NCollection_IndexedMap.hxx>
#include <Precision.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopTools_OrientedShapeMapHasher.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Iterator.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <TopoDS_Wire.hxx>

#include <algorithm>
#include <numeric>
#include <optional>
#include <vector>

namespace qor::model {

bool overlap(const ParamBox& a, const ParamBox& b)
{
    return a.xmin <= b.xmax && b.xmin <= a.xmax && a.ymin <= b.ymax && b.ymin <= a.ymax;
}

ParamBox widened(const ParamBox& box, double margin)
{
    return {box.xmin - margin, box.ymin - margin, box.xmax + margin, box.ymax + margin};
}

std::optional<ParamBox> wireBox(const TopoDS_Shape& wire, const TopoDS_Face& face)
{
    Bnd_Box2d box;
    for (TopExp_Explorer e(wire, TopAbs_EDGE); e.More(); e.Next()) {
        double first = 0.0, last = 0.0;
        const Handle(Geom2d_Curve) curve
            = BRep_Tool::CurveOnSurface(TopoDS::Edge(e.Current()), face, first, last);
        if (curve.IsNull() || Precision::IsInfinite(first) || Precision::IsInfinite(last))
            return std::nullopt;
        const Geom2dAdaptor_Curve adaptor(curve);
        BndLib_Add2dCurve::Add(adaptor, std::max(first, adaptor.FirstParameter()),
                               std::min(last, adaptor.LastParameter()), 0.0, box);
    }
    if (box.IsVoid())
        return std::nullopt;
    ParamBox b;
    box.Get(b.xmin, b.ymin, b.xmax, b.ymax);
    return b;
}

// A plane's parameters are lengths, so the face's tolerances apply as they are.
double boxMargin(const TopoDS_Face& face, const ParamBox& outer)
{
    double tolerance = BRep_Tool::Tolerance(face);
    for (TopExp_Explorer v(face, TopAbs_VERTEX); v.More(); v.Next())
        tolerance = std::max(tolerance, BRep_Tool::Tolerance(TopoDS::Vertex(v.Current())));
    for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next())
        tolerance = std::max(tolerance, BRep_Tool::Tolerance(TopoDS::Edge(e.Current())));
    const double extent = std::max(outer.xmax - outer.xmin, outer.ymax - outer.ymin);
    return 10.0 * tolerance + 1e-9 * extent + Precision::Confusion();
}

std::size_t largestBox(const std::vector<ParamBox>& boxes)
{
    const auto area = [](const ParamBox& b) { return (b.xmax - b.xmin) * (b.ymax - b.ymin); };
    const auto largest = std::max_element(
        boxes.begin(), boxes.end(),
        [&](const ParamBox& a, const ParamBox& b) { return area(a) < area(b); });
    return std::size_t(largest - boxes.begin());
}

bool strictlyInside(const ParamBox& inner, const ParamBox& outer)
{
    return inner.xmin > outer.xmin && inner.ymin > outer.ymin && inner.xmax < outer.xmax
           && inner.ymax < outer.ymax;
}

namespace {

class Groups {
public:
    explicit Groups(std::size_t count) : parent_(count)
    {
        std::iota(parent_.begin(), parent_.end(), std::size_t(0));
    }
    std::size_t root(std::size_t i)
    {
        while (parent_[i] != i)
            i = parent_[i] = parent_[parent_[i]];
        return i;
    }
    void join(std::size_t a, std::size_t b) { parent_[root(a)] = root(b); }

private:
    std::vector<std::size_t> parent_;
};

// Joins the wires whose boxes meet, found by a sweep along u: only the boxes
// still open at a box's start can meet it.
void joinMeeting(const std::vector<ParamBox>& boxes, const std::vector<std::size_t>& wires,
                 Groups& groups)
{
    std::vector<std::size_t> order = wires;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return boxes[a].xmin < boxes[b].xmin; });
    std::vector<std::size_t> open;
    for (const std::size_t i : order) {
        open.erase(std::remove_if(open.begin(), open.end(),
                                  [&](std::size_t j) { return boxes[j].xmax < boxes[i].xmin; }),
                   open.end());
        for (const std::size_t j : open) {
            if (overlap(boxes[i], boxes[j]))
                groups.join(i, j);
        }
        open.push_back(i);
    }
}

// The part of each wire but the enclosing one: groups of meeting wires, in
// the order of their first wire, gathered until a part holds `wiresPerPart`,
// so that the enclosing wire is not checked once for every hole.
std::vector<std::size_t> partOfWires(const std::vector<ParamBox>& boxes, std::size_t enclosing,
                                     std::size_t wiresPerPart, std::size_t* partCount)
{
    std::vector<std::size_t> others;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (i != enclosing)
            others.push_back(i);
    }
    Groups groups(boxes.size());
    joinMeeting(boxes, others, groups);
    std::vector<std::size_t> groupSize(boxes.size(), 0);
    for (const std::size_t i : others)
        ++groupSize[groups.root(i)];
    const std::size_t none = boxes.size();
    std::vector<std::size_t> partOfGroup(boxes.size(), none);
    std::vector<std::size_t> part(boxes.size(), none);
    std::size_t parts = 0;
    std::size_t filling = 0;
    for (const std::size_t i : others) {
        const std::size_t g = groups.root(i);
        if (partOfGroup[g] == none) {
            if (parts == 0 || filling >= wiresPerPart) {
                ++parts;
                filling = 0;
            }
            partOfGroup[g] = parts - 1;
            filling += groupSize[g];
        }
        part[i] = partOfGroup[g];
    }
    *partCount = parts;
    return part;
}

// How a face is split: its wires as stored, the enclosing one, and the part
// of each other wire.
struct Split {
    TopoDS_Face face;
    std::vector<TopoDS_Shape> stored;
    std::size_t enclosing = 0;
    std::vector<std::size_t> part;
    std::size_t parts = 0;
};

// Whether the wire shares an edge with another wire: then the kernel's shell
// check sees that edge twice in the face.
bool sharesEdges(const std::vector<TopoDS_Shape>& wires, std::size_t wire)
{
    TopTools_MapOfShape edges;
    for (TopExp_Explorer e(wires[wire], TopAbs_EDGE); e.More(); e.Next())
        edges.Add(e.Current());
    for (std::size_t i = 0; i < wires.size(); ++i) {
        for (TopExp_Explorer e(wires[i], TopAbs_EDGE); i != wire && e.More(); e.Next()) {
            if (edges.Contains(e.Current()))
                return true;
        }
    }
    return false;
}

// None when the face is not to be split.
std::optional<Split> splitOf(const TopoDS_Face& face, int splitFrom)
{
    Split split;
    split.face = face;
    // Stored wires to build the parts from, and the same wires placed with the
    // face to measure them on it.
    for (TopoDS_Iterator it(face, Standard_False, Standard_False); it.More(); it.Next())
        split.stored.push_back(it.Value());
    if (int(split.stored.size()) < splitFrom || face.Infinite()
        || BRepAdaptor_Surface(face, Standard_False).GetType() != GeomAbs_Plane)
        return std::nullopt;
    std::vector<ParamBox> boxes;
    for (TopoDS_Iterator it(face); it.More(); it.Next()) {
        if (it.Value().ShapeType() != TopAbs_WIRE)
            return std::nullopt;
        const std::optional<ParamBox> box = wireBox(it.Value(), face);
        if (!box)
            return std::nullopt;
        boxes.push_back(*box);
    }
    split.enclosing = largestBox(boxes);
    const double margin = boxMargin(face, boxes[split.enclosing]);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (i == split.enclosing)
            continue;
        boxes[i] = widened(boxes[i], margin);
        if (!strictlyInside(boxes[i], boxes[split.enclosing]))
            return std::nullopt;
    }
    if (sharesEdges(split.stored, split.enclosing))
        return std::nullopt;
    split.part = partOfWires(boxes, split.enclosing, std::size_t(std::max(1, splitFrom / 2)),
                             &split.parts);
    if (split.parts < 2)
        return std::nullopt;
    return split;
}

std::vector<TopoDS_Face> emptyParts(const Split& split)
{
    std::vector<TopoDS_Face> parts(split.parts);
    for (TopoDS_Face& p : parts)
        p = emptyOnSurface(split.face);
    return parts;
}

std::vector<TopoDS_Face> placed(std::vector<TopoDS_Face> parts, const TopoDS_Face& face)
{
    for (TopoDS_Face& p : parts)
        p = placedAs(p, face);
    return parts;
}

// For the face checks: each part keeps the face's order of wires, the
// enclosing one in its place in every part.
std::vector<TopoDS_Face> checkParts(const Split& split)
{
    std::vector<TopoDS_Face> parts = emptyParts(split);
    BRep_Builder builder;
    for (std::size_t i = 0; i < split.stored.size(); ++i) {
        if (i != split.enclosing) {
            builder.Add(parts[split.part[i]], split.stored[i]);
            continue;
        }
        for (TopoDS_Face& p : parts)
            builder.Add(p, split.stored[i]);
    }
    return placed(std::move(parts), split.face);
}

// For the shell checks, which look only at which faces hold an edge and which
// way: every wire in one part, the enclosing one in the first, and each
// further part joined to the first by an edge of their own, held forward by
// the one and reversed by the other, as the face joined them. The kernel's
// orientation check searches a face's edges for each of its edges; on parts
// that search stays short.
std::vector<TopoDS_Face> shellParts(const Split& split)
{
    std::vector<TopoDS_Face> parts = emptyParts(split);
    BRep_Builder builder;
    for (std::size_t i = 0; i < split.stored.size(); ++i)
        builder.Add(parts[i == split.enclosing ? 0 : split.part[i]], split.stored[i]);
    TopoDS_Wire reversedLinks;
    builder.MakeWire(reversedLinks);
    for (std::size_t k = 1; k < parts.size(); ++k) {
        TopoDS_Edge link;
        builder.MakeEdge(link);
        TopoDS_Wire forward;
        builder.MakeWire(forward);
        builder.Add(forward, link);
        builder.Add(parts[k], forward);
        builder.Add(reversedLinks, link.Reversed());
    }
    builder.Add(parts[0], reversedLinks);
    return placed(std::move(parts), split.face);
}

using ShellParts
    = NCollection_DataMap<TopoDS_Shape, std::vector<TopoDS_Face>, TopTools_OrientedShapeMapHasher>;

// The shell with its split faces replaced by their shell parts; the shell
// itself where a split face comes twice or an edge joins more than two faces,
// where the kernel's checks look at more than an edge's two faces.
TopoDS_Shape shellStandIn(const TopoDS_Shape& shell, const ShellParts& split)
{
    TopTools_MapOfShape seen;
    bool any = false;
    for (TopExp_Explorer f(shell, TopAbs_FACE); f.More(); f.Next()) {
        if (split.IsBound(f.Current())) {
            any = true;
            if (!seen.Add(f.Current()))
                return shell;
        }
    }
    if (!any)
        return shell;
    TopTools_IndexedDataMapOfShapeListOfShape facesOfEdge;
    TopExp::MapShapesAndAncestors(shell, TopAbs_EDGE, TopAbs_FACE, facesOfEdge);
    for (int i = 1; i <= facesOfEdge.Extent(); ++i) {
        if (facesOfEdge(i).Extent() > 2)
            return shell;
    }
    BRep_Builder builder;
    TopoDS_Shell standIn;
    builder.MakeShell(standIn);
    for (TopExp_Explorer f(shell, TopAbs_FACE); f.More(); f.Next()) {
        if (const std::vector<TopoDS_Face>* parts = split.Seek(f.Current())) {
            for (const TopoDS_Face& part : *parts)
                builder.Add(standIn, part);
        } else {
            builder.Add(standIn, f.Current());
        }
    }
    return standIn;
}

bool firstIsNoError(const BRepCheck_ListOfStatus& statuses)
{
    return statuses.IsEmpty() || statuses.First() == BRepCheck_NoError;
}

bool allNoError(const BRepCheck_ListOfStatus& statuses)
{
    return std::all_of(statuses.cbegin(), statuses.cend(),
                       [](BRepCheck_Status s) { return s == BRepCheck_NoError; });
}

// A shell of a solid as the analyzer judges it: its own checks and those in the solid.
bool shellValidIn(const TopoDS_Shape& shell, const TopoDS_Shape& solid)
{
    BRepCheck_Shell check(TopoDS::Shell(shell));
    try {
        OCC_CATCH_SIGNALS
        check.InContext(solid);
    } catch (const Standard_Failure&) {
        return false;
    }
    return firstIsNoError(check.Status())
           && (!check.IsStatusOnShape(solid) || allNoError(check.StatusOnShape(solid)));
}

// The solid's shells judged in a solid of their stand-ins, closed as the solid is.
bool shellsValidIn(const TopoDS_Shape& solid, const ShellParts& split)
{
    BRep_Builder builder;
    TopoDS_Solid standIn;
    builder.MakeSolid(standIn);
    std::vector<TopoDS_Shape> shells;
    for (TopoDS_Iterator child(solid); child.More(); child.Next()) {
        if (child.Value().ShapeType() == TopAbs_SHELL) {
            shells.push_back(shellStandIn(child.Value(), split));
            builder.Add(standIn, shells.back());
        }
    }
    standIn.Closed(solid.Closed());
    return std::all_of(shells.begin(), shells.end(),
                       [&](const TopoDS_Shape& shell) { return shellValidIn(shell, standIn); });
}

// The analyzer's verdict on the shells and solids of the shape, leaving out
// their faces and everything below them.
bool shellsAndSolidsPass(const TopoDS_Shape& shape, const ShellParts& split)
{
    switch (shape.ShapeType()) {
    case TopAbs_SHELL:
        return firstIsNoError(BRepCheck_Shell(TopoDS::Shell(shape)).Status());
    case TopAbs_SOLID:
        return firstIsNoError(BRepCheck_Solid(TopoDS::Solid(shape)).Status())
               && shellsValidIn(shape, split);
    case TopAbs_COMPOUND:
    case TopAbs_COMPSOLID:
        for (TopoDS_Iterator child(shape); child.More(); child.Next()) {
            if (!shellsAndSolidsPass(child.Value(), split))
                return false;
        }
        return true;
    default:
        return true;
    }
}

// Wires, edges and vertices outside every face, which the analyzer checks on their own.
void addLoose(const TopoDS_Shape& shape, BRep_Builder& builder, TopoDS_Compound& checked)
{
    for (TopExp_Explorer w(shape, TopAbs_WIRE, TopAbs_FACE); w.More(); w.Next())
        builder.Add(checked, w.Current());
    for (TopExp_Explorer e(shape, TopAbs_EDGE, TopAbs_WIRE); e.More(); e.Next())
        builder.Add(checked, e.Current());
    for (TopExp_Explorer v(shape, TopAbs_VERTEX, TopAbs_EDGE); v.More(); v.Next())
        builder.Add(checked, v.Current());
}

} // namespace

TopoDS_Face emptyOnSurface(const TopoDS_Face& face)
{
    TopoDS_Face empty = TopoDS::Face(face.EmptyCopied());
    empty.Location(TopLoc_Location());
    empty.Orientation(TopAbs_FORWARD);
    return empty;
}

TopoDS_Face placedAs(TopoDS_Face part, const TopoDS_Face& face)
{
    part.Location(face.Location(), Standard_False);
    part.Orientation(face.Orientation());
    return part;
}

std::vector<TopoDS_Face> checkedParts(const TopoDS_Face& face, int splitFrom)
{
    const std::optional<Split> split = splitOf(face, splitFrom);
    return split ? checkParts(*split) : std::vector<TopoDS_Face>{face};
}

bool validShape(const TopoDS_Shape& shape, int splitFrom)
{
    if (shape.IsNull())
        return BRepCheck_Analyzer(shape, Standard_True).IsValid();
    // The analyzer tells faces apart by orientation too.
    NCollection_IndexedMap<TopoDS_Shape, TopTools_OrientedShapeMapHasher> faces;
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next())
        faces.Add(f.Current());
    BRep_Builder builder;
    TopoDS_Compound checked;
    builder.MakeCompound(checked);
    ShellParts split;
    for (int i = 1; i <= faces.Extent(); ++i) {
        const TopoDS_Face& face = TopoDS::Face(faces(i));
        const std::optional<Split> parts = splitOf(face, splitFrom);
        if (!parts) {
            builder.Add(checked, face);
            continue;
        }
        for (const TopoDS_Face& part : checkParts(*parts))
            builder.Add(checked, part);
        split.Bind(face, shellParts(*parts));
    }
    if (split.IsEmpty())
        return BRepCheck_Analyzer(shape, Standard_True).IsValid();
    addLoose(shape, builder, checked);
    return BRepCheck_Analyzer(checked, Standard_True).IsValid()
           && shellsAndSolidsPass(shape, split);
}

bool shellsAndSolidsValid(const TopoDS_Shape& shape, int splitFrom)
{
    if (shape.IsNull())
        return true;
    ShellParts split;
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next()) {
        if (split.IsBound(f.Current()))
            continue;
        if (const std::optional<Split> parts = splitOf(TopoDS::Face(f.Current()), splitFrom))
            split.Bind(f.Current(), shellParts(*parts));
    }
    return shellsAndSolidsPass(shape, split);
}

} // namespace qor::model
