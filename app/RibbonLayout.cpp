#include "app/RibbonLayout.h"

#include "app/shell/Ribbon.h"
#include "ui/theme/Theme.h"

#include <QAction>
#include <QMenu>

namespace qor::app {

namespace {

QStringList ids(std::initializer_list<const char*> names)
{
    QStringList list;
    for (const char* name : names)
        list << QString::fromLatin1(name);
    return list;
}

RibbonGroupLayout group(const QString& title, std::initializer_list<const char*> commands,
                        bool large = true)
{
    RibbonGroupLayout g{title, {}};
    for (const QString& id : ids(commands))
        g.items.push_back({id, large, {}, {}, {}});
    return g;
}

RibbonItem menu(const QString& text, const QString& icon,
                std::initializer_list<const char*> commands)
{
    return {{}, true, text, icon, ids(commands)};
}

std::vector<RibbonPageLayout> buildLayout()
{
    RibbonGroupLayout create
        = group(QStringLiteral("Erstellen"), {"sketch", "f_extrude", "f_revolve", "f_sweep",
                                              "f_loft", "f_hole", "f_thread", "f_rib", "f_text"});
    // The coil stands with the primitives although the registry files it under creating.
    create.items.push_back(menu(QStringLiteral("Grundkörper"), QStringLiteral("box"),
                                {"f_box", "f_cylinder", "f_sphere", "f_torus", "f_coil"}));
    RibbonGroupLayout modify = group(QStringLiteral("Ändern"),
                                     {"f_fillet", "f_chamfer", "f_shell", "f_draft", "f_combine"});
    modify.items.push_back(menu(QStringLiteral("Mehr"), QStringLiteral("move"),
                                {"f_split", "f_move", "f_scale", "f_thicken"}));
    RibbonGroupLayout draw
        = group(QStringLiteral("Zeichnen"), {"sk_line", "sk_rect", "sk_circle", "sk_arc3"});
    draw.items.push_back(
        menu(QStringLiteral("Formen"), QStringLiteral("polygon"),
             {"sk_rect_center", "sk_circle3", "sk_arc_center", "sk_polygon", "sk_slot"}));
    draw.items.push_back({QStringLiteral("sk_point"), true, {}, {}, {}});

    return {
        {QStringLiteral("Volumenkörper"),
         {create, modify, group(QStringLiteral("Direkt"), {"f_offset_faces", "f_delete_faces"}),
          group(QStringLiteral("Muster"),
                {"f_pattern_rect", "f_pattern_circ", "f_pattern_path", "f_mirror"}),
          group(QStringLiteral("Konstruktion"), {"f_plane", "f_axis"}),
          group(QStringLiteral("Prüfen"), {"drawing", "measure", "appearance", "parameters"})}},
        {QStringLiteral("Skizze"),
         {draw,
          group(QStringLiteral("Ändern"),
                {"sk_trim", "sk_fillet", "sk_construction", "sk_project"}),
          group(QStringLiteral("Bemaßung"), {"sk_dimension"}),
          group(QStringLiteral("Bedingungen"),
                {"c_horizontal", "c_vertical", "c_coincident", "c_parallel", "c_perpendicular",
                 "c_tangent"},
                false),
          // A blank title keeps the second row of constraints level with the first.
          group(QStringLiteral(" "),
                {"c_equal", "c_midpoint", "c_concentric", "c_collinear", "c_symmetric", "c_fix"},
                false),
          group(QStringLiteral("Skizze"), {"sk_finish", "sk_cancel"})},
         true},
        {QStringLiteral("Baugruppe"),
         {group(QStringLiteral("Komponente"), {"asm_insert", "asm_move", "asm_ground"}),
          group(QStringLiteral("Beziehungen"),
                {"mate_planar", "mate_flush", "mate_concentric", "mate_angle", "mate_point"}),
          group(QStringLiteral("Prüfen"), {"interference", "asm_bom", "asm_explode"})}},
        {QStringLiteral("Prüfen"),
         {group(QStringLiteral("Analyse"), {"measure", "mass", "section", "interference"}),
          // The way back after a cancelled display, greyed while nothing is left out.
          group(QStringLiteral("Darstellung"), {"appearance", "render", "fit", "showrest"})}},
        {QStringLiteral("Ausgabe"),
         {group(QStringLiteral("Datei"), {"open", "save", "saveas"}),
          group(QStringLiteral("Zeichnung"), {"drawing"}),
          group(QStringLiteral("Bild"), {"render"}),
          group(QStringLiteral("Austausch"), {"import", "export"})}},
    };
}

void addItem(RibbonGroup& group, const RibbonItem& item, const QMap<QString, QAction*>& actions,
             QWidget* menuParent)
{
    if (item.menuText.isEmpty()) {
        if (QAction* action = actions.value(item.command))
            group.addAction(action, item.large);
        return;
    }
    auto* popup = new QMenu(menuParent);
    for (const QString& id : item.menuCommands) {
        if (QAction* action = actions.value(id))
            popup->addAction(action);
    }
    group.addMenuButton(item.menuText, Theme::instance().icon(item.menuIcon), popup);
}

} // namespace

const std::vector<RibbonPageLayout>& ribbonLayout()
{
    static const std::vector<RibbonPageLayout> layout = buildLayout();
    return layout;
}

RibbonPages fillRibbon(Ribbon& ribbon, const QMap<QString, QAction*>& actions, QWidget* menuParent)
{
    std::vector<int> numbers;
    for (const RibbonPageLayout& page : ribbonLayout()) {
        const int number = ribbon.addPage(page.title);
        for (const RibbonGroupLayout& g : page.groups) {
            RibbonGroup* group = ribbon.addGroup(number, g.title);
            for (const RibbonItem& item : g.items)
                addItem(*group, item, actions, menuParent);
        }
        ribbon.addStretch(number);
        if (page.hidden)
            ribbon.setPageVisible(number, false);
        numbers.push_back(number);
    }
    const RibbonPages pages{numbers[0], numbers[1], numbers[2], numbers[3], numbers[4]};
    ribbon.setCurrentPage(pages.solid);
    return pages;
}

void setSketchRibbon(Ribbon& ribbon, const RibbonPages& pages, bool sketchMode)
{
    // The page to select is shown first: the ribbon ignores selecting a hidden page.
    const int shown = sketchMode ? pages.sketch : pages.solid;
    ribbon.setPageVisible(shown, true);
    ribbon.setCurrentPage(shown);
    ribbon.setPageVisible(pages.assembly, !sketchMode);
    ribbon.setPageVisible(sketchMode ? pages.solid : pages.sketch, false);
}

} // namespace qor::app
