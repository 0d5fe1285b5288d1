#include "tests/common/CpuBudget.h"

#include <OSD.hxx>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Turn kernel faults into exceptions; floating-point traps stay off because
    // the model relies on NaN and infinity passing through silently.
    OSD::SetSignal(false);
    ::testing::InitGoogleTest(&argc, argv);
    qor::test::budgetEachTest();
    return RUN_ALL_TESTS();
}
