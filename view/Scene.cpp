#include "view/Scene.h"

#include "expr/Format.h"
#include "io/CancelIndicator.h"
#include "io/MeshFaces.h"
#include "io/ReaderThread.h"
#include "io/ShapeMeshing.h"
#include "model/DocumentController.h"
#include "model/SketchVisibility.h"
#include "sketch/Plane.h"
#include "ui/theme/Theme.h"
#include "view/CreasedMesh.h"
#include "view/Previews.h"
#include "view/Viewer.h"

#include <AIS_TextLabel.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <Graphic3d_ArrayOfSegments.hxx>
#include <Graphic3d_ArrayOfTriangles.hxx>
#include <Message_ProgressScope.hxx>
#include <OSD_Parallel.hxx>
#include <OpenGl_Context.hxx>
#include <OpenGl_Element.hxx>
#include <OpenGl_Group.hxx>
#include <OpenGl_Workspace.hxx>
#include <Prs3d_IsoAspect.hxx>
#include <Prs3d_LineAspect.hxx>
#include <Prs3d_PointAspect.hxx>
#include <Prs3d_ShadingAspect.hxx>
#include <Select3D_SensitiveBox.hxx>
#include <SelectMgr_EntityOwner.hxx>
#include <SelectMgr_Filter.hxx>
#include <SelectMgr_Selection.hxx>
#include <Standard_OutOfMemory.hxx>
#include <StdPrs_ToolTriangulatedShape.hxx>
#include <StdSelect_BRepOwner.hxx>
#include <StdSelect_ViewerSelector3d.hxx>
#include <TCollection_ExtendedString.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Pln.hxx>

#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QScopedValueRollback>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <new>
#include <numbers>
#include <optional>
#include <set>
#include <unordered_set>

