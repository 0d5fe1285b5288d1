#pragma once

#include "sketch/Sketch.h"
#include "view/sketch/Snapping.h"

#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace qor::app {

// Whole-sketch JSON snapshots of the sketch editor's own undo and redo, newest last.
struct SketchHistory {
    static constexpr std::size_t capacity = 300;

    std::vector<QJsonObject> undoStack;
    std::vector<QJsonObject> redoStack;

    // Taken before every change: keeps the newest `capacity` snapshots, ends the redo branch.
    void push(const sketch::Sketch& sketch);
    // Takes back the snapshot of a step that ended without a change or was rolled back.
    void dropLast();
    // False, with nothing changed, when there is no snapshot to go back or forward to.
    bool undo(sketch::Sketch& sketch);
    bool redo(sketch::Sketch& sketch);
};

// The step a tool has in progress; a tool switch or a cancel assigns a fresh one.
struct ToolStep {
    std::vector<sketch::Vec2> points; // clicked positions, in click order
    std::vector<SnapRecord> snaps; // the snap of each click
    std::int32_t chainPoint = -1; // end point of the last line of a chain
    std::int32_t chainLine = -1;
    std::vector<std::uint32_t> picks; // entities picked by the constraint and dimension tools
    SnapRecord snap; // under the mouse now
    bool dragging = false;
    bool boxSelecting = false;
};

// The point a click lands on: the existing point it snapped to, else a new owned point.
int pointForSnap(sketch::Sketch& sketch, const SnapRecord& snap);

// Ties a new point to what it snapped to: "Punkt auf Kurve", "Mittelpunkt" or, at the origin,
// "Fixiert". Nothing for an existing point. Added unchecked; a contradiction shows in the
// next solve.
void constrainToSnap(sketch::Sketch& sketch, int pointId, const SnapRecord& snap);

// A line from start to end that is "Horizontal" or "Vertikal" when its end click snapped to
// the matching alignment; returns its id.
int addSnappedLine(sketch::Sketch& sketch, int start, int end,
                   const std::optional<SnapRecord>& endSnap);

bool isPointEntity(const sketch::Sketch& sketch, int id);
bool isCircleOrArc(const sketch::Sketch& sketch, int id);

// The selection as picks of the constraint tool: every point before every curve, each group
// in ascending id order.
std::vector<std::uint32_t> constraintPickOrder(const sketch::Sketch& sketch,
                                               const std::set<std::int32_t>& selectedEntities);

} // namespace qor::app
