#include "app/theme/Icons.h"

#include <utility>

namespace qor::app {

namespace {

// The solid-view icons share this isometric box outline.
#define QOR_ISO_BOX "M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z"

const std::pair<const char*, const char*> iconTable[] = {
    {"new", R"(<path d="M6 3h8l4 4v14H6z"/><path d="M14 3v4h4"/><path d="M12 11v6M9 14h6"/>)"},
    {"sketch",
     R"(<path d="M4 20l4-1L19 8l-3-3L5 16z"/><path d="M14 7l3 3"/>)"
     R"(<path d="M3 3h5M3 3v5" opacity=".55"/>)"},
    {"line",
     R"(<path d="M5.5 18.5l13-13"/><circle cx="4.5" cy="19.5" r="1.8"/>)"
     R"(<circle cx="19.5" cy="4.5" r="1.8"/>)"},
    {"construction", R"(<path d="M4 20L20 4" stroke-dasharray="3 2.5"/>)"},
    {"c_horizontal", R"(<path d="M6 5v14M18 5v14M6 12h12"/>)"},
    {"extrude", R"(<path d="M3 16l9 4.5 9-4.5-9-4.5z"/><path d="M12 14V3M8.5 6.5L12 3l3.5 3.5"/>)"},
    {"view_front",
     R"(<path d=")" QOR_ISO_BOX R"("/><path d="M3 7.5l9 4.5v9l-9-4.5z" fill="C" fill-opacity=".35"/>)"},
    {"body",
     R"(<path d=")" QOR_ISO_BOX R"(" fill="C" fill-opacity=".15"/><path d="M3 7.5l9 4.5 9-4.5M12 12v9"/>)"},
    {"grid", R"(<path d="M4 4h16v16H4zM4 10h16M4 15h16M10 4v16M15 4v16" opacity=".85"/>)"},
    {"timeline",
     R"(<path d="M3 12h18"/><rect x="5" y="8" width="3" height="8"/>)"
     R"(<rect x="11" y="8" width="3" height="8"/><path d="M18 5v14" stroke-width="2.2"/>)"},
    {"error", R"(<circle cx="12" cy="12" r="9"/><path d="M12 7v6M12 16.5v.5"/>)"},
    {"warning", R"(<path d="M12 3l10 18H2z"/><path d="M12 10v5M12 18v.4"/>)"},
    {"info", R"(<circle cx="12" cy="12" r="9"/><path d="M12 11v6M12 7.5v.5"/>)"},
};

} // namespace

const QHash<QString, QString>& builtinIconSvgs()
{
    static const QHash<QString, QString> icons = [] {
        QHash<QString, QString> table;
        for (const auto& [name, markup] : iconTable)
            table.insert(QString::fromLatin1(name), QString::fromLatin1(markup));
        return table;
    }();
    return icons;
}

} // namespace qor::app
