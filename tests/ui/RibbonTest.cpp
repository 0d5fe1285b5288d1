#include "app/shell/Ribbon.h"
#include "app/theme/Theme.h"

#include "ShellDocument.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using qor::app::Ribbon;

namespace {

QStringList tabTexts(const Ribbon& ribbon)
{
    const auto* tabs = ribbon.findChild<QTabBar*>(QStringLiteral("RibbonTabs"));
    QStringList texts;
    for (int i = 0; i < tabs->count(); ++i)
        texts << tabs->tabText(i);
    return texts;
}

// The three pages the program shows first, each with one group.
struct ThreePages {
    Ribbon ribbon;
    int solid = ribbon.addPage(QStringLiteral("Volumenkörper"));
    int sketch = ribbon.addPage(QStringLiteral("Skizze"));
    int assembly = ribbon.addPage(QStringLiteral("Baugruppe"));
};

} // namespace

TEST(Ribbon, TabsAreUpperCaseAndFollowHiddenPages)
{
    ThreePages p;
    EXPECT_EQ(std::vector<int>({p.solid, p.sketch, p.assembly}), std::vector<int>({0, 1, 2}));
    EXPECT_EQ(tabTexts(p.ribbon),
              QStringList({QStringLiteral("VOLUMENKÖRPER"), QStringLiteral("SKIZZE"),
                           QStringLiteral("BAUGRUPPE")}));
    const auto* caption = p.ribbon.addGroup(p.solid, QStringLiteral("Prüfen"))
                              ->findChild<QLabel*>(QStringLiteral("GroupLabel"));
    EXPECT_EQ(caption->text(), QStringLiteral("PRÜFEN"));

    QSignalSpy changed(&p.ribbon, &Ribbon::pageChanged);
    p.ribbon.setCurrentPage(p.solid);
    p.ribbon.setPageVisible(p.solid, false);
    EXPECT_EQ(p.ribbon.currentPage(), p.sketch);
    EXPECT_EQ(tabTexts(p.ribbon), QStringList({QStringLiteral("SKIZZE"), QStringLiteral("BAUGRUPPE")}));
    for (int page : {p.solid, -1, 3, 99}) {
        p.ribbon.setCurrentPage(page);
        EXPECT_EQ(p.ribbon.currentPage(), p.sketch) << page;
    }
    p.ribbon.setPageVisible(p.solid, true);
    EXPECT_EQ(tabTexts(p.ribbon).first(), QStringLiteral("VOLUMENKÖRPER"));
    EXPECT_EQ(p.ribbon.currentPage(), p.sketch);
    EXPECT_EQ(changed.count(), 0);
}

TEST(Ribbon, PageNumbersOutsideThePagesAreIgnored)
{
    ThreePages p;
    for (int page : {-1, 3, 1000}) {
        EXPECT_EQ(p.ribbon.addGroup(page, QStringLiteral("Erstellen")), nullptr) << page;
        p.ribbon.addStretch(page);
        p.ribbon.setPageVisible(page, false);
    }
    EXPECT_EQ(tabTexts(p.ribbon).size(), 3);
    EXPECT_TRUE(p.ribbon.findChildren<qor::app::RibbonGroup*>().isEmpty());
}

TEST(Ribbon, SeparatorsGoBetweenGroupsAcrossStretches)
{
    ThreePages p;
    p.ribbon.addGroup(p.solid, QStringLiteral("Erstellen"));
    EXPECT_EQ(p.ribbon.findChildren<QFrame*>(QStringLiteral("GroupSep")).size(), 0);
    p.ribbon.addGroup(p.solid, QStringLiteral("Ändern"));
    p.ribbon.addStretch(p.solid);
    p.ribbon.addGroup(p.solid, QStringLiteral("Muster"));
    EXPECT_EQ(p.ribbon.findChildren<QFrame*>(QStringLiteral("GroupSep")).size(), 2);
}

