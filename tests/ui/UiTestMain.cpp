#include "app/StartupOptions.h"
#include "tests/common/CpuBudget.h"
#include "tests/common/PrivateSettings.h"
#include "ui/theme/Theme.h"

#include <QApplication>
#include <gtest/gtest.h>

// Widget tests need one application object for the whole run, styled as the program is.
// Without a platform in the environment (as when CTest lists the tests) they run offscreen;
// tests that need OpenGL set QT_QPA_PLATFORM=xcb and run under Xvfb.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qor::test::usePrivateSettingsFolders();
    qor::app::preferGermanDatesWithoutSystemLocale();
    QApplication app(argc, argv);
    qor::app::Theme::instance().apply(app);
    ::testing::InitGoogleTest(&argc, argv);
    qor::test::budgetEachTest();
    return RUN_ALL_TESTS();
}
