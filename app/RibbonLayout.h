#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

class QAction;
class QWidget;

namespace qor::app {

class Ribbon;

// One place in a group: a command button, or a menu button when menuText is set.
struct RibbonItem {
    QString command;
    bool large = true;
    QString menuText;
    QString menuIcon;
    QStringList menuCommands;
};

struct RibbonGroupLayout {
    QString title;
    std::vector<RibbonItem> items;
};

struct RibbonPageLayout {
    QString title;
    std::vector<RibbonGroupLayout> groups;
    bool hidden = false; // shown only in sketch mode
};

// The five pages "Volumenkörper", "Skizze", "Baugruppe", "Prüfen", "Ausgabe" in order.
const std::vector<RibbonPageLayout>& ribbonLayout();

// Page numbers as the ribbon handed them out.
struct RibbonPages {
    int solid = -1;
    int sketch = -1;
    int assembly = -1;
    int check = -1;
    int output = -1;
};

// Fills an empty ribbon with the layout's pages, groups and buttons bound to the actions by
// command id, hides the sketch page and selects "Volumenkörper". Menus of menu buttons
// belong to menuParent. A command missing from the actions gets no button.
RibbonPages fillRibbon(Ribbon& ribbon, const QMap<QString, QAction*>& actions, QWidget* menuParent);

// Sketch mode shows and selects "Skizze" and hides "Volumenkörper" and "Baugruppe";
// leaving it does the reverse and selects "Volumenkörper".
void setSketchRibbon(Ribbon& ribbon, const RibbonPages& pages, bool sketchMode);

} // namespace qor::app
