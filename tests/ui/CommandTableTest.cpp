#include "app/CommandTable.h"

#include <gtest/gtest.h>

#include <set>

using qor::app::CommandSpec;
using qor::app::CommandState;

namespace {

QString native(const char* keys)
{
    return QKeySequence(QString::fromLatin1(keys)).toString(QKeySequence::NativeText);
}

const CommandSpec& command(const char* id)
{
    const CommandSpec* spec = qor::app::findCommand(QString::fromLatin1(id));
    EXPECT_NE(spec, nullptr) << id;
    static const CommandSpec none;
    return spec ? *spec : none;
}

} // namespace

// The table itself; the window's actions made from it are checked on the real window.
TEST(CommandTable, HundredAndOneCommandsWithLabelsShortcutsAndToolTips)
{
    const auto& table = qor::app::commandTable();
    ASSERT_EQ(table.size(), 101u);
    std::set<QString> ids;
    int features = 0;
    for (const CommandSpec& spec : table) {
        EXPECT_TRUE(ids.insert(spec.id).second) << spec.id.toStdString();
        EXPECT_FALSE(spec.label.isEmpty()) << spec.id.toStdString();
        EXPECT_EQ(spec.hidden, spec.id == QStringLiteral("f_import"));
        features += spec.group == qor::app::CommandGroup::Feature;
    }
    EXPECT_EQ(features, 31);
    EXPECT_EQ(qor::app::findCommand(QStringLiteral("f_sketch")), nullptr);
    EXPECT_EQ(qor::app::findCommand(QStringLiteral("Lagerbock")), nullptr);

    const std::pair<const char*, QString> toolTips[] = {
        {"saveas", QStringLiteral("Speichern unter … (%1)").arg(native("Ctrl+Shift+S"))},
        {"open", QStringLiteral("Öffnen … (%1)")
                     .arg(QKeySequence(QKeySequence::Open).toString(QKeySequence::NativeText))},
        {"settings", QStringLiteral("Einstellungen")},
        {"sketch", QStringLiteral("Neue Skizze auf Ebene oder Fläche (S)")},
        {"f_extrude", QStringLiteral("Extrusion (E) – Profil linear austragen")},
        // Shortcut set after the tool tip was fixed: no key in the tool tip.
        {"f_hole", QStringLiteral("Bohrung")},
        {"f_fillet", QStringLiteral("Verrundung")},
        {"f_pattern_rect", QStringLiteral("Rechteckmuster")},
        {"fit", QStringLiteral("Alles zeigen (%1)").arg(native("F"))},
        {"view_front", QStringLiteral("Vorne (%1)").arg(native("1"))},
        {"showrest", QStringLiteral("Zeigt die Körper, deren Anzeige abgebrochen wurde")},
    };
    for (const auto& [id, tip] : toolTips)
        EXPECT_EQ(qor::app::commandToolTip(command(id)), tip) << id;
    EXPECT_EQ(command("f_hole").shortcut, QKeySequence("H"));
    EXPECT_EQ(command("f_fillet").shortcut, QKeySequence("Shift+F"));
    EXPECT_EQ(command("f_pattern_circ").label, QStringLiteral("Kreis"));
    EXPECT_EQ(command("delete").shortcut, QKeySequence(QKeySequence::Delete));
}

TEST(CommandTable, EnablementFollowsSketchModeBusyPanelsAndHistory)
{
    using qor::app::Enablement;
    struct Case {
        const char* what;
        CommandState state;
        bool modelling, undo, redo;
    };
    const Case cases[] = {
        {"idle", {false, false, false, false, true, false, {}, false}, true, true, false},
        {"idle, nothing to undo",
         {false, false, true, true, false, true, {}, true},
         true,
         false,
         true},
        {"busy", {false, true, false, false, true, true, {}, false}, false, false, false},
        {"sketch", {true, false, true, false, false, true, {}, true}, false, true, false},
        {"sketch while busy",
         {true, true, false, true, true, false, {}, false},
         false,
         false,
         true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qor::app::isEnabled(Enablement::Modelling, c.state), c.modelling) << c.what;
        EXPECT_EQ(qor::app::isEnabled(Enablement::Undo, c.state), c.undo) << c.what;
        EXPECT_EQ(qor::app::isEnabled(Enablement::Redo, c.state), c.redo) << c.what;
        EXPECT_TRUE(qor::app::isEnabled(Enablement::Always, c.state)) << c.what;
        // Showing what a cancelled display left out changes nothing of the document.
        EXPECT_EQ(qor::app::isEnabled(Enablement::LeftOut, c.state), c.state.bodiesLeftOut)
            << c.what;
    }
}
