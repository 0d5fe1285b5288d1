#include "features/FaceEdits.h"

#include "features/FaceSelection.h"
#include "features/KernelGuards.h"
#include "features/ShapeOps.h"
#include "model/BooleanGroup.h"
#include "model/ExecContext.h"
#include "model/References.h"

#include <BOPAlgo_Alerts.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_Defeaturing.hxx>
#include <BRepOffsetAPI_DraftAngle.hxx>
#include <BRepOffset_MakeOffset.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS.hxx>
#include <gp_Pln.hxx>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qor::model {

namespace {

bool allPlanar(const std::vector<TopoDS_Shape>& faces)
{
    return std::all_of(faces.begin(), faces.end(), [](const TopoDS_Shape& face) {
        return BRepAdaptor_Surface(TopoDS::Face(face)).GetType() == GeomAbs_Plane;
    });
}

// Planar faces move by adding or removing the prism they sweep along their
// outer normal.
TopoDS_Shape offsetPlanarFaces(const TopoDS_Shape& body, const std::vector<TopoDS_Shape>& faces,
                               double distance)
{
    const QString failure = QStringLiteral("Fläche versetzen fehlgeschlagen");
    TopoDS_Shape result = body;
    for (const TopoDS_Shape& face : faces) {
        const gp_Vec sweep = gp_Vec(facePlane(face).Direction()) * distance;
        const TopoDS_Shape prism = outwardOriented(makePrism(face, sweep));
        TopoDS_Shape next;
        runKernel(failure, [&] {
            next
                = soundBoolean(distance > 0.0 ? BOPAlgo_FUSE : BOPAlgo_CUT, result, prism, failure);
        });
        if (next.IsNull())
            throw FeatureError(failure);
        result = next;
    }
    return cleanedResult(result);
}

// Curved faces go through the kernel's offset with the other faces at offset
// zero, which moves the picked faces and lets their neighbours follow. Not in
// thickening mode: that returns only the layer between the old and the new
// face instead of the changed body.
TopoDS_Shape offsetCurvedFaces(const TopoDS_Shape& body, const std::vector<TopoDS_Shape>& faces,
                               double distance)
{
    const QString failure = QStringLiteral(
        "Fläche versetzen nicht möglich – Abstand zu groß für die Nachbarflächen?");
    // Moved past its centre of curvature a face comes back turned inside out: a
    // cylinder of radius 3 moved in by 4 would become one of radius 1.
    for (const TopoDS_Shape& face : faces) {
        if (!offsetsStayProper(face, 0.0, distance))
            throw FeatureError(failure);
    }
    BRepOffset_MakeOffset offset;
    runKernel(failure, [&] {
        offset.Initialize(body, 0.0, 1e-4, BRepOffset_Skin, false, false, GeomAbs_Intersection,
                          false, false);
        for (const TopoDS_Shape& face : faces)
            offset.SetOffsetOnFace(TopoDS::Face(face), distance);
        offset.MakeOffsetShape();
    });
    if (!offset.IsDone() || isEmptyShape(offset.Shape()))
        throw FeatureError(failure);
    return cleanedResult(offset.Shape());
}

} // namespace

void execDraft(ExecContext& context)
{
    const gp_Ax3 neutral = resolvePlaneRef(context, QStringLiteral("neutral"));
    const double angle = context.angle(QStringLiteral("angle")) * std::numbers::pi / 180.0;
    const auto facesByBody = resolveFacesByBody(context, QStringLiteral("faces"));
    if (facesByBody.empty())
        throw FeatureError(QStringLiteral("Flächen auswählen"));
    gp_Dir pull = neutral.Direction();
    if (context.boolParam(QStringLiteral("flip")))
        pull.Reverse();

    const QString faceFailure = QStringLiteral("Formschräge für eine Fläche nicht möglich");
    for (const auto& [bodyId, faces] : facesByBody) {
        BRepOffsetAPI_DraftAngle draft(context.state.bodies.at(bodyId).shape);
        for (const TopoDS_Shape& shape : faces) {
            const TopoDS_Face face = TopoDS::Face(shape);
            runKernel(faceFailure, [&] { draft.Add(face, pull, angle, gp_Pln(neutral), true); });
            if (!draft.AddDone())
                throw FeatureError(faceFailure);
        }
        buildBody(context, bodyId, draft, QStringLiteral("Formschräge fehlgeschlagen"));
    }
}

void execOffsetFaces(ExecContext& context)
{
    const auto facesByBody = resolveFacesByBody(context, QStringLiteral("faces"));
    if (facesByBody.empty())
        throw FeatureError(QStringLiteral("Flächen zum Versetzen auswählen"));
    const double distance = context.number(QStringLiteral("distance"));
    if (std::abs(distance) < 1e-9)
        throw FeatureError(QStringLiteral("Abstand darf nicht 0 sein"));

    for (const auto& [bodyId, faces] : facesByBody) {
        const TopoDS_Shape& body = context.state.bodies.at(bodyId).shape;
        context.setBody(bodyId, allPlanar(faces) ? offsetPlanarFaces(body, faces, distance)
                                                 : offsetCurvedFaces(body, faces, distance));
    }
}

void execDeleteFaces(ExecContext& context)
{
    const auto facesByBody = resolveFacesByBody(context, QStringLiteral("faces"));
    if (facesByBody.empty())
        throw FeatureError(
            QStringLiteral("Zu löschende Flächen auswählen (z. B. Bohrungswand, Verrundung)"));

    const QString failure = QStringLiteral(
        "Flächen können nicht gelöscht werden – die Nachbarflächen lassen sich nicht schließen");
    for (const auto& [bodyId, faces] : facesByBody) {
        TopTools_ListOfShape removed;
        for (const TopoDS_Shape& face : faces)
            removed.Append(face);
        BRepAlgoAPI_Defeaturing defeaturing;
        defeaturing.SetShape(context.state.bodies.at(bodyId).shape);
        defeaturing.AddFacesToRemove(removed);
        defeaturing.SetRunParallel(Standard_True);
        defeaturing.SetToFillHistory(Standard_False);
        runKernel(failure, [&] { defeaturing.Build(); });
        // A face whose neighbours cannot close the gap is only warned about, and
        // the body would come back unchanged as if the faces were gone.
        const bool leftOver = defeaturing.GetReport()->HasAlert(
            STANDARD_TYPE(BOPAlgo_AlertUnableToRemoveTheFeature));
        if (!defeaturing.IsDone() || defeaturing.HasErrors() || leftOver)
            throw FeatureError(failure);
        context.setBody(bodyId, cleanedResult(defeaturing.Shape()));
    }
}

} // namespace qor::model
