#pragma once

#include <QStyle>
#include <QWidget>

namespace qor::app {

// Re-applies the style sheet after a dynamic property or object name that it matches on has
// changed.
inline void repolish(QWidget* widget)
{
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

} // namespace qor::app
