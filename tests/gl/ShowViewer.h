#pragma once

#include "view/Viewer.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace qor::test {

// Shows a widget at the given size and waits until the view inside it has set up its
// OpenGL context; the widget is the view itself or a window holding it.
inline ::testing::AssertionResult showWithViewer(QWidget& shown, app::Viewer& viewer, int width,
                                                 int height)
{
    shown.resize(width, height);
    QSignalSpy started(&viewer, &app::Viewer::initialized);
    shown.show();
    if (!QTest::qWaitForWindowExposed(&shown))
        return ::testing::AssertionFailure() << "the window was never exposed";
    if (started.count() != 1 && !started.wait(5000))
        return ::testing::AssertionFailure() << "the view did not initialise";
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult showViewer(app::Viewer& viewer, int width, int height)
{
    return showWithViewer(viewer, viewer, width, height);
}

} // namespace qor::test
