#include "model/MergedFaceCheck.h"

#include "model/ShapeValidity.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <NCollection_DataMap.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopTools_MapOfOrientedShape.hxx>
#include <TopTools_OrientedShapeMapHasher.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>

#include <algorithm>
#include <vector>

namespace qor::model {
namespace {

// The wires of the replaced faces on one surface: for each oriented edge the
// wire holding it, and each wire's count of edges.
struct WireTable {
    NCollection_DataMap<TopoDS_Shape, int, TopTools_OrientedShapeMapHasher> wireOfEdge;
    std::vector<int> edgeCount;
};

// Same surface, placed alike, so that an edge has the same curve on both.
// The kernel checks a face's wires on the face taken forward, so the faces'
// own orientations do not matter.
bool onSameSurface(const TopoDS_Face& a, const TopoDS_Face& b)
{
    TopLoc_Location atA, atB;
    const Handle(Geom_Surface)& surfaceA = BRep_Tool::Surface(a, atA);
    const Handle(Geom_Surface)& surfaceB = BRep_Tool::Surface(b, atB);
    return surfaceA == surfaceB && atA.IsEqual(atB) && a.Location().IsEqual(b.Location());
}

TopoDS_Face forward(const TopoDS_Shape& face)
{
    return TopoDS::Face(face.Oriented(TopAbs_FORWARD));
}

WireTable wiresOnSurface(const TopoDS_Face& made, const TopTools_ListOfShape& replaced)
{
    WireTable table;
    for (const TopoDS_Shape& face : replaced) {
        if (!onSameSurface(made, TopoDS::Face(face)))
            continue;
        for (TopoDS_Iterator wire(forward(face)); wire.More(); wire.Next()) {
            const int index = int(table.edgeCount.size());
            int count = 0;
            for (TopExp_Explorer e(wire.Value(), TopAbs_EDGE); e.More(); e.Next(), ++count)
                table.wireOfEdge.Bind(e.Current(), index);
            table.edgeCount.push_back(count);
        }
    }
    return table;
}

// Whether a replaced wire holds exactly the wire's oriented edges, in any
// order: all its edges lie in that one wire, none twice, and as many as it has.
bool carried(const TopoDS_Shape& wire, const WireTable& table)
{
    TopTools_MapOfOrientedShape seen;
    int from = -1;
    int count = 0;
    for (TopExp_Explorer e(wire, TopAbs_EDGE); e.More(); e.Next(), ++count) {
        const int* in = table.wireOfEdge.Seek(e.Current());
        if (in == nullptr || (from >= 0 && *in != from) || !seen.Add(e.Current()))
            return false;
        from = *in;
    }
    return from >= 0 && count == table.edgeCount[std::size_t(from)];
}

// The made face's wires as stored, to build the checked face from, and as
// placed on it taken forward, to measure them, with their boxes on it and
// whether each changed.
struct MadeWires {
    TopoDS_Face face;
    std::vector<TopoDS_Shape> stored;
    std::vector<TopoDS_Shape> placed;
    std::vector<ParamBox> boxes;
    std::vector<bool> changed;
};

// None when a wire cannot be measured.
std::optional<MadeWires> madeWires(const TopoDS_Face& made, const WireTable& table)
{
    MadeWires wires;
    wires.face = forward(made);
    TopoDS_Iterator stored(made, Standard_False, Standard_False);
    for (TopoDS_Iterator wire(wires.face); wire.More(); wire.Next(), stored.Next()) {
        if (wire.Value().ShapeType() != TopAbs_WIRE)
            return std::nullopt;
        const std::optional<ParamBox> box = wireBox(wire.Value(), wires.face);
        if (!box)
            return std::nullopt;
        wires.stored.push_back(stored.Value());
        wires.placed.push_back(wire.Value());
        wires.boxes.push_back(*box);
        wires.changed.push_back(!carried(wire.Value(), table));
    }
    return wires;
}

// The boxes a carried wire must meet to be kept, widened as the face's checks
// in parts widen them: the box of each changed wire but the enclosing one,
// and of the enclosing one, if it changed, the box of each edge. A carried
// wire within the enclosing wire's box but apart from its edges lies inside
// it, as it did in the replaced face, whose region the merge only grows.
// None when an edge cannot be measured.
std::optional<std::vector<ParamBox>> changedBoxes(const MadeWires& wires, std::size_t enclosing,
                                                  double margin)
{
    std::vector<ParamBox> boxes;
    for (std::size_t i = 0; i < wires.boxes.size(); ++i) {
        if (!wires.changed[i])
            continue;
        if (i != enclosing) {
            boxes.push_back(widened(wires.boxes[i], margin));
            continue;
        }
        for (TopExp_Explorer e(wires.placed[i], TopAbs_EDGE); e.More(); e.Next()) {
            const std::optional<ParamBox> box = wireBox(e.Current(), wires.face);
            if (!box)
                return std::nullopt;
            boxes.push_back(widened(*box, margin));
        }
    }
    return boxes;
}

// Which wires the checked face holds: the enclosing one, the changed ones and
// the carried ones whose boxes meet a changed one's. None when no wire
// encloses the boxes of all others with room.
std::optional<std::vector<bool>> keptWires(const MadeWires& wires)
{
    const std::size_t enclosing = largestBox(wires.boxes);
    const double margin = boxMargin(wires.face, wires.boxes[enclosing]);
    for (std::size_t i = 0; i < wires.boxes.size(); ++i) {
        if (i != enclosing
            && !strictlyInside(widened(wires.boxes[i], margin), wires.boxes[enclosing]))
            return std::nullopt;
    }
    const std::optional<std::vector<ParamBox>> changed = changedBoxes(wires, enclosing, margin);
    if (!changed)
        return std::nullopt;
    std::vector<bool> kept = wires.changed;
    kept[enclosing] = true;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const ParamBox box = widened(wires.boxes[i], margin);
        kept[i] = kept[i] || std::any_of(changed->begin(), changed->end(), [&](const ParamBox& c) {
                      return overlap(box, c);
                  });
    }
    return kept;
}

} // namespace

