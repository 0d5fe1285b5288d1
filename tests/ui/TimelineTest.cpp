#include "app/shell/Timeline.h"
#include "app/theme/Theme.h"
#include "model/DocumentController.h"

#include "ShellDocument.h"

#include <QHelpEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

using qor::app::DocumentController;
using qor::app::Timeline;
using qor::app::TimelineStrip;

namespace {

struct StripCase {
    int count;
    int rollback;
    int position;
    std::vector<int> cellLefts;
    int markerX;
};

// A strip of plain features shown and ready for mouse input.
struct Strip {
    DocumentController controller;
    Timeline timeline{&controller};

    explicit Strip(int features, int rollback = -1)
    {
        for (int i = 0; i < features; ++i)
            controller.document->addFeature(QStringLiteral("box"));
        controller.document->rollback = rollback;
        timeline.resize(700, 46);
        timeline.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&timeline));
    }
    int id(int index) const { return controller.document->features[std::size_t(index)]->id; }
};

int brightestIn(const QImage& image, const QRect& area)
{
    int brightest = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            brightest = std::max(brightest, qGray(image.pixel(x, y)));
    return brightest;
}

QPoint at(int x)
{
    return QPoint(x, 20);
}

} // namespace

TEST(Timeline, CellsAndMarkerFollowTheRollback)
{
    const std::vector<StripCase> cases = {
        {0, -1, 0, {}, 90},
        {5, 2, 2, {96, 130, 178, 212, 246}, 167},
        {5, -1, 5, {96, 130, 164, 198, 232}, 269},
        {5, 9, 5, {96, 130, 164, 198, 232}, 269}, // beyond the count: no rollback
        {3, 0, 0, {110, 144, 178}, 90},
    };
    for (const StripCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " features, rollback " << c.rollback);
        const TimelineStrip strip{c.count, TimelineStrip::rollbackPosition(c.count, c.rollback)};
        EXPECT_EQ(strip.position, c.position);
        for (int i = 0; i < c.count; ++i)
            EXPECT_EQ(strip.cellRect(i), QRect(c.cellLefts[std::size_t(i)], 8, 30, 30));
        EXPECT_EQ(strip.markerX(strip.position), c.markerX);
    }
    const TimelineStrip strip{5, 2};
    EXPECT_EQ(strip.indexAt(94), 0);  // 2 px left of the cell still hits it
    EXPECT_EQ(strip.indexAt(93), -1);
    EXPECT_EQ(strip.indexAt(161), 1);
    EXPECT_EQ(strip.indexAt(162), -1); // the gap that holds the marker
    EXPECT_EQ(strip.indexAt(176), 2);
    EXPECT_EQ(strip.nearestPosition(0), 0);
    EXPECT_EQ(strip.nearestPosition(400), 5);
    EXPECT_EQ((TimelineStrip{0, 0}.indexAt(90)), -1);
}

TEST(Timeline, ClicksSelectCellsAndDoubleClicksEdit)
{
    Strip s(5);
    QSignalSpy selected(&s.timeline, &Timeline::selected);
    QSignalSpy edit(&s.timeline, &Timeline::editRequested);
    QSignalSpy rollback(&s.timeline, &Timeline::rollbackRequested);

    QTest::mouseClick(&s.timeline, Qt::RightButton, {}, at(140));
    QTest::mouseClick(&s.timeline, Qt::LeftButton, {}, at(60)); // the caption
    EXPECT_EQ(selected.count(), 0);
    QTest::mouseClick(&s.timeline, Qt::LeftButton, {}, at(140));
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected.at(0).at(0).toInt(), s.id(1));
    QTest::mouseDClick(&s.timeline, Qt::LeftButton, {}, at(200));
    ASSERT_EQ(edit.count(), 1);
    EXPECT_EQ(edit.at(0).at(0).toInt(), s.id(3));
    EXPECT_EQ(rollback.count(), 0);
}

TEST(Timeline, DraggingTheMarkerRequestsARollback)
{
    struct Drag {
        int features;
        int rollback;
        Qt::MouseButton button;
        int from;
        int to;
        int emitted;
    };
    const std::vector<Drag> drags = {
        {0, -1, Qt::LeftButton, 96, 300, -1}, // empty document, grabbed 6 px off
        {5, -1, Qt::RightButton, 269, 100, 0},
        {5, 2, Qt::LeftButton, 167, 600, -1}, // behind the last cell: no rollback
        {5, -1, Qt::LeftButton, 262, 190, 3},
    };
    for (const Drag& d : drags) {
        SCOPED_TRACE(testing::Message() << d.features << " features from " << d.from);
        Strip s(d.features, d.rollback);
        QSignalSpy rollback(&s.timeline, &Timeline::rollbackRequested);
        QSignalSpy selected(&s.timeline, &Timeline::selected);
        QTest::mousePress(&s.timeline, d.button, {}, at(d.from));
        QTest::mouseMove(&s.timeline, at(d.to));
        EXPECT_EQ(rollback.count(), 0);
        QTest::mouseRelease(&s.timeline, d.button, {}, at(d.to));
        ASSERT_EQ(rollback.count(), 1);
        EXPECT_EQ(rollback.at(0).at(0).toInt(), d.emitted);
        EXPECT_EQ(selected.count(), 0);
    }
}

TEST(Timeline, PaintsInactiveCellsAndShowsErrorsFirst)
{
    Strip s(5, 2);
    qor::model::Feature& last = *s.controller.document->features.back();
    last.error = QStringLiteral("Keine Kante <gewählt>");
    last.warning = QStringLiteral("Warnung");
    const qor::app::Theme& theme = qor::app::Theme::instance();
    const QImage image = s.timeline.grab().toImage();
    EXPECT_EQ(image.pixelColor(110, 35), theme.bg2); // active cell, below its icon
    EXPECT_EQ(image.pixelColor(192, 35), theme.bg1); // behind the marker
    EXPECT_EQ(image.pixelColor(167, 30), theme.accent3);
    EXPECT_EQ(image.pixelColor(246, 28), theme.danger); // left border of the failed cell
    // Icons behind the marker are muted: nothing in them is brighter than textMute.
    EXPECT_GT(brightestIn(image, QRect(101, 13, 18, 18)), 200);
    EXPECT_LE(brightestIn(image, QRect(183, 13, 18, 18)), qGray(theme.textMute.rgb()));

    QHelpEvent help(QEvent::ToolTip, at(260), s.timeline.mapToGlobal(at(260)));
    QApplication::sendEvent(&s.timeline, &help);
    const QString tip = QToolTip::text();
    EXPECT_TRUE(tip.contains(QStringLiteral("Keine Kante &lt;gewählt&gt;")));
    EXPECT_FALSE(tip.contains(QStringLiteral("Warnung")));
    EXPECT_TRUE(tip.endsWith(QStringLiteral("Doppelklick: bearbeiten</span>")));
}

TEST(Timeline, RendersARealPart)
{
    DocumentController controller;
    qor::test::buildShellPart(controller);
    controller.document->rollback = 10;
    Timeline timeline(&controller);
    timeline.resize(720, 46);
    timeline.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&timeline));
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, at(130 + 34 * 3));
    EXPECT_TRUE(qor::test::saveShot(timeline, QStringLiteral("timeline.png")));
}
