#include "model/References.h"
#include "model/MateSolver.h"
#include "model/ShapeSignature.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>
#include <gp_Elips.hxx>
#include <gp_Lin.hxx>
#include <gp_Pln.hxx>

#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;
using namespace qor::test;

namespace {

// A document with one feature to execute and a modelling state of hand-made bodies.
struct Part {
    Document doc;
    Feature* feature = doc.addFeature(QStringLiteral("extrude"));
    ModelState state;

    ExecContext context() { return ExecContext{doc, *feature, state}; }

    void addBody(int id, const TopoDS_Shape& shape)
    {
        Body body;
        body.id = id;
        body.name = QStringLiteral("Körper %1").arg(id);
        body.shape = shape;
        body.featureId = id / 100;
        state.bodies[id] = body;
    }

    // A sketch feature placed on the plane in the state.
    qor::sketch::Sketch& addSketch(const gp_Ax3& plane, int* id)
    {
        Feature* f = doc.addFeature(QStringLiteral("sketch"));
        state.sketches[f->id] = SketchResult{plane, f->sketch.get(), f->id};
        *id = f->id;
        return *f->sketch;
    }
};

// The face of the shape whose outward normal is the direction and whose centre lies
// furthest along it.
TopoDS_Shape faceFacing(const TopoDS_Shape& shape, const gp_Dir& direction)
{
    TopoDS_Shape best;
    double bestHeight = -1e300;
    for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) {
        const ShapeSignature sig = describeShape(e.Current());
        const gp_Dir d(sig.direction[0], sig.direction[1], sig.direction[2]);
        const double height = gp_Vec(sig.point[0], sig.point[1], sig.point[2]).Dot(direction);
        if (sig.geometry == 0 && d.IsEqual(direction, 1e-9) && height > bestHeight) {
            best = e.Current();
            bestHeight = height;
        }
    }
    return best;
}

gp_Pnt centreOf(const TopoDS_Shape& face)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props);
    return props.CentreOfMass();
}

gp_Pnt midPoint(const TopoDS_Shape& edge)
{
    const ShapeSignature sig = describeShape(edge);
    return gp_Pnt(sig.point[0], sig.point[1], sig.point[2]);
}

// The first sub-shape of the type whose signature has the geometry code.
TopoDS_Shape firstOfGeometry(const TopoDS_Shape& shape, TopAbs_ShapeEnum type, int geometry)
{
    for (TopExp_Explorer e(shape, type); e.More(); e.Next()) {
        if (describeShape(e.Current()).geometry == geometry)
            return e.Current();
    }
    return {};
}

::testing::AssertionResult at(const gp_XYZ& got, double x, double y, double z, double tol = 1e-7)
{
    if ((got - gp_XYZ(x, y, z)).Modulus() <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << got.X() << ", " << got.Y() << ", " << got.Z() << ")";
}

QJsonObject regionRef(int sketch, double u, double v)
{
    return QJsonObject{{"kind", "region"}, {"sketch", sketch}, {"pt", QJsonArray{u, v}}};
}

const QString faceGone
    = QStringLiteral("Referenz (Fläche/Kante) nicht mehr gefunden – bitte neu auswählen");

} // namespace

