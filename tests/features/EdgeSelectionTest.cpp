#include "features/EdgeSelection.h"
#include "model/References.h"
#include "model/ShapeSignature.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <gtest/gtest.h>

#include <cmath>

using namespace qor::model;

namespace {

struct Selection {
    Document doc;
    Feature* feature = doc.addFeature(QStringLiteral("fillet"));
    ModelState state;

    void addBody(int id, const TopoDS_Shape& shape)
    {
        Body body;
        body.id = id;
        body.shape = shape;
        state.bodies[id] = body;
    }

    std::map<int, std::vector<TopoDS_Edge>> resolve(const QJsonArray& edges)
    {
        feature->params["edges"] = edges;
        const ExecContext context{doc, *feature, state};
        return resolveFilletEdges(context, "edges");
    }

    QString errorOf(const QJsonArray& edges)
    {
        try {
            resolve(edges);
        } catch (const FeatureError& e) {
            return QString::fromUtf8(e.what());
        }
        return QString();
    }
};

gp_Pnt middleOf(const TopoDS_Shape& shape)
{
    const ShapeSignature sig = describeShape(shape);
    return gp_Pnt(sig.point[0], sig.point[1], sig.point[2]);
}

// The sub-shape of the type whose signature point is p.
TopoDS_Shape shapeAt(const TopoDS_Shape& body, TopAbs_ShapeEnum type, const gp_Pnt& p)
{
    for (TopExp_Explorer e(body, type); e.More(); e.Next()) {
        if (middleOf(e.Current()).Distance(p) < 1e-9)
            return e.Current();
    }
    return {};
}

} // namespace

TEST(FilletEdges, GroupedByBodyInPickOrder)
{
    Selection s;
    const TopoDS_Shape first = BRepPrimAPI_MakeBox(10, 10, 10).Shape();
    const TopoDS_Shape third = BRepPrimAPI_MakeBox(gp_Pnt(50, 0, 0), 10, 10, 10).Shape();
    s.addBody(100, first);
    s.addBody(300, third);
    const TopoDS_Shape a = shapeAt(third, TopAbs_EDGE, gp_Pnt(55, 0, 0));
    const TopoDS_Shape b = shapeAt(first, TopAbs_EDGE, gp_Pnt(0, 0, 5));
    const TopoDS_Shape c = shapeAt(third, TopAbs_EDGE, gp_Pnt(60, 10, 5));
    const auto edges = s.resolve({edgeRef(300, a), edgeRef(100, b), edgeRef(300, c)});

    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges.begin()->first, 100);
    ASSERT_EQ(edges.at(100).size(), 1u);
    EXPECT_TRUE(edges.at(100)[0].IsSame(b));
    ASSERT_EQ(edges.at(300).size(), 2u);
    EXPECT_LT(middleOf(edges.at(300)[0]).Distance(gp_Pnt(55, 0, 0)), 1e-9);
    EXPECT_LT(middleOf(edges.at(300)[1]).Distance(gp_Pnt(60, 10, 5)), 1e-9);
}

TEST(FilletEdges, FacesStandForTheirEdgesAndDuplicatesStay)
{
    Selection s;
    const TopoDS_Shape solid = BRepPrimAPI_MakeBox(10, 20, 30).Shape();
    s.addBody(100, solid);
    const TopoDS_Shape top = shapeAt(solid, TopAbs_FACE, gp_Pnt(5, 10, 30));
    const TopoDS_Shape edge = shapeAt(solid, TopAbs_EDGE, gp_Pnt(5, 0, 30));

    const auto fromFace = s.resolve({faceRef(100, top)});
    ASSERT_EQ(fromFace.at(100).size(), 4u);
    TopExp_Explorer walk(top, TopAbs_EDGE);
    for (const TopoDS_Edge& e : fromFace.at(100)) {
        ASSERT_TRUE(walk.More());
        EXPECT_TRUE(e.IsSame(walk.Current()));
        EXPECT_NEAR(middleOf(e).Z(), 30.0, 1e-9);
        walk.Next();
    }

    // Picked directly and again through its face, and picked twice: every time.
    const auto repeated = s.resolve({edgeRef(100, edge), faceRef(100, top), edgeRef(100, edge)});
    const auto& list = repeated.at(100);
    ASSERT_EQ(list.size(), 6u);
    int sameAsPicked = 0;
    for (const TopoDS_Edge& e : list)
        sameAsPicked += e.IsSame(edge) ? 1 : 0;
    EXPECT_EQ(sameAsPicked, 3);
    EXPECT_TRUE(list.front().IsSame(edge));
    EXPECT_TRUE(list.back().IsSame(edge));

    // A cylinder's side meets its seam twice.
    const TopoDS_Shape cylinder = BRepPrimAPI_MakeCylinder(5, 10).Shape();
    s.addBody(200, cylinder);
    TopoDS_Shape side;
    for (TopExp_Explorer e(cylinder, TopAbs_FACE); e.More(); e.Next()) {
        if (describeShape(e.Current()).geometry == 1)
            side = e.Current();
    }
    const std::vector<TopoDS_Edge> seamed = s.resolve({faceRef(200, side)}).at(200);
    ASSERT_EQ(seamed.size(), 4u);
    int seams = 0;
    for (const TopoDS_Edge& e : seamed)
        seams += describeShape(e).geometry == 0 ? 1 : 0;
    EXPECT_EQ(seams, 2);
}

TEST(FilletEdges, NothingToRoundOrGone)
{
    Selection s;
    const TopoDS_Shape solid = BRepPrimAPI_MakeBox(10, 10, 10).Shape();
    s.addBody(100, solid);
    const QString none = QStringLiteral("Keine Kanten ausgewählt");
    const TopoDS_Shape corner = TopExp_Explorer(solid, TopAbs_VERTEX).Current();
    QJsonObject vertex{{"kind", "vertex"}, {"body", 100}, {"sig", describeShape(corner).toJson()}};

    EXPECT_EQ(s.errorOf({}), none);
    EXPECT_EQ(s.errorOf({vertex}), none);
    EXPECT_EQ(s.errorOf({QJsonObject{{"kind", "body"}, {"id", 100}}, 100}), none);
    EXPECT_EQ(s.errorOf({vertex, QJsonObject{{"kind", "origin"}, {"id", -11}}}), none);
    // A vertex next to an edge is skipped without harm.
    const TopoDS_Shape edge = TopExp_Explorer(solid, TopAbs_EDGE).Current();
    EXPECT_EQ(s.resolve({vertex, edgeRef(100, edge)}).at(100).size(), 1u);

    EXPECT_EQ(s.errorOf({edgeRef(100, edge), edgeRef(400, edge)}),
              QStringLiteral("Bezugskörper existiert nicht mehr"));
    s.addBody(100, BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, 100), gp::DZ()), 2, 3).Shape());
    EXPECT_EQ(s.errorOf({faceRef(100, shapeAt(solid, TopAbs_FACE, gp_Pnt(5, 5, 10)))}),
              QStringLiteral("Referenz (Fläche/Kante) nicht mehr gefunden – bitte neu auswählen"));
}
