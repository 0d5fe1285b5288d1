#include "app/MainWindow.h"
#include "app/shell/Browser.h"
#include "model/DocumentController.h"
#include "model/ShapeSignature.h"
#include "tests/gl/ShowViewer.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QSignalSpy>
#include <QTest>
#include <QTreeWidgetItemIterator>
#include <gtest/gtest.h>

using qor::app::MainWindow;

namespace {

constexpr int sketchKind = 7;

class SketchVisibilityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qor::test::showWithViewer(window, *window.viewer, 1280, 800));
    }

    QTreeWidgetItem* browserItem(int id)
    {
        for (QTreeWidgetItemIterator it(window.browser); *it; ++it) {
            if ((*it)->data(0, Qt::UserRole) == sketchKind
                && (*it)->data(0, Qt::UserRole + 1) == id)
                return *it;
        }
        return nullptr;
    }

    // The eye's tool tip offers the opposite of what the item shows.
    bool eyeOpen(int id) { return browserItem(id)->toolTip(1) == QStringLiteral("Ausblenden"); }

    bool inScene(int id)
    {
        for (const auto& [object, record] : window.scene->pickMap())
            if ((record.kind == 10 || record.kind == 11) && record.id == id)
                return true;
        return false;
    }

    void clickEye(int id)
    {
        QTreeWidgetItem* item = browserItem(id);
        window.browser->scrollToItem(item);
        const QRect cell = window.browser->visualItemRect(item);
        const QRect eye = window.browser->visualRect(window.browser->indexFromItem(item, 1));
        ASSERT_TRUE(eye.isValid()) << cell.y();
        QTest::mouseClick(window.browser->viewport(), Qt::LeftButton, {}, eye.center());
    }

    MainWindow window;
};

TEST_F(SketchVisibilityTest, EyeSceneAndToggleAgreeBeforeAndAfterAClick)
{
    window.createExample(QStringLiteral("flange"));
    qor::model::Document& document = *window.controller->document;
    const int consumed = document.features.front()->id; // the revolved profile
    qor::model::Feature* free = document.addSketch(qor::model::datumReferenceJson(-2));
    free->sketch->addLineAt(false, 0, 0, 30, 10);
    const int freeId = free->id;
    window.controller->commit(QStringLiteral("Skizze"));

    struct Case {
        int id;
        bool shownFirst;
        const char* firstStep;
    };
    for (const Case& c : {Case{consumed, false, "Einblenden"}, Case{freeId, true, "Ausblenden"}}) {
        SCOPED_TRACE(c.id);
        ASSERT_NE(browserItem(c.id), nullptr);
        EXPECT_EQ(eyeOpen(c.id), c.shownFirst);
        EXPECT_EQ(inScene(c.id), c.shownFirst);

        clickEye(c.id);
        EXPECT_EQ(window.controller->undoText(), QString::fromLatin1(c.firstStep));
        EXPECT_EQ(eyeOpen(c.id), !c.shownFirst);
        EXPECT_EQ(inScene(c.id), !c.shownFirst);

        clickEye(c.id);
        EXPECT_EQ(eyeOpen(c.id), c.shownFirst);
        EXPECT_EQ(inScene(c.id), c.shownFirst);
    }
}

} // namespace
