#include "app/MainWindow.h"
#include "model/DocumentController.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QAction>
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>

using qor::app::MainWindow;

namespace {

// Light neutral greys: the colour of face iso-lines. Body edges are drawn in the theme's
// cyan tones and the background is a dark blue.
int lightGreyPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qGreen(p)) < 12 && std::abs(qGreen(p) - qBlue(p)) < 12
                && qGreen(p) > 110)
                ++count;
        }
    }
    return count;
}

// Darker than the background everywhere that is not an edge: pixels lit by an edge.
int edgePixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qBlue(p) > 120 && qGreen(p) > 100)
                ++count;
        }
    }
    return count;
}

// "Drahtmodell" from the view bar's menu shows a body by its edges: a box by its twelve, a
// cylinder by its two circles and its seam; no iso-lines run across the faces.
TEST(DisplayStyle, WireframeShowsTheEdgesOnly)
{
    for (const char* type : {"box", "cylinder"}) {
        SCOPED_TRACE(type);
        MainWindow window;
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.controller->document->addFeature(QString::fromLatin1(type));
        window.controller->commit(QStringLiteral("Körper"));
        QAction* wireframe = nullptr;
        for (QAction* action : window.findChildren<QAction*>())
            if (action->text() == QStringLiteral("Drahtmodell"))
                wireframe = action;
        ASSERT_NE(wireframe, nullptr);
        wireframe->trigger();
        ASSERT_EQ(window.scene->displayStyle(), 2);
        window.viewer->setViewOrientation(V3d_XposYnegZpos, false);
        window.viewer->fitAll(false);
        const QImage image = window.viewer->grabImage(800, 600);
        EXPECT_GT(edgePixels(image), 500) << "the edges are not drawn";
        EXPECT_LT(lightGreyPixels(image), 50) << "grey iso-lines cross the faces";
        window.controller->modified = false;
    }
}

} // namespace
