#pragma once

#include <AIS_InteractiveObject.hxx>
#include <SelectMgr_EntityOwner.hxx>
#include <TopoDS_Shape.hxx>

#include <map>
#include <vector>

namespace qor::app {

// What was picked in the 3D view. Kinds: 0 nothing, 1 face, 2 edge, 3 vertex, 4 body,
// 5 origin plane, 6 origin axis, 7 construction plane, 8 construction axis, 9 sketch region,
// 10 sketch curve, 11 standalone sketch point.
struct PickInfo {
    int kind = 0;
    int id = 0; // body, datum, feature or sketch id by kind
    int sub = 0; // entity id inside a sketch (kinds 10, 11)
    TopoDS_Shape shape; // sub-shape of a body in world coordinates (kinds 1 to 4)
    double u = 0.0; // interior point of a picked region, sketch coordinates
    double v = 0.0;
};

// What one shown object stands for: a pick record without the shape.
struct PickRecord {
    int kind = 0;
    int id = 0;
    int sub = 0;
    double u = 0.0;
    double v = 0.0;
};

// Keyed by the object's address; the scene holds the handles.
using PickMap = std::map<const AIS_InteractiveObject*, PickRecord>;

// Selection mask bits.
namespace mask {
constexpr int faces = 1;
constexpr int edges = 2;
constexpr int vertices = 4;
constexpr int bodies = 8;
constexpr int planes = 16;
constexpr int axes = 32; // also sketch curves, so that a sketch line can serve as an axis
constexpr int regions = 64;
constexpr int curves = 128;
constexpr int points = 256;
constexpr int standard = faces | edges | planes | axes;
// Bits that change what the scene shows, not only what can be picked.
constexpr int shownBits = planes | regions | curves | points;
} // namespace mask

// The AIS selection modes of body objects that the mask asks for, in activation order.
std::vector<int> bodySelectionModes(int selectionMask);
// Whether objects of a non-body kind (5 to 11) can be picked under the mask.
bool kindPickable(int kind, int selectionMask);
bool maskChangeNeedsRebuild(int oldMask, int newMask);

// The record of the object an owner belongs to; null for an object not in the map.
const PickRecord* pickRecordOf(const Handle(SelectMgr_EntityOwner)& owner, const PickMap& pickMap);

// The record of a selection owner: kind 0 unless the owner's object is in the map; a body
// owner with a sub-shape gives a face, edge or vertex record carrying that sub-shape in world
// coordinates (the object's display location, such as an explode offset, applied).
PickInfo pickFromOwner(const Handle(SelectMgr_EntityOwner)& owner, const PickMap& pickMap);

// What a body's selection modes under the mask let a pick find in the shape: its faces,
// edges and vertices as the mask asks for them, or the shape itself under the body bit.
std::vector<TopoDS_Shape> selectableElements(const TopoDS_Shape& shape, int selectionMask);
// Where a shown body object puts its shape: its display location (an explode offset, say).
TopLoc_Location placedAt(const AIS_InteractiveObject& object);
// The record of a body's element (or the whole shape) picked in its object placed there.
PickInfo bodyElementPick(int bodyId, const TopoDS_Shape& element, const TopLoc_Location& at);

} // namespace qor::app
