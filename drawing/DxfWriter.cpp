#include "drawing/DxfWriter.h"

#include "drawing/Dimensions.h"
#include "drawing/LabelLayout.h"
#include "drawing/Projection.h"

#include <algorithm>
#include <cmath>

namespace qor::io {

namespace {

// Line types with their patterns, written exactly as given.
constexpr const char* lineTypeTable
    = "0\nTABLE\n2\nLTYPE\n70\n3\n"
      "0\nLTYPE\n2\nCONTINUOUS\n70\n0\n3\nDurchgehend\n72\n65\n73\n0\n40\n0.0\n"
      "0\nLTYPE\n2\nHIDDEN\n70\n0\n3\nStrichlinie\n72\n65\n73\n2\n40\n4.5\n49\n3.0\n49\n-1.5\n"
      "0\nLTYPE\n2\nCENTER\n70\n0\n3\nStrichpunkt\n72\n65\n73\n4\n40\n20.0\n49\n12.0\n49\n-3.0\n"
      "49\n2.0\n49\n-3.0\n"
      "0\nENDTAB\n";

struct LayerEntry {
    const char* name;
    int colour;
    const char* lineType;
};

constexpr LayerEntry layers[] = {
    {"SICHTBAR", 7, "CONTINUOUS"},  {"VERDECKT", 8, "HIDDEN"},      {"MITTELLINIEN", 1, "CENTER"},
    {"BEMASSUNG", 3, "CONTINUOUS"}, {"RAHMEN", 7, "CONTINUOUS"},    {"TEXT", 7, "CONTINUOUS"},
    {"GEWINDE", 4, "CONTINUOUS"},   {"SCHRAFFUR", 9, "CONTINUOUS"},
};

constexpr char32_t diameterSign = 0x2300;

} // namespace

QByteArray dxfString(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (c < 0x20)
            out.append(' ');
        else if (c == diameterSign)
            out.append("%%c"); // drawn as the diameter sign by every DXF reader
        else if (c > 0xff)
            out.append('?');
        else
            out.append(static_cast<char>(c));
    }
    return out;
}

void DxfWriter::pair(int code, const QByteArray& value)
{
    data += QByteArray::number(code);
    data += '\n';
    data += value;
    data += '\n';
}

void DxfWriter::string(int code, const QString& value)
{
    pair(code, dxfString(value));
}

void DxfWriter::number(int code, double value)
{
    pair(code, QByteArray::number(value, 'f', 6));
}

void DxfWriter::point(double x, double y)
{
    number(10, x);
    number(20, y);
    pair(30, "0.0");
}

void DxfWriter::begin()
{
    data.clear();
    data += "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n9\n$INSUNITS\n70\n4\n0\nENDSEC\n";
    data += "0\nSECTION\n2\nTABLES\n";
    data += lineTypeTable;
    data += "0\nTABLE\n2\nLAYER\n70\n8\n";
    for (const LayerEntry& entry : layers)
        layer(QString::fromLatin1(entry.name), entry.colour, QString::fromLatin1(entry.lineType));
    data += "0\nENDTAB\n0\nENDSEC\n";
    data += "0\nSECTION\n2\nENTITIES\n";
}

void DxfWriter::layer(const QString& name, int colour, const QString& lineType)
{
    pair(0, "LAYER");
    string(2, name);
    pair(70, "0");
    pair(62, QByteArray::number(colour));
    string(6, lineType);
}

void DxfWriter::line(const QString& layer, double x1, double y1, double x2, double y2)
{
    pair(0, "LINE");
    string(8, layer);
    point(x1, y1);
    number(11, x2);
    number(21, y2);
    pair(31, "0.0");
}

void DxfWriter::circle(const QString& layer, double cx, double cy, double radius)
{
    pair(0, "CIRCLE");
    string(8, layer);
    point(cx, cy);
    number(40, radius);
}

