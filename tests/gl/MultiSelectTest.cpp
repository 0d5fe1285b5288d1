#include "app/MainWindow.h"
#include "model/DocumentController.h"
#include "panels/CommandPanel.h"
#include "panels/MeasurePanel.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <AIS_AnimationCamera.hxx>

#include <QAction>
#include <QJsonArray>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using qor::app::MainWindow;

namespace {

// A 60 x 40 x 30 box under the isometric view: its +X, -Y and top faces face the viewer.
class MultiSelectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.controller->document->addFeature(
            QStringLiteral("box"), {{QStringLiteral("length"), QStringLiteral("60 mm")},
                                    {QStringLiteral("width"), QStringLiteral("40 mm")},
                                    {QStringLiteral("height"), QStringLiteral("30 mm")}});
        window.controller->commit(QStringLiteral("Quader"));
        window.viewer->setViewOrientation(V3d_XposYnegZpos, false);
        window.viewer->fitAll(false);
        flush();
    }

    // The view handles queued clicks when it paints.
    void flush()
    {
        window.viewer->grabFramebuffer();
        QCoreApplication::processEvents();
    }

    void click(const gp_Pnt& at, Qt::KeyboardModifiers modifiers)
    {
        qor::app::Viewer* viewer = window.viewer;
        // A panel opened over the model moves it aside: the move runs out before the model's
        // point is found on screen.
        ASSERT_TRUE(
            QTest::qWaitFor([viewer] { return viewer->ViewAnimation()->IsStopped(); }, 5000));
        const QPointF pixel = viewer->toScreen(at);
        const QPointF global = viewer->mapToGlobal(pixel);
        QMouseEvent move(QEvent::MouseMove, pixel, global, Qt::NoButton, Qt::NoButton, modifiers);
        QCoreApplication::sendEvent(viewer, &move);
        flush();
        QMouseEvent press(QEvent::MouseButtonPress, pixel, global, Qt::LeftButton, Qt::LeftButton,
                          modifiers);
        QCoreApplication::sendEvent(viewer, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, pixel, global, Qt::LeftButton, Qt::NoButton,
                            modifiers);
        QCoreApplication::sendEvent(viewer, &release);
        flush();
    }

    MainWindow window;
};

const gp_Pnt sideFace(30, 0, 15);
const gp_Pnt frontFace(0, -20, 15);
const gp_Pnt topFace(0, 0, 30);

// Measuring keeps the view's selection: a second click with Shift or Ctrl adds to it, as the
// hints say ("Strg/Umschalt für mehrere"), a plain one replaces it, and clicking a selected
// face again with either key takes it out.
TEST_F(MultiSelectTest, CtrlAddsAndTogglesLikeShiftWhileMeasuring)
{
    struct Case {
        const char* name;
        Qt::KeyboardModifiers modifiers;
        std::size_t afterSecond;
        std::size_t afterRepeat; // the first face clicked again with the same keys
    };
    const Case cases[] = {
        {"plain", Qt::NoModifier, 1, 1},
        {"Shift", Qt::ShiftModifier, 2, 1},
        {"Ctrl", Qt::ControlModifier, 2, 1},
        {"Ctrl+Shift", Qt::ControlModifier | Qt::ShiftModifier, 2, 1},
    };
    window.toggleMeasure();
    ASSERT_FALSE(window.measurePanel.isNull());
    for (const Case& c : cases) {
        window.scene->clearSelection();
        click(sideFace, Qt::NoModifier);
        ASSERT_EQ(window.scene->selectedPicks().size(), 1u) << c.name;
        click(frontFace, c.modifiers);
        EXPECT_EQ(window.scene->selectedPicks().size(), c.afterSecond) << c.name;
        click(sideFace, c.modifiers);
        EXPECT_EQ(window.scene->selectedPicks().size(), c.afterRepeat) << c.name;
    }
    // Two faces picked with Ctrl give the panel a measurement between two elements.
    window.scene->clearSelection();
    click(sideFace, Qt::NoModifier);
    const QString one = window.measurePanel->resultText();
    click(topFace, Qt::ControlModifier);
    EXPECT_NE(window.measurePanel->resultText(), one);
}

// A feature's faces field collects Ctrl-clicked faces like Shift-clicked ones, and a face
// clicked again leaves the field.
TEST_F(MultiSelectTest, CtrlClicksFillAndToggleAFacesField)
{
    for (const Qt::KeyboardModifiers modifiers : {Qt::ShiftModifier, Qt::ControlModifier}) {
        window.createFeature(QStringLiteral("shell"), {});
        ASSERT_EQ(window.commandPanel->activeKey(), QStringLiteral("faces"));
        const qor::model::Feature* shell = window.commandPanel->currentFeature();
        ASSERT_NE(shell, nullptr);
        click(topFace, modifiers);
        click(sideFace, modifiers);
        EXPECT_EQ(shell->params.value(QStringLiteral("faces")).toArray().size(), 2)
            << int(modifiers);
        click(topFace, modifiers);
        EXPECT_EQ(shell->params.value(QStringLiteral("faces")).toArray().size(), 1)
            << int(modifiers);
        window.commandPanel->cancel();
    }
}

// The status line names what the view holds selected as the measure box opens and closes
// and as a sketch waits for its plane: their pick masks drop a selection, and the line must
// not go on naming it.
TEST_F(MultiSelectTest, StatusLineForgetsASelectionThatAPickMaskDropped)
{
    QLabel* status = window.statusRight;
    click(topFace, Qt::NoModifier);
    ASSERT_EQ(window.scene->selectedPicks().size(), 1u);
    ASSERT_TRUE(status->text().startsWith(QStringLiteral("Fläche · ")));
    window.actions.value(QStringLiteral("measure"))->trigger();
    ASSERT_FALSE(window.measurePanel.isNull());
    EXPECT_TRUE(window.scene->selectedPicks().empty());
    EXPECT_EQ(status->text().toStdString(), "");

    click(sideFace, Qt::NoModifier);
    click(frontFace, Qt::ControlModifier);
    ASSERT_EQ(window.scene->selectedPicks().size(), 2u);
    EXPECT_EQ(status->text(), QStringLiteral("2 Elemente ausgewählt"));
    // The first Escape in the view closes the box.
    window.viewer->setFocus();
    QTest::keyClick(window.viewer, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(window.measurePanel.isNull());
    EXPECT_TRUE(window.scene->selectedPicks().empty());
    EXPECT_EQ(status->text().toStdString(), "");

    // The wait for a sketch plane drops the selection as well.
    click(topFace, Qt::NoModifier);
    ASSERT_FALSE(status->text().isEmpty());
    window.actions.value(QStringLiteral("sketch"))->trigger();
    ASSERT_TRUE(window.property("pickPlane").toBool());
    EXPECT_TRUE(window.scene->selectedPicks().empty());
    EXPECT_EQ(status->text().toStdString(), "");
}

} // namespace
