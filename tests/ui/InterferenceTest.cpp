#include "app/InterferenceCheck.h"
#include "model/ExecContext.h"

#include <BRepPrimAPI_MakeBox.hxx>

#include <gtest/gtest.h>

namespace {

using qor::app::CheckedBody;

CheckedBody box(const char* name, double x, double size = 10.0)
{
    return {QString::fromUtf8(name),
            BRepPrimAPI_MakeBox(gp_Pnt(x, 0, 0), size, size, size).Shape()};
}

TEST(Interference, OverlapTouchAndFailure)
{
    struct Case {
        const char* what;
        std::vector<CheckedBody> bodies;
        QStringList lines;
        double overlapVolume;
    };
    const Case cases[] = {
        {"overlapping", {box("A", 0), box("B", 7.5)}, {"A ↔ B: 250,000 mm³"}, 250.0},
        {"touching", {box("A", 0), box("B", 10)}, {}, 0.0},
        {"apart", {box("A", 0), box("B", 30)}, {}, 0.0},
        // Ascending pairs (1,2), (1,3), (2,3); a large volume carries the thousands dot.
        {"three",
         {box("A", 0, 20), box("B", 5, 20), box("C", 10, 20)},
         {"A ↔ B: 6.000,000 mm³", "A ↔ C: 4.000,000 mm³", "B ↔ C: 6.000,000 mm³"},
         16000.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const qor::app::InterferenceReport report = qor::app::checkInterference(c.bodies);
        EXPECT_EQ(report.lines, c.lines);
        EXPECT_EQ(report.failedPairs, 0);
        EXPECT_EQ(report.overlaps.IsNull(), c.overlapVolume == 0.0);
        EXPECT_NEAR(qor::model::shapeVolume(report.overlaps), c.overlapVolume, 1e-6);
    }

    // A boolean that fails is listed, so the check never reads as all clear.
    const std::vector<CheckedBody> bodies{box("A", 0), box("B", 7.5), box("C", 40)};
    const auto failing
        = [](const TopoDS_Shape&, const TopoDS_Shape&) { return std::optional<TopoDS_Shape>(); };
    const qor::app::InterferenceReport report = qor::app::checkInterference(bodies, failing);
    EXPECT_EQ(report.lines, QStringList{"A ↔ B: Prüfung fehlgeschlagen"});
    EXPECT_EQ(report.failedPairs, 1);
    EXPECT_TRUE(report.overlaps.IsNull());
}

} // namespace
