#include "app/MainWindow.h"
#include "drawing/window/DrawingWindow.h"
#include "drawing/window/SheetCanvas.h"
#include "io/Import.h"
#include "model/DocumentController.h"
#include "model/ShapeSignature.h"
#include "panels/CommandPanel.h"
#include "panels/MatePanel.h"
#include "tests/common/RectangleChain.h"
#include "tests/common/WhenShown.h"
#include "tests/gl/ViewPixels.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <BRepBndLib.hxx>
#include <BRepGProp_Face.hxx>
#include <Bnd_Box.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <QFileDialog>
#include <QJsonArray>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <string>

using qor::app::MainWindow;

namespace {

// The face of a body whose outward normal is closest to the direction.
TopoDS_Shape faceFacing(const TopoDS_Shape& body, const gp_Dir& direction)
{
    TopoDS_Shape best;
    double bestDot = -2.0;
    for (TopExp_Explorer it(body, TopAbs_FACE); it.More(); it.Next()) {
        const TopoDS_Face face = TopoDS::Face(it.Current());
        BRepGProp_Face props(face);
        double u0, u1, v0, v1;
        props.Bounds(u0, u1, v0, v1);
        gp_Pnt p;
        gp_Vec n;
        props.Normal((u0 + u1) / 2, (v0 + v1) / 2, p, n);
        if (n.Magnitude() < 1e-9)
            continue;
        const double dot = gp_Dir(n).Dot(direction);
        if (dot > bestDot) {
            bestDot = dot;
            best = face;
        }
    }
    return best;
}

// Sketch → extrude → fillet → hole → pattern → drawing → STEP → assembly with two mates, as
// a new user's first hour goes, with the model wholly in the free part of the view after
// every step.
class FirstHourTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().setValue(QStringLiteral("lastDir"), dir.path());
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(100);
        empty = viewImage();
    }
    void TearDown() override { window.controller->modified = false; }

    QImage viewImage()
    {
        return window.viewer->grabImage(window.viewer->width(), window.viewer->height());
    }

    // The model lies inside the view, clear of an open panel, after the camera has settled.
    ::testing::AssertionResult modelInView()
    {
        QTest::qWait(900);
        const QRect model = qor::test::coveredPixels(empty, viewImage());
        const QRect view = window.viewer->rect();
        if (model.width() * model.height() < 2000)
            return ::testing::AssertionFailure() << "hardly anything shown";
        const int left = window.viewer->coveredLeft();
        if (model.left() <= left || model.top() <= 0 || model.right() >= view.right()
            || model.bottom() >= view.bottom())
            return ::testing::AssertionFailure()
                   << "model at " << model.left() << "," << model.top() << " – " << model.right()
                   << "," << model.bottom() << " in a view of " << view.width() << " x "
                   << view.height() << ", panel up to " << left;
        return ::testing::AssertionSuccess();
    }

    int onlyBodyId() const
    {
        const auto& bodies = window.controller->document->current.bodies.get();
        return bodies.size() == 1 ? bodies.begin()->first : 0;
    }
    const TopoDS_Shape& bodyShape(int id) const
    {
        return window.controller->document->current.bodies.get().at(id).shape;
    }

    void sketchOn(const QJsonObject& plane, const std::function<void(qor::sketch::Sketch&)>& draw)
    {
        window.newSketch(plane);
        ASSERT_NE(window.sketchEditor, nullptr);
        draw(window.sketchEditor->sketch());
        window.finishSketch(true);
    }

    void createAndAccept(const QString& type, const QJsonObject& params, const char* step)
    {
        window.createFeature(type, params);
        ASSERT_NE(window.commandPanel->featureId(), 0) << step;
        EXPECT_TRUE(modelInView()) << step << " (panel open)";
        const qor::model::Feature* feature = window.commandPanel->currentFeature();
        ASSERT_NE(feature, nullptr);
        window.commandPanel->accept();
        feature = window.controller->document->features.back().get();
        EXPECT_TRUE(feature->error.isEmpty()) << step << ": " << feature->error.toStdString();
        EXPECT_TRUE(modelInView()) << step;
    }

    QTemporaryDir dir;
    MainWindow window;
    QImage empty;
};

