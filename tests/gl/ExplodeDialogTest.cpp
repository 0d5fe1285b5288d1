#include "panels/dialogs/ExplodeDialog.h"
#include "model/DocumentController.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

using namespace qor::app;

// The slider opens at the scene's factor (truncated, at most 200 %), and "Zurücksetzen"
// brings the view back together without closing the dialog.
TEST(ExplodeDialog, OpensAtTheSceneFactorAndResets)
{
    DocumentController controller;
    Viewer viewer;
    QSignalSpy started(&viewer, &Viewer::initialized);
    viewer.show();
    ASSERT_TRUE(started.count() == 1 || started.wait(5000));
    Scene scene(&viewer, &controller);

    for (const auto& [factor, percent] : {std::pair{0.555, 55}, std::pair{2.7, 200}}) {
        scene.setExplodeFactor(factor);
        ExplodeDialog dialog(&scene);
        EXPECT_EQ(dialog.slider()->value(), percent);
        EXPECT_DOUBLE_EQ(scene.explodeFactor(), percent / 100.0);
    }
    ExplodeDialog dialog(&scene);
    dialog.show();
    QPushButton* reset = nullptr;
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        reset = button->text() == QStringLiteral("Zurücksetzen") ? button : reset;
    ASSERT_NE(reset, nullptr);
    QTest::mouseClick(reset, Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(scene.explodeFactor(), 0.0);
    bool labelShown = false;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        labelShown = labelShown || label->text() == QStringLiteral("Abstand: 0 %");
    EXPECT_TRUE(labelShown);
}
