#include "view/sketch/SketchOverlay.h"
#include "sketch/Dof.h"
#include "sketch/Regions.h"
#include "tests/ui/FakeSketchMapper.h"
#include "ui/theme/Theme.h"

#include <QImage>
#include <QLineF>
#include <QPainter>
#include <gtest/gtest.h>

#include <algorithm>

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

double distanceToSegment(QPointF p, QLineF segment)
{
    const QPointF d = segment.p2() - segment.p1();
    const double t = std::clamp(
        QPointF::dotProduct(p - segment.p1(), d) / QPointF::dotProduct(d, d), 0.0, 1.0);
    return QLineF(p, segment.p1() + t * d).length();
}

// The profile of a turned flange: an L whose inner corner is cut off, with a bore in its foot.
TEST(SketchOverlayTest, RegionFillStaysInsideAConcaveOutlineAndOutOfItsHole)
{
    const std::vector<qor::sketch::Vec2> corners
        = {{20, 0}, {60, 0}, {60, 14}, {32, 14}, {28, 18}, {28, 50}, {20, 50}};
    qor::sketch::Sketch sketch;
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const auto a = corners[i];
        const auto b = corners[(i + 1) % corners.size()];
        sketch.addLineAt(false, a.x, a.y, b.x, b.y);
    }
    const qor::sketch::Vec2 bore{45, 7};
    constexpr double boreRadius = 4.0;
    sketch.addCircleAt(false, bore.x, bore.y, boreRadius);
    const std::vector<qor::sketch::ProfileRegion> regions
        = qor::sketch::buildRegions(sketch, gp_Ax3());
    ASSERT_FALSE(regions.empty());

    struct View {
        double scale;
        QPointF origin;
    };
    // Whole in the picture; zoomed in so far that the outline runs out of it on three sides.
    for (const View& view : {View{6.0, {200.0, 500.0}}, View{40.0, {-800.0, 940.0}}}) {
        SCOPED_TRACE(view.scale);
        FakeSketchMapper mapper;
        mapper.scale = view.scale;
        mapper.origin = view.origin;
        QImage image(800, 600, QImage::Format_ARGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        paintSketch(painter, SketchPicture{sketch, mapper, SketchEditState{}, gp_Ax3(), &regions});
        painter.end();

        QPolygonF outline;
        for (auto p : corners)
            outline << mapper.toPixel(p);
        int filled = 0;
        int spilled = 0;
        int missed = 0;
        int unstroked = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QPointF centre(x + 0.5, y + 0.5);
                double toCurve = 1e9;
                for (qsizetype i = 0; i < outline.size(); ++i)
                    toCurve = std::min(
                        toCurve, distanceToSegment(centre, {outline[i], outline[(i + 1) % 7]}));
                const double toBore
                    = QLineF(centre, mapper.toPixel(bore)).length() - boreRadius * view.scale;
                const bool painted = image.pixel(x, y) != qRgb(0, 0, 0);
                unstroked += toCurve < 1.0 && !painted;
                toCurve = std::min(toCurve, std::abs(toBore));
                // Curves, points, the bore's centre and the origin mark are painted within a
                // few pixels.
                const double toMark = std::min(QLineF(centre, mapper.toPixel(0.0, 0.0)).length(),
                                               QLineF(centre, mapper.toPixel(bore)).length());
                if (std::min(toCurve, toMark) < 9.0)
                    continue;
                const bool inside = outline.containsPoint(centre, Qt::OddEvenFill) && toBore > 0;
                filled += painted && inside;
                spilled += painted && !inside;
                missed += inside && !painted;
            }
        }
        EXPECT_GT(filled, 10000);
        EXPECT_EQ(spilled, 0);
        EXPECT_EQ(missed, 0);
        EXPECT_EQ(unstroked, 0);
    }
}

TEST(SketchOverlayTest, CrossingGlowsKeepOneAlpha)
{
    qor::sketch::Sketch sketch;
    sketch.addLineAt(false, -10, 10, 30, 10); // y = 200 px
    sketch.addLineAt(false, 20, -5, 20, 25); // x = 600 px
    sketch.addLineAt(false, -10, -20, 30, -20); // y = 500 px: hovered, its own glow
    SketchEditState state;
    state.hover = {qor::app::HitKind::Curve, int(sketch.entities.back().id), 0.0};
    const QImage image = paint(sketch, state);
    const QColor single = image.pixelColor(650, 202);
    EXPECT_NE(single, QColor(Qt::black));
    EXPECT_NE(single, qor::app::Theme::instance().accent); // the glow, not the line
    EXPECT_EQ(image.pixelColor(602, 150), single);
    EXPECT_EQ(image.pixelColor(602, 202), single); // inside both glows
    EXPECT_GT(image.pixelColor(450, 502).green(), single.green()); // hovered glows stronger
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
