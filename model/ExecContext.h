#pragma once

#include "model/Document.h"
#include "model/EnclosedVolume.h"

#include <GeomAbs_SurfaceType.hxx>
#include <QJsonArray>
#include <QString>

#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Pnt.hxx>

class BRepAlgoAPI_BooleanOperation;

#include <optional>
#include <vector>

namespace qor::model {

// What a feature executor works on: the document, the feature being executed
// and the running modelling state. Owns none of them; the recompute builds one
// per executed feature as ExecContext{document, feature, state}.
class ExecContext {
public:
    Document& document;
    Feature& feature;
    ModelState& state;
    // The feature's history position when the recompute lets its joins and
    // cuts wait in a group of commuting booleans (its tools do not read the
    // body); -1 runs every boolean at once.
    int groupIndex = -1;
    // Set when a number read lies beyond what the kernel can hold: at or above
    // its infinity, or not zero but within its tolerance of zero. A kernel
    // failure of the feature is then told as such.
    mutable bool beyondKernelRange = false;
    // Where addNewBody goes on looking for a free body id, and the number of bodies its
    // last add left: bodies come through addNewBody and go by erasing, so while that number
    // holds, the ids before are still taken, and a feature adding thousands of bodies does
    // not search through its own again.
    long long nextBodyId = 0;
    std::size_t bodiesAfterAdd = 0;

    // Typed access to the feature's JSON parameters. A wrong JSON type reads
    // as false, empty text or an empty array.
    bool boolParam(const QString& key) const;
    QString stringParam(const QString& key) const;
    QJsonArray arrayParam(const QString& key) const;

    // A JSON number as it is, a text evaluated as an expression with units
    // against the document; missing or blank gives 0. Throws FeatureError
    // "key: message" when the text does not evaluate or is not finite.
    double number(const QString& key) const;
    // Degrees, evaluated exactly as number.
    double angle(const QString& key) const;
    // number rounded to the nearest integer, halves away from zero.
    int integer(const QString& key) const;

