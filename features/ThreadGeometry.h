#pragma once

#include <TopoDS_Shape.hxx>
#include <gp_Ax3.hxx>

class BRepAlgoAPI_BuilderAlgo;

namespace qor::model {

class FeatureError;

// Seconds one boolean of a modelled thread may run before the thread counts as
// not buildable. Long threads take about 0.1 s per turn.
inline constexpr double threadBudgetSeconds = 60.0;

// The solid groove of one helical thread. Its section is a triangle in the plane
// through the frame's axis and X direction: the base (width 2·|apex − base|·tan 30°,
// at most 0.98 pitch) on baseRadius, the apex on apexRadius. The section is screwed
// about the frame's axis from the frame's origin, one pitch per turn, up to height;
// left-handed turns the other way. The faces are split turn by turn, which keeps
// the booleans with them reliable. Throws FeatureError "Gewindegang konnte nicht
// erzeugt werden" when the sweep fails, overruns the budget or the result is not
// one valid solid of the expected volume.
TopoDS_Shape sweepThreadSection(const gp_Ax3& frame, bool leftHand, double baseRadius,
                                double apexRadius, double pitch, double height,
                                double budgetSeconds = threadBudgetSeconds);

// "Gewindegang konnte nicht erzeugt werden": every way a modelled thread can fail.
FeatureError grooveFailed();

// The exact volume of the part of that groove lying between the radii r0 and r1.
double grooveVolume(double baseRadius, double apexRadius, double pitch, double height, double r0,
                    double r1);

// Builds the boolean on all cores, giving up after the budget. True only when it
// finished in time without errors and without the self-intersection alerts that
// come with silently wrong results.
bool buildWithin(BRepAlgoAPI_BuilderAlgo& operation, double budgetSeconds);

} // namespace qor::model
