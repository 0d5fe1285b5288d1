#include "view/Scene.h"

#include "model/DocumentController.h"
#include "model/SketchVisibility.h"
#include "sketch/Plane.h"
#include "ui/theme/Theme.h"
#include "view/Viewer.h"

#include <AIS_TextLabel.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <OSD_Parallel.hxx>
#include <Prs3d_IsoAspect.hxx>
#include <Prs3d_LineAspect.hxx>
#include <Prs3d_PointAspect.hxx>
#include <Prs3d_ShadingAspect.hxx>
#include <StdPrs_ToolTriangulatedShape.hxx>
#include <TCollection_ExtendedString.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Pln.hxx>

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qor::app {

namespace {

constexpr double bodyDeviationCoefficient = 0.0006;
constexpr double bodyDeviationAngle = 6.0 * std::numbers::pi / 180.0;

Theme& theme()
{
    return Theme::instance();
}

Handle(Prs3d_LineAspect) lineAspect(const QColor& colour, Aspect_TypeOfLine type, double width)
{
    return new Prs3d_LineAspect(toQuantityColor(colour), type, width);
}

const qor::model::ModelState& state(const DocumentController* controller)
{
    return controller->document->current;
}

// Bodies that share a face cannot be tessellated at the same time: both would write the face's
// triangulation.
bool sharesFaces(const std::vector<TopoDS_Shape>& shapes)
{
    TopTools_MapOfShape seen;
    for (const TopoDS_Shape& shape : shapes) {
        TopTools_IndexedMapOfShape faces;
        TopExp::MapShapes(shape, TopAbs_FACE, faces);
        for (int i = 1; i <= faces.Extent(); ++i) {
            if (!seen.Add(faces(i).Located(TopLoc_Location())))
                return true;
        }
    }
    return false;
}

} // namespace

Quantity_Color toQuantityColor(const QColor& colour)
{
    return Quantity_Color(colour.redF(), colour.greenF(), colour.blueF(), Quantity_TOC_sRGB);
}

Handle(AIS_Shape) makeShadedObject(const TopoDS_Shape& shape, const QColor& colour,
                                   bool faceBoundary, double transparency)
{
    Handle(AIS_Shape) object = new AIS_Shape(shape);
    const Handle(Prs3d_Drawer)& drawer = object->Attributes();
    drawer->SetDisplayMode(1);
    Graphic3d_MaterialAspect material(Graphic3d_NameOfMaterial_UserDefined);
    material.SetMaterialType(Graphic3d_MATERIAL_ASPECT);
    object->SetMaterial(material);
    object->SetColor(toQuantityColor(colour));
    object->SetTransparency(transparency);
    drawer->SetFaceBoundaryDraw(faceBoundary);
    drawer->SetFaceBoundaryAspect(lineAspect(colour, Aspect_TOL_SOLID, 1.2));
    return object;
}

Handle(AIS_Shape) makeWireObject(const TopoDS_Shape& shape, const QColor& colour,
                                 Aspect_TypeOfLine lineType, double width)
{
    Handle(AIS_Shape) object = new AIS_Shape(shape);
    const Handle(Prs3d_Drawer)& drawer = object->Attributes();
    drawer->SetDisplayMode(0);
    object->SetColor(toQuantityColor(colour));
    object->SetWidth(width);
    drawer->SetWireAspect(lineAspect(colour, lineType, width));
    drawer->SetLineAspect(lineAspect(colour, lineType, width));
    drawer->SetFreeBoundaryAspect(lineAspect(colour, lineType, width));
    drawer->SetUnFreeBoundaryAspect(lineAspect(colour, lineType, width));
    drawer->SetPointAspect(new Prs3d_PointAspect(Aspect_TOM_BALL, toQuantityColor(colour), 2.0));
    return object;
}

TopoDS_Face planeFace(const gp_Ax3& plane, double half)
{
    return BRepBuilderAPI_MakeFace(gp_Pln(plane), -half, half, -half, half).Face();
}

Graphic3d_MaterialAspect bodyMaterial(double r, double g, double b, double metallic)
{
    Graphic3d_MaterialAspect material(Graphic3d_NameOfMaterial_UserDefined);
    material.SetMaterialType(Graphic3d_MATERIAL_PHYSIC);
    material.SetAmbientColor(Quantity_Color(0.55 * r, 0.55 * g, 0.6 * b, Quantity_TOC_sRGB));
    material.SetDiffuseColor(Quantity_Color(0.78 * r, 0.78 * g, 0.8 * b, Quantity_TOC_sRGB));
    const double s = 0.18 + 0.32 * metallic;
    material.SetSpecularColor(Quantity_Color(s, s, 1.05 * s, Quantity_TOC_RGB));
    material.SetEmissiveColor(Quantity_Color(0.0, 0.0, 0.0, Quantity_TOC_RGB));
    material.SetShininess(float(0.35 + 0.35 * metallic));
    return material;
}

std::vector<gp_Pnt> threadHelixPoints(const qor::model::ThreadMark& thread)
{
    if (thread.modelled || !(thread.pitch > 0.0) || !(thread.length > 0.0))
        return {};
    // Just outside the outer diameter of a bolt, just inside the core of a hole, so that the
    // helix is not buried in the faces.
    const double r
        = thread.internal ? thread.minorDiameter / 2.0 - 0.01 : thread.majorDiameter / 2.0 + 0.01;
    const gp_XYZ d = thread.direction.XYZ();
    const gp_XYZ xSeed
        = std::abs(d.X()) >= 0.9 ? gp_XYZ(0, 1, 0) - d.Y() * d : gp_XYZ(1, 0, 0) - d.X() * d;
    const gp_XYZ x = xSeed.Normalized();
    const gp_XYZ y = d.Crossed(x).Normalized();
    const double turns = thread.length / thread.pitch;
    const int n = int(std::clamp(std::trunc(turns * 36.0), 8.0, 20000.0));
    std::vector<gp_Pnt> points;
    points.reserve(std::size_t(n) + 1);
    for (int i = 0; i <= n; ++i) {
        const double t = i * turns / n;
        const double phi = (thread.leftHand ? -2.0 : 2.0) * std::numbers::pi * t;
        points.emplace_back(thread.position.XYZ() + r * std::cos(phi) * x + r * std::sin(phi) * y
                            + t * thread.pitch * d);
    }
    return points;
}

Scene::Scene(Viewer* viewer, DocumentController* controller, QObject* parent)
    : QObject(parent)
    , viewer_(viewer)
    , controller_(controller)
{
}

// The context goes with the viewer; only the handles are released here.
Scene::~Scene() = default;

Handle(AIS_Shape) Scene::bodyObject(int id) const
{
    const auto found = bodyObjects_.find(id);
    return found == bodyObjects_.end() ? Handle(AIS_Shape)() : found->second;
}

bool Scene::isHidden(int key) const
{
    const auto& hidden = controller_->document->hidden;
    const auto found = hidden.find(key);
    return found != hidden.end() && found->second;
}

void Scene::setOriginVisible(bool visible)
{
    originVisible_ = visible;
    rebuild();
}

void Scene::setDisplayStyle(int style)
{
    displayStyle_ = std::clamp(style, 0, 2);
    rebuild();
}

void Scene::rebuild()
{
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    for (const Handle(AIS_InteractiveObject)& object : extraObjects_)
        context->Remove(object, false);
    extraObjects_.clear();
    if (!previewObject_.IsNull()) {
        context->Remove(previewObject_, false);
        previewObject_.Nullify();
    }
    dropStaleBodies();
    std::erase_if(pickMap_, [](const auto& entry) { return entry.second.kind != 4; });

    std::vector<int> created;
    for (const auto& [id, body] : state(controller_).bodies) {
        if (isHidden(id))
            continue;
        const auto found = bodyObjects_.find(id);
        if (found == bodyObjects_.end())
            created.push_back(id);
        else
            updateBodyObject(id, found->second);
    }
    createBodyObjects(created);

    showOrigin();
    showWorkGeometry();
    showSketches();
    showThreadHelices();
    applySelectionModes();
    applyExplode();
    viewer_->requestRedraw();
    emit rebuilt();
}

void Scene::dropStaleBodies()
{
    const auto& bodies = state(controller_).bodies;
    for (auto it = bodyObjects_.begin(); it != bodyObjects_.end();) {
        const auto body = bodies.find(it->first);
        const TopoDS_Shape& shown = it->second->Shape();
        const bool keep = body != bodies.end() && !isHidden(it->first)
                          && body->second.shape.TShape() == shown.TShape()
                          && body->second.shape.Location() == shown.Location();
        if (keep) {
            ++it;
            continue;
        }
        viewer_->context()->Remove(it->second, false);
        pickMap_.erase(it->second.get());
        it = bodyObjects_.erase(it);
    }
}

Graphic3d_MaterialAspect Scene::appearanceMaterial(int bodyId) const
{
    const qor::model::BodyAppearance look = controller_->document->bodyAppearance(bodyId);
    const qor::model::Material* row = qor::model::findMaterial(look.material);
    return bodyMaterial(look.r, look.g, look.b, row ? row->metallic : 0.3);
}

void Scene::updateBodyObject(int id, const Handle(AIS_Shape)& object)
{
    object->SetMaterial(appearanceMaterial(id));
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    object->Attributes()->SetFaceBoundaryDraw(displayStyle_ == 0 && viewer_->renderMode() == 0);
    object->UnsetTransparency();
    // A mode set on the drawer alone leaves a shown object as it is: the context switches
    // the presentation it displays, recomputing it when it was made with other settings.
    const int mode = displayStyle_ == 2 ? 0 : 1;
    if (object->AcceptDisplayMode(mode) && object->DisplayMode() != mode) {
        object->SetToUpdate();
        context->SetDisplayMode(object, mode, false);
    } else {
        context->Redisplay(object, false, false);
    }
}

void Scene::createBodyObjects(const std::vector<int>& ids)
{
    const auto& bodies = state(controller_).bodies;
    const Theme& t = theme();
    std::vector<Handle(AIS_Shape)> objects;
    std::vector<TopoDS_Shape> shapes;
    for (int id : ids) {
        const TopoDS_Shape& shape = bodies.at(id).shape;
        Handle(AIS_Shape) object = new AIS_Shape(shape);
        const Handle(Prs3d_Drawer)& drawer = object->Attributes();
        drawer->SetDeviationCoefficient(bodyDeviationCoefficient);
        drawer->SetDeviationAngle(bodyDeviationAngle);
        drawer->SetFaceBoundaryDraw(displayStyle_ == 0 && viewer_->renderMode() == 0);
        drawer->SetFaceBoundaryAspect(
            lineAspect(Theme::mix(t.bg0, t.bg2, 0.3), Aspect_TOL_SOLID, 1.25));
        drawer->SetWireAspect(lineAspect(t.accent, Aspect_TOL_SOLID, 1.2));
        drawer->SetFreeBoundaryAspect(lineAspect(t.accent, Aspect_TOL_SOLID, 1.2));
        drawer->SetUnFreeBoundaryAspect(
            lineAspect(Theme::mix(t.textDim, t.accent, 0.3), Aspect_TOL_SOLID, 1.0));
        // The wireframe shows a body's own edges: iso-lines across its faces would read as
        // edges that are not there.
        drawer->SetUIsoAspect(new Prs3d_IsoAspect(Quantity_NOC_GRAY75, Aspect_TOL_SOLID, 1.0, 0));
        drawer->SetVIsoAspect(new Prs3d_IsoAspect(Quantity_NOC_GRAY75, Aspect_TOL_SOLID, 1.0, 0));
        drawer->SetIsoOnPlane(false);
        object->SetMaterial(appearanceMaterial(id));
        drawer->SetDisplayMode(displayStyle_ == 2 ? 0 : 1);
        objects.push_back(object);
        shapes.push_back(shape);
    }
    // Tessellating ahead, with the drawer's own tolerances, lets Display find the bodies
    // meshed; distinct bodies mesh side by side.
    const bool parallel = shapes.size() > 1 && !sharesFaces(shapes);
    OSD_Parallel::For(
        0, int(objects.size()),
        [&](int i) {
            StdPrs_ToolTriangulatedShape::Tessellate(shapes[std::size_t(i)],
                                                     objects[std::size_t(i)]->Attributes());
        },
        !parallel);
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const Handle(AIS_Shape)& object = objects[i];
        viewer_->context()->Display(object, object->Attributes()->DisplayMode(), 0, false,
                                    PrsMgr_DisplayStatus_None);
        bodyObjects_[ids[i]] = object;
        pickMap_[object.get()] = PickRecord{4, ids[i], 0, 0.0, 0.0};
    }
}

