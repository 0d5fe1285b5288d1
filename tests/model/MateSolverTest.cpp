#include "model/MateSolver.h"
#include "io/ShapeText.h"
#include "model/ComponentGeometry.h"
#include "model/Document.h"
#include "tests/model/MatePlacement.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRep_Tool.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <gp_Ax1.hxx>
#include <gp_Circ.hxx>
#include <gp_Elips.hxx>
#include <gp_Lin.hxx>

#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

using namespace qor::model;
using qor::test::extent;
using qor::test::placed;

namespace {

constexpr double tol = 1e-6;

// The sub-shape of the given type whose classification passes the test.
TopoDS_Shape find(const TopoDS_Shape& shape, TopAbs_ShapeEnum type,
                  const std::function<bool(const MateSide&)>& test)
{
    for (TopExp_Explorer it(shape, type); it.More(); it.Next()) {
        MateSide side;
        if (classifyReference(it.Current(), side) && test(side))
            return it.Current();
    }
    ADD_FAILURE() << "no such sub-shape";
    return {};
}

TopoDS_Shape planeFace(const TopoDS_Shape& shape, const gp_Dir& outward)
{
    return find(shape, TopAbs_FACE, [&](const MateSide& s) {
        return s.kind == RefKind::Plane && s.direction.Dot(outward) > 1 - 1e-9;
    });
}

TopoDS_Shape axisFace(const TopoDS_Shape& shape)
{
    return find(shape, TopAbs_FACE, [](const MateSide& s) { return s.kind == RefKind::Axis; });
}

TopoDS_Shape vertexAt(const TopoDS_Shape& shape, const gp_Pnt& p)
{
    return find(shape, TopAbs_VERTEX, [&](const MateSide& s) { return s.point.Distance(p) < tol; });
}

MateRef ref(int component, const TopoDS_Shape& subShape)
{
    return MateRef{component, describeShape(subShape)};
}

Component part(int id, const TopoDS_Shape& shape, const gp_Trsf& placement = gp_Trsf(),
               bool grounded = false)
{
    Component c;
    c.id = id;
    c.name = QStringLiteral("Teil %1").arg(id);
    c.embedded = qor::io::shapeToBase64(shape);
    c.setPlacement(placement);
    c.grounded = grounded;
    return c;
}

Mate mate(int id, const QString& type, const MateRef& a, const MateRef& b,
          const QString& value = QStringLiteral("0"), bool flip = false)
{
    Mate m;
    m.id = id;
    m.type = type;
    m.a = a;
    m.b = b;
    m.value = value;
    m.flip = flip;
    return m;
}

gp_Trsf placement(double x, double y, double z, const gp_Dir& axis = gp_Dir(0, 0, 1),
                  double degrees = 0.0)
{
    gp_Trsf t;
    t.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), axis), degrees * std::numbers::pi / 180.0);
    t.SetTranslationPart(gp_Vec(x, y, z));
    return t;
}

double signedDistance(const MateSide& plane, const MateSide& other)
{
    return gp_Vec(plane.point, other.point).Dot(gp_Vec(plane.direction));
}

const TopoDS_Shape& bodyShape(const Document& doc, int componentId)
{
    return doc.current.bodies.at(assemblyBodyId(componentId, 0)).shape;
}

const TopoDS_Shape plate = qor::test::box(20, 20, 10);
const TopoDS_Shape cube = qor::test::box(10, 10, 10);
const gp_Dir up(0, 0, 1);
const gp_Dir down(0, 0, -1);

} // namespace

