#pragma once

#include "model/Assembly.h"

#include <TopoDS_Shape.hxx>
#include <gp_Dir.hxx>
#include <gp_Pnt.hxx>
#include <gp_Trsf.hxx>

#include <map>
#include <vector>

// Placing free assembly components so that their mates hold: every mate becomes
// residual rows, and a damped least-squares iteration moves the components.

namespace qor::model {

enum class RefKind { Plane = 0, Axis = 1, Point = 2 };

// A mate side reduced to geometry, in its component's own coordinates.
struct MateSide {
    Component* comp = nullptr; // not owned
    RefKind kind = RefKind::Point;
    gp_Pnt point{0.0, 0.0, 0.0};
    gp_Dir direction{0.0, 0.0, 1.0}; // plane normal out of the material, or axis
};

// One active mate with both sides resolved.
struct MateEquation {
    Mate* mate = nullptr; // not owned
    MateSide a;
    MateSide b;
    double value = 0.0;
};

// How the solver's variables move the components during one solve: six per free
// component (rotation vector about the pivot, then translation) from its offset.
struct MateSolverContext {
    std::map<int, int> offsets; // by component id; a component without one is fixed
    std::map<int, gp_Pnt> pivots; // assembly coordinates
    std::map<int, gp_Trsf> bases; // placement at the start of the solve
};

// What one solve did, for callers that watch the solver.
struct MateSolveStats {
    int steps = 0; // accepted iterations
    double residual = 0.0; // length of all rows at the end
};

// Plane, axis or point of a face, edge or vertex; false, with the side unchanged,
// for any other geometry.
bool classifyReference(const TopoDS_Shape& shape, MateSide& side);

// Appends the mate's residual rows at x; their number depends only on the mate's
// type and the kinds of its sides. An unsupported combination adds none and sets
// the mate's status.
void mateResiduals(const MateSolverContext& context, const MateEquation& equation,
                   const std::vector<double>& x, std::vector<double>& rows);

} // namespace qor::model
