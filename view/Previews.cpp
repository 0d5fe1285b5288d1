#include "view/Previews.h"

#include "ui/theme/Theme.h"
#include "model/DocumentController.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <BRepBndLib.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Builder.hxx>
#include <TopoDS_Compound.hxx>

namespace qor::app {

namespace {

gp_XYZ centre(const Bnd_Box& box)
{
    return (box.CornerMin().XYZ() + box.CornerMax().XYZ()) / 2.0;
}

} // namespace

int componentOfBody(int bodyId)
{
    return bodyId >= firstComponentBodyId ? (bodyId - firstComponentBodyId) / 1000 : -1;
}

std::map<int, gp_Vec> explodeOffsets(const std::map<int, Bnd_Box>& componentBoxes, double factor)
{
    Bnd_Box assembly;
    for (const auto& [component, box] : componentBoxes)
        assembly.Add(box);
    std::map<int, gp_Vec> offsets;
    for (const auto& [component, box] : componentBoxes) {
        const bool moves = factor > 0.0 && !box.IsVoid() && !assembly.IsVoid();
        offsets[component] = moves ? gp_Vec(factor * (centre(box) - centre(assembly))) : gp_Vec();
    }
    return offsets;
}

QColor previewColour(const QString& operation)
{
    const Theme& t = Theme::instance();
    if (operation == QLatin1String("cut"))
        return t.danger;
    if (operation == QLatin1String("intersect"))
        return t.warning;
    return t.accent;
}

void Scene::clearPreview()
{
    if (previewObject_.IsNull())
        return;
    viewer_->context()->Remove(previewObject_, false);
    previewObject_.Nullify();
    viewer_->requestRedraw();
}

void Scene::showPreview(const TopoDS_Shape& shape, const QString& operation)
{
    clearPreview();
    if (shape.IsNull())
        return;
    Handle(AIS_Shape) object = makeShadedObject(shape, previewColour(operation), true, 0.6);
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    context->Display(object, 1, -1, false, PrsMgr_DisplayStatus_None);
    context->SetSelectionModeActive(object, -1, false, AIS_SelectionModesConcurrency_Single, false);
    previewObject_ = object;
    viewer_->requestRedraw();
}

void Scene::showShapes(const std::vector<TopoDS_Shape>& shapes)
{
    TopoDS_Builder builder;
    TopoDS_Compound faces;
    TopoDS_Compound others;
    builder.MakeCompound(faces);
    builder.MakeCompound(others);
    bool anyFace = false;
    bool anyOther = false;
    for (const TopoDS_Shape& shape : shapes) {
        if (shape.IsNull())
            continue;
        const bool face = shape.ShapeType() == TopAbs_FACE;
        builder.Add(face ? faces : others, shape);
        (face ? anyFace : anyOther) = true;
    }
    const QColor colour = Theme::instance().accent3;
    if (anyFace)
        showExtra(makeShadedObject(faces, colour, true, 0.45), 1, nullptr);
    if (anyOther)
        showExtra(makeWireObject(others, colour, Aspect_TOL_SOLID, 3.5), 0, nullptr);
    viewer_->requestRedraw();
}

void Scene::showShapes(const std::vector<PickInfo>& picks)
{
    std::vector<TopoDS_Shape> shapes;
    shapes.reserve(picks.size());
    for (const PickInfo& pick : picks)
        shapes.push_back(pick.shape);
    showShapes(shapes);
}

void Scene::highlightBody(int bodyId, bool on)
{
    const Handle(AIS_InteractiveObject) object = bodyObject(bodyId);
    if (object.IsNull())
        return;
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    if (on)
        context->HilightWithColor(object, context->HighlightStyle(Prs3d_TypeOfHighlight_Selected),
                                  false);
    else
        context->Unhilight(object, false);
    viewer_->requestRedraw();
}

void Scene::setExplodeFactor(double factor)
{
    explodeFactor_ = factor;
    applyExplode();
    updateFinder();
    applySelectionModes();
    viewer_->requestRedraw();
}

// Only the display objects move: the document and the body shapes stay where they are. An
// instance moves by its offset after its placement.
void Scene::applyExplode()
{
    if (explodeFactor_ == 0.0 && !exploded_)
        return; // every placement already shown where it is
    // Boxes of the component shapes, each measured once and moved by its placements.
    std::map<const void*, Bnd_Box> shapeBoxes;
    std::map<int, Bnd_Box> boxes;
    for (const auto& [id, body] : controller_->document->current.bodies) {
        if (componentOfBody(id) < 0 || body.shape.IsNull())
            continue;
        auto [box, added] = shapeBoxes.try_emplace(body.shape.TShape().get());
        if (added)
            BRepBndLib::Add(body.shape.Located(TopLoc_Location()), box->second, true);
        boxes[componentOfBody(id)].Add(
            box->second.Transformed(body.shape.Location().Transformation()));
    }
    const std::map<int, gp_Vec> offsets = explodeOffsets(boxes, explodeFactor_);
    exploded_ = false;
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    for (auto& [id, instance] : instances_) {
        const auto offset = offsets.find(componentOfBody(id));
        const gp_XYZ by = offset == offsets.end() ? gp_XYZ() : offset->second.XYZ();
        exploded_ = exploded_ || by.Modulus() > 0.0;
        if (by.IsEqual(instance.offset, 0.0))
            continue;
        instance.offset = by;
        finderStale_ = true;
        gp_Trsf move;
        move.SetTranslation(gp_Vec(by));
        context->SetLocation(bodyObjects_.at(id),
                             TopLoc_Location(move) * instance.shape.Location());
    }
}

} // namespace qor::app