TEST(MateSolver, ClassifiesFacesEdgesAndVertices)
{
    // Reversed faces still get the normal that leaves the material.
    MateSide side;
    EXPECT_TRUE(classifyReference(planeFace(cube, down), side));
    EXPECT_EQ(side.kind, RefKind::Plane);
    EXPECT_NEAR(side.direction.Z(), -1.0, tol);
    EXPECT_NEAR(side.point.Z(), 0.0, tol);

    const TopoDS_Shape cylinder
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(5, 6, 7), gp_Dir(1, 0, 0)), 3, 10).Shape();
    EXPECT_TRUE(classifyReference(axisFace(cylinder), side));
    EXPECT_EQ(side.kind, RefKind::Axis);
    EXPECT_NEAR(std::abs(side.direction.X()), 1.0, tol);
    EXPECT_LT(gp_Lin(side.point, side.direction).Distance(gp_Pnt(0, 6, 7)), tol);

    const TopoDS_Shape sphere = BRepPrimAPI_MakeSphere(gp_Pnt(1, 2, 3), 4).Shape();
    TopExp_Explorer sphereFace(sphere, TopAbs_FACE);
    EXPECT_TRUE(classifyReference(sphereFace.Current(), side));
    EXPECT_EQ(side.kind, RefKind::Point);
    EXPECT_LT(side.point.Distance(gp_Pnt(1, 2, 3)), tol);

    const gp_Circ circle(gp_Ax2(gp_Pnt(1, 1, 1), gp_Dir(0, 1, 0)), 2);
    EXPECT_TRUE(classifyReference(BRepBuilderAPI_MakeEdge(circle).Edge(), side));
    EXPECT_EQ(side.kind, RefKind::Axis);
    EXPECT_LT(side.point.Distance(gp_Pnt(1, 1, 1)), tol);
    EXPECT_NEAR(std::abs(side.direction.Y()), 1.0, tol);

    // Anything else leaves the side untouched.
    side.point = gp_Pnt(7, 7, 7);
    EXPECT_FALSE(classifyReference(TopoDS_Shape(), side));
    EXPECT_FALSE(classifyReference(cube, side));
    EXPECT_LT(side.point.Distance(gp_Pnt(7, 7, 7)), tol);
}

TEST(MateSolver, VariablesTurnAboutThePivotThenTranslate)
{
    Component c;
    c.id = 3;
    c.setPlacement(placement(10, 0, 0));
    MateSolverContext context;
    context.offsets[3] = 6;
    context.bases[3] = c.transform();
    context.pivots[3] = gp_Pnt(10, 0, 0);
    std::vector<double> x(12, 0.0);
    x[8] = std::numbers::pi / 2;
    x[11] = 5.0;
    const gp_Pnt p = gp_Pnt(1, 0, 0).Transformed(Document::solverTransform(context, c, x));
    EXPECT_NEAR(p.X(), 10.0, tol);
    EXPECT_NEAR(p.Y(), 1.0, tol);
    EXPECT_NEAR(p.Z(), 5.0, tol);

    // A component without variables stays where its placement puts it.
    Component fixed;
    fixed.id = 4;
    fixed.setPlacement(placement(0, 7, 0));
    const gp_Pnt q = gp_Pnt(0, 0, 0).Transformed(Document::solverTransform(context, fixed, x));
    EXPECT_NEAR(q.Y(), 7.0, tol);
}

