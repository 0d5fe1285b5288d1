#pragma once

#include "view/Picking.h"

#include <AIS_ConnectedInteractive.hxx>
#include <AIS_InteractiveObject.hxx>
#include <AIS_Shape.hxx>
#include <Aspect_TypeOfLine.hxx>
#include <Graphic3d_MaterialAspect.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Ax3.hxx>

#include <QColor>
#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <map>
#include <set>
#include <unordered_set>
#include <vector>

namespace qor::model {
struct SketchResult;
struct ThreadMark;
} // namespace qor::model

namespace qor::app {

class DocumentController;
class Viewer;

// The open document as display objects in the viewer's interactive context, with what each
// object stands for so that picks turn back into document references. Body objects persist
// across rebuilds while their shape is unchanged; everything else is made anew by each rebuild.
// Placed bodies of assembly components, and bodies that show one shape at several places (the
// repeated parts of a foreign file), are instances: every placement of one shape in one look
// shows the same meshed shape object, moved by its placement, so that memory and time grow
// with the distinct parts and not with the placements.
class Scene : public QObject {
    Q_OBJECT
public:
    Scene(Viewer* viewer, DocumentController* controller, QObject* parent = nullptr);
    ~Scene() override;

    // Brings the context in line with the document, redraws and emits rebuilt.
    void rebuild();
    // Asked between chunks while a rebuild creates many body objects, and every few tens of
    // milliseconds while bodies are meshed, with how far the build is: done of total steps,
    // stepsPerBody to a body. False stops the creation (a meshing between faces); the bodies
    // made so far stay shown and buildProblem says so. Not asked when the last chunk is made.
    std::function<bool(int done, int total)> buildProgress;
    static constexpr int stepsPerBody = 100;
    // A rebuild is under way (its progress lets events through).
    bool building() const { return building_; }
    void setOriginVisible(bool visible);
    bool originVisible() const { return originVisible_; }
    // 0 shaded with edges, 1 shaded, 2 wireframe.
    void setDisplayStyle(int style);
    int displayStyle() const { return displayStyle_; }
    // A part body's AIS_Shape, or a component body's AIS_ConnectedInteractive; null when the
    // body is not shown.
    Handle(AIS_InteractiveObject) bodyObject(int id) const;
    // The shape object a body shows: its own, or the one its instance connects to.
    Handle(AIS_Shape) bodyShapeObject(int id) const;
    // How many meshed shape objects the shown component bodies share.
    std::size_t sharedObjectCount() const { return sharedObjects_.size(); }
    // German text of the last rebuild that ran out of memory or was cancelled; empty when it
    // showed every body.
    const QString& buildProblem() const { return buildProblem_; }
    // What the user reads when not all bodies fit in memory.
    static QString outOfMemoryText();
    // Whether the last rebuild was cancelled before it showed every body.
    bool buildCancelled() const { return buildCancelled_; }
    // The bodies the document shows that a cancelled rebuild left out of the view, in id
    // order; empty after a rebuild that showed every body.
    std::set<int> leftOutBodies() const;
    // What the user reads when the build was cancelled with shown of total bodies made.
    static QString cancelledText(int shown, int total);
    const PickMap& pickMap() const { return pickMap_; }
    const std::vector<Handle(AIS_InteractiveObject)>& extraObjects() const { return extraObjects_; }

    // Picking and the selection mask.
    PickInfo pickFromOwner(const Handle(SelectMgr_EntityOwner)& owner) const;
    // The records of the current selection in selection order; unknown owners dropped.
    std::vector<PickInfo> selectedPicks() const;
    PickInfo detectedPick() const;
    void clearSelection();
    int selectionMask() const { return selectionMask_; }
    void setSelectionMask(int newMask);
    void applySelectionModes();
    // When the detected owner is a placement still found only by its box, gives the placement
    // the selection modes of the mask and answers true: the caller detects again at the point.
    bool refineDetection();
    // Gives every placement among the owners last picked by the context's main selector (in a
    // rectangle, say) the selection modes of the mask, so that a selection finds its faces.
    void refinePickedPlacements();

    // Previews, highlights and the exploded view.
    // Operation "cut" shows in the danger colour, "intersect" in warning, others in accent.
    void showPreview(const TopoDS_Shape& shape, const QString& operation);
    void clearPreview();
    const Handle(AIS_Shape)& previewObject() const { return previewObject_; }
    // Highlight objects until the next rebuild; null shapes are skipped.
    void showShapes(const std::vector<TopoDS_Shape>& shapes);
    void showShapes(const std::vector<PickInfo>& picks);
    void highlightBody(int bodyId, bool on);
    // Components move away from the assembly centre by factor x their offset; 0 restores.
    void setExplodeFactor(double factor);
    double explodeFactor() const { return explodeFactor_; }

    // Sketch open in the sketch editor (never shown here); 0 for none.
    int editingSketch = 0;

signals:
    void rebuilt();

private:
    // One meshed shape object per component shape (its TShape and orientation) and look
    // (colour r, g, b and metallic).
    struct SharedKey {
        const void* shape = nullptr;
        int orientation = 0;
        std::array<double, 4> look{};
        auto operator<=>(const SharedKey&) const = default;
    };
    struct SharedObject {
        Handle(AIS_Shape) object;
        int users = 0;
    };
    // A shown component body: the shape it shows, the display offset of the exploded view and
    // whether it has its faces and edges for picking yet.
    struct Instance {
        SharedKey key;
        TopoDS_Shape shape;
        gp_XYZ offset;
        bool refined = false;
    };

