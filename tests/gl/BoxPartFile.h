#pragma once

#include "model/Document.h"
#include "model/DocumentController.h"

#include <QString>

namespace qor::test {

// Saves a part with one default box at path; false when the file could not be written.
inline bool saveBoxPart(const QString& path)
{
    app::DocumentController controller;
    controller.newDocument();
    controller.document->addFeature(QStringLiteral("box"));
    controller.recompute();
    return controller.saveAs(path);
}

} // namespace qor::test
