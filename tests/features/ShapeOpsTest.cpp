#include "TestPart.h"

#include "features/ShapeOps.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <TopoDS.hxx>
#include <gp_Circ.hxx>
#include <gp_Pln.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

using namespace qor::model;

namespace {

TopoDS_Wire square()
{
    return BRepBuilderAPI_MakePolygon(gp_Pnt(0, 0, 0), gp_Pnt(10, 0, 0), gp_Pnt(10, 10, 0),
                                      gp_Pnt(0, 10, 0), true)
        .Wire();
}

} // namespace

TEST(ShapeOps, PrismAndTransform)
{
    const TopoDS_Face face = BRepBuilderAPI_MakeFace(square(), true);
    const TopoDS_Shape prism = makePrism(face, gp_Vec(0, 0, 20));
    EXPECT_NEAR(shapeVolume(prism), 2000.0, 1e-9);
    EXPECT_TRUE(extentIs(prism, {0, 0, 0, 10, 10, 20}));

    gp_Trsf move;
    move.SetTranslation(gp_Vec(5, -5, 1));
    const TopoDS_Shape moved = transformShape(prism, move);
    EXPECT_TRUE(extentIs(moved, {5, -5, 1, 15, 5, 21}));
    EXPECT_TRUE(extentIs(prism, {0, 0, 0, 10, 10, 20}));
    EXPECT_FALSE(moved.IsPartner(prism)); // a copy, not a relocated handle

    gp_Trsf mirror;
    mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 0), gp::DZ()));
    const TopoDS_Shape mirrored = transformShape(prism, mirror);
    EXPECT_TRUE(BRepCheck_Analyzer(mirrored).IsValid());
    EXPECT_NEAR(shapeVolume(mirrored), 2000.0, 1e-9);
    EXPECT_TRUE(extentIs(mirrored, {0, 0, -20, 10, 10, 0}));
}

TEST(ShapeOps, FuseAll)
{
    EXPECT_TRUE(fuseAll({}).IsNull());

    const TopoDS_Shape a = BRepPrimAPI_MakeBox(10, 10, 10).Shape();
    EXPECT_TRUE(fuseAll({a}).IsSame(a));

    // Overlapping: one block, coplanar faces merged.
    const TopoDS_Shape b = BRepPrimAPI_MakeBox(gp_Pnt(5, 0, 0), 10, 10, 10).Shape();
    const TopoDS_Shape c = BRepPrimAPI_MakeBox(gp_Pnt(10, 0, 0), 10, 10, 10).Shape();
    const TopoDS_Shape block = fuseAll({a, b, c});
    EXPECT_EQ(countOf(block, TopAbs_SOLID), 1);
    EXPECT_EQ(countOf(block, TopAbs_FACE), 6);
    EXPECT_NEAR(shapeVolume(block), 2000.0, 1e-9);

    // Apart: both kept.
    const TopoDS_Shape far = BRepPrimAPI_MakeBox(gp_Pnt(50, 0, 0), 1, 1, 1).Shape();
    const TopoDS_Shape pair = fuseAll({a, far});
    EXPECT_EQ(countOf(pair, TopAbs_SOLID), 2);
    EXPECT_NEAR(shapeVolume(pair), 1001.0, 1e-9);
}

TEST(ShapeOps, TaperedPrismRefusesBadDistances)
{
    const TopoDS_Face face = BRepBuilderAPI_MakeFace(square(), true);
    const QString message = QStringLiteral("Abstand muss größer als 0 sein");
    EXPECT_EQ(errorOf([&] { taperedPrism(0.0, face, gp::DZ(), 0.0); }), message);
    EXPECT_EQ(errorOf([&] { taperedPrism(5.0, face, gp::DZ(), -1.0); }), message);
    EXPECT_EQ(errorOf([&] {
                  taperedPrism(0.0, face, gp::DZ(), std::numeric_limits<double>::quiet_NaN());
              }),
              message);
}

TEST(ShapeOps, TaperedPrismGoesWhereAskedWhateverTheFaceOrientation)
{
    // The same square on planes of either normal and handedness, and reversed.
    const TopoDS_Face up = BRepBuilderAPI_MakeFace(square(), true);
    const TopoDS_Face down = BRepBuilderAPI_MakeFace(
        gp_Pln(gp_Ax3(gp::Origin(), -gp::DZ(), gp::DX())), square(), true);
    gp_Ax3 leftHanded(gp::Origin(), gp::DZ(), gp::DX());
    leftHanded.YReverse();
    const TopoDS_Face indirect = BRepBuilderAPI_MakeFace(gp_Pln(leftHanded), square(), true);
    const TopoDS_Face reversed = TopoDS::Face(up.Reversed());

    const double t = std::tan(4.0 * std::numbers::pi / 180.0) * 10.0;
    const double top = 10.0 - 2.0 * t;
    const double frustum = 10.0 / 3.0 * (100.0 + top * top + 10.0 * top);
    for (const TopoDS_Face& face : {up, down, indirect, reversed}) {
        for (const double side : {1.0, -1.0}) {
            const TopoDS_Shape narrow = taperedPrism(-4.0, face, gp_Dir(0, 0, side), 10.0);
            EXPECT_TRUE(BRepCheck_Analyzer(narrow).IsValid());
            EXPECT_NEAR(shapeVolume(narrow), frustum, 1e-4);
            if (side > 0)
                EXPECT_TRUE(extentIs(narrow, {0, 0, 0, 10, 10, 10}));
            else
                EXPECT_TRUE(extentIs(narrow, {0, 0, -10, 10, 10, 0}));

            const TopoDS_Shape wide = taperedPrism(4.0, face, gp_Dir(0, 0, side), 10.0);
            EXPECT_TRUE(
                extentIs(wide, {-t, -t, side > 0 ? 0 : -10, 10 + t, 10 + t, side > 0 ? 10 : 0}));
        }
    }
}

TEST(ShapeOps, TaperedDiscIsAConeFrustum)
{
    const TopoDS_Face disc
        = BRepBuilderAPI_MakeFace(BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(
                                      gp_Circ(gp_Ax2(gp_Pnt(1, 2, 3), gp::DZ()), 5.0))),
                                  true);
    const double r = 5.0 - 8.0 * std::tan(10.0 * std::numbers::pi / 180.0);
    const TopoDS_Shape cone = taperedPrism(-10.0, disc, -gp::DZ(), 8.0);
    EXPECT_TRUE(BRepCheck_Analyzer(cone).IsValid());
    EXPECT_NEAR(shapeVolume(cone), std::numbers::pi * 8.0 / 3.0 * (25.0 + r * r + 5.0 * r), 1e-4);
    EXPECT_TRUE(extentIs(cone, {-4, -3, -5, 6, 7, 3}));
}
