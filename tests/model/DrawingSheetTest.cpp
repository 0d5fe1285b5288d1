#include "drawing/DrawingSheet.h"

#include <QJsonArray>
#include <gtest/gtest.h>

#include <cmath>

using namespace qor::app;

TEST(DrawingSheetJson, MissingMembersTakeDefaults)
{
    EXPECT_EQ(drawingFromJson(QJsonObject{}), Drawing{});

    const Drawing read = drawingFromJson(QJsonObject{
        {"views", QJsonArray{QJsonObject{{"id", 3}, {"type", 6}}, 17}},
        {"dims", QJsonArray{QJsonObject{{"id", 4}, {"a", QJsonArray{2.5}}, {"kind", 3}}}},
    });
    Drawing::View view;
    view.id = 3;
    view.type = 6;
    ASSERT_EQ(read.views.size(), 2u);
    EXPECT_EQ(read.views[0], view);
    EXPECT_EQ(read.views[1], Drawing::View{}); // not an object
    Drawing::Dim dim;
    dim.id = 4;
    dim.a[0] = 2.5;
    dim.kind = 3;
    ASSERT_EQ(read.dims.size(), 1u);
    EXPECT_EQ(read.dims[0], dim);
}

TEST(DrawingSheetJson, MistypedAndOutOfRangeValues)
{
    Drawing sheet = drawingFromJson(QJsonObject{
        {"format", 4},
        {"scale", "2"},
        {"views", QJsonObject{{"id", 1}}},
        {"dims", "none"},
        {"title", QJsonObject{{"Benennung", 5}, {"Firma", "Tarnwick"}}},
        {"next", 2.5},
    });
    Drawing expected;
    expected.title = {{"Benennung", QString()}, {"Firma", QStringLiteral("Tarnwick")}};
    EXPECT_EQ(sheet, expected);

    const QJsonObject view{{"id", 3e9},      {"type", -1e10}, {"x", "1"},    {"hidden", 0},
                           {"center", "no"}, {"mul", true},   {"section", 1}};
    sheet = drawingFromJson(QJsonObject{{"views", QJsonArray{view}}, {"next", 1e300}});
    EXPECT_EQ(sheet.views.at(0), Drawing::View{});
    EXPECT_EQ(sheet.nextId, 1);

    // Values are taken without range checks.
    sheet = drawingFromJson(QJsonObject{{"scale", -3}, {"next", -8}});
    EXPECT_EQ(sheet.scale, -3.0);
    EXPECT_EQ(sheet.nextId, -8);
}

TEST(DrawingSheetJson, FullSheetRoundTrip)
{
    Drawing sheet;
    sheet.format = QStringLiteral("A1");
    sheet.scale = 0.2;
    sheet.title["Benennung"] = QStringLiteral("Lagerbock „links“");
    sheet.title["Prüfer"] = QStringLiteral("kommt aus einer späteren Version");
    Drawing::View view;
    view.id = 1;
    view.type = int(ViewKind::Isometric);
    view.x = 210.125;
    view.y = 0.1 + 0.2;
    view.hidden = false;
    view.center = false;
    view.label = QStringLiteral("Ansicht B");
    view.mul = 0.5;
    view.section = true;
    sheet.views.push_back(view);
    Drawing::Dim dim;
    dim.id = 2;
    dim.view = 1;
    dim.kind = int(DimKind::Diameter);
    dim.a[0] = -3.5;
    dim.a[1] = 4;
    dim.b[0] = 12.75;
    dim.offset = -6;
    dim.text = QStringLiteral("@45");
    sheet.dims.push_back(dim);
    sheet.nextId = 3;
    EXPECT_EQ(drawingFromJson(drawingToJson(sheet)), sheet);
}

TEST(DrawingSheetTables, PaperScaleAndUnknownNames)
{
    EXPECT_EQ(paperSize("A4"), QSizeF(297, 210));
    EXPECT_EQ(paperSize("a4"), QSizeF(420, 297)); // unknown names give A3

    EXPECT_EQ(autoScale(100, 50, 380, 250), 2.0);
    EXPECT_EQ(autoScale(1e6, 1, 400, 300), 0.001);
    EXPECT_EQ(autoScale(0, 0, 10, 10), 50.0);
    EXPECT_EQ(autoScale(200, 100, 200, 100), 1.0); // fits exactly
    EXPECT_EQ(autoScale(200, 100, 199.9, 100), 0.5);

    EXPECT_EQ(scaleText(5), QStringLiteral("5:1"));
    EXPECT_EQ(scaleText(0.5), QStringLiteral("1:2"));
    EXPECT_EQ(scaleText(0.3), QStringLiteral("1:3.333"));

    EXPECT_TRUE(viewKindName(7).isEmpty());
    EXPECT_TRUE(viewKindName(-1).isEmpty());
}

TEST(DrawingSheetTables, ProjectionFrames)
{
    struct Expected {
        int kind;
        gp_XYZ n, x, y;
    };
    const double s3 = 1.0 / std::sqrt(3.0);
    const double s2 = 1.0 / std::sqrt(2.0);
    const double s6 = 1.0 / std::sqrt(6.0);
    const Expected table[] = {
        {0, {0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
        {1, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
        {2, {0, 0, -1}, {1, 0, 0}, {0, -1, 0}},
        {3, {-1, 0, 0}, {0, -1, 0}, {0, 0, 1}},
        {4, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
        {5, {0, 1, 0}, {-1, 0, 0}, {0, 0, 1}},
        {6, {s3, -s3, s3}, {s2, s2, 0}, {-s6, s6, 2 * s6}},
        {42, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
    };
    for (const Expected& e : table) {
        const gp_Ax2 frame = viewAxes(e.kind);
        EXPECT_LT((frame.Direction().XYZ() - e.n).Modulus(), 1e-12) << e.kind;
        EXPECT_LT((frame.XDirection().XYZ() - e.x).Modulus(), 1e-12) << e.kind;
        EXPECT_LT((frame.YDirection().XYZ() - e.y).Modulus(), 1e-12) << e.kind;
        EXPECT_LT(frame.Location().Distance(gp_Pnt(0, 0, 0)), 1e-15);
    }
}
