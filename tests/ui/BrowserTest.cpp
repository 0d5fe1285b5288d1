#include "app/shell/Browser.h"
#include "app/theme/Theme.h"
#include "model/Assembly.h"

#include "ShellDocument.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using qor::app::Browser;
using qor::app::BrowserEntry;
using qor::app::DocumentController;

namespace {

QStringList groupTexts(const BrowserEntry& root)
{
    QStringList texts;
    for (const BrowserEntry& group : root.children)
        texts << group.text;
    return texts;
}

const BrowserEntry& group(const BrowserEntry& root, int kind)
{
    for (const BrowserEntry& g : root.children) {
        if (g.kind == kind)
            return g;
    }
    throw std::runtime_error("no such group");
}

// A shown browser over a document, with helpers to click an item's name or eye.
struct ShownBrowser {
    DocumentController controller;
    Browser browser{&controller};

    ShownBrowser()
    {
        browser.resize(280, 520);
        browser.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&browser));
    }
    QTreeWidgetItem* find(int kind, int id = 0)
    {
        for (QTreeWidgetItemIterator it(&browser); *it; ++it) {
            if ((*it)->data(0, Qt::UserRole).toInt() == kind
                && (*it)->data(0, Qt::UserRole + 1).toInt() == id)
                return *it;
        }
        return nullptr;
    }
    void click(QTreeWidgetItem* item, int column)
    {
        const QRect cell = browser.visualRect(browser.indexFromItem(item, column));
        QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, cell.center());
    }
};

} // namespace

TEST(Browser, GroupsAndCountsOfPartsAndAssemblies)
{
    qor::model::Document empty;
    const BrowserEntry part = qor::app::browserTree(empty, QStringLiteral("Unbenannt"), false);
    EXPECT_EQ(groupTexts(part), QStringList({QStringLiteral("Ursprung"),
                                             QStringLiteral("Parameter (0)"),
                                             QStringLiteral("Körper (0)")}));
    EXPECT_EQ(group(part, 2).children.size(), 6u);

    qor::model::Document assembly;
    for (int id : {7, 8}) {
        qor::model::Component c;
        c.id = id;
        c.name = QStringLiteral("Teil %1").arg(id);
        assembly.components.push_back(c);
    }
    assembly.components[1].status = QStringLiteral("Datei fehlt");
    qor::model::Body foreign;
    foreign.id = 100000001;
    assembly.current.bodies[foreign.id] = foreign;
    qor::model::Mate suppressed;
    suppressed.id = 9;
    suppressed.suppressed = true;
    qor::model::Mate failing = suppressed;
    failing.id = 10;
    failing.status = QStringLiteral("Nicht lösbar");
    assembly.mates = {suppressed, failing};
    const BrowserEntry tree = qor::app::browserTree(assembly, QStringLiteral("Baugruppe"), false);
    EXPECT_EQ(groupTexts(tree), QStringList({QStringLiteral("Ursprung"),
                                             QStringLiteral("Parameter (0)"),
                                             QStringLiteral("Komponenten (2)"),
                                             QStringLiteral("Beziehungen (2)")}));
    const BrowserEntry& missing = group(tree, 13).children[1];
    EXPECT_EQ(missing.tint, BrowserEntry::Tint::Warning);
    EXPECT_EQ(missing.toolTip, QStringLiteral("Teil 8\nDatei fehlt"));
    const BrowserEntry& mates = group(tree, 15);
    EXPECT_EQ(mates.children[0].text, qor::model::mateTypeLabel(QStringLiteral("planar")));
    EXPECT_FALSE(mates.children[0].visible);
    EXPECT_EQ(mates.children[0].icon, QStringLiteral("mate"));
    EXPECT_EQ(mates.children[1].icon, QStringLiteral("error"));
    EXPECT_EQ(mates.children[1].tint, BrowserEntry::Tint::Danger);
}

