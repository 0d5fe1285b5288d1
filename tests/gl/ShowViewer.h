#pragma once

#include "view/Viewer.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace qor::test {

// Shows the view at the given size and waits until its OpenGL context is set up.
inline ::testing::AssertionResult showViewer(app::Viewer& viewer, int width, int height)
{
    viewer.resize(width, height);
    QSignalSpy started(&viewer, &app::Viewer::initialized);
    viewer.show();
    if (!QTest::qWaitForWindowExposed(&viewer))
        return ::testing::AssertionFailure() << "the view was never exposed";
    if (started.count() != 1 && !started.wait(5000))
        return ::testing::AssertionFailure() << "the view did not initialise";
    return ::testing::AssertionSuccess();
}

} // namespace qor::test
