#include "TestPart.h"

#include "features/EdgeSelection.h"
#include "model/References.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <gtest/gtest.h>

using namespace qor::model;

namespace {

std::map<int, std::vector<TopoDS_Edge>> resolve(TestPart& part, const QJsonArray& edges)
{
    Feature* f = part.doc.addFeature(QStringLiteral("fillet"), {{"edges", edges}});
    return resolveFilletEdges(ExecContext{part.doc, *f, part.state}, "edges");
}

QString selectionError(TestPart& part, const QJsonArray& edges)
{
    return errorOf([&] { resolve(part, edges); });
}

} // namespace

TEST(FilletEdges, GroupedByBodyInPickOrder)
{
    TestPart part;
    const int first = part.addBody(BRepPrimAPI_MakeBox(10, 10, 10).Shape());
    const int third = part.addBody(BRepPrimAPI_MakeBox(gp_Pnt(50, 0, 0), 10, 10, 10).Shape());
    const TopoDS_Shape a = TestPart::subShapeAt(part.shape(third), TopAbs_EDGE, gp_Pnt(55, 0, 0));
    const TopoDS_Shape b = TestPart::subShapeAt(part.shape(first), TopAbs_EDGE, gp_Pnt(0, 0, 5));
    const TopoDS_Shape c = TestPart::subShapeAt(part.shape(third), TopAbs_EDGE, gp_Pnt(60, 10, 5));
    const auto edges = resolve(part, {edgeRef(third, a), edgeRef(first, b), edgeRef(third, c)});

    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges.begin()->first, first);
    ASSERT_EQ(edges.at(first).size(), 1u);
    EXPECT_TRUE(edges.at(first)[0].IsSame(b));
    ASSERT_EQ(edges.at(third).size(), 2u);
    EXPECT_TRUE(edges.at(third)[0].IsSame(a));
    EXPECT_TRUE(edges.at(third)[1].IsSame(c));
}

TEST(FilletEdges, FacesStandForTheirEdgesAndDuplicatesStay)
{
    TestPart part;
    const int box = part.addBody(BRepPrimAPI_MakeBox(10, 20, 30).Shape());
    const TopoDS_Shape top = TestPart::subShapeAt(part.shape(box), TopAbs_FACE, gp_Pnt(5, 10, 30));
    const TopoDS_Shape edge = TestPart::subShapeAt(part.shape(box), TopAbs_EDGE, gp_Pnt(5, 0, 30));

    const auto fromFace = resolve(part, {faceRef(box, top)});
    ASSERT_EQ(fromFace.at(box).size(), 4u);
    TopExp_Explorer walk(top, TopAbs_EDGE);
    for (const TopoDS_Edge& e : fromFace.at(box)) {
        ASSERT_TRUE(walk.More());
        EXPECT_TRUE(e.IsSame(walk.Current()));
        walk.Next();
    }

    // Picked directly and again through its face, and picked twice: every time.
    const auto list
        = resolve(part, {edgeRef(box, edge), faceRef(box, top), edgeRef(box, edge)}).at(box);
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(std::count_if(list.begin(), list.end(),
                            [&](const TopoDS_Edge& e) { return e.IsSame(edge); }),
              3);
    EXPECT_TRUE(list.front().IsSame(edge));
    EXPECT_TRUE(list.back().IsSame(edge));

    // A cylinder's side meets its seam twice.
    const int cylinder = part.addBody(BRepPrimAPI_MakeCylinder(5, 10).Shape());
    const TopoDS_Shape side
        = TestPart::subShapeAt(part.shape(cylinder), TopAbs_FACE, gp_Pnt(0, 0, 5));
    const std::vector<TopoDS_Edge> seamed = resolve(part, {faceRef(cylinder, side)}).at(cylinder);
    ASSERT_EQ(seamed.size(), 4u);
    EXPECT_EQ(std::count_if(seamed.begin(), seamed.end(),
                            [](const TopoDS_Edge& e) { return describeShape(e).geometry == 0; }),
              2);
}

TEST(FilletEdges, NothingToRoundOrGone)
{
    TestPart part;
    const TopoDS_Shape solid = BRepPrimAPI_MakeBox(10, 10, 10).Shape();
    const int box = part.addBody(solid);
    const QString none = QStringLiteral("Keine Kanten ausgewählt");
    const TopoDS_Shape corner = TopExp_Explorer(solid, TopAbs_VERTEX).Current();
    QJsonObject vertex{{"kind", "vertex"}, {"body", box}, {"sig", describeShape(corner).toJson()}};

    EXPECT_EQ(selectionError(part, {}), none);
    EXPECT_EQ(selectionError(part, {vertex}), none);
    EXPECT_EQ(selectionError(part, {QJsonObject{{"kind", "body"}, {"id", box}}, box}), none);
    EXPECT_EQ(selectionError(part, {vertex, TestPart::origin(-11)}), none);
    // A vertex next to an edge is skipped without harm.
    const TopoDS_Shape edge = TopExp_Explorer(solid, TopAbs_EDGE).Current();
    EXPECT_EQ(resolve(part, {vertex, edgeRef(box, edge)}).at(box).size(), 1u);

    EXPECT_EQ(selectionError(part, {edgeRef(box, edge), edgeRef(box + 1, edge)}),
              QStringLiteral("Bezugskörper existiert nicht mehr"));
    part.state.bodies[box].shape
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, 100), gp::DZ()), 2, 3).Shape();
    const TopoDS_Shape face = TestPart::subShapeAt(solid, TopAbs_FACE, gp_Pnt(5, 5, 10));
    EXPECT_EQ(selectionError(part, {faceRef(box, face)}),
              QStringLiteral("Referenz (Fläche/Kante) nicht mehr gefunden – bitte neu auswählen"));
}
