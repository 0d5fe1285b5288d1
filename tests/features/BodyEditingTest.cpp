#include "TestPart.h"

#include "features/BodyEditing.h"

#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>
#include <TopoDS_Solid.hxx>

#include <gtest/gtest.h>

using namespace qor::model;

namespace {

// A box whose shell faces into the material.
TopoDS_Shape insideOutBox(double size)
{
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(size, size, size).Shape();
    BRep_Builder builder;
    TopoDS_Solid solid;
    builder.MakeSolid(solid);
    for (TopoDS_Iterator it(box); it.More(); it.Next())
        builder.Add(solid, it.Value().Reversed());
    return solid;
}

} // namespace

TEST(BodyEditing, InsideOutSolidsAreTurnedOutward)
{
    const TopoDS_Shape wrong = insideOutBox(2.0);
    ASSERT_NEAR(signedVolume(wrong), -8.0, 1e-9);
    const TopoDS_Shape turned = outwardOriented(wrong);
    EXPECT_NEAR(signedVolume(turned), 8.0, 1e-9);
    EXPECT_TRUE(BRepCheck_Analyzer(turned).IsValid());

    // In a compound only the wrong solid changes.
    const TopoDS_Shape right = BRepPrimAPI_MakeBox(gp_Pnt(5, 0, 0), 3, 3, 3).Shape();
    BRep_Builder builder;
    TopoDS_Compound both;
    builder.MakeCompound(both);
    builder.Add(both, right);
    builder.Add(both, insideOutBox(2.0));
    ASSERT_NEAR(signedVolume(both), 27.0 - 8.0, 1e-9);
    EXPECT_NEAR(signedVolume(outwardOriented(both)), 27.0 + 8.0, 1e-9);
    EXPECT_EQ(countOf(outwardOriented(both), TopAbs_SOLID), 2);

    // A sound shape comes back as the very same shape.
    EXPECT_TRUE(outwardOriented(right).IsSame(right));
    EXPECT_TRUE(outwardOriented(right).IsEqual(right));
    EXPECT_TRUE(outwardOriented(TopoDS_Shape()).IsNull());
}

TEST(BodyEditing, SelectedBodiesOnceInListOrder)
{
    TestPart part;
    Feature* a = nullptr;
    Feature* b = nullptr;
    ASSERT_EQ(part.run("box", {}, &a), QString());
    ASSERT_EQ(part.run("box", {{"x", "100"}}, &b), QString());
    Feature* f = part.doc.addFeature(
        "move",
        {{"bodies", QJsonArray{b->id * 100, 4711, QJsonObject{{"id", a->id * 100}}, b->id * 100}}});
    const ExecContext context{part.doc, *f, part.state};
    EXPECT_EQ(selectedBodiesOnce(context, QStringLiteral("bodies")),
              (std::vector<int>{b->id * 100, a->id * 100}));
    EXPECT_TRUE(selectedBodiesOnce(context, QStringLiteral("tools")).empty());
}