void Scene::showExtra(const Handle(AIS_InteractiveObject)& object, int displayMode,
                      const PickRecord* record)
{
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    context->Display(object, displayMode, record ? 0 : -1, false, PrsMgr_DisplayStatus_None);
    if (record)
        pickMap_[object.get()] = *record;
    else
        context->SetSelectionModeActive(object, -1, false, AIS_SelectionModesConcurrency_Single,
                                        false);
    extraObjects_.push_back(object);
}

void Scene::showOrigin()
{
    if (!originVisible_)
        return;
    const Theme& t = theme();
    const double s = std::max(0.35 * qor::model::Document::modelSize(state(controller_)), 30.0);
    const std::pair<int, QColor> planes[] = {{-1, t.accent}, {-2, t.accent2}, {-3, t.accent3}};
    for (const auto& [id, colour] : planes) {
        const gp_Ax3 plane = qor::model::Document::datumPlane(id);
        const PickRecord record{5, id, 0, 0.0, 0.0};
        showExtra(makeShadedObject(planeFace(plane, s), colour, true, 0.86), 1, &record);

        Handle(AIS_TextLabel) label = new AIS_TextLabel();
        const QString name = qor::model::Document::datumName(id);
        label->SetText(TCollection_ExtendedString(name.toUtf8().constData(), true));
        label->SetPosition(plane.Location().Translated(0.98 * s * gp_Vec(plane.XDirection())
                                                       + 0.92 * s * gp_Vec(plane.YDirection())));
        label->SetColor(toQuantityColor(colour));
        label->SetHJustification(Graphic3d_HTA_RIGHT);
        label->SetFont("DejaVu Sans");
        label->SetHeight(12);
        showExtra(label, 0, nullptr);
    }
    const std::tuple<int, gp_Dir, QColor> axes[] = {
        {-11, gp::DX(), QColor(QStringLiteral("#FF4D6D"))},
        {-12, gp::DY(), t.success},
        {-13, gp::DZ(), t.accent},
    };
    for (const auto& [id, direction, colour] : axes) {
        const TopoDS_Shape edge
            = BRepBuilderAPI_MakeEdge(gp::Origin(), gp_Pnt(1.15 * s * direction.XYZ())).Edge();
        const PickRecord record{6, id, 0, 0.0, 0.0};
        showExtra(makeWireObject(edge, colour, Aspect_TOL_SOLID, 2.2), 0, &record);
    }
}

