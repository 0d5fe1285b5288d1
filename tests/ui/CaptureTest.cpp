#include "view/RenderCapture.h"

#include <QLabel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(CaptureTest, FailedScreenshotIsReportedAndExitsWithOne)
{
    QLabel widget(QStringLiteral("Ansicht"));
    widget.resize(120, 40);
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("fehlt/bild.png"));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(qor::app::saveWidgetImage(&widget, bad), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Fehler: Bild konnte nicht gespeichert werden: " + bad.toStdString() + "\n");

    const QString good = dir.filePath(QStringLiteral("bild.png"));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(qor::app::saveWidgetImage(&widget, good), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(QImage(good).size(), QSize(120, 40) * widget.devicePixelRatio());

    EXPECT_EXIT(qor::app::saveGrabAndExit(&widget, bad), ::testing::ExitedWithCode(1),
                "Bild konnte nicht gespeichert werden");
    // The screenshot run's exit: the grabbed window saved, status 0.
    EXPECT_EXIT(qor::app::saveImageAndExit(widget.grab().toImage(), good),
                ::testing::ExitedWithCode(0), "");
}

} // namespace
