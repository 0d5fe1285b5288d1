#pragma once

#include "view/Picking.h"

#include <Bnd_Box.hxx>
#include <gp_Trsf.hxx>

#include <QList>
#include <QString>

#include <vector>

class QTreeWidgetItem;

namespace qor::model {
class Document;
}

namespace qor::app {

class DocumentController;

// Name of a new component made from a file with this base name: "base:n", with n one above
// the number of components whose name up to the first colon is base, raised while a
// component already bears the name (after a removal the count alone would repeat one).
QString newComponentName(const qor::model::Document& doc, const QString& base);

// Where a component with the box `added` goes next to the components in `existing`: moved
// along +X so that its left side lies 10 mm plus 15 % of the existing width to the right of
// them. Identity when either box is void.
gp_Trsf insertPlacement(const Bnd_Box& existing, const Bnd_Box& added);

struct InsertResult {
    bool ok = false;
    int componentId = 0;
    QString message; // the toast on success, the warning text on failure
    // Inserted, but without all of the file (bodies beyond a component's limit, faces a reader
    // left out): the toast's second line says what, and it shows as a warning.
    bool incomplete = false;
};

// Loads the file once to check and place it, appends it as a component (the first one
// grounded at the identity, later ones free beside the others) and commits "Komponente
// einfügen". A file without usable geometry adds nothing; what a component left out of its
// file follows the toast on a line of its own.
InsertResult insertComponentFile(DocumentController& controller, const QString& path);

// Fixes a free component or frees a fixed one as one undo step; the toast text, empty when
// there is no such component.
QString toggleGround(DocumentController& controller, int componentId);

// The component of the first pick on a component body; 0 when there is none.
int componentOfPicks(const std::vector<PickInfo>& picks);
// The component chosen in the 3D view, else the first component item chosen in the browser
// (kind 14 in Qt::UserRole, id in Qt::UserRole + 1); 0 when neither names one.
int selectedComponent(const std::vector<PickInfo>& picks,
                      const QList<QTreeWidgetItem*>& browserItems);

// Why the move dialog cannot open for this component (id 0 = none chosen); empty when it can.
QString moveRefusal(const qor::model::Document& doc, int componentId);

} // namespace qor::app
