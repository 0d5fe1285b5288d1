#include "app/RibbonLayout.h"
#include "app/CommandTable.h"
#include "app/shell/Ribbon.h"

#include "ShellDocument.h"
#include "tests/ui/RibbonTabs.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QScrollArea>
#include <QTabBar>
#include <QToolButton>

#include <gtest/gtest.h>

using qor::app::Ribbon;
using qor::test::tabTexts;

namespace {

// Every button and menu entry of the ribbon by command text.
QStringList buttonTexts(const Ribbon& ribbon)
{
    QStringList texts;
    for (const QToolButton* button : ribbon.findChildren<QToolButton*>()) {
        texts << button->text();
        if (button->menu()) {
            for (const QAction* entry : button->menu()->actions())
                texts << QStringLiteral("  ") + entry->text();
        }
    }
    return texts;
}

struct FilledRibbon {
    QMainWindow window;
    QMap<QString, QAction*> actions
        = qor::app::createActions(&window, [](const qor::app::CommandSpec&) { return [] {}; });
    Ribbon* ribbon = new Ribbon(&window);
    qor::app::RibbonPages pages = qor::app::fillRibbon(*ribbon, actions, &window);
};

const QStringList allPages
    = {QStringLiteral("VOLUMENKÖRPER"), QStringLiteral("SKIZZE"), QStringLiteral("BAUGRUPPE"),
       QStringLiteral("PRÜFEN"), QStringLiteral("AUSGABE")};

} // namespace

TEST(RibbonLayout, PagesInOrderWithTheSketchPageOnlyInSketchMode)
{
    FilledRibbon f;
    const qor::app::RibbonPages& p = f.pages;
    EXPECT_EQ(std::vector<int>({p.solid, p.sketch, p.assembly, p.check, p.output}),
              std::vector<int>({0, 1, 2, 3, 4}));
    const QStringList outside = {allPages[0], allPages[2], allPages[3], allPages[4]};
    EXPECT_EQ(tabTexts(*f.ribbon), outside);
    EXPECT_EQ(f.ribbon->currentPage(), p.solid);
    f.ribbon->setCurrentPage(p.sketch);
    EXPECT_EQ(f.ribbon->currentPage(), p.solid);

    qor::app::setSketchRibbon(*f.ribbon, p, true);
    EXPECT_EQ(tabTexts(*f.ribbon), QStringList({allPages[1], allPages[3], allPages[4]}));
    EXPECT_EQ(f.ribbon->currentPage(), p.sketch);
    qor::app::setSketchRibbon(*f.ribbon, p, false);
    EXPECT_EQ(tabTexts(*f.ribbon), outside);
    EXPECT_EQ(f.ribbon->currentPage(), p.solid);

    // Every command but the ones reached otherwise stands somewhere; some on two pages.
    const QStringList texts = buttonTexts(*f.ribbon);
    for (const char* label : {"Feder", "Rechteck", "Boolesch", "Kreis 3 Pkt.", "Fixieren"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(label))
                    || texts.contains(QStringLiteral("  ") + QString::fromUtf8(label)))
            << label;
    EXPECT_EQ(texts.count(QStringLiteral("Zeichnung")), 2);
    EXPECT_EQ(texts.count(QStringLiteral("Rendern")), 2);
    for (const char* absent : {"Neu", "Rückgängig", "Beenden", "Löschen", "Import"})
        EXPECT_EQ(texts.count(QString::fromUtf8(absent)), absent == std::string("Import"))
            << absent; // the visible import command only, not the hidden feature
    int buttons = 0;
    for (const auto* group : f.ribbon->findChildren<qor::app::RibbonGroup*>())
        buttons += int(group->findChildren<QToolButton*>().size());
    EXPECT_EQ(buttons, 28 + 25 + 11 + 7 + 7);
}

TEST(RibbonLayout, RendersEveryPageReadably)
{
    FilledRibbon f;
    f.window.setCentralWidget(f.ribbon);
    // Wide enough for the widest page, so that the picture shows every button.
    int width = 0;
    for (const QScrollArea* area : f.ribbon->findChildren<QScrollArea*>())
        width = std::max(width, area->widget()->sizeHint().width());
    f.window.resize(width + 20, f.ribbon->sizeHint().height());
    f.window.show();
    EXPECT_TRUE(qor::test::saveShot(*f.ribbon, QStringLiteral("ribbon-full.png")));
    // A large button's text fits the button.
    for (const QToolButton* button : f.ribbon->findChildren<QToolButton*>()) {
        if (button->toolButtonStyle() == Qt::ToolButtonTextUnderIcon
            && button->isVisibleTo(f.ribbon))
            EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()))
                << button->text().toStdString();
    }
    qor::app::setSketchRibbon(*f.ribbon, f.pages, true);
    EXPECT_TRUE(qor::test::saveShot(*f.ribbon, QStringLiteral("ribbon-sketch.png")));
    for (int page : {f.pages.assembly, f.pages.check, f.pages.output}) {
        qor::app::setSketchRibbon(*f.ribbon, f.pages, false);
        f.ribbon->setCurrentPage(page);
        EXPECT_TRUE(qor::test::saveShot(*f.ribbon, QStringLiteral("ribbon-page%1.png").arg(page)));
    }
}
