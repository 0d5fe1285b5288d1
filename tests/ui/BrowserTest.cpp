#include "app/shell/Browser.h"
#include "ui/theme/Theme.h"
#include "model/Assembly.h"

#include "ShellDocument.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using qor::app::Browser;
using qor::app::BrowserEntry;

namespace {

QStringList groupTexts(const BrowserEntry& root)
{
    QStringList texts;
    for (const BrowserEntry& group : root.children)
        texts << group.text;
    return texts;
}

// A recomputed part in a shown side panel (the tree itself is transparent), with clicks on
// an item's name or eye column.
struct ShownBrowser {
    qor::app::DocumentController controller;
    QWidget panel;
    Browser& browser = *new Browser(&controller, &panel);

    ShownBrowser()
    {
        qor::test::buildShellPart(controller);
        panel.setObjectName(QStringLiteral("SidePanel"));
        panel.setAttribute(Qt::WA_StyledBackground);
        panel.resize(250, 540);
        browser.resize(panel.size());
        panel.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&panel));
    }
    QTreeWidgetItem* find(int kind, int id = 0)
    {
        for (QTreeWidgetItemIterator it(&browser); *it; ++it) {
            if ((*it)->data(0, Qt::UserRole) == kind && (*it)->data(0, Qt::UserRole + 1) == id)
                return *it;
        }
        return nullptr;
    }
    void click(int kind, int id, int column)
    {
        const QRect cell = browser.visualRect(browser.indexFromItem(find(kind, id), column));
        QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, cell.center());
    }
};

} // namespace

TEST(Browser, GroupsAndCountsOfPartsAndAssemblies)
{
    qor::model::Document doc;
    EXPECT_EQ(groupTexts(qor::app::browserTree(doc, QString(), false)),
              QStringList({"Ursprung", "Parameter (0)", "Körper (0)"}));

    doc.components.resize(2);
    doc.components[1].status = QStringLiteral("Datei fehlt");
    doc.current.bodies[100000001] = qor::model::Body{}; // a component's body
    doc.mates.resize(2);
    doc.mates[0].suppressed = true;
    doc.mates[1].status = QStringLiteral("Nicht lösbar");
    const BrowserEntry tree = qor::app::browserTree(doc, QString(), false);
    EXPECT_EQ(groupTexts(tree),
              QStringList({"Ursprung", "Parameter (0)", "Komponenten (2)", "Beziehungen (2)"}));
    EXPECT_EQ(tree.children[2].children[1].tint, BrowserEntry::Tint::Warning);
    const BrowserEntry& mates = tree.children[3];
    EXPECT_EQ(mates.children[0].text, qor::model::mateTypeLabel(QStringLiteral("planar")));
    EXPECT_FALSE(mates.children[0].visible);
    EXPECT_EQ(mates.children[1].icon, QStringLiteral("error"));
}

TEST(Browser, EyesNamesAndGroupsSendTheirSignals)
{
    ShownBrowser b;
    const int bodyId = b.controller.document->current.bodies.begin()->first;
    b.controller.document->hidden[bodyId] = true;
    b.controller.document->hidden[-b.controller.document->features[0]->id] = true;
    b.browser.setOriginVisible(true);
    b.find(2)->setExpanded(true);
    EXPECT_TRUE(qor::test::saveShot(b.panel, QStringLiteral("browser.png")));
    EXPECT_EQ(b.find(5, bodyId)->toolTip(1), QStringLiteral("Einblenden"));
    // Hidden items are drawn muted although the style sheet colours every item's text.
    const QImage shot = b.browser.viewport()->grab().toImage();
    const QRect hiddenRow = b.browser.visualRect(b.browser.indexFromItem(b.find(5, bodyId), 0));
    int brightest = 0;
    for (int y = hiddenRow.top(); y <= hiddenRow.bottom(); ++y)
        for (int x = hiddenRow.left(); x <= hiddenRow.right(); ++x)
            brightest = std::max(brightest, qGray(shot.pixel(x, y)));
    EXPECT_LE(brightest, qGray(qor::app::Theme::instance().textMute.rgb()));
    EXPECT_EQ(b.find(7, b.controller.document->features[0]->id)->toolTip(1),
              QStringLiteral("Einblenden"));
    EXPECT_EQ(b.find(4)->text(0),
              QStringLiteral("Körper (%1)").arg(b.controller.document->current.bodies.size()));

    QSignalSpy toggled(&b.browser, &Browser::toggleVisible);
    QSignalSpy selected(&b.browser, &Browser::bodySelected);
    QSignalSpy origin(&b.browser, &Browser::originToggled);
    QSignalSpy edit(&b.browser, &Browser::editRequested);
    b.click(5, bodyId, 1);
    b.click(5, bodyId, 0);
    b.click(2, 0, 1);
    b.click(2, 0, 1);
    b.click(3, 0, 0); // a double click follows the press and release of a first click
    QTest::mouseDClick(b.browser.viewport(), Qt::LeftButton, {},
                       b.browser.visualItemRect(b.find(3)).center());
    EXPECT_EQ(toggled, QList<QVariantList>({{5, bodyId}}));
    EXPECT_EQ(selected, QList<QVariantList>({{bodyId}}));
    EXPECT_EQ(origin, QList<QVariantList>({{false}, {true}}));
    EXPECT_EQ(edit, QList<QVariantList>({{3, 0}}));
}

TEST(Browser, CollapsedGroupsStayCollapsedAcrossRebuilds)
{
    ShownBrowser b;
    b.browser.rebuild();
    b.find(6)->setExpanded(false);
    b.find(8)->setExpanded(false);
    qor::test::addRectangleSketch(*b.controller.document, -3, 5, 5);
    b.browser.rebuild();
    EXPECT_EQ(b.find(6)->text(0), QStringLiteral("Skizzen (3)"));
    EXPECT_FALSE(b.find(6)->isExpanded());
    EXPECT_FALSE(b.find(8)->isExpanded());
    EXPECT_TRUE(b.find(4)->isExpanded());
    EXPECT_FALSE(b.find(2)->isExpanded());
}
