#pragma once

#include "model/ChangedFaces.h"

#include <BOPAlgo_Operation.hxx>
#include <QString>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Shape.hxx>

#include <optional>

namespace qor::model {

// How a boolean's result that passes the kernel's checks can still be the
// wrong body.
enum class WrongResult {
    InsideOut, // a solid the boolean made is turned inside out
    LooseVoid, // a void of such a solid reaches out of its outer shell
    Overlapping, // two solids of the result share material
    BeyondTools, // the volume moved by more than the tools hold
    Emptied, // nothing is left, yet the tools do not enclose the body
    LostMaterial, // material of the body outside the tools is gone
    KeptToolMaterial, // a cut left material inside its tools
    MissedTools, // a join left out material of its tools
    NotCommon, // a common part holds material outside body or tools, or lacks some inside both
    Loose, // a face the boolean made has an edge or corner far less exact than its inputs
    OpenShell, // a shell of a solid the boolean made does not close
    EmptyShell, // such a shell encloses no volume, or one of the wrong sign
    InnerFaces, // the result holds faces turned INTERNAL that no input had
};

// What cheap evidence, taken from the inputs themselves, says about the
// result of the boolean of `body` with `tools`: none when it agrees.
// `changed`: the result's faces against the inputs'; `change`: the volume the
// result holds more than the body (for an empty result, minus the body's).
//
// The evidence: every shell of a solid the boolean made closes and encloses
// a volume of the right sign, material for its outer shell and a void for
// every other, and the result holds no face turned INTERNAL that no input
// had (see EnclosingShells): a cut on the plane of a face that a conical
// hollow touched with its tip once left the hollow's walls as such faces, the
// hollow filled, and the kernel's checker passed it. The faces the boolean made, their edges and
// corners, are exact to 0.05 mm (or ten times their inputs' tolerance): a corner the kernel let
// grow to 15 mm made the classifier call every point near it on the boundary, and hid a join that
// left a fifth of its tool out. Every solid the boolean made is turned outward (a point at infinity
// lies outside it) and holds its voids inside its outer shell; the solids of the result do not
// share material; the volume moved by no more than the tools hold; and points sampled just inside
// the faces of the tools and of the body's faces that the boolean replaced lie where the operation
// puts them (a union holds all of them, a cut none of the tools' and every one of the body's
// outside the tools, a common part those inside both). The faces of the result near the tools lie
// where the right result has its boundary: not inside a tool for a cut or a union, not outside the
// body or a tool for a common part, nor with material of the body inside any tool in front of them
// (asked of inputs whose faces are all elementary surfaces). The tools stand for their union,
// however they overlap each other. Points are
// classified by the kernel's solid classifier on body, tools and result; a
// point only testifies when it and its six neighbours a little apart all
// classify alike, away from faces.
std::optional<WrongResult> wrongResult(BOPAlgo_Operation operation, const TopoDS_Shape& body,
                                       const TopTools_ListOfShape& tools,
                                       const TopoDS_Shape& result, const ChangedFaces& changed,
                                       double change);

// How points are classified: by the kernel's solid classifier alone, or by
// a ray where that tells as the kernel would (see RayClassifier), as
// wrongResult does. Both give the same verdict, which tests hold them to.
enum class Probing { Kernel, Rays };
std::optional<WrongResult> wrongResult(BOPAlgo_Operation operation, const TopoDS_Shape& body,
                                       const TopTools_ListOfShape& tools,
                                       const TopoDS_Shape& result, const ChangedFaces& changed,
                                       double change, Probing probing);

// The reason given to the user, to follow "Ausschneiden fehlgeschlagen: " and
// the like.
QString wrongResultText(WrongResult wrong);

} // namespace qor::model