TEST(ShapeSignature, DescribesFacesEdgesAndVertices)
{
    const TopoDS_Shape solid = box(10, 20, 30);
    const gp_Pnt centre(5, 10, 15);
    for (TopExp_Explorer e(solid, TopAbs_FACE); e.More(); e.Next()) {
        const ShapeSignature sig = describeShape(e.Current());
        EXPECT_EQ(sig.geometry, 0);
        // Outward on every face, reversed ones included.
        const gp_Vec out(centre, gp_Pnt(sig.point[0], sig.point[1], sig.point[2]));
        const gp_Vec d(sig.direction[0], sig.direction[1], sig.direction[2]);
        EXPECT_NEAR(d.Dot(out), out.Magnitude(), 1e-9);
    }
    const ShapeSignature top = describeShape(faceFacing(solid, gp::DZ()));
    EXPECT_EQ(top.point, (std::array<double, 3>{5, 10, 30}));
    EXPECT_NEAR(top.size, 200.0, 1e-9);

    // A cylinder's side reports its axis, its lateral area and a centre on the
    // axis; its circles their length and tangent.
    const TopoDS_Shape cylinder
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(1, 2, 3), gp::DZ()), 5, 10).Shape();
    const ShapeSignature side = describeShape(firstOfGeometry(cylinder, TopAbs_FACE, 1));
    EXPECT_NEAR(std::fabs(side.direction[2]), 1.0, 1e-12);
    EXPECT_NEAR(side.size, 2 * std::numbers::pi * 5 * 10, 1e-6);
    EXPECT_TRUE(at({side.point[0], side.point[1], side.point[2]}, 1, 2, 8, 1e-6));
    const ShapeSignature circle = describeShape(firstOfGeometry(cylinder, TopAbs_EDGE, 1));
    EXPECT_EQ(circle.kind, ShapeSignature::Kind::Edge);
    EXPECT_NEAR(circle.size, 2 * std::numbers::pi * 5, 1e-6);
    EXPECT_NEAR(circle.direction[2], 0.0, 1e-12);

    // Other surfaces: a unit normal at the middle of the parameter range.
    const ShapeSignature ball
        = describeShape(TopExp_Explorer(BRepPrimAPI_MakeSphere(4).Shape(), TopAbs_FACE).Current());
    EXPECT_NEAR(std::hypot(ball.direction[0], ball.direction[1], ball.direction[2]), 1.0, 1e-12);

    const ShapeSignature vertex
        = describeShape(BRepBuilderAPI_MakeVertex(gp_Pnt(1, 2, 3)).Vertex());
    EXPECT_EQ(vertex.kind, ShapeSignature::Kind::Vertex);
    EXPECT_EQ(vertex.point, (std::array<double, 3>{1, 2, 3}));
    EXPECT_EQ(describeShape(TopoDS_Shape()), ShapeSignature{});
    EXPECT_EQ(describeShape(solid), ShapeSignature{});
}

