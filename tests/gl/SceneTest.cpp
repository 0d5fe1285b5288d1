#include "view/Scene.h"
#include "io/Import.h"
#include "io/ShapeText.h"
#include "model/DocumentController.h"
#include "model/References.h"
#include "tests/common/Seeds.h"
#include "tests/common/TempFiles.h"
#include "tests/fixtures/InstancedAssembly.h"
#include "tests/fixtures/StlFixtures.h"
#include "tests/gl/ShowViewer.h"
#include "tests/gl/ViewPixels.h"
#include "ui/theme/Theme.h"
#include "view/Previews.h"
#include "view/Viewer.h"

#include <AIS_TextLabel.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Poly_Triangulation.hxx>
#include <TColStd_ListOfInteger.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace qor::app;

namespace {

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(qor::test::showViewer(viewer, 480, 360)); }

    qor::model::Document& doc() { return *controller.document; }

    int addBox(double x, double length)
    {
        return doc().addFeature("box", {{"x", x}, {"length", length}, {"op", "new"}})->id;
    }

    void recomputeAndShow()
    {
        controller.recompute();
        for (const auto& f : doc().features)
            ASSERT_EQ(f->error, QString()) << f->type.toStdString();
        scene.rebuild();
    }

    // Records of the scene's non-body objects of one kind.
    std::vector<PickRecord> records(int kind) const
    {
        std::vector<PickRecord> found;
        for (const auto& [object, record] : scene.pickMap()) {
            if (record.kind == kind)
                found.push_back(record);
        }
        return found;
    }

    // A click at a logical pixel, straight through the interactive context.
    std::vector<PickInfo> clickAt(QPoint at)
    {
        const double ratio = viewer.devicePixelRatioF();
        for (int round = 0; round == 0 || (round < 32 && scene.refineDetection()); ++round)
            viewer.context()->MoveTo(int(at.x() * ratio), int(at.y() * ratio), viewer.view(),
                                     false);
        viewer.context()->SelectDetected(AIS_SelectionScheme_Replace);
        return scene.selectedPicks();
    }

    bool selectable(const Handle(AIS_InteractiveObject)& object) const
    {
        TColStd_ListOfInteger modes;
        viewer.context()->ActivatedModes(object, modes);
        return !modes.IsEmpty();
    }

    Viewer viewer;
    DocumentController controller;
    Scene scene{&viewer, &controller};
};

TEST_F(SceneTest, UnchangedBodyKeepsItsObjectAcrossARecompute)
{
    const int a = addBox(-40, 20) * 100;
    const int b = addBox(40, 20) * 100;
    recomputeAndShow();
    const Handle(AIS_InteractiveObject) keptA = scene.bodyObject(a);
    const Handle(AIS_InteractiveObject) oldB = scene.bodyObject(b);
    ASSERT_FALSE(keptA.IsNull());
    ASSERT_FALSE(oldB.IsNull());

    doc().features[1]->params["length"] = 30;
    recomputeAndShow();
    EXPECT_EQ(scene.bodyObject(a), keptA);
    ASSERT_NE(scene.bodyObject(b), oldB);
    EXPECT_FALSE(viewer.context()->IsDisplayed(oldB));
    EXPECT_EQ(scene.pickMap().count(oldB.get()), 0u);
    EXPECT_EQ(scene.pickMap().at(scene.bodyObject(b).get()).id, b);

    // Hiding drops the object; showing again makes a new one.
    doc().hidden[a] = true;
    scene.rebuild();
    EXPECT_TRUE(scene.bodyObject(a).IsNull());
    EXPECT_FALSE(viewer.context()->IsDisplayed(keptA));
    doc().hidden[a] = false;
    scene.rebuild();
    EXPECT_FALSE(scene.bodyObject(a).IsNull());
    EXPECT_NE(scene.bodyObject(a), keptA);

    // Display styles: wireframe, shaded, shaded with boundary edges while rasterised.
    for (const auto [style, mode, edges] : {std::tuple{2, 0, false}, {1, 1, false}, {0, 1, true}}) {
        scene.setDisplayStyle(style);
        EXPECT_EQ(scene.bodyObject(b)->DisplayMode(), mode) << style;
        EXPECT_EQ(scene.bodyObject(b)->Attributes()->FaceBoundaryDraw(), edges) << style;
    }
    EXPECT_EQ(scene.bodyShapeObject(b), scene.bodyObject(b)); // a part body is its own shape
    const Quantity_Color wire = scene.bodyObject(b)->Attributes()->WireAspect()->Aspect()->Color();
    EXPECT_LT(wire.Distance(toQuantityColor(Theme::instance().accent)), 1e-3);
    viewer.setRenderMode(1, false, false);
    scene.rebuild();
    EXPECT_FALSE(scene.bodyObject(b)->Attributes()->FaceBoundaryDraw());
    viewer.setRenderMode(0, false, false);
}

