#include "app/SoftwareGl.h"
#include "ui/theme/Theme.h"
#include "tests/common/CpuBudget.h"
#include "tests/common/PrivateSettings.h"

#include <QApplication>
#include <gtest/gtest.h>

// The 3D view needs a real OpenGL surface: these tests run on xcb under Xvfb. Listing the
// tests (as CTest does while building, without a display) creates no application object.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    qor::test::budgetEachTest();
    qor::test::usePrivateSettingsFolders();
    // A test that starts this program again to see what the program's own start-up leaves
    // behind (the locale, say) asks for that start-up before the application object.
    if (qEnvironmentVariableIsSet("QOR_TEST_START_AS_PROGRAM"))
        qor::app::prepareStart(false);
    QApplication app(argc, argv);
    qor::app::Theme::instance().apply(app);
    return RUN_ALL_TESTS();
}
