#include "drawing/Section.h"
#include "app/Examples.h"
#include "model/DocumentController.h"
#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

namespace {

using qor::app::LineKind;
using qor::app::ProjectedView;

TEST(Section, HatchOfACutBoxFillsTheCutFace)
{
    const TopoDS_Shape box = qor::test::box(100, 50, 20, gp_Pnt(-50, -25, 0));
    // The front view looks along +y: the half at y < 0 goes.
    const TopoDS_Shape cut = qor::app::sectionCut(box, 0);
    EXPECT_TRUE(qor::test::extentIs(cut, {-50, 0, 0, 50, 25, 20}));
    ProjectedView pv = qor::app::projectView(cut, 0, false, true);
    qor::app::sectionHatchOutlines(pv, cut, 0, 3.0);
    double length = 0.0;
    int lines = 0;
    for (const auto& prim : pv.primitives) {
        if (prim.kind != LineKind::Hatch)
            continue;
        ++lines;
        length += prim.points.front().Distance(prim.points.back());
        for (const gp_Pnt2d& p : prim.points) {
            EXPECT_GE(p.X(), -50 - 1e-9);
            EXPECT_LE(p.X(), 50 + 1e-9);
            EXPECT_GE(p.Y(), -1e-9);
            EXPECT_LE(p.Y(), 20 + 1e-9);
        }
    }
    // x − y runs from −70 to 50: lines at k × 3√2 for k = −16 … 11.
    EXPECT_EQ(lines, 28);
    // Lines 3 mm apart over a 100 × 20 face.
    EXPECT_NEAR(length, 100.0 * 20.0 / 3.0, 0.03 * 2000.0 / 3.0);
}

TEST(Section, FlangeThreadMarksAndCallouts)
{
    qor::app::DocumentController controller;
    qor::app::buildExample(controller, QStringLiteral("flange"));
    const qor::model::Document& doc = *controller.document;
    ASSERT_EQ(doc.current.threads.size(), 6u);
    qor::app::Drawing sheet;
    qor::app::ProjectionCache cache;
    struct Case {
        int kind;
        std::size_t arcs;
        QStringList callouts;
    };
    for (const Case& c :
         {Case{1, 6, {QStringLiteral("6× M8 – durchgehend")}}, Case{2, 0, {}}, Case{6, 0, {}}}) {
        SCOPED_TRACE(c.kind);
        const ProjectedView& pv = cache.projectedView(doc, sheet, {.id = 1, .type = c.kind});
        QStringList texts;
        for (const auto& callout : pv.callouts)
            texts << callout.text;
        EXPECT_EQ(texts, c.callouts);
        std::size_t arcs = 0;
        for (const auto& prim : pv.primitives)
            arcs += prim.kind == LineKind::Thread && prim.endDeg - prim.startDeg == 270.0;
        EXPECT_EQ(arcs, c.arcs);
    }
    // Seen from above, the tapped holes' core circles are left to the thread marks.
    const ProjectedView& topView = cache.projectedView(doc, sheet, {.id = 1, .type = 1});
    for (const auto& circle : topView.circles)
        EXPECT_GT(std::abs(2 * circle.radius - doc.current.threads.front().minorDiameter), 0.05);
}

} // namespace
