#include "drawing/Dimensions.h"
#include "app/Examples.h"
#include "drawing/ViewLayout.h"
#include "model/DocumentController.h"
#include "tests/drawing/PlateWithHole.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using qor::app::DimKind;
using qor::app::Drawing;

Drawing sheetWithViews(std::initializer_list<int> kinds)
{
    Drawing sheet;
    for (const int kind : kinds) {
        Drawing::View& view = sheet.views.emplace_back();
        view.id = sheet.nextId++;
        view.type = kind;
        view.x = 100 + 50 * view.id;
        view.y = 150;
    }
    return sheet;
}

TEST(Dimensions, FormatUsesDecimalCommaAndDropsZeros)
{
    for (const auto& [value, text] :
         {std::pair{12.5, "12,5"}, {12.0, "12"}, {1234.567, "1234,57"}, {-0.001, "0"}})
        EXPECT_EQ(qor::app::formatDimensionValue(value), QString::fromUtf8(text)) << value;
}

TEST(Dimensions, AutoDimensionOfPlateMeasuresEachView)
{
    const qor::model::Document doc = qor::test::plateWithHole();
    qor::app::ProjectionCache cache;
    Drawing sheet = sheetWithViews({0, 1, 3, 6});
    sheet.dims.push_back({.id = 99,
                          .view = 1,
                          .kind = 0,
                          .a = {},
                          .b = {},
                          .offset = 5,
                          .text = QStringLiteral("alt")});
    qor::app::autoDimension(cache, doc, sheet);

    struct Expected {
        int id;
        int view;
        DimKind kind;
        double value;
    };
    // Front: width, height; top: width, height, the hole; left: only its height (the
    // second of its two ids); the isometric view reserves nothing.
    const Expected expected[] = {
        {5, 1, DimKind::Horizontal, 100}, {6, 1, DimKind::Vertical, 20},
        {7, 2, DimKind::Horizontal, 100}, {8, 2, DimKind::Vertical, 50},
        {9, 2, DimKind::Diameter, 5},     {11, 3, DimKind::Vertical, 20},
    };
    ASSERT_EQ(sheet.dims.size(), std::size(expected));
    for (std::size_t i = 0; i < sheet.dims.size(); ++i) {
        SCOPED_TRACE(i);
        const Drawing::Dim& dim = sheet.dims[i];
        EXPECT_EQ(dim.id, expected[i].id);
        EXPECT_EQ(dim.view, expected[i].view);
        EXPECT_EQ(dim.kind, static_cast<int>(expected[i].kind));
        if (expected[i].kind == DimKind::Diameter) {
            EXPECT_NEAR(dim.b[0], expected[i].value, 1e-6);
            EXPECT_NEAR(dim.a[0], 20, 1e-6);
            EXPECT_EQ(dim.text, QStringLiteral("@45"));
            continue;
        }
        const auto* view = qor::app::dimensionView(sheet, dim);
        ASSERT_NE(view, nullptr);
        const auto d
            = qor::app::linearDimension(sheet, *view, cache.projectedView(doc, sheet, *view), dim);
        EXPECT_NEAR(d.value, expected[i].value, 1e-6);
        EXPECT_DOUBLE_EQ(dim.offset, -10.0);
    }
    EXPECT_EQ(sheet.nextId, 12);
}

