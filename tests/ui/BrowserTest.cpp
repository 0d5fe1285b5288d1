#include "app/shell/Browser.h"
#include "model/Assembly.h"
#include "tests/fixtures/XtShapeWriter.h"
#include "ui/theme/Theme.h"

#include "ShellDocument.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

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

// The name of an origin plane or a work plane sends the plane; an axis, a body, a sketch or an
// eye does not.
TEST(Browser, PlaneNamesSendTheirPlanes)
{
    ShownBrowser b;
    const auto& features = b.controller.document->features;
    const auto idOf = [&features](const char* type) {
        for (const auto& f : features) {
            if (f->type == QLatin1String(type))
                return f->id;
        }
        ADD_FAILURE() << "no " << type;
        return 0;
    };
    const int workPlane = idOf("plane");
    const int bodyId = b.controller.document->current.bodies.begin()->first;
    b.browser.rebuild();
    b.find(2)->setExpanded(true);
    QSignalSpy planes(&b.browser, &Browser::planeClicked);
    QSignalSpy toggled(&b.browser, &Browser::toggleVisible);
    struct Click {
        int kind;
        int id;
        int column;
    };
    const Click clicks[] = {
        {11, -2, 0},           {12, -11, 0},   {9, workPlane, 0},      {9, workPlane, 1},
        {10, idOf("axis"), 0}, {5, bodyId, 0}, {7, idOf("sketch"), 0}, {11, -3, 0},
    };
    for (const Click& c : clicks) {
        QTreeWidgetItem* item = b.find(c.kind, c.id);
        ASSERT_TRUE(item) << c.kind << " " << c.id;
        b.browser.scrollToItem(item);
        b.click(c.kind, c.id, c.column);
    }
    EXPECT_EQ(planes, QList<QVariantList>({{11, -2}, {9, workPlane}, {11, -3}}));
    EXPECT_EQ(toggled, QList<QVariantList>({{9, workPlane}}));
}

// The origin group lists its planes from the start like every other group; a group the user
// folds, the origin group included, stays folded.
TEST(Browser, CollapsedGroupsStayCollapsedAcrossRebuilds)
{
    ShownBrowser b;
    b.browser.rebuild();
    for (int group : {2, 4, 6, 8})
        EXPECT_TRUE(b.find(group)->isExpanded()) << group;
    for (int group : {2, 6, 8})
        b.find(group)->setExpanded(false);
    qor::test::addRectangleSketch(*b.controller.document, -3, 5, 5);
    b.browser.rebuild();
    EXPECT_EQ(b.find(6)->text(0), QStringLiteral("Skizzen (3)"));
    for (int group : {2, 6, 8})
        EXPECT_FALSE(b.find(group)->isExpanded()) << group;
    EXPECT_TRUE(b.find(4)->isExpanded());
}

// The warning mark of a component tells of what it lacks: a failed read, faces, bodies or
// files left out. Notes that only say how a reader approximated the file's geometry show in
// the tool tip without the mark. The components are read from files as an assembly reads
// them, a real Solid Edge part among them when at hand; the last rows give statuses that join
// notes of both kinds.
TEST(Browser, ComponentMarkTellsOfLossesNotOfApproximations)
{
    using qor::fixtures::XtVariant;
    QTemporaryDir dir;
    const auto write = [&dir](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return file.fileName();
    };
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape();
    struct Case {
        const char* name;
        QString path; // empty: the status is given
        QString status;
        bool marked;
    };
    std::vector<Case> cases = {
        {"sound file", write("ganz.x_b", qor::fixtures::xtFromShape(box)), {}, false},
        {"approximated torus",
         write("torus.x_b", qor::fixtures::xtFromShape(BRepPrimAPI_MakeTorus(0.02, 0.005).Shape(),
                                                       XtVariant::negativeTori)),
         {},
         false},
        {"two approximations",
         write("kanten.x_b", qor::fixtures::xtFromShape(box, XtVariant::halfedgeCurves)),
         {},
         false},
        {"a face left out",
         write("loch.x_b", qor::fixtures::xtFromShape(box, XtVariant::unsupportedSurface)),
         {},
         true},
        {"missing file", dir.filePath(QStringLiteral("fehlt.x_b")), {}, true},
        {"unreadable file", write("kaputt.x_b", "kein Parasolid"), {}, true},
        {"bodies left out beside an approximation",
         {},
         QStringLiteral("999 von 4.096 Körpern übernommen; Zitronen-Torus angenähert"),
         true},
        {"approximation beside a face left out",
         {},
         QStringLiteral("Einzelne Kanten neu angepasst; 1 von 6 Flächen ausgelassen"),
         true},
    };
    // Its reader builds some curves and edges another way, and leaves nothing out.
    const QString tripod = QStringLiteral(QOR_READER_FILES "/TripodCentre v23.par");
    if (QFile::exists(tripod))
        cases.push_back({"approximated real part", tripod, {}, false});
    qor::model::Document doc;
    for (const Case& c : cases) {
        qor::model::Component component;
        component.id = int(doc.components.size()) + 1;
        component.name = QString::fromUtf8(c.name);
        component.path = c.path;
        doc.components.push_back(component);
    }
    doc.nextId = int(doc.components.size()) + 1;
    doc.recompute();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (cases[i].path.isEmpty())
            doc.components[i].status = cases[i].status;
    }
    const BrowserEntry tree = qor::app::browserTree(doc, QString(), false);
    const auto group = std::find_if(tree.children.begin(), tree.children.end(), [](const auto& e) {
        return e.kind == qor::app::browserKind::componentGroup;
    });
    ASSERT_NE(group, tree.children.end());
    ASSERT_EQ(group->children.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const BrowserEntry& item = group->children[i];
        const QString status = doc.components[i].status;
        SCOPED_TRACE(std::string(c.name) + ": " + status.toStdString());
        // Every file but the sound one leaves a note, and the tool tip shows it.
        EXPECT_EQ(status.isEmpty(), i == 0);
        EXPECT_TRUE(item.toolTip.endsWith(status));
        EXPECT_EQ(item.icon == QStringLiteral("warning"), c.marked);
        EXPECT_EQ(item.tint == BrowserEntry::Tint::Warning, c.marked);
    }
}