namespace qor::app {

namespace {

constexpr double bodyDeviationCoefficient = 0.0006;
// Bodies are created in chunks of this many, between which the build reports its progress
// when it creates at least reportedBuildSize of them.
constexpr std::size_t buildChunk = 256;
constexpr std::size_t reportedBuildSize = 1024;
// The share of a body's steps that its meshing fills; its display and selection the rest.
constexpr double meshShare = 0.9;
constexpr double bodyDeviationAngle = 6.0 * std::numbers::pi / 180.0;
// The kernel ranks a body's faces 5, its edges 7 and its vertices 8.
constexpr int planePickPriority = 4;

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

// Tessellates each object's shape with its drawer's tolerances ahead of Display, so that
// Display finds the shapes meshed; distinct shapes mesh side by side. The meshing runs on a
// thread of its own while this one asks progress with the share done every few tens of
// milliseconds, so that the window repaints and offers to cancel however long a body takes;
// false from progress stops the meshing between faces. False when it was stopped: the
// shapes then lack some of their triangles.
bool tessellate(const std::vector<Handle(AIS_Shape)>& objects,
                const std::function<bool(double done)>& progress)
{
    std::vector<TopoDS_Shape> shapes;
    std::vector<IMeshTools_Parameters> parameters;
    for (const Handle(AIS_Shape)& object : objects) {
        const Handle(Prs3d_Drawer)& drawer = object->Attributes();
        // The drawer's own deviations count as changed until marked as the ones in use, and
        // the first presentation would then clean the mesh made here and mesh again.
        drawer->UpdatePreviousDeviationAngle();
        drawer->UpdatePreviousDeviationCoefficient();
        if (StdPrs_ToolTriangulatedShape::IsTessellated(object->Shape(), drawer))
            continue;
        shapes.push_back(object->Shape());
        IMeshTools_Parameters meshing;
        meshing.Deflection = StdPrs_ToolTriangulatedShape::GetDeflection(object->Shape(), drawer);
        meshing.Angle = drawer->DeviationAngle();
        meshing.InParallel = BRepMesh_IncrementalMesh::IsParallelDefault();
        parameters.push_back(meshing);
    }
    if (shapes.empty())
        return true;
    std::atomic<bool> stopped{false};
    const Handle(qor::io::CancelIndicator) indicator
        = new qor::io::CancelIndicator([&stopped] { return stopped.load(); });
    Message_ProgressScope scope(indicator->Start(), nullptr, double(shapes.size()));
    std::vector<Message_ProgressRange> ranges;
    ranges.reserve(shapes.size());
    for (std::size_t i = 0; i < shapes.size(); ++i)
        ranges.push_back(scope.Next());
    const bool parallel = shapes.size() > 1 && !sharesFaces(shapes);
    qor::io::runOnReaderThread(
        [&] {
            OSD_Parallel::For(
                0, int(shapes.size()),
                [&](int i) {
                    qor::io::meshShape(shapes[std::size_t(i)], parameters[std::size_t(i)],
                                       ranges[std::size_t(i)]);
                },
                !parallel);
        },
        [&] {
            if (progress && !stopped && !progress(indicator->shownPosition()))
                stopped = true;
        });
    return !stopped;
}

// Mesa's software rasteriser keeps what every draw of a frame needs until the frame is done;
// with thousands of placements that is hundreds of megabytes. Waiting for it every 128
// placements keeps it small (10,000 placements: 40 MB less than every 256, 0.2 s more to the
// first frame). A GPU is left alone.
constexpr unsigned drainEvery = 128;

class SoftwareDrain : public OpenGl_Element {
public:
    void Render(const Handle(OpenGl_Workspace)& workspace) const override
    {
        const Handle(OpenGl_Context)& gl = workspace->GetGlContext();
        static const bool software = [&gl] {
            const auto* renderer
                = reinterpret_cast<const char*>(gl->core11fwd->glGetString(GL_RENDERER));
            const QByteArray name = QByteArray(renderer ? renderer : "").toLower();
            return name.contains("llvmpipe") || name.contains("softpipe")
                   || name.contains("swrast");
        }();
        static unsigned drawn = 0;
        if (software && ++drawn % drainEvery == 0)
            gl->core11fwd->glFinish();
    }
    void Release(OpenGl_Context*) override { }
};

// Where the triangles of a body read from a mesh file part into smooth regions: the walls of
// holes meshed with 10 or more sides stay round, while a 45° chamfer keeps its edges.
constexpr double meshCreaseAngle = 40.0 * std::numbers::pi / 180.0;

// The triangles shaded with their creased normals and, where the drawer asks for face
// boundaries (or in the wireframe), the sharp edges drawn as lines.
void presentCreasedMesh(const CreasedMesh& mesh, const Handle(Prs3d_Presentation)& presentation,
                        const Handle(Prs3d_Drawer)& drawer, bool shaded)
{
    if (shaded && !mesh.triangles.empty()) {
        Handle(Graphic3d_ArrayOfTriangles) triangles
            = new Graphic3d_ArrayOfTriangles(int(mesh.nodes.size()), int(3 * mesh.triangles.size()),
                                             Graphic3d_ArrayFlags_VertexNormal);
        for (std::size_t i = 0; i < mesh.nodes.size(); ++i)
            triangles->AddVertex(mesh.nodes[i], gp_Dir(mesh.normals[i]));
        for (const auto& t : mesh.triangles)
            triangles->AddEdges(t[0] + 1, t[1] + 1, t[2] + 1);
        const Handle(Graphic3d_Group) group = presentation->NewGroup();
        group->SetGroupPrimitivesAspect(drawer->ShadingAspect()->Aspect());
        group->AddPrimitiveArray(triangles);
    }
    if ((shaded && !drawer->FaceBoundaryDraw()) || mesh.creases.empty())
        return;
    Handle(Graphic3d_ArrayOfSegments) lines
        = new Graphic3d_ArrayOfSegments(int(2 * mesh.creases.size()));
    for (const auto& [from, to] : mesh.creases) {
        lines->AddVertex(from);
        lines->AddVertex(to);
    }
    const Handle(Graphic3d_Group) group = presentation->NewGroup();
    group->SetGroupPrimitivesAspect(
        (shaded ? drawer->FaceBoundaryAspect() : drawer->WireAspect())->Aspect());
    group->AddPrimitiveArray(lines);
}

// The shape object of a body, or the one that placements share; its presentations end in the
// drain. A body read from a mesh file is shown creased.
class BodyShape : public AIS_Shape {
public:
    explicit BodyShape(const TopoDS_Shape& shape)
        : AIS_Shape(shape)
        , meshOnly_(qor::io::isMeshOnly(shape))
    {
    }

protected:
    void Compute(const Handle(PrsMgr_PresentationManager)& manager,
                 const Handle(Prs3d_Presentation)& presentation,
                 const Standard_Integer mode) override
    {
        if (meshOnly_ && (mode == 0 || mode == 1)) {
            // The shaded and the wireframe presentation share one creasing.
            if (!creased_)
                creased_ = creasedMesh(myshape, meshCreaseAngle);
            presentCreasedMesh(*creased_, presentation, myDrawer, mode == 1);
        } else {
            AIS_Shape::Compute(manager, presentation, mode);
        }
        if (auto* group = dynamic_cast<OpenGl_Group*>(presentation->NewGroup().get()))
            group->AddElement(new SoftwareDrain());
    }

private:
    const bool meshOnly_;
    std::optional<CreasedMesh> creased_;
};

class PlacementFinder;

// What a placement is found by until it is refined: its id and its box in the world. Selected
// whole (by a rectangle around the placement) it stands for all its faces and edges, and it
// highlights the placement's own presentation, which draws the shared shape, instead of
// making a presentation for each face and edge.
class PlacementOwner : public SelectMgr_EntityOwner {
public:
    PlacementOwner(PlacementFinder* finder, int id, const Bnd_Box& box);
    // The placement's object while the scene still shows the one this owner was made for.
    Handle(AIS_InteractiveObject) placement() const;
    Standard_Boolean IsHilighted(const Handle(PrsMgr_PresentationManager)& manager,
                                 const Standard_Integer mode) const override;
    void HilightWithColor(const Handle(PrsMgr_PresentationManager)& manager,
                          const Handle(Prs3d_Drawer)& style, const Standard_Integer mode) override;
    void Unhilight(const Handle(PrsMgr_PresentationManager)& manager,
                   const Standard_Integer mode) override;