TEST(ShapeSignature, MatchDistanceTerms)
{
    ShapeSignature plane;
    plane.direction = {0, 0, 1};
    plane.size = 100;
    ShapeSignature line;
    line.kind = ShapeSignature::Kind::Edge;
    line.direction = {1, 0, 0};
    line.size = 10;
    const auto changed = [](ShapeSignature sig, const std::function<void(ShapeSignature&)>& edit) {
        edit(sig);
        return sig;
    };
    struct Case {
        const char* name;
        ShapeSignature a, b;
        double scale, distance;
    };
    const Case cases[] = {
        {"flipped plane", plane,
         changed(plane,
                 [](auto& s) {
                     s.direction = {0, 0, -1};
                 }),
         10, 2.0},
        {"moved", plane,
         changed(plane,
                 [](auto& s) {
                     s.point = {3, 4, 0};
                 }),
         10, 0.5},
        {"scale floor 1e-6", plane,
         changed(plane,
                 [](auto& s) {
                     s.point = {3, 4, 0};
                 }),
         0, 5e6},
        {"larger", changed(plane, [](auto& s) { s.size = 50; }), plane, 10, 0.25},
        // A cylinder axis has no sense, and another geometry type costs 3.
        {"other geometry", plane,
         changed(plane,
                 [](auto& s) {
                     s.geometry = 1, s.direction = {0, 0, -1};
                 }),
         10, 3.0},
        {"reversed line", line,
         changed(line,
                 [](auto& s) {
                     s.direction = {-1, 0, 0};
                 }),
         10, 0.0},
        {"other kind", line, plane, 10, 1e9},
        // Vertices compare by position alone.
        {"vertices", changed({}, [](auto& s) { s.kind = ShapeSignature::Kind::Vertex; }),
         changed({},
                 [](auto& s) {
                     s.kind = ShapeSignature::Kind::Vertex, s.point = {0, 0, 2},
                     s.direction = {0, 1, 0};
                     s.geometry = 4;
                 }),
         4, 0.5},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(ShapeSignature::matchDistance(c.a, c.b, c.scale), c.distance) << c.name;
}

TEST(ShapeSignature, BestMatchFollowsAResizedBox)
{
    const TopoDS_Shape low = box(50, 30, 20);
    const TopoDS_Shape tall = box(50, 30, 35);
    const TopoDS_Shape side = findClosestSubShape(tall, describeShape(faceFacing(low, gp::DX())));
    EXPECT_TRUE(at(centreOf(side).XYZ(), 50, 15, 17.5));

    // The top edge along X moves up with the top face.
    TopoDS_Shape topEdge;
    for (TopExp_Explorer e(low, TopAbs_EDGE); e.More(); e.Next()) {
        if (midPoint(e.Current()).Distance(gp_Pnt(25, 30, 20)) < 1e-9)
            topEdge = e.Current();
    }
    EXPECT_TRUE(at(midPoint(findClosestSubShape(tall, describeShape(topEdge))).XYZ(), 25, 30, 35));

    // A vertex is found by position alone.
    ShapeSignature corner;
    corner.kind = ShapeSignature::Kind::Vertex;
    corner.point = {50, 30, 20};
    const TopoDS_Shape vertex = findClosestSubShape(tall, corner);
    ASSERT_EQ(vertex.ShapeType(), TopAbs_VERTEX);
    EXPECT_TRUE(at(BRep_Tool::Pnt(TopoDS::Vertex(vertex)).XYZ(), 50, 30, 35));
}

TEST(ShapeSignature, BestMatchFailsAndTies)
{
    // The face of a hole is gone once the hole is.
    const TopoDS_Shape solid = box(40, 40, 10);
    const TopoDS_Shape drilled
        = BRepAlgoAPI_Cut(
              solid, BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 20, -1), gp::DZ()), 5, 12).Shape())
              .Shape();
    const TopoDS_Shape hole = firstOfGeometry(drilled, TopAbs_FACE, 1);
    ASSERT_FALSE(hole.IsNull());
    EXPECT_TRUE(findClosestSubShape(drilled, describeShape(hole)).IsSame(hole));
    double score = 0;
    EXPECT_TRUE(findClosestSubShape(solid, describeShape(hole), &score).IsNull());
    EXPECT_GT(score, 3.0);

    // A face turned round is not the same face: the bottom never stands in for the top.
    ShapeSignature turned = describeShape(faceFacing(solid, gp::DZ()));
    turned.direction = {0, 0, -1};
    EXPECT_NEAR(centreOf(findClosestSubShape(solid, turned)).Z(), 0.0, 1e-9);

    // Equal scores: the earlier sub-shape of the map wins.
    const TopoDS_Shape first = box(10, 10, 10);
    const TopoDS_Shape second = BRepBuilderAPI_Copy(first).Shape();
    TopoDS_Compound pair;
    BRep_Builder builder;
    builder.MakeCompound(pair);
    builder.Add(pair, second);
    builder.Add(pair, first);
    EXPECT_TRUE(findClosestSubShape(pair, describeShape(faceFacing(first, gp::DZ())))
                    .IsSame(faceFacing(second, gp::DZ())));

    // No body at all.
    EXPECT_TRUE(findClosestSubShape(TopoDS_Shape(), ShapeSignature{}).IsNull());
}

TEST(SelectionReferences, DatumsAndReferenceJson)
{
    EXPECT_TRUE(at(Document::datumPlane(5).Direction().XYZ(), 0, 0, 1, 1e-9)); // unknown: XY
    EXPECT_TRUE(at(Document::datumAxis(-12).Direction().XYZ(), 0, 1, 0, 1e-9));
    EXPECT_EQ(Document::datumName(-13), QStringLiteral("Z-Achse"));
    EXPECT_EQ(datumReferenceJson(-3), (QJsonObject{{"kind", "origin"}, {"id", -3}}));
    EXPECT_EQ(datumReferenceJson(7), (QJsonObject{{"kind", "feature"}, {"id", 7}}));
}

