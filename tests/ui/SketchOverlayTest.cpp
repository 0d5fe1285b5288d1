#include "view/sketch/SketchOverlay.h"
#include "ui/theme/Theme.h"
#include "sketch/Dof.h"
#include "tests/ui/FakeSketchMapper.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

using qor::app::SketchEditState;
using qor::app::SketchPicture;

namespace {

// Paints the sketch on black, without antialiasing so that line pixels keep their colour.
QImage paint(const qor::sketch::Sketch& sketch, const SketchEditState& state)
{
    QImage image(800, 600, QImage::Format_ARGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    const FakeSketchMapper mapper;
    paintSketch(painter, SketchPicture{sketch, mapper, state, gp_Ax3(), nullptr});
    return image;
}

TEST(SketchOverlayTest, DeterminedLineIsDrawnInItsColourAndConstructionDashed)
{
    qor::sketch::Sketch sketch;
    sketch.addLineAt(false, -20, 10, 20, 10); // y = 200 px
    const int construction = int(sketch.addLineAt(true, -20, -10, 20, -10)); // y = 400 px
    SketchEditState state;
    state.determined.assign(sketch.params.size(), true);
    const QImage image = paint(sketch, state);

    EXPECT_EQ(image.pixelColor(400, 200), QColor(0xF2, 0xF6, 0xFF));
    int warning = 0;
    int gaps = 0;
    for (int x = 250; x < 550; ++x) {
        const QColor c = image.pixelColor(x, 400);
        warning += c == qor::app::Theme::instance().warning;
        gaps += c == QColor(Qt::black);
    }
    EXPECT_GT(warning, 100) << construction;
    EXPECT_GT(gaps, 50);
}

TEST(SketchOverlayTest, LineToolTagShowsLengthAndAngle)
{
    SketchEditState state;
    state.tool = 1;
    state.step.points = {{0.0, 0.0}};
    state.cursor = {30.0, 40.0};
    EXPECT_EQ(measurementText(state), QStringLiteral("50 mm  ·  53.1°"));
    state.tool = 4;
    EXPECT_EQ(measurementText(state), QStringLiteral("⌀ 100"));
}

} // namespace
