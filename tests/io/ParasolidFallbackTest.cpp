#include "io/xt/ParasolidReader.h"
#include "io/xt/XtCurvesSurfaces.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/XtFixtures.h"
#include "tests/fixtures/XtShapeWriter.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_Common.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepFilletAPI_MakeFillet.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeHalfSpace.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <Geom_Curve.hxx>
#include <Geom_Surface.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Shell.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <numbers>

using namespace qor;
using fixtures::XtVariant;

namespace {

// Signed, about the origin: a body whose faces point inwards has a negative volume, and
// an open shell one that changes sign with its faces.
double signedVolume(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props, 1e-9, false);
    return props.Mass();
}

// Adaptive integration: the fixed Gauss rule is off by 1e-3 on closed B-spline faces.
double preciseArea(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(shape, props, 1e-9);
    return props.Mass();
}

double largestVertexTolerance(const TopoDS_Shape& shape)
{
    double largest = 0;
    for (TopExp_Explorer it(shape, TopAbs_VERTEX); it.More(); it.Next())
        largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Vertex(it.Current())));
    return largest;
}

// A cylinder standing on the XY plane, cut by a plane tilted 45° about Y: its top edge is
// an ellipse.
TopoDS_Shape obliquelyCutCylinder()
{
    const TopoDS_Face cut
        = BRepBuilderAPI_MakeFace(gp_Pln(gp_Pnt(0, 0, 0.02), gp_Dir(-1, 0, 1))).Face();
    const TopoDS_Shape below = BRepPrimAPI_MakeHalfSpace(cut, gp_Pnt(0, 0, 0)).Solid();
    return BRepAlgoAPI_Common(BRepPrimAPI_MakeCylinder(0.01, 0.04).Shape(), below).Shape();
}

// A box whose edge along X at the top of its back face is rounded with radius 0.003.
TopoDS_Shape filletedBox()
{
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(0.02, 0.01, 0.01).Shape();
    BRepFilletAPI_MakeFillet fillet(box);
    for (TopExp_Explorer it(box, TopAbs_EDGE); it.More(); it.Next()) {
        const TopoDS_Edge& edge = TopoDS::Edge(it.Current());
        const gp_Pnt a = BRep_Tool::Pnt(TopExp::FirstVertex(edge));
        const gp_Pnt b = BRep_Tool::Pnt(TopExp::LastVertex(edge));
        if (a.Y() > 0.005 && b.Y() > 0.005 && a.Z() > 0.005 && b.Z() > 0.005)
            fillet.Add(0.003, edge);
    }
    return fillet.Shape();
}

// The faces of a solid that keep() accepts, as an open shell: turned inside out, they
// change the sign of the volume, which the healing of a closed solid would put right.
TopoDS_Shape sheetOf(const TopoDS_Shape& solid, const std::function<bool(const TopoDS_Face&)>& keep)
{
    BRep_Builder builder;
    TopoDS_Shell shell;
    builder.MakeShell(shell);
    for (TopExp_Explorer it(solid, TopAbs_FACE); it.More(); it.Next()) {
        if (keep(TopoDS::Face(it.Current())))
            builder.Add(shell, it.Current());
    }
    return shell;
}

bool curved(const TopoDS_Face& face)
{
    return BRepAdaptor_Surface(face).GetType() != GeomAbs_Plane;
}

bool belowTop(const TopoDS_Face& face)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props);
    return props.CentreOfMass().Z() < 0.009;
}

} // namespace

