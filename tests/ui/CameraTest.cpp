#include "view/Camera.h"

#include <QJsonArray>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::app;

namespace {

constexpr double eps = 1e-9;

Handle(Graphic3d_Camera) cameraAt(const gp_Pnt& eye, const gp_Pnt& center, const gp_Dir& up)
{
    Handle(Graphic3d_Camera) camera = new Graphic3d_Camera();
    camera->SetEyeAndCenter(eye, center);
    camera->SetUp(up);
    return camera;
}

TEST(CameraTest, StateRoundTripsThroughJson)
{
    Handle(Graphic3d_Camera) source = cameraAt(gp_Pnt(10, -20, 30), gp_Pnt(1, 2, 3), gp::DZ());
    source->OrthogonalizeUp();
    source->SetProjectionType(Graphic3d_Camera::Projection_Perspective);
    source->SetScale(42.5);
    const QJsonObject json = cameraStateToJson(readCameraState(*source));

    Handle(Graphic3d_Camera) target = cameraAt(gp_Pnt(0, 0, 100), gp::Origin(), gp::DY());
    const std::optional<CameraState> state = cameraStateFromJson(json);
    ASSERT_TRUE(state);
    applyCameraState(*target, *state);
    EXPECT_LT(target->Eye().Distance(source->Eye()), eps);
    EXPECT_LT(target->Center().Distance(source->Center()), eps);
    EXPECT_TRUE(target->Up().IsEqual(source->Up(), eps));
    EXPECT_NEAR(target->Scale(), source->Scale(), 1e-7);
    EXPECT_EQ(target->ProjectionType(), Graphic3d_Camera::Projection_Perspective);
}

TEST(CameraTest, UnusableStatesAreRejectedAndBadScalesKept)
{
    const QJsonArray origin{0, 0, 0};
    const QJsonArray eye{0, 0, 10};
    const QJsonArray up{0, 1, 0};
    const QJsonObject rejected[] = {
        {{"eye", eye}, {"center", origin}},
        {{"eye", eye}, {"center", origin}, {"up", origin}},
        {{"eye", eye}, {"center", origin}, {"up", "nach oben"}},
        {{"eye", eye}, {"center", eye}, {"up", up}},
        {{"eye", eye}, {"center", origin}, {"up", QJsonArray{0, 0, -2}}},
    };
    for (const QJsonObject& json : rejected)
        EXPECT_FALSE(cameraStateFromJson(json));

    for (const QJsonValue scale : {QJsonValue(0), QJsonValue(-3), QJsonValue("7")}) {
        Handle(Graphic3d_Camera) camera = cameraAt(gp_Pnt(0, 0, 5), gp::Origin(), gp::DY());
        camera->SetScale(12.0);
        const auto state
            = cameraStateFromJson({{"eye", eye}, {"center", origin}, {"up", up}, {"scale", scale}});
        ASSERT_TRUE(state);
        applyCameraState(*camera, *state);
        EXPECT_NEAR(camera->Scale(), 12.0, eps);
        EXPECT_EQ(camera->ProjectionType(), Graphic3d_Camera::Projection_Orthographic);
    }
    // Short arrays read their missing elements as 0.
    const auto shortUp
        = cameraStateFromJson({{"eye", eye}, {"center", origin}, {"up", QJsonArray{0, 2}}});
    ASSERT_TRUE(shortUp);
    EXPECT_TRUE(shortUp->up.IsEqual(gp::DY(), eps));
}

TEST(CameraTest, LookAtKeepsTheSpotAndAMinimumDistance)
{
    const gp_Ax3 frame(gp_Pnt(0, 0, 5), gp::DZ(), gp::DX());
    for (double distance : {10.0, 200.0}) {
        Handle(Graphic3d_Camera) camera
            = cameraAt(gp_Pnt(3, 4, 9).Translated(gp_Vec(1, 1, 1).Normalized() * distance),
                       gp_Pnt(3, 4, 9), gp::DZ());
        aimAtPlane(*camera, frame);
        EXPECT_LT(camera->Center().Distance(gp_Pnt(3, 4, 5)), eps);
        EXPECT_NEAR(camera->Distance(), std::max(distance, lookAtMinDistance), 1e-7);
        EXPECT_TRUE(camera->Direction().IsEqual(-gp::DZ(), eps));
        EXPECT_TRUE(camera->Up().IsEqual(frame.YDirection(), eps));
    }
}

TEST(CameraTest, OrbitAndRollTurnByTheirRates)
{
    Handle(Graphic3d_Camera) camera = cameraAt(gp_Pnt(0, -100, 0), gp::Origin(), gp::DZ());
    // One arrow-key step, 100/3 px, turns 15 degrees about the up direction.
    orbitCamera(*camera, gp::Origin(), 100.0 / 3.0, 0.0);
    EXPECT_NEAR(camera->Direction().Angle(gp::DY()), std::numbers::pi / 12, 1e-9);
    EXPECT_NEAR(camera->Eye().Distance(gp::Origin()), 100.0, 1e-9);
    EXPECT_TRUE(camera->Up().IsEqual(gp::DZ(), eps));
    orbitCamera(*camera, gp::Origin(), 0.0, 200.0);
    EXPECT_NEAR(camera->Up().Angle(gp::DZ()), std::numbers::pi / 2, 1e-9);

    Handle(Graphic3d_Camera) rolled = cameraAt(gp_Pnt(0, 0, 50), gp::Origin(), gp::DY());
    rollCamera(*rolled, 90.0);
    EXPECT_TRUE(rolled->Up().IsParallel(gp::DX(), 1e-9));
    EXPECT_LT(rolled->Eye().Distance(gp_Pnt(0, 0, 50)), eps);
}

TEST(CameraTest, RayPlaneHitMissesParallelAndInPlaneRays)
{
    const gp_Pln ground(gp::Origin(), gp::DZ());
    const auto hit = rayPlaneHit(gp_Lin(gp_Pnt(1, 2, 10), gp_Dir(0, 0, -1)), ground);
    ASSERT_TRUE(hit);
    EXPECT_LT(hit->Distance(gp_Pnt(1, 2, 0)), eps);
    EXPECT_FALSE(rayPlaneHit(gp_Lin(gp_Pnt(0, 0, 1), gp::DX()), ground));
    EXPECT_FALSE(rayPlaneHit(gp_Lin(gp::Origin(), gp::DY()), ground));
}

} // namespace
