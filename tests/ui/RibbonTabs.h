#pragma once

#include "app/shell/Ribbon.h"

#include <QStringList>
#include <QTabBar>

namespace qor::test {

// The page tab texts as the ribbon shows them.
inline QStringList tabTexts(const app::Ribbon& ribbon)
{
    const auto* tabs = ribbon.findChild<QTabBar*>(QStringLiteral("RibbonTabs"));
    QStringList texts;
    for (int i = 0; i < tabs->count(); ++i)
        texts << tabs->tabText(i);
    return texts;
}

} // namespace qor::test
