#include "app/CommandLine.h"
#include "app/Examples.h"
#include "app/MainWindow.h"
#include "app/StartupOptions.h"
#include "drawing/window/DrawingWindow.h"
#include "model/DocumentController.h"
#include "tests/common/WhenShown.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using qor::app::MainWindow;
using qor::test::whenShown;

namespace {

class MainWindowDrawingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    MainWindow window;
};

TEST_F(MainWindowDrawingTest, ReplacingTheDocumentClosesTheDrawingWindow)
{
    const std::vector<std::function<void()>> replacements{
        [this] { window.controller->newDocument(); },
        [this] { window.createExample(QStringLiteral("flange")); }};
    for (const auto& replace : replacements) {
        window.createExample(QStringLiteral("bracket"));
        QPointer<qor::app::DrawingWindow> drawing = window.openDrawing();
        ASSERT_TRUE(drawing);
        EXPECT_EQ(window.controller->document->drawings.size(), 1u);
        replace();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(drawing);
        EXPECT_TRUE(window.controller->document->drawings.empty());
    }
}

TEST_F(MainWindowDrawingTest, DrawingCommandNeedsBodies)
{
    window.actions.value(QStringLiteral("drawing"))->trigger();
    EXPECT_TRUE(window.findChildren<qor::app::DrawingWindow*>().isEmpty());
    EXPECT_TRUE(window.toast->isVisible());
    const QLabel* text = window.toast->findChild<QLabel*>(QStringLiteral("ToastText"));
    EXPECT_EQ(text->text(), QStringLiteral("Es gibt noch keine Körper für eine Zeichnung"));
}

// --drawing adds automatic dimensions to a sheet without any and keeps manual ones.
TEST_F(MainWindowDrawingTest, StartupDrawingDimensionsOnlyAnEmptySheet)
{
    for (bool manual : {false, true}) {
        window.createExample(QStringLiteral("bracket"));
        qor::app::Drawing sheet;
        if (manual) {
            sheet.views.push_back({.id = 1, .type = 0, .x = 150, .y = 200});
            sheet.dims.push_back({.id = 7, .view = 1, .kind = 1, .a = {0, 0}, .b = {0, 30}});
            sheet.nextId = 8;
        }
        window.controller->document->drawings = {sheet};
        window.controller->commit(QStringLiteral("Blatt"));

        qor::app::CommandLine commandLine;
        commandLine.parser.parse({QStringLiteral("qorcad"), QStringLiteral("--drawing")});
        qor::app::handleStartupOptions(commandLine, window);
        const auto& dims = window.controller->document->drawings.at(0).dims;
        if (manual) {
            ASSERT_EQ(dims.size(), 1u);
            EXPECT_EQ(dims[0].id, 7);
        } else {
            EXPECT_GE(dims.size(), 5u);
        }
        for (auto* drawing : window.findChildren<qor::app::DrawingWindow*>())
            delete drawing;
    }
}

// Opening the drawing arranges a sheet without views; that is no edit of the user's. A saved
// part stays unmodified through opening and closing its drawing, so Strg+N asks nothing; an
// example is unsaved work and still asks.
TEST_F(MainWindowDrawingTest, OpeningTheDrawingLeavesASavedPartUnmodified)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Lagerbock.qcpart"));
    for (const bool saved : {true, false}) {
        SCOPED_TRACE(saved ? "saved part" : "example");
        window.createExample(QStringLiteral("bracket"));
        if (saved) {
            ASSERT_TRUE(window.controller->saveAs(path));
            ASSERT_TRUE(window.openFile(path));
            ASSERT_FALSE(window.controller->modified);
        }
        window.actions.value(QStringLiteral("drawing"))->trigger();
        QPointer<qor::app::DrawingWindow> drawing = window.findChild<qor::app::DrawingWindow*>();
        ASSERT_TRUE(drawing);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(drawing));
        EXPECT_EQ(window.controller->document->drawings.at(0).views.size(), 4u);
        drawing->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_FALSE(drawing);
        EXPECT_EQ(window.controller->modified, !saved);
        EXPECT_EQ(window.windowTitle().contains(QStringLiteral(" *")), !saved);

        QObject watching; // the watch ends with the case, asked or not
        const auto asked = whenShown<QMessageBox>(
            [](QMessageBox* box) { box->button(QMessageBox::Discard)->click(); }, &watching);
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
        QTest::qWait(200);
        EXPECT_EQ(*asked, !saved);
        EXPECT_TRUE(window.controller->document->features.empty()) << "Strg+N made a new part";
    }
}

} // namespace