TEST(SelectionReferences, Descriptions)
{
    Document doc;
    Feature* sketch = doc.addFeature(QStringLiteral("sketch"));
    sketch->name = QStringLiteral("Skizze1");
    doc.bodyNames[100] = QStringLiteral("Gehäuse");
    const std::pair<QJsonObject, const char*> cases[] = {
        {{{"kind", "origin"}, {"id", -1}}, "XY-Ebene"},
        {{{"kind", "origin"}, {"id", 9}}, "Ursprung"},
        {{{"kind", "sketch"}, {"id", sketch->id}}, "Skizze1"},
        {{{"kind", "feature"}, {"id", 99}}, "(gelöscht)"},
        {{{"kind", "face"}, {"body", 100}}, "Fläche von Gehäuse"},
        {{{"kind", "edge"}, {"body", 200}}, "Kante von Körper 200"},
        {{{"kind", "vertex"}, {"body", 100}}, "Punkt von Gehäuse"},
        {{{"kind", "body"}, {"id", 100}}, "Gehäuse"},
        {regionRef(sketch->id, 1, 1), "Profil in Skizze1"},
        {{{"kind", "sketchline"}, {"sketch", sketch->id}}, "Linie in Skizze1"},
        {regionRef(99, 1, 1), "region"},
        {{{"kind", "sketchline"}, {"sketch", 99}}, "sketchline"},
        {{{"kind", "axle"}}, "axle"},
    };
    for (const auto& [ref, text] : cases)
        EXPECT_EQ(doc.describeReference(ref), QString::fromUtf8(text)) << text;
}

TEST(ReferenceResolution, PickedFaceSurvivesAHeightChange)
{
    // The reference is made on the 20 mm box and stored as JSON, then the box is
    // rebuilt 35 mm high.
    const QJsonObject ref = faceRef(100, faceFacing(box(50, 30, 20), gp::DZ()));
    Part part;
    part.addBody(100, box(50, 30, 35));
    int bodyId = 0;
    const TopoDS_Shape top = resolveReference(part.state, ref, &bodyId);
    EXPECT_EQ(bodyId, 100);
    EXPECT_TRUE(at(centreOf(top).XYZ(), 25, 15, 35));
    EXPECT_TRUE(at(facePlane(top).Direction().XYZ(), 0, 0, 1, 1e-9));

    // The body turns into one without that face.
    part.addBody(100, BRepPrimAPI_MakeSphere(20).Shape());
    EXPECT_EQ(errorOf([&] { resolveReference(part.state, ref); }), faceGone);

    part.state.bodies.erase(100);
    bodyId = 0;
    EXPECT_EQ(errorOf([&] { resolveReference(part.state, ref, &bodyId); }),
              QStringLiteral("Bezugskörper existiert nicht mehr"));
    EXPECT_EQ(bodyId, 0);

    // The signature decides the sub-shape type, not the reference's kind.
    part.addBody(100, box(50, 30, 20));
    QJsonObject edgeAsFace = edgeRef(100, TopExp_Explorer(box(50, 30, 20), TopAbs_EDGE).Current());
    edgeAsFace["kind"] = "face";
    EXPECT_EQ(resolveReference(part.state, edgeAsFace).ShapeType(), TopAbs_EDGE);
}

TEST(ReferenceResolution, ShapeListsAndTargetBodies)
{
    Part part;
    const TopoDS_Shape a = box(10, 10, 10);
    const TopoDS_Shape b = box(10, 10, 10, gp_Pnt(50, 0, 0));
    part.addBody(100, a);
    part.addBody(200, b);
    part.feature->params["faces"]
        = QJsonArray{faceRef(200, faceFacing(b, gp::DX())), faceRef(100, faceFacing(a, gp::DZ()))};
    int bodyId = 0;
    const auto shapes = resolveShapeList(part.context(), "faces", &bodyId);
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_TRUE(at(centreOf(shapes[0]).XYZ(), 60, 5, 5));
    EXPECT_TRUE(at(centreOf(shapes[1]).XYZ(), 5, 5, 10));
    EXPECT_EQ(bodyId, 100); // the last one's body

    part.feature->params["faces"] = faceRef(100, faceFacing(a, gp::DZ()));
    EXPECT_TRUE(resolveShapeList(part.context(), "faces").empty());

    part.state.bodies.erase(200);
    part.addBody(1200, a);
    part.feature->params["targets"] = QJsonArray{1200, QJsonObject{{"kind", "body"}, {"id", 1300}},
                                                 99,   QJsonObject{{"kind", "body"}, {"id", 100}},
                                                 1200, "100"};
    EXPECT_EQ(resolveTargetBodies(part.context(), "targets"), (std::vector<int>{1200, 100, 1200}));
    EXPECT_TRUE(resolveTargetBodies(part.context(), "missing").empty());
}

