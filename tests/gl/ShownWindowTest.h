#pragma once

#include "app/MainWindow.h"
#include "model/DocumentController.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

// The real main window shown, with a fresh folder that file dialogs start in.
class ShownWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().setValue(QStringLiteral("lastDir"), dir.path());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void TearDown() override
    {
        window.controller->modified = false; // no save question when the fixture closes
    }

    QTemporaryDir dir;
    qor::app::MainWindow window;
};