TEST_F(FirstHourTest, TheModelStaysInViewFromSketchToMates)
{
    // Sketch and extrude.
    sketchOn(qor::model::datumReferenceJson(-1),
             [](qor::sketch::Sketch& s) { qor::sketch::fixtures::addRectangle(s, 0, 0, 80, 50); });
    createAndAccept(QStringLiteral("extrude"), {}, "extrude");
    const int body = onlyBodyId();
    ASSERT_NE(body, 0);

    // Fillet the four edges of the top face.
    QJsonArray edges;
    const TopoDS_Shape top = faceFacing(bodyShape(body), gp::DZ());
    for (TopExp_Explorer it(top, TopAbs_EDGE); it.More(); it.Next())
        edges.append(qor::model::edgeRef(body, it.Current()));
    ASSERT_EQ(edges.size(), 4);
    createAndAccept(
        QStringLiteral("fillet"),
        {{QStringLiteral("edges"), edges}, {QStringLiteral("radius"), QStringLiteral("3 mm")}},
        "fillet");

    // A hole from a point sketched on the top face, then a row of three.
    const QJsonObject topRef = qor::model::faceRef(body, faceFacing(bodyShape(body), gp::DZ()));
    sketchOn(topRef, [](qor::sketch::Sketch& s) { s.addPoint(false, 15, 15); });
    createAndAccept(QStringLiteral("hole"), {}, "hole");
    const int hole = window.controller->document->features.back()->id;
    createAndAccept(QStringLiteral("pattern_rect"),
                    {{QStringLiteral("features"), QJsonArray{hole}},
                     {QStringLiteral("count1"), QStringLiteral("3")},
                     {QStringLiteral("spacing1"), QStringLiteral("20 mm")}},
                    "pattern");
    ASSERT_EQ(window.controller->document->current.bodies.get().size(), 1u);

    // The drawing: four views on a fitted sheet.
    qor::app::DrawingWindow* drawing = window.openDrawing();
    ASSERT_NE(drawing, nullptr);
    QTest::qWait(200);
    EXPECT_EQ(drawing->sheet().views.size(), 4u);
    EXPECT_TRUE(drawing->canvas->fitted());
    drawing->close();
    EXPECT_TRUE(modelInView()) << "after the drawing";

    // STEP export of the part, read back.
    const QString step = dir.filePath(QStringLiteral("Teil.step"));
    const auto dialog = qor::test::whenShown<QFileDialog>([&](QFileDialog* d) {
        d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(step);
        QMetaObject::invokeMethod(d, "accept");
    });
    window.exportBodies();
    ASSERT_TRUE(*dialog);
    const qor::io::ImportResult back = qor::io::importFile(step, {});
    ASSERT_TRUE(back.ok) << back.error.toStdString();
    EXPECT_EQ(back.bodies.size(), 1u);

    // An assembly of two of these parts with two mates.
    const QString part = dir.filePath(QStringLiteral("Teil.qcpart"));
    ASSERT_TRUE(window.controller->saveAs(part));
    window.actions.value(QStringLiteral("new"))->trigger();
    ASSERT_TRUE(window.controller->document->features.empty());
    window.insertComponent(part);
    EXPECT_TRUE(modelInView()) << "first component";
    window.insertComponent(part);
    EXPECT_TRUE(modelInView()) << "second component";
    std::vector<int> bodies;
    for (const auto& [id, b] : window.controller->document->current.bodies.get())
        bodies.push_back(id);
    ASSERT_EQ(bodies.size(), 2u);
    struct MateStep {
        const char* type;
        gp_Dir first;
        gp_Dir second;
    };
    for (const MateStep& m :
         {MateStep{"planar", gp::DZ(), -gp::DZ()}, MateStep{"flush", -gp::DY(), -gp::DY()}}) {
        window.showMatePanel(QString::fromLatin1(m.type));
        ASSERT_FALSE(window.matePanel.isNull()) << m.type;
        // Fits ("F") keep the model clear of the mate panel while it is open.
        EXPECT_EQ(window.viewer->coveredLeft(), window.matePanel->geometry().right() + 10);
        const auto pick = [&](int id, const gp_Dir& facing) {
            qor::app::PickInfo info;
            info.kind = 1;
            info.id = id;
            info.shape = faceFacing(bodyShape(id), facing);
            return std::vector<qor::app::PickInfo>{info};
        };
        window.matePanel->takePicks(pick(bodies[0], m.first));
        window.matePanel->takePicks(pick(bodies[1], m.second));
        window.matePanel->accept();
        EXPECT_EQ(window.viewer->coveredLeft(), 0);
        EXPECT_TRUE(modelInView()) << m.type;
    }
    EXPECT_EQ(window.controller->document->mates.size(), 2u);
}

} // namespace
