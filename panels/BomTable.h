#pragma once

#include "model/Assembly.h"

#include <QString>

#include <vector>

// The bill of materials of an assembly without any widget: one row per component source and
// its semicolon-separated text.

namespace qor::app {

struct BomRow {
    QString name; // display name
    QString file; // text of the "Datei" column
    int count = 0;
};

// Rows in order of first appearance, grouped by the stored path (or the name of embedded
// geometry); the first component of a group names it.
std::vector<BomRow> bomRows(const std::vector<qor::model::Component>& components);

// Header and one line per row, each ended by "\n". A field holding ";", a quote or a line
// break is quoted with its quotes doubled; every other field is written as it is.
QString bomCsv(const std::vector<BomRow>& rows);

// The UTF-8 byte-order mark and the text, replacing the file only when all was written.
// Empty on success, else why not (German, a full disk named).
QString writeBomFile(const QString& path, const QString& csv);

} // namespace qor::app
