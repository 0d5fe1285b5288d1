#include "app/theme/Theme.h"

#include <gtest/gtest.h>

using qor::app::Theme;

TEST(Theme, RgbaWritesByteChannelsAndShortAlpha)
{
    EXPECT_EQ(Theme::rgba(QColor(0x00, 0xE5, 0xFF), 0.18), QStringLiteral("rgba(0,229,255,0.18)"));
    EXPECT_TRUE(Theme::rgba(QColor(10, 20, 30, 128), 1.0).endsWith(QStringLiteral(",1)")));
}