// Each of the reader's fallbacks and approximations, reached by a small transmission of a
// known solid: the body keeps the solid's volume, faces and box, in millimetres, and the
// message holds exactly the notes of that path.
TEST(ParasolidFallbackTest, ApproximationPathsKeepTheSolid)
{
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape();
    const TopoDS_Shape cylinder = BRepPrimAPI_MakeCylinder(0.01, 0.02).Shape();
    const TopoDS_Shape nurbsCylinder = BRepBuilderAPI_NurbsConvert(cylinder).Shape();
    const TopoDS_Shape halfCylinder
        = BRepPrimAPI_MakeCylinder(0.01, 0.02, std::numbers::pi).Shape();
    struct Case {
        const char* name;
        TopoDS_Shape shape;
        XtVariant variant;
        int faces;
        double tolerance; // relative, of volume and area
        QString message;
    };
    const Case cases[] = {
        {"ellipse with swapped radii", obliquelyCutCylinder(), XtVariant::swappedEllipses, 3, 1e-5,
         QStringLiteral("Ellipse mit vertauschten Halbachsen gedreht")},
        {"torus with negative major radius", BRepPrimAPI_MakeTorus(0.02, 0.005).Shape(),
         XtVariant::negativeTori, 1, 1e-6, QStringLiteral("Zitronen-Torus angenähert")},
        {"offset surface", cylinder, XtVariant::offsetCylinders, 3, 1e-6, QString()},
        {"swept surface", sheetOf(cylinder, curved), XtVariant::sweptCylinders, 1, 1e-6, QString()},
        {"spun surface", sheetOf(BRepPrimAPI_MakeCone(0.01, 0.004, 0.02).Shape(), curved),
         XtVariant::spunCones, 1, 1e-6, QString()},
        {"rolling-ball blend", filletedBox(), XtVariant::blendedFillets, 7, 1e-5,
         QStringLiteral("Rollkugel-Verrundungen über Kreisquerschnitte angenähert")},
        {"intersection curve", halfCylinder, XtVariant::intersectionCurves, 5, 1e-4,
         QStringLiteral("Schnittkurven über Stützpunkte angenähert")},
        // One vertex on a closed curve that is not periodic: both ends project to it.
        {"closed B-spline edges", nurbsCylinder, XtVariant::plain, 3, 1e-5, QString()},
        {"closed intersection curves", cylinder, XtVariant::intersectionCurves, 3, 1e-4,
         QStringLiteral("Schnittkurven über Stützpunkte angenähert")},
        {"surface-parameter curve", halfCylinder, XtVariant::surfaceCurves, 5, 1e-4,
         QStringLiteral("Flächenparameter-Kurven angenähert")},
        {"trimmed curve running backwards twice", halfCylinder, XtVariant::trimmedCurves, 5, 1e-6,
         QString()},
        {"front-face chain", sheetOf(box, belowTop), XtVariant::frontFaces, 5, 1e-6, QString()},
        {"edge curve on the halfedge", box, XtVariant::halfedgeCurves, 6, 1e-4,
         QStringLiteral("Tolerante Kanten aus Flächenkurven aufgebaut; Einzelne Kanten mit "
                        "erhöhter Toleranz")},
        {"vertices off their curves", cylinder, XtVariant::displacedVertices, 3, 1e-4,
         QStringLiteral("Einzelne Kanten mit erhöhter Toleranz")},
        {"curves short of their vertices", box, XtVariant::shortenedCurves, 6, 1e-6,
         QStringLiteral("Einzelne Kanten neu angepasst")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString message;
        const auto bodies = io::readParasolid(fixtures::xtFromShape(c.shape, c.variant), &message);
        EXPECT_EQ(message.toStdString(), c.message.toStdString());
        ASSERT_EQ(bodies.size(), 1u);
        const TopoDS_Shape& shape = bodies[0].shape;
        EXPECT_EQ(test::countOf(shape, TopAbs_FACE), c.faces);
        const double volume = signedVolume(c.shape) * 1e9;
        EXPECT_NEAR(signedVolume(shape), volume, c.tolerance * volume);
        const double area = preciseArea(c.shape) * 1e6;
        EXPECT_NEAR(preciseArea(shape), area, c.tolerance * area);
        std::array<double, 6> box = test::extent(c.shape);
        for (double& bound : box)
            bound *= 1000;
        EXPECT_TRUE(test::extentIs(shape, box, 0.02));
        if (c.variant == XtVariant::displacedVertices) {
            // 1.5 times the distance of a corner moved by 1e-5 along each axis from its edges.
            EXPECT_GE(largestVertexTolerance(shape), 1.5 * std::sqrt(2.0) * 1e-5 * 1000 * 0.999);
        }
    }
}

// A face on a surface the reader does not convert is left out and counted; the rest of the
// solid stays.
TEST(ParasolidFallbackTest, UnsupportedSurfaceDropsItsFaceOnly)
{
    QString message;
    const auto bodies
        = io::readParasolid(fixtures::xtFromShape(BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape(),
                                                  XtVariant::unsupportedSurface),
                            &message);
    EXPECT_EQ(
        message,
        QStringLiteral("1 von 6 Flächen ausgelassen (1× Flächentyp PE_SURF nicht unterstützt)"));
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(test::countOf(bodies[0].shape, TopAbs_FACE), 5);
    EXPECT_NEAR(test::areaOf(bodies[0].shape), 500.0, 1e-6);
}

// The fallbacks that give up on a surface or curve: a blend around a spine without
// ends, and an intersection curve of too few points. Each face on them is left
// out and counted with the reason, the note of the approximation tried stays, and
// the other faces keep their area.
TEST(ParasolidFallbackTest, SurfacesAndCurvesThatCannotBeBuiltDropTheirFacesOnly)
{
    const TopoDS_Shape halfCylinder
        = BRepPrimAPI_MakeCylinder(0.01, 0.02, std::numbers::pi).Shape();
    const TopoDS_Shape fillet = filletedBox();
    const struct {
        const char* name;
        TopoDS_Shape shape;
        XtVariant variant;
        int faces; // kept
        std::function<bool(const TopoDS_Face&)> kept;
        const char* message;
    } cases[] = {
        {"blend around an unbounded line", fillet, XtVariant::unboundedBlendSpines, 6,
         [](const TopoDS_Face& face) { return !curved(face); },
         "1 von 7 Flächen ausgelassen (1× Verrundung mit unbegrenzter Leitkurve)"},
        {"intersection curves of one point", halfCylinder, XtVariant::sparseIntersectionCurves, 2,
         // Only the two faces of the cut lie on lines alone.
         [](const TopoDS_Face& face) {
             GProp_GProps props;
             BRepGProp::SurfaceProperties(face, props);
             return !curved(face) && std::abs(props.CentreOfMass().Z() - 0.01) < 1e-9;
         },
         "Schnittkurven über Stützpunkte angenähert; 3 von 5 Flächen ausgelassen (3× Schnittkurve "
         "mit zu wenigen Punkten)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString message;
        const auto bodies = io::readParasolid(fixtures::xtFromShape(c.shape, c.variant), &message);
        EXPECT_EQ(message.toStdString(), c.message);
        ASSERT_EQ(bodies.size(), 1u);
        EXPECT_EQ(test::countOf(bodies[0].shape, TopAbs_FACE), c.faces);
        const double area = preciseArea(sheetOf(c.shape, c.kept)) * 1e6;
        EXPECT_NEAR(preciseArea(bodies[0].shape), area, 1e-6 * area);
    }
}

// The same fallbacks node by node, with what each conversion gives: a blend
// samples its spine between the bounds the file gives (a trimmed line has them,
// a whole line none), and an intersection curve needs two points more than
// 1e-10 apart, its note added even when it fails.
TEST(ParasolidFallbackTest, BlendSpinesAndIntersectionPointsReachTheirFallbacks)
{
    using fixtures::XtValues;
    const double r = 0.002;
    const auto point = [](const std::string& type, std::vector<double> at) {
        return XtValues{{"type", {{}, {}, type}}, {"hvec", {{}, std::move(at), {}}}};
    };
    const io::XtModel model = io::parseXtBinary(
        fixtures::XtFileWriter()
            .node(50, 20, {{"normal", {{}, {1, 0, 0}, {}}}, {"x_axis", {{}, {0, 1, 0}, {}}}})
            .node(50, 21, {{"normal", {{}, {0, 1, 0}, {}}}, {"x_axis", {{}, {0, 0, 1}, {}}}})
            .node(30, 30, {{"pvec", {{}, {r, r, 0}, {}}}, {"direction", {{}, {0, 0, 1}, {}}}})
            .node(133, 31,
                  {{"basis_curve", {{30}, {}, {}}},
                   {"parm_1", {{}, {0.01}, {}}},
                   {"parm_2", {{}, {0}, {}}}})
            .node(56, 40,
                  {{"spine", {{30}, {}, {}}},
                   {"surface", {{20, 21}, {}, {}}},
                   {"range", {{}, {r, r}, {}}}})
            .node(56, 41,
                  {{"spine", {{31}, {}, {}}},
                   {"surface", {{20, 21}, {}, {}}},
                   {"range", {{}, {r, r}, {}}}})
            .node(38, 50,
                  {{"chart", {{51}, {}, {}}}, {"start", {{52}, {}, {}}}, {"end", {{53}, {}, {}}}})
            .node(40, 51, {{"hvec", {{}, {1, 2, 3}, {}}}})
            .node(41, 52, point("L", {1 + 1e-11, 2, 3}))
            .node(41, 53, point("T", {1, 2 - 1e-11, 3}))
            .node(38, 54, {{"chart", {{55}, {}, {}}}})
            .node(40, 55, {{"hvec", {{}, {1, 2, 3, 1, 2, 3 + 5e-11}, {}}}})
            .node(38, 56, {{"chart", {{57}, {}, {}}}})
            .node(40, 57, {})
            .node(38, 58, {{"chart", {{59}, {}, {}}}})
            .node(40, 59, {{"hvec", {{}, {1, 2, 3, 1, 2, 4}, {}}}})
            .finish());
    const QString blendNote
        = QStringLiteral("Rollkugel-Verrundungen über Kreisquerschnitte angenähert");
    const QString pointsNote = QStringLiteral("Schnittkurven über Stützpunkte angenähert");
    const struct {
        const char* name;
        quint32 node;
        bool surface;
        const char* failure; // empty: converted
        QString note;
    } cases[] = {
        {"blend around a whole line", 40, true, "Verrundung mit unbegrenzter Leitkurve", {}},
        {"blend around a trimmed line", 41, true, "", blendNote},
        {"one chart point, limits repeating it", 50, false, "Schnittkurve mit zu wenigen Punkten",
         pointsNote},
        {"two chart points 5e-11 apart", 54, false, "Schnittkurve mit zu wenigen Punkten",
         pointsNote},
        {"an empty chart", 56, false, "Schnittkurve mit zu wenigen Punkten", pointsNote},
        {"two chart points a millimetre apart", 58, false, "", pointsNote},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        io::XtReadContext context;
        context.model = &model;
        const io::XtNode& node = model.nodes.at(c.node);
        Handle(Geom_Surface) surface;
        Handle(Geom_Curve) curve;
        std::string failure;
        try {
            bool sameSense = true;
            bool approximated = false;
            if (c.surface)
                surface = io::makeXtSurface(context, node);
            else
                curve = io::makeXtCurve(context, node, sameSense, approximated);
        } catch (const io::XtError& error) {
            failure = error.what();
        }
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(context.warnings.join(QStringLiteral("; ")), c.note);
        if (!surface.IsNull()) {
            // Every point of the blend lies on the rolling ball's circle around the
            // spine, between the spine's bounds.
            double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
            surface->Bounds(u0, u1, v0, v1);
            for (const double su : {0.0, 0.3, 0.5, 1.0}) {
                for (const double sv : {0.0, 0.5, 0.8, 1.0}) {
                    const gp_Pnt p = surface->Value(u0 + su * (u1 - u0), v0 + sv * (v1 - v0));
                    EXPECT_NEAR(std::hypot(p.X() - r, p.Y() - r), r, 1e-3 * r);
                    EXPECT_GE(p.Z(), -1e-9);
                    EXPECT_LE(p.Z(), 0.01 + 1e-9);
                }
            }
        }
        if (!curve.IsNull()) {
            EXPECT_NEAR(curve->Value(curve->FirstParameter()).Distance(gp_Pnt(1, 2, 3)), 0.0,
                        1e-12);
            EXPECT_NEAR(curve->Value(curve->LastParameter()).Distance(gp_Pnt(1, 2, 4)), 0.0, 1e-12);
        }
    }
}
