#pragma once

#include <QString>

#include <TopoDS_Shape.hxx>

#include <vector>

namespace qor::model {

class ExecContext;
struct ModelState;

// Helpers of the executors that rework existing bodies.

// The bodies of the body list under key that still exist, each once, in list
// order: a body picked twice must not be moved, scaled or split twice.
std::vector<int> selectedBodiesOnce(const ExecContext& context, const QString& key);

// Signed volume of the shape: negative for an inside-out solid.
double signedVolume(const TopoDS_Shape& shape);

// The volume of all bodies of the state together.
double totalVolume(const ModelState& state);

// The solids of the shape in explorer order.
std::vector<TopoDS_Shape> solidsOf(const TopoDS_Shape& shape);

// The shape with every inside-out solid (negative signed volume) turned
// outward; the shape itself when no solid needs it. Bodies must never carry
// an inside-out solid: booleans and mass properties would read it as a hole.
TopoDS_Shape outwardOriented(const TopoDS_Shape& shape);

} // namespace qor::model
