#include "view/Camera.h"

#include <IntAna_IntConicQuad.hxx>
#include <gp_Ax1.hxx>
#include <gp_Trsf.hxx>

#include <QJsonArray>
#include <algorithm>
#include <numbers>

namespace qor::app {

namespace {

constexpr double orbitRadiansPerPixel = std::numbers::pi / 400.0;
constexpr double degenerate = 1e-9;

QJsonArray toArray(const gp_XYZ& v)
{
    return QJsonArray{v.X(), v.Y(), v.Z()};
}

// Missing elements and non-numbers read as 0.
gp_XYZ readVector(const QJsonValue& value)
{
    const QJsonArray array = value.toArray();
    const auto at = [&array](int i) { return array.at(i).toDouble(0.0); };
    return gp_XYZ(at(0), at(1), at(2));
}

} // namespace

CameraState readCameraState(const Graphic3d_Camera& camera)
{
    CameraState state;
    state.eye = camera.Eye();
    state.center = camera.Eye().Translated(gp_Vec(camera.Direction()) * camera.Distance());
    state.up = camera.Up();
    state.scale = camera.Scale();
    state.perspective = camera.ProjectionType() == Graphic3d_Camera::Projection_Perspective;
    return state;
}

void applyCameraState(Graphic3d_Camera& camera, const CameraState& state)
{
    camera.SetProjectionType(state.perspective ? Graphic3d_Camera::Projection_Perspective
                                               : Graphic3d_Camera::Projection_Orthographic);
    camera.SetEyeAndCenter(state.eye, state.center);
    camera.SetUp(state.up);
    if (state.scale > 0.0)
        camera.SetScale(state.scale);
}

QJsonObject cameraStateToJson(const CameraState& state)
{
    return QJsonObject{
        {QStringLiteral("eye"), toArray(state.eye.XYZ())},
        {QStringLiteral("center"), toArray(state.center.XYZ())},
        {QStringLiteral("up"), toArray(state.up.XYZ())},
        {QStringLiteral("scale"), state.scale},
        {QStringLiteral("perspective"), state.perspective},
    };
}

std::optional<CameraState> cameraStateFromJson(const QJsonObject& json)
{
    const gp_XYZ up = readVector(json.value(QStringLiteral("up")));
    const gp_Pnt eye(readVector(json.value(QStringLiteral("eye"))));
    const gp_Pnt center(readVector(json.value(QStringLiteral("center"))));
    if (up.Modulus() < degenerate || eye.Distance(center) < degenerate)
        return std::nullopt;
    // An up vector along the line of sight leaves the camera without a side direction:
    // orbiting it afterwards would throw.
    if (gp_Vec(eye, center).Crossed(gp_Vec(up)).Magnitude()
        < degenerate * eye.Distance(center) * up.Modulus())
        return std::nullopt;
    CameraState state;
    state.eye = eye;
    state.center = center;
    state.up = gp_Dir(up);
    state.scale = std::max(0.0, json.value(QStringLiteral("scale")).toDouble(0.0));
    state.perspective = json.value(QStringLiteral("perspective")).toBool(false);
    return state;
}

void orbitCamera(Graphic3d_Camera& camera, const gp_Pnt& pivot, double dx, double dy)
{
    const gp_Dir up = camera.Up();
    const gp_Dir side = camera.Direction().Crossed(up);
    gp_Trsf first;
    first.SetRotation(gp_Ax1(pivot, up), -dx * orbitRadiansPerPixel);
    gp_Trsf second;
    second.SetRotation(gp_Ax1(pivot, side), -dy * orbitRadiansPerPixel);
    camera.Transform(second * first);
}

void rollCamera(Graphic3d_Camera& camera, double degrees)
{
    gp_Trsf roll;
    roll.SetRotation(gp_Ax1(camera.Center(), camera.Direction()),
                     degrees * std::numbers::pi / 180.0);
    camera.Transform(roll);
}

void aimAtPlane(Graphic3d_Camera& camera, const gp_Ax3& frame)
{
    const gp_Vec normal(frame.Direction());
    const gp_Pnt center = camera.Center();
    const double height = gp_Vec(frame.Location(), center).Dot(normal);
    const gp_Pnt onPlane = center.Translated(normal * -height);
    const double distance = std::max(camera.Distance(), lookAtMinDistance);
    camera.SetEyeAndCenter(onPlane.Translated(normal * distance), onPlane);
    camera.SetUp(frame.YDirection());
}

std::optional<gp_Pnt> rayPlaneHit(const gp_Lin& ray, const gp_Pln& plane)
{
    IntAna_IntConicQuad hit(ray, plane, degenerate);
    if (!hit.IsDone() || hit.IsParallel() || hit.IsInQuadric() || hit.NbPoints() < 1)
        return std::nullopt;
    return hit.Point(1);
}

Handle(Graphic3d_ClipPlane) makeSectionPlane(const gp_Pln& plane, const Quantity_Color& capping)
{
    Handle(Graphic3d_ClipPlane) clip = new Graphic3d_ClipPlane(plane);
    clip->SetCapping(true);
    clip->SetCappingColor(capping);
    clip->SetUseObjectMaterial(false);
    clip->SetCappingHatch(Aspect_HS_DIAGONAL_45);
    clip->SetCappingHatchOn();
    return clip;
}

Quantity_Color srgbColor(const QColor& color)
{
    return Quantity_Color(color.redF(), color.greenF(), color.blueF(), Quantity_TOC_sRGB);
}

} // namespace qor::app
