#pragma once

#include "drawing/DrawingSheet.h"

#include <QByteArray>
#include <QString>

#include <gp_Pnt2d.hxx>

#include <vector>

namespace qor::model {
class Document;
}

namespace qor::app {
class ProjectionCache;
}

namespace qor::io {

// Appends an ASCII DXF R12 file (AC1009, millimetres) to data: header, the line
// type and layer tables of a drawing sheet, then entities. Numbers carry six
// decimals, z is always 0, every group code and value ends with one line feed.
class DxfWriter {
public:
    QByteArray data;

    // Empties data and writes the header, the tables and the start of the entities.
    void begin();
    void layer(const QString& name, int colour, const QString& lineType);

    void line(const QString& layer, double x1, double y1, double x2, double y2);
    void circle(const QString& layer, double cx, double cy, double radius);
    // Counter-clockwise from startDeg to endDeg.
    void arc(const QString& layer, double cx, double cy, double radius, double startDeg,
             double endDeg);
    // Open; nothing is written for fewer than two points.
    void polyline(const std::vector<gp_Pnt2d>& points, const QString& layer);
    // (x, y) is the left end of the baseline.
    void text(const QString& text, const QString& layer, double x, double y, double height,
              double rotationDeg);

    // Ends the entities section and the file.
    void finish();

private:
    void pair(int code, const QByteArray& value);
    void string(int code, const QString& value);
    void number(int code, double value);
    void point(double x, double y);
};

// A DXF string value: control characters (a line break would split the group
// code/value pairs) become blanks, the diameter sign its control code "%%c", then
// Latin-1 with "?" for anything outside it.
QByteArray dxfString(const QString& text);

} // namespace qor::io

namespace qor::app {

// The sheet as DXF: frame, title block outline and texts, the views' lines on
// their layers, thread callouts and every dimension the sheet draws.
QByteArray drawingDxf(ProjectionCache& cache, const qor::model::Document& document,
                      const Drawing& sheet);

} // namespace qor::app
