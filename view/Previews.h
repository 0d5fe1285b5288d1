#pragma once

#include <Bnd_Box.hxx>
#include <gp_Vec.hxx>

#include <QColor>
#include <QString>

#include <map>

namespace qor::app {

// Bodies of assembly components have ids from this value up; 1000 ids per component.
constexpr int firstComponentBodyId = 100000000;

// The component a body belongs to; -1 for a body of the part itself.
int componentOfBody(int bodyId);

// How far each component moves in the exploded view: factor x (its box centre - the centre of
// all boxes). Components with a void box, and every component at factor 0 or below, stay put.
std::map<int, gp_Vec> explodeOffsets(const std::map<int, Bnd_Box>& componentBoxes, double factor);

// Preview colour of a feature's boolean operation: "cut" danger, "intersect" warning, else
// accent.
QColor previewColour(const QString& operation);

} // namespace qor::app