TEST(Dimensions, AutoDimensionOfExamplesStaysWithinTheRules)
{
    struct Case {
        const char* kind;
        std::size_t diameters; // of distinct sizes seen end-on in the front and top views
    };
    for (const Case& c : {Case{"bracket", 3}, Case{"flange", 4}, Case{"housing", 0}}) {
        SCOPED_TRACE(c.kind);
        qor::app::DocumentController controller;
        qor::app::buildExample(controller, QString::fromLatin1(c.kind));
        const qor::model::Document& doc = *controller.document;
        qor::app::ProjectionCache cache;
        Drawing sheet;
        qor::app::arrangeViews(cache, doc, sheet);
        ASSERT_EQ(sheet.views.size(), 4u);
        qor::app::autoDimension(cache, doc, sheet);

        std::set<int> ids;
        std::map<int, std::vector<double>> diameters;
        int linear = 0;
        for (const Drawing::Dim& dim : sheet.dims) {
            EXPECT_TRUE(ids.insert(dim.id).second) << "id " << dim.id;
            EXPECT_LT(dim.id, sheet.nextId);
            const auto* view = qor::app::dimensionView(sheet, dim);
            ASSERT_NE(view, nullptr);
            EXPECT_NE(view->type, 6);
            if (dim.kind == static_cast<int>(DimKind::Diameter)) {
                EXPECT_TRUE(view->type == 0 || view->type == 1);
                for (const double other : diameters[dim.view])
                    EXPECT_GT(std::abs(other - dim.b[0]), 0.001);
                diameters[dim.view].push_back(dim.b[0]);
                for (const Drawing::Dim& other : sheet.dims) {
                    const bool concentric
                        = &other != &dim && other.view == dim.view && other.kind == dim.kind
                          && std::hypot(other.a[0] - dim.a[0], other.a[1] - dim.a[1]) < 0.001;
                    if (concentric)
                        EXPECT_NE(other.text, dim.text) << "labels on one leader";
                }
                EXPECT_LE(diameters[dim.view].size(), 4u);
            } else {
                ++linear;
            }
        }
        EXPECT_EQ(linear, 5); // front and top: two each; left: one
        std::size_t diameterCount = 0;
        for (const auto& [view, sizes] : diameters)
            diameterCount += sizes.size();
        EXPECT_EQ(diameterCount, c.diameters);
    }
}

TEST(Dimensions, PickedDimensionKindAndOffsetFollowTheClick)
{
    const qor::model::Document doc = qor::test::plateWithHole();
    qor::app::ProjectionCache cache;
    Drawing sheet = sheetWithViews({1});
    Drawing::View& view = sheet.views.front();
    view.x = 200;
    view.y = 150;
    view.mul = 2.0; // sheet scale 1: 2 paper mm per model mm
    const auto& pv = cache.projectedView(doc, sheet, view);
    const QPointF hole(20, 0);
    const QPointF holeOnSheet = qor::app::viewToSheet(sheet, view, pv, hole.x(), hole.y());

    struct Case {
        const char* name;
        qor::app::DimensionPicks picks;
        QPointF click;
        DimKind kind;
        double offset;
    };
    const Case cases[] = {
        // The circle is drawn 10 mm wide on paper: a click 3 mm outside it, not 8.
        {"circle", {1, {hole}, true, 5.0}, holeOnSheet + QPointF(13, 0), DimKind::Diameter, 3.0},
        {"circle minimum",
         {1, {hole}, true, 5.0},
         holeOnSheet + QPointF(0, 11),
         DimKind::Diameter,
         2.0},
        {"same x, click above",
         {1, {{0, -10}, {0, 10}}, false, 0},
         QPointF(200, 190),
         DimKind::Vertical,
         40.0},
        {"click right",
         {1, {{-10, 0}, {10, 5}}, false, 0},
         QPointF(240, 155),
         DimKind::Vertical,
         40.0},
        {"inside, right of the direction",
         {1, {{-10, -10}, {10, 10}}, false, 0},
         QPointF(205, 145),
         DimKind::Aligned,
         -5 * std::sqrt(2.0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int id = sheet.nextId;
        const auto dim
            = qor::app::pickedDimension(cache, doc, sheet, c.picks, c.click.x(), c.click.y());
        ASSERT_TRUE(dim);
        EXPECT_EQ(dim->id, id);
        EXPECT_EQ(sheet.nextId, id + 1);
        EXPECT_EQ(dim->kind, static_cast<int>(c.kind));
        EXPECT_NEAR(dim->offset, c.offset, 1e-9);
    }
    const auto angled = qor::app::pickedDimension(cache, doc, sheet, cases[1].picks,
                                                  cases[1].click.x(), cases[1].click.y());
    EXPECT_EQ(angled->text, QStringLiteral("@90"));
    EXPECT_FALSE(
        qor::app::pickedDimension(cache, doc, sheet, {7, {{0, 0}, {1, 1}}, false, 0}, 0, 0));
}

} // namespace
