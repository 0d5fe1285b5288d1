#include "app/shell/Ribbon.h"
#include "ui/theme/Theme.h"

#include "ShellDocument.h"
#include "tests/ui/RibbonTabs.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QThread>
#include <QToolButton>

#include <gtest/gtest.h>

using qor::app::Ribbon;
using qor::test::tabTexts;

namespace {

struct ThreePages {
    Ribbon ribbon;
    int solid = ribbon.addPage(QStringLiteral("Volumenkörper"));
    int sketch = ribbon.addPage(QStringLiteral("Skizze"));
    int assembly = ribbon.addPage(QStringLiteral("Baugruppe"));
};

} // namespace

TEST(Ribbon, TabsGroupsAndHiddenPagesIgnoringUnknownPageNumbers)
{
    ThreePages p;
    const QStringList all
        = {QStringLiteral("VOLUMENKÖRPER"), QStringLiteral("SKIZZE"), QStringLiteral("BAUGRUPPE")};
    EXPECT_EQ(tabTexts(p.ribbon), all);
    QSignalSpy changed(&p.ribbon, &Ribbon::pageChanged);
    p.ribbon.setPageVisible(p.solid, false);
    EXPECT_EQ(p.ribbon.currentPage(), p.sketch);
    EXPECT_EQ(tabTexts(p.ribbon), all.mid(1));
    p.ribbon.setCurrentPage(p.solid);
    for (int page : {-1, 3, 1000}) {
        p.ribbon.setCurrentPage(page);
        EXPECT_EQ(p.ribbon.addGroup(page, QStringLiteral("Erstellen")), nullptr);
        p.ribbon.addStretch(page);
        p.ribbon.setPageVisible(page, false);
    }
    EXPECT_EQ(p.ribbon.currentPage(), p.sketch);
    p.ribbon.setPageVisible(p.solid, true);
    EXPECT_EQ(tabTexts(p.ribbon), all);
    EXPECT_EQ(p.ribbon.currentPage(), p.sketch);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_TRUE(p.ribbon.findChildren<qor::app::RibbonGroup*>().isEmpty());

    p.ribbon.addGroup(p.assembly, QStringLiteral("Prüfen"));
    p.ribbon.addGroup(p.assembly, QStringLiteral("Ändern"));
    p.ribbon.addStretch(p.assembly);
    p.ribbon.addGroup(p.assembly, QStringLiteral("Muster"));
    EXPECT_EQ(p.ribbon.findChildren<QFrame*>(QStringLiteral("GroupSep")).size(), 2);
    EXPECT_EQ(p.ribbon.findChild<QLabel*>(QStringLiteral("GroupLabel"))->text(),
              QStringLiteral("PRÜFEN"));

    p.ribbon.setPageVisible(p.solid, false);
    changed.clear();
    p.ribbon.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&p.ribbon));
    auto* tabs = p.ribbon.findChild<QTabBar*>(QStringLiteral("RibbonTabs"));
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_EQ(changed, QList<QVariantList>({{p.assembly}})); // the page, not the tab index 1
    EXPECT_EQ(p.ribbon.currentPage(), p.assembly);
}

// A button whose command shows the other page and then holds the window up, as leaving a
// sketch with its recompute does, and under it on the other page a button of its own: a
// double click on the first runs its command once and takes nothing of the other page, be
// the window free again at once or only after the double-click interval; a click that
// follows later takes the other page's button.
TEST(Ribbon, TheSecondPressOfADoubleClickThatChangedThePageTakesNothing)
{
    for (const int busyMs : {0, QApplication::doubleClickInterval() + 200}) {
        SCOPED_TRACE(busyMs);
        Ribbon ribbon;
        const int first = ribbon.addPage(QStringLiteral("Skizze"));
        const int second = ribbon.addPage(QStringLiteral("Volumenkörper"));
        QAction leave(QStringLiteral("Skizze beenden"));
        QAction extrude(QStringLiteral("Extrusion"));
        QToolButton* leaving = ribbon.addGroup(first, QStringLiteral("Skizze"))->addAction(&leave);
        QToolButton* under
            = ribbon.addGroup(second, QStringLiteral("Erstellen"))->addAction(&extrude);
        int left = 0;
        QObject::connect(&leave, &QAction::triggered, [&] {
            ++left;
            ribbon.setCurrentPage(second);
            QThread::msleep(unsigned(busyMs));
        });
        int extruded = 0;
        QObject::connect(&extrude, &QAction::triggered, [&extruded] { ++extruded; });
        ribbon.resize(400, 140);
        ribbon.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&ribbon));
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        const QPoint at = leaving->mapTo(&ribbon, leaving->rect().center());

        QTest::mouseDClick(ribbon.windowHandle(), Qt::LeftButton, {}, at);
        EXPECT_EQ(ribbon.currentPage(), second);
        ASSERT_EQ(ribbon.childAt(at), under);
        EXPECT_EQ(left, 1);
        EXPECT_EQ(extruded, 0);

        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseClick(ribbon.windowHandle(), Qt::LeftButton, {}, at);
        EXPECT_EQ(extruded, 1);
    }
}

TEST(Ribbon, RendersFilledPage)
{
    const qor::app::Theme& theme = qor::app::Theme::instance();
    ThreePages p;
    p.ribbon.addPage(QStringLiteral("Ausgabe"));
    // Group title, then icon and text of each command.
    const QStringList groups
        = {"Erstellen|sketch:Skizze|extrude:Extrusion|revolve:Drehung|hole:Bohrung",
           "Ändern|fillet:Verrundung|chamfer:Fase|shell:Wandstärke",
           "Muster|pattern_rect:Rechteckig|mirror:Spiegeln",
           "Prüfen|measure:Messen|parameters:Parameter"};
    std::vector<std::unique_ptr<QAction>> actions;
    for (const QString& spec : groups) {
        const QStringList parts = spec.split(QLatin1Char('|'));
        qor::app::RibbonGroup* group = p.ribbon.addGroup(p.solid, parts[0]);
        for (const QString& command : parts.mid(1)) {
            actions.push_back(std::make_unique<QAction>(theme.icon(command.section(':', 0, 0)),
                                                        command.section(':', 1)));
            group->addAction(actions.back().get(), true);
        }
    }
    QMenu primitives;
    QToolButton* more = p.ribbon.findChild<qor::app::RibbonGroup*>()->addMenuButton(
        QStringLiteral("Grundkörper"), theme.icon(QStringLiteral("box")), &primitives);
    EXPECT_GE(more->minimumWidth(), more->fontMetrics().horizontalAdvance(more->text()) + 22);
    p.ribbon.addStretch(p.solid);
    p.ribbon.setCurrentPage(p.solid);
    p.ribbon.resize(1100, p.ribbon.sizeHint().height());
    EXPECT_TRUE(qor::test::saveShot(p.ribbon, QStringLiteral("ribbon.png")));
}
