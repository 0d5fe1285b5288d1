#include "features/ThreadTable.h"

#include <gtest/gtest.h>

using namespace qor::model;

TEST(ThreadTable, RowsAndLookup)
{
    const std::vector<ThreadSpec>& table = threadTable();
    ASSERT_EQ(table.size(), 28u);
    EXPECT_STREQ(table.front().name, "M1.6");
    EXPECT_STREQ(table[18].name, "M36");
    EXPECT_STREQ(table.back().name, "M24x2");
    EXPECT_EQ(&threadTable(), &table);

    const ThreadSpec* fine = findThread(QStringLiteral("M10x1.25"));
    ASSERT_NE(fine, nullptr);
    EXPECT_EQ(fine, &table[21]);
    EXPECT_EQ(fine->pitch, 1.25);
    EXPECT_EQ(fine->tapDrill, 8.8);

    const ThreadSpec* m12 = findThread(QStringLiteral("M12"));
    ASSERT_NE(m12, nullptr);
    EXPECT_EQ(m12->pitch, 1.75);
    EXPECT_EQ(m12->clearance, 13.5);
    EXPECT_EQ(m12->csinkDiameter, 24.0);

    EXPECT_EQ(findThread(QStringLiteral("m10")), nullptr);
    EXPECT_EQ(findThread(QStringLiteral("M10 ")), nullptr);
    EXPECT_EQ(findThread(QStringLiteral("none")), nullptr);
    EXPECT_EQ(findThread(QString()), nullptr);
}

TEST(ThreadTable, DesignationTexts)
{
    EXPECT_EQ(threadDisplayName(*findThread("M1.6")), QStringLiteral("M1,6"));
    EXPECT_EQ(threadDisplayName(*findThread("M10x1.25")), QStringLiteral("M10x1,25"));
    EXPECT_EQ(threadDesignation(*findThread("M6"), false, false, 10.0),
              QStringLiteral("M6 – 10 tief"));
    EXPECT_EQ(threadDesignation(*findThread("M12x1.5"), false, true, 12.5),
              QStringLiteral("M12x1,5-LH – 12,5 tief"));
    EXPECT_EQ(threadDesignation(*findThread("M8"), true, true, 99.0),
              QStringLiteral("M8-LH – durchgehend"));
    EXPECT_EQ(threadDesignation(*findThread("M4"), false, false, 7.999),
              QStringLiteral("M4 – 8 tief"));
    EXPECT_EQ(threadDesignation(*findThread("M2.5"), false, false, 3.125),
              QStringLiteral("M2,5 – 3,12 tief"));
}

TEST(ThreadTable, ChoiceOptions)
{
    const QStringList hole = threadChoices(true, false);
    ASSERT_EQ(hole.size(), 29);
    EXPECT_EQ(hole.front(), QStringLiteral("none=Benutzerdefiniert"));
    EXPECT_EQ(hole[1], QStringLiteral("M1.6=M1,6"));
    EXPECT_EQ(hole.back(), QStringLiteral("M24x2=M24x2"));

    const QStringList thread = threadChoices(false, true);
    ASSERT_EQ(thread.size(), 29);
    EXPECT_EQ(thread.front(), QStringLiteral("auto=Automatisch (aus Durchmesser)"));
    EXPECT_EQ(thread[22], QStringLiteral("M10x1.25=M10x1,25"));

    EXPECT_EQ(threadChoices(false, false).size(), 28);
    const QStringList both = threadChoices(true, true);
    ASSERT_EQ(both.size(), 30);
    EXPECT_EQ(both[1], QStringLiteral("auto=Automatisch (aus Durchmesser)"));
}
