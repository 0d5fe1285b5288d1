#pragma once

#include <QKeySequence>
#include <QMap>
#include <QString>

#include <functional>
#include <vector>

class QAction;
class QWidget;

namespace qor::app {

// What a command works on; the window picks its handler by it.
enum class CommandGroup {
    Document, // files, history, application
    NewSketch, // "sketch": pick a plane for a new sketch
    Feature, // one per registry type; target = type id
    SketchTool, // code = sketch editor tool
    SketchEdit, // sketch fillet, construction, finish, cancel
    Constraint, // code = constraint type
    Assembly, // components, bill of materials, explosion
    Mate, // target = mate kind
    Inspection, // drawing, measure, mass, section, interference, appearance, render
    Clipboard,
    View,
    Edit, // delete
};

// When a command is enabled; the status refresh applies it.
enum class Enablement {
    Always,
    Undo,
    Redo,
    Modelling, // no sketch open and no panel busy
    LeftOut, // the last display was cancelled before it showed every body
};

struct CommandSpec {
    QString id;
    QString label;
    QString icon;
    QKeySequence shortcut;
    QString tooltip; // empty: the label, with the shortcut's native text when there is one
    CommandGroup group = CommandGroup::Document;
    Enablement enablement = Enablement::Always;
    int code = -1; // sketch tool or constraint type
    QString target; // feature type id or mate kind
    bool hidden = false;
};

// The 100 commands in creation order: the fixed ones and, after "sketch", one per
// feature type of the registry except the sketch.
const std::vector<CommandSpec>& commandTable();

// Null when no command has the id.
const CommandSpec* findCommand(const QString& id);

// Tool tip of a command: the explicit one, else "label (shortcut)", else the label.
QString commandToolTip(const CommandSpec& spec);

using CommandHandler = std::function<void()>;
// The handler of a command; every command of the table has one.
using HandlerLookup = std::function<CommandHandler(const CommandSpec&)>;

// Creates one action per command, owned by and added to `owner` so that its shortcut
// works in the whole window, each connected to the handler the lookup gives.
QMap<QString, QAction*> createActions(QWidget* owner, const HandlerLookup& handlerFor);

// What the enablement rules look at.
struct CommandState {
    bool sketchOpen = false;
    bool busy = false; // the feature panel edits a feature or the mate panel is open
    bool sketchCanUndo = false;
    bool sketchCanRedo = false;
    bool documentCanUndo = false; // the history's current index is above 0
    bool documentCanRedo = false;
    QString undoLabel; // label of the current history entry
    bool bodiesLeftOut = false; // the last display was cancelled before it showed every body
};

bool isEnabled(Enablement rule, const CommandState& state);

// Enables the commands by their rule and retitles the undo tool tip.
void refreshCommands(const QMap<QString, QAction*>& actions, const CommandState& state);

} // namespace qor::app
