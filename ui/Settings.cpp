#include "ui/Settings.h"

namespace qor::app::settings {

QString glModeOf(const QString& text)
{
    if (text == u"hardware" || text == u"software")
        return text;
    return defaultGl;
}

} // namespace qor::app::settings
