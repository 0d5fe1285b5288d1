#pragma once

#include "model/Document.h"

#include <BOPAlgo_Operation.hxx>
#include <Bnd_Box.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Shape.hxx>

#include <cstddef>
#include <map>
#include <optional>
#include <vector>

namespace qor::model {

class ExecContext;

// One join or cut that waits for its group to be evaluated.
struct WaitingBoolean {
    TopoDS_Shape tool; // repaired, as the feature recorded it
    Bnd_Box box; // the tool's box, as the target search measures it
    bool cut = false;
    int featureIndex = 0; // history position of the feature it belongs to
    bool searched = false; // its target was found by boxes, not chosen
    // A join whose body was found by the group's box while a cut waited before
    // it: it must touch the body, or run on its own.
    bool foundAfterCut = false;
};

// Joins and cuts of consecutive features on one body whose tools do not read
// the body. A boolean waits only when its tool's box touches no other tool's
// box of the group, so the booleans commute: one fuse of all joins, one merge,
// one cut of all cuts and one merge give what running them one by one gives,
// as long as the kernel keeps up; settling checks that it did. States of the features inside the
// group share it, each with the number of leading booleans it has.
struct BooleanGroup {
    int bodyId = 0;
    TopoDS_Shape base; // the body's shape before the group
    // Boxes of the base's faces that are no plane, cylinder or cone: a tool
    // that reaches one runs on its own (see settlesAlike).
    std::vector<Bnd_Box> unlikeFaces;
    bool baseMerged = false; // its same-domain faces and edges merged already
    std::vector<WaitingBoolean> ops; // never empty: a group starts with its first boolean
    // Evaluated body shapes by number of leading booleans. Only results whose
    // cuts were each seen to remove material are kept.
    std::map<std::size_t, TopoDS_Shape> results;
    // How many leading booleans may still be evaluated together: a failed
    // check marks where the group has to run feature by feature.
    std::size_t sound = std::size_t(-1);
};

// Thrown by applyBoolean inside a group when the feature's boolean cannot wait
// (another body, several targets, a box touching a waiting tool, an intersect):
// the recompute evaluates the group and runs the feature again.
struct GroupBreak { };

// The members of a compound tool, each a tool of its own: the kernel intersects
// separate tools with each other but never the solids inside one compound, so
// overlapping members of one compound would cut nothing where they overlap.
void addCutTools(const TopoDS_Shape& tool, TopTools_ListOfShape& tools);

// The kernel's boolean (fuse, cut or common) of the body with the tools, run
// again in other ways when its result is refused: it is not whole (see
// wholeResult), its volume moved as the boolean cannot move it (a union
// lost material or gained more than its tools' boxes hold, a cut or a common
// part gained some), or the evidence finds it wrong (see wrongResult: an
// empty result counts as whole and is right only when the tools enclose the
// body), whatever the tools' faces. A body that fails those checks
// where the boolean changed it, or above its faces, before the boolean is not
// held to them. Throws FeatureError with `failure` when the kernel fails, and
// with a note saying why when no way gives a result to accept: a broken body
// would make every later feature on it fail.
struct BooleanResult {
    TopoDS_Shape shape;
    double gain = 0.0; // the volume it holds more than the body
};
BooleanResult soundBoolean(BOPAlgo_Operation operation, const Body& body,
                           const TopTools_ListOfShape& tools, const QString& failure);
// The same for a shape that need not be a body of the state and one tool,
// whose members a cut takes as tools of their own (see addCutTools).
TopoDS_Shape soundBoolean(BOPAlgo_Operation operation, const TopoDS_Shape& argument,
                          const TopoDS_Shape& tool, const QString& failure);

// Whether the result a boolean or a merge made of valid inputs passes the
// kernel's checks, judged where it can differ from them: the faces it made
// pass the checks where they differ from the faces they replaced, and its
// shells and solids pass the checks above the faces (closed, consistently
// oriented, nested as a solid's shells must be), which look at topology
// only. Faces it kept are the inputs' own. Together this is the analyzer's
// verdict on the whole result, at a fraction of its cost: the faces of the
// whole body cost a fifth of an edit of a plate with many holes.
bool wholeResult(const TopoDS_Shape& result, const TopTools_ListOfShape& inputs);

// Whether the result of the boolean of the body with the tools is whole (as
// wholeResult) and the evidence finds it right (see wrongResult); `change`:
// the volume it holds more than the body.
bool wholeAndRight(BOPAlgo_Operation operation, const TopoDS_Shape& body,
                   const TopTools_ListOfShape& tools, const TopoDS_Shape& result, double change);

// Whether every face of the tool is a plane, a cylinder or a cone. Tools of
// other faces (tori of revolved rings, spheres, free forms) run one at a time:
// in a random history of rings a group holding them settled into another body
// than the booleans one by one (a feature's warning differed), while over
// many such histories groups of planes, cylinders and cones settled alike.
bool settlesAlike(const TopoDS_Shape& tool);
// The same holds for the body's faces the tool reaches: in random histories on
// a body of tori and free forms, joins the kernel refused one by one were
// accepted together in a group.
std::vector<Bnd_Box> unlikeFaceBoxes(const TopoDS_Shape& body);

// Whether the feature's executor only builds tools from sketches, planes and
// numbers and leaves bodies to applyBoolean, so that its joins and cuts may
// wait in a group.
bool mayRunGrouped(const Feature& feature);

// The box the target search uses for the group's body: its box before the
// group with the boxes of the waiting joins (cuts only ever shrink it).
Bnd_Box groupReach(const ModelState& state);

// Lets the tool's join or cut on the single target wait in the state's group;
// returns the target. `searched`: the target was found by boxes. Throws
// GroupBreak when it cannot wait.
int waitInGroup(ExecContext& context, const TopoDS_Shape& tool, bool cut,
                const std::vector<int>& targets, bool searched);

struct SettleOutcome {
    bool settled = true;
    // Not settled: the first boolean that must run on its own (a cut that
    // removed nothing, a join that touched nothing), or, when the kernel failed
    // and no boolean can be blamed, none (every one must).
    std::optional<std::size_t> blamed;
};

// Evaluates the state's waiting booleans and checks the result: every cut
// removed material (so that none of them would have warned or, for an
// extrusion, turned round), joins added and cuts removed no more than their
// tools' boxes hold and the faces merged where one boolean at a time merges
// them. When that does not hold or the kernel fails the state is unchanged and
// the group's `sound` is lowered.
SettleOutcome settleChecked(ModelState& state);

// Evaluates the state's waiting booleans with the same checks; when they fail,
// runs each waiting feature's boolean on its own as applyBoolean runs it for
// the feature alone. A feature whose boolean is then refused or warns gets
// that error or warning, and the group's `sound` is lowered to it so that the
// next recompute runs it on its own as well.
void settleState(Document& document, ModelState& state);

} // namespace qor::model