TEST(ReferenceResolution, FacePlaneFrames)
{
    const TopoDS_Shape solid = box(5, 6, 7, gp_Pnt(10, 20, 30));
    const gp_Ax3 top = facePlane(faceFacing(solid, gp::DZ()));
    EXPECT_TRUE(at(top.Location().XYZ(), 0, 0, 37));
    EXPECT_TRUE(at(top.XDirection().XYZ(), 1, 0, 0, 1e-9));
    EXPECT_TRUE(at(top.YDirection().XYZ(), 0, 1, 0, 1e-9));

    const gp_Ax3 bottom = facePlane(faceFacing(solid, -gp::DZ()));
    EXPECT_TRUE(at(bottom.Direction().XYZ(), 0, 0, -1, 1e-9));
    EXPECT_TRUE(bottom.Direct());

    const gp_Ax3 side = facePlane(faceFacing(solid, gp::DX()));
    EXPECT_TRUE(at(side.Location().XYZ(), 15, 0, 0));
    EXPECT_TRUE(at(side.XDirection().XYZ(), 0, 1, 0, 1e-9));
    EXPECT_TRUE(at(side.YDirection().XYZ(), 0, 0, 1, 1e-9));

    // A left-handed plane faces along X × Y, against its axis: the sketch frame, the
    // signature and the mate solver all take that side.
    gp_Ax3 leftHanded(gp_Pnt(0, 0, 4), gp::DZ(), gp::DX());
    leftHanded.YReverse();
    const TopoDS_Face mirrored = BRepBuilderAPI_MakeFace(gp_Pln(leftHanded), 0, 1, 0, 1).Face();
    EXPECT_TRUE(at(facePlane(mirrored).Direction().XYZ(), 0, 0, -1, 1e-9));
    const auto d = describeShape(mirrored).direction;
    EXPECT_TRUE(at(gp_XYZ(d[0], d[1], d[2]), 0, 0, -1, 1e-9));
    qor::model::MateSide mate;
    ASSERT_TRUE(qor::model::classifyReference(mirrored, mate));
    EXPECT_TRUE(at(mate.direction.XYZ(), 0, 0, -1, 1e-9));

    // The frame ignores how the surface is parametrised.
    const gp_Dir n(1, 1, 1);
    const gp_Pln skewed(gp_Ax3(gp_Pnt(3, 0, 0), n, gp_Dir(1, -1, 0)));
    const gp_Pln turned(gp_Ax3(gp_Pnt(0, 3, 0), n, gp_Dir(0, 1, -1)));
    const gp_Ax3 f1 = facePlane(BRepBuilderAPI_MakeFace(skewed, -1, 1, -1, 1).Face());
    const gp_Ax3 f2 = facePlane(BRepBuilderAPI_MakeFace(turned, -2, 2, 0, 1).Face());
    EXPECT_TRUE(at(f1.Location().XYZ(), 1, 1, 1));
    EXPECT_TRUE(at(f2.Location().XYZ(), 1, 1, 1));
    EXPECT_TRUE(f1.XDirection().IsEqual(f2.XDirection(), 1e-12));
    EXPECT_NEAR(f1.XDirection().Dot(n), 0.0, 1e-12);

    const TopoDS_Shape lateral
        = firstOfGeometry(BRepPrimAPI_MakeCylinder(5, 10).Shape(), TopAbs_FACE, 1);
    EXPECT_EQ(errorOf([&] { facePlane(lateral); }), QStringLiteral("Die Fläche ist nicht eben"));
    EXPECT_EQ(errorOf([&] { facePlane(TopExp_Explorer(solid, TopAbs_EDGE).Current()); }),
              QStringLiteral("Keine ebene Fläche"));
}