void DxfWriter::arc(const QString& layer, double cx, double cy, double radius, double startDeg,
                    double endDeg)
{
    pair(0, "ARC");
    string(8, layer);
    point(cx, cy);
    number(40, radius);
    number(50, startDeg);
    number(51, endDeg);
}

void DxfWriter::polyline(const std::vector<gp_Pnt2d>& points, const QString& layer)
{
    if (points.size() < 2)
        return;
    pair(0, "POLYLINE");
    string(8, layer);
    pair(66, "1");
    pair(70, "0");
    for (const gp_Pnt2d& p : points) {
        pair(0, "VERTEX");
        string(8, layer);
        point(p.X(), p.Y());
    }
    pair(0, "SEQEND");
    string(8, layer);
}

void DxfWriter::text(const QString& text, const QString& layer, double x, double y, double height,
                     double rotationDeg)
{
    pair(0, "TEXT");
    string(8, layer);
    point(x, y);
    number(40, height);
    string(1, text);
    number(50, rotationDeg);
}

void DxfWriter::finish()
{
    data += "0\nENDSEC\n0\nEOF\n";
}

} // namespace qor::io

namespace qor::app {

namespace {

const QString rahmen = QStringLiteral("RAHMEN");
const QString dimensionLayer = QStringLiteral("BEMASSUNG");

QString layerOf(LineKind kind)
{
    switch (kind) {
    case LineKind::Hidden: return QStringLiteral("VERDECKT");
    case LineKind::Centre: return QStringLiteral("MITTELLINIEN");
    case LineKind::Thread: return QStringLiteral("GEWINDE");
    case LineKind::Hatch: return QStringLiteral("SCHRAFFUR");
    default: return QStringLiteral("SICHTBAR");
    }
}

void rectangle(io::DxfWriter& dxf, double x0, double y0, double x1, double y1)
{
    dxf.polyline({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}}, rahmen);
}

void writeTitle(io::DxfWriter& dxf, const Drawing& sheet, double x0)
{
    struct Field {
        const char16_t* key;
        double x;
        double y;
        double height;
    };
    const Field fields[] = {
        {u"Benennung", x0 + 2, 36, 6.0},   {u"Zeichnungsnummer", x0 + 2, 18, 4.5},
        {u"Werkstoff", x0 + 112, 39, 3.0}, {u"Maßstab", x0 + 147, 39, 3.0},
        {u"Firma", x0 + 112, 21, 4.0},
    };
    for (const Field& field : fields) {
        dxf.text(titleValue(sheet, QString::fromUtf16(field.key)), QStringLiteral("TEXT"), field.x,
                 field.y, field.height, 0.0);
    }
}

void writePrimitive(io::DxfWriter& dxf, const Drawing& sheet, const Drawing::View& view,
                    const ProjectedView& pv, const ViewPrimitive& prim)
{
    const QString layer = layerOf(prim.kind);
    if (prim.circular) {
        const QPointF c = viewToSheet(sheet, view, pv, prim.cx, prim.cy);
        const double r = prim.radius * viewFactor(sheet, view);
        if (std::abs(prim.endDeg - prim.startDeg) >= 359.999)
            dxf.circle(layer, c.x(), c.y(), r);
        else
            dxf.arc(layer, c.x(), c.y(), r, prim.startDeg, prim.endDeg);
        return;
    }
    std::vector<gp_Pnt2d> points;
    points.reserve(prim.points.size());
    for (const gp_Pnt2d& p : prim.points) {
        const QPointF s = viewToSheet(sheet, view, pv, p.X(), p.Y());
        points.emplace_back(s.x(), s.y());
    }
    if (points.size() == 2)
        dxf.line(layer, points[0].X(), points[0].Y(), points[1].X(), points[1].Y());
    else
        dxf.polyline(points, layer);
}

void writeCallouts(io::DxfWriter& dxf, const Drawing& sheet, const Drawing::View& view,
                   const ProjectedView& pv)
{
    for (const ThreadCallout& callout : pv.callouts) {
        const auto placed = placeCallout(sheet, view, pv, callout);
        if (!placed)
            continue;
        const QPointF p = placed->p;
        const QPointF q = placed->q;
        const double s = placed->shoulder;
        dxf.line(dimensionLayer, p.x(), p.y(), q.x(), q.y());
        dxf.line(dimensionLayer, q.x(), q.y(), q.x() + s, q.y());
        dxf.text(callout.text, dimensionLayer, std::min(q.x(), q.x() + s) + 1.0, q.y() + 1.0, 3.5,
                 0.0);
    }
}

// Leader through the centre from the far arrow tip out to the shoulder, with the text on
// the shoulder, as on the sheet but without arrowheads.
void writeRadialDimension(io::DxfWriter& dxf, const Drawing& sheet, const Drawing::View& view,
                          const ProjectedView& pv, const Drawing::Dim& dim)
{
    const RadialDimension d = radialDimension(sheet, view, pv, dim);
    dxf.line(dimensionLayer, d.p2.x(), d.p2.y(), d.l.x(), d.l.y());
    dxf.line(dimensionLayer, d.l.x(), d.l.y(), d.l.x() + d.shoulder, d.l.y());
    dxf.text(d.text, dimensionLayer, std::min(d.l.x(), d.l.x() + d.shoulder) + 1.0, d.l.y() + 1.0,
             dimensionTextHeight, 0.0);
}

void writeLinearDimension(io::DxfWriter& dxf, const Drawing& sheet, const Drawing::View& view,
                          const ProjectedView& pv, const Drawing::Dim& dim)
{
    const LinearDimension d = linearDimension(sheet, view, pv, dim);
    dxf.line(dimensionLayer, d.a.x(), d.a.y(), d.lineA.x(), d.lineA.y());
    dxf.line(dimensionLayer, d.b.x(), d.b.y(), d.lineB.x(), d.lineB.y());
    dxf.line(dimensionLayer, d.lineA.x(), d.lineA.y(), d.lineB.x(), d.lineB.y());
    const QPointF m = (d.lineA + d.lineB) / 2.0;
    dxf.text(dimensionText(dim, d.value), dimensionLayer, m.x(), m.y() + 1.0, dimensionTextHeight,
             d.angleDeg);
}

} // namespace

