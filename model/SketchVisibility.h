#pragma once

#include <QJsonValue>

#include <set>

namespace qor::model {

class Document;

// Ids of the sketches that feature parameters refer to: references of kind "sketch" by their
// "id", of kind "region" and "sketchline" by their "sketch", at any depth.
void collectSketchRefs(const QJsonValue& value, std::set<int>& ids);

// The sketches whose curves, points or regions another feature takes as input.
std::set<int> consumedSketches(const Document& document);

// The one rule for the view, the browser's eye and the show/hide command: a consumed sketch
// stays out of the way unless its "hidden" entry says false; any other sketch is shown
// unless its entry says true. Entries of sketches are keyed by the negative feature id.
bool sketchShown(const Document& document, int sketchId, const std::set<int>& consumed);

} // namespace qor::model