    const int bodyId;
    Bnd_Box box;

private:
    // The mark of the object this owner was made for: an object made later at the same
    // address is another placement.
    Handle(Standard_Transient) madeFor_;
};

// One undrawn object that holds a box for every placement: faces and edges for picking would
// cost every placement more than all the rest of it, and even a selection of its own costs a
// placement kilobytes. The placement under the pointer gets its own (Scene::refineDetection).
class PlacementFinder : public AIS_InteractiveObject {
public:
    explicit PlacementFinder(std::function<Handle(AIS_InteractiveObject)(int)> placementOf)
        : placementOf(std::move(placementOf))
    {
    }

    std::vector<std::pair<int, Bnd_Box>> boxes;
    // The object the scene shows for a placement's body id; null when it shows none.
    const std::function<Handle(AIS_InteractiveObject)(int)> placementOf;

    Standard_Boolean AcceptDisplayMode(const Standard_Integer mode) const override
    {
        return mode == 0;
    }

protected:
    // Nothing is drawn, but a view picks only what it shows: the presentation has the extent
    // of the boxes and no primitives.
    void Compute(const Handle(PrsMgr_PresentationManager)&,
                 const Handle(Prs3d_Presentation)& presentation, const Standard_Integer) override
    {
        Bnd_Box all;
        for (const auto& [id, box] : boxes)
            all.Add(box);
        if (all.IsVoid())
            return;
        const gp_Pnt low = all.CornerMin();
        const gp_Pnt high = all.CornerMax();
        presentation->NewGroup()->SetMinMaxValues(low.X(), low.Y(), low.Z(), high.X(), high.Y(),
                                                  high.Z());
    }
    void ComputeSelection(const Handle(SelectMgr_Selection)& selection,
                          const Standard_Integer mode) override
    {
        if (mode != 0)
            return;
        // A placement keeps its owner while its object stays, so that a selection holding
        // it goes on naming the same placement when others come, go or move.
        std::map<int, Handle(PlacementOwner)> kept;
        for (const auto& [id, box] : boxes) {
            Handle(PlacementOwner)& owner = kept[id];
            const auto old = owners_.find(id);
            if (old != owners_.end() && !old->second->placement().IsNull()) {
                owner = old->second;
                owner->box = box;
            } else {
                owner = new PlacementOwner(this, id, box);
            }
            selection->Add(new Select3D_SensitiveBox(owner, box));
        }
        owners_ = std::move(kept);
    }

private:
    std::map<int, Handle(PlacementOwner)> owners_;
};

// A datum or construction plane: a big flat face through the model. The kernel ranks a face
// picked as a whole shape above a sketch region's face; ranked below, a region drawn on a
// plane wins over the plane.
class PlaneShape : public AIS_Shape {
public:
    using AIS_Shape::AIS_Shape;

protected:
    void ComputeSelection(const Handle(SelectMgr_Selection)& selection,
                          const Standard_Integer mode) override
    {
        AIS_Shape::ComputeSelection(selection, mode);
        for (const Handle(SelectMgr_SensitiveEntity)& entity : selection->Entities()) {
            if (const Handle(SelectMgr_EntityOwner)& owner = entity->BaseSensitive()->OwnerId())
                owner->SetPriority(planePickPriority);
        }
    }
};

// Only placements still found by their box are: one that has its own faces and edges, or one
// that is gone (its box stays until the rebuild ends), is not.
class PlacementBoxFilter : public SelectMgr_Filter {
public:
    explicit PlacementBoxFilter(std::function<bool(int)> findsByBox)
        : findsByBox_(std::move(findsByBox))
    {
    }
    Standard_Boolean IsOk(const Handle(SelectMgr_EntityOwner)& owner) const override
    {
        const auto* placement = dynamic_cast<const PlacementOwner*>(owner.get());
        return placement == nullptr || findsByBox_(placement->bodyId);
    }

private:
    std::function<bool(int)> findsByBox_;
};

// Origin and work planes are see-through: they run through and in front of the bodies, and
// where the pointer is over a body, the user points at the body. A plane is detected only
// where no part of a body lies under the pointer. A rectangle picks planes as before.
class SeeThroughPlaneFilter : public SelectMgr_Filter {
public:
    SeeThroughPlaneFilter(const Handle(SelectMgr_ViewerSelector)& selector,
                          std::function<bool(const Handle(SelectMgr_EntityOwner)&)> isPlane,
                          std::function<bool(const Handle(SelectMgr_EntityOwner)&)> isBody)
        : selector_(selector.get())
        , isPlane_(std::move(isPlane))
        , isBody_(std::move(isBody))
    {
    }
    // The context asks about each owner the selector found under the pointer, after it
    // found them all: the others are the selector's picked owners still. The type comes
    // first, so that the owners of a large rectangle cost no look-up.
    Standard_Boolean IsOk(const Handle(SelectMgr_EntityOwner)& owner) const override
    {
        if (selector_->GetManager().GetActiveSelectionType() != SelectMgr_SelectionType_Point
            || !isPlane_(owner))
            return true;
        for (int i = 1; i <= selector_->NbPicked(); ++i) {
            if (isBody_(selector_->Picked(i)))
                return false;
        }
        return true;
    }

private:
    // The context's own selector, which lives as long as the context holding this filter.
    SelectMgr_ViewerSelector* selector_;
    std::function<bool(const Handle(SelectMgr_EntityOwner)&)> isPlane_;
    std::function<bool(const Handle(SelectMgr_EntityOwner)&)> isBody_;
};

PlacementOwner::PlacementOwner(PlacementFinder* finder, int id, const Bnd_Box& box)
    : SelectMgr_EntityOwner(finder)
    , bodyId(id)
    , box(box)
{
    // Not marked as coming from a decomposition, it is highlighted in the opaque style of
    // whole objects: the translucent one of faces and edges costs the software renderer a
    // hundred megabytes over ten thousand placements.
    const Handle(AIS_InteractiveObject) shown = finder->placementOf(id);
    if (shown.IsNull())
        return;
    if (!shown->HasOwner())
        shown->SetOwner(new Standard_Transient());
    madeFor_ = shown->GetOwner();
}

Handle(AIS_InteractiveObject) PlacementOwner::placement() const
{
    if (madeFor_.IsNull() || mySelectable == nullptr)
        return {};
    Handle(AIS_InteractiveObject) shown
        = static_cast<const PlacementFinder*>(mySelectable)->placementOf(bodyId);
    return !shown.IsNull() && shown->GetOwner() == madeFor_ ? shown
                                                            : Handle(AIS_InteractiveObject)();
}

Standard_Boolean PlacementOwner::IsHilighted(const Handle(PrsMgr_PresentationManager)& manager,
                                             const Standard_Integer) const
{
    const Handle(AIS_InteractiveObject) shown = placement();
    return !shown.IsNull() && manager->IsHighlighted(shown, shown->DisplayMode());
}

// The placement's presentation in the highlight style: no new geometry, one draw as before.
void PlacementOwner::HilightWithColor(const Handle(PrsMgr_PresentationManager)& manager,
                                      const Handle(Prs3d_Drawer)& style, const Standard_Integer)
{
    const Handle(AIS_InteractiveObject) shown = placement();
    if (shown.IsNull())
        return;
    const Graphic3d_ZLayerId layer
        = style->ZLayer() != Graphic3d_ZLayerId_UNKNOWN ? style->ZLayer() : shown->ZLayer();
    manager->Color(shown, style, shown->DisplayMode(), nullptr, layer);
}

void PlacementOwner::Unhilight(const Handle(PrsMgr_PresentationManager)& manager,
                               const Standard_Integer)
{
    if (const Handle(AIS_InteractiveObject) shown = placement())
        manager->Unhighlight(shown);
}

} // namespace

QString Scene::outOfMemoryText()
{
    return QStringLiteral("Zu wenig Arbeitsspeicher: Nicht alle Körper können angezeigt werden");
}

Quantity_Color toQuantityColor(const QColor& colour)
{
    return Quantity_Color(colour.redF(), colour.greenF(), colour.blueF(), Quantity_TOC_sRGB);
}

namespace {

void applyShadedLook(const Handle(AIS_Shape)& object, const QColor& colour, bool faceBoundary,
                     double transparency)
{
    const Handle(Prs3d_Drawer)& drawer = object->Attributes();
    drawer->SetDisplayMode(1);
    Graphic3d_MaterialAspect material(Graphic3d_NameOfMaterial_UserDefined);
    material.SetMaterialType(Graphic3d_MATERIAL_ASPECT);
    object->SetMaterial(material);
    object->SetColor(toQuantityColor(colour));
    object->SetTransparency(transparency);
    drawer->SetFaceBoundaryDraw(faceBoundary);
    drawer->SetFaceBoundaryAspect(lineAspect(colour, Aspect_TOL_SOLID, 1.2));
}

// A plane of the given half size, shaded and framed in its colour.
Handle(AIS_Shape) makePlaneObject(const gp_Ax3& plane, double half, const QColor& colour,
                                  double transparency)
{
    Handle(AIS_Shape) object = new PlaneShape(planeFace(plane, half));
    applyShadedLook(object, colour, true, transparency);
    return object;
}

} // namespace

Handle(AIS_Shape) makeShadedObject(const TopoDS_Shape& shape, const QColor& colour,
                                   bool faceBoundary, double transparency)
{
    Handle(AIS_Shape) object = new AIS_Shape(shape);
    applyShadedLook(object, colour, faceBoundary, transparency);
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
    // The viewer may outlive the scene: it asks only while the scene is there.
    viewer_->detectionRefiner
        = [scene = QPointer<Scene>(this)] { return scene && scene->refineDetection(); };
    viewer_->areaRefiner = [scene = QPointer<Scene>(this)] {
        if (scene)
            scene->refinePickedPlacements();
    };
    // Every filter must let an owner through (the context's default is any one).
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    context->SetFilterType(SelectMgr_FilterType_AND);
    context->AddFilter(new SeeThroughPlaneFilter(
        context->MainSelector(),
        [scene = QPointer<Scene>(this)](const Handle(SelectMgr_EntityOwner)& owner) {
            const int kind = scene ? scene->ownerKind(owner) : 0;
            return kind == 5 || kind == 7;
        },
        [scene = QPointer<Scene>(this)](const Handle(SelectMgr_EntityOwner)& owner) {
            return scene && scene->isBodyOwner(owner);
        }));
}

// The context goes with the viewer; only the handles are released here.
Scene::~Scene() = default;

Handle(AIS_InteractiveObject) Scene::bodyObject(int id) const
{
    const auto found = bodyObjects_.find(id);
    return found == bodyObjects_.end() ? Handle(AIS_InteractiveObject)() : found->second;
}

std::set<int> Scene::leftOutBodies() const
{
    std::set<int> leftOut;
    if (!buildCancelled_)
        return leftOut;
    for (const auto& [id, body] : state(controller_).bodies) {
        if (!isHidden(id) && !bodyObjects_.count(id))
            leftOut.insert(id);
    }
    return leftOut;
}

Handle(AIS_Shape) Scene::bodyShapeObject(int id) const
{
    const Handle(AIS_InteractiveObject) object = bodyObject(id);
    if (const auto instance = Handle(AIS_ConnectedInteractive)::DownCast(object))
        return Handle(AIS_Shape)::DownCast(instance->ConnectedTo());
    return Handle(AIS_Shape)::DownCast(object);
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
    // The build's progress lets events through; one of them asking for a rebuild gets it
    // once this one is done.
    if (building_) {
        rebuildAgain_ = true;
        return;
    }
    {
        const QScopedValueRollback<bool> building(building_, true);
        do {
            rebuildAgain_ = false;
            rebuildOnce();
        } while (rebuildAgain_);
    }
    emit rebuilt();
}

void Scene::rebuildOnce()
{
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    for (const Handle(AIS_InteractiveObject)& object : extraObjects_)
        context->Remove(object, false);
    extraObjects_.clear();
    if (!previewObject_.IsNull()) {
        context->Remove(previewObject_, false);
        previewObject_.Nullify();
    }
    // Running out of memory costs what is not shown yet, not the program: every object is
    // recorded as soon as it is shown, so what is shown stays consistent, and the main window
    // tells the user.
    buildProblem_.clear();
    buildCancelled_ = false;
    try {
        showDocument();
    } catch (const Standard_OutOfMemory&) {
        buildProblem_ = outOfMemoryText();
    } catch (const std::bad_alloc&) {
        buildProblem_ = outOfMemoryText();
    }
    std::erase_if(sharedObjects_, [](const auto& entry) { return entry.second.users <= 0; });
    viewer_->requestRedraw();
}

void Scene::showDocument()
{
    if (sharedStyle() != sharedStyle_) {
        dropInstances();
        sharedStyle_ = sharedStyle();
    }
    dropStaleBodies();
    std::erase_if(pickMap_, [](const auto& entry) { return entry.second.kind != 4; });

    const std::unordered_set<const void*> repeated = repeatedShapes();
    std::vector<int> created;
    std::vector<int> placed;
    for (const auto& [id, body] : state(controller_).bodies) {
        if (isHidden(id))
            continue;
        const auto found = bodyObjects_.find(id);
        if (found == bodyObjects_.end())
            (componentOfBody(id) >= 0 || repeated.count(body.shape.TShape().get()) ? placed
                                                                                   : created)
                .push_back(id);
        else if (!instances_.count(id))
            updateBodyObject(id, Handle(AIS_Shape)::DownCast(found->second));
    }
    createAll(created, placed);

    showOrigin();
    showWorkGeometry();
    showSketches();
    showThreadHelices();
    applyExplode();
    updateFinder();
    applySelectionModes();
}

std::unordered_set<const void*> Scene::repeatedShapes() const
{
    std::unordered_set<const void*> seen;
    std::unordered_set<const void*> repeated;
    for (const auto& [id, body] : state(controller_).bodies) {
        if (!body.shape.IsNull() && !isHidden(id) && !seen.insert(body.shape.TShape().get()).second)
            repeated.insert(body.shape.TShape().get());
    }
    return repeated;
}

void Scene::dropStaleBodies()
{
    const auto& bodies = state(controller_).bodies;
    std::vector<int> stale;
    for (const auto& [id, object] : bodyObjects_) {
        const auto body = bodies.find(id);
        const auto instance = instances_.find(id);
        const TopoDS_Shape& shown = instance != instances_.end()
                                        ? instance->second.shape
                                        : Handle(AIS_Shape)::DownCast(object)->Shape();
        bool keep = body != bodies.end() && !isHidden(id)
                    && body->second.shape.TShape() == shown.TShape()
                    && body->second.shape.Location() == shown.Location();
        // An instance shows its look through the shared object: a new look is a new instance.
        if (keep && instance != instances_.end())
            keep = sharedKey(id, body->second.shape) == instance->second.key;
        if (!keep)
            stale.push_back(id);
    }
    for (int id : stale)
        removeBodyObject(id);
}

void Scene::removeBodyObject(int id)
{
    const auto found = bodyObjects_.find(id);
    if (found == bodyObjects_.end())
        return;
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    context->Remove(found->second, false);
    pickMap_.erase(found->second.get());
    bodyObjects_.erase(found);
    const auto instance = instances_.find(id);
    if (instance == instances_.end())
        return;
    const auto shared = sharedObjects_.find(instance->second.key);
    instances_.erase(instance);
    // The finder's box of a placement that is gone would still count in the view's extent.
    finderStale_ = true;
    if (shared != sharedObjects_.end() && --shared->second.users <= 0) {
        // The shared object is never displayed itself; its presentations go with it.
        context->MainPrsMgr()->Clear(shared->second.object, 0);
        context->MainPrsMgr()->Clear(shared->second.object, 1);
        sharedObjects_.erase(shared);
    }
}

void Scene::dropInstances()
{
    std::vector<int> ids;
    ids.reserve(instances_.size());
    for (const auto& [id, instance] : instances_)
        ids.push_back(id);
    for (int id : ids)
        removeBodyObject(id);
    exploded_ = false;
}

int Scene::sharedStyle() const
{
    return displayStyle_ * 2 + (displayStyle_ == 0 && viewer_->renderMode() == 0 ? 1 : 0);
}

Scene::SharedKey Scene::sharedKey(int bodyId, const TopoDS_Shape& shape) const
{
    const qor::model::BodyAppearance look = controller_->document->bodyAppearance(bodyId);
    const qor::model::Material* row = qor::model::findMaterial(look.material);
    return SharedKey{shape.TShape().get(),
                     int(shape.Orientation()),
                     {look.r, look.g, look.b, row ? row->metallic : 0.3}};
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

Handle(AIS_Shape) Scene::makeBodyObject(const TopoDS_Shape& shape, int appearanceOf) const
{
    const Theme& t = theme();
    Handle(AIS_Shape) object = new BodyShape(shape);
    const Handle(Prs3d_Drawer)& drawer = object->Attributes();
    drawer->SetDeviationCoefficient(bodyDeviationCoefficient);
    drawer->SetDeviationAngle(bodyDeviationAngle);
    // The scene meshes every body itself (tessellate), with progress and a cancel. Where the
    // kernel's check of the mesh disagrees (faces kept from a cancelled meshing, say), its
    // own meshing would start again inside Display, without either, and with a search for
    // crossing borders that takes minutes on a plate of thousands of holes.
    drawer->SetAutoTriangulation(false);
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
    object->SetMaterial(appearanceMaterial(appearanceOf));
    drawer->SetDisplayMode(displayStyle_ == 2 ? 0 : 1);
    return object;
}

void Scene::createAll(const std::vector<int>& created, const std::vector<int>& placed)
{
    const std::size_t total = created.size() + placed.size();
    const bool reported = buildProgress && total >= reportedBuildSize;
    std::size_t done = 0;
    for (const auto& [ids, instances] : {std::pair{&created, false}, std::pair{&placed, true}}) {
        for (std::size_t at = 0; at < ids->size(); at += buildChunk) {
            const std::vector<int> chunk(ids->begin() + qsizetype(at),
                                         ids->begin()
                                             + qsizetype(std::min(ids->size(), at + buildChunk)));
            // A long meshing reports how far it is within the chunk; the chunk's display and
            // selection, which follow it unreported, keep the rest of the chunk's share.
            const auto meshing = [&](double share) {
                return !buildProgress
                       || buildProgress(
                           progressSteps(double(done) + meshShare * share * double(chunk.size())),
                           progressSteps(double(total)));
            };
            const bool meshed
                = instances ? createInstances(chunk, meshing) : createBodyObjects(chunk, meshing);
            if (!meshed) {
                buildProblem_ = cancelledText(int(done), int(total));
                buildCancelled_ = true;
                return;
            }
            done += chunk.size();
            if (reported
                && !buildProgress(progressSteps(double(done)), progressSteps(double(total)))
                && done < total) {
                buildProblem_ = cancelledText(int(done), int(total));
                buildCancelled_ = true;
                return;
            }
        }
    }
}

int Scene::progressSteps(double bodies)
{
    return int(std::lround(bodies * double(stepsPerBody)));
}

QString Scene::cancelledText(int shown, int total)
{
    return QStringLiteral("Anzeige abgebrochen: %1 von %2 Körpern werden angezeigt")
        .arg(germanCount(std::uint64_t(shown)), germanCount(std::uint64_t(total)));
}

bool Scene::createBodyObjects(const std::vector<int>& ids,
                              const std::function<bool(double)>& progress)
{
    const auto& bodies = state(controller_).bodies;
    std::vector<Handle(AIS_Shape)> objects;
    objects.reserve(ids.size());
    for (int id : ids)
        objects.push_back(makeBodyObject(bodies.at(id).shape, id));
    if (!tessellate(objects, progress))
        return false;
    // The faces and edges for picking are computed here, within the chunk's share of the
    // progress, rather than by the selection modes after the last chunk.
    const std::vector<int> modes = bodySelectionModes(selectionMask_);
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const Handle(AIS_Shape)& object = objects[i];
        viewer_->context()->Display(object, object->Attributes()->DisplayMode(), 0, false,
                                    PrsMgr_DisplayStatus_None);
        activateBodyModes(ids[i], object, modes);
        bodyObjects_[ids[i]] = object;
        pickMap_[object.get()] = PickRecord{4, ids[i], 0, 0.0, 0.0};
    }
    return true;
}

bool Scene::createInstances(const std::vector<int>& ids,
                            const std::function<bool(double)>& progress)
{
    const auto& bodies = state(controller_).bodies;
    // The shared objects hold the shape where its part has it: its tolerance comes from that
    // box, the same for every placement, so it is meshed once.
    std::vector<Handle(AIS_Shape)> meshed;
    std::set<const void*> meshedShapes;
    std::vector<SharedKey> keys;
    keys.reserve(ids.size());
    for (int id : ids) {
        const TopoDS_Shape& shape = bodies.at(id).shape;
        keys.push_back(sharedKey(id, shape));
        SharedObject& shared = sharedObjects_[keys.back()];
        if (!shared.object.IsNull())
            continue;
        shared.object = makeBodyObject(shape.Located(TopLoc_Location()), id);
        if (meshedShapes.insert(shape.TShape().get()).second)
            meshed.push_back(shared.object);
    }
    // The shared objects made for this chunk have no users yet: the rebuild drops them.
    if (!tessellate(meshed, progress))
        return false;
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    const int mode = displayStyle_ == 2 ? 0 : 1;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const int id = ids[i];
        const TopoDS_Shape& shape = bodies.at(id).shape;
        const SharedKey& key = keys[i];
        SharedObject& shared = sharedObjects_.at(key);
        Handle(AIS_ConnectedInteractive) instance = new AIS_ConnectedInteractive();
        // The body's own placement datum, where it is a single one, lets a picked face be the
        // very face of the body.
        const TopLoc_Location& at = shape.Location();
        if (at.IsIdentity())
            instance->Connect(shared.object);
        else if (at.NextLocation().IsIdentity() && at.FirstPower() == 1)
            instance->Connect(shared.object, at.FirstDatum());
        else
            instance->Connect(shared.object, at.Transformation());
        // Found by the finder's box until the pointer comes to it: no selection of its own.
        instance->SetDisplayMode(mode);
        context->Display(instance, mode, -1, false, PrsMgr_DisplayStatus_None);
        ++shared.users;
        bodyObjects_[id] = instance;
        instances_[id] = Instance{key, shape, gp_XYZ(), false};
        finderStale_ = true;
        pickMap_[instance.get()] = PickRecord{4, id, 0, 0.0, 0.0};
    }
    return true;
}