TEST(ReferenceResolution, PlaneReferences)
{
    Part part;
    const auto plane = [&](const QJsonValue& value) {
        part.feature->params["plane"] = value;
        return resolvePlaneRef(part.context(), "plane");
    };
    EXPECT_TRUE(at(plane(QJsonValue()).Direction().XYZ(), 0, 0, 1, 1e-9));
    EXPECT_TRUE(
        at(plane(QJsonObject{{"kind", "origin"}, {"id", -2}}).Direction().XYZ(), 0, -1, 0, 1e-9));

    gp_Ax3 flipped(gp_Pnt(0, 0, 5), gp::DZ(), gp::DX());
    flipped.ZReverse();
    part.state.planes[4] = flipped;
    const gp_Ax3 stored = plane(QJsonObject{{"kind", "feature"}, {"id", 4}});
    EXPECT_FALSE(stored.Direct());
    EXPECT_TRUE(at(stored.YDirection().XYZ(), 0, 1, 0, 1e-9));
    EXPECT_EQ(errorOf([&] {
                  plane(QJsonObject{{"kind", "feature"}, {"id", 5}});
              }),
              QStringLiteral("Bezugsebene existiert nicht mehr"));

    const TopoDS_Shape solid = box(10, 10, 10);
    part.addBody(100, solid);
    const gp_Ax3 face = plane(faceRef(100, faceFacing(solid, -gp::DY())));
    EXPECT_TRUE(at(face.Direction().XYZ(), 0, -1, 0, 1e-9));
    EXPECT_EQ(errorOf([&] {
                  plane(QJsonObject{{"kind", "body"}, {"id", 100}});
              }),
              QStringLiteral("Keine Ebene ausgewählt"));
}

TEST(ReferenceResolution, AxisReferences)
{
    Part part;
    const auto axis = [&](const QJsonValue& value) {
        part.feature->params["axis"] = value;
        return resolveAxisRef(part.context(), "axis");
    };
    EXPECT_EQ(errorOf([&] { axis(QJsonObject{}); }), QStringLiteral("Keine Achse ausgewählt"));
    EXPECT_TRUE(at(axis(QJsonObject{{"kind", "origin"}}).Direction().XYZ(), 0, 0, 1, 1e-9));
    EXPECT_TRUE(
        at(axis(QJsonObject{{"kind", "origin"}, {"id", -12}}).Direction().XYZ(), 0, 1, 0, 1e-9));
    EXPECT_TRUE(
        at(axis(QJsonObject{{"kind", "origin"}, {"id", -2}}).Direction().XYZ(), 1, 0, 0, 1e-9));

    part.state.axes[6] = gp_Ax1(gp_Pnt(1, 2, 3), gp::DY());
    EXPECT_TRUE(at(axis(QJsonObject{{"kind", "feature"}, {"id", 6}}).Location().XYZ(), 1, 2, 3));
    EXPECT_EQ(errorOf([&] {
                  axis(QJsonObject{{"kind", "feature"}, {"id", 7}});
              }),
              QStringLiteral("Bezugsachse existiert nicht mehr"));

    // Straight edge: from its first to its last point.
    const TopoDS_Edge slanted = BRepBuilderAPI_MakeEdge(gp_Pnt(1, 1, 0), gp_Pnt(4, 5, 0)).Edge();
    // Circle: its centre and normal; cylinder face: its axis.
    const TopoDS_Shape cylinder
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 0, 0), gp::DX()), 3, 8).Shape();
    const TopoDS_Shape lateral = firstOfGeometry(cylinder, TopAbs_FACE, 1);
    TopoDS_Shape circle;
    for (TopExp_Explorer e(cylinder, TopAbs_EDGE); e.More(); e.Next()) {
        if (describeShape(e.Current()).geometry == 1 && midPoint(e.Current()).X() > 25)
            circle = e.Current();
    }
    TopoDS_Compound shapes;
    BRep_Builder builder;
    builder.MakeCompound(shapes);
    builder.Add(shapes, slanted);
    builder.Add(shapes, cylinder);
    part.addBody(100, shapes);

    const gp_Ax1 line = axis(edgeRef(100, slanted));
    EXPECT_TRUE(at(line.Location().XYZ(), 1, 1, 0));
    EXPECT_TRUE(at(line.Direction().XYZ(), 0.6, 0.8, 0, 1e-9));
    const gp_Ax1 ring = axis(edgeRef(100, circle));
    EXPECT_TRUE(at(ring.Location().XYZ(), 28, 0, 0));
    EXPECT_NEAR(std::fabs(ring.Direction().X()), 1.0, 1e-12);
    const gp_Ax1 tube = axis(faceRef(100, lateral));
    EXPECT_LT(gp_Lin(tube).Distance(gp::Origin()) + gp_Lin(tube).Distance(gp_Pnt(50, 0, 0)), 1e-9);

    const TopoDS_Shape sphere = BRepPrimAPI_MakeSphere(gp_Pnt(0, 40, 0), 2).Shape();
    const TopoDS_Edge spline = BRepBuilderAPI_MakeEdge(gp_Elips(gp::XOY(), 5, 2)).Edge();
    part.addBody(200, sphere);
    part.addBody(300, spline);
    EXPECT_EQ(errorOf([&] { axis(faceRef(200, TopExp_Explorer(sphere, TopAbs_FACE).Current())); }),
              QStringLiteral("Aus dieser Fläche lässt sich keine Achse ableiten"));
    EXPECT_EQ(errorOf([&] { axis(edgeRef(300, spline)); }),
              QStringLiteral("Die Kante ist weder gerade noch kreisförmig"));

    // A sketch line on a plane standing on XZ at y = -3.
    int sketchId = 0;
    const gp_Ax3 xz(gp_Pnt(0, -3, 0), gp_Dir(0, -1, 0), gp::DX());
    qor::sketch::Sketch& sketch = part.addSketch(xz, &sketchId);
    const int lineId = int(sketch.addLineAt(false, 2, 1, 2, 6));
    const int dotLine = int(sketch.addLineAt(false, 5, 5, 5, 5));
    const int circleId = int(sketch.addCircleAt(false, 0, 0, 4));
    const auto sketchLine = [&](int entity) {
        return QJsonObject{{"kind", "sketchline"}, {"sketch", sketchId}, {"entity", entity}};
    };
    const gp_Ax1 drawn = axis(sketchLine(lineId));
    EXPECT_TRUE(at(drawn.Location().XYZ(), 2, -3, 1));
    EXPECT_TRUE(at(drawn.Direction().XYZ(), 0, 0, 1, 1e-9));
    EXPECT_EQ(errorOf([&] { axis(sketchLine(dotLine)); }),
              QStringLiteral("Achsenlinie hat die Länge null"));
    EXPECT_EQ(errorOf([&] { axis(sketchLine(circleId)); }),
              QStringLiteral("Achsenlinie existiert nicht mehr"));
    part.state.sketches.clear();
    EXPECT_EQ(errorOf([&] { axis(sketchLine(lineId)); }), QStringLiteral("Skizze der Achse fehlt"));
}

