#include "view/sketch/SketchBookkeeping.h"

#include <algorithm>

namespace qor::app {

using sketch::ConstraintType;
using sketch::EntityType;

void SketchHistory::push(const sketch::Sketch& sketch)
{
    undoStack.push_back(sketch.toJson());
    if (undoStack.size() > capacity)
        undoStack.erase(undoStack.begin());
    redoStack.clear();
}

void SketchHistory::dropLast()
{
    if (!undoStack.empty())
        undoStack.pop_back();
}

bool SketchHistory::undo(sketch::Sketch& sketch)
{
    if (undoStack.empty())
        return false;
    redoStack.push_back(sketch.toJson());
    sketch.fromJson(undoStack.back());
    undoStack.pop_back();
    return true;
}

bool SketchHistory::redo(sketch::Sketch& sketch)
{
    if (redoStack.empty())
        return false;
    // Going forward again restores what undo took; the cap applies to new changes only.
    undoStack.push_back(sketch.toJson());
    sketch.fromJson(redoStack.back());
    redoStack.pop_back();
    return true;
}

int pointForSnap(sketch::Sketch& sketch, const SnapRecord& snap)
{
    if (snap.pointId >= 0)
        return snap.pointId;
    return int(sketch.addPoint(true, snap.x, snap.y));
}

void constrainToSnap(sketch::Sketch& sketch, int pointId, const SnapRecord& snap)
{
    if (snap.pointId >= 0)
        return;
    switch (snap.kind) {
    case SnapKind::OnCurve:
        sketch.addConstraint(ConstraintType::PointOnCurve, pointId, snap.entityId, -1, 0.0);
        break;
    case SnapKind::Midpoint:
        sketch.addConstraint(ConstraintType::Midpoint, pointId, snap.entityId, -1, 0.0);
        break;
    case SnapKind::Origin: sketch.addConstraint(ConstraintType::Fixed, pointId, -1, -1, 0.0); break;
    default: break;
    }
}

int addSnappedLine(sketch::Sketch& sketch, int start, int end,
                   const std::optional<SnapRecord>& endSnap)
{
    const int line = int(sketch.addLine(start, end, false));
    if (endSnap && endSnap->kind == SnapKind::Horizontal)
        sketch.addConstraint(ConstraintType::Horizontal, line, -1, -1, 0.0);
    else if (endSnap && endSnap->kind == SnapKind::Vertical)
        sketch.addConstraint(ConstraintType::Vertical, line, -1, -1, 0.0);
    return line;
}

bool isPointEntity(const sketch::Sketch& sketch, int id)
{
    const sketch::Entity* e = sketch.findEntity(id);
    return e && e->type == EntityType::Point;
}

bool isCircleOrArc(const sketch::Sketch& sketch, int id)
{
    const sketch::Entity* e = sketch.findEntity(id);
    return e && (e->type == EntityType::Circle || e->type == EntityType::Arc);
}

std::vector<std::uint32_t> constraintPickOrder(const sketch::Sketch& sketch,
                                               const std::set<std::int32_t>& selectedEntities)
{
    std::vector<std::uint32_t> picks(selectedEntities.begin(), selectedEntities.end());
    std::stable_partition(picks.begin(), picks.end(),
                          [&sketch](std::uint32_t id) { return isPointEntity(sketch, int(id)); });
    return picks;
}

} // namespace qor::app
