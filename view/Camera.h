#pragma once

#include <Graphic3d_Camera.hxx>
#include <Graphic3d_ClipPlane.hxx>
#include <Quantity_Color.hxx>
#include <gp_Ax3.hxx>
#include <gp_Lin.hxx>
#include <gp_Pln.hxx>
#include <gp_Pnt.hxx>

#include <QColor>
#include <QJsonObject>
#include <optional>

// Camera arithmetic of the 3D view that needs no window: saved camera states, orbiting,
// looking straight at a plane, picking rays and the section plane.
namespace qor::app {

constexpr double lookAtMinDistance = 50.0;
// Width of the field shown around the origin when there is nothing to fit.
constexpr double emptyViewSize = 260.0;
constexpr double fitAllMargin = 0.12;
// Logical pixels at the bottom of the view covered by the floating view bar and its gap.
constexpr double fitBarReserve = 80.0;

struct CameraState {
    gp_Pnt eye;
    gp_Pnt center;
    gp_Dir up;
    double scale = 0.0; // not above 0: keep the camera's scale
    bool perspective = false;
};

CameraState readCameraState(const Graphic3d_Camera& camera);
void applyCameraState(Graphic3d_Camera& camera, const CameraState& state);
// {"eye", "center", "up", "scale", "perspective"}
QJsonObject cameraStateToJson(const CameraState& state);
// Empty for a state whose up vector is missing, zero or along the line of sight, or whose eye
// and centre coincide.
std::optional<CameraState> cameraStateFromJson(const QJsonObject& json);

// Turns the camera about the pivot: dx about the up direction, dy about the side direction,
// pi/400 radians per pixel.
void orbitCamera(Graphic3d_Camera& camera, const gp_Pnt& pivot, double dx, double dy);
// Turns the camera about its viewing direction through its centre.
void rollCamera(Graphic3d_Camera& camera, double degrees);
// Straight onto the plane of the frame, keeping the spot looked at and at least
// lookAtMinDistance away; the frame's Y direction points up.
void aimAtPlane(Graphic3d_Camera& camera, const gp_Ax3& frame);

// Empty when the ray misses the plane, runs parallel to it or lies in it.
std::optional<gp_Pnt> rayPlaneHit(const gp_Lin& ray, const gp_Pln& plane);

// A capped clip plane with a diagonal hatch in the capping colour.
Handle(Graphic3d_ClipPlane) makeSectionPlane(const gp_Pln& plane, const Quantity_Color& capping);

// Theme colours are sRGB.
Quantity_Color srgbColor(const QColor& color);

} // namespace qor::app
