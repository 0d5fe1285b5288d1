#pragma once

#include "sketch/Sketch.h"

#include <QJsonArray>
#include <QString>

#include <string>

namespace qor::app {

class DocumentController;

// Replaces the controller's document by the example part "bracket" (also for an empty
// kind), "flange" or "housing", built through the same document and sketch calls as the
// user's commands, and commits it as one undo step "Beispiel". Any other kind (compared
// case-sensitively) leaves a new, empty document. The window refreshes its views after.
void buildExample(DocumentController& controller, const QString& kind);

// True for the kinds buildExample builds a part of.
bool isExampleKind(const QString& kind);

// Adds a dimension measured from the current geometry with an optional driving
// expression and the label offset. Horizontal and vertical distances are made positive.
void exampleAddDimension(qor::sketch::Sketch& sketch, qor::sketch::ConstraintType type, int a,
                         int b, const std::string& expression, double offsetX, double offsetY);

// The "profile" value naming the whole sketch of a sketch feature.
QJsonArray exampleSketchRef(int featureId);

} // namespace qor::app
