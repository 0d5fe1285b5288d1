#pragma once

#include "io/Import.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace qor::io {

// The bodies of a Parasolid neutral binary transmission, healed and in millimetres, in
// the order of their BODY nodes; the first has an empty name, later ones "Körper %1".
// Never throws. message (when given) receives the refusal of the text form, the reason
// nothing was read, or the notes on approximations and left-out faces.
std::vector<ImportedBody> readParasolid(const QByteArray& data, QString* message);

} // namespace qor::io
