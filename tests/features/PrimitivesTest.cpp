#include "TestPart.h"

#include "features/Primitives.h"
#include "model/References.h"
#include "model/ShapeSignature.h"

#include <BRepAdaptor_Surface.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <gtest/gtest.h>

using namespace qor::model;

namespace {

QJsonObject origin(int id)
{
    return {{"kind", "origin"}, {"id", id}};
}

// The face of the body whose outward normal is +Z and that lies highest.
TopoDS_Shape topFace(const TopoDS_Shape& body)
{
    TopoDS_Shape best;
    double bestZ = -1e300;
    for (TopExp_Explorer it(body, TopAbs_FACE); it.More(); it.Next()) {
        const TopoDS_Face face = TopoDS::Face(it.Current());
        const gp_Ax3 frame = facePlane(face);
        if (frame.Direction().IsParallel(gp::DZ(), 1e-9) && frame.Direction().Z() > 0
            && frame.Location().Z() > bestZ) {
            bestZ = frame.Location().Z();
            best = face;
        }
    }
    return best;
}

} // namespace

TEST(Box, StandsCentredOnItsPlane)
{
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("box", {}, &f), QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_TRUE(boxIs(part.box(f->id * 100), -25, -15, 0, 25, 15, 20));
    EXPECT_NEAR(part.volume(f->id * 100), 50.0 * 30.0 * 20.0, 1e-6);

    // XZ: normal -Y, X direction +X, so the frame's Y direction is +Z.
    ASSERT_EQ(part.run("box", {{"plane", origin(-2)}, {"x", "10"}, {"y", "-5"}}, &f), QString());
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 10 - 25, -20, -5 - 15, 10 + 25, 0, -5 + 15));

    ASSERT_EQ(part.run("box",
                       {{"plane", origin(-3)}, {"length", "4"}, {"width", "2"}, {"height", "1"}},
                       &f),
              QString());
    EXPECT_TRUE(boxIs(part.box(f->id * 100), 0, -2, -1, 1, 2, 1));
}

TEST(Box, PrimitiveFrameFollowsThePlane)
{
    TestPart part;
    Feature* f = part.doc.addFeature("box", {{"plane", origin(-2)}, {"x", "3"}, {"y", "4"}});
    ExecContext context{part.doc, *f, part.state};
    const gp_Ax3 frame = primitiveFrame(context);
    EXPECT_TRUE(frame.Location().IsEqual(gp_Pnt(3, 0, 4), 1e-12));
    EXPECT_TRUE(frame.Direction().IsEqual(gp_Dir(0, -1, 0), 1e-12));
    EXPECT_TRUE(frame.XDirection().IsEqual(gp::DX(), 1e-12));
    EXPECT_TRUE(frame.Direct());
}

TEST(Box, OnAFaceAndWithBooleans)
{
    TestPart part;
    Feature* base = nullptr;
    ASSERT_EQ(part.run("box", {}, &base), QString());
    const int bodyId = base->id * 100;

    // A face reference: the frame of a planar face has its origin at the foot of
    // the perpendicular from the model origin, here (0, 0, 20).
    const TopoDS_Shape top = topFace(part.state.bodies.at(bodyId).shape);
    ASSERT_FALSE(top.IsNull());
    Feature* onFace = nullptr;
    ASSERT_EQ(part.run("box",
                       {{"plane", faceRef(bodyId, top)},
                        {"length", "10"},
                        {"width", "10"},
                        {"height", "5"},
                        {"op", "join"}},
                       &onFace),
              QString());
    ASSERT_EQ(part.state.bodies.size(), 1u);
    EXPECT_TRUE(boxIs(part.box(bodyId), -25, -15, 0, 25, 15, 25));
    EXPECT_NEAR(part.volume(bodyId), 30000.0 + 500.0, 1e-6);

    Feature* cut = nullptr;
    ASSERT_EQ(
        part.run("box", {{"length", "10"}, {"width", "10"}, {"height", "5"}, {"op", "cut"}}, &cut),
        QString());
    EXPECT_NEAR(part.volume(bodyId), 30000.0, 1e-6);
}

TEST(Box, SizesMustBePositive)
{
    TestPart part;
    // The sizes are checked before the plane, which here names nothing.
    const QJsonObject missingPlane{{"kind", "feature"}, {"id", 999}};
    EXPECT_EQ(part.run("box", {{"height", "0"}, {"plane", missingPlane}}),
              QStringLiteral("Maße müssen größer als 0 sein"));
    EXPECT_EQ(part.run("box", {{"length", "-1"}}), QStringLiteral("Maße müssen größer als 0 sein"));
    EXPECT_EQ(part.run("box", {{"plane", missingPlane}}),
              QStringLiteral("Bezugsebene existiert nicht mehr"));
    EXPECT_EQ(part.run("box", {{"width", "3 +"}}).left(7), QStringLiteral("width: "));
    EXPECT_TRUE(part.state.bodies.empty());
}
