#include "panels/MassTable.h"

#include "panels/CsvField.h"

#include "ui/theme/Theme.h"
#include "model/Document.h"

#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>

#include <cmath>

namespace qor::app {

namespace {

MassRow measureBody(const qor::model::Document& document, int id, const TopoDS_Shape& shape)
{
    MassRow row;
    row.name = document.bodyName(id);
    const qor::model::BodyAppearance look = document.bodyAppearance(id);
    row.material = look.material.isEmpty() ? QStringLiteral("–") : look.material;
    if (shape.IsNull())
        return row;

    GProp_GProps volume;
    BRepGProp::VolumeProperties(shape, volume, Standard_True);
    GProp_GProps surface;
    BRepGProp::SurfaceProperties(shape, surface);
    row.volume = std::abs(volume.Mass()) / 1000.0;
    row.area = surface.Mass() / 100.0;
    row.mass = row.volume * look.density;
    row.centre = volume.Mass() != 0.0 ? volume.CentreOfMass() : surface.CentreOfMass();

    Bnd_Box box;
    BRepBndLib::AddOptimal(shape, box, Standard_False, Standard_False);
    if (!box.IsVoid()) {
        double x0, y0, z0, x1, y1, z1;
        box.Get(x0, y0, z0, x1, y1, z1);
        row.extentX = x1 - x0;
        row.extentY = y1 - y0;
        row.extentZ = z1 - z0;
    }
    return row;
}

} // namespace

std::vector<MassRow> massRows(const qor::model::Document& document)
{
    std::vector<MassRow> rows;
    for (const auto& [id, body] : document.current.bodies.get())
        rows.push_back(measureBody(document, id, body.shape));
    return rows;
}

QStringList massCells(const MassRow& row)
{
    const gp_Pnt& c = row.centre;
    return {
        row.name,
        row.material,
        formatFixed3(row.volume),
        formatFixed2(row.area),
        formatFixed2(row.mass),
        QStringLiteral("%1 / %2 / %3")
            .arg(formatFixed2(c.X()), formatFixed2(c.Y()), formatFixed2(c.Z())),
        QStringLiteral("%1 × %2 × %3")
            .arg(formatFixed2(row.extentX), formatFixed2(row.extentY), formatFixed2(row.extentZ))};
}

QString massCsv(const std::vector<MassRow>& rows)
{
    QString csv = QStringLiteral(
        "Körper;Material;Volumen cm³;Oberfläche cm²;Masse g;Schwerpunkt X;Y;Z;Länge;Breite;Höhe\n");
    for (const MassRow& row : rows) {
        const QStringList fields{csvField(row.name),           csvField(row.material),
                                 formatFixed3(row.volume),     formatFixed2(row.area),
                                 formatFixed2(row.mass),       formatFixed3(row.centre.X()),
                                 formatFixed3(row.centre.Y()), formatFixed3(row.centre.Z()),
                                 formatFixed3(row.extentX),    formatFixed3(row.extentY),
                                 formatFixed3(row.extentZ)};
        csv += fields.join(QLatin1Char(';')) + QLatin1Char('\n');
    }
    return csv;
}

QString massTotals(const std::vector<MassRow>& rows)
{
    double volume = 0.0;
    double mass = 0.0;
    for (const MassRow& row : rows) {
        volume += row.volume;
        mass += row.mass;
    }
    return QStringLiteral("<b>Gesamt:</b> %1 cm³ · <b>%2 g</b> (%3 kg)")
        .arg(formatFixed3(volume), formatFixed2(mass), formatFixed3(mass / 1000.0));
}

} // namespace qor::app
