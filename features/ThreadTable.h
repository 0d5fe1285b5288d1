#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace qor::model {

// One ISO metric thread size; all lengths in millimetres.
struct ThreadSpec {
    const char* name; // ISO notation with a decimal point, e.g. "M10x1.25"
    double diameter;
    double pitch;
    double tapDrill;
    double clearance;
    double cboreDiameter;
    double cboreDepth;
    double csinkDiameter;
};

// Coarse threads by size, then the fine threads; built once, addresses stable.
const std::vector<ThreadSpec>& threadTable();

// The first row of exactly that name (case-sensitive), or null.
const ThreadSpec* findThread(const QString& name);

// The row's name with a decimal comma: "M10x1,25".
QString threadDisplayName(const ThreadSpec& row);

// "M12x1,5-LH – 12,5 tief" or "M8 – durchgehend".
QString threadDesignation(const ThreadSpec& row, bool through, bool leftHand, double length);

// Choice options "value=label": optional "none" and "auto" entries, then every row.
QStringList threadChoices(bool withNone, bool withAuto);

} // namespace qor::model
