#pragma once

#include "io/Import.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace qor::io {

// The bodies of a Parasolid neutral binary transmission, healed and in millimetres, in
// the order of their BODY nodes; the first has an empty name, later ones "Körper %1".
// Never throws. message (when given) receives the refusal of the text form, the reason
// nothing was read, or the notes on approximations and left-out faces. A number that is not
// finite or lies far outside any model refuses the whole transmission; cancelled (when set)
// is asked before every face and body and ends the read with no bodies.
std::vector<ImportedBody> readParasolid(const QByteArray& data, QString* message,
                                        const CancelCheck& cancelled = {});

} // namespace qor::io
