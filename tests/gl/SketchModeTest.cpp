#include "app/MainWindow.h"
#include "model/DocumentController.h"
#include "model/ShapeSignature.h"
#include "sketch/Solver.h"
#include "tests/common/RectangleChain.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

using qor::app::MainWindow;
using qor::sketch::ConstraintType;

namespace {

class SketchModeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    qor::app::SketchEditor& startNewSketch()
    {
        window.newSketch(qor::model::datumReferenceJson(-1));
        window.viewer->lookAt(window.sketchEditor->plane(), false);
        return *window.sketchEditor;
    }

    QPoint pixelOf(qor::sketch::Vec2 p) const
    {
        return window.sketchEditor->mapper().toPixel(p).toPoint();
    }

    QString toastText() const
    {
        return window.toast->findChild<QLabel*>(QStringLiteral("ToastText"))->text();
    }

    MainWindow window;
};

TEST_F(SketchModeTest, NewSketchFinishedEmptyLeavesNoFeatureAndNoStep)
{
    const std::size_t steps = window.controller->history.size();
    startNewSketch();
    EXPECT_TRUE(window.sketchHud->isVisible());
    window.finishSketch(true);
    EXPECT_EQ(window.sketchEditor, nullptr);
    EXPECT_TRUE(window.controller->document->features.empty());
    EXPECT_EQ(window.controller->history.size(), steps);
    EXPECT_FALSE(window.sketchHud->isVisible());
}

TEST_F(SketchModeTest, NewSketchWithEntitiesCommitsOneStepAndShowsTheToast)
{
    qor::app::SketchEditor& editor = startNewSketch();
    editor.sketch().addLineAt(false, 0, 0, 40, 10);
    window.finishSketch(true);
    ASSERT_EQ(window.controller->document->features.size(), 1u);
    EXPECT_EQ(window.controller->undoText(), QStringLiteral("Skizze1 bearbeiten"));
    EXPECT_EQ(toastText(), QStringLiteral("Skizze fertig – mit E extrudieren"));
}

TEST_F(SketchModeTest, DiscardRestoresContentAndRollback)
{
    window.createExample(QStringLiteral("bracket"));
    auto& document = *window.controller->document;
    const int sketchId = document.features.front()->id;
    const QJsonObject before = document.feature(sketchId)->sketch->toJson();
    document.rollback = 3;
    window.controller->commit(QStringLiteral("Zurückrollen"));
    window.enterSketch(sketchId);
    EXPECT_EQ(document.rollback, 1);
    window.sketchEditor->sketch().addLineAt(false, 0, 0, 5, 5);
    window.finishSketch(false);
    EXPECT_EQ(document.feature(sketchId)->sketch->toJson(), before);
    EXPECT_EQ(document.rollback, 3);
}

TEST_F(SketchModeTest, EscapeClearsTheSelectionThenPassesOn)
{
    qor::app::SketchEditor& editor = startNewSketch();
    const int line = int(editor.sketch().addLineAt(false, 0, 0, 40, 0));
    editor.state.selectedEntities = {line};
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    EXPECT_TRUE(editor.keyPress(&escape));
    EXPECT_TRUE(editor.state.selectedEntities.empty());
    EXPECT_FALSE(editor.keyPress(&escape));
    editor.setTool(4);
    EXPECT_TRUE(editor.keyPress(&escape));
    EXPECT_EQ(editor.state.tool, 0);
}

TEST_F(SketchModeTest, UndoKeepsThreeHundredAndAPlainClickOnlyClearsRedo)
{
    qor::app::SketchEditor& editor = startNewSketch();
    const int line = int(editor.sketch().addLineAt(false, -20, 0, 20, 0));
    for (int i = 0; i < 301; ++i)
        editor.toggleConstruction(), editor.state.selectedEntities = {line};
    EXPECT_EQ(editor.history.undoStack.size(), 300u);
    editor.undo();
    ASSERT_EQ(editor.history.redoStack.size(), 1u);

    const std::size_t undoDepth = editor.history.undoStack.size();
    const QPoint onLine = pixelOf({10.0, 0.0});
    QTest::mousePress(window.viewer, Qt::LeftButton, {}, onLine);
    QTest::mouseRelease(window.viewer, Qt::LeftButton, {}, onLine);
    EXPECT_EQ(editor.history.undoStack.size(), undoDepth);
    EXPECT_TRUE(editor.history.redoStack.empty());
    EXPECT_EQ(editor.state.selectedEntities, std::set<int>{line});
}

TEST_F(SketchModeTest, HWithASelectedLineAddsHorizontal)
{
    qor::app::SketchEditor& editor = startNewSketch();
    const int line = int(editor.sketch().addLineAt(false, 0, 0, 30, 4));
    editor.state.selectedEntities = {line};
    QTest::keyClick(window.viewer, Qt::Key_H);
    const auto& constraints = editor.sketch().constraints;
    ASSERT_EQ(constraints.size(), 1u);
    EXPECT_EQ(constraints.front().type, ConstraintType::Horizontal);
    EXPECT_EQ(constraints.front().a, line);
    EXPECT_NEAR(editor.sketch().pointPosition(editor.sketch().startPoint(line)).y,
                editor.sketch().pointPosition(editor.sketch().endPoint(line)).y, 1e-9);
}

TEST_F(SketchModeTest, DragThroughTheMouseKeepsConstraintsAndUndoesInOneStep)
{
    qor::app::SketchEditor& editor = startNewSketch();
    qor::sketch::Sketch& s = editor.sketch();
    const auto chain = qor::sketch::fixtures::addRectangleChain(s, 2, false);
    editor.commitChange();
    const std::vector<double> start = s.params;
    const int corner = chain.back().corners[2];

    const qor::sketch::Vec2 from = s.pointPosition(corner);
    QTest::mousePress(window.viewer, Qt::LeftButton, {}, pixelOf(from));
    for (int step = 1; step <= 5; ++step)
        QTest::mouseMove(window.viewer, pixelOf(from + qor::sketch::Vec2{step * 1.0, step * 0.6}));
    QTest::mouseRelease(window.viewer, Qt::LeftButton, {},
                        pixelOf(from + qor::sketch::Vec2{5.0, 3.0}));

    EXPECT_GT((s.pointPosition(corner) - from).length(), 1.0);
    Eigen::VectorXd residuals;
    qor::sketch::buildSystem(s).residuals(s.params, residuals);
    EXPECT_LT(residuals.cwiseAbs().maxCoeff(), 1e-6);
    editor.undo();
    EXPECT_EQ(s.params, start);
}

} // namespace