    // Replaces the shape of an existing body; its id, name and creating
    // feature stay. Throws FeatureError when the body is gone or the shape
    // holds no face.
    void setBody(int bodyId, const TopoDS_Shape& shape);
};

// The name of a body no one named: "Körper N", N counting such bodies (or, where no
// counter applies, the body's id).
QString numberedBodyName(int number);

// Adds a body with id feature id × 100 + k (smallest free k). An empty name
// takes "Körper %1" from the state's body counter. Returns the new id; throws
// FeatureError when the id would not fit an int (feature ids from a damaged file).
int addNewBody(ExecContext& context, const TopoDS_Shape& shape, const QString& name = QString());

// Absolute volume in mm³ from the exact geometry.
double shapeVolume(const TopoDS_Shape& shape);

// The faces `after` has and `before` has not, and those `before` has and
// `after` has not, reversed: together they bound the change between the two.
TopoDS_Compound changeBoundary(const TopoDS_Shape& before, const TopoDS_Shape& after);

// How much more volume `after` holds than `before`, measured only over the
// faces the two do not share.
double volumeChange(const TopoDS_Shape& before, const TopoDS_Shape& after);

// The same change measured precisely (preciselyEnclosedVolume), with the bound
// of its error: for a bound on the change that the quick measure fails.
BoundedVolume preciseVolumeChange(const TopoDS_Shape& before, const TopoDS_Shape& after);

// How far a change measured by volumeChange may lie from the true one: curved
// faces are measured by integration, within about 1e-7 of the volume of the
// body's box (seen: a box joined on a plate with curved pockets measured
// 0.018 mm³ more than the box holds).
double changeMeasureSlack(const Bnd_Box& bodyBox);

// The product of the box's sides; 0 for a void box.
double volumeOfBox(const Bnd_Box& box);

// The bounding box of the body's shape, measured once per shape and kept in the body.
const Bnd_Box& bodyBox(const Body& body);
// The box of every body of the state, from the boxes kept in the bodies.
Bnd_Box modelBox(const ModelState& state);

// Whether the body's box keeps off the tool's box, so that no boolean of the
// two can change the body. A body with booleans waiting in a group is measured
// with its group's reach.
bool outOfReach(const ModelState& state, int id, const Body& body, const Bnd_Box& toolBox);

// Length of a through-all extent from the point: twice the largest distance to
// a corner of the bounding box of all bodies, plus 10; 1000 without bodies.
double throughAllDistance(const ModelState& state, const gp_Pnt& point);

// Stores in the edges of the shape's planar faces their curves on those planes
// where they lack them. The kernel computes a missing curve on a plane anew
// each time it is asked for it, and a boolean asks for the curves of the faces
// it cuts many times (seen: 7 % of an edit of a plate with a hundred holes);
// the stored curve is the one it would compute, so the bodies that share the
// edges stay as they were.
void storeCurvesOnPlanes(const TopoDS_Shape& shape);

// Runs the kernel's boolean of the argument with the tools without changing
// either: by default the kernel raises the tolerances of the edges and
// vertices it is given, and those belong to the bodies of earlier states and
// of the undo history too. Only the curves on planes the inputs lack are
// stored in them first (storeCurvesOnPlanes). The caller asks IsDone().
void buildKeepingInputs(BRepAlgoAPI_BooleanOperation& op, const TopoDS_Shape& argument,
                        const TopTools_ListOfShape& tools);
void buildKeepingInputs(BRepAlgoAPI_BooleanOperation& op, const TopoDS_Shape& argument,
                        const TopoDS_Shape& tool);

// Whether merging same-domain faces and edges could change `result`, made by a
// boolean from `merged`, a shape merged already.
bool mayMergeAfter(const TopoDS_Shape& result, const TopoDS_Shape& merged);

// Whether the face lies on a plane, a cylinder or a cone: curved one way at most.
bool isPlaneCylinderOrCone(const TopoDS_Shape& face);

// Whether the surface is a plane, cylinder, cone, sphere or torus, whose
// intersections and point tests the kernel solves in closed form.
bool isElementarySurface(GeomAbs_SurfaceType type);

// Merges faces and edges that lie on the same surface or curve; faces touching a
// face curved both ways (a sphere, a torus, a free form) keep their edges.
// Faces whose merged face would fail the kernel's checks while the faces they
// replace pass stay apart, the others merge. The input unchanged when the
// kernel fails or nothing merges.
TopoDS_Shape unifySameDomain(const TopoDS_Shape& shape);

// The merged shape, and whether the merge was taken whole: false when faces
// were left apart because their merged face failed the checks (merging the
// body again later, after other changes, may join them soundly).
struct SameDomainMerge {
    TopoDS_Shape shape;
    bool whole = true;
};
// The same as unifySameDomain, or none when the kernel fails.
std::optional<SameDomainMerge> mergedSameDomain(const TopoDS_Shape& shape);

// Applies the feature's tool with op "new"/"" (new body), "join", "cut" or any
// other text (intersect) to the target bodies, which are found by bounding box
// when the list is empty. Records the tool in the state's tools. Returns the
// ids of the bodies that carry the result. A cut or intersect that reaches no
// body only sets the feature's warning "Kein Körper im Wirkbereich".
// A cut whose targets all come back unchanged warns the same way.
// A join, cut or intersect leaves a body of triangles or of faces that enclose
// nothing, found by the box search, as it is and names it in the warning
// ("„offen“ blieb unverändert: nur Flächen", "… Netzkörper"); it is refused
// only when chosen as a target. Where no other body is in reach, a join makes
// a new body and a cut or intersect warns "Kein Körper im Wirkbereich; …".
std::vector<int> applyBoolean(ExecContext& context, const TopoDS_Shape& tool, const QString& op,
                              std::vector<int> targets);

// Refuses a body read from a mesh file, which is only its triangles: the
// kernel's modelling operations need the faces' surfaces and would fail on it,
// or worse. Throws FeatureError "<failure>: „<name>“ ist ein Netzkörper aus
// einem Import (nur Dreiecke) und <cannot>" when the body is one; a body the
// state lacks passes.
void refuseMeshBody(const ModelState& state, int bodyId, const QString& failure,
                    const QString& cannot);

// What a failed boolean says: "Verbinden fehlgeschlagen" for "join",
// "Ausschneiden fehlgeschlagen" for "cut", "Schneiden fehlgeschlagen" otherwise.
QString booleanFailure(const QString& op);

// The words of refuseMeshBody for the booleans: "lässt sich weder verbinden noch
// ausschneiden noch verschneiden".
QString meshBooleanRefusal();

// "Kein Körper im Wirkbereich": the warning of a cut or intersect that reaches
// no body, and of a cut that removes nothing.
QString noBodyWarning();

} // namespace qor::model
