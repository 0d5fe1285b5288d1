#pragma once

#include "view/Picking.h"

#include <QStringList>

#include <TopoDS_Shape.hxx>
#include <gp_Dir.hxx>

#include <vector>

namespace qor::app {

// The result lines of the measure panel (rich text, German number formats) for the picks:
// one pick gives its area, length, diameter or position; two give their minimum distance with
// the signed differences second minus first, and their angle when both have a direction. Only
// the first two picks count. Empty when nothing can be measured.
QStringList measurementLines(const std::vector<PickInfo>& picks);

// The direction that angles are measured between: the outward normal of a planar face, the
// parametric direction of a straight edge. False for anything else, direction unchanged.
bool measureDirection(const TopoDS_Shape& shape, gp_Dir& direction);

} // namespace qor::app