std::optional<TopoDS_Face> mergedFaceToCheck(const TopoDS_Face& made,
                                             const TopTools_ListOfShape& replaced)
{
    if (made.Infinite() || BRepAdaptor_Surface(made, Standard_False).GetType() != GeomAbs_Plane)
        return made;
    const std::optional<MadeWires> wires = madeWires(made, wiresOnSurface(made, replaced));
    if (!wires || wires->stored.empty())
        return made;
    if (std::none_of(wires->changed.begin(), wires->changed.end(), [](bool c) { return c; }))
        return std::nullopt;
    const std::optional<std::vector<bool>> kept = keptWires(*wires);
    if (!kept || std::all_of(kept->begin(), kept->end(), [](bool k) { return k; }))
        return made;
    TopoDS_Face checked = emptyOnSurface(made);
    BRep_Builder builder;
    for (std::size_t i = 0; i < kept->size(); ++i) {
        if ((*kept)[i])
            builder.Add(checked, wires->stored[i]);
    }
    return placedAs(checked, made);
}

bool mergedFacesSound(const ChangedFaces& changed)
{
    TopTools_ListOfShape checked;
    for (const TopoDS_Shape& made : changed.made) {
        if (const std::optional<TopoDS_Face> face
            = mergedFaceToCheck(TopoDS::Face(made), changed.replaced))
            checked.Append(*face);
    }
    return facesSound(checked);
}

TopTools_ListOfShape unsoundMergedFaces(const ChangedFaces& changed)
{
    TopTools_ListOfShape unsound;
    for (const TopoDS_Shape& made : changed.made) {
        const std::optional<TopoDS_Face> face
            = mergedFaceToCheck(TopoDS::Face(made), changed.replaced);
        if (!face)
            continue;
        TopTools_ListOfShape checked;
        checked.Append(*face);
        if (!facesSound(checked))
            unsound.Append(made);
    }
    return unsound;
}

} // namespace qor::model
