#include "TestPart.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;

namespace {

using std::numbers::pi;

QJsonObject draft(const QJsonArray& faces, const QString& angle)
{
    return {{"faces", faces}, {"angle", angle}};
}

QJsonObject offsetFaces(const QJsonArray& faces, const QString& distance)
{
    return {{"faces", faces}, {"distance", distance}};
}

QJsonObject deleteFaces(const QJsonArray& faces)
{
    return {{"faces", faces}};
}

// The wedge a face of a 20 mm cube gains or loses when tilted by deg about its
// bottom edge.
double wedge(double deg)
{
    return 0.5 * 20 * 20 * std::tan(deg * pi / 180.0) * 20;
}

// A 20 mm cube with a round hole of radius 3 along Z through its middle.
TopoDS_Shape holedCube(double x)
{
    const TopoDS_Shape cube = BRepPrimAPI_MakeBox(gp_Pnt(x - 10, -10, 0), 20, 20, 20).Shape();
    const TopoDS_Shape drill
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x, 0, -1), gp::DZ()), 3, 22).Shape();
    return BRepAlgoAPI_Cut(cube, drill).Shape();
}

} // namespace

TEST(Draft, TiltsSideFacesAboutTheNeutralPlane)
{
    const double lean = 20 * std::tan(3 * pi / 180);
    const double top = 20 - 2 * lean;
    struct Case {
        const char* name;
        std::vector<gp_Pnt> faces;
        QJsonObject more;
        double volume;
        double xMax;
    };
    const gp_Pnt right(10, 0, 10);
    const std::vector<Case> cases = {
        {"one side", {right}, {}, 8000.0 - wedge(3), 10},
        // Pulled the other way, the face leans outwards.
        {"flipped", {right}, {{"flip", true}}, 8000.0 + wedge(3), 10 + lean},
        // All four sides: a frustum of a square pyramid.
        {"four sides",
         {right, gp_Pnt(-10, 0, 10), gp_Pnt(0, 10, 10), gp_Pnt(0, -10, 10)},
         {},
         20.0 / 3 * (400 + top * top + 20 * top),
         10},
        // A neutral plane at half height tilts the face about its middle line:
        // the wedges above and below cancel.
        {"neutral at half height",
         {right},
         {{"neutral", TestPart::featureRef(99)}},
         8000.0,
         10 + lean / 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPart part;
        const int body = part.cube(20);
        part.state.planes[99] = gp_Ax3(gp_Pnt(0, 0, 10), gp::DZ(), gp::DX());
        QJsonArray faces;
        for (const gp_Pnt& p : c.faces)
            faces.append(part.faceAt(body, p));
        QJsonObject params = c.more;
        params["faces"] = faces;
        params["angle"] = "3 deg";
        ASSERT_EQ(part.run("draft", params), QString());
        EXPECT_NEAR(signedVolume(part.shape(body)), c.volume, 1e-6);
        if (c.faces.size() == 1)
            EXPECT_TRUE(extentIs(part.shape(body), {-10, -10, 0, c.xMax, 10, 20}));
    }
}

TEST(Draft, CylindersTwoBodiesAndRefusals)
{
    // The side of a cylinder becomes a cone.
    TestPart part;
    const int cyl = part.addBody(BRepPrimAPI_MakeCylinder(5, 10).Shape());
    ASSERT_EQ(part.run("draft", draft({part.faceAt(cyl, gp_Pnt(0, 0, 5))}, "3")), QString());
    const double r = 5 - 10 * std::tan(3 * pi / 180);
    EXPECT_NEAR(part.volume(cyl), pi * 10 / 3 * (25 + 5 * r + r * r), 1e-6);

    // Faces of two bodies: each body drafted on its own.
    const int left = part.cube(20);
    const int right = part.cube(20, 50);
    ASSERT_EQ(part.run("draft", draft({part.faceAt(right, gp_Pnt(60, 0, 10)),
                                       part.faceAt(left, gp_Pnt(10, 0, 10))},
                                      "3")),
              QString());
    EXPECT_NEAR(part.volume(left), 8000.0 - wedge(3), 1e-6);
    EXPECT_NEAR(part.volume(right), 8000.0 - wedge(3), 1e-6);
    EXPECT_TRUE(extentIs(part.shape(right), {40, -10, 0, 60, 10, 20}));
    EXPECT_EQ(part.state.bodies.size(), 3u);

    // A face parallel to the neutral plane cannot be tilted about it.
    EXPECT_EQ(part.run("draft", draft({part.faceAt(left, gp_Pnt(0, 0, 0))}, "3")),
              QStringLiteral("Formschräge für eine Fläche nicht möglich"));
    EXPECT_EQ(part.run("draft", draft({}, "3")), QStringLiteral("Flächen auswählen"));
    EXPECT_NEAR(part.volume(left), 8000.0 - wedge(3), 1e-6);
}

TEST(OffsetFaces, PlanarFacesGrowAndShrinkTheBody)
{
    TestPart part;
    const int body = part.cube(10);
    const gp_Pnt top(0, 0, 10);
    ASSERT_EQ(part.run("offset_faces", offsetFaces({part.faceAt(body, top)}, "5 mm")), QString());
    EXPECT_NEAR(part.volume(body), 1500.0, 1e-6);
    EXPECT_GT(signedVolume(part.shape(body)), 0.0);
    EXPECT_TRUE(extentIs(part.shape(body), {-5, -5, 0, 5, 5, 15}));
    EXPECT_EQ(countOf(part.state.bodies.at(body).shape, TopAbs_FACE), 6);

    ASSERT_EQ(part.run("offset_faces", offsetFaces({part.faceAt(body, gp_Pnt(0, 0, 15))}, "-10")),
              QString());
    EXPECT_NEAR(part.volume(body), 500.0, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(body), {-5, -5, 0, 5, 5, 5}));

    // The bottom face is reversed on its plane; it still moves outwards.
    ASSERT_EQ(part.run("offset_faces", offsetFaces({part.faceAt(body, gp_Pnt(0, 0, 0))}, "5")),
              QString());
    EXPECT_NEAR(signedVolume(part.shape(body)), 1000.0, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(body), {-5, -5, -5, 5, 5, 5}));

    EXPECT_EQ(part.run("offset_faces", offsetFaces({part.faceAt(body, gp_Pnt(0, 0, 5))}, "0")),
              QStringLiteral("Abstand darf nicht 0 sein"));
    EXPECT_EQ(part.run("offset_faces", offsetFaces({}, "5")),
              QStringLiteral("Flächen zum Versetzen auswählen"));
}

