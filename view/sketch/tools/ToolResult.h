#pragma once

#include <QString>

namespace qor::app {

// What a sketch tool hands back to the editor after a click. Tools change the sketch and take
// their own undo snapshots; the editor commits the change, shows the message and opens the
// value field, so no tool paints or recomputes by itself.
struct ToolResult {
    bool changed = false;
    QString message; // for the toast; empty for none
    bool error = false;
    int editDimension = -1; // dimension whose value field opens after the commit
};

inline ToolResult toolMessage(const QString& text, bool error)
{
    return {false, text, error, -1};
}

} // namespace qor::app