TEST(Ribbon, LargeButtonsAreWideEnoughForTheirText)
{
    Ribbon ribbon;
    qor::app::RibbonGroup* group = ribbon.addGroup(ribbon.addPage(QStringLiteral("Skizze")),
                                                   QStringLiteral("Zeichnen"));
    QAction shortText(QStringLiteral("Ab"));
    QAction longText(QStringLiteral("Rechteckiges Muster"));
    QMenu menu;
    QToolButton* small = group->addAction(&shortText, true);
    QToolButton* wide = group->addAction(&longText, true);
    QToolButton* menuButton = group->addMenuButton(longText.text(), QIcon(), &menu);
    const int textWidth = wide->fontMetrics().horizontalAdvance(longText.text());
    ASSERT_GT(textWidth, 52);
    EXPECT_EQ(small->minimumWidth(), 52);
    EXPECT_EQ(wide->minimumWidth(), textWidth + 14);
    EXPECT_EQ(menuButton->minimumWidth(), textWidth + 22);
    EXPECT_EQ(group->addAction(&longText, false)->toolButtonStyle(), Qt::ToolButtonIconOnly);
    longText.setEnabled(false);
    EXPECT_FALSE(wide->isEnabled());
}

TEST(Ribbon, ClickingATabReportsThePageNumber)
{
    ThreePages p;
    p.ribbon.resize(900, 130);
    p.ribbon.setPageVisible(p.solid, false);
    p.ribbon.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&p.ribbon));
    QSignalSpy changed(&p.ribbon, &Ribbon::pageChanged);
    auto* tabs = p.ribbon.findChild<QTabBar*>(QStringLiteral("RibbonTabs"));
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toInt(), p.assembly);
    EXPECT_EQ(p.ribbon.currentPage(), p.assembly);
}

TEST(Ribbon, RendersFilledPages)
{
    const qor::app::Theme& theme = qor::app::Theme::instance();
    Ribbon ribbon;
    const int solid = ribbon.addPage(QStringLiteral("Volumenkörper"));
    ribbon.addPage(QStringLiteral("Skizze"));
    ribbon.addPage(QStringLiteral("Prüfen"));
    ribbon.addPage(QStringLiteral("Ausgabe"));
    std::vector<std::unique_ptr<QAction>> actions;
    const auto add = [&](qor::app::RibbonGroup* group, const char* icon, const QString& text) {
        actions.push_back(std::make_unique<QAction>(theme.icon(QString::fromLatin1(icon)), text));
        group->addAction(actions.back().get(), true);
    };
    qor::app::RibbonGroup* create = ribbon.addGroup(solid, QStringLiteral("Erstellen"));
    add(create, "sketch", QStringLiteral("Skizze"));
    add(create, "extrude", QStringLiteral("Extrusion"));
    add(create, "revolve", QStringLiteral("Drehung"));
    add(create, "hole", QStringLiteral("Bohrung"));
    QMenu primitives;
    create->addMenuButton(QStringLiteral("Grundkörper"), theme.icon(QStringLiteral("box")),
                          &primitives);
    qor::app::RibbonGroup* modify = ribbon.addGroup(solid, QStringLiteral("Ändern"));
    add(modify, "fillet", QStringLiteral("Verrundung"));
    add(modify, "chamfer", QStringLiteral("Fase"));
    add(modify, "shell", QStringLiteral("Wandstärke"));
    qor::app::RibbonGroup* pattern = ribbon.addGroup(solid, QStringLiteral("Muster"));
    add(pattern, "pattern_rect", QStringLiteral("Rechteckig"));
    add(pattern, "mirror", QStringLiteral("Spiegeln"));
    qor::app::RibbonGroup* check = ribbon.addGroup(solid, QStringLiteral("Prüfen"));
    add(check, "measure", QStringLiteral("Messen"));
    add(check, "parameters", QStringLiteral("Parameter"));
    ribbon.addStretch(solid);
    ribbon.setCurrentPage(solid);
    ribbon.resize(1100, ribbon.sizeHint().height());
    EXPECT_TRUE(qor::test::saveShot(ribbon, QStringLiteral("ribbon.png")));
}
