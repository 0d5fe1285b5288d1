#include "app/shell/Timeline.h"
#include "ui/theme/Theme.h"

#include "ShellDocument.h"
#include "tests/fixtures/BodyHistory.h"

#include <QHelpEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

using qor::app::Timeline;
using qor::app::TimelineStrip;

namespace {

// A shown strip of `features` boxes with the document's rollback index.
struct Strip {
    qor::app::DocumentController controller;
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
};

QPoint at(int x)
{
    return QPoint(x, 20);
}

} // namespace

TEST(Timeline, CellsAndMarkerFollowTheRollback)
{
    struct Case {
        int count, rollback, position, lastCellX, markerX;
    };
    for (const Case& c : {Case{0, -1, 0, 0, 90}, Case{5, 2, 2, 246, 167}, Case{5, -1, 5, 232, 269},
                          Case{5, 9, 5, 232, 269}, Case{3, 0, 0, 178, 90}}) {
        SCOPED_TRACE(testing::Message() << c.count << " features, rollback " << c.rollback);
        const TimelineStrip strip{c.count, TimelineStrip::rollbackPosition(c.count, c.rollback)};
        EXPECT_EQ(strip.position, c.position);
        if (c.count > 0)
            EXPECT_EQ(strip.cellRect(c.count - 1), QRect(c.lastCellX, 8, 30, 30));
        EXPECT_EQ(strip.markerX(strip.position), c.markerX);
    }
    const TimelineStrip strip{5, 2};
    EXPECT_EQ(strip.cellRect(2).left(), 178);
    const std::pair<int, int> hits[] = {{93, -1}, {94, 0}, {161, 1}, {162, -1}, {176, 2}};
    for (const auto& [x, index] : hits)
        EXPECT_EQ(strip.indexAt(x), index) << x;
}

TEST(Timeline, ClicksSelectAndDoubleClicksEdit)
{
    Strip s(5);
    QSignalSpy selected(&s.timeline, &Timeline::selected);
    QSignalSpy edit(&s.timeline, &Timeline::editRequested);
    QTest::mouseClick(&s.timeline, Qt::RightButton, {}, at(140));
    QTest::mouseClick(&s.timeline, Qt::LeftButton, {}, at(60)); // on the caption
    EXPECT_EQ(selected.count(), 0);
    QTest::mouseClick(&s.timeline, Qt::LeftButton, {}, at(140));
    QTest::mouseDClick(&s.timeline, Qt::LeftButton, {}, at(200));
    const auto& features = s.controller.document->features;
    EXPECT_EQ(selected, QList<QVariantList>({{features[1]->id}}));
    EXPECT_EQ(edit, QList<QVariantList>({{features[3]->id}}));
}

TEST(Timeline, DraggingTheMarkerRequestsARollback)
{
    struct Drag {
        int features, rollback;
        Qt::MouseButton button;
        int from, to, emitted;
    };
    for (const Drag& d :
         {Drag{0, -1, Qt::LeftButton, 96, 300, -1}, Drag{5, -1, Qt::RightButton, 269, 100, 0},
          Drag{5, 2, Qt::LeftButton, 167, 600, -1}, Drag{5, -1, Qt::LeftButton, 262, 190, 3}}) {
        SCOPED_TRACE(testing::Message() << d.features << " features from x " << d.from);
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

// A real part rolled back before its last two features; its last feature failed.
TEST(Timeline, PaintsInactiveCellsMutedAndErrorsBeforeWarnings)
{
    qor::app::DocumentController controller;
    qor::test::buildShellPart(controller);
    qor::model::Feature& last = *controller.document->features.back();
    ASSERT_FALSE(last.error.isEmpty());
    last.warning = QStringLiteral("Warnung <alt>");
    controller.document->rollback = 10;
    Timeline timeline(&controller);
    timeline.resize(720, 46);
    EXPECT_TRUE(qor::test::saveShot(timeline, QStringLiteral("timeline.png")));

    const qor::app::Theme& theme = qor::app::Theme::instance();
    const QImage image = timeline.grab().toImage();
    EXPECT_EQ(image.pixelColor(110, 35), theme.bg2); // active cell, below its icon
    EXPECT_EQ(image.pixelColor(439, 30), theme.accent3);
    EXPECT_EQ(image.pixelColor(484, 28), theme.danger); // left border of the failed cell
    EXPECT_EQ(image.pixelColor(464, 35), theme.bg1); // behind the marker

    QHelpEvent help(QEvent::ToolTip, at(490), timeline.mapToGlobal(at(490)));
    QApplication::sendEvent(&timeline, &help);
    EXPECT_TRUE(QToolTip::text().contains(last.error.toHtmlEscaped()));
    EXPECT_FALSE(QToolTip::text().contains(QStringLiteral("Warnung")));
}

// A join the kernel can make only together with the joins after it: the
// grouped recompute shows it refused, as it is on its own, in its cell.
TEST(Timeline, ShowsTheRefusalOfAJoinMadeInAGroup)
{
    const TopoDS_Shape body
        = qor::fixtures::readBrepFile(QOR_WAVE9_FILES "/ohne-zuwachs-body.brep");
    ASSERT_FALSE(body.IsNull());
    qor::app::DocumentController controller;
    qor::fixtures::buildRefusedBoxHistory(*controller.document, body);
    ASSERT_TRUE(controller.document->groupBooleans);
    controller.recompute();
    Timeline timeline(&controller);
    timeline.resize(720, 46);
    timeline.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&timeline));

    const int count = int(controller.document->features.size());
    const QRect cell = TimelineStrip{count, count}.cellRect(int(qor::fixtures::refusedBoxIndex));
    const int cellX = cell.center().x();
    QHelpEvent help(QEvent::ToolTip, at(cellX), timeline.mapToGlobal(at(cellX)));
    QApplication::sendEvent(&timeline, &help);
    EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("Verbinden fehlgeschlagen")))
        << QToolTip::text().toStdString();
    const QImage image = timeline.grab().toImage();
    EXPECT_EQ(image.pixelColor(cell.left(), 28), qor::app::Theme::instance().danger);
}
