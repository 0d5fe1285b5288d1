#pragma once

#include "io/Import.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace qor::io {

// readSab's message for a stream without any readable body.
inline QString sabNoBodyMessage()
{
    return QStringLiteral("Keine Volumenkörper gefunden");
}

// The bodies of one ACIS/ShapeManager binary stream in millimetres, named
// "Körper 1", "Körper 2", ... Never throws. message, when given, is always
// overwritten: the notes joined with "; ", the reason when no body came back. A number
// that is not finite or lies far outside any model refuses the whole stream; cancelled
// (when set) is asked before every face and body and ends the read with no bodies.
std::vector<ImportedBody> readSab(const QByteArray& data, QString* message,
                                  const CancelCheck& cancelled = {});

} // namespace qor::io