bool Scene::refinePlacement(const Handle(SelectMgr_EntityOwner)& owner)
{
    const auto* placement = dynamic_cast<const PlacementOwner*>(owner.get());
    if (placement == nullptr)
        return false;
    const auto instance = instances_.find(placement->bodyId);
    if (instance == instances_.end() || instance->second.refined)
        return false;
    instance->second.refined = true;
    const Handle(AIS_InteractiveObject)& object = bodyObjects_.at(placement->bodyId);
    activateBodyModes(placement->bodyId, object, bodySelectionModes(selectionMask_));
    if (owner->IsSelected())
        selectElementsInstead(owner, object);
    return true;
}

// A placement selected whole that gets its own faces and edges is selected as those from now
// on, so that a click on one of them toggles that one as it would have without the shortcut.
void Scene::selectElementsInstead(const Handle(SelectMgr_EntityOwner)& whole,
                                  const Handle(AIS_InteractiveObject)& object)
{
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    context->AddOrRemoveSelected(whole, false);
    std::set<const SelectMgr_EntityOwner*> added;
    for (const Handle(SelectMgr_Selection)& selection : object->Selections()) {
        if (selection->GetSelectionState() != SelectMgr_SOS_Activated)
            continue;
        for (const Handle(SelectMgr_SensitiveEntity)& entity : selection->Entities()) {
            const Handle(SelectMgr_EntityOwner)& owner = entity->BaseSensitive()->OwnerId();
            if (!owner.IsNull() && !owner->IsSelected() && added.insert(owner.get()).second)
                context->AddOrRemoveSelected(owner, false);
        }
    }
}

