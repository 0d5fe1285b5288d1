#pragma once

#include "view/sketch/SketchMapper.h"

#include <gp_Ax3.hxx>

namespace qor::app {

class Viewer;

// The mapping between the sketch plane and the pixels of the 3D view under its current camera.
class ViewerSketchMapper : public SketchMapper {
public:
    ViewerSketchMapper(const Viewer& viewer, const gp_Ax3& plane);

    std::optional<sketch::Vec2> toSketch(QPoint pixel) const override;
    // Exact, not rounded to whole pixels, so that lines and labels do not jitter while orbiting.
    QPointF toPixel(double u, double v) const override;
    using SketchMapper::toPixel;

private:
    const Viewer& viewer_;
    gp_Ax3 plane_;
};

} // namespace qor::app
