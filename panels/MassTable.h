#pragma once

#include <QString>
#include <QStringList>

#include <gp_Pnt.hxx>

#include <vector>

namespace qor::model {
class Document;
}

namespace qor::app {

// The mass properties of one body. Volume counts closed solids only, so an open shell or a
// sheet weighs nothing.
struct MassRow {
    QString name;
    QString material; // "–" when the appearance names none
    double volume = 0.0; // cm³
    double area = 0.0; // cm²
    double mass = 0.0; // g
    gp_Pnt centre; // mm; the surface centroid when the body encloses no volume
    double extentX = 0.0; // mm, of the exact bounding box
    double extentY = 0.0;
    double extentZ = 0.0;
};

// One row per body of the document's current state, in ascending body id.
std::vector<MassRow> massRows(const qor::model::Document& document);

// The seven table cells of a row: name, material, volume, area, mass, centre, extents.
QStringList massCells(const MassRow& row);
// Header and one line per row, fields separated by ";", every line ending in "\n".
QString massCsv(const std::vector<MassRow>& rows);
// The rich-text totals line under the table.
QString massTotals(const std::vector<MassRow>& rows);

} // namespace qor::app
