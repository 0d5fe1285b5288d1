#include "app/MainWindow.h"
#include "app/shell/Browser.h"
#include "app/shell/Ribbon.h"
#include "io/ShapeText.h"
#include "model/Document.h"
#include "model/DocumentController.h"
#include "tests/fixtures/ManyBoxes.h"
#include "tests/gl/RibbonButtons.h"
#include "tests/gl/ShownWindowTest.h"
#include "tests/gl/ViewPixels.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidgetItemIterator>

#include <V3d_TypeOfOrientation.hxx>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>

namespace {

constexpr int boxCount = 1100;
const QString restText = QStringLiteral("Restliche Körper anzeigen");

// One way back to the bodies a cancelled display left out, taken in the window.
struct Way {
    const char* name;
    // Whether ten seconds pass first, in which the note of the cancel goes and a later note
    // takes its place and goes too.
    bool later;
    std::function<void(qor::app::MainWindow&)> take;
};

QTreeWidgetItem* firstLeftOutItem(qor::app::Browser& browser,
                                  const std::function<bool(int)>& leftOut)
{
    for (QTreeWidgetItemIterator it(&browser); *it; ++it) {
        if ((*it)->data(0, Qt::UserRole).toInt() == qor::app::browserKind::body
            && leftOut((*it)->data(0, Qt::UserRole + 1).toInt()))
            return *it;
    }
    return nullptr;
}

const Way ways[] = {
    {"RibbonButton", true,
     [](qor::app::MainWindow& window) {
         window.ribbon->setCurrentPage(window.checkPage);
         QToolButton* button = qor::test::buttonOf(*window.ribbon, restText);
         ASSERT_NE(button, nullptr);
         EXPECT_TRUE(button->isEnabled());
         button->click();
     }},
    {"ViewMenu", true,
     [](qor::app::MainWindow& window) {
         const std::unique_ptr<QMenu> menu(window.viewportMenu(qor::app::PickInfo{}));
         QAction* offered = nullptr;
         for (QAction* entry : menu->actions())
             offered = entry->text() == restText ? entry : offered;
         ASSERT_NE(offered, nullptr) << "the view's menu does not offer the rest";
         EXPECT_TRUE(offered->isEnabled());
         offered->trigger();
     }},
    {"BrowserEye", true,
     [](qor::app::MainWindow& window) {
         const auto leftOut = [&window](int id) { return window.scene->bodyObject(id).IsNull(); };
         QTreeWidgetItem* item = firstLeftOutItem(*window.browser, leftOut);
         ASSERT_NE(item, nullptr);
         window.browser->scrollToItem(item);
         const QPoint eye
             = window.browser->visualRect(window.browser->indexFromItem(item, 1)).center();
         QTest::mouseClick(window.browser->viewport(), Qt::LeftButton, {}, eye);
     }},
    // At once, with the note and its button still over the view.
    {"RibbonButtonAtOnce", false,
     [](qor::app::MainWindow& window) {
         window.ribbon->setCurrentPage(window.checkPage);
         QToolButton* button = qor::test::buttonOf(*window.ribbon, restText);
         ASSERT_NE(button, nullptr);
         button->click();
     }},
};

// A part of the boxes read as one file and split into a body each, saved at the path.
bool saveBoxes(const QString& path)
{
    qor::model::Document part;
    part.addFeature(QStringLiteral("import"),
                    {{"file", "kisten.step"},
                     {"brep", qor::io::shapeToBase64(qor::fixtures::manyBoxes(boxCount))},
                     {"split", true}});
    return part.save(path);
}

class CancelledDisplayTest : public ShownWindowTest, public ::testing::WithParamInterface<Way> {
protected:
    // A saved part of the boxes, one body each, opened with its display cancelled through the
    // window's own progress once a quarter of the boxes is reported.
    void openCancelled()
    {
        const QString path = dir.filePath(QStringLiteral("kisten.qcpart"));
        ASSERT_TRUE(saveBoxes(path));
        const std::function<bool(int, int)> windowProgress = window.scene->buildProgress;
        // The window's progress answers the click at its next report.
        window.scene->buildProgress = [&windowProgress, this](int done, int total) {
            const bool goOn = windowProgress(done, total);
            for (QProgressDialog* d : window.findChildren<QProgressDialog*>()) {
                if (done >= total / 4
                    && d->labelText() == QStringLiteral("Körper werden angezeigt …"))
                    d->findChild<QPushButton*>()->click();
            }
            return goOn;
        };
        const bool opened = window.openFile(path);
        window.scene->buildProgress = windowProgress;
        ASSERT_TRUE(opened);
    }

    int shownBodies() const
    {
        int shown = 0;
        for (const auto& [id, body] : window.controller->document->current.bodies.get())
            shown += window.scene->bodyObject(id).IsNull() ? 0 : 1;
        return shown;
    }

    // The eye tool tips of the browser's bodies, each with how many bodies show it.
    QMap<QString, int> bodyEyes() const
    {
        QMap<QString, int> eyes;
        for (QTreeWidgetItemIterator it(window.browser); *it; ++it) {
            if ((*it)->data(0, Qt::UserRole).toInt() == qor::app::browserKind::body)
                eyes[(*it)->toolTip(1)] += 1;
        }
        return eyes;
    }