TEST_F(SceneTest, ConsumedSketchHiddenUntilShown)
{
    qor::model::Feature* sketch = doc().addSketch({{"kind", "origin"}, {"id", -1}});
    sketch->sketch->addLineAt(false, 0, 0, 30, 0);
    sketch->sketch->addLineAt(false, 30, 0, 30, 20);
    sketch->sketch->addLineAt(false, 30, 20, 0, 0);
    sketch->sketch->addPoint(false, 10, 5);
    sketch->sketch->addLineAt(true, 0, 10, 30, 10);
    const int id = sketch->id;
    doc().addFeature("extrude",
                     {{"profile", QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", id}}}}});
    recomputeAndShow();
    EXPECT_TRUE(records(10).empty());

    doc().hidden[-id] = false;
    scene.rebuild();
    EXPECT_EQ(records(10).size(), 4u); // three lines and the construction line
    EXPECT_EQ(records(11).size(), 1u);
    EXPECT_TRUE(records(9).empty());

    // Picking curves or regions shows a consumed sketch anyway; regions only under their bit.
    doc().hidden.erase(-id);
    scene.setSelectionMask(mask::curves);
    EXPECT_EQ(records(10).size(), 4u);
    EXPECT_EQ(records(11).size(), 1u);
    EXPECT_TRUE(records(9).empty());
    scene.setSelectionMask(mask::regions);
    ASSERT_EQ(records(9).size(), 1u);
    EXPECT_GT(records(9)[0].u, 0.0);
    EXPECT_LT(records(9)[0].v, 20.0);

    scene.editingSketch = id;
    scene.rebuild();
    EXPECT_TRUE(records(9).empty());
    EXPECT_TRUE(records(10).empty());
}

// Body 100 of feature 1 and work plane 100 are told apart by the sign of the hidden key.
TEST_F(SceneTest, HiddenFeaturesAndBodiesDoNotCollide)
{
    addBox(0, 20);
    for (int i = 2; i <= 100; ++i)
        doc().addFeature("plane", {{"offset", i}});
    ASSERT_EQ(doc().features.back()->id, 100);
    doc().hidden[-100] = true;
    recomputeAndShow();
    EXPECT_FALSE(scene.bodyObject(100).IsNull());
    EXPECT_EQ(records(7).size(), 98u);

    doc().hidden = {{100, true}};
    scene.rebuild();
    EXPECT_TRUE(scene.bodyObject(100).IsNull());
    EXPECT_EQ(records(7).size(), 99u);
}

TEST_F(SceneTest, PickRecordsFollowTheMask)
{
    addBox(0, 60);
    recomputeAndShow();
    viewer.setViewOrientation(V3d_XposYnegZpos, false);
    viewer.fitAll(false);
    const QPoint centre(viewer.width() / 2, viewer.height() / 2);

    std::vector<PickInfo> picks = clickAt(centre);
    ASSERT_EQ(picks.size(), 1u);
    EXPECT_EQ(picks[0].kind, 1);
    EXPECT_EQ(picks[0].id, 100);
    EXPECT_EQ(picks[0].shape.ShapeType(), TopAbs_FACE);

    scene.setSelectionMask(mask::bodies);
    EXPECT_TRUE(scene.selectedPicks().empty()); // a mask change clears the selection
    picks = clickAt(centre);
    ASSERT_EQ(picks.size(), 1u);
    EXPECT_EQ(picks[0].kind, 4);
    EXPECT_EQ(picks[0].shape.ShapeType(), TopAbs_SOLID);

    // Only bits that change what is shown rebuild the scene.
    QSignalSpy rebuilt(&scene, &Scene::rebuilt);
    scene.setSelectionMask(7);
    EXPECT_EQ(rebuilt.count(), 0);
    scene.setSelectionMask(mask::standard);
    EXPECT_EQ(rebuilt.count(), 1);
    scene.setSelectionMask(0);
    EXPECT_TRUE(clickAt(centre).empty());
    EXPECT_EQ(scene.detectedPick().kind, 0);

    // The view cube and the origin labels are known to no record and cannot be picked.
    scene.setSelectionMask(mask::standard);
    EXPECT_TRUE(records(5).empty() && records(6).empty());
    scene.setOriginVisible(true);
    EXPECT_EQ(records(5).size(), 3u);
    EXPECT_EQ(records(6).size(), 3u);
    EXPECT_EQ(scene.pickFromOwner(new SelectMgr_EntityOwner(viewer.viewCube())).kind, 0);
    int labels = 0;
    for (const Handle(AIS_InteractiveObject)& object : scene.extraObjects()) {
        if (!Handle(AIS_TextLabel)::DownCast(object).IsNull()) {
            ++labels;
            EXPECT_FALSE(selectable(object));
            EXPECT_EQ(scene.pickFromOwner(new SelectMgr_EntityOwner(object)).kind, 0);
        }
    }
    EXPECT_EQ(labels, 3);

    // Hidden again, nothing of the origin is left to pick.
    const std::size_t withOrigin = scene.extraObjects().size();
    scene.setOriginVisible(false);
    EXPECT_TRUE(records(5).empty() && records(6).empty());
    EXPECT_EQ(scene.extraObjects().size(), withOrigin - 9);
}

// A sketch line answers to the axis bit, a region click carries the region's interior point.
TEST_F(SceneTest, SketchCurvesAndRegionsPickedByClicking)
{
    qor::model::Feature* sketch = doc().addSketch({{"kind", "origin"}, {"id", -1}});
    const int base = int(sketch->sketch->addLineAt(false, 0, 0, 60, 0));
    sketch->sketch->addLineAt(false, 60, 0, 0, 40);
    sketch->sketch->addLineAt(false, 0, 40, 0, 0);
    recomputeAndShow();
    viewer.setViewOrientation(V3d_Zpos, false);
    viewer.fitAll(false);

    scene.setSelectionMask(mask::axes);
    std::vector<PickInfo> picks = clickAt(viewer.toScreen(gp_Pnt(30, 0, 0)));
    ASSERT_EQ(picks.size(), 1u);
    EXPECT_EQ(picks[0].kind, 10);
    EXPECT_EQ(picks[0].id, sketch->id);
    EXPECT_EQ(picks[0].sub, base);
    EXPECT_TRUE(picks[0].shape.IsNull());

    scene.setSelectionMask(mask::regions);
    picks = clickAt(viewer.toScreen(gp_Pnt(10, 10, 0)));
    ASSERT_EQ(picks.size(), 1u);
    EXPECT_EQ(picks[0].kind, 9);
    EXPECT_EQ(picks[0].id, sketch->id);
    // The interior point lies inside the triangle, in sketch millimetres.
    EXPECT_GT(picks[0].u, 0.0);
    EXPECT_GT(picks[0].v, 0.0);
    EXPECT_LT(picks[0].u / 60.0 + picks[0].v / 40.0, 1.0);
}

// Where a body object shows its shape: a part body's own shape, or the shape an instance
// connects to, moved by the object's transformation.
gp_Pnt shownCentre(const Handle(AIS_InteractiveObject)& object)
{
    const auto instance = Handle(AIS_ConnectedInteractive)::DownCast(object);
    const auto shape
        = Handle(AIS_Shape)::DownCast(instance.IsNull() ? object : instance->ConnectedTo());
    Bnd_Box box;
    BRepBndLib::Add(shape->Shape(), box);
    const gp_XYZ mid = (box.CornerMin().XYZ() + box.CornerMax().XYZ()) / 2.0;
    return gp_Pnt(mid).Transformed(object->LocalTransformation());
}

TEST_F(SceneTest, ExplodeDoublesComponentDistancesAndRestores)
{
    addBox(0, 10);
    controller.recompute();
    auto& bodies = doc().current.bodies;
    const int first = 100000000;
    const int second = 100001000;
    bodies[first].shape = BRepPrimAPI_MakeBox(gp_Pnt(-10, -10, -10), 20, 20, 20).Shape();
    bodies[second].shape = BRepPrimAPI_MakeBox(gp_Pnt(90, -10, -10), 20, 20, 20).Shape();
    scene.rebuild();

    scene.setExplodeFactor(1.0);
    EXPECT_NEAR(shownCentre(scene.bodyObject(first)).Distance(gp_Pnt(-50, 0, 0)), 0.0, 1e-6);
    EXPECT_NEAR(shownCentre(scene.bodyObject(second)).Distance(gp_Pnt(150, 0, 0)), 0.0, 1e-6);
    EXPECT_FALSE(scene.bodyObject(100)->HasTransformation()); // the part's own body stays
    scene.rebuild(); // kept across rebuilds
    EXPECT_NEAR(shownCentre(scene.bodyObject(second)).X(), 150.0, 1e-6);

    scene.setExplodeFactor(0.0);
    EXPECT_NEAR(shownCentre(scene.bodyObject(first)).Distance(gp_Pnt(0, 0, 0)), 0.0, 1e-6);
    EXPECT_NEAR(shownCentre(scene.bodyObject(second)).Distance(gp_Pnt(100, 0, 0)), 0.0, 1e-6);
}

// The picked face is where the exploded body is shown, not where the document keeps it.
TEST_F(SceneTest, PickOnAnExplodedBodyReportsTheMovedFace)
{
    addBox(0, 10);
    controller.recompute();
    auto& bodies = doc().current.bodies;
    const int second = 100001000;
    bodies[100000000].shape = BRepPrimAPI_MakeBox(gp_Pnt(-10, -10, -10), 20, 20, 20).Shape();
    bodies[second].shape = BRepPrimAPI_MakeBox(gp_Pnt(90, -10, -10), 20, 20, 20).Shape();
    scene.rebuild();
    scene.setExplodeFactor(1.0);
    viewer.setViewOrientation(V3d_Zpos, false);
    viewer.fitAll(false);

    const std::vector<PickInfo> picks = clickAt(viewer.toScreen(gp_Pnt(150, 0, 10)));
    ASSERT_EQ(picks.size(), 1u);
    EXPECT_EQ(picks[0].kind, 1);
    EXPECT_EQ(picks[0].id, second);
    Bnd_Box box;
    BRepBndLib::Add(picks[0].shape, box);
    const gp_Pnt mid((box.CornerMin().XYZ() + box.CornerMax().XYZ()) / 2.0);
    EXPECT_LT(mid.Distance(gp_Pnt(150, 0, 10)), 1e-6);
}

TEST_F(SceneTest, ExplodeMovesNothingWithoutASecondComponent)
{
    addBox(0, 10);
    recomputeAndShow();
    scene.setExplodeFactor(1.0);
    EXPECT_FALSE(scene.bodyObject(100)->HasTransformation());

    // Two bodies of one component: its centre is the assembly centre.
    auto& bodies = doc().current.bodies;
    bodies[100000000].shape = BRepPrimAPI_MakeBox(gp_Pnt(50, 0, 0), 20, 20, 20).Shape();
    bodies[100000001].shape = BRepPrimAPI_MakeBox(gp_Pnt(90, 0, 0), 20, 20, 20).Shape();
    scene.rebuild();
    scene.setExplodeFactor(2.0);
    EXPECT_LT(shownCentre(scene.bodyObject(100000000)).Distance(gp_Pnt(60, 10, 10)), 1e-6);
    EXPECT_LT(shownCentre(scene.bodyObject(100000001)).Distance(gp_Pnt(100, 10, 10)), 1e-6);
}

// The body id of component index i of an instanced assembly (components are numbered from 1).
int placedBodyId(int i)
{
    return firstComponentBodyId + (i + 1) * 1000;
}

gp_Pnt boxCentre(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box);
    return gp_Pnt((box.CornerMin().XYZ() + box.CornerMax().XYZ()) / 2.0);
}

class InstancedSceneTest : public SceneTest {
protected:
    void openAssembly(int count)
    {
        const QString path = qor::test::writeInstancedAssembly(folder.path(), count);
        ASSERT_FALSE(path.isEmpty());
        QString error;
        ASSERT_TRUE(controller.open(path, &error)) << error.toStdString();
        ASSERT_EQ(doc().current.bodies.size(), std::size_t(count));
        scene.rebuild();
    }

    const TopoDS_Shape& placed(int i) { return doc().current.bodies.at(placedBodyId(i)).shape; }

    QTemporaryDir folder;
};

// Every placement shows the one meshed shape object of the part, moved to where the document
// has the body; the shape object holds the part unplaced, and its faces carry the one mesh.
TEST_F(InstancedSceneTest, PlacementsShareOneMeshedShapeObject)
{
    constexpr int count = 40;
    openAssembly(count);
    EXPECT_EQ(scene.sharedObjectCount(), 1u);
    const Handle(AIS_Shape) shared = scene.bodyShapeObject(placedBodyId(0));
    ASSERT_FALSE(shared.IsNull());
    EXPECT_TRUE(shared->Shape().Location().IsIdentity());
    EXPECT_FALSE(viewer.context()->IsDisplayed(shared)); // only its instances are
    int triangles = 0;
    for (TopExp_Explorer face(shared->Shape(), TopAbs_FACE); face.More(); face.Next()) {
        TopLoc_Location at;
        const Handle(Poly_Triangulation) mesh
            = BRep_Tool::Triangulation(TopoDS::Face(face.Current()), at);
        ASSERT_FALSE(mesh.IsNull());
        triangles += mesh->NbTriangles();
    }
    EXPECT_GT(triangles, 12); // the hole's wall is more than a box
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const auto instance
            = Handle(AIS_ConnectedInteractive)::DownCast(scene.bodyObject(placedBodyId(i)));
        ASSERT_FALSE(instance.IsNull());
        EXPECT_EQ(instance->ConnectedTo(), shared);
        EXPECT_TRUE(viewer.context()->IsDisplayed(instance));
        EXPECT_EQ(scene.pickMap().at(instance.get()).id, placedBodyId(i));
        EXPECT_LT(shownCentre(instance).Distance(boxCentre(placed(i))), 1e-6);
    }
    // The shown picture has the parts in it.
    viewer.setViewOrientation(V3d_Zpos, false);
    viewer.fitAll(false);
    const QImage image = viewer.grabFramebuffer();
    const QColor background = image.pixelColor(5, image.height() / 2);
    const QPoint middle = viewer.toScreen(gp_Pnt(boxCentre(placed(0)).XYZ() + gp_XYZ(15, 0, 0)));
    EXPECT_GT(std::abs(image.pixelColor(middle).lightness() - background.lightness()), 30);
}

// Colour, hiding and display style act on one placement; the others keep their objects.
TEST_F(InstancedSceneTest, EachPlacementKeepsItsOwnLookAndVisibility)
{
    openAssembly(6);
    const int red = placedBodyId(2);
    const int kept = placedBodyId(1);
    const Handle(AIS_InteractiveObject) keptObject = scene.bodyObject(kept);
    doc().appearance[red] = qor::model::BodyAppearance{QStringLiteral("Stahl"), 0.9, 0.1, 0.1};
    scene.rebuild();
    EXPECT_EQ(scene.sharedObjectCount(), 2u);
    EXPECT_EQ(scene.bodyObject(kept), keptObject);
    const auto diffuse = [this](int id) {
        return scene.bodyShapeObject(id)->Attributes()->ShadingAspect()->Material().DiffuseColor();
    };
    EXPECT_GT(diffuse(red).Red(), 2.0 * diffuse(red).Green());
    EXPECT_LT(diffuse(kept).Red(), 1.5 * diffuse(kept).Green());
    EXPECT_NE(scene.bodyShapeObject(red), scene.bodyShapeObject(kept));

    // Back to the common look: one shared object again, the unused one released.
    doc().appearance.erase(red);
    scene.rebuild();
    EXPECT_EQ(scene.sharedObjectCount(), 1u);
    EXPECT_EQ(scene.bodyShapeObject(red), scene.bodyShapeObject(kept));

    doc().hidden[red] = true;
    scene.rebuild();
    EXPECT_TRUE(scene.bodyObject(red).IsNull());
    EXPECT_EQ(scene.bodyObject(kept), keptObject);
    doc().hidden[red] = false;
    scene.rebuild();
    ASSERT_FALSE(scene.bodyObject(red).IsNull());

    for (const auto [style, mode, edges] : {std::tuple{2, 0, false}, {1, 1, false}, {0, 1, true}}) {
        SCOPED_TRACE(style);
        scene.setDisplayStyle(style);
        EXPECT_EQ(scene.bodyObject(kept)->DisplayMode(), mode);
        EXPECT_EQ(scene.bodyShapeObject(kept)->Attributes()->FaceBoundaryDraw(), edges);
        EXPECT_EQ(scene.sharedObjectCount(), 1u);
    }

    scene.highlightBody(red, true);
    EXPECT_TRUE(viewer.context()->IsHilighted(scene.bodyObject(red)));
    EXPECT_FALSE(viewer.context()->IsHilighted(scene.bodyObject(kept)));
    scene.highlightBody(red, false);
    EXPECT_FALSE(viewer.context()->IsHilighted(scene.bodyObject(red)));
}

// A click on a placement names that placement's body and gives its face or the whole body
// where the document has it, under each mask; the exploded view moves what a pick gives.
TEST_F(InstancedSceneTest, PicksNameThePlacementAndItsShapeInTheWorld)
{
    openAssembly(9);
    viewer.setViewOrientation(V3d_Zpos, false);
    viewer.fitAll(false);
    // Until the pointer comes to it, a placement carries its box for picking, no faces.
    for (int i = 0; i < 9; ++i)
        EXPECT_FALSE(scene.bodyObject(placedBodyId(i))->HasSelection(4)) << i;
    // Component 5 (index 4) stands in the middle of the 3 x 3 grid, index 5 is turned.
    for (const int i : {4, 5, 0}) {
        SCOPED_TRACE(i);
        const gp_Pnt top
            = boxCentre(placed(i))
                  .Translated(gp_Vec(0, 0, 10))
                  .Translated(gp_Vec(i == 5 ? 0 : 13, i == 5 ? 13 : 0, 0)); // beside the hole
        scene.setSelectionMask(mask::standard);
        std::vector<PickInfo> picks = clickAt(viewer.toScreen(top));
        ASSERT_EQ(picks.size(), 1u);
        EXPECT_EQ(picks[0].kind, 1);
        EXPECT_EQ(picks[0].id, placedBodyId(i));
        bool ofTheBody = false;
        for (TopExp_Explorer face(placed(i), TopAbs_FACE); face.More(); face.Next())
            ofTheBody = ofTheBody || face.Current().IsSame(picks[0].shape);
        EXPECT_TRUE(ofTheBody);
        EXPECT_NEAR(boxCentre(picks[0].shape).Z(), 20.0, 1e-6);

        scene.setSelectionMask(mask::bodies);
        picks = clickAt(viewer.toScreen(top));
        ASSERT_EQ(picks.size(), 1u);
        EXPECT_EQ(picks[0].kind, 4);
        EXPECT_EQ(picks[0].id, placedBodyId(i));
        EXPECT_TRUE(picks[0].shape.IsSame(placed(i)));
    }

    EXPECT_TRUE(scene.bodyObject(placedBodyId(4))->HasSelection(4));
    EXPECT_FALSE(scene.bodyObject(placedBodyId(8))->HasSelection(4)); // never under the pointer

    scene.setSelectionMask(mask::standard);
    scene.setExplodeFactor(1.0);
    // Each placement moves away from the assembly centre by its own distance from it.
    TopoDS_Compound all;
    BRep_Builder().MakeCompound(all);
    for (int i = 0; i < 9; ++i)
        BRep_Builder().Add(all, placed(i));
    const gp_XYZ centre = boxCentre(all).XYZ();
    for (int i = 0; i < 9; ++i) {
        const gp_Pnt expected(2.0 * boxCentre(placed(i)).XYZ() - centre);
        EXPECT_LT(shownCentre(scene.bodyObject(placedBodyId(i))).Distance(expected), 1e-6) << i;
    }
    const gp_Pnt home = boxCentre(placed(0));
    const gp_Pnt moved(2.0 * home.XYZ() - centre);
    viewer.fitAll(false);
    const std::vector<PickInfo> picks
        = clickAt(viewer.toScreen(moved.Translated(gp_Vec(13, 0, 10))));
    ASSERT_EQ(picks.size(), 1u);
    EXPECT_EQ(picks[0].id, placedBodyId(0));
    EXPECT_LT(boxCentre(picks[0].shape).Distance(moved.Translated(gp_Vec(0, 0, 10))), 1e-6);
    scene.setExplodeFactor(0.0);
    EXPECT_LT(shownCentre(scene.bodyObject(placedBodyId(0))).Distance(home), 1e-6);

    // A hidden placement is found neither by its faces nor by the box it had.
    for (const int i : {4, 7}) {
        SCOPED_TRACE(i);
        doc().hidden[placedBodyId(i)] = true;
        scene.rebuild();
        viewer.fitAll(false);
        const gp_Pnt top = boxCentre(placed(i)).Translated(gp_Vec(13, 0, 10));
        EXPECT_TRUE(clickAt(viewer.toScreen(top)).empty());
    }
}

// The pointer moving over a placement in the view finds its face, not its box.
TEST_F(InstancedSceneTest, HoverThroughTheViewFindsTheFace)
{
    openAssembly(4);
    viewer.setViewOrientation(V3d_Zpos, false);
    viewer.fitAll(false);
    const QPoint at = viewer.toScreen(boxCentre(placed(3)).Translated(gp_Vec(13, 0, 10)));
    // Straight to the view: another window left on the screen must not catch the pointer.
    for (const QPoint point : {QPoint(2, 2), at}) {
        QMouseEvent move(QEvent::MouseMove, point, viewer.mapToGlobal(point), Qt::NoButton,
                         Qt::NoButton, {});
        QApplication::sendEvent(&viewer, &move);
        QTest::qWait(50);
    }
    ASSERT_TRUE(QTest::qWaitFor([this] { return viewer.context()->HasDetected(); }, 3000));
    const PickInfo hovered = scene.detectedPick();
    EXPECT_EQ(hovered.kind, 1);
    EXPECT_EQ(hovered.id, placedBodyId(3));
    EXPECT_EQ(hovered.shape.ShapeType(), TopAbs_FACE);
}

// The bodies of a part that show one shape at several places (a foreign file's repeated
// parts, read into one import) share one meshed shape object per shape and look, and show
// and pick as the same bodies do when each has a shape of its own: two shapes, turned by
// random angles, in two looks, beside bodies whose shape is theirs alone.
TEST_F(SceneTest, RepeatedShapesShowAndPickAsShapesOfTheirOwn)
{
    // Both centred on the z axis, so that turned about it they keep clear of each other.
    const TopoDS_Shape shapes[] = {BRepPrimAPI_MakeBox(gp_Pnt(-8, -11, 0), 16, 22, 6).Shape(),
                                   BRepPrimAPI_MakeCylinder(12, 9).Shape()};
    // Inside the top faces, clear of their edges (the cylinder's seam seen end on included).
    const gp_Pnt tops[] = {gp_Pnt(0, 0, 6), gp_Pnt(-3, 0, 9)};
    constexpr int count = 18;
    std::mt19937 random(qor::test::seed(57));
    std::uniform_real_distribution<double> angle(0.0, 6.0);
    std::vector<gp_Trsf> placements;
    for (int i = 0; i < count; ++i) {
        gp_Trsf at;
        at.SetRotation(gp_Ax1(gp::Origin(), gp::DZ()), angle(random));
        at.SetTranslationPart(gp_Vec(40.0 * (i % 6), 40.0 * (i / 6), 0.0));
        placements.push_back(at);
    }
    const auto kind = [](int i) { return i % 2; };
    const auto red = [](int i) { return i % 3 == 0; };
    const auto ownShape = [](int i) { return i % 4 == 3; };

    QJsonObject camera;
    const auto show = [&](bool everyShapeItsOwn) -> QImage {
        controller.newDocument();
        TopoDS_Compound all;
        BRep_Builder().MakeCompound(all);
        QJsonArray names;
        QJsonArray colours;
        for (int i = 0; i < count; ++i) {
            const TopoDS_Shape& shape = shapes[kind(i)];
            const TopoDS_Shape own
                = everyShapeItsOwn || ownShape(i) ? BRepBuilderAPI_Copy(shape).Shape() : shape;
            // Placed in two steps, as a part in a sub-assembly is: a location of two datums.
            gp_Trsf turn = placements[std::size_t(i)];
            turn.SetTranslationPart(gp_Vec());
            gp_Trsf move;
            move.SetTranslation(placements[std::size_t(i)].TranslationPart());
            BRep_Builder().Add(all, own.Moved(TopLoc_Location(turn)).Moved(TopLoc_Location(move)));
            names.append(QStringLiteral("Teil %1").arg(i + 1));
            colours.append(red(i) ? QJsonArray{0.9, 0.1, 0.1} : QJsonArray{});
        }
        doc().addFeature("import", {{"file", "teile.step"},
                                    {"brep", qor::io::shapeToBase64(all)},
                                    {"names", names},
                                    {"colors", colours},
                                    {"split", true}});
        recomputeAndShow();
        EXPECT_EQ(doc().current.bodies.size(), std::size_t(count));
        // One camera for both pictures: the fit of placements takes their boxes turned,
        // a little more than the shapes.
        if (camera.isEmpty()) {
            viewer.setViewOrientation(V3d_XposYnegZpos, false);
            viewer.fitAll(false);
            camera = viewer.cameraState();
        }
        viewer.setCameraState(camera, false);
        const QImage image = viewer.grabFramebuffer();

        viewer.setViewOrientation(V3d_Zpos, false);
        viewer.fitAll(false);
        int i = 0;
        for (const auto& [id, body] : doc().current.bodies.get()) {
            SCOPED_TRACE(i);
            const Quantity_Color diffuse = scene.bodyShapeObject(id)
                                               ->Attributes()
                                               ->ShadingAspect()
                                               ->Material()
                                               .DiffuseColor();
            EXPECT_EQ(diffuse.Red() > 2.0 * diffuse.Green(), red(i));
            const gp_Pnt top = tops[kind(i)].Transformed(placements[std::size_t(i)]);
            const std::vector<PickInfo> picks = clickAt(viewer.toScreen(top));
            ++i;
            EXPECT_EQ(picks.size(), 1u);
            if (picks.size() != 1)
                continue;
            EXPECT_EQ(picks[0].kind, 1);
            EXPECT_EQ(picks[0].id, id);
            bool ofTheBody = false;
            for (TopExp_Explorer face(body.shape, TopAbs_FACE); face.More(); face.Next())
                ofTheBody = ofTheBody || face.Current().IsSame(picks[0].shape);
            EXPECT_TRUE(ofTheBody);
            EXPECT_NEAR(boxCentre(picks[0].shape).Z(), top.Z(), 1e-6);
        }
        return image;
    };

    const QImage own = show(true);
    EXPECT_EQ(scene.sharedObjectCount(), 0u);
    const QImage shared = show(false);
    // Shapes shown more than once, in the looks they have there: box and cylinder, each red
    // and plain.
    std::set<std::pair<int, bool>> sharedLooks;
    for (int i = 0; i < count; ++i) {
        if (!ownShape(i))
            sharedLooks.insert({kind(i), red(i)});
    }
    EXPECT_EQ(scene.sharedObjectCount(), sharedLooks.size());
    // The bodies cover a good part of the view, and the two pictures differ in at most a
    // percent of it (a turned shape meshed where its part has it, not where it stands).
    QImage background(own.size(), own.format());
    background.fill(own.pixel(2, 2));
    const int pixels = own.width() * own.height();
    EXPECT_GT(qor::test::changedPixels(own, background), pixels / 20);
    EXPECT_LT(qor::test::changedPixels(own, shared), pixels / 100);
}

// A part read from an STL file looks like the part: shown in the same view, its picture
// matches that of the part itself (its faces and edges) nearly pixel for pixel, in both
// shaded styles. Shaded with one normal per node, the light ran across the sharp edges:
// the row of holes and the slot blurred into trenches and the top face showed fans.
TEST_F(SceneTest, MeshBodyLooksLikeItsPart)
{
    const TopoDS_Shape plate = qor::fixtures::perforatedPlate();
    const QTemporaryDir dir;
    const std::vector<qor::fixtures::Triangle> triangles
        = qor::fixtures::meshedTriangles(plate, 0.02);
    const QString path = qor::test::writeFile(
        dir, QStringLiteral("teil.stl"),
        qor::fixtures::binaryStl(triangles, std::uint32_t(triangles.size())));
    const qor::io::ImportResult read = qor::io::readInThisProcess(path, {}, {});
    ASSERT_TRUE(read.ok && read.meshBodies) << read.error.toStdString();

    const auto show = [&](const TopoDS_Shape& shape, int style) {
        controller.newDocument();
        doc().addFeature("import", {{"file", path}, {"brep", qor::io::shapeToBase64(shape)}});
        recomputeAndShow();
        scene.setDisplayStyle(style);
        viewer.setViewOrientation(V3d_XposYnegZpos, false);
        viewer.fitAll(false);
        return viewer.grabFramebuffer();
    };
    for (const int style : {0, 1}) {
        SCOPED_TRACE(style);
        const QImage part = show(plate, style);
        const QImage mesh = show(read.bodies.front().shape, style);
        QImage background(part.size(), part.format());
        background.fill(part.pixel(2, 2));
        const int covered = qor::test::changedPixels(part, background);
        EXPECT_GT(covered, part.width() * part.height() / 5);
        EXPECT_LT(qor::test::changedPixels(part, mesh), covered / 100);
    }
    scene.setDisplayStyle(0);
}

TEST_F(SceneTest, PreviewsAndHighlightsCannotBePicked)
{
    addBox(0, 20);
    recomputeAndShow();
    const TopoDS_Shape solid = doc().current.bodies.at(100).shape;
    scene.showPreview(solid, "cut");
    const Handle(AIS_Shape) preview = scene.previewObject();
    ASSERT_FALSE(preview.IsNull());
    Quantity_Color colour;
    preview->Color(colour);
    EXPECT_LT(colour.Distance(toQuantityColor(Theme::instance().danger)), 1e-3);
    EXPECT_NEAR(preview->Transparency(), 0.6, 1e-6);
    EXPECT_FALSE(selectable(preview));
    scene.showPreview(TopoDS_Shape(), "join");
    EXPECT_TRUE(scene.previewObject().IsNull());
    EXPECT_FALSE(viewer.context()->IsDisplayed(preview));

    const std::size_t before = scene.extraObjects().size();
    TopExp_Explorer face(solid, TopAbs_FACE);
    TopExp_Explorer edge(solid, TopAbs_EDGE);
    scene.showShapes(std::vector<TopoDS_Shape>{face.Current(), TopoDS_Shape(), edge.Current()});
    ASSERT_EQ(scene.extraObjects().size(), before + 2);
    const Quantity_Color accent3 = toQuantityColor(Theme::instance().accent3);
    for (std::size_t i = before; i < before + 2; ++i) {
        const Handle(AIS_InteractiveObject)& shown = scene.extraObjects()[i];
        EXPECT_FALSE(selectable(shown));
        shown->Color(colour);
        EXPECT_LT(colour.Distance(accent3), 1e-3);
    }
    EXPECT_NEAR(scene.extraObjects()[before]->Transparency(), 0.45, 1e-6);
    EXPECT_NEAR(scene.extraObjects()[before + 1]->Width(), 3.5, 1e-6);

    const Handle(AIS_InteractiveObject) body = scene.bodyObject(100);
    scene.highlightBody(100, true);
    EXPECT_TRUE(viewer.context()->IsHilighted(body));
    scene.highlightBody(100, false);
    EXPECT_FALSE(viewer.context()->IsHilighted(body));
    scene.highlightBody(4711, true); // no such body: nothing happens
    EXPECT_FALSE(viewer.context()->IsHilighted(body));
    scene.rebuild();
    EXPECT_EQ(scene.extraObjects().size(), before);
}

// The picture a person looks at: a box with a hole and rounded vertical edges, the view cube
// in its corner and the background gradient.
TEST_F(SceneTest, RecomputedPartShownWithViewCubeAndGradient)
{
    doc().addFeature("box", {{"length", 60}, {"width", 40}, {"height", 20}});
    qor::model::Feature* points = doc().addSketch({{"kind", "origin"}, {"id", -1}});
    points->params["offset"] = 20;
    points->sketch->addPoint(false, 0, 0);
    doc().addFeature("hole", {{"points", QJsonObject{{"kind", "sketch"}, {"id", points->id}}},
                              {"diameter", 16},
                              {"extent", "all"}});
    controller.recompute();
    QJsonArray vertical;
    TopTools_IndexedMapOfShape edges;
    TopExp::MapShapes(doc().current.bodies.at(100).shape, TopAbs_EDGE, edges);
    for (int i = 1; i <= edges.Extent(); ++i) {
        const gp_Pnt a = BRep_Tool::Pnt(TopExp::FirstVertex(TopoDS::Edge(edges(i))));
        const gp_Pnt b = BRep_Tool::Pnt(TopExp::LastVertex(TopoDS::Edge(edges(i))));
        if (std::abs(a.Z() - b.Z()) > 19 && a.X() > 25.0 && b.X() > 25.0)
            vertical.append(qor::model::edgeRef(100, edges(i)));
    }
    ASSERT_EQ(vertical.size(), 2);
    doc().addFeature("fillet", {{"edges", vertical}, {"radius", 8}});
    recomputeAndShow();
    viewer.setViewOrientation(V3d_XposYnegZpos, false);
    viewer.fitAll(false);

    const QImage image = viewer.grabFramebuffer();
    QDir().mkpath(QStringLiteral(QOR_TEST_OUTPUT "/gl-shots"));
    ASSERT_TRUE(image.save(QStringLiteral(QOR_TEST_OUTPUT "/gl-shots/scene-part.png")));
    const QColor top = image.pixelColor(5, 5);
    const QColor bottom = image.pixelColor(5, image.height() - 5);
    EXPECT_NE(top, bottom); // gradient
    const QColor body = image.pixelColor(image.width() / 2, image.height() / 2);
    EXPECT_GT(body.lightness(), top.lightness() + 40);
}

} // namespace
