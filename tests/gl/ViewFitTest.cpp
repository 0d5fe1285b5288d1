#include "app/MainWindow.h"
#include "model/DocumentController.h"
#include "panels/CommandPanel.h"
#include "tests/common/RectangleChain.h"
#include "tests/gl/ViewPixels.h"
#include "view/Camera.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <QFrame>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

using qor::app::MainWindow;
using qor::test::coveredPixels;

namespace {

class ViewFitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(100);
    }

    QImage viewImage()
    {
        return window.viewer->grabImage(window.viewer->width(), window.viewer->height());
    }

    // Lets the view's camera animation run to its end.
    void settle() { QTest::qWait(900); }

    MainWindow window;
};

// New document, a sketch on XY with an 80 x 50 rectangle, finish, extrusion: the first solid
// lies wholly in the part of the view that neither the feature panel nor the view bar covers.
TEST_F(ViewFitTest, FirstExtrusionOpensClearOfThePanelAndTheViewBar)
{
    const QImage empty = viewImage();
    window.newSketch(qor::model::datumReferenceJson(-1));
    ASSERT_NE(window.sketchEditor, nullptr);
    qor::sketch::fixtures::addRectangle(window.sketchEditor->sketch(), 0, 0, 80, 50);
    window.finishSketch(true);
    window.createFeature(QStringLiteral("extrude"), {});
    ASSERT_NE(window.commandPanel->featureId(), 0);
    ASSERT_TRUE(window.commandPanel->isVisible());
    settle();

    const QRect model = coveredPixels(empty, viewImage());
    ASSERT_GT(model.width() * model.height(), 5000) << "the solid is not shown";
    const QRect panel = window.commandPanel->geometry();
    const QRect view = window.viewer->rect();
    EXPECT_GT(model.left(), panel.right()) << "the solid lies under the feature panel";
    EXPECT_GT(model.top(), 0);
    EXPECT_LT(model.right(), view.right());
    EXPECT_LT(model.bottom(), view.bottom() - int(qor::app::fitBarReserve) / 2)
        << "the solid reaches under the view bar";
    // Fitted to the solid, not to the flat sketch before it: centred in the free part of the
    // view and filling it but for the margin.
    const QRectF free(panel.right() + 10, qor::app::fitBarReserve,
                      view.width() - panel.right() - 10,
                      view.height() - 2 * qor::app::fitBarReserve);
    EXPECT_GT(std::max(model.width() / free.width(), model.height() / free.height()), 0.7);
    EXPECT_NEAR(model.center().x(), free.center().x(), 0.05 * free.width());
    EXPECT_NEAR(model.center().y(), free.center().y(), 0.05 * free.height());

    // Accepted and fitted again ("F"), the whole view is free again.
    window.commandPanel->accept();
    window.viewer->fitAll(false);
    const QRect refitted = coveredPixels(empty, viewImage());
    EXPECT_GT(refitted.left(), 0);
    EXPECT_LT(refitted.left(), panel.right());
}

// A revolution without its axis shows nothing at first; the view is fitted once the picked
// axis gives the first preview, which then lies clear of the panel.
TEST_F(ViewFitTest, FirstSolidWaitingForAPickIsFittedAtItsFirstPreview)
{
    const QImage empty = viewImage();
    window.newSketch(qor::model::datumReferenceJson(-1));
    ASSERT_NE(window.sketchEditor, nullptr);
    qor::sketch::fixtures::addRectangle(window.sketchEditor->sketch(), 40, 0, 30, 60);
    window.finishSketch(true);
    window.createFeature(QStringLiteral("revolve"), {});
    ASSERT_EQ(window.commandPanel->activeKey(), QStringLiteral("axis"));
    settle();
    EXPECT_TRUE(window.scene->previewObject().IsNull());

    window.commandPanel->setParam(QStringLiteral("axis"), qor::model::datumReferenceJson(-12));
    settle();
    ASSERT_FALSE(window.scene->previewObject().IsNull()) << "no preview of the revolution";
    const QRect model = coveredPixels(empty, viewImage());
    const QRect panel = window.commandPanel->geometry();
    EXPECT_GT(model.left(), panel.right());
    EXPECT_GT(model.top(), 0);
    EXPECT_LT(model.right(), window.viewer->rect().right());
    EXPECT_LT(model.bottom(), window.viewer->rect().bottom());
    // A ring of 140 mm across fills the free part of the view, not the sketch's 30 mm.
    const double freeWidth = window.viewer->width() - panel.right() - 10;
    const double freeHeight = window.viewer->height() - 2 * qor::app::fitBarReserve;
    EXPECT_GT(std::max(model.width() / freeWidth, model.height() / freeHeight), 0.7);
}

// A part far larger than the empty view's 260 mm field, inserted as the first component of
// an empty assembly, is framed, and so is the assembly when the second one is placed beside.
TEST_F(ViewFitTest, FirstComponentOfAnEmptyAssemblyIsFittedIntoView)
{
    QTemporaryDir dir;
    const QString part = dir.filePath(QStringLiteral("Platte.qcpart"));
    {
        qor::app::DocumentController source;
        source.newDocument();
        source.document->addFeature(QStringLiteral("box"),
                                    {{QStringLiteral("length"), QStringLiteral("900 mm")},
                                     {QStringLiteral("width"), QStringLiteral("500 mm")}});
        source.recompute();
        ASSERT_TRUE(source.saveAs(part));
    }
    const QImage empty = viewImage();
    window.insertComponent(part);
    ASSERT_EQ(window.controller->document->components.size(), 1u);
    settle();
    const QRect model = coveredPixels(empty, viewImage());
    const QRect view = window.viewer->rect();
    ASSERT_FALSE(model.isEmpty());
    EXPECT_GT(model.left(), 0);
    EXPECT_GT(model.top(), 0);
    EXPECT_LT(model.right(), view.right());
    EXPECT_LT(model.bottom(), view.bottom());

    // The second one lands beside the first, beyond the right edge of the fitted view: the
    // view frames both.
    window.insertComponent(part);
    ASSERT_EQ(window.controller->document->components.size(), 2u);
    settle();
    const QRect both = coveredPixels(empty, viewImage());
    EXPECT_GT(both.left(), 0);
    EXPECT_LT(both.right(), view.right());
    EXPECT_GT(both.width(), model.width());
}

} // namespace