TEST(OffsetFaces, EachBodyMovesOnlyItsOwnFaces)
{
    TestPart part;
    const int left = part.cube(10);
    const int right = part.cube(10, 50);
    ASSERT_EQ(part.run("offset_faces", offsetFaces({part.faceAt(left, gp_Pnt(0, 0, 10)),
                                                    part.faceAt(right, gp_Pnt(55, 0, 5))},
                                                   "5")),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 2u);
    EXPECT_NEAR(part.volume(left), 1500.0, 1e-6);
    EXPECT_NEAR(part.volume(right), 1500.0, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(left), {-5, -5, 0, 5, 5, 15}));
    EXPECT_TRUE(extentIs(part.shape(right), {45, -5, 0, 60, 5, 10}));
    EXPECT_EQ(countOf(part.state.bodies.at(left).shape, TopAbs_SOLID), 1);
}

TEST(OffsetFaces, CurvedFacesUseTheOffsetAlgorithm)
{
    TestPart part;
    const int cyl = part.addBody(BRepPrimAPI_MakeCylinder(5, 10).Shape());
    const gp_Pnt side(0, 0, 5);
    ASSERT_EQ(part.run("offset_faces", offsetFaces({part.faceAt(cyl, side)}, "2")), QString());
    EXPECT_NEAR(signedVolume(part.shape(cyl)), pi * 49 * 10, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(cyl), {-7, -7, 0, 7, 7, 10}));

    ASSERT_EQ(part.run("offset_faces", offsetFaces({part.faceAt(cyl, side)}, "-4")), QString());
    EXPECT_NEAR(signedVolume(part.shape(cyl)), pi * 9 * 10, 1e-6);

    EXPECT_EQ(
        part.run("offset_faces", offsetFaces({part.faceAt(cyl, side)}, "-4")),
        QStringLiteral("Fläche versetzen nicht möglich – Abstand zu groß für die Nachbarflächen?"));
    EXPECT_NEAR(signedVolume(part.shape(cyl)), pi * 9 * 10, 1e-6);
}

TEST(DeleteFaces, HolesCloseAndImpossibleGapsAreRefused)
{
    TestPart part;
    const int holed = part.addBody(holedCube(0));
    ASSERT_NEAR(part.volume(holed), 8000.0 - pi * 9 * 20, 1e-6);
    ASSERT_EQ(part.run("delete_faces", deleteFaces({part.faceAt(holed, gp_Pnt(0, 0, 10))})),
              QString());
    EXPECT_NEAR(signedVolume(part.shape(holed)), 8000.0, 1e-6);
    EXPECT_EQ(countOf(part.state.bodies.at(holed).shape, TopAbs_FACE), 6);

    // Two bodies, each closed on its own.
    const int a = part.addBody(holedCube(50));
    const int b = part.addBody(holedCube(100));
    ASSERT_EQ(part.run("delete_faces", deleteFaces({part.faceAt(b, gp_Pnt(100, 0, 10)),
                                                    part.faceAt(a, gp_Pnt(50, 0, 10))})),
              QString());
    EXPECT_NEAR(part.volume(a), 8000.0, 1e-6);
    EXPECT_NEAR(part.volume(b), 8000.0, 1e-6);
    EXPECT_TRUE(extentIs(part.shape(b), {90, -10, 0, 110, 10, 20}));

    // The top of a block: its neighbours cannot close the gap, and the kernel only
    // warns and hands the block back.
    EXPECT_EQ(part.run("delete_faces", deleteFaces({part.faceAt(holed, gp_Pnt(0, 0, 20))})),
              QStringLiteral("Flächen können nicht gelöscht werden – die Nachbarflächen lassen "
                             "sich nicht schließen"));
    EXPECT_EQ(part.run("delete_faces", deleteFaces({})),
              QStringLiteral("Zu löschende Flächen auswählen (z. B. Bohrungswand, Verrundung)"));
}