    // Whether a left-out body's eye is drawn in the warning colour, unlike a shown one's.
    bool leftOutEyeStandsOut() const
    {
        const auto leftOut = [this](int id) { return window.scene->bodyObject(id).IsNull(); };
        QTreeWidgetItem* item = firstLeftOutItem(*window.browser, leftOut);
        if (item == nullptr)
            return false;
        const qor::app::Theme& theme = qor::app::Theme::instance();
        const QImage drawn = item->icon(1).pixmap(16, 16).toImage();
        const QImage warning
            = theme.icon(QStringLiteral("eye"), theme.warning).pixmap(16, 16).toImage();
        const QImage plain
            = theme.icon(QStringLiteral("eye"), theme.textDim).pixmap(16, 16).toImage();
        return drawn == warning && drawn != plain;
    }

    // The view's pixels the model covers, seen from above and fitted to what is shown.
    int coveredFromAbove(const QImage& empty)
    {
        window.viewer->setViewOrientation(V3d_Zpos, false);
        window.viewer->fitAll(false);
        return qor::test::changedPixels(empty, window.viewer->grabImage(400, 300));
    }

    QString toastText() const { return window.toast->findChild<QLabel*>()->text(); }

    // What the toast's own timer does when its time is up, without waiting for it.
    void letToastTimeRunOut()
    {
        window.toastTimer->start(0);
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window.toast->isVisible(); }));
    }
};

} // namespace

// After a display cancelled while a part opens, the rest can be shown at any time from a
// lasting place, the view's menu, the ribbon or the left-out body's eye in the browser, which
// says that the body is not shown: the view then shows every body, the eyes are plain again,
// the note of the cancel is gone, and the document is as unmodified as it was opened.
TEST_P(CancelledDisplayTest, TheRestCanBeShownLongAfterTheCancelWithoutModifying)
{
    const Way& way = GetParam();
    const QImage empty = window.viewer->grabImage(400, 300);
    openCancelled();
    ASSERT_TRUE(window.scene->buildCancelled());
    const int shown = shownBodies();
    ASSERT_GT(shown, 0);
    ASSERT_LT(shown, boxCount);
    ASSERT_TRUE(window.toast->isVisible());
    EXPECT_TRUE(toastText().startsWith(QStringLiteral("Anzeige abgebrochen: ")));
    const std::size_t steps = window.controller->history.size();
    ASSERT_FALSE(window.controller->modified);

    if (way.later) {
        letToastTimeRunOut();
        window.actions.value(QStringLiteral("asm_ground"))->trigger();
        EXPECT_EQ(toastText(),
                  QStringLiteral("Zuerst eine Komponente im Modell oder Browser wählen"));
        letToastTimeRunOut();
    }
    EXPECT_TRUE(window.actions.value(QStringLiteral("showrest"))->isEnabled());
    const QString leftOutEye = QStringLiteral(
        "Anzeige abgebrochen: nicht angezeigt – Klick zeigt die restlichen Körper");
    EXPECT_EQ(bodyEyes(), (QMap<QString, int>{{QStringLiteral("Ausblenden"), shown},
                                              {leftOutEye, boxCount - shown}}));
    EXPECT_TRUE(leftOutEyeStandsOut());
    const int coveredBefore = coveredFromAbove(empty);

    way.take(window);

    EXPECT_FALSE(window.scene->buildCancelled());
    EXPECT_EQ(shownBodies(), boxCount);
    EXPECT_FALSE(window.toast->isVisible()) << toastText().toStdString();
    EXPECT_FALSE(window.actions.value(QStringLiteral("showrest"))->isEnabled());
    EXPECT_EQ(bodyEyes(), (QMap<QString, int>{{QStringLiteral("Ausblenden"), boxCount}}));
    EXPECT_FALSE(window.controller->modified);
    EXPECT_EQ(window.controller->history.size(), steps);
    // Seen from above and fitted by the grid's width, the boxes cover the view in proportion
    // to their number.
    const double coveredAfter = coveredFromAbove(empty);
    EXPECT_GT(coveredAfter / coveredBefore, 0.9 * boxCount / shown)
        << coveredBefore << " then " << coveredAfter << " pixels";
    std::cout << shown << " boxes covered " << coveredBefore << " pixels, " << boxCount << " boxes "
              << coveredAfter << "\n";
}

INSTANTIATE_TEST_SUITE_P(Ways, CancelledDisplayTest, ::testing::ValuesIn(ways),
                         [](const testing::TestParamInfo<Way>& info) {
                             return std::string(info.param.name);
                         });

namespace {

class OpenedFileDisplayTest : public ShownWindowTest { };

// While the bodies of an opened file are being shown, the title and the browser already
// name that file, not the document that was open before.
TEST_F(OpenedFileDisplayTest, TitleAndBrowserNameTheFileWhileItsBodiesAreShown)
{
    const QString path = dir.filePath(QStringLiteral("kisten.qcpart"));
    ASSERT_TRUE(saveBoxes(path));
    ASSERT_FALSE(window.windowTitle().contains(QStringLiteral("kisten")));
    QStringList titles;
    QStringList roots;
    const std::function<bool(int, int)> windowProgress = window.scene->buildProgress;
    window.scene->buildProgress = [&](int done, int total) {
        titles << window.windowTitle();
        roots << (window.browser->topLevelItemCount() > 0 ? window.browser->topLevelItem(0)->text(0)
                                                          : QString());
        return windowProgress(done, total);
    };
    const bool opened = window.openFile(path);
    window.scene->buildProgress = windowProgress;
    ASSERT_TRUE(opened);
    ASSERT_FALSE(titles.isEmpty()) << "the bodies were shown without progress";
    EXPECT_TRUE(titles.first().startsWith(QStringLiteral("kisten")))
        << titles.first().toStdString();
    EXPECT_TRUE(roots.first().contains(QStringLiteral("kisten"))) << roots.first().toStdString();
}

} // namespace
