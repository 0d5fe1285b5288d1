#include "drawing/LabelLayout.h"

#include "app/Examples.h"
#include "drawing/ViewLayout.h"
#include "model/DocumentController.h"
#include "tests/common/ShapeChecks.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using qor::app::DimKind;
using qor::app::Drawing;

// A 120 × 80 × 10 base plate with a 60 mm high wall along its front edge (towards the front
// view's viewer) and a ⌀32 hole through the wall: the front view sees the hole as a circle,
// its section through the middle of the part cuts the wall away.
qor::model::Document wallWithHole()
{
    const TopoDS_Shape plate = qor::test::box(120, 80, 10, gp_Pnt(-60, -40, 0));
    const TopoDS_Shape wall = qor::test::box(120, 10, 60, gp_Pnt(-60, -40, 0));
    const TopoDS_Shape hole
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, -45, 35), gp::DY()), 16, 20);
    qor::model::Document doc;
    doc.current.bodies[1] = qor::model::Body{
        .id = 1, .shape = BRepAlgoAPI_Cut(BRepAlgoAPI_Fuse(plate, wall).Shape(), hole).Shape()};
    return doc;
}

Drawing::View& frontView(Drawing& sheet)
{
    return *std::find_if(sheet.views.begin(), sheet.views.end(),
                         [](const Drawing::View& v) { return v.type == 0; });
}

std::string describe(const QRectF& r)
{
    return "[" + std::to_string(r.left()) + ", " + std::to_string(r.top()) + " – "
           + std::to_string(r.right()) + ", " + std::to_string(r.bottom()) + "]";
}

// Every example and the walled plate, laid out and dimensioned automatically, with the
// front view as a section ("Schnitt A–A") and without: no caption touches a dimension's text
// or lines, and no two dimension texts overlap.
TEST(LabelLayout, CaptionsAndAutomaticDimensionsNeverOverlap)
{
    struct Case {
        const char* part;
        bool section;
    };
    const Case cases[] = {{"bracket", true}, {"bracket", false}, {"flange", true},
                          {"housing", true}, {"wall", true},     {"wall", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.part) + (c.section ? " with section" : ""));
        qor::app::DocumentController controller;
        if (std::string(c.part) == "wall")
            *controller.document = wallWithHole();
        else
            qor::app::buildExample(controller, QString::fromLatin1(c.part));
        const qor::model::Document& doc = *controller.document;
        qor::app::ProjectionCache cache;
        Drawing sheet;
        qor::app::arrangeViews(cache, doc, sheet);
        qor::app::autoDimension(cache, doc, sheet);
        frontView(sheet).section = c.section;

        std::vector<QRectF> texts;
        std::vector<QRectF> wholes;
        for (const Drawing::Dim* dim : qor::app::drawnDimensions(cache, doc, sheet)) {
            const Drawing::View& view = *qor::app::dimensionView(sheet, *dim);
            const qor::app::ProjectedView& pv = cache.projectedView(doc, sheet, view);
            texts.push_back(qor::app::dimensionTextBox(sheet, view, pv, *dim));
            wholes.push_back(qor::app::dimensionBox(sheet, view, pv, *dim));
        }
        ASSERT_GE(texts.size(), 4u);
        for (std::size_t i = 0; i < texts.size(); ++i)
            for (std::size_t j = i + 1; j < texts.size(); ++j)
                EXPECT_FALSE(texts[i].intersects(texts[j]))
                    << "dimension texts " << i << " and " << j << ": " << describe(texts[i]) << " "
                    << describe(texts[j]);

        const std::vector<QPointF> anchors = qor::app::captionAnchors(cache, doc, sheet);
        ASSERT_EQ(anchors.size(), sheet.views.size());
        int captions = 0;
        for (std::size_t v = 0; v < sheet.views.size(); ++v) {
            const QString caption = qor::app::viewCaption(sheet.views[v]);
            if (caption.isEmpty())
                continue;
            ++captions;
            const QRectF box
                = qor::app::textBox(anchors[v], caption, qor::app::captionTextHeight, 0.0, true);
            // Still under its own view.
            const qor::app::ProjectedView& pv = cache.projectedView(doc, sheet, sheet.views[v]);
            const double k = qor::app::viewFactor(sheet, sheet.views[v]);
            EXPECT_LT(box.bottom(), sheet.views[v].y - (pv.maxY - pv.minY) * k / 2.0);
            for (const QRectF& dim : wholes)
                EXPECT_FALSE(box.intersects(dim)) << caption.toStdString() << " " << describe(box)
                                                  << " over a dimension " << describe(dim);
        }
        EXPECT_EQ(captions, c.section ? 2 : 1); // the isometric view's, and the section's
    }
}

// The ⌀32 of the wall's hole and the wall's height of 60 belong to the front view; the
// section cuts the wall away, and with it both dimensions, while the width stays.
TEST(LabelLayout, DimensionsFollowWhatTheViewDraws)
{
    const qor::model::Document doc = wallWithHole();
    qor::app::ProjectionCache cache;
    Drawing sheet;
    qor::app::arrangeViews(cache, doc, sheet);
    qor::app::autoDimension(cache, doc, sheet);
    const int front = frontView(sheet).id;
    struct Case {
        bool section;
        int diameters; // ⌀32 in the front view
        int linear; // sizes of the front view
    };
    for (const Case& c : {Case{false, 1, 2}, Case{true, 0, 1}, Case{false, 1, 2}}) {
        SCOPED_TRACE(c.section ? "section" : "plain");
        frontView(sheet).section = c.section;
        int diameters = 0;
        int linear = 0;
        for (const Drawing::Dim* dim : qor::app::drawnDimensions(cache, doc, sheet)) {
            if (dim->view != front)
                continue;
            if (dim->kind == static_cast<int>(DimKind::Diameter)) {
                EXPECT_NEAR(dim->b[0], 16.0, 1e-6);
                ++diameters;
            } else {
                ++linear;
            }
        }
        EXPECT_EQ(diameters, c.diameters);
        EXPECT_EQ(linear, c.linear);
    }
    // A dimension of the section itself is made from what the section shows.
    frontView(sheet).section = true;
    qor::app::autoDimension(cache, doc, sheet);
    EXPECT_EQ(qor::app::drawnDimensions(cache, doc, sheet).size(), sheet.dims.size());
}

} // namespace
