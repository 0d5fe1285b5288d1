#include "view/sketch/ViewerSketchMapper.h"

#include "sketch/Plane.h"
#include "view/Viewer.h"

#include <gp_Pln.hxx>

namespace qor::app {

ViewerSketchMapper::ViewerSketchMapper(const Viewer& viewer, const gp_Ax3& plane)
    : viewer_(viewer)
    , plane_(plane)
{
}

std::optional<sketch::Vec2> ViewerSketchMapper::toSketch(QPoint pixel) const
{
    gp_Pnt hit;
    if (!viewer_.rayToPlane(pixel, gp_Pln(plane_), hit))
        return std::nullopt;
    return sketch::toPlane(plane_, hit);
}

QPointF ViewerSketchMapper::toPixel(double u, double v) const
{
    // The camera projects into normalised device coordinates (-1..1, y up).
    const gp_Pnt ndc = viewer_.view()->Camera()->Project(sketch::toWorld(plane_, u, v));
    return {(ndc.X() + 1.0) * 0.5 * viewer_.width(), (1.0 - ndc.Y()) * 0.5 * viewer_.height()};
}

} // namespace qor::app
