#include "app/MainWindow.h"
#include "model/ComponentGeometry.h"
#include "model/DocumentController.h"
#include "model/ExecContext.h"
#include "tests/fixtures/InstancedAssembly.h"
#include "tests/gl/BoxPartFile.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <AIS_AnimationCamera.hxx>
#include <TopAbs_ShapeEnum.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <gp_Pln.hxx>

#include <QJsonDocument>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <map>
#include <string>

using qor::app::MainWindow;
using qor::app::PickInfo;

namespace {

// Picking in the window's view with the pointer, as a user does it: events go straight to
// the view, which handles them when it paints.
class ViewPickingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void flush()
    {
        window.viewer->grabFramebuffer();
        QCoreApplication::processEvents();
    }

    // Camera moves (into and out of a sketch) run out before the view is set.
    void settle()
    {
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return window.viewer->ViewAnimation()->IsStopped(); }, 5000));
    }

    void send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
    {
        qor::app::Viewer* viewer = window.viewer;
        QMouseEvent event(type, QPointF(at), QPointF(viewer->mapToGlobal(at)), button, held,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(viewer, &event);
        flush();
    }

    void click(QPoint at)
    {
        send(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
        send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    }

    // Asks for a new sketch and clicks at a point of the model in the isometric view, as a
    // user picks the sketch's plane: the reference the new sketch stands on, or nothing
    // when no sketch was started.
    QJsonObject planePickedInIsoViewAt(const gp_Pnt& at)
    {
        window.newSketch({});
        EXPECT_TRUE(window.property("pickPlane").toBool());
        settle();
        window.viewer->setViewOrientation(V3d_XposYnegZpos, false);
        window.viewer->fitAll(false);
        flush();
        const QPoint point = window.viewer->toScreen(at);
        EXPECT_TRUE(window.viewer->rect().contains(point));
        click(point);
        if (window.sketchEditor == nullptr)
            return {};
        return window.controller->document->feature(window.scene->editingSketch)
            ->params.value(QStringLiteral("plane"))
            .toObject();
    }

    // A rectangle dragged from its top left corner along its top edge and down its right
    // edge: the pointer never comes over what lies inside.
    void dragAround(const QRect& area)
    {
        send(QEvent::MouseMove, area.topLeft(), Qt::NoButton, Qt::NoButton);
        send(QEvent::MouseButtonPress, area.topLeft(), Qt::LeftButton, Qt::LeftButton);
        for (int step = 1; step <= 4; ++step)
            send(QEvent::MouseMove, QPoint(area.left() + area.width() * step / 4, area.top()),
                 Qt::NoButton, Qt::LeftButton);
        for (int step = 1; step <= 4; ++step)
            send(QEvent::MouseMove, QPoint(area.right(), area.top() + area.height() * step / 4),
                 Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, area.bottomRight(), Qt::LeftButton, Qt::NoButton);
    }

    MainWindow window;
};

// Faces and edges of a shape: what a rectangle around it picks under the standard mask.
int facesAndEdges(const TopoDS_Shape& shape)
{
    TopTools_IndexedMapOfShape faces;
    TopTools_IndexedMapOfShape edges;
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    return faces.Extent() + edges.Extent();
}

// A rectangle dragged around the whole model picks every face and edge of every body: on a
// part, and on an assembly whose placements the pointer has never passed over (they are
// found by their boxes until then).
TEST_F(ViewPickingTest, RectangleAroundTheModelPicksEveryBodyEvenNeverHovered)
{
    QTemporaryDir folder;
    const QString assembly = qor::test::writeInstancedAssembly(folder.path(), 6);
    ASSERT_FALSE(assembly.isEmpty());
    const QString part = folder.filePath(QStringLiteral("teil.qcpart"));
    struct Case {
        const char* name;
        QString path;
        std::size_t bodies;
    };
    const Case cases[] = {{"part", part, 1}, {"assembly", assembly, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(window.openFile(c.path));
        const auto& bodies = window.controller->document->current.bodies.get();
        ASSERT_EQ(bodies.size(), c.bodies);
        settle();
        window.viewer->setViewOrientation(V3d_Zpos, false);
        window.viewer->fitAll(false);
        flush();
        std::map<int, int> expected; // body id -> faces and edges
        for (const auto& [id, body] : bodies) {
            expected[id] = facesAndEdges(body.shape);
            if (qor::model::isComponentBodyId(id))
                ASSERT_FALSE(window.scene->bodyObject(id)->HasSelection(4)) << "hovered " << id;
        }

        const QRect model
            = window.viewer->screenBox(qor::model::modelBox(window.controller->document->current));
        ASSERT_TRUE(window.viewer->rect().contains(model.adjusted(-30, -30, 30, 30)));
        dragAround(model.adjusted(-25, -25, 25, 25));

        std::map<int, int> picked;
        for (const PickInfo& pick : window.scene->selectedPicks()) {
            EXPECT_TRUE(pick.kind == 1 || pick.kind == 2) << pick.kind;
            ++picked[pick.id];
        }
        EXPECT_EQ(picked, expected);
        window.scene->clearSelection();
    }
}

// While the window waits for a sketch plane with the origin shown, the face under the
// pointer wins where an origin plane runs through it (the middle of a centred box's top
// face lies on XZ and YZ); an origin plane wins where no face of the body is in front of it.
TEST_F(ViewPickingTest, FaceUnderThePointerWinsThePlanePick)
{
    // 60 x 40 x 30, centred on the z axis, standing on z = 0.
    window.controller->document->addFeature(QStringLiteral("box"),
                                            {{QStringLiteral("length"), QStringLiteral("60 mm")},
                                             {QStringLiteral("width"), QStringLiteral("40 mm")},
                                             {QStringLiteral("height"), QStringLiteral("30 mm")}});
    window.controller->commit(QStringLiteral("Quader"));
    struct Case {
        const char* name;
        gp_Pnt at;
        QJsonObject plane; // the reference the new sketch stands on; a face when "kind" only
    };
    const Case cases[] = {
        {"top face, middle", gp_Pnt(0, 0, 30), {{"kind", "face"}}},
        {"side face, on XZ", gp_Pnt(30, 0, 15), {{"kind", "face"}}},
        {"front face, on YZ", gp_Pnt(0, -20, 15), {{"kind", "face"}}},
        {"top face, off the planes", gp_Pnt(15, 10, 30), {{"kind", "face"}}},
        // Below the box's corner, with nothing in front of it.
        {"XZ beside the box", gp_Pnt(25, 0, -10), {{"kind", "origin"}, {"id", -2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QJsonObject plane = planePickedInIsoViewAt(c.at);
        ASSERT_FALSE(plane.isEmpty()) << "no sketch was started";
        const std::string got = QJsonDocument(plane).toJson(QJsonDocument::Compact).toStdString();
        for (auto it = c.plane.begin(); it != c.plane.end(); ++it)
            EXPECT_EQ(plane.value(it.key()).toVariant().toString().toStdString(),
                      it.value().toVariant().toString().toStdString())
                << it.key().toStdString() << " of " << got;
        window.finishSketch(false);
        ASSERT_EQ(window.sketchEditor, nullptr);
    }
}

// Origin and work planes are see-through: in the isometric view of a box part, at the window
// sizes people use, a click about the middle of the top face (where the rays pass the XZ or
// YZ plane above the face first) starts a sketch on that face, as does a click on the lower
// half of the front face (where they pass a work plane through the box first). A click on a
// plane beside the body still starts one on the plane.
TEST_F(ViewPickingTest, ClickAboutTheMiddleOfTheTopFaceInTheIsoViewSketchesOnIt)
{
    QTemporaryDir folder;
    const QString part = folder.filePath(QStringLiteral("quader.qcpart"));
    // 50 x 30 x 20, centred on the z axis, standing on z = 0.
    ASSERT_TRUE(qor::test::saveBoxPart(part));
    ASSERT_TRUE(window.openFile(part));
    // A work plane through the box at half its height.
    const int workPlane = window.controller->document
                              ->addFeature(QStringLiteral("plane"),
                                           {{QStringLiteral("offset"), QStringLiteral("10 mm")}})
                              ->id;
    window.controller->commit(QStringLiteral("Ebene"));
    struct Case {
        const char* name;
        gp_Pnt at;
        const char* kind; // of the reference the sketch stands on
        int id; // the plane's, for "origin" and "feature"
    };
    const Case cases[] = {
        {"top, middle", gp_Pnt(0, 0, 20), "face", 0},
        // Behind the XZ plane as seen from the iso view.
        {"top, towards the back", gp_Pnt(2, 4, 20), "face", 0},
        // Behind the YZ plane.
        {"top, to the left", gp_Pnt(-4, -2, 20), "face", 0},
        // Behind both.
        {"top, back left", gp_Pnt(-3, 3, 20), "face", 0},
        {"top, front right", gp_Pnt(4, -3, 20), "face", 0},
        // Behind the work plane where it stands out in front of the box.
        {"front, low", gp_Pnt(6, -15, 4), "face", 0},
        // On the planes where no part of the body lies in front of them or behind.
        {"XZ beside the box", gp_Pnt(-28, 0, 25), "origin", -2},
        {"XY beside the box", gp_Pnt(-28, -25, 0), "origin", -1},
        {"YZ beside the box", gp_Pnt(0, 28, 25), "origin", -3},
        {"work plane beside the box", gp_Pnt(-24, -22, 10), "feature", workPlane},
    };
    for (const QSize size : {QSize(1920, 1200), QSize(1280, 800)}) {
        SCOPED_TRACE(size.width());
        window.resize(size);
        QCoreApplication::processEvents();
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const QJsonObject plane = planePickedInIsoViewAt(c.at);
            ASSERT_FALSE(plane.isEmpty()) << "no sketch was started";
            const int sketch = window.scene->editingSketch;
            const std::string got
                = QJsonDocument(plane).toJson(QJsonDocument::Compact).toStdString();
            EXPECT_EQ(plane.value(QStringLiteral("kind")).toString().toStdString(), c.kind) << got;
            if (std::string(c.kind) == "face") {
                // The face the point lies on, not another one behind it.
                const gp_Ax3& on = window.controller->document->current.sketches.at(sketch).plane;
                EXPECT_LT(gp_Pln(on).Distance(c.at), 1e-6) << got;
            } else {
                EXPECT_EQ(plane.value(QStringLiteral("id")).toInt(), c.id) << got;
            }
            window.finishSketch(false);
            ASSERT_EQ(window.sketchEditor, nullptr);
        }
    }
}

} // namespace
