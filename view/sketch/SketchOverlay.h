#pragma once

#include "sketch/Regions.h"
#include "view/sketch/SketchEditor.h"

#include <QWidget>

#include <gp_Ax3.hxx>

#include <vector>

class QPainter;

namespace qor::app {

// Everything one paint of the sketch reads; built anew for every frame.
struct SketchPicture {
    const sketch::Sketch& sketch;
    const SketchMapper& mapper;
    const SketchEditState& state;
    gp_Ax3 plane;
    // Closed regions of the sketch on its plane; null paints none.
    const std::vector<sketch::ProfileRegion>* regions = nullptr;
};

// Paints in this order: regions, curves, points, origin, box selection; dimensions; constraint
// glyphs; the shape in progress with its snap mark and measurement tag. Widget pixels.
void paintSketch(QPainter& painter, const SketchPicture& picture);

// "50 mm  ·  53.1°" of the line tool, the size of a rectangle, the diameter of a circle;
// empty for tools without a tag or with no clicked point.
QString measurementText(const SketchEditState& state);

// A transparent widget over the whole viewer on which the editor paints; takes no mouse input.
class SketchOverlay : public QWidget {
public:
    SketchOverlay(SketchEditor& editor, QWidget* viewer);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SketchEditor& editor_;
};

} // namespace qor::app
