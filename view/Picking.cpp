#include "view/Picking.h"

#include "view/Scene.h"
#include "view/Viewer.h"

#include <AIS_ConnectedInteractive.hxx>
#include <AIS_Shape.hxx>
#include <StdSelect_BRepOwner.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

namespace qor::app {

std::vector<int> bodySelectionModes(int selectionMask)
{
    // AIS modes: 4 faces, 2 edges, 1 vertices, 0 whole shape.
    std::vector<int> modes;
    for (const auto [bit, mode] : {std::pair{mask::faces, 4}, std::pair{mask::edges, 2},
                                   std::pair{mask::vertices, 1}, std::pair{mask::bodies, 0}}) {
        if (selectionMask & bit)
            modes.push_back(mode);
    }
    return modes;
}

bool kindPickable(int kind, int selectionMask)
{
    switch (kind) {
    case 5:
    case 7: return selectionMask & mask::planes;
    case 6:
    case 8: return selectionMask & mask::axes;
    case 9: return selectionMask & mask::regions;
    case 10: return selectionMask & (mask::axes | mask::curves);
    case 11: return selectionMask & mask::points;
    default: return false;
    }
}

bool maskChangeNeedsRebuild(int oldMask, int newMask)
{
    return (oldMask ^ newMask) & mask::shownBits;
}

const PickRecord* pickRecordOf(const Handle(SelectMgr_EntityOwner)& owner, const PickMap& pickMap)
{
    if (owner.IsNull())
        return nullptr;
    const auto* object = dynamic_cast<const AIS_InteractiveObject*>(owner->Selectable().get());
    const auto found = pickMap.find(object);
    return object == nullptr || found == pickMap.end() ? nullptr : &found->second;
}

PickInfo pickFromOwner(const Handle(SelectMgr_EntityOwner)& owner, const PickMap& pickMap)
{
    PickInfo info;
    const PickRecord* record = pickRecordOf(owner, pickMap);
    if (record == nullptr)
        return info;
    info.kind = record->kind;
    info.id = record->id;
    info.sub = record->sub;
    info.u = record->u;
    info.v = record->v;
    if (info.kind != 4)
        return info;
    // Found in the map, the owner's object is a shown interactive object.
    const auto* object = static_cast<const AIS_InteractiveObject*>(owner->Selectable().get());
    TopoDS_Shape shape;
    const auto* brepOwner = dynamic_cast<const StdSelect_BRepOwner*>(owner.get());
    if (brepOwner != nullptr && brepOwner->HasShape()) {
        shape = brepOwner->Shape();
    } else if (const auto* instance = dynamic_cast<const AIS_ConnectedInteractive*>(object)) {
        // A placed instance picked whole: the shape it shows, placed below.
        if (const auto shown = Handle(AIS_Shape)::DownCast(instance->ConnectedTo()))
            shape = shown->Shape();
    }
    return bodyElementPick(info.id, shape, placedAt(*object));
}

std::vector<TopoDS_Shape> selectableElements(const TopoDS_Shape& shape, int selectionMask)
{
    // The whole-body mode excludes the others (see Scene::activateBodyModes).
    if (selectionMask & mask::bodies)
        return {shape};
    std::vector<TopoDS_Shape> elements;
    for (const auto [bit, type] :
         {std::pair{mask::faces, TopAbs_FACE}, std::pair{mask::edges, TopAbs_EDGE},
          std::pair{mask::vertices, TopAbs_VERTEX}}) {
        if (!(selectionMask & bit))
            continue;
        // The kernel's selection of a mode holds each sub-shape of the type once.
        TopTools_IndexedMapOfShape found;
        TopExp::MapShapes(shape, type, found);
        for (int i = 1; i <= found.Extent(); ++i)
            elements.push_back(found(i));
    }
    return elements;
}

TopLoc_Location placedAt(const AIS_InteractiveObject& object)
{
    return object.HasTransformation() ? TopLoc_Location(object.LocalTransformationGeom())
                                      : TopLoc_Location();
}

PickInfo bodyElementPick(int bodyId, const TopoDS_Shape& element, const TopLoc_Location& at)
{
    PickInfo info;
    info.kind = 4;
    info.id = bodyId;
    if (element.IsNull())
        return info;
    info.shape = element.Moved(at);
    switch (info.shape.ShapeType()) {
    case TopAbs_FACE: info.kind = 1; break;
    case TopAbs_EDGE: info.kind = 2; break;
    case TopAbs_VERTEX: info.kind = 3; break;
    default: break;
    }
    return info;
}

PickInfo Scene::pickFromOwner(const Handle(SelectMgr_EntityOwner)& owner) const
{
    PickInfo info = qor::app::pickFromOwner(owner, pickMap_);
    placeOnBody(info, owner);
    return info;
}

std::vector<PickInfo> Scene::selectedPicks() const
{
    std::vector<PickInfo> picks;
    ElementLists elements;
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    for (context->InitSelected(); context->MoreSelected(); context->NextSelected()) {
        const Handle(SelectMgr_EntityOwner) owner = context->SelectedOwner();
        if (appendPlacementPicks(owner, elements, picks))
            continue;
        PickInfo info = pickFromOwner(owner);
        if (info.kind != 0)
            picks.push_back(std::move(info));
    }
    return picks;
}

PickInfo Scene::detectedPick() const
{
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    return context->HasDetected() ? pickFromOwner(context->DetectedOwner()) : PickInfo{};
}

void Scene::clearSelection()
{
    viewer_->context()->ClearSelected(false);
    viewer_->requestRedraw();
}

void Scene::setSelectionMask(int newMask)
{
    if (newMask == selectionMask_)
        return;
    const int oldMask = selectionMask_;
    selectionMask_ = newMask;
    viewer_->context()->ClearSelected(false);
    if (maskChangeNeedsRebuild(oldMask, newMask)) {
        rebuild();
        return;
    }
    applySelectionModes();
    viewer_->requestRedraw();
}

void Scene::activateBodyModes(int id, const Handle(AIS_InteractiveObject)& object,
                              const std::vector<int>& modes)
{
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    const auto instance = instances_.find(id);
    if (instance != instances_.end()) {
        if (!instance->second.refined)
            return; // found by the finder's box
        if (!context->SelectionManager()->Contains(object))
            context->SelectionManager()->Load(object);
    }
    context->SetSelectionModeActive(object, -1, false, AIS_SelectionModesConcurrency_Single,
                                    false);
    // Under this concurrency the whole-body mode and the sub-shape modes exclude each
    // other: a mask with the body bit picks whole bodies only.
    for (int mode : modes)
        context->SetSelectionModeActive(object, mode, true,
                                        AIS_SelectionModesConcurrency_GlobalOrLocal, false);
}

void Scene::applySelectionModes()
{
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    const std::vector<int> modes = bodySelectionModes(selectionMask_);
    for (const auto& [id, object] : bodyObjects_)
        activateBodyModes(id, object, modes);
    if (!finder_.IsNull()) {
        context->SetSelectionModeActive(finder_, -1, false, AIS_SelectionModesConcurrency_Single,
                                        false);
        if (!modes.empty())
            context->SetSelectionModeActive(finder_, 0, true,
                                            AIS_SelectionModesConcurrency_GlobalOrLocal, false);
    }
    for (const Handle(AIS_InteractiveObject)& object : extraObjects_) {
        const auto found = pickMap_.find(object.get());
        if (found == pickMap_.end())
            continue;
        context->SetSelectionModeActive(object, -1, false, AIS_SelectionModesConcurrency_Single,
                                        false);
        if (kindPickable(found->second.kind, selectionMask_))
            context->SetSelectionModeActive(object, 0, true,
                                            AIS_SelectionModesConcurrency_GlobalOrLocal, false);
    }
}

} // namespace qor::app