    void rebuildOnce();
    // Everything of rebuild that makes objects: bodies, then the rest, then selection modes.
    void showDocument();
    // The new body objects, in chunks between which the progress is asked.
    void createAll(const std::vector<int>& created, const std::vector<int>& placed);
    static int progressSteps(double bodies);
    void dropStaleBodies();
    // The shapes (their TShapes) that more than one shown body shows.
    std::unordered_set<const void*> repeatedShapes() const;
    void activateBodyModes(int id, const Handle(AIS_InteractiveObject)& object,
                           const std::vector<int>& modes);
    void removeBodyObject(int id);
    // The placement of a finder owner gets its own faces and edges; false for any other owner
    // and for a placement that has them already.
    bool refinePlacement(const Handle(SelectMgr_EntityOwner)& owner);
    // A pick on a placement shown where its body stands gets the body's own location, which
    // may be a chain of several (a part in a sub-assembly) where the placement shows one
    // transformation: only that very location makes a picked face one of the body's faces.
    void placeOnBody(PickInfo& info, const Handle(SelectMgr_EntityOwner)& owner) const;
    void selectElementsInstead(const Handle(SelectMgr_EntityOwner)& whole,
                               const Handle(AIS_InteractiveObject)& object);
    // The object shown for a placement's body id; null for other ids.
    Handle(AIS_InteractiveObject) placementObject(int id) const;
    // The faces, edges and vertices the mask picks, per shared shape object.
    using ElementLists = std::map<const AIS_Shape*, std::vector<TopoDS_Shape>>;
    // For a placement selected whole, the picks of everything in it that the mask picks, as
    // each would be picked on its own; false for any other owner.
    bool appendPlacementPicks(const Handle(SelectMgr_EntityOwner)& owner, ElementLists& elements,
                              std::vector<PickInfo>& picks) const;
    // Whether the placement with this body id is still found by its box, not by its own
    // faces and edges.
    bool findsByBox(int id) const;
    // Whether the owner is a body's, or a placement's box that still finds it.
    bool isBodyOwner(const Handle(SelectMgr_EntityOwner)& owner) const;
    // The kind of what the owner's object stands for, 0 for an object not in the pick map.
    int ownerKind(const Handle(SelectMgr_EntityOwner)& owner) const;
    // The boxes by which placements are found, after placements came, went or moved.
    void updateFinder();
    void dropInstances();
    // Each makes the objects of a chunk and meshes them, asking progress with the share
    // meshed; false when progress stopped the meshing, and then shows none of them.
    bool createBodyObjects(const std::vector<int>& ids,
                           const std::function<bool(double)>& progress);
    bool createInstances(const std::vector<int>& ids, const std::function<bool(double)>& progress);
    Handle(AIS_Shape) makeBodyObject(const TopoDS_Shape& shape, int appearanceOf) const;
    SharedKey sharedKey(int bodyId, const TopoDS_Shape& shape) const;
    // Display mode and face boundaries the shared shape objects were made with.
    int sharedStyle() const;
    void updateBodyObject(int id, const Handle(AIS_Shape)& object);
    // The body's material and colour; a material name without a row counts as metallic 0.3.
    Graphic3d_MaterialAspect appearanceMaterial(int bodyId) const;
    void showOrigin();
    void showWorkGeometry();
    void showSketches();
    void showThreadHelices();
    void showSketch(int sketchId, const qor::model::SketchResult& result, bool withRegions);
    // Displays, keeps and (with a record) maps a non-body object.
    void showExtra(const Handle(AIS_InteractiveObject)& object, int displayMode,
                   const PickRecord* record);
    void applyExplode();
    bool isHidden(int key) const;

    Viewer* viewer_;
    DocumentController* controller_;
    PickMap pickMap_;
    std::map<int, Handle(AIS_InteractiveObject)> bodyObjects_;
    std::map<int, Instance> instances_;
    std::map<SharedKey, SharedObject> sharedObjects_;
    int sharedStyle_ = -1;
    bool exploded_ = false; // some instance is shown away from its placement
    Handle(AIS_InteractiveObject) finder_;
    bool finderStale_ = false;
    QString buildProblem_;
    bool buildCancelled_ = false;
    bool building_ = false;
    bool rebuildAgain_ = false;
    std::vector<Handle(AIS_InteractiveObject)> extraObjects_;
    Handle(AIS_Shape) previewObject_;
    int selectionMask_ = mask::standard;
    bool originVisible_ = false;
    int displayStyle_ = 0;
    double explodeFactor_ = 0.0;
};

// Building blocks shared by the scene's presentation and its previews.
Quantity_Color toQuantityColor(const QColor& colour);
Handle(AIS_Shape) makeShadedObject(const TopoDS_Shape& shape, const QColor& colour,
                                   bool faceBoundary, double transparency);
Handle(AIS_Shape) makeWireObject(const TopoDS_Shape& shape, const QColor& colour,
                                 Aspect_TypeOfLine lineType, double width);
TopoDS_Face planeFace(const gp_Ax3& plane, double half);
Graphic3d_MaterialAspect bodyMaterial(double r, double g, double b, double metallic);
// The polygon of a cosmetic thread helix: 36 segments a turn, 8 to 20000 in all; empty for
// a modelled thread or one without positive pitch and length.
std::vector<gp_Pnt> threadHelixPoints(const qor::model::ThreadMark& thread);

} // namespace qor::app