bool Scene::refineDetection()
{
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    return context->HasDetected() && refinePlacement(context->DetectedOwner());
}

void Scene::refinePickedPlacements()
{
    const Handle(StdSelect_ViewerSelector3d)& selector = viewer_->context()->MainSelector();
    // A placement whose box lies wholly inside the area has every face and edge inside it:
    // its box stands for all of them. A section cuts what a pick finds, so under one each
    // placement is picked by its own faces and edges.
    const bool wholeByBox = !viewer_->sectionOn();
    // Refining changes the selector's objects; the owners are taken first.
    std::vector<Handle(SelectMgr_EntityOwner)> picked;
    picked.reserve(std::size_t(selector->NbPicked()));
    for (int i = 1; i <= selector->NbPicked(); ++i) {
        const Handle(SelectMgr_EntityOwner)& owner = selector->Picked(i);
        const auto* placement = dynamic_cast<const PlacementOwner*>(owner.get());
        if (placement == nullptr)
            continue;
        Standard_Boolean inside = Standard_True; // narrowed by the test
        const gp_Pnt low = placement->box.CornerMin();
        const gp_Pnt high = placement->box.CornerMax();
        if (wholeByBox
            && selector->GetManager().OverlapsBox(SelectMgr_Vec3(low.X(), low.Y(), low.Z()),
                                                  SelectMgr_Vec3(high.X(), high.Y(), high.Z()),
                                                  &inside)
            && inside)
            continue;
        picked.push_back(owner);
    }
    for (const Handle(SelectMgr_EntityOwner)& owner : picked)
        refinePlacement(owner);
}

