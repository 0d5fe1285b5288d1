#include "app/CommandTable.h"

#include "model/FeatureDef.h"
#include "ui/theme/Theme.h"

#include <QAction>
#include <QWidget>

namespace qor::app {

namespace {

using Std = QKeySequence::StandardKey;
using G = CommandGroup;
using E = Enablement;

// One written-out command. Keys are either a standard key or a fixed sequence.
struct Row {
    const char* id;
    const char* label;
    const char* icon;
    Std standardKey;
    const char* keys;
    const char* tooltip;
    G group;
    E enablement = E::Always;
    int code = -1;
    const char* target = "";
};

constexpr Std none = QKeySequence::UnknownKey;

// Before the feature commands.
const Row leadingRows[] = {
    {"new", "Neu", "new", QKeySequence::New, "", "", G::Document},
    {"open", "Öffnen …", "open", QKeySequence::Open, "", "", G::Document},
    {"save", "Speichern", "save", QKeySequence::Save, "", "", G::Document},
    {"saveas", "Speichern unter …", "saveas", none, "Ctrl+Shift+S", "", G::Document},
    {"import", "Import", "import", none, "Ctrl+I", "", G::Document},
    {"export", "Export", "export", none, "Ctrl+E", "", G::Document},
    {"undo", "Rückgängig", "undo", QKeySequence::Undo, "", "", G::Document, E::Undo},
    {"redo", "Wiederholen", "redo", none, "Ctrl+Y", "", G::Document, E::Redo},
    {"quit", "Beenden", "cancel", QKeySequence::Quit, "", "", G::Document},
    {"parameters", "Parameter", "parameters", none, "Ctrl+P", "", G::Document},
    {"settings", "Einstellungen", "settings", none, "", "", G::Document},
    {"about", "Über QorCAD", "help", QKeySequence::HelpContents, "", "", G::Document},
    {"updates", "Nach Updates suchen", "update", none, "", "", G::Document},
    {"sketch", "Skizze", "sketch", none, "S", "Neue Skizze auf Ebene oder Fläche (S)", G::NewSketch,
     E::Modelling},
};

// After the feature commands. Sketch tool and constraint codes are the editor's tool
// numbers and the constraint type numbers.
const Row trailingRows[] = {
    {"sk_line", "Linie", "line", none, "", "Linie (L)", G::SketchTool, E::Always, 1},
    {"sk_rect", "Rechteck", "rect", none, "", "Rechteck über zwei Ecken (R)", G::SketchTool,
     E::Always, 2},
    {"sk_rect_center", "Rechteck Mitte", "rect_center", none, "", "", G::SketchTool, E::Always, 3},
    {"sk_circle", "Kreis", "circle", none, "", "Kreis über Mittelpunkt (C)", G::SketchTool,
     E::Always, 4},
    {"sk_circle3", "Kreis 3 Pkt.", "circle3", none, "", "", G::SketchTool, E::Always, 5},
    {"sk_arc3", "Bogen", "arc", none, "", "Bogen über drei Punkte (A)", G::SketchTool, E::Always,
     6},
    {"sk_arc_center", "Bogen Mitte", "arc_center", none, "", "", G::SketchTool, E::Always, 7},
    {"sk_point", "Punkt", "point", none, "", "Punkt (P) – z. B. für Bohrungen", G::SketchTool,
     E::Always, 8},
    {"sk_polygon", "Polygon", "polygon", none, "", "", G::SketchTool, E::Always, 9},
    {"sk_slot", "Langloch", "slot", none, "", "", G::SketchTool, E::Always, 10},
    {"sk_trim", "Stutzen", "trim", none, "", "Stutzen (T)", G::SketchTool, E::Always, 11},
    {"sk_fillet", "Verrunden", "fillet2d", none, "", "", G::SketchEdit},
    {"sk_construction", "Konstruktion", "construction", none, "",
     "Konstruktionslinie umschalten (X)", G::SketchEdit},
    {"sk_project", "Projizieren", "project", none, "", "Modellkanten in die Skizze übernehmen",
     G::SketchTool, E::Always, 15},
    {"sk_dimension", "Bemaßung", "dimension", none, "", "Bemaßung (D)", G::SketchTool, E::Always,
     13},
    {"sk_select", "Auswählen", "move", none, "", "", G::SketchTool, E::Always, 0},
    {"c_horizontal", "Horizontal", "c_horizontal", none, "", "Horizontal (H)", G::Constraint,
     E::Always, 2},
    {"c_vertical", "Vertikal", "c_vertical", none, "", "Vertikal (V)", G::Constraint, E::Always, 3},
    {"c_coincident", "Deckungsgleich", "c_coincident", none, "", "", G::Constraint, E::Always, 0},
    {"c_parallel", "Parallel", "c_parallel", none, "", "", G::Constraint, E::Always, 4},
    {"c_perpendicular", "Senkrecht", "c_perpendicular", none, "", "", G::Constraint, E::Always, 5},
    {"c_tangent", "Tangential", "c_tangent", none, "", "", G::Constraint, E::Always, 7},
    {"c_equal", "Gleich", "c_equal", none, "", "", G::Constraint, E::Always, 8},
    {"c_midpoint", "Mittelpunkt", "c_midpoint", none, "", "", G::Constraint, E::Always, 9},
    {"c_concentric", "Konzentrisch", "c_concentric", none, "", "", G::Constraint, E::Always, 11},
    {"c_collinear", "Kollinear", "c_collinear", none, "", "", G::Constraint, E::Always, 6},
    {"c_symmetric", "Symmetrisch", "c_symmetric", none, "", "", G::Constraint, E::Always, 10},
    {"c_fix", "Fixieren", "c_fix", none, "", "", G::Constraint, E::Always, 12},
    {"sk_finish", "Skizze beenden", "finish", none, "", "", G::SketchEdit},
    {"sk_cancel", "Abbrechen", "cancel", none, "", "", G::SketchEdit},
    {"asm_insert", "Einfügen", "component", none, "Ctrl+Shift+I",
     "Komponente aus Datei einfügen (QorCAD, Solid Edge, Fusion, STEP, STL …)", G::Assembly},
    {"asm_move", "Bewegen", "move", none, "", "Gewählte Komponente verschieben/drehen",
     G::Assembly},
    {"asm_ground", "Fixieren", "ground", none, "", "Komponente fixieren bzw. lösen", G::Assembly},
    {"mate_planar", "Planar", "mate", none, "",
     "Flächen gegenüberliegend aufeinander (mit Abstand)", G::Mate, E::Always, -1, "planar"},
    {"mate_flush", "Bündig", "c_collinear", none, "", "Flächen bündig ausrichten", G::Mate,
     E::Always, -1, "flush"},
    {"mate_concentric", "Konzentrisch", "c_concentric", none, "",
     "Achsen von Bohrung und Welle fluchten", G::Mate, E::Always, -1, "concentric"},
    {"mate_angle", "Winkel", "c_perpendicular", none, "", "Winkel zwischen Flächen", G::Mate,
     E::Always, -1, "angle"},
    {"mate_point", "Punkt", "point", none, "", "Punkte deckungsgleich / Punkt auf Fläche", G::Mate,
     E::Always, -1, "point"},
    {"asm_bom", "Stückliste", "parameters", none, "", "", G::Assembly},
    {"drawing", "Zeichnung", "drawing", none, "Ctrl+D",
     "2D-Zeichnung ableiten (Ansichten, Bemaßung, PDF/DXF)", G::Inspection},
    {"asm_explode", "Explosion", "explode", none, "", "", G::Assembly},
    {"measure", "Messen", "measure", none, "M", "", G::Inspection},
    {"mass", "Masse", "mass", none, "", "", G::Inspection},
    {"section", "Schnitt", "section", none, "", "", G::Inspection},
    {"interference", "Kollision", "interference", none, "", "", G::Inspection},
    {"appearance", "Material", "appearance", none, "", "", G::Inspection},
    {"render", "Rendern", "render", none, "Ctrl+R",
     "Fotorealistische Darstellung mit Schatten und Spiegelungen, Bild speichern", G::Inspection},
    {"copy", "Kopieren", "copy", QKeySequence::Copy, "", "Gewählte Körper in die Zwischenablage",
     G::Clipboard},
    {"paste", "Einfügen", "paste", QKeySequence::Paste, "",
     "Körper aus der Zwischenablage einfügen", G::Clipboard},
    {"fit", "Alles zeigen", "fit", none, "F", "", G::View},
    {"showrest", "Restliche Körper anzeigen", "eye", none, "",
     "Zeigt die Körper, deren Anzeige abgebrochen wurde", G::View, E::LeftOut},
    {"view_iso", "Isometrisch", "view_iso", none, "0", "", G::View},
    {"view_front", "Vorne", "view_front", none, "1", "", G::View},
    {"view_top", "Oben", "view_top", none, "7", "", G::View},
    {"view_right", "Rechts", "view_right", none, "3", "", G::View},
    {"delete", "Löschen", "delete", QKeySequence::Delete, "", "", G::Edit},
};

// Changes made to the commands generated from the registry. A shortcut added here
// comes after the tool tip was fixed, so the tool tip stays what it was.
struct FeatureChange {
    const char* type;
    const char* keys;
    const char* label; // empty: the registry title
    const char* tooltip; // empty: the tool tip of the unchanged command
    bool hidden = false;
};

const FeatureChange featureChanges[] = {
    {"extrude", "E", "", "Extrusion (E) – Profil linear austragen"},
    {"revolve", "", "", "Rotation – Profil um eine Achse drehen"},
    {"hole", "H", "", ""},
    {"fillet", "Shift+F", "", ""},
    {"import", "", "", "", true},
    {"pattern_rect", "", "Rechteck", "Rechteckmuster"},
    {"pattern_circ", "", "Kreis", "Kreismuster"},
    {"combine", "", "Boolesch", "Körper kombinieren (verbinden, ausschneiden, schneiden)"},
};

CommandSpec specOf(const Row& row)
{
    CommandSpec spec;
    spec.id = QString::fromUtf8(row.id);
    spec.label = QString::fromUtf8(row.label);
    spec.icon = QString::fromUtf8(row.icon);
    spec.shortcut = row.standardKey != none ? QKeySequence(row.standardKey)
                                            : QKeySequence(QString::fromUtf8(row.keys));
    spec.tooltip = QString::fromUtf8(row.tooltip);
    spec.group = row.group;
    spec.enablement = row.enablement;
    spec.code = row.code;
    spec.target = QString::fromUtf8(row.target);
    return spec;
}

CommandSpec featureSpec(const qor::model::FeatureDef& def)
{
    CommandSpec spec;
    spec.id = QStringLiteral("f_") + def.id;
    spec.label = def.title;
    spec.icon = def.icon;
    spec.group = G::Feature;
    spec.enablement = E::Modelling;
    spec.target = def.id;
    for (const FeatureChange& change : featureChanges) {
        if (def.id != QLatin1String(change.type))
            continue;
        // The tool tip is fixed from the unchanged command before anything changes.
        spec.tooltip = commandToolTip(spec);
        if (*change.tooltip)
            spec.tooltip = QString::fromUtf8(change.tooltip);
        if (*change.label)
            spec.label = QString::fromUtf8(change.label);
        spec.shortcut = QKeySequence(QString::fromUtf8(change.keys));
        spec.hidden = change.hidden;
    }
    return spec;
}

std::vector<CommandSpec> buildTable()
{
    std::vector<CommandSpec> table;
    for (const Row& row : leadingRows)
        table.push_back(specOf(row));
    for (const qor::model::FeatureDef& def : qor::model::featureDefs()) {
        if (def.id != QLatin1String("sketch"))
            table.push_back(featureSpec(def));
    }
    for (const Row& row : trailingRows)
        table.push_back(specOf(row));
    return table;
}

} // namespace

const std::vector<CommandSpec>& commandTable()
{
    static const std::vector<CommandSpec> table = buildTable();
    return table;
}

const CommandSpec* findCommand(const QString& id)
{
    for (const CommandSpec& spec : commandTable()) {
        if (spec.id == id)
            return &spec;
    }
    return nullptr;
}

QString commandToolTip(const CommandSpec& spec)
{
    if (!spec.tooltip.isEmpty())
        return spec.tooltip;
    if (spec.shortcut.isEmpty())
        return spec.label;
    return QStringLiteral("%1 (%2)").arg(spec.label,
                                         spec.shortcut.toString(QKeySequence::NativeText));
}

QMap<QString, QAction*> createActions(QWidget* owner, const HandlerLookup& handlerFor)
{
    QMap<QString, QAction*> actions;
    for (const CommandSpec& spec : commandTable()) {
        auto* action = new QAction(Theme::instance().icon(spec.icon), spec.label, owner);
        if (!spec.shortcut.isEmpty()) {
            action->setShortcut(spec.shortcut);
            action->setShortcutContext(Qt::WindowShortcut);
        }
        action->setToolTip(commandToolTip(spec));
        action->setVisible(!spec.hidden);
        if (CommandHandler handler = handlerFor(spec))
            QObject::connect(action, &QAction::triggered, owner, std::move(handler));
        owner->addAction(action);
        actions.insert(spec.id, action);
    }
    return actions;
}

bool isEnabled(Enablement rule, const CommandState& state)
{
    switch (rule) {
    case Enablement::Always: return true;
    case Enablement::Undo:
        return state.sketchOpen ? state.sketchCanUndo : !state.busy && state.documentCanUndo;
    case Enablement::Redo:
        return state.sketchOpen ? state.sketchCanRedo : !state.busy && state.documentCanRedo;
    case Enablement::Modelling: return !state.sketchOpen && !state.busy;
    case Enablement::LeftOut: return state.bodiesLeftOut;
    }
    return true;
}

void refreshCommands(const QMap<QString, QAction*>& actions, const CommandState& state)
{
    for (const CommandSpec& spec : commandTable()) {
        QAction* action = actions.value(spec.id);
        if (!action)
            continue;
        action->setEnabled(isEnabled(spec.enablement, state));
    }
    if (QAction* undo = actions.value(QStringLiteral("undo"))) {
        undo->setToolTip(state.undoLabel.isEmpty()
                             ? QStringLiteral("Rückgängig")
                             : QStringLiteral("Rückgängig: ") + state.undoLabel);
    }
}

} // namespace qor::app
