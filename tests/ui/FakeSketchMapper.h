#pragma once

#include "view/sketch/SketchMapper.h"

// Looks straight down on the sketch: `scale` pixels per millimetre, the sketch origin at
// `origin`, v upwards. With `missesPlane` no pixel maps onto the plane.
struct FakeSketchMapper : qor::app::SketchMapper {
    double scale = 10.0;
    QPointF origin{400.0, 300.0};
    bool missesPlane = false;

    std::optional<qor::sketch::Vec2> toSketch(QPoint pixel) const override
    {
        if (missesPlane)
            return std::nullopt;
        return qor::sketch::Vec2{(pixel.x() - origin.x()) / scale,
                                 (origin.y() - pixel.y()) / scale};
    }
    QPointF toPixel(double u, double v) const override
    {
        return {origin.x() + u * scale, origin.y() - v * scale};
    }
    using qor::app::SketchMapper::toPixel;
};