void Scene::placeOnBody(PickInfo& info, const Handle(SelectMgr_EntityOwner)& owner) const
{
    if (info.shape.IsNull() || info.kind < 1 || info.kind > 4)
        return;
    const auto instance = instances_.find(info.id);
    if (instance == instances_.end() || instance->second.offset.Modulus() > 0.0)
        return;
    const TopoDS_Shape& body = instance->second.shape;
    const auto* picked = dynamic_cast<const StdSelect_BRepOwner*>(owner.get());
    info.shape
        = picked != nullptr && picked->HasShape() ? picked->Shape().Moved(body.Location()) : body;
}

Handle(AIS_InteractiveObject) Scene::placementObject(int id) const
{
    return instances_.count(id) ? bodyObjects_.at(id) : Handle(AIS_InteractiveObject)();
}

bool Scene::appendPlacementPicks(const Handle(SelectMgr_EntityOwner)& owner, ElementLists& elements,
                                 std::vector<PickInfo>& picks) const
{
    const auto* whole = dynamic_cast<const PlacementOwner*>(owner.get());
    if (whole == nullptr)
        return false;
    const auto placed = Handle(AIS_ConnectedInteractive)::DownCast(whole->placement());
    const auto shown = placed.IsNull() ? Handle(AIS_Shape)()
                                       : Handle(AIS_Shape)::DownCast(placed->ConnectedTo());
    if (shown.IsNull())
        return true; // its placement is gone
    auto [found, added] = elements.try_emplace(shown.get());
    if (added)
        found->second = selectableElements(shown->Shape(), selectionMask_);
    // Where it stands, a placement's elements carry its body's own location (a chain of
    // several for a part in a sub-assembly), which makes them the body's very faces and edges.
    const Instance& instance = instances_.at(whole->bodyId);
    const TopLoc_Location at
        = instance.offset.Modulus() > 0.0 ? placedAt(*placed) : instance.shape.Location();
    for (const TopoDS_Shape& element : found->second)
        picks.push_back(bodyElementPick(whole->bodyId, element, at));
    return true;
}

