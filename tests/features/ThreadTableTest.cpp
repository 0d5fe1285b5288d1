#include "features/ThreadTable.h"

#include <gtest/gtest.h>

using namespace qor::model;

// Sizes are found by their exact stored name only; texts use a decimal comma.
TEST(ThreadTable, ExactLookupAndGermanDesignations)
{
    const ThreadSpec* fine = findThread(QStringLiteral("M10x1.25"));
    ASSERT_NE(fine, nullptr);
    EXPECT_EQ(fine->pitch, 1.25);
    for (const char* missing : {"m10", "M10 ", "none", ""})
        EXPECT_EQ(findThread(QString::fromUtf8(missing)), nullptr) << missing;

    EXPECT_EQ(threadDisplayName(*fine), QStringLiteral("M10x1,25"));
    EXPECT_EQ(threadDesignation(*findThread("M12x1.5"), false, true, 12.5),
              QStringLiteral("M12x1,5-LH – 12,5 tief"));
    EXPECT_EQ(threadDesignation(*findThread("M8"), true, true, 99.0),
              QStringLiteral("M8-LH – durchgehend"));
    EXPECT_EQ(threadDesignation(*findThread("M4"), false, false, 7.999),
              QStringLiteral("M4 – 8 tief"));
    EXPECT_EQ(threadDesignation(*findThread("M2.5"), false, false, 3.125),
              QStringLiteral("M2,5 – 3,12 tief"));
}

TEST(ThreadTable, ChoicesPutTheExtraEntriesFirst)
{
    const int rows = int(threadTable().size());
    EXPECT_EQ(threadChoices(false, false).size(), rows);
    const QStringList both = threadChoices(true, true);
    ASSERT_EQ(both.size(), rows + 2);
    EXPECT_EQ(both[0], QStringLiteral("none=Benutzerdefiniert"));
    EXPECT_EQ(both[1], QStringLiteral("auto=Automatisch (aus Durchmesser)"));
    EXPECT_EQ(both[2], QStringLiteral("M1.6=M1,6"));
}