void Scene::showWorkGeometry()
{
    const qor::model::ModelState& current = state(controller_);
    const QColor warning = theme().warning;
    const double s = std::max(0.3 * qor::model::Document::modelSize(current), 25.0);
    for (const auto& [id, plane] : current.planes) {
        if (current.sketches.count(id) || isHidden(-id))
            continue;
        const PickRecord record{7, id, 0, 0.0, 0.0};
        showExtra(makeShadedObject(planeFace(plane, s), warning, true, 0.82), 1, &record);
    }
    for (const auto& [id, axis] : current.axes) {
        if (isHidden(-id))
            continue;
        const gp_Vec reach = s * gp_Vec(axis.Direction());
        const TopoDS_Shape edge = BRepBuilderAPI_MakeEdge(axis.Location().Translated(-reach),
                                                          axis.Location().Translated(reach))
                                      .Edge();
        const PickRecord record{8, id, 0, 0.0, 0.0};
        showExtra(makeWireObject(edge, warning, Aspect_TOL_DOTDASH, 2.0), 0, &record);
    }
}

void Scene::showSketches()
{
    const qor::model::Document& document = *controller_->document;
    const std::set<int> consumed = qor::model::consumedSketches(document);
    const bool regions = selectionMask_ & mask::regions;
    for (const auto& [id, result] : state(controller_).sketches) {
        if (id == editingSketch || result.sketch == nullptr)
            continue;
        const bool hidden = !qor::model::sketchShown(document, id, consumed);
        if (hidden && !regions && !(selectionMask_ & (mask::curves | mask::points)))
            continue;
        showSketch(id, result, regions);
    }
}

