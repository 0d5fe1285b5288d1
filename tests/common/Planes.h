#pragma once

// Sketch planes for the sketch and model tests: the model's XY plane, a tilted
// one, and left-handed frames (X x Y = -normal) that must draw the same (u, v).

#include <gp_Ax3.hxx>

#include <vector>

namespace qor::test {

inline gp_Ax3 xyPlane()
{
    return gp_Ax3(gp::Origin(), gp::DZ(), gp::DX());
}

inline gp_Ax3 tiltedPlane()
{
    return gp_Ax3(gp_Pnt(10, -5, 3), gp_Dir(1, 1, 1), gp_Dir(1, -1, 0));
}

inline gp_Ax3 leftHandedPlane()
{
    gp_Ax3 plane(gp_Pnt(2, 3, 4), gp_Dir(0, 0, 1), gp_Dir(1, 0, 0));
    plane.ZReverse();
    return plane;
}

inline gp_Ax3 leftHandedTiltedPlane()
{
    gp_Ax3 plane = tiltedPlane();
    plane.YReverse();
    return plane;
}

inline std::vector<gp_Ax3> allPlanes()
{
    return {xyPlane(), tiltedPlane(), leftHandedPlane(), leftHandedTiltedPlane()};
}

} // namespace qor::test
