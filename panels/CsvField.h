#pragma once

#include <QString>

namespace qor::app {

// A field of a semicolon-separated line: as it is, or in double quotes with inner quotes
// doubled when it holds a ";", a quote or a line break.
QString csvField(const QString& text);

} // namespace qor::app
