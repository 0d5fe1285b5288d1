#pragma once

#include <QHash>
#include <QString>

namespace qor::app {

// Icon name -> inner markup of a 24 x 24 line drawing. The theme wraps it in an svg element
// that strokes everything in the icon colour (width 1.6, round caps and joins, no fill);
// fill="C" marks an area that the theme fills in the icon colour.
const QHash<QString, QString>& builtinIconSvgs();

} // namespace qor::app
