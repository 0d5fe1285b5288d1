#pragma once

#include "sketch/Sketch.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLineF>
#include <QPainterPath>
#include <QPoint>
#include <QRectF>
#include <QString>

#include <string>
#include <vector>

namespace qor::model {
class Document;
}

namespace qor::app {

class SketchMapper;

// Where a dimension shows on screen, in view pixels.
struct DimensionLayout {
    QRectF label;
    QString text;
    // Extension lines P -> D1, Q -> D2, then the dimension line D1 -> D2; empty for angles.
    std::vector<QLineF> segments;
    // The arc of an angle between two lines.
    std::vector<QPainterPath> arcs;
};

// The monospace font of dimension labels and value fields; measuring the label box with any
// other font makes hit testing disagree with the picture.
QFont dimensionLabelFont();

// "R12.5", "⌀40", "90°", "12.345"; a driven dimension shows its measured value in
// parentheses, one with an expression gets "ƒx " in front.
QString dimensionText(const sketch::Sketch& sketch, const sketch::Constraint& dimension);

// The label box (text advance + 12 by line height + 4, centred on the anchor of the
// dimension's entities plus its label offset) and, with withLines, its lines and arcs.
DimensionLayout dimensionLayout(const sketch::Sketch& sketch, const sketch::Constraint& dimension,
                                const SketchMapper& mapper, const QFontMetricsF& metrics,
                                bool withLines);

// The value field over a label: fixed width, top left corner above the label's centre.
constexpr int valueFieldWidth = 150;
QPoint valueFieldPosition(const QRectF& label);
// What the field shows first: the expression, else the value (degrees for angles).
QString valueFieldText(const sketch::Constraint& dimension);

// A typed value read for a dimension. Invalid entries change nothing.
struct ValueEntry {
    bool valid = false;
    // Tool tip for an entry that does not evaluate; empty when the value was refused.
    QString error;
    double value = 0.0; // millimetres, radians for angles
    std::string expression; // empty for a plain number
};

// Evaluates the text with the document's parameters. Lengths must be above 0 and finite;
// an angle keeps the sign of the stored angle when the stored one is negative.
ValueEntry readValueEntry(const model::Document& document, const sketch::Constraint& dimension,
                          const QString& text);

} // namespace qor::app