TEST(MateSolver, EveryMateTypeHoldsAfterTheSolve)
{
    const TopoDS_Shape shaft = BRepPrimAPI_MakeCylinder(5, 40).Shape();
    const TopoDS_Shape sleeve = BRepPrimAPI_MakeCylinder(3, 10).Shape();
    const gp_Dir tilt(1, 0.3, 0);
    const auto dot
        = [](const MateSide& a, const MateSide& b) { return a.direction.Dot(b.direction); };
    struct Case {
        const char* type;
        const char* value;
        bool flip, grounded;
        TopoDS_Shape fixedPart, movingPart, a, b;
        gp_Trsf start;
        // Zero when the placed references satisfy the mate.
        std::function<double(const MateSide&, const MateSide&)> gap;
    };
    const Case cases[] = {
        // Both free, so both may tilt: opposed faces 5 mm apart along the first normal.
        {"planar", "abstand", false, false, plate, cube, planeFace(plate, up),
         planeFace(cube, down), placement(40, 0, 3, tilt, 30),
         [&](const MateSide& a, const MateSide& b) {
             return std::abs(dot(a, b) + 1) + std::abs(signedDistance(a, b) - 5);
         }},
        // Flipped, from nearly upside down: equal normals, the face 5 mm behind.
        {"planar", "abstand", true, false, plate, cube, planeFace(plate, up), planeFace(cube, down),
         placement(40, 0, 3, tilt, 160),
         [&](const MateSide& a, const MateSide& b) {
             return std::abs(dot(a, b) - 1) + std::abs(signedDistance(a, b) + 5);
         }},
        {"flush", "5", false, true, plate, cube, planeFace(plate, up), planeFace(cube, up),
         placement(30, 5, 2, up, 15),
         [&](const MateSide& a, const MateSide& b) {
             return std::abs(dot(a, b) - 1) + std::abs(signedDistance(a, b) + 5);
         }},
        {"concentric", "0", false, true, shaft, sleeve, axisFace(shaft), axisFace(sleeve),
         placement(30, 10, 0, gp_Dir(1, 0, 0), 20),
         [](const MateSide& a, const MateSide& b) {
             return a.direction.XYZ().Crossed(b.direction.XYZ()).Modulus()
                    + gp_Lin(a.point, a.direction).Distance(b.point);
         }},
        {"angle", "90", false, true, plate, cube, planeFace(plate, up), planeFace(cube, up),
         placement(30, 0, 0, gp_Dir(1, 1, 0), 10),
         [&](const MateSide& a, const MateSide& b) { return std::abs(dot(a, b)); }},
        {"point", "0", false, true, plate, cube, vertexAt(plate, gp_Pnt(20, 20, 10)),
         vertexAt(cube, gp_Pnt(0, 0, 0)), placement(50, 50, 50, up, 45),
         [](const MateSide& a, const MateSide& b) { return a.point.Distance(b.point); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << (c.flip ? " flipped" : ""));
        Document doc;
        doc.parameters.push_back(Parameter{"abstand", "5", "mm", {}, 0.0, {}});
        doc.components = {part(1, c.fixedPart, {}, c.grounded), part(2, c.movingPart, c.start)};
        const auto fixedPlacement = doc.components[0].m;
        doc.mates = {mate(3, c.type, ref(1, c.a), ref(2, c.b), c.value, c.flip)};
        doc.recompute();
        EXPECT_TRUE(doc.mates[0].status.isEmpty()) << doc.mates[0].status.toStdString();
        EXPECT_LT(c.gap(placed(doc, 1, c.a), placed(doc, 2, c.b)), tol);
        if (c.grounded)
            EXPECT_EQ(doc.components[0].m, fixedPlacement);
        // The bodies follow the solved placements.
        const gp_Trsf moved = doc.component(2)->transform();
        EXPECT_TRUE(qor::test::extentIs(bodyShape(doc, 2),
                                        extent(c.movingPart.Moved(TopLoc_Location(moved))), 1e-5));
        QString message = "alt";
        EXPECT_TRUE(doc.solveMates(&message));
        EXPECT_EQ(message, "alt");
    }
}

TEST(MateSolver, ContradictionsAreReportedOnTheMates)
{
    const QString unsatisfiable = "Nicht erfüllbar (widersprüchlich oder überbestimmt)";

    // Two planar mates of values 0 and 10 meet in the middle.
    Document twice;
    twice.components = {part(1, plate, {}, true), part(2, cube, placement(40, 0, 0))};
    const MateRef top = ref(1, planeFace(plate, up));
    const MateRef bottom = ref(2, planeFace(cube, down));
    twice.mates = {mate(3, "planar", top, bottom, "0"), mate(4, "planar", top, bottom, "10")};
    twice.recompute();
    EXPECT_EQ(twice.mates[0].status, unsatisfiable);
    EXPECT_EQ(twice.mates[1].status, unsatisfiable);
    EXPECT_NEAR(extent(bodyShape(twice, 2))[2], 15.0, 1e-5);
    QString message;
    EXPECT_FALSE(twice.solveMates(&message));
    EXPECT_EQ(message, "Beziehungen lassen sich nicht gleichzeitig erfüllen");

    // An angle above 180° cannot be met.
    Document angle;
    angle.components = {part(1, plate, {}, true), part(2, cube, placement(30, 0, 0))};
    angle.mates
        = {mate(3, "angle", ref(1, planeFace(plate, up)), ref(2, planeFace(cube, up)), "200")};
    EXPECT_FALSE(angle.solveMates());
    EXPECT_EQ(angle.mates[0].status, unsatisfiable);

    // Between two grounded components nothing moves.
    Document grounded;
    grounded.components = {part(1, plate, {}, true), part(2, cube, placement(40, 0, 0), true)};
    const auto before = grounded.components[1].m;
    grounded.mates = {mate(3, "planar", top, bottom)};
    EXPECT_FALSE(grounded.solveMates());
    EXPECT_EQ(grounded.mates[0].status, unsatisfiable);
    EXPECT_EQ(grounded.components[1].m, before);
}

TEST(MateSolver, MatesThatCannotBeUsed)
{
    const TopoDS_Shape shaft = BRepPrimAPI_MakeCylinder(5, 40).Shape();
    const TopoDS_Shape ellipse
        = BRepBuilderAPI_MakeEdge(gp_Elips(gp_Ax2(gp_Pnt(0, 0, 0), up), 5, 2)).Edge();
    Document doc;
    doc.components = {part(1, plate, {}, true), part(2, cube, placement(40, 0, 0)),
                      part(3, shaft, placement(-40, 0, 0)), part(4, ellipse)};
    const auto cubePlacement = doc.components[1].m;
    ShapeSignature nowhere = describeShape(planeFace(cube, up));
    nowhere.point = {500, 500, 500};
    nowhere.size = 1e6;
    doc.mates = {
        mate(5, "point", ref(1, planeFace(plate, up)), ref(2, planeFace(cube, down))),
        mate(6, "Planar", ref(1, planeFace(plate, up)), ref(2, planeFace(cube, down))),
        mate(7, "point", ref(3, axisFace(shaft)), ref(3, axisFace(shaft))),
        mate(8, "planar", ref(1, planeFace(plate, up)), ref(99, planeFace(cube, down))),
        mate(9, "planar", ref(1, planeFace(plate, up)), MateRef{2, nowhere}),
        mate(10, "planar", ref(4, ellipse), ref(2, planeFace(cube, down))),
    };
    doc.recompute();
    const char* statuses[]
        = {"Diese Kombination wird nicht unterstützt",
           "Diese Kombination wird nicht unterstützt",
           "Diese Kombination wird nicht unterstützt",
           "Komponente fehlt",
           "Bezugsgeometrie nicht mehr gefunden – Bauteil geändert?",
           "Gewähltes Element ist weder eben, zylindrisch, kegelig noch ein Punkt – bitte eine "
           "ebene Fläche, Bohrung/Welle oder Kante wählen"};
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(doc.mates[i].status, QString::fromUtf8(statuses[i])) << i;
    // Mates without rows move nothing.
    for (std::size_t i = 0; i < 12; ++i)
        EXPECT_NEAR(doc.components[1].m[i], cubePlacement[i], 1e-12);

    // The only active mate lost its component: the solve fails.
    doc.mates = {mate(8, "planar", ref(1, planeFace(plate, up)), ref(99, planeFace(cube, down)))};
    EXPECT_FALSE(doc.solveMates());
    EXPECT_EQ(doc.mates[0].status, "Komponente fehlt");
}

TEST(MateSolver, WhatMovesAndWhatDoesNot)
{
    Document doc;
    doc.components = {part(1, plate), part(2, cube, placement(40, 0, 3)), part(3, cube)};
    // Scaled matrices: rewritten in orthonormal form only when the solver moves them.
    for (Component& c : doc.components)
        c.m = {2, 0, 0, c.m[3], 0, 2, 0, c.m[7], 0, 0, 2, c.m[11]};
    const auto untouched = doc.components[2].m;
    const auto plateBefore = doc.components[0].m;
    doc.mates = {mate(4, "planar", ref(1, planeFace(plate, up)), ref(2, planeFace(cube, down)))};

    // Nothing active: nothing changes, nothing is reported.
    doc.mates[0].suppressed = true;
    doc.mates[0].status = "alt";
    EXPECT_TRUE(doc.solveMates());
    EXPECT_TRUE(doc.mates[0].status.isEmpty());
    EXPECT_EQ(doc.components[1].m[0], 2.0);
    doc.mates.clear();
    EXPECT_TRUE(doc.solveMates());

    doc.mates = {mate(4, "planar", ref(1, planeFace(plate, up)), ref(2, planeFace(cube, down)))};
    EXPECT_TRUE(doc.solveMates());
    // Both are free, but the start step puts side b onto side a, so only the cube moves.
    const auto& m = doc.components[1].m;
    for (int col = 0; col < 3; ++col)
        EXPECT_NEAR(std::hypot(m[col], m[4 + col], m[8 + col]), 1.0, tol);
    EXPECT_EQ(doc.components[0].m, plateBefore);
    EXPECT_EQ(doc.components[2].m, untouched);

    // A placement with a number that is not finite is not used and not spread.
    doc.components[1].m[3] = std::numeric_limits<double>::quiet_NaN();
    const auto before = doc.components[0].m;
    EXPECT_NO_THROW(doc.recompute());
    EXPECT_EQ(doc.mates[0].status, "Geometriefehler: Platzierung enthält ungültige Zahlen");
    EXPECT_EQ(doc.components[0].m, before);
    EXPECT_EQ(doc.components[1].status, "Geometriefehler: Platzierung enthält ungültige Zahlen");
    EXPECT_EQ(doc.current.bodies.count(assemblyBodyId(1, 0)), 1u);
}