TEST(Browser, HiddenBodiesAndFeaturesUseTheirOwnKeys)
{
    DocumentController controller;
    qor::test::buildShellPart(controller);
    qor::model::Document& doc = *controller.document;
    ASSERT_FALSE(doc.current.bodies.empty());
    const int bodyId = doc.current.bodies.begin()->first;
    const int sketchId = doc.features.front()->id;
    // The first body has id sketch id * 100 + k, never the sketch's own id: hide both.
    doc.hidden[bodyId] = true;
    doc.hidden[-sketchId] = true;
    const BrowserEntry tree = qor::app::browserTree(doc, QStringLiteral("Lagerbock"), true);
    EXPECT_EQ(groupTexts(tree), QStringList({QStringLiteral("Ursprung"),
                                             QStringLiteral("Parameter (2)"),
                                             QString("Körper (%1)").arg(doc.current.bodies.size()),
                                             QStringLiteral("Skizzen (2)"),
                                             QStringLiteral("Konstruktion")}));
    EXPECT_FALSE(group(tree, 4).children.front().visible);
    EXPECT_TRUE(group(tree, 4).children.back().visible);
    EXPECT_FALSE(group(tree, 6).children[0].visible);
    EXPECT_TRUE(group(tree, 6).children[1].visible);
    EXPECT_EQ(group(tree, 8).children.size(), 2u);
}

TEST(Browser, ClicksOnEyesNamesAndGroups)
{
    ShownBrowser b;
    qor::test::buildShellPart(b.controller);
    b.controller.document->hidden[b.controller.document->current.bodies.begin()->first] = true;
    b.browser.rebuild();
    const int bodyId = b.controller.document->current.bodies.begin()->first;
    QTreeWidgetItem* body = b.find(5, bodyId);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->toolTip(1), QStringLiteral("Einblenden"));
    EXPECT_EQ(body->foreground(0).color(), qor::app::Theme::instance().textMute);

    QSignalSpy toggled(&b.browser, &Browser::toggleVisible);
    QSignalSpy selected(&b.browser, &Browser::bodySelected);
    QSignalSpy origin(&b.browser, &Browser::originToggled);
    QSignalSpy edit(&b.browser, &Browser::editRequested);
    b.click(body, 1);
    b.click(body, 0);
    b.click(b.find(2), 1);
    b.click(b.find(2), 1);
    // A double click arrives after the press and release of its first click.
    b.click(b.find(3), 0);
    QTest::mouseDClick(b.browser.viewport(), Qt::LeftButton, {},
                       b.browser.visualItemRect(b.find(3)).center());
    ASSERT_EQ(toggled.count(), 1);
    EXPECT_EQ(toggled.at(0), QVariantList({5, bodyId}));
    EXPECT_EQ(selected.count(), 1);
    ASSERT_EQ(origin.count(), 2);
    EXPECT_TRUE(origin.at(0).at(0).toBool());
    EXPECT_FALSE(origin.at(1).at(0).toBool());
    ASSERT_EQ(edit.count(), 1);
    EXPECT_EQ(edit.at(0), QVariantList({3, 0}));
}

TEST(Browser, CollapsedGroupsStayCollapsedAcrossRebuilds)
{
    ShownBrowser b;
    qor::model::Document& doc = *b.controller.document;
    qor::test::addRectangleSketch(doc, -1, 5, 5);
    qor::test::addRectangleSketch(doc, -2, 5, 5);
    doc.addFeature(QStringLiteral("plane"));
    b.browser.rebuild();
    b.find(6)->setExpanded(false);
    b.find(8)->setExpanded(false);
    qor::test::addRectangleSketch(doc, -3, 5, 5);
    b.browser.rebuild();
    EXPECT_EQ(b.find(6)->text(0), QStringLiteral("Skizzen (3)"));
    EXPECT_FALSE(b.find(6)->isExpanded());
    EXPECT_FALSE(b.find(8)->isExpanded());
    EXPECT_TRUE(b.find(4)->isExpanded());
    EXPECT_FALSE(b.find(2)->isExpanded());
    b.find(6)->setExpanded(true);
    b.browser.rebuild();
    EXPECT_TRUE(b.find(6)->isExpanded());
}

// In the side panel as the main window shows it: the tree itself is transparent.
TEST(Browser, RendersARealPart)
{
    DocumentController controller;
    qor::test::buildShellPart(controller);
    controller.document->hidden[controller.document->current.bodies.rbegin()->first] = true;
    QWidget panel;
    panel.setObjectName(QStringLiteral("SidePanel"));
    panel.setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QVBoxLayout(&panel);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(QStringLiteral("BROWSER"));
    title->setObjectName(QStringLiteral("PanelTitle"));
    layout->addWidget(title);
    auto* browser = new Browser(&controller);
    layout->addWidget(browser);
    browser->setOriginVisible(true);
    browser->topLevelItem(0)->child(0)->setExpanded(true);
    panel.resize(250, 560);
    EXPECT_TRUE(qor::test::saveShot(panel, QStringLiteral("browser.png")));
}