TEST(ReferenceResolution, PathWires)
{
    Part part;
    const gp_Ax3 xy(gp::Origin(), gp::DZ(), gp::DX());
    int first = 0;
    int second = 0;
    int loop = 0;
    part.addSketch(xy, &first).addLineAt(false, 0, 0, 10, 0);
    qor::sketch::Sketch& bend = part.addSketch(xy, &second);
    bend.addLineAt(false, 10, 0, 10, 10);
    bend.addLineAt(true, 0, 0, 30, 30); // construction lines are no path
    addOutline(part.addSketch(xy, &loop), 50, 50, 60, 60);
    const auto sketchRef = [](int id) { return QJsonObject{{"kind", "sketch"}, {"id", id}}; };
    const auto path = [&](const QJsonValue& value) {
        part.feature->params["path"] = value;
        return resolvePathWire(part.context(), "path");
    };

    const TopoDS_Wire joined = path(QJsonArray{sketchRef(second), sketchRef(first)});
    EXPECT_EQ(countOf(joined, TopAbs_EDGE), 2);
    EXPECT_EQ(countOf(joined, TopAbs_VERTEX), 3); // shared corner at (10, 0)

    EXPECT_EQ(countOf(path(sketchRef(loop)), TopAbs_EDGE), 4); // a lone object is accepted
    EXPECT_EQ(errorOf([&] {
                  path(QJsonArray{sketchRef(first), sketchRef(loop)});
              }),
              QStringLiteral("Der Pfad besteht aus mehreren getrennten Kurvenzügen"));
    EXPECT_EQ(errorOf([&] { path(QJsonArray{}); }), QStringLiteral("Kein Pfad ausgewählt"));
    EXPECT_EQ(errorOf([&] {
                  path(QJsonArray{QJsonObject{{"kind", "body"}, {"id", 100}}});
              }),
              QStringLiteral("Kein Pfad ausgewählt"));
    EXPECT_EQ(errorOf([&] { path(sketchRef(77)); }), QStringLiteral("Pfadskizze fehlt"));

    // Body edges chain with sketch curves.
    const TopoDS_Edge rail = BRepBuilderAPI_MakeEdge(gp_Pnt(10, 10, 0), gp_Pnt(10, 10, 25)).Edge();
    part.addBody(100, rail);
    const TopoDS_Wire mixed
        = path(QJsonArray{sketchRef(first), sketchRef(second), edgeRef(100, rail)});
    EXPECT_EQ(countOf(mixed, TopAbs_EDGE), 3);
}