void Scene::showSketch(int sketchId, const qor::model::SketchResult& result, bool withRegions)
{
    const gp_Ax3& plane = result.plane;
    const qor::sketch::Sketch& sketch = *result.sketch;
    const Theme& t = theme();
    for (const qor::sketch::Entity& entity : sketch.entities) {
        if (entity.type == qor::sketch::EntityType::Point) {
            if (entity.owned)
                continue;
            const qor::sketch::Vec2 at = sketch.pointPosition(int(entity.id));
            const TopoDS_Shape vertex
                = BRepBuilderAPI_MakeVertex(qor::sketch::toWorld(plane, at)).Vertex();
            Handle(AIS_Shape) object = makeWireObject(vertex, t.accent, Aspect_TOL_SOLID, 1.0);
            object->Attributes()->SetPointAspect(
                new Prs3d_PointAspect(Aspect_TOM_O_POINT, toQuantityColor(t.accent), 2.2));
            const PickRecord record{11, sketchId, int(entity.id), 0.0, 0.0};
            showExtra(object, 0, &record);
            continue;
        }
        const TopoDS_Edge edge = qor::sketch::entityToEdge(sketch, entity.id, plane);
        if (edge.IsNull())
            continue;
        Handle(AIS_Shape) object
            = entity.construction ? makeWireObject(edge, Theme::mix(t.textMute, t.warning, 0.5),
                                                   Aspect_TOL_DASH, 1.2)
                                  : makeWireObject(edge, t.accent, Aspect_TOL_SOLID, 1.8);
        const PickRecord record{10, sketchId, int(entity.id), 0.0, 0.0};
        showExtra(object, 0, &record);
    }
    qor::model::Feature* feature = controller_->document->feature(sketchId);
    if (!withRegions || feature == nullptr)
        return;
    for (const qor::sketch::ProfileRegion& region :
         controller_->document->sketchRegions(*feature, plane)) {
        const PickRecord record{9, sketchId, 0, region.interior.x, region.interior.y};
        showExtra(makeShadedObject(region.face, t.accent, false, 0.78), 1, &record);
    }
}

void Scene::showThreadHelices()
{
    const Theme& t = theme();
    for (const qor::model::ThreadMark& thread : state(controller_).threads) {
        const std::vector<gp_Pnt> points = threadHelixPoints(thread);
        if (points.empty())
            continue;
        BRepBuilderAPI_MakePolygon polygon;
        for (const gp_Pnt& p : points)
            polygon.Add(p);
        if (!polygon.IsDone())
            continue;
        Handle(AIS_Shape) object = new AIS_Shape(polygon.Wire());
        object->SetColor(toQuantityColor(Theme::mix(t.accent, t.text, 0.35)));
        object->SetWidth(1.4);
        object->SetInfiniteState(false);
        showExtra(object, 0, nullptr);
    }
}

} // namespace qor::app
