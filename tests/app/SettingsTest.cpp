#include "app/Settings.h"

#include <gtest/gtest.h>

using namespace qor::app;

TEST(SettingsTest, RecentListKeepsTwelveMostRecentFirst)
{
    QStringList recent;
    for (int i = 1; i <= 13; ++i)
        recent = settings::withRecent(recent, QStringLiteral("/teile/%1.qcpart").arg(i));
    ASSERT_EQ(recent.size(), 12);
    EXPECT_EQ(recent.first(), "/teile/13.qcpart");
    EXPECT_EQ(recent.last(), "/teile/2.qcpart");

    recent = settings::withRecent(recent, QStringLiteral("/teile/7.qcpart"));
    EXPECT_EQ(recent.size(), 12);
    EXPECT_EQ(recent.first(), "/teile/7.qcpart");
    EXPECT_EQ(recent.count("/teile/7.qcpart"), 1);
}

TEST(SettingsTest, TextsOutsideTheChoicesFallBack)
{
    EXPECT_EQ(settings::navigationSchemeOf("fusion"), 1);
    EXPECT_EQ(settings::navigationSchemeOf("Fusion"), 0);
    EXPECT_EQ(settings::navigationSchemeOf(""), 0);
    EXPECT_FALSE(settings::touchpadRotatesFor("zoom"));
    EXPECT_TRUE(settings::touchpadRotatesFor("Zoom"));
    EXPECT_EQ(settings::glModeOf("software"), "software");
    EXPECT_EQ(settings::glModeOf("HARDWARE"), "auto");
}