TEST(ReferenceResolution, ProfileFaces)
{
    Part part;
    // Two squares side by side on a plane 7 mm above XY.
    const gp_Ax3 raised(gp_Pnt(0, 0, 7), gp::DZ(), gp::DX());
    int sketchId = 0;
    qor::sketch::Sketch& sketch = part.addSketch(raised, &sketchId);
    addOutline(sketch, 0, 0, 20, 10);
    sketch.addLineAt(false, 10, 0, 10, 10);
    const auto profile = [&](const QJsonArray& value, gp_Ax3* plane = nullptr) {
        part.feature->params["profile"] = value;
        return resolveProfileFaces(part.context(), "profile", plane);
    };

    gp_Ax3 plane;
    const TopoDS_Compound one = profile({regionRef(sketchId, 15, 5)}, &plane);
    EXPECT_EQ(countOf(one, TopAbs_FACE), 1);
    EXPECT_NEAR(areaOf(one), 100.0, 1e-6);
    EXPECT_TRUE(at(centreOf(one).XYZ(), 15, 5, 7));
    EXPECT_TRUE(at(plane.Location().XYZ(), 0, 0, 7));

    // Adjacent regions merge into one face, also when the whole sketch is named too.
    const TopoDS_Compound both = profile({regionRef(sketchId, 5, 5), regionRef(sketchId, 15, 5)});
    EXPECT_EQ(countOf(both, TopAbs_FACE), 1);
    EXPECT_NEAR(areaOf(both), 200.0, 1e-6);
    const TopoDS_Compound whole
        = profile({QJsonObject{{"kind", "sketch"}, {"id", sketchId}}, regionRef(sketchId, 5, 5)});
    EXPECT_NEAR(areaOf(whole), 200.0, 1e-6);

    // A picked face comes after the sketch regions; the first element gives the plane.
    const TopoDS_Shape solid = box(4, 4, 4, gp_Pnt(100, 0, 0));
    part.addBody(100, solid);
    const QJsonObject side = faceRef(100, faceFacing(solid, gp::DX()));
    const TopoDS_Compound mixed = profile({side, regionRef(sketchId, 5, 5)}, &plane);
    EXPECT_EQ(countOf(mixed, TopAbs_FACE), 2);
    EXPECT_NEAR(areaOf(mixed), 116.0, 1e-6);
    EXPECT_TRUE(at(plane.Direction().XYZ(), 1, 0, 0, 1e-9));
    const TopoDS_Iterator firstFace(mixed);
    ASSERT_TRUE(firstFace.More());
    EXPECT_TRUE(at(centreOf(firstFace.Value()).XYZ(), 5, 5, 7));

    EXPECT_EQ(errorOf([&] { profile({regionRef(sketchId, 50, 50)}); }),
              QStringLiteral("Profilbereich existiert nicht mehr – bitte neu auswählen"));
    EXPECT_EQ(errorOf([&] { profile({}); }), QStringLiteral("Kein Profil ausgewählt"));
    EXPECT_EQ(errorOf([&] {
                  profile({QJsonObject{{"kind", "body"}, {"id", 100}}});
              }),
              QStringLiteral("Das Profil enthält keinen geschlossenen Bereich"));
    EXPECT_EQ(errorOf([&] { profile({regionRef(sketchId + 50, 5, 5)}); }),
              QStringLiteral("Skizze des Profils fehlt"));

    // An open sketch encloses nothing.
    int openId = 0;
    part.addSketch(raised, &openId).addLineAt(false, 0, 0, 5, 5);
    EXPECT_EQ(errorOf([&] {
                  profile({QJsonObject{{"kind", "sketch"}, {"id", openId}}});
              }),
              QStringLiteral("Das Profil enthält keinen geschlossenen Bereich"));
}