bool Scene::findsByBox(int id) const
{
    const auto instance = instances_.find(id);
    return instance != instances_.end() && !instance->second.refined;
}

bool Scene::isBodyOwner(const Handle(SelectMgr_EntityOwner)& owner) const
{
    if (const auto* placement = dynamic_cast<const PlacementOwner*>(owner.get()))
        return findsByBox(placement->bodyId);
    return ownerKind(owner) == 4;
}

int Scene::ownerKind(const Handle(SelectMgr_EntityOwner)& owner) const
{
    const PickRecord* record = pickRecordOf(owner, pickMap_);
    return record ? record->kind : 0;
}

void Scene::updateFinder()
{
    if (!finderStale_)
        return;
    finderStale_ = false;
    const Handle(AIS_InteractiveContext)& context = viewer_->context();
    if (finder_.IsNull()) {
        finder_ = new PlacementFinder([scene = QPointer<Scene>(this)](int id) {
            return scene ? scene->placementObject(id) : Handle(AIS_InteractiveObject)();
        });
        context->AddFilter(new PlacementBoxFilter(
            [scene = QPointer<Scene>(this)](int id) { return scene && scene->findsByBox(id); }));
    }
    auto& boxes = static_cast<PlacementFinder*>(finder_.get())->boxes;
    boxes.clear();
    boxes.reserve(instances_.size());
    for (const auto& [id, instance] : instances_) {
        const Handle(AIS_InteractiveObject)& object = bodyObjects_.at(id);
        const auto placed = Handle(AIS_ConnectedInteractive)::DownCast(object);
        const auto shape = Handle(AIS_Shape)::DownCast(placed->ConnectedTo());
        if (shape.IsNull() || shape->BoundingBox().IsVoid())
            continue;
        boxes.emplace_back(id, shape->BoundingBox().Transformed(object->LocalTransformation()));
    }
    if (boxes.empty()) {
        context->Remove(finder_, false);
        return;
    }
    if (!context->IsDisplayed(finder_)) {
        context->Display(finder_, 0, 0, false, PrsMgr_DisplayStatus_None);
        return;
    }
    context->Redisplay(finder_, false);
    context->RecomputeSelectionOnly(finder_);
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
        showExtra(makePlaneObject(plane, s, colour, 0.86), 1, &record);

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
    // The model's size takes every body's box: a second with 100,000 placements, for nothing
    // when there is no construction geometry.
    if (current.planes.empty() && current.axes.empty())
        return;
    const QColor warning = theme().warning;
    const double s = std::max(0.3 * qor::model::Document::modelSize(current), 25.0);
    for (const auto& [id, plane] : current.planes) {
        if (current.sketches.count(id) || isHidden(-id))
            continue;
        const PickRecord record{7, id, 0, 0.0, 0.0};
        showExtra(makePlaneObject(plane, s, warning, 0.82), 1, &record);
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
