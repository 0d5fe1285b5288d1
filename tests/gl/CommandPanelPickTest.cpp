#include "panels/CommandPanel.h"

#include "model/DocumentController.h"
#include "tests/gl/ShowViewer.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace qor::app;

namespace {

// A box under an isometric view: a click at the centre of the view hits one of its faces.
class CommandPanelPickTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qor::test::showViewer(viewer, 480, 360));
        controller.document->addFeature(QStringLiteral("box"), {{"length", 60}});
        controller.recompute();
        controller.resetHistory();
        scene.rebuild();
        viewer.setViewOrientation(V3d_XposYnegZpos, false);
        viewer.fitAll(false);
    }

    qor::model::Feature* openNew(const QString& type)
    {
        qor::model::Feature* f = controller.document->addFeature(type);
        controller.recompute();
        panel.open(f->id, true);
        return f;
    }

    // A click at the centre of the view, then the viewer's selection signal as the main
    // window forwards it.
    void clickCentre()
    {
        const double ratio = viewer.devicePixelRatioF();
        viewer.context()->MoveTo(int(viewer.width() / 2 * ratio), int(viewer.height() / 2 * ratio),
                                 viewer.view(), false);
        viewer.context()->SelectDetected(AIS_SelectionScheme_Replace);
        panel.applyPicks();
    }

    Viewer viewer;
    DocumentController controller;
    Scene scene{&viewer, &controller};
    CommandPanel panel{&controller, &scene};
};

TEST_F(CommandPanelPickTest, AFacePickedTwiceTogglesAndTheSelectionIsConsumed)
{
    qor::model::Feature* shell = openNew(QStringLiteral("shell"));
    ASSERT_EQ(panel.activeKey(), QStringLiteral("faces"));
    EXPECT_EQ(scene.selectionMask(), 0x01);
    EXPECT_EQ(controller.document->rollback, 1); // the box only

    clickCentre();
    EXPECT_TRUE(scene.selectedPicks().empty());
    const QJsonArray faces = shell->params.value("faces").toArray();
    ASSERT_EQ(faces.size(), 1);
    EXPECT_EQ(faces.at(0)["kind"], QJsonValue("face"));
    EXPECT_EQ(faces.at(0)["body"], QJsonValue(100));

    clickCentre();
    EXPECT_TRUE(shell->params.value("faces").toArray().isEmpty());

    clickCentre();
    QTest::qWait(250); // the debounced preview: the shell's tool body over the rolled-back box
    EXPECT_EQ(controller.document->rollback, 1);
    EXPECT_EQ(shell->error, QString());
    panel.accept();
    EXPECT_EQ(scene.selectionMask(), 51);
    EXPECT_EQ(controller.document->rollback, -1);
    EXPECT_EQ(shell->error, QString());
}

TEST_F(CommandPanelPickTest, AFeaturesFieldLeavesViewerPicksAlone)
{
    qor::model::Feature* pattern = openNew(QStringLiteral("pattern_circ"));
    ASSERT_EQ(panel.activeKey(), QStringLiteral("features"));
    EXPECT_EQ(scene.selectionMask(), 51);
    EXPECT_EQ(controller.document->rollback, -1);

    clickCentre();
    EXPECT_EQ(scene.selectedPicks().size(), 1u); // not consumed
    EXPECT_TRUE(pattern->params.value("features").toArray().isEmpty());

    const int boxId = controller.document->features.front()->id;
    panel.onTimelineFeature(boxId);
    panel.onTimelineFeature(pattern->id); // the edited feature itself is ignored
    EXPECT_EQ(pattern->params.value("features").toArray(), QJsonArray{boxId});
}

} // namespace
