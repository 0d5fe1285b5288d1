#pragma once

#include "view/Picking.h"

#include <QString>

#include <memory>
#include <set>
#include <vector>

class QMimeData;

namespace qor::model {
class Document;
}

namespace qor::app {

class DocumentController;

// The clipboard format of solid bodies: one JSON object with the bodies as one compound in the
// shape text encoding ("brep") and their names and colours in the same order.
inline constexpr char bodiesMimeType[] = "application/x-qorcad-bodies";

// What copy hands to the clipboard and what the user is told.
struct CopiedBodies {
    std::unique_ptr<QMimeData> data; // null when nothing was copyable
    int count = 0;
    QString message;
    bool error = false;
};

// What paste did to the document and what the user is told.
struct PastedBodies {
    int featureId = 0; // the new import feature; 0 when the document is unchanged
    int count = 0;
    QString message;
    bool error = false;
};

// The bodies under the picks of faces, edges, vertices and bodies; each body once, ascending.
std::set<int> pickedBodyIds(const std::vector<PickInfo>& picks);

// The clipboard data of those ids that name a body of the document's current state, with the
// plain text "QorCAD: %1 Körper" beside the own format.
CopiedBodies copyBodies(const qor::model::Document& document, const std::set<int>& bodyIds);

// Turns clipboard data into one import feature named "Eingefügt" and commits "Einfügen". The
// data is untrusted: anything that is not a readable compound of bodies leaves the document as
// it was and reports an error.
PastedBodies pasteBodies(DocumentController& controller, const QMimeData* data);

} // namespace qor::app