QByteArray drawingDxf(ProjectionCache& cache, const qor::model::Document& document,
                      const Drawing& sheet)
{
    const QSizeF size = paperSize(sheet.format);
    const double w = size.width();
    const double h = size.height();
    const double x0 = w - 190.0;
    io::DxfWriter dxf;
    dxf.begin();
    rectangle(dxf, 20, 10, w - 10, h - 10);
    rectangle(dxf, x0, 10, x0 + 180, 46);
    writeTitle(dxf, sheet, x0);
    for (const Drawing::View& view : sheet.views) {
        const ProjectedView& pv = cache.projectedView(document, sheet, view);
        for (const ViewPrimitive& prim : pv.primitives) {
            if (prim.kind != LineKind::Centre || view.center)
                writePrimitive(dxf, sheet, view, pv, prim);
        }
    }
    for (const Drawing::View& view : sheet.views)
        writeCallouts(dxf, sheet, view, cache.projectedView(document, sheet, view));
    // Every dimension the sheet shows, the same ones as on screen and in the other formats.
    for (const Drawing::Dim* dim : drawnDimensions(cache, document, sheet)) {
        const Drawing::View& view = *dimensionView(sheet, *dim);
        const ProjectedView& pv = cache.projectedView(document, sheet, view);
        if (dim->kind == static_cast<int>(DimKind::Diameter)
            || dim->kind == static_cast<int>(DimKind::Radius))
            writeRadialDimension(dxf, sheet, view, pv, *dim);
        else
            writeLinearDimension(dxf, sheet, view, pv, *dim);
    }
    dxf.finish();
    return dxf.data;
}

} // namespace qor::app
